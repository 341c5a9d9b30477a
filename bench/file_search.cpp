// The file search over a tree of 200 000 files (200 folders of 1000 names of mixed extensions):
// a plain walk that only reads every name (the baseline), the search by a name mask, by a type's
// extension list, and the find dialog's part-of-a-name pattern over every name.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "tools/FileSearch.h"

namespace {

CMyFileProperties* Props(const char* name, std::uint16_t attributes) {
    CMyFileProperties* p = CreateMyFileProperties();
    MyFilePropertiesRecord r;
    std::snprintf(r.name, sizeof r.name, "%s", name);
    r.nameLength = static_cast<std::uint32_t>(std::strlen(r.name));
    r.attributes = attributes;
    r.size = 1000;
    r.validFields = VALIDFIELDS_FILESYSTEM;
    p->SetRecord(r);
    return p;
}

struct Tree {
    CFileSystemNode* root = nullptr;
    std::size_t files = 0;
    Tree() {
        static const char* kExtensions[] = {".txt", ".JPG", ".doc", ".bin", ".pdf", ".mp3", ".c", ""};
        root = CreateFileSystemNode();
        root->SetProperties(std::unique_ptr<IFileProperties>(Props("Root", FILEATTR_DIRECTORY)));
        char name[64];
        for (int f = 0; f < 200; ++f) {
            std::snprintf(name, sizeof name, "folder %03d", f);
            CFileSystemNode* folder = CreateFileSystemNode();
            folder->SetProperties(
                std::unique_ptr<IFileProperties>(Props(name, FILEATTR_DIRECTORY)));
            root->AddChild(folder);
            for (int i = 0; i < 1000; ++i, ++files) {
                std::snprintf(name, sizeof name, "document_%05d_report%s", i, kExtensions[i % 8]);
                CFileNode* file = CreateFileNode();
                file->SetProperties(std::unique_ptr<IFileProperties>(Props(name, 0)));
                folder->AddChild(file);
            }
        }
        root->RecountCounters();
    }
    ~Tree() { DeleteFileTree(root); }
};

Tree& SharedTree() {
    static Tree tree;
    return tree;
}

void BM_PlainWalkReadingNames(benchmark::State& state) {
    Tree& t = SharedTree();
    for (auto _ : state) {
        std::size_t bytes = 0;
        for (CFileNode* f = t.root->m_pFirstChild; f; f = f->m_pNextSibling)
            for (CFileNode* n = f->m_pFirstChild; n; n = n->m_pNextSibling)
                bytes += std::strlen(n->m_pProperties->GetName());
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * t.files));
}
BENCHMARK(BM_PlainWalkReadingNames)->Unit(benchmark::kMillisecond);

void Search(benchmark::State& state, FileSearchCriteria c) {
    Tree& t = SharedTree();
    c.location = t.root;
    std::uint32_t hits = 0;
    for (auto _ : state) {
        SearchResult r;
        RunFileSearch(c, r);
        hits = r.count;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * t.files));
    state.counters["hits"] = hits;
}

void BM_SearchNameMask(benchmark::State& state) {
    FileSearchCriteria c;
    c.name = "*_9*.txt";
    Search(state, c);
}
BENCHMARK(BM_SearchNameMask)->Unit(benchmark::kMillisecond);

void BM_SearchTypeMask(benchmark::State& state) {
    FileSearchCriteria c;
    c.flags = kSearchByType;
    c.typeMask = ".jpe;.jpeg;.jpg";
    Search(state, c);
}
BENCHMARK(BM_SearchTypeMask)->Unit(benchmark::kMillisecond);

void BM_FindPartOfName(benchmark::State& state) {
    Tree& t = SharedTree();
    const FileNamePattern p = BuildNameFilter("report", false, false, kNameFilterFind);
    std::size_t hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (CFileNode* f = t.root->m_pFirstChild; f; f = f->m_pNextSibling)
            for (CFileNode* n = f->m_pFirstChild; n; n = n->m_pNextSibling)
                hits += RegexMatch(n->m_pProperties->GetName(), p);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * t.files));
    state.counters["hits"] = static_cast<double>(hits);
}
BENCHMARK(BM_FindPartOfName)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
