#include "core/QVException.h"
#include "core/component/ExceptionCarrier.h"
#include "platform/thread/ThreadName.h"

#include "ComponentProbe.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace tarnix {
namespace {

using exception::ExceptionCarrier;
using test::Probe;
using test::ProbeImpl;
using test::waitUntil;

TEST(ComponentTest, StoppedBeforeStartNeverRuns) {
    ExceptionCarrier carrier;
    Probe probe("Early", carrier);
    probe.stop();
    probe.start();
    // A thread that start() had begun would count as not finished until it
    // had called pre(): checked in this order, nothing needs a wait.
    EXPECT_TRUE(probe.isFinished());
    EXPECT_EQ(0, probe.impl().preCalls.load());
    EXPECT_FALSE(probe.isIllegal());
}

TEST(ComponentTest, PreOnceThenRunUntilStoppedOnANamedThread) {
    ExceptionCarrier carrier;
    std::mutex nameMutex;
    std::string threadName;
    Probe probe("ComponentWithALongName", carrier, {}, [&](ProbeImpl&) {
        std::lock_guard<std::mutex> lock(nameMutex);
        threadName = platform::currentThreadName();
    });
    EXPECT_TRUE(probe.isFinished());
    probe.start();
    probe.start();  // a second start neither blocks nor starts a second thread
    ASSERT_TRUE(waitUntil([&] { return probe.impl().runs.load() > 5; }));
    EXPECT_FALSE(probe.isFinished());
    EXPECT_TRUE(probe.impl().isRunning());

    probe.stop();
    EXPECT_FALSE(probe.impl().isRunning());
    ASSERT_TRUE(waitUntil([&] { return probe.isFinished(); }));
    EXPECT_EQ(1, probe.impl().preCalls.load());
    EXPECT_FALSE(probe.isIllegal());
    std::lock_guard<std::mutex> lock(nameMutex);
    EXPECT_EQ("ComponentWithAL", threadName);
}

TEST(ComponentTest, ParentStopsAndDropsFailedChildWhileSiblingRuns) {
    ExceptionCarrier carrier;
    auto parent = std::make_shared<Probe>("Parent", carrier);
    parent->start();
    auto failing = std::make_shared<Probe>("Failing", carrier, [](ProbeImpl& self) {
        if (self.runs > 3) QV_THROW(QVException("child failed"));
    });
    auto sibling = std::make_shared<Probe>("Sibling", carrier);
    std::atomic<bool> failingDestroyed{false};
    failing->impl().onDestroy = [&] { failingDestroyed = true; };
    parent->impl().addChild(failing);  // starts it
    parent->impl().addChild(sibling);
    failing.reset();

    boost::exception_ptr out;
    ASSERT_TRUE(waitUntil([&] { return carrier.take(out); }));
    ASSERT_TRUE(waitUntil([&] { return parent->impl().childCount() == 1; }));
    // The parent's thread lets the dropped child go just after the list shrank.
    EXPECT_TRUE(waitUntil([&] { return failingDestroyed.load(); }));
    EXPECT_EQ(sibling, parent->impl().children().front());

    const int before = sibling->impl().runs.load();
    ASSERT_TRUE(waitUntil([&] { return sibling->impl().runs.load() > before + 3; }));
    EXPECT_FALSE(parent->isIllegal());

    parent->stop();
    ASSERT_TRUE(waitUntil([&] { return parent->isFinished(); }));
    EXPECT_TRUE(sibling->isFinished());
}

TEST(ComponentTest, ParentIsNotFinishedWhileAChildStillRuns) {
    ExceptionCarrier carrier;
    std::atomic<bool> release{false};
    Probe parent("Parent", carrier);
    auto child = std::make_shared<Probe>("Blocked", carrier, [&](ProbeImpl&) {
        // Bounded so that a test that fails before the release still ends.
        EXPECT_TRUE(waitUntil([&] { return release.load(); }, std::chrono::seconds(30))) << "never released";
    });
    parent.impl().appendChildren({child});
    parent.start();
    ASSERT_TRUE(waitUntil([&] { return child->impl().runs.load() > 0; }));

    parent.stop();
    ASSERT_TRUE(waitUntil([&] { return parent.impl().thread()->isFinished(); }));
    EXPECT_FALSE(parent.isFinished());
    release = true;
    ASSERT_TRUE(waitUntil([&] { return parent.isFinished(); }));
}

// A listener accepting a client while the server stops adds a session after
// the stop has walked the children: the stopped parent must not wait for it.
TEST(ComponentTest, AChildAddedAfterTheStopIsStoppedToo) {
    ExceptionCarrier carrier;
    Probe parent("Parent", carrier);
    parent.start();
    parent.stop();
    auto added = std::make_shared<Probe>("Added", carrier);
    auto appended = std::make_shared<Probe>("Appended", carrier);
    appended->start();
    parent.impl().addChild(added);
    parent.impl().appendChildren({appended});
    EXPECT_FALSE(added->impl().isRunning());
    EXPECT_FALSE(appended->impl().isRunning());
    ASSERT_TRUE(waitUntil([&] { return parent.isFinished(); }));
    EXPECT_EQ(0, added->impl().preCalls.load());
}

TEST(ComponentTest, ClassLogDumpsParentThenChildren) {
    ExceptionCarrier carrier;
    Probe parent("Parent", carrier);
    parent.impl().appendChildren({std::make_shared<Probe>("ChildA", carrier), std::make_shared<Probe>("ChildB", carrier)});

    test::LogCapture capture;
    parent.logClassData();
    const auto records = capture.records();
    ASSERT_EQ(21u, records.size());
    const std::vector<std::string> expectedParent = {
        "-- Class Log Data Start -----------------------------",
        "Class name:    Parent",
        "Children:      2",
        "Flags: Illegal: 0",
        "       Stopped: 1",
        "       Running: 1",
        "-- Class Log Data End   -----------------------------",
    };
    for (std::size_t i = 0; i < expectedParent.size(); ++i) EXPECT_EQ(expectedParent[i], records[i].message);
    EXPECT_EQ("Class name:    ChildA", records[8].message);
    EXPECT_EQ("Children:      0", records[9].message);
    EXPECT_EQ("Class name:    ChildB", records[15].message);
    for (const auto& r : records) EXPECT_EQ(logging::status, r.severity);
}

TEST(ComponentTest, RunningStateWithoutThreadObjectIsReportedAsError) {
    ExceptionCarrier carrier;
    ProbeImpl bare("Bare", carrier, {}, {});
    test::LogCapture capture;
    EXPECT_FALSE(bare.isRunning());
    ASSERT_EQ(1u, capture.records().size());
    EXPECT_EQ("Warning: Tried to access an uninitialized thread.", capture.records()[0].message);
    EXPECT_EQ(logging::error, capture.records()[0].severity);
}

TEST(ComponentTest, LoopStatisticSwitchesForTheWholeSubtree) {
    ExceptionCarrier carrier;
    Probe parent("Parent", carrier);
    parent.impl().appendChildren({std::make_shared<Probe>("Child", carrier)});
    test::LogCapture capture;
    parent.setLoopStatistic(true);
    EXPECT_EQ((std::vector<std::string>{"Loop statistic of Parent enabled.", "Loop statistic of Child enabled."}),
              capture.messages());
    EXPECT_TRUE(parent.impl().thread()->loopStatistic().isEnabled());
}

TEST(ComponentTest, LastReferenceDroppedOnOwnWorkerThreadNeitherDeadlocksNorJoinsItself) {
    ExceptionCarrier carrier;
    std::atomic<bool> orphaned{false};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> destroyedOnWorker{false};
    auto probe = std::make_shared<Probe>("Orphan", carrier, [&](ProbeImpl& self) {
        if (orphaned) self.stop();  // nobody else can stop it any more
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the pace of its work, not a wait
    });
    const auto testThread = std::this_thread::get_id();
    probe->impl().onDestroy = [&] {
        destroyedOnWorker = std::this_thread::get_id() != testThread;
        destroyed = true;
    };
    probe->start();
    ASSERT_TRUE(waitUntil([&] { return probe->impl().runs.load() > 0; }));

    std::weak_ptr<impl::QVBaseImpl> weakImpl = probe->implementation();
    probe.reset();  // the running thread now holds the last reference
    EXPECT_FALSE(weakImpl.expired());
    orphaned = true;
    ASSERT_TRUE(waitUntil([&] { return destroyed.load(); }));
    EXPECT_TRUE(destroyedOnWorker.load());
    EXPECT_FALSE(carrier.isFull());
}

TEST(ComponentTest, DroppedRightAfterStartJoinsPromptly) {
    ExceptionCarrier carrier;
    test::LogCapture capture;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        auto probe = std::make_shared<Probe>("Brief", carrier);
        probe->start();
        probe->stop();
        probe.reset();  // the thread may not even have begun its loop
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    EXPECT_TRUE(capture.records().empty());
}

TEST(ComponentTest, ThreadThatCannotBeJoinedInTimeIsReported) {
    ExceptionCarrier carrier;
    boost::exception_ptr out;
    try {
        QV_THROW(QVException("occupies the slot"));
    } catch (...) {
        carrier.store(boost::current_exception());
    }
    auto probe = std::make_shared<Probe>("Stuck", carrier, [](ProbeImpl&) { QV_THROW(QVException("stuck")); });
    probe->impl().thread()->setJoinTimeoutForTest(std::chrono::milliseconds(100));
    probe->start();
    // The thread has left its loop and now waits in the full carrier.
    ASSERT_TRUE(waitUntil([&] { return probe->isIllegal(); }));

    {
        test::LogCapture capture;
        probe.reset();
        const auto records = capture.records();
        ASSERT_EQ(1u, records.size());
        const std::string& text = records[0].message;
        EXPECT_EQ(0u, text.find("Severe error: Could not join thread Stuck with id ")) << text;
        EXPECT_EQ(text.size() - 10, text.find(". Timeout.")) << text;
        EXPECT_EQ(logging::error, records[0].severity);
    }

    // Let the detached thread hand its exception over and end.
    ASSERT_TRUE(carrier.take(out));
    ASSERT_TRUE(waitUntil([&] { return carrier.take(out); }));
}

// Drops CAP_SYS_NICE from the calling thread only (capabilities are per
// thread), so that raising its priority is refused even for root.
bool dropNiceCapabilityOfThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    return syscall(SYS_capset, &header, data) == 0;
}

// Whether lowering the nice value by 10 is refused to a thread without
// CAP_SYS_NICE (decided by RLIMIT_NICE).
bool raisingIsRefused(bool capabilityDropped) {
    if (!capabilityDropped && geteuid() == 0) return false;
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) return false;
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    const long lowestAllowed = 20 - static_cast<long>(limit.rlim_cur);
    return base - 10 < lowestAllowed;
}

TEST(ComponentTest, RefusedPriorityIsLoggedAtDebugAndIgnored) {
    ExceptionCarrier carrier;
    std::atomic<int> dropped{-1};
    Probe probe("Prio", carrier, [](ProbeImpl& self) { self.stop(); }, [&](ProbeImpl& self) {
        dropped = dropNiceCapabilityOfThisThread() ? 1 : 0;
        self.setPriority(impl::QVBaseImpl::Lowest);
        self.setPriority(impl::QVBaseImpl::Normal);
        self.setPriority(impl::QVBaseImpl::TimeCritical);
        self.setPriority(7);  // not a priority class: ignored
    });
    test::LogCapture capture;
    probe.start();
    ASSERT_TRUE(waitUntil([&] { return probe.isFinished(); }));
    if (!raisingIsRefused(dropped == 1)) GTEST_SKIP() << "this system lets the thread raise its priority";
    EXPECT_EQ((std::vector<std::string>{"Couldn't set priority of thread Prio."}), capture.messages());
    EXPECT_EQ(logging::debug, capture.records().at(0).severity);
    EXPECT_FALSE(probe.isIllegal());
}

}  // namespace
}  // namespace tarnix
