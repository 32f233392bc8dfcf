#pragma once
// One running copy per application title, user and display. The lock is an
// abstract Unix socket bound under a name made of the three: the kernel frees
// the name when the holder's last descriptor closes, so a crashed copy never
// leaves a stale lock behind, and nothing is written to any folder.

#include <string>

namespace velmora::platform {

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another holder (any process) has the lock for the
    // title on the current user and $DISPLAY. True when this object now holds
    // it, and also when the lock cannot be made at all (held() then stays
    // false): a broken lock must not stop the program.
    bool Acquire(const std::string& title);
    void Release();
    bool held() const { return fd_ >= 0; }

    // The abstract socket name used for a title, user and display; ":0" and
    // ":0.0" name the same display.
    static std::string NameFor(const std::string& title, unsigned uid, const std::string& display);

  private:
    int fd_ = -1;
};

// The process-wide lock of the program, held until the process ends.
bool AcquireSingleInstance(const std::string& title);

}  // namespace velmora::platform
