#include "platform/process/InstanceLock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace tarnix {
namespace platform {
namespace {

std::string uniqueName(const char* what) {
    return std::string("qv-test-") + what + "-" + std::to_string(::getpid());
}

TEST(InstanceLock, SecondHolderLearnsTheNameExistsUntilTheFirstLetsGo) {
    const std::string name = uniqueName("guard");
    {
        InstanceLock first(name);
        ASSERT_FALSE(first.failed());
        EXPECT_TRUE(first.created());

        InstanceLock second(name);
        EXPECT_FALSE(second.failed());
        EXPECT_FALSE(second.created());

        InstanceLock other(name + "-other");
        EXPECT_TRUE(other.created());
    }
    InstanceLock again(name);
    EXPECT_TRUE(again.created());
}

TEST(InstanceLock, CloseReleasesTheNameAtOnce) {
    const std::string name = uniqueName("close");
    InstanceLock first(name);
    ASSERT_TRUE(first.created());
    EXPECT_TRUE(first.close());
    EXPECT_TRUE(first.close());
    InstanceLock second(name);
    EXPECT_TRUE(second.created());
}

TEST(InstanceLock, OnlyTheEnvironmentOverrideReplacesTheFixedName) {
    const char* fixed = "Global\\qvServerExclusive";
    ::unsetenv(kInstanceNameOverrideVariable);
    EXPECT_EQ(InstanceLock::effectiveName(fixed), fixed);
    ::setenv(kInstanceNameOverrideVariable, "", 1);
    EXPECT_EQ(InstanceLock::effectiveName(fixed), fixed);
    ::setenv(kInstanceNameOverrideVariable, "qv-test-override", 1);
    EXPECT_EQ(InstanceLock::effectiveName(fixed), "qv-test-override");
    ::unsetenv(kInstanceNameOverrideVariable);
}

}  // namespace
}  // namespace platform
}  // namespace tarnix
