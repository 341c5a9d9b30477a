#pragma once
// The process-wide list of carving analysers that the RAW search consults and the RAW tree asks
// to size files, created per file-type id from the table below and rebuilt for the chosen ids
// before every search.
//
// The classes, their order and the ids they are created for come from the list of built-in
// analysers (carving/analysers/BuiltInAnalysers.h) and the descriptors it names.
#include <cstdint>
#include <memory>
#include <vector>

#include "carving/analysers/RawFileAnalyser.h"

class RawTypeList;

class RawFileAnalyserList {
public:
    // Empty; the process-wide registry fills itself with CreateAllRawFileAnalysers.
    RawFileAnalyserList() = default;
    RawFileAnalyserList(const RawFileAnalyserList&) = delete;
    RawFileAnalyserList& operator=(const RawFileAnalyserList&) = delete;

    void Append(std::unique_ptr<IRawFileAnalyser> analyser) {
        if (analyser)
            m_items.push_back(std::move(analyser));
    }
    // Deletes every analyser.
    void Clear() { m_items.clear(); }
    std::size_t Size() const { return m_items.size(); }
    bool Empty() const { return m_items.empty(); }
    IRawFileAnalyser* At(std::size_t i) const { return m_items[i].get(); }
    // The first analyser whose type id, as a 16-bit value, equals `typeId`'s low half; or null.
    IRawFileAnalyser* FindByTypeId(std::uint32_t typeId) const;

private:
    std::vector<std::unique_ptr<IRawFileAnalyser>> m_items;
};

// The process-wide registry, built with CreateAllRawFileAnalysers on first use. Used by one
// thread at a time (a search, then the tree builds).
RawFileAnalyserList* GetRawFileAnalysers();
// Appends one object of every registered class in the fixed class order, then one
// CustomFileAnalyser.
void CreateAllRawFileAnalysers(RawFileAnalyserList* list);
// Appends the analysers of one file-type id: those the table names for ids 1 to 68 (none for
// 20 and 26), a CustomFileAnalyser for every other id.
void CreateRawFileAnalyser(std::uint32_t id, RawFileAnalyserList* list);
void AddRawFileAnalysersForTypes(RawFileAnalyserList* list, const RawTypeList* types);
// Empties the list and refills it for `types`, in the order of the ids.
void SelectRawFileAnalysers(RawFileAnalyserList* list, const RawTypeList* types);
// Creates one analyser by its descriptor's name; null for a name that is not registered.
std::unique_ptr<IRawFileAnalyser> CreateAnalyserByName(const char* className);
// Names of the registered classes (for tests and the fuzz target).
std::vector<const char*> GetRegisteredAnalyserNames();

// Whether files of the type of the analyser with this own type id (compared as 16-bit values)
// found inside one of its sized files are parts of it (see AnalyserDescriptor::nestsOwnType).
bool AnalyserNestsOwnType(std::uint32_t analyserTypeId);

// The plain walk: asks every analyser of the list in order, each with a freshly reset record,
// and returns the position of the first that accepts the sector (the record then holds its
// answer), or -1. An exception counts as no match.
int MatchSectorByWalk(const RawFileAnalyserList& list, const std::uint8_t* sector,
                      CRawFileInfo* record);
