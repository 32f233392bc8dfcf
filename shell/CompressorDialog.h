#pragma once
// The settings dialog of a compressor that has options (preset, tune,
// quantiser), shown when the options dialog's Configure button asks for it.

#include <vector>

#include "engine/vfw/Compressors.h"

class QWidget;

namespace velmora {

// Shows the options modally over parent; true when the user pressed OK, and
// then options hold the edited values.
bool ShowCompressorDialog(QWidget* parent, const vfw::ICINFO& info,
                          std::vector<vfw::ICCONFIGOPTION>& options);

// Makes the compressor manager use this dialog for ICConfigure.
void InstallCompressorDialog();

}  // namespace velmora
