#pragma once
// How the machine identity is chosen from the network interfaces.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

using HardwareAddress = std::array<std::uint8_t, 6>;

// Interfaces in index order; nullopt for one whose address cannot be read.
// The first is always tried; the search goes on only while the text is
// exactly the all-zero address (a failed first query stops it with "").
std::string ChooseMacAddress(const std::vector<std::optional<HardwareAddress>>& interfaces);

std::string FormatMacAddress(const HardwareAddress& address);

}  // namespace velmora
