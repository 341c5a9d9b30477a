// Toggling the check state of the root of a one-million-node tree (1000 folders of 999 files):
// every node's state is set and the counters of the root follow.
#include <benchmark/benchmark.h>

#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"

namespace {

CMyFileProperties* Props(std::uint64_t size, std::uint16_t attributes) {
    CMyFileProperties* p = CreateMyFileProperties();
    MyFilePropertiesRecord r;
    r.size = size;
    r.attributes = attributes;
    p->SetRecord(r);
    return p;
}

CFileSystemNode* BuildTree(std::size_t* nodeCount) {
    CFileSystemNode* root = CreateFileSystemNode();
    root->SetProperties(std::unique_ptr<IFileProperties>(Props(0, FILEATTR_DIRECTORY)));
    std::size_t count = 1;
    for (int f = 0; f < 1000; ++f) {
        CFileSystemNode* folder = CreateFileSystemNode();
        folder->SetProperties(std::unique_ptr<IFileProperties>(Props(0, FILEATTR_DIRECTORY)));
        root->AddChild(folder);
        ++count;
        for (int i = 0; i < 999 && count < 1000000; ++i) {
            CFileNode* file = CreateFileNode();
            file->SetProperties(std::unique_ptr<IFileProperties>(
                Props(1000 + i, i % 10 == 0 ? FILEATTR_COMPRESSED : 0)));
            folder->AddChild(file);
            ++count;
        }
        folder->RecountCounters();
    }
    root->RecountCounters();
    *nodeCount = count;
    return root;
}

void BM_ToggleRootOfMillionNodeTree(benchmark::State& state) {
    std::size_t nodes = 0;
    CFileSystemNode* root = BuildTree(&nodes);
    for (auto _ : state) {
        root->SetCheckState(false);
        benchmark::DoNotOptimize(root->m_counters.checkedBytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * nodes));
    state.counters["nodes"] = static_cast<double>(nodes);
    DeleteFileTree(root);
}
BENCHMARK(BM_ToggleRootOfMillionNodeTree)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
