// Oscillator and demodulator settings written over the text protocol reach
// simulated instruments (demodulators of feature versions 2 and 1), and their
// demodulator samples reach a subscriber.
#include "server/DeviceE2ESupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tarnix {
namespace {

using namespace std::chrono_literals;
using test::addLine;

class SignalEndToEnd : public test::DeviceServerFixture {
protected:
    std::string ask(const std::string& command) { return test::ask(*probe_, command + "\n", "\n"); }
};

TEST_F(SignalEndToEnd, OscillatorFrequencyReachesTheDemodulatorStream) {
    auto instrument = plug(1401);
    ASSERT_TRUE(trees_->waitFor(addLine(1401), 15s)) << trees_->received() << output();
    EXPECT_EQ(ask("ls /dev1401/demods/0"),
              "ADCSELECT\nORDER\nTIMECONSTANT\nRATE\nTRIGGER\nOSCSELECT\nHARMONIC\nPHASESHIFT\nSINC\nSAMPLE\n");
    // The instrument's own settings replaced the placeholders: no output yet.
    EXPECT_EQ(ask("/dev1401/demods/0/rate ?"), "/DEV1401/DEMODS/0/RATE: 0.000000\r\n");

    ask("/dev1401/oscs/1/freq 1000000");
    EXPECT_EQ(ask("/dev1401/oscs/1/freq ?"), "/DEV1401/OSCS/1/FREQ: 1000000.00000\r\n");
    ask("/dev1401/demods/0/oscselect 1");
    ask("/dev1401/demods/0/harmonic 2");
    ask("/dev1401/demods/0/adcselect 2");  // an aux input: its samples need no gain table
    EXPECT_EQ(ask("/dev1401/demods/0/rate 100"), "/DEV1401/DEMODS/0/RATE: 112.433183\r\n");

    // The simulator builds its samples from the registers the server wrote.
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev1401/demods/0/sample\n"));
    // X: a quarter of full scale of an aux input; F: the oscillator at harmonic 2.
    EXPECT_TRUE(subscriber->waitFor(", X=0.5614035088, Y=0.0000000000, F=2000000.00000, Phi=", 10s))
        << subscriber->received() << outputOfTest();
    EXPECT_EQ(subscriber->received().rfind("/DEV1401/DEMODS/0/SAMPLE:", 0), 0u) << subscriber->received();
    // The samples come at the set rate: their times one step of the divider
    // (16384 x 114 ticks of 210 MHz) apart.
    for (const auto end = std::chrono::steady_clock::now() + 10s;
         test::occurrences(subscriber->received(), "TS=") < 6 && std::chrono::steady_clock::now() < end;)
        subscriber->waitFor("\x01 more lines", 50ms);
    ASSERT_GE(test::occurrences(subscriber->received(), "TS="), 6u) << subscriber->received();
    std::vector<double> times;
    const std::string text = subscriber->received();
    for (std::size_t at = text.find("TS="); at != std::string::npos; at = text.find("TS=", at + 3))
        times.push_back(std::strtod(text.c_str() + at + 3, nullptr));
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_NEAR(times[i] - times[i - 1], 16384 * 114 / 210e6, 2e-9) << text;

    ASSERT_TRUE(subscriber->send("unsubs /dev1401/demods/0/sample\n"));
    ask("/dev1401/demods/0/rate 0");
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(test::removeLine(1401), 10s)) << trees_->received();
}

// Demodulators of feature version 1: the input is fixed by the demodulator's
// index; demodulator 0 listens to signal input 0 with oscillator 0.
TEST_F(SignalEndToEnd, VersionOneDemodulatorsStreamFromTheirFixedInputAndOscillator) {
    auto instrument = plug(1402, {"--model", "single-input"});
    ASSERT_TRUE(trees_->waitFor(addLine(1402), 15s)) << trees_->received() << output();
    EXPECT_EQ(ask("/dev1402/demods/3/adcselect ?"), "/DEV1402/DEMODS/3/ADCSELECT: 1\r\n");

    ask("/dev1402/sigins/0/range 1");  // a gain-table entry of 1 V: the samples in volts as they come
    ask("/dev1402/oscs/0/freq 1000000");
    EXPECT_EQ(ask("/dev1402/demods/0/rate 100"), "/DEV1402/DEMODS/0/RATE: 112.433183\r\n");
    auto subscriber = test::greetedClient(server_->port());
    ASSERT_TRUE(subscriber->send("subs /dev1402/demods/0/sample\n"));
    EXPECT_TRUE(subscriber->waitFor(", X=0.5614035088, Y=0.0000000000, F=1000000.00000, Phi=", 10s))
        << subscriber->received() << outputOfTest();

    ASSERT_TRUE(subscriber->send("unsubs /dev1402/demods/0/sample\n"));
    ask("/dev1402/demods/0/rate 0");
    instrument->unplug();
    EXPECT_TRUE(trees_->waitFor(test::removeLine(1402), 10s)) << trees_->received();
}

}  // namespace
}  // namespace tarnix
