#pragma once
// Filters that decide whether a found file passes by its attributes or by its entry state.
#include <cstdint>

class IFileProperties;

class IFileFilter {
public:
    virtual ~IFileFilter() = default;
    virtual bool Match(const IFileProperties* properties) const = 0;
};

constexpr std::uint32_t kFilterEveryFile = 0xFFFFFFFFu;

// Passes files whose attributes share a bit with the mask (0x01, 0x02, 0x04, 0x08, 0x10, 0x20,
// 0x40, 0x400 or 0x800); every file with valid attributes when the mask is all ones.
class CFileAttributeFilter : public IFileFilter {
public:
    explicit CFileAttributeFilter(std::uint32_t mask = kFilterEveryFile) : m_mask(mask) {}
    bool Match(const IFileProperties* properties) const override;
    std::uint32_t m_mask;
};

// Passes entries that are not live (deleted entries, lost-files folders) when the mask has one
// of the bits 1, 2 or 4; every entry with a valid state when the mask is all ones.
class CFileStateFilter : public IFileFilter {
public:
    explicit CFileStateFilter(std::uint32_t mask = 7) : m_mask(mask) {}
    bool Match(const IFileProperties* properties) const override;
    std::uint32_t m_mask;
};
