#include "carving/records/RawFileTypeTable.h"

#include "carving/analysers/BuiltInAnalysers.h"

#include <array>
#include <cctype>
#include <mutex>
#include <string>

namespace {

struct BuiltInType {
    const char* extension = nullptr;
    const char* description = nullptr;
};

struct BuiltInTable {
    BuiltInType types[kBuiltInRawTypeCount + 1];
};

constexpr bool Put(BuiltInTable& t, const RawFileTypeInfo& info) {
    if (info.id > kBuiltInRawTypeCount || t.types[info.id].extension || !info.extension ||
        !info.description)
        return false;
    std::size_t length = 0;
    while (info.extension[length])
        ++length;
    if (length == 0 || length > kMaxRawExtensionLength)
        return false;
    t.types[info.id] = {info.extension, info.description};
    return true;
}

// Every built-in id is entered once, by its first analyser or as a type without one.
constexpr BuiltInTable MakeBuiltInTable() {
    BuiltInTable t{};
    bool ok = true;
    for (const AnalyserDescriptor* d : kBuiltInAnalysers)
        for (const RawFileTypeInfo& info : d->types)
            ok = Put(t, info) && ok;
    for (const RawFileTypeInfo& info : kTypesWithoutAnalyser)
        ok = Put(t, info) && ok;
    for (const BuiltInType& type : t.types)
        ok = type.extension != nullptr && ok;
    if (!ok)
        throw "a built-in file type is missing, entered twice or out of range";
    return t;
}

constexpr BuiltInTable kBuiltInTable = MakeBuiltInTable();
constexpr const BuiltInType* kBuiltIn = kBuiltInTable.types;

// User-defined slots. A slot, once filled, never changes, so the texts handed out stay valid.
struct UserTypes {
    std::mutex lock;
    std::array<std::string, kUserFileTypeSlots> extensions;
    std::uint32_t used = 0;
};

UserTypes& Users() {
    static UserTypes* users = new UserTypes(); // lives until exit; texts are handed out
    return *users;
}

bool EqualNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

} // namespace

const char* GetRawFileTypeExtension(std::uint32_t id) {
    if (id <= kBuiltInRawTypeCount)
        return kBuiltIn[id].extension;
    if (IsUserFileType(id)) {
        UserTypes& u = Users();
        std::lock_guard<std::mutex> guard(u.lock);
        const std::uint32_t slot = id - kFirstUserFileType;
        return slot < u.used ? u.extensions[slot].c_str() : "";
    }
    return "";
}

const char* GetRawFileTypeDescription(std::uint32_t id) {
    return id <= kBuiltInRawTypeCount ? kBuiltIn[id].description : "";
}

std::uint32_t FindOrAddUserFileType(const char* extension) {
    if (!extension || !*extension)
        return 0;
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    for (std::uint32_t slot = 0; slot < u.used; ++slot)
        if (EqualNoCase(u.extensions[slot], extension))
            return kFirstUserFileType + slot;
    if (u.used == kUserFileTypeSlots)
        return 0;
    std::string upper(extension);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    u.extensions[u.used] = std::move(upper);
    return kFirstUserFileType + u.used++;
}

std::uint32_t GetUserFileTypeCount() {
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    return u.used;
}

void ClearUserFileTypesForTesting() {
    UserTypes& u = Users();
    std::lock_guard<std::mutex> guard(u.lock);
    // Texts handed out before this call are no longer valid.
    u.used = 0;
    for (auto& e : u.extensions)
        e.clear();
}
