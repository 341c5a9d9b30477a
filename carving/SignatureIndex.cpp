#include "carving/SignatureIndex.h"

#include "carving/analysers/AnalyserCalls.h"

#include <algorithm>
#include <map>

void CSignatureIndex::Build(const RawFileAnalyserList& list) {
    m_analysers.assign(list.Size(), nullptr);
    m_probes.clear();
    m_lists.assign(1, {});
    m_always.clear();

    // Positions that can decide a sector, with their keys (empty = offered every sector).
    struct Entry {
        std::uint32_t position;
        bool keyed;
        std::vector<SignatureKey> keys;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < list.Size(); ++i) {
        IRawFileAnalyser* a = list.At(i);
        bool duplicate = false;
        for (const Entry& e : entries)
            if (list.At(e.position)->IsInterchangeableWith(*a)) {
                duplicate = true;
                break;
            }
        if (duplicate)
            continue;
        m_analysers[i] = a;
        Entry e{static_cast<std::uint32_t>(i), false, {}};
        e.keyed = a->GetSignatureKeys(e.keys); // keyed without keys: never accepts a sector
        for (const SignatureKey& k : e.keys)
            if ((k.length != 1 && k.length != 2) || k.offset + k.length > 512)
                e.keyed = false; // a key the index cannot hold: ask for every sector
        entries.push_back(std::move(e));
    }

    // The offsets that get a table: the most used ones, at most kMaxProbes.
    std::map<std::uint16_t, std::pair<std::size_t, bool>> offsets; // uses, wide
    for (const Entry& e : entries)
        if (e.keyed)
            for (const SignatureKey& k : e.keys) {
                auto& o = offsets[k.offset];
                ++o.first;
                o.second = o.second || k.length == 2;
            }
    std::vector<std::pair<std::size_t, std::uint16_t>> byUse;
    for (const auto& [offset, info] : offsets)
        byUse.emplace_back(info.first, offset);
    std::stable_sort(byUse.begin(), byUse.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    if (byUse.size() > kMaxProbes)
        byUse.resize(kMaxProbes);
    for (const auto& [uses, offset] : byUse) {
        Probe p;
        p.offset = offset;
        p.wide = offsets[offset].second;
        p.table.assign(p.wide ? 65536 : 256, 0);
        m_probes.push_back(std::move(p));
    }
    auto probeOf = [&](std::uint16_t offset) -> Probe* {
        for (Probe& p : m_probes)
            if (p.offset == offset)
                return &p;
        return nullptr;
    };

    std::map<std::vector<std::uint32_t>, std::uint16_t> interned;
    interned[{}] = 0;
    auto withPosition = [&](std::uint16_t id, std::uint32_t position) -> std::uint16_t {
        std::vector<std::uint32_t> l = m_lists[id];
        if (!l.empty() && l.back() == position)
            return id;
        l.push_back(position); // positions arrive in ascending order
        auto it = interned.find(l);
        if (it != interned.end())
            return it->second;
        const auto newId = static_cast<std::uint16_t>(m_lists.size());
        m_lists.push_back(l);
        interned.emplace(std::move(l), newId);
        return newId;
    };

    for (const Entry& e : entries) {
        bool indexed = e.keyed;
        for (const SignatureKey& k : e.keys)
            indexed = indexed && probeOf(k.offset) != nullptr;
        if (!indexed || m_lists.size() > 60000) {
            m_always.push_back(e.position);
            continue;
        }
        for (const SignatureKey& k : e.keys) {
            Probe* p = probeOf(k.offset);
            if (!p->wide) {
                p->table[k.bytes[0]] = withPosition(p->table[k.bytes[0]], e.position);
            } else if (k.length == 2) {
                const std::size_t slot = k.bytes[0] | (std::size_t(k.bytes[1]) << 8);
                p->table[slot] = withPosition(p->table[slot], e.position);
            } else {
                for (std::size_t second = 0; second < 256; ++second) {
                    const std::size_t slot = k.bytes[0] | (second << 8);
                    p->table[slot] = withPosition(p->table[slot], e.position);
                }
            }
        }
    }
}

bool CSignatureIndex::Ask(std::uint32_t position, const std::uint8_t* sector,
                          CRawFileInfo* record) const {
    record->Reset();
    return GuardedMatchHeader(*m_analysers[position], sector, record) != 0;
}

int CSignatureIndex::AskCandidates(const std::vector<std::uint32_t>* const* sources, std::size_t k,
                                   const std::uint8_t* sector, CRawFileInfo* record) const {
    if (k == 1) {
        for (std::uint32_t position : *sources[0])
            if (Ask(position, sector, record))
                return static_cast<int>(position);
    } else if (k > 1) {
        // Several sources: ask in ascending registry position, each analyser once.
        std::size_t cursor[kMaxProbes + 1] = {};
        for (;;) {
            std::uint32_t next = UINT32_MAX;
            for (std::size_t s = 0; s < k; ++s)
                if (cursor[s] < sources[s]->size())
                    next = std::min(next, (*sources[s])[cursor[s]]);
            if (next == UINT32_MAX)
                break;
            for (std::size_t s = 0; s < k; ++s)
                if (cursor[s] < sources[s]->size() && (*sources[s])[cursor[s]] == next)
                    ++cursor[s];
            if (Ask(next, sector, record))
                return static_cast<int>(next);
        }
    }
    record->Reset();
    return -1;
}
