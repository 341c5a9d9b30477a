#include "storage/FileHelpers.h"

#include <cstring>

int OpenFileByMode(platform::FileHandle* h, int mode, const char* path) {
    if (!h)
        return 0;
    h->Close();
    if (mode < 0 || mode > 4 || !path)
        return 0;
    static constexpr platform::OpenMode kModes[] = {
        platform::OpenMode::ReadExisting, platform::OpenMode::WriteExisting,
        platform::OpenMode::ReadWriteExisting, platform::OpenMode::CreateAlways,
        platform::OpenMode::OpenAlways};
    *h = platform::OpenFile(path, kModes[mode]);
    return h->Valid() ? 1 : 0;
}

void CloseFileHandle(platform::FileHandle* h) {
    if (h)
        h->Close();
}

int WriteAll(platform::FileHandle* h, int length, const void* data) {
    if (!h || !h->Valid() || length < 0)
        return 0;
    return platform::WriteFully(h->Get(), data, static_cast<std::size_t>(length)) ? 1 : 0;
}

int WriteBytesToFile(platform::FileHandle* h, unsigned length, const char* text) {
    if (!text || length == 0)
        return 1;
    if (!h || !h->Valid() || !platform::WriteFully(h->Get(), text, length))
        return 0;
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n')
        return 1;
    return platform::WriteFully(h->Get(), "\r\n", 2) ? 1 : 0;
}
