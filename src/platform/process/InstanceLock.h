#pragma once
#include <string>

// A system-wide named marker that tells whether another process already
// holds the same name. The kernel drops the marker when its holder exits,
// also when the holder crashes, so a stale marker never blocks a new start.
namespace tarnix {
namespace platform {

// Environment variable that replaces the marker's name. Only tests set it, so
// that several servers can run side by side; users always get the fixed name.
constexpr const char* kInstanceNameOverrideVariable = "QV_INSTANCE_NAME";

class InstanceLock {
public:
    // Creates or opens the marker. created() tells whether it was new.
    // failed() is true when the system could not make the marker at all.
    explicit InstanceLock(const std::string& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool failed() const { return failed_; }
    bool created() const { return created_; }
    // Releases the marker; false when the system reported a failure.
    bool close();

    // The name to use for `fixedName` after the test override is applied.
    static std::string effectiveName(const std::string& fixedName);

private:
    int fd_ = -1;
    bool failed_ = false;
    bool created_ = false;
};

}  // namespace platform
}  // namespace tarnix
