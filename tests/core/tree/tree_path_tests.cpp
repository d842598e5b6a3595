#include "TreeTestSupport.h"

#include "core/tree/PathResolution.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace tarnix {
namespace {

using test::ScopedTree;

std::vector<std::string> paths(const TreeRegistry& registry, const NodeSet& set) {
    std::vector<std::string> out;
    for (const auto& node : set) out.push_back("/" + NodePathFrom(node, registry.root()));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> resolve(TreeRegistry& registry, const std::string& base, const std::string& path) {
    NodeSet result;
    DispatcherResolvePathList(registry, result, base, path);
    return paths(registry, result);
}

// QV, DEV99 (two demodulators) and DEV1234 (four).
class PathResolution : public ::testing::Test {
protected:
    TreeRegistry registry;
    ScopedTree server_{registry, TreeId::server(), [](const DispatcherTreeLock& lock) {
                           lock.getNode()->setName("QV");
                           test::addLeaf(lock.getTree(), lock.getNode(), "CLOCKBASE");
                       }};
    ScopedTree small_{registry, TreeId::device(99),
                      [](const DispatcherTreeLock& lock) { test::buildDemoDevice(lock, 2); }};
    ScopedTree device_{registry, TreeId::device(1234)};
};

struct ResolveCase {
    const char* base;
    const char* path;
    std::vector<std::string> expected;
};

const std::vector<std::string> kNone;
const std::vector<std::string> kTimeConstant0{"/DEV1234/DEMODS/0/TIMECONSTANT"};
const std::vector<std::string> kDemods{"/DEV1234/DEMODS"};
const std::vector<std::string> kInstance0{"/DEV1234/DEMODS/0"};
const std::vector<std::string> kRates{"/DEV1234/DEMODS/0/RATE", "/DEV1234/DEMODS/1/RATE", "/DEV1234/DEMODS/2/RATE",
                                      "/DEV1234/DEMODS/3/RATE"};

TEST_F(PathResolution, ResolvesPathsAsClientsWriteThem) {
    const ResolveCase cases[] = {
        {"", "", {"/"}},
        {"", "   ", {"/"}},
        {" \t", "", {"/"}},
        {"", "/", {"/"}},
        {"", "/..", kNone},
        {"", "..", kNone},
        {"", ".", {"/"}},
        {"", "dev1234/DEMODS/0/TimeConstant", kTimeConstant0},
        {"", "/DEV1234/demods/0/timeconstant", kTimeConstant0},
        {"", "/dev1234//demods", kDemods},
        {"", "/dev1234/demods/", kDemods},
        {"", "/1234/demods", kDemods},
        {"", "/dev1234/demods/*/rate", kRates},
        {"", "/dev*", {"/DEV1234", "/DEV99"}},
        {"", "/*", {"/DEV1234", "/DEV99", "/QV"}},
        {"", "/dev1234/demods/0/rate  /dev1234/demods/*/rate ", kRates},
        {"", "/dev1234/demods/-0", kInstance0},
        {"", "/dev1234/demods/00", kInstance0},
        {"", "/dev1234/demods/4", kNone},
        {"", "/dev1234/demods/0/time*", kTimeConstant0},
        {"", "/dev1234/demods/0/timeconstant*", kNone},
        {"", "/dev1234/demods/0/t*e*t", kTimeConstant0},
        {"", "/dev1234\t/demods", kNone},
        {"", "/nothing/demods", kNone},
        {"", "/dev1234/demods/0/rate/..", kInstance0},
        {"", "/dev*/demods/1/sample", {"/DEV1234/DEMODS/1/SAMPLE", "/DEV99/DEMODS/1/SAMPLE"}},
        {"/dev1234/demods", "0/timeconstant", kTimeConstant0},
        {"/dev1234/demods", "../sigins/0/range", {"/DEV1234/SIGINS/0/RANGE"}},
        {"/dev1234/demods", "/qv/clockbase", {"/QV/CLOCKBASE"}},
        {"/dev1234/demods", "", kDemods},
        {"/dev1234/demods", ".", kDemods},
        {"/dev*", "demods/1", {"/DEV1234/DEMODS/1", "/DEV99/DEMODS/1"}},
        {"/nothing", "demods", kNone},
    };
    for (const ResolveCase& c : cases)
        EXPECT_EQ(c.expected, resolve(registry, c.base, c.path)) << "base '" << c.base << "' path '" << c.path << "'";
}

TEST_F(PathResolution, ABasePathThatSelectsNothingAnyMoreCountsAsTheRoot) {
    const ResolveCase cases[] = {
        {"/nothing", "/qv/clockbase", {"/QV/CLOCKBASE"}},
        {"/nothing", "/", {"/"}},
        {"/nothing", "", {"/"}},
        {"/nothing/demods", "dev99/demods/0 /dev1234/demods/0", {"/DEV1234/DEMODS/0", "/DEV99/DEMODS/0"}},
        {"/nothing", "..", kNone},
    };
    for (const ResolveCase& c : cases) {
        NodeSet result;
        EXPECT_FALSE(DispatcherResolvePathList(registry, result, c.base, c.path));
        EXPECT_EQ(c.expected, paths(registry, result)) << "base '" << c.base << "' path '" << c.path << "'";
    }
    NodeSet result;
    EXPECT_TRUE(DispatcherResolvePathList(registry, result, "", "/nothing"));
    EXPECT_TRUE(DispatcherResolvePathList(registry, result, "/dev1234/demods", "/nothing"));
    EXPECT_TRUE(result.empty());
}

TEST_F(PathResolution, NumericSegmentFindsDevicesWithSerialsAbove2To31) {
    ScopedTree high(registry, TreeId::device(3000000000u), nullptr);
    EXPECT_EQ(std::vector<std::string>{"/DEV3000000000"}, resolve(registry, "", "/3000000000"));
    EXPECT_EQ(std::vector<std::string>{"/DEV3000000000"}, resolve(registry, "", "/dev3000000000"));
}

TEST_F(PathResolution, PathsOfNodes) {
    NodeSet set;
    DispatcherResolvePathList(registry, set, "", "/dev1234/demods/0/timeconstant");
    ASSERT_EQ(1u, set.size());
    const TreeNode::Ptr leaf = *set.begin();
    EXPECT_EQ("/DEV1234/DEMODS/0/TIMECONSTANT", DispatcherGetNodePath(registry, leaf));
    EXPECT_EQ("/", DispatcherGetNodePath(registry, registry.root()));
    EXPECT_EQ("", NodePathFrom(leaf, leaf));
    EXPECT_EQ("0/TIMECONSTANT", NodePathFrom(leaf, leaf->getParent()->getParent()));
    EXPECT_EQ("TIMECONSTANT", DispatcherGetNodeName(registry, leaf));
}

TEST_F(PathResolution, CountsNodesWithEndpoints) {
    NodeSet set;
    DispatcherResolvePathList(registry, set, "", "/dev1234/demods/0/* /dev1234/demods /dev99/demods/1/rate");
    EXPECT_EQ(5u, set.size());
    EXPECT_EQ(4u, NodeSetCountEndpoints(set));
}

struct WildcardCase {
    const char* name;
    const char* pattern;
    bool match;
};

TEST(WildcardMatch, FollowsThePathRules) {
    const WildcardCase cases[] = {
        {"TIMECONSTANT", "TIME*", true}, {"TIME", "TIME*", false},  {"AB", "A*B", true},
        {"ANYTHING", "*", true},         {"", "*", false},          {"", "", true},
        {"RATE", "rate", true},          {"RATE", "RAT", false},    {"RAT", "RATE", false},
        {"AXB", "A*B*", false},          {"AXBY", "A*B*", true},    {"ABAB", "*AB", true},
        {"A", "**", true},               {"AB", "A**", true},       {"A", "A**", false},
        {"TIMECONSTANT", "t*e*t", true}, {"\xC3\xA4", "\xC3\x84", false}, {"[", "{", false},
        {"DEV1234", "DEV*4", true},      {"DEV1234", "*12*", true}, {"DEV1234", "DEV*5", false},
    };
    for (const WildcardCase& c : cases)
        EXPECT_EQ(c.match, wildcardMatch(c.name, c.pattern)) << c.name << " ~ " << c.pattern;
}

TEST(WildcardMatch, HostilePatternsStayCheap) {
    const std::string name(255, 'A');
    const std::string pattern = "*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wildcardMatch(name, pattern));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

struct IndexCase {
    const char* segment;
    bool ok;
    int32_t value;
};

TEST(ParseIndex, ReadsDecimalSegmentsAsIndexWords) {
    const IndexCase cases[] = {
        {"0", true, 0},
        {"00", true, 0},
        {"-0", true, 0},
        {"1234", true, 1234},
        {"-5", true, -5},
        {"5-", true, -5},
        {" 12", true, 12},
        {"", true, 0},
        {"--1", false, 0},
        {"- 1", false, 0},
        {"1a", false, 0},
        {"*", false, 0},
        {"2147483647", true, 2147483647},
        {"2147483648", true, std::numeric_limits<int32_t>::min()},
        {"-2147483648", true, std::numeric_limits<int32_t>::min()},
        {"3000000000", true, int32_t(3000000000u - 4294967296ll)},
        {"4294967295", true, -1},
        {"4294967296", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const IndexCase& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(c.ok, parseIndex(c.segment, value)) << c.segment;
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.segment;
        }
    }
}

}  // namespace
}  // namespace tarnix
