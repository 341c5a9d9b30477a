#pragma once
// The program's bitmaps, drawn by its own code and kept by resource id (see Resources.h).
#include <wx/bitmap.h>

// The bitmap of a resource id; an invalid bitmap for an id the program does not have.
wxBitmap LoadBitmapResource(int id);
