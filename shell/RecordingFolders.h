#pragma once
// The folders recordings were made in, so that one a crash interrupted is
// offered at the next start wherever it was made (the output folder may have
// changed since, or path= named another). One folder per line, in a list
// beside the settings file.

#include <string>
#include <vector>

namespace velmora {

class RecordingFolders {
  public:
    explicit RecordingFolders(std::string listFile) : file_(std::move(listFile)) {}
    std::vector<std::string> Read() const;
    // False when the list could not be written.
    bool Add(const std::string& folder) const;
    // The list becomes exactly these folders (none: the file goes).
    bool Replace(const std::vector<std::string>& folders) const;

  private:
    std::string file_;
};

}  // namespace velmora
