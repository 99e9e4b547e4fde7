#pragma once
// Which kind of desktop session this program runs in.

namespace platform
{

// Whether this program runs in a Wayland session (through XWayland).
bool isWaylandSession();

} // namespace platform
