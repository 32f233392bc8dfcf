#pragma once
// The screen's size as the toolkit sees it, handed to the portal's desktop:
// on Wayland it is what the panel and the engine see before any screen
// sharing has begun (none does until Record), and it follows the output
// when its mode or scale changes.

namespace velmora {

// Call once, after the application object.
void FollowOutputSize();

}  // namespace velmora
