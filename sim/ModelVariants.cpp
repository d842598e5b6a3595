#include "ModelVariants.h"

#include <sstream>
#include <stdexcept>

namespace tarnix {
namespace sim {

const std::vector<ModelVariant>& modelVariants() {
    // Together they reach every record version and board variant the host
    // handles: PLL versions 1 to 3, demodulator versions 1 and 2, one and two
    // signal inputs, both gain modes, hardware revisions 3 and 4 (the rule
    // between square waves and the 10 V range), amplifiers on the KCtrl ports
    // or none, one and several CPUs, more PID controllers than four.
    static const std::vector<ModelVariant> variants = [] {
        std::vector<ModelVariant> v(3);
        v[0].name = "standard";
        v[0].summary = "2 signal inputs, demodulators v2, PLLs v1, hardware revision 0 (gain formula), no amplifiers, "
                       "1 CPU, 4 PID controllers";
        v[1].name = "single-input";
        v[1].summary = "1 signal input, demodulators v1, PLLs v2, hardware revision 3 (gain tables), TAMP on KCtrl "
                       "port 0 and CAMP on port 1, 1 CPU, 4 PID controllers";
        v[1].signalInputs = 1;
        v[1].demodsVersion = 1;
        v[1].pllVersion = 2;
        v[1].hardwareRevision = 3;
        v[1].kctrlPorts = {{kTransimpedanceAmplifier, kCurrentAmplifier}};
        v[2].name = "multi-cpu";
        v[2].summary = "2 signal inputs, demodulators v2, PLLs v3, hardware revision 4 (gain tables), no amplifiers, "
                       "2 CPUs, 6 PID controllers";
        v[2].pllVersion = 3;
        v[2].hardwareRevision = 4;
        v[2].cpus = 2;
        v[2].pidControllers = 6;
        return v;
    }();
    return variants;
}

const ModelVariant& modelVariant(const std::string& name) {
    std::string known;
    for (const ModelVariant& v : modelVariants()) {
        if (v.name == name) return v;
        known += (known.empty() ? "" : ", ") + v.name;
    }
    throw std::invalid_argument("unknown model " + name + " (known: " + known + ")");
}

std::string modelVariantHelp() {
    std::ostringstream text;
    text << "Models (--model):\n";
    for (const ModelVariant& v : modelVariants()) text << "  " << v.name << ": " << v.summary << "\n";
    return text.str();
}

}  // namespace sim
}  // namespace tarnix
