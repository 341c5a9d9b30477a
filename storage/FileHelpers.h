#pragma once
// Small helpers for files written by the image writer and the recovery code, on a handle held
// by the caller (an invalid handle means none).
#include "platform/File.h"

// mode: 0 read, 1 write, 2 read-write (all three on an existing file), 3 read-write created or
// emptied, 4 read-write created when missing. Closes a handle *h already holds first. Returns
// 1 when the file was opened; another mode returns 0 without opening.
int OpenFileByMode(platform::FileHandle* h, int mode, const char* path);
// Closes a valid handle.
void CloseFileHandle(platform::FileHandle* h);
// Writes `length` bytes; 1 only when every byte was written.
int WriteAll(platform::FileHandle* h, int length, const void* data);
// Writes one line: the text, then CR LF unless it already ends with CR LF. An empty text
// writes nothing. Returns 1 when everything was written.
int WriteBytesToFile(platform::FileHandle* h, unsigned length, const char* text);
