#pragma once
// The line a device page shows under its list when the user may not read any disk: why, and
// what to do. When the user asked for the start as administrator and it fell back, the line
// says so and why; otherwise it asks for that start, or for a disk image.
#include <string>

class AppContext;

// "" when the last disk collection was not refused for lack of rights. `opensImagesHere`: the
// page opens disk images itself (Ctrl+O); the other pages send the user to Deep Scan Recovery.
std::string DiskRightsNote(const AppContext& context, bool opensImagesHere);
