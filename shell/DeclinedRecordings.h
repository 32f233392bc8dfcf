#pragma once
// The interrupted recordings the user chose not to save: not offered again.
// Kept by file identity (a recording moved aside keeps it), one "device
// inode" line per file, in a list beside the settings file.

#include <string>

#include "engine/ScreenCamera.h"

namespace velmora {

class DeclinedRecordings {
  public:
    explicit DeclinedRecordings(std::string listFile) : file_(std::move(listFile)) {}
    // True when one of its files was declined before.
    bool Contains(const engine::TInterruptedRecording& recording) const;
    // False when the list could not be written.
    bool Add(const engine::TInterruptedRecording& recording) const;

  private:
    std::string file_;
};

}  // namespace velmora
