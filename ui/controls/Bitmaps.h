#pragma once
// The program's bitmaps, drawn by its own code and kept by resource id (see Resources.h).
#include <wx/bitmap.h>

// The bitmap of a resource id; an invalid bitmap for an id the program does not have.
wxBitmap LoadBitmapResource(int id);

#include <functional>
// Later window folders add their own pictures: a provider answers the ids it knows (an invalid
// bitmap for the others); the kit's own ids come first.
void RegisterBitmapProvider(std::function<wxBitmap(int)> provider);
