#pragma once
// Dispatch of a sector to the analysers that can accept it. Every analyser names the bytes it
// tests at fixed offsets (IRawFileAnalyser::GetSignatureKeys); the index keeps, per offset, a
// table from the one or two bytes there to the registry positions whose keys they are. A
// sector is then offered only to those analysers, in registry order, so the first that accepts
// it is the one the plain walk over the whole list would find (MatchSectorByWalk): same
// answer, a table look-up per offset instead of a call per analyser.
#include <cstdint>
#include <vector>

#include "carving/RawFileAnalyserRegistry.h"

class CSignatureIndex {
public:
    // At most this many distinct key offsets get a table; analysers with keys elsewhere are
    // offered every sector.
    static constexpr std::size_t kMaxProbes = 8;

    // Indexes `list` as it is now; rebuild after the list changes. Later duplicates that are
    // interchangeable with an earlier analyser are left out: they can never decide a sector.
    void Build(const RawFileAnalyserList& list);
    // Same contract as MatchSectorByWalk: the registry position of the analyser that accepted
    // the sector (the record holds its answer), or -1 (the record is reset).
    int Match(const std::uint8_t* sector, CRawFileInfo* record) const {
        // Most sectors of a device carry no key at all: one table look-up per offset, no call.
        const std::vector<std::uint32_t>* sources[kMaxProbes + 1];
        std::size_t k = 0;
        for (const Probe& p : m_probes) {
            const std::size_t slot = p.wide ? sector[p.offset] | (std::size_t(sector[p.offset + 1]) << 8)
                                            : sector[p.offset];
            if (const std::uint16_t id = p.table[slot])
                sources[k++] = &m_lists[id];
        }
        if (!m_always.empty())
            sources[k++] = &m_always;
        if (k == 0) {
            record->Reset();
            return -1;
        }
        return AskCandidates(sources, k, sector, record);
    }

    bool Empty() const { return m_analysers.empty(); }
    // How many analysers are offered every sector (for tests).
    std::size_t GetUnkeyedCount() const { return m_always.size(); }
    std::size_t GetProbeCount() const { return m_probes.size(); }

private:
    struct Probe {
        std::uint16_t offset = 0;
        bool wide = false;                  // keyed on two bytes (little-endian u16)
        std::vector<std::uint16_t> table;   // 256 or 65536 entries: candidate-list id, 0 = none
    };
    bool Ask(std::uint32_t position, const std::uint8_t* sector, CRawFileInfo* record) const;
    int AskCandidates(const std::vector<std::uint32_t>* const* sources, std::size_t k,
                      const std::uint8_t* sector, CRawFileInfo* record) const;

    std::vector<IRawFileAnalyser*> m_analysers; // by registry position (null when left out)
    std::vector<Probe> m_probes;
    std::vector<std::vector<std::uint32_t>> m_lists; // ascending positions; [0] is empty
    std::vector<std::uint32_t> m_always;
};
