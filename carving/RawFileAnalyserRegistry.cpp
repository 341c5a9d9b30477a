#include "carving/RawFileAnalyserRegistry.h"

#include "carving/CustomFileTypes.h"
#include "carving/analysers/AnalyserCalls.h"
#include "carving/analysers/BuiltInAnalysers.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

// The analyser of the users' scripts, created for every id that is not built in.
constexpr AnalyserDescriptor kCustomDescriptor{"CustomFileAnalyser", -1, {}, {}, {},
                                               &NewAnalyser<CustomFileAnalyser>};

// The analysers created for each built-in id, in order: the one whose descriptor enters the
// id's type first, then the one that names it among the ids it serves behind another.
struct IdAnalysers {
    const AnalyserDescriptor* first = nullptr;
    const AnalyserDescriptor* second = nullptr;
};
struct IdTable {
    IdAnalysers ids[kBuiltInRawTypeCount + 1];
};

constexpr IdTable MakeIdTable() {
    IdTable t{};
    bool ok = true;
    for (const AnalyserDescriptor* d : kBuiltInAnalysers) {
        ok = !d->keys.empty() && ok; // every built-in analyser is asked by its keys only
        for (const SignatureKey& k : d->keys)
            ok = (k.length == 1 || k.length == 2) && k.offset + k.length <= 512 && ok;
        for (const RawFileTypeInfo& info : d->types) {
            ok = info.id >= 1 && info.id <= kBuiltInRawTypeCount && !t.ids[info.id].first && ok;
            if (ok)
                t.ids[info.id].first = d;
        }
    }
    for (const AnalyserDescriptor* d : kBuiltInAnalysers) {
        for (std::uint32_t id : d->alsoFor) {
            ok = id >= 1 && id <= kBuiltInRawTypeCount && t.ids[id].first && !t.ids[id].second &&
                 ok;
            if (ok)
                t.ids[id].second = d;
        }
    }
    if (!ok)
        throw "an analyser has no keys or one outside the sector, or names an id that is not "
              "built in or is taken already";
    return t;
}

constexpr IdTable kById = MakeIdTable();

// By the analysers' own type ids (all built-in ones are ids of the table).
struct NestingTable {
    bool nests[kBuiltInRawTypeCount + 1] = {};
};

constexpr NestingTable MakeNestingTable() {
    NestingTable t{};
    for (const AnalyserDescriptor* d : kBuiltInAnalysers) {
        if (d->typeId < 0 || d->typeId > static_cast<int>(kBuiltInRawTypeCount))
            throw "an analyser's own type id is not a built-in id";
        t.nests[d->typeId] = t.nests[d->typeId] || d->nestsOwnType;
    }
    return t;
}

constexpr NestingTable kNesting = MakeNestingTable();

void AppendNew(RawFileAnalyserList* list, const AnalyserDescriptor* d) {
    if (d)
        list->Append(std::unique_ptr<IRawFileAnalyser>(d->create()));
}

} // namespace

IRawFileAnalyser* RawFileAnalyserList::FindByTypeId(std::uint32_t typeId) const {
    for (const auto& a : m_items)
        if ((static_cast<std::uint32_t>(a->GetTypeId()) & 0xFFFF) == (typeId & 0xFFFF))
            return a.get();
    return nullptr;
}

std::unique_ptr<IRawFileAnalyser> CreateAnalyserByName(const char* className) {
    if (!className)
        return nullptr;
    for (const AnalyserDescriptor* d : kBuiltInAnalysers)
        if (std::strcmp(d->name, className) == 0)
            return std::unique_ptr<IRawFileAnalyser>(d->create());
    if (std::strcmp(kCustomDescriptor.name, className) == 0)
        return std::unique_ptr<IRawFileAnalyser>(kCustomDescriptor.create());
    return nullptr;
}

std::vector<const char*> GetRegisteredAnalyserNames() {
    std::vector<const char*> names;
    for (const AnalyserDescriptor* d : kBuiltInAnalysers)
        names.push_back(d->name);
    names.push_back(kCustomDescriptor.name);
    return names;
}

RawFileAnalyserList* GetRawFileAnalysers() {
    static RawFileAnalyserList* registry = [] {
        static RawFileAnalyserList list;
        CreateAllRawFileAnalysers(&list);
        return &list;
    }();
    return registry;
}

void CreateAllRawFileAnalysers(RawFileAnalyserList* list) {
    if (!list)
        return;
    for (const AnalyserDescriptor* d : kBuiltInAnalysers)
        AppendNew(list, d);
    AppendNew(list, &kCustomDescriptor);
}

void CreateRawFileAnalyser(std::uint32_t id, RawFileAnalyserList* list) {
    if (!list)
        return;
    if (id >= 1 && id <= kBuiltInRawTypeCount) {
        AppendNew(list, kById.ids[id].first);
        AppendNew(list, kById.ids[id].second);
        return;
    }
    AppendNew(list, &kCustomDescriptor);
}

void AddRawFileAnalysersForTypes(RawFileAnalyserList* list, const RawTypeList* types) {
    if (!list || !types)
        return;
    for (std::uint32_t id : types->Ids())
        CreateRawFileAnalyser(id, list);
}

void SelectRawFileAnalysers(RawFileAnalyserList* list, const RawTypeList* types) {
    if (!list)
        return;
    list->Clear();
    AddRawFileAnalysersForTypes(list, types);
}

bool AnalyserNestsOwnType(std::uint32_t analyserTypeId) {
    const std::uint32_t id = analyserTypeId & 0xFFFF;
    return id <= kBuiltInRawTypeCount && kNesting.nests[id];
}

int MatchSectorByWalk(const RawFileAnalyserList& list, const std::uint8_t* sector,
                      CRawFileInfo* record) {
    for (std::size_t i = 0; i < list.Size(); ++i) {
        record->Reset();
        if (GuardedMatchHeader(*list.At(i), sector, record))
            return static_cast<int>(i);
    }
    record->Reset();
    return -1;
}
