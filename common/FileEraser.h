#pragma once
// The deletion steps behind EraseFile, replaceable so tests can count and
// refuse attempts.

#include <string>

namespace velmora {

class FileEraser {
  public:
    virtual ~FileEraser() = default;
    virtual bool exists(const std::string& path);
    virtual bool isLocked(const std::string& path);
    virtual bool deleteNow(const std::string& path);
    // Records the file for deletion at the program's next start.
    virtual bool deleteAtNextStart(const std::string& path);

    // The attempts as EraseFile makes them: up to 50 deletions of a file
    // that is there and not locked, otherwise up to 50 requests for the next
    // start; a pass that finds the file gone ends with true.
    bool erase(const std::string& path);

    static constexpr int kPasses = 50;
};

// The list EraseFile leaves for the next start, beside Setup.ini.
std::string PendingDeletionsFile();

}  // namespace velmora
