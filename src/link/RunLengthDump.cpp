#include "link/RunLengthDump.h"

#include <cstdio>

namespace tarnix {

namespace {

constexpr unsigned kMaxRun = 255;
constexpr unsigned kPairsPerLine = 10;
constexpr const char* kLineBreak = "\n               ";

class PairWriter {
public:
    explicit PairWriter(std::string& out) : out_(out) {}

    void write(unsigned run, unsigned value) {
        if (pairs_ > 0) {
            out_ += ' ';
            if (pairs_ % kPairsPerLine == 0) out_ += kLineBreak;
        }
        char pair[5];
        std::snprintf(pair, sizeof pair, "%02x%02x", run, value);
        out_ += pair;
        ++pairs_;
    }

private:
    std::string& out_;
    std::size_t pairs_ = 0;
};

}  // namespace

std::string runLengthDump(const uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size / kMaxRun * 5 + 64);
    PairWriter writer(out);
    unsigned value = 0;
    unsigned run = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == value && run < kMaxRun) {
            ++run;
            continue;
        }
        writer.write(run, value);
        value = data[i];
        run = 1;
    }
    writer.write(run, value);
    return out;
}

}  // namespace tarnix
