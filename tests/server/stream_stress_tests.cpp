// Streaming under stress, end to end: six demodulators of a simulated
// instrument at their highest rate (each feed's memory goes round several
// times a second) to one and to ten binary clients that check every message.
// No message may arrive broken or altered; the samples lost are reported.
// Slower under the sanitizers, where it looks for races instead.
#include "DeviceE2ESupport.h"
#include "groups/DemodsRate.h"
#include "support/Sanitizers.h"
#include "support/StreamClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

namespace tarnix {
namespace {

using namespace std::chrono_literals;

class StreamStress : public test::DeviceServerFixture, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(StreamStress, EveryMessageArrivesWholeAtTheHighestRate) {
    // Ten clients are more than a ThreadSanitizer build serves on a busy machine.
    const uint32_t clients = test::kSanitizerBuild ? std::min(GetParam(), 3u) : GetParam();
    const uint32_t demods = test::kSanitizerBuild ? 2 : 6;
    // What a ThreadSanitizer build carries to ten clients on a busy machine.
    const double rate = test::kSanitizerBuild ? 57565.8 : 921052.6;
    // Long enough that each feed's memory goes round a few hundred times.
    const auto window = test::kSanitizerBuild ? 10s : 20s;
    const uint64_t step = 114 * uint64_t(DemodDividerOfRate(rate));
    const uint32_t serial = 3300 + clients;

    auto simulator = plug(serial, {"--running"});
    ASSERT_TRUE(trees_->waitFor(test::addLine(serial), 30s)) << trees_->received();
    const std::string demodsPath = "/dev" + std::to_string(serial) + "/demods/";
    for (uint32_t d = 0; d < demods; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate " + std::to_string(rate) + "\n", "/RATE: ");

    std::vector<std::unique_ptr<test::StreamClient>> readers;
    for (uint32_t i = 0; i < clients; ++i) {
        readers.push_back(std::make_unique<test::StreamClient>(step));
        std::string why;
        ASSERT_TRUE(readers.back()->start(server_->port(), demodsPath + "*/sample", why)) << why;
    }
    for (const auto& reader : readers)
        ASSERT_TRUE(test::waitUntil([&] { return reader->counts().received > 0; }, 20s)) << reader->counts().fault;
    const auto anyBroken = [&] {
        for (const auto& reader : readers)
            if (reader->counts().broken) return true;
        return false;
    };
    // Ends early at the first broken message.
    test::waitUntil(anyBroken, window);
    for (const auto& reader : readers) reader->stop();
    for (uint32_t d = 0; d < demods; ++d)
        test::ask(*probe_, demodsPath + std::to_string(d) + "/rate 0\n", "/RATE: ");
    // The next test begins without this instrument's removal on its way.
    simulator.reset();
    EXPECT_TRUE(trees_->waitFor("/QV/TREES: remove DEV" + std::to_string(serial), 30s)) << trees_->received();

    for (uint32_t i = 0; i < clients; ++i) {
        const test::StreamClient::Counts counts = readers[i]->counts();
        EXPECT_EQ(counts.broken, 0u) << "client " << i << " of " << clients << ", after " << counts.received
                                     << " samples: " << counts.fault;
        // Loss depends on the host keeping up; it is reported, not judged.
        std::cout << "client " << i << ": " << counts.received << " samples, " << counts.lost << " lost\n";
    }
    if (HasFailure()) std::cout << "qvServer output of this test:\n" << outputOfTest();
}

INSTANTIATE_TEST_SUITE_P(Clients, StreamStress, ::testing::Values(1u, 10u));

}  // namespace
}  // namespace tarnix
