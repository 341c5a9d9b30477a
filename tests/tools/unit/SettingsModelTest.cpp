// The advanced settings: OK, Cancel and Default over every option, and the RAW type tree.
#include "tools/SettingsModel.h"

#include <gtest/gtest.h>

using namespace settingstool;

namespace {

ScanOptions Unusual() {
    ScanOptions o;
    o.UseBootRecords = 0;
    o.UsePartitionTables = 1;
    o.ExtensiveVolumesSearch = 1;
    o.CheckFatDateField = 0;
    o.CheckFatTimeField = 0;
    o.FatThirdCheck = 0;
    o.UseFirstFatCopy = 0;
    o.UseSecondFatCopy = 0;
    o.UseNtfsVolumeSize = 0;
    o.UseMftFile = 0;
    o.ShowMftOnlyFiles = 0;
    o.RecoverRawFiles = 0;
    o.RecoverRawFilesOnly = 1;
    o.MaxRawFileSize = 1234;
    o.RawFileTypes.Clear();
    o.RawFileTypes.Add(33);
    return o;
}

std::vector<std::uint32_t> Fields(const ScanOptions& o) {
    return {o.UseBootRecords,    o.UsePartitionTables, o.ExtensiveVolumesSearch,
            o.CheckFatDateField, o.CheckFatTimeField,  o.FatThirdCheck,
            o.UseFirstFatCopy,   o.UseSecondFatCopy,   o.UseNtfsVolumeSize,
            o.UseMftFile,        o.ShowMftOnlyFiles,   o.RecoverRawFiles,
            o.RecoverRawFilesOnly, static_cast<std::uint32_t>(o.MaxRawFileSize)};
}

}  // namespace

TEST(SettingsModel, OkCancelDefault) {
    // The dialog opens on the default states; OK stores them (with "$MFT only" on), Cancel
    // (never calling Store) leaves the options as they were, the type list included.
    const std::vector<std::uint32_t> defaults = {1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 50000000};
    {
        ScanOptions options = Unusual();
        SettingsModel model(options, true, true);
        EXPECT_EQ(Fields(options), Fields(Unusual()));
        EXPECT_EQ(options.RawFileTypes.Ids(), std::vector<std::uint32_t>{33});
        model.Store(&options);
        EXPECT_EQ(Fields(options), defaults);
        EXPECT_EQ(options.RawFileTypes.Size(), 78u);
    }
    {
        // Every field changed, then Default, then OK: the defaults again.
        ScanOptions options = Unusual();
        SettingsModel model(options, true, true);
        SettingsStates& s = model.States();
        s.useNtfsVolumeSize = s.useMftFile = s.showMftOnlyFiles = false;
        s.checkFatDate = s.checkFatTime = s.fatThirdCheck = s.useFirstFat = s.useSecondFat = false;
        s.useBootRecords = false;
        s.usePartitionTables = s.extensiveVolumesSearch = true;
        model.OnRawOnlyClicked(true);
        model.OnMaxSizeChange("77");
        model.Tree().ToggleGroup(0);
        model.Store(&options);
        EXPECT_EQ(Fields(options), (std::vector<std::uint32_t>{0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 77}));
        EXPECT_LT(options.RawFileTypes.Size(), 78u);
        model.SetDefaults();
        model.Store(&options);
        EXPECT_EQ(Fields(options), defaults);
        EXPECT_EQ(options.RawFileTypes.Size(), 78u);
    }
}

TEST(SettingsModel, RawPageRules) {
    const ScanOptions start;
    SettingsModel model(start, false, true);
    model.OnRawOnlyClicked(true);
    EXPECT_FALSE(model.States().recoverRawOnly);  // not allowed: stays off
    EXPECT_FALSE(model.RawOnlyEnabled());

    SettingsModel allowed(start, true, true);
    allowed.OnRawOnlyClicked(true);
    EXPECT_TRUE(allowed.States().recoverRawOnly);
    allowed.OnRecoverRawClicked(false);
    EXPECT_FALSE(allowed.States().recoverRawOnly);
    EXPECT_FALSE(allowed.SizeEditEnabled());
    EXPECT_FALSE(allowed.TreeEnabled());
    EXPECT_FALSE(allowed.RawOnlyEnabled());
    allowed.OnRecoverRawClicked(true);
    EXPECT_TRUE(allowed.TreeEnabled());

    const struct {
        const char* text;
        std::uint64_t value;
    } sizes[] = {{"12abc", 12}, {"-5", 0}, {"", 0}, {"abc", 0}, {"2147483647", 2147483647},
                 {"99999999999", 2147483647}};
    for (const auto& c : sizes) {
        allowed.OnMaxSizeChange(c.text);
        EXPECT_EQ(allowed.States().maxRawFileSize, c.value) << c.text;
        EXPECT_EQ(allowed.States().maxSizeText, std::to_string(c.value)) << c.text;
    }

    // With the tree out of reach the type list is kept as it was.
    ScanOptions options;
    options.RawFileTypes.Clear();
    options.RawFileTypes.Add(9);
    SettingsModel noTree(options, false, false);
    EXPECT_FALSE(noTree.TreeEnabled());
    noTree.Store(&options);
    EXPECT_EQ(options.RawFileTypes.Ids(), std::vector<std::uint32_t>{9});
}

TEST(RawTypeTree, StoredLists) {
    RawTypeTree tree;
    std::size_t leaves = 0;
    for (const auto& g : tree.Groups()) leaves += g.leaves.size();
    EXPECT_EQ(leaves, 64u);

    for (std::uint32_t id = 1; id <= 68; ++id) tree.CheckTypeId(id);
    const std::vector<std::uint32_t> all = tree.StoredIds();
    ASSERT_EQ(all.size(), 78u);
    std::vector<std::uint32_t> expectedTail = {44, 46};
    for (int i = 0; i < 12; ++i) expectedTail.push_back(44);
    EXPECT_EQ(std::vector<std::uint32_t>(all.begin() + 64, all.end()), expectedTail);
    EXPECT_EQ(all[0], 35u);
    EXPECT_EQ(all[63], 38u);
    for (std::uint32_t missing : {20u, 26u, 55u})
        EXPECT_EQ(std::count(all.begin(), all.end(), missing), 0);

    tree.UntickAll();
    tree.ToggleLeaf(0, 2);  // "Adobe Illustrator file(.ai)"
    EXPECT_EQ(tree.Groups()[0].state, RawTypeTree::kPartly);
    EXPECT_EQ(tree.StoredIds(), (std::vector<std::uint32_t>{5, 46}));

    // Group states follow their leaves; a partly ticked group ticks all when clicked.
    tree.ToggleGroup(0);
    EXPECT_EQ(tree.Groups()[0].state, RawTypeTree::kTicked);
    for (const auto& leaf : tree.Groups()[0].leaves) EXPECT_EQ(leaf.state, RawTypeTree::kTicked);
    tree.ToggleGroup(0);
    EXPECT_EQ(tree.Groups()[0].state, RawTypeTree::kUnticked);
    tree.ToggleLeaf(4, 0);
    tree.ToggleLeaf(4, 1);
    EXPECT_EQ(tree.Groups()[4].state, RawTypeTree::kTicked);
    tree.ToggleLeaf(4, 1);
    EXPECT_EQ(tree.Groups()[4].state, RawTypeTree::kPartly);
    // A ticked 46 leaf and a ticked 5 give two 46.
    tree.UntickAll();
    tree.CheckTypeId(5);
    tree.CheckTypeId(46);
    EXPECT_EQ(tree.StoredIds(), (std::vector<std::uint32_t>{5, 46, 46}));
}
