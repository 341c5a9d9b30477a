#pragma once
// An in-memory scan-state section for save/load round trips; reading past its end throws as
// the store does.
#include "filesystems/StoreSection.h"

#include <cstring>
#include <vector>

namespace testsupport {

class MemorySection : public IRSData {
public:
    bool CheckHeader() override { return true; }
    bool Open(const char*, bool) override { return true; }
    int Close() override { return 1; }
    bool WriteHeader(const void*) override { return true; }
    bool ReadHeader(void*) override { return true; }
    std::uint32_t GetStage() override { return 1; }
    bool SetStage(std::uint32_t) override { return true; }
    bool SetDescription(const char*) override { return true; }
    bool GetDescription(char*, int) override { return true; }
    bool OpenSection(const RSGuid&) override { return true; }
    int CloseSection() override { return 1; }
    std::uint32_t GetSectionLength() override { return static_cast<std::uint32_t>(bytes.size()); }
    bool AtSectionEnd() override { return pos >= bytes.size(); }
    int Read(void* buffer, std::uint32_t length) override {
        if (length > bytes.size() - pos)
            throw CRSException(RSERR_SHORT_READ);
        std::memcpy(buffer, bytes.data() + pos, length);
        pos += length;
        return 1;
    }
    int Write(const void* buffer, std::uint32_t length) override {
        auto* p = static_cast<const std::uint8_t*>(buffer);
        bytes.insert(bytes.end(), p, p + length);
        return 1;
    }
    bool Flush() override { return true; }

    std::vector<std::uint8_t> bytes;
    std::size_t pos = 0;
};

} // namespace testsupport
