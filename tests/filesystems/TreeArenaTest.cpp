// The storage of tree builds: objects from an arena are freed one by one with delete, in any
// order and on any thread, and a chunk goes back to the system with its last object.
#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "filesystems/TreeArena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

TEST(TreeArena, ObjectsAreFreedOneByOneAndChunksGoBackWithTheLast) {
    const std::uint64_t before = CTreeArena::ReservedBytes();
    std::vector<CFileNode*> nodes;
    {
        CTreeArena arena;
        for (int i = 0; i < 20000; ++i) { // several chunks' worth
            CFileNode* node = new (&arena) CFileNode();
            auto* props = new (&arena) CMyFileProperties();
            props->SetNameText(("n" + std::to_string(i)).c_str());
            node->SetProperties(std::unique_ptr<IFileProperties>(props));
            ASSERT_TRUE(IsTreeArenaStorage(node));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(node) % alignof(CFileNode), 0u);
            nodes.push_back(node);
        }
        EXPECT_GT(CTreeArena::ReservedBytes(), before);
    }
    // The arena is gone; its objects are not.
    std::mt19937 random(7);
    std::shuffle(nodes.begin(), nodes.end(), random);
    const std::size_t half = nodes.size() / 2;
    for (CFileNode* n : nodes)
        ASSERT_EQ(n->m_pProperties->GetName()[0], 'n');
    // Half freed here, half on another thread.
    for (std::size_t i = 0; i < half; ++i)
        delete nodes[i]; // with its properties
    std::thread other([&] {
        for (std::size_t i = half; i < nodes.size(); ++i)
            delete nodes[i];
    });
    other.join();
    EXPECT_EQ(CTreeArena::ReservedBytes(), before);
    // Free chunks kept for the next build give their pages back, and serve again after that.
    CTreeArena::TrimCache();
    CTreeArena again;
    CFileNode* node = new (&again) CFileNode();
    EXPECT_TRUE(IsTreeArenaStorage(node));
    delete node;
}

TEST(TreeArena, TreesMixHeapAndArenaNodesAndMoveBetweenTrees) {
    FileSubtreePtr kept(CreateFileSystemNode());
    {
        CTreeArena arena;
        FileSubtreePtr built(CreateFileNode());
        for (int i = 0; i < 100; ++i) {
            CFileNode* node = new (&arena) CFileNode();
            node->SetProperties(std::unique_ptr<IFileProperties>(new (&arena) CMyFileProperties()));
            built->AddChild(node);
        }
        // A heap node among them, and arena nodes moved into a tree that outlives them all.
        built->AddChild(CreateFileNode());
        for (int i = 0; i < 10; ++i) {
            CFileNode* child = built->m_pFirstChild->m_pNextSibling;
            ASSERT_EQ(UnlinkChildNode(built.get(), child), 1);
            kept->AddChild(child);
        }
    }
    std::vector<CFileNode*> all;
    CollectTreeNodes(kept.get(), all);
    EXPECT_EQ(all.size(), 11u);
    for (CFileNode* n : all)
        if (n != kept.get()) {
            EXPECT_TRUE(IsTreeArenaStorage(n));
        }
}

TEST(TreeArena, LargeAndNullArenaAllocationsUseTheHeap) {
    CTreeArena arena;
    void* big = arena.Allocate(1 << 20);
    EXPECT_FALSE(IsTreeArenaStorage(big));
    std::memset(big, 1, 1 << 20);
    FreeTreeObject(big, 1 << 20);
    void* heap = AllocateTreeStorage(nullptr, 40);
    EXPECT_FALSE(IsTreeArenaStorage(heap));
    FreeTreeObject(heap, 40);
    const char text[] = "copied";
    auto* copy = static_cast<char*>(arena.Duplicate(text, sizeof text));
    EXPECT_TRUE(IsTreeArenaStorage(copy));
    EXPECT_STREQ(copy, "copied");
    FreeTreeObject(copy, sizeof text);
    EXPECT_EQ(arena.Duplicate(text, 0), nullptr);
}
