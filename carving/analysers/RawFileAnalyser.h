#pragma once
// The contract of a carving analyser: from one 512-byte sector it tells whether a file of its
// format starts there (MatchHeader), and given a device it works out how many bytes the file
// spans (ComputeFileSize). Results: 1 for a match or a finished walk, 0 for no match or a walk
// that gave up; sizes go into the record, 0 meaning unknown.
//
// An analyser also names the bytes it tests at fixed offsets (GetSignatureKeys), so that the
// RAW search asks it only about sectors that carry one of them; see SignatureKey.
#include <cstddef>
#include <cstdint>
#include <span>
#include <typeinfo>
#include <vector>

#include "carving/records/RawFileInfo.h"
#include "storage/ByteSpan.h"
#include "storage/StorageDevice.h"

// One or two bytes at a fixed offset of the sector. An analyser's keys must be a necessary
// condition of its MatchHeader: MatchHeader may return 1 only for a sector in which at least one
// of the keys is present. Case-insensitive signatures list every case variant of their bytes
// (AddSignatureKeyNoCase).
struct SignatureKey {
    std::uint16_t offset = 0; // offset + length <= 512
    std::uint8_t length = 1;  // 1 or 2
    std::uint8_t bytes[2] = {};
    friend bool operator==(const SignatureKey&, const SignatureKey&) = default;
};

// Appends the key of the first one or two bytes of `signature` at `offset`.
void AddSignatureKey(std::vector<SignatureKey>& keys, std::uint16_t offset, const void* signature,
                     std::size_t length);
// The same with every upper/lower-case variant of the (at most two) key bytes.
void AddSignatureKeyNoCase(std::vector<SignatureKey>& keys, std::uint16_t offset,
                           const void* signature, std::size_t length);

struct AnalyserDescriptor;

class IRawFileAnalyser {
public:
    explicit IRawFileAnalyser(int typeId = -1) : m_typeId(typeId) {}
    // An analyser whose MatchHeader needs one of `keys` (see GetSignatureKeys).
    IRawFileAnalyser(int typeId, std::span<const SignatureKey> keys)
        : m_typeId(typeId), m_keys(keys), m_keyed(true) {}
    // A built-in analyser: the type id and keys of its descriptor, so that the keys the
    // signature index asks for are the ones the registry checks.
    explicit IRawFileAnalyser(const AnalyserDescriptor& descriptor);
    IRawFileAnalyser(const IRawFileAnalyser&) = delete;
    IRawFileAnalyser& operator=(const IRawFileAnalyser&) = delete;
    virtual ~IRawFileAnalyser() = default;

    // Sizes the file of `record` (whose start sector is set) from `device`: the RAW search's
    // ring during the search, the scanned device when the RAW tree is built. Writes the size
    // (and may rewrite the file-type id). The base changes nothing and returns 1.
    virtual int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
        (void)record;
        (void)device;
        return 1;
    }
    // `sector` is 512 bytes whose first four are not all zero. On a match writes the file-type
    // id (and the size when the header holds it) and returns 1. No device access, no
    // allocation: it runs for every candidate sector of a device.
    virtual int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) = 0;

    // Appends the keys (see SignatureKey) and returns true (true with no keys: the analyser
    // never accepts a sector); false asks to be offered every sector (always correct but
    // slow). The base gives the keys it was constructed with, or false without them.
    virtual bool GetSignatureKeys(std::vector<SignatureKey>& keys) const {
        if (!m_keyed)
            return false;
        keys.insert(keys.end(), m_keys.begin(), m_keys.end());
        return true;
    }
    // True when `other` answers every MatchHeader exactly as this one does, so that a later
    // duplicate in the registry can never decide a sector and need not be asked. Analysers of
    // the same class are, unless their answers depend on more than the sector.
    virtual bool IsInterchangeableWith(const IRawFileAnalyser& other) const {
        return typeid(*this) == typeid(other);
    }

    int GetTypeId() const { return m_typeId; }

protected:
    int m_typeId;

private:
    std::span<const SignatureKey> m_keys;
    bool m_keyed = false;
};

// A built-in file type: its id (what records, scan options and saved scan states carry), its
// upper-case extension of at most 4 characters and its description.
struct RawFileTypeInfo {
    std::uint32_t id;
    const char* extension;
    const char* description;
};

// Everything the registry and the file-type table know of one built-in analyser, in the
// analyser's own header. The types an analyser is created for first carry their table entry
// here (`types`); the ids it is created for behind another analyser are `alsoFor` (the Word
// text analyser behind the compound-file one for DOC). `keys` are the bytes its MatchHeader
// needs; its objects take them from here (a built-in analyser's constructor passes its
// descriptor to IRawFileAnalyser).
struct AnalyserDescriptor {
    const char* name; // the class name, as tests and the fuzz target ask for it
    int typeId;       // the analyser's own type id (IRawFileAnalyser::GetTypeId)
    std::span<const RawFileTypeInfo> types;
    std::span<const std::uint32_t> alsoFor;
    std::span<const SignatureKey> keys;
    IRawFileAnalyser* (*create)();
    // Whether a file of its type found inside one of its sized files is a part of that file
    // (an archive's member, a container's embedded stream) rather than a file of its own. Set
    // for the archives and containers, whose sizes come from their own structure.
    bool nestsOwnType = false;
};
inline constexpr bool kNestsOwnType = true;

inline IRawFileAnalyser::IRawFileAnalyser(const AnalyserDescriptor& descriptor)
    : IRawFileAnalyser(descriptor.typeId, descriptor.keys) {}

template <typename Analyser> IRawFileAnalyser* NewAnalyser() { return new Analyser(); }
