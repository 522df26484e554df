// The pictures embedded in the program (window icon, picture strip).
#pragma once

namespace monitor {

// Registers the embedded pictures; the library is static, so its resources
// are registered by hand. Safe to call more than once.
void InitResources();

} // namespace monitor
