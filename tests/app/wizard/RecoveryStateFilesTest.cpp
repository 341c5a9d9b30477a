// The recovery-state files: stage words, the chain written and read back, promotion of the
// previous run's file, the copy back on restore, damaged files; the deep-scan progress model;
// the found-partition rows the page builds from a scan's partitions.
#include "app/wizard/AppContext.h"
#include "app/wizard/DeepScanProgress.h"
#include "app/wizard/PageController.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "app/wizard/ScanPartitionList.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ScriptedUiServices.h"
#include "ui/controls/StringTable.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class NullSheet : public ISheet {
public:
    void SetActivePage(int index) override { shown.push_back(index); }
    int GetActivePage() const override { return shown.empty() ? 0 : shown.back(); }
    std::vector<int> shown;
};

class NoDevices : public IDeviceSource {
public:
    void CollectDisks(DiskList&) override {}
    void CollectVolumes(VolumeList&, DiskList&) override {}
    void FreeVolumes(VolumeList&) override {}
    void FreeDisks(DiskList&) override {}
};

// {A1B2C3D4-0000-4000-8000-000000000001}: a test step's own section.
constexpr RSGuid kStepSection{0xA1B2C3D4, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};

// A persisted step of a given type that writes one number into its own section.
class PersistingStep : public CWizardPageControllerBase {
public:
    PersistingStep(ISheet* sheet, int page, int type, int kind) : CWizardPageControllerBase(sheet, page), m_type(type), m_kind(kind) {}
    int GetControllerType() const override { return m_type; }
    int GetScanKind() const override { return m_kind >= 0 ? m_kind : CWizardPageControllerBase::GetScanKind(); }
    int SaveState(IRSData* store) override {
        store->OpenSection(RSGuid{kStepSection.data1 + static_cast<std::uint32_t>(m_type), 0, 0x4000, {0x80}});
        store->Write(&value, sizeof value);
        store->CloseSection();
        return 1;
    }
    int RestoreState(IRSData* store) override {
        ++restores;
        store->OpenSection(RSGuid{kStepSection.data1 + static_cast<std::uint32_t>(m_type), 0, 0x4000, {0x80}});
        std::uint32_t v = 0;
        store->Read(&v, sizeof v);
        store->CloseSection();
        restored = v;
        return failRestore ? 0 : 1;
    }
    void Reset() override { ++resets; restored = 0; }
    std::uint32_t value = 0, restored = 0;
    int restores = 0, resets = 0;
    bool failRestore = false;

private:
    int m_type, m_kind;
};

struct StateWizard {
    ScriptedUiServices ui;
    NoDevices devices;
    AppContext ctx;
    NullSheet sheet;
    PersistingStep* device;  // page 2, type 0, deep scan
    PersistingStep* parts;   // page 7, type 1
    PersistingStep* files;   // page 9, type 5
    explicit StateWizard(const std::string& stateDir)
        : ctx(ui, devices, platform::AppPaths{"", stateDir, "", ""}) {
        ctx.SetSheet(&sheet);
        device = Install(kPageCompleteRecoveryPartition, kControllerCompleteRecoveryPartition, kScanDeep);
        parts = Install(kPageCompleteRecoveryScanPartition, kControllerCompleteRecoveryScanPartition, -1);
        files = Install(kPageFileSelect, kControllerFileSelect, -1);
        device->SetPrevious(&ctx.ModeController());
        parts->SetPrevious(device);
        files->SetPrevious(parts);
    }
    PersistingStep* Install(int page, int type, int kind) {
        auto s = std::make_unique<PersistingStep>(&sheet, page, type, kind);
        PersistingStep* raw = s.get();
        ctx.SetController(page, std::move(s));
        return raw;
    }
};

std::uint32_t StageOfFile(const std::string& path) {
    CRSDataEx reader(RSDATA_READ);
    if (!reader.Open(path.c_str(), false))
        return 99;
    return reader.GetStage();
}

} // namespace

TEST(RecoveryStateFiles, StagesLimitsAndPaths) {
    const int types[] = {0, 1, 2, 3, 4, 5, 6};
    const std::uint32_t stages[] = {0, 1, 0, 3, 4, 2, 0};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(StageOfControllerType(types[i]), stages[i]) << i;
    const std::uint32_t limits[] = {6, 1, 5, 3, 4, 6};
    for (std::uint32_t s = 0; s < 6; ++s)
        EXPECT_EQ(RestoreLimitOfStage(s), limits[s]) << s;

    StateWizard w(ScratchDir("state-paths") + "/");
    RecoveryStatePaths p;
    ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanDeep, p));
    EXPECT_EQ(std::filesystem::path(p.temporary).filename(), "brulincstemp.rdf");
    EXPECT_EQ(std::filesystem::path(p.last).filename(), "brulincslast.rdf");
    ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanLostPartition, p));
    EXPECT_EQ(std::filesystem::path(p.last).filename(), "brulinlpslast.rdf");
    for (int kind : {kScanDeletedFile, kScanNone})
        EXPECT_FALSE(GetRecoveryStatePaths(w.ctx, kind, p)) << kind;
    // A quick scan's step never touches a file.
    PersistingStep quick(&w.sheet, 1, kControllerNotPersisted, kScanDeletedFile);
    EXPECT_FALSE(SaveControllerStatus(w.ctx, &quick));
    EXPECT_FALSE(SaveRecoveryStatesWorker(w.ctx, &quick, nullptr));
    EXPECT_EQ(LoadRecoveryStates(w.ctx, &quick, nullptr), nullptr);
}

TEST(RecoveryStateFiles, SavePromoteRestoreAndCopyBack) {
    const std::string dir = ScratchDir("state-round") + "/";
    std::filesystem::remove_all(dir);
    RecoveryStatePaths paths;
    {
        StateWizard run1(dir);
        ASSERT_TRUE(GetRecoveryStatePaths(run1.ctx, kScanDeep, paths));
        // Step 1 active: stage 0, so the file is not offered to the next run.
        EXPECT_TRUE(PromoteRecoveryStateFile(run1.ctx, run1.device));  // nothing there yet
        EXPECT_TRUE(SaveControllerStatus(run1.ctx, run1.device));
        EXPECT_EQ(StageOfFile(paths.temporary), 0u);
        run1.device->value = 11;
        run1.parts->value = 22;
        run1.files->value = 33;
        ASSERT_TRUE(SaveRecoveryStatesWorker(run1.ctx, run1.files, nullptr));
        EXPECT_EQ(StageOfFile(paths.temporary), 2u);
        EXPECT_FALSE(std::filesystem::exists(paths.temporary + ".part"));
        run1.ui.ExpectProgress();
        EXPECT_TRUE(SaveRecoveryStates(run1.ctx, run1.files));  // on a worker, same result
    }
    {
        StateWizard run2(dir);
        std::string description;
        EXPECT_FALSE(GetSavedResultInfo(run2.ctx, run2.device, description));  // no last file yet
        ASSERT_TRUE(PromoteRecoveryStateFile(run2.ctx, run2.device));
        EXPECT_FALSE(std::filesystem::exists(paths.temporary));
        EXPECT_TRUE(GetSavedResultInfo(run2.ctx, run2.device, description));
        // The step moves on: its temporary file now follows the new run.
        EXPECT_TRUE(SaveControllerStatus(run2.ctx, run2.device));

        IWizardPageController* current = LoadRecoveryStates(run2.ctx, run2.device, nullptr);
        EXPECT_EQ(current, run2.files);
        EXPECT_EQ(run2.device->restored, 11u);
        EXPECT_EQ(run2.parts->restored, 22u);
        EXPECT_EQ(run2.files->restored, 33u);
        EXPECT_EQ(run2.parts->GetPrevious(), run2.device);
        EXPECT_EQ(ReadFileBytes(paths.temporary), ReadFileBytes(paths.last));  // copied back

        // Saved at stage 1: only the first two steps come back.
        ASSERT_TRUE(SaveRecoveryStatesWorker(run2.ctx, run2.parts, nullptr));
        std::filesystem::copy_file(paths.temporary, paths.last, std::filesystem::copy_options::overwrite_existing);
        run2.files->restores = 0;
        EXPECT_EQ(LoadRecoveryStates(run2.ctx, run2.device, nullptr), run2.parts);
        EXPECT_EQ(run2.files->restores, 0);

        // A step that cannot restore fails the whole load and the steps are reset.
        run2.parts->failRestore = true;
        const int resets = run2.parts->resets;
        EXPECT_EQ(LoadRecoveryStates(run2.ctx, run2.device, nullptr), nullptr);
        EXPECT_EQ(run2.parts->resets, resets + 1);
        run2.parts->failRestore = false;

        // The stage-0 temporary file of an unfinished run is not promoted over a good last file.
        EXPECT_TRUE(SaveControllerStatus(run2.ctx, run2.device));
        const auto last = ReadFileBytes(paths.last);
        EXPECT_TRUE(PromoteRecoveryStateFile(run2.ctx, run2.device));
        EXPECT_EQ(ReadFileBytes(paths.last), last);

        EXPECT_TRUE(DeleteSavedRecoveryState(run2.ctx, run2.device));
        EXPECT_FALSE(std::filesystem::exists(paths.last));
        EXPECT_EQ(LoadRecoveryStates(run2.ctx, run2.device, nullptr), nullptr);
    }
}

TEST(RecoveryStateFiles, DamagedAndForeignFilesRestoreNothing) {
    const std::string dir = ScratchDir("state-damaged") + "/";
    std::filesystem::remove_all(dir);
    StateWizard w(dir);
    RecoveryStatePaths paths;
    ASSERT_TRUE(GetRecoveryStatePaths(w.ctx, kScanDeep, paths));
    w.device->value = 5;
    w.parts->value = 6;
    w.files->value = 7;
    ASSERT_TRUE(SaveRecoveryStatesWorker(w.ctx, w.files, nullptr));
    const auto good = ReadFileBytes(paths.temporary);
    ASSERT_GT(good.size(), 200u);

    std::vector<std::vector<std::uint8_t>> damaged;
    damaged.push_back(std::vector<std::uint8_t>(good.begin(), good.begin() + 124));  // header only
    damaged.push_back(std::vector<std::uint8_t>(good.begin(), good.end() - 9));      // cut short
    damaged.push_back(PatternBytes(4096, 9));                                       // foreign
    auto flipped = good;
    for (std::size_t i = 160; i < flipped.size(); i += 37)
        flipped[i] ^= 0x5A;
    damaged.push_back(flipped);
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(WriteFileBytes(paths.last, damaged[i]));
        const int resets = w.files->resets;
        EXPECT_EQ(LoadRecoveryStates(w.ctx, w.device, nullptr), nullptr);
        if (w.files->restores)
            EXPECT_GE(w.files->resets, resets);
        // A load that failed never leaves the temporary file replaced.
        EXPECT_EQ(ReadFileBytes(paths.temporary), good);
    }
    // The store of one failed load does not fail the next one.
    ASSERT_TRUE(WriteFileBytes(paths.last, good));
    EXPECT_EQ(LoadRecoveryStates(w.ctx, w.device, nullptr), w.files);
}

TEST(DeepScanProgress, ScaleThrottleAndTexts) {
    struct Case {
        std::uint64_t first, last, scale;
    } cases[] = {{0, 0, 1}, {0, 1000, 1}, {0, 1001, 10}, {0, 10000, 10}, {0, 10009, 10}, {0, 10010, 100},
                 {0, 123456, 1000}, {500, 100, 1}, {0, ~0ull, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(ScaleForRange(c.first, c.last), c.scale) << c.first << ".." << c.last;

    std::uint64_t now = 1000;
    CDeepScanProgressModel m([&] { return now; });
    m.SetRange(0, 123456);
    EXPECT_EQ(m.Snapshot().barMaximum, 123u);
    EXPECT_EQ(m.Snapshot().remaining, uistr::UiString(uistr::kCalculating));
    now += 300;
    m.SetPosition(5000);  // within 300 ms of the dialog's start: nothing moves
    EXPECT_EQ(m.Snapshot().barPosition, 0u);
    now += 1;
    m.SetPosition(100);  // bar 0: no estimate yet
    EXPECT_EQ(m.Snapshot().remaining, uistr::UiString(uistr::kCalculating));
    now += 60000;
    m.SetPosition(61000);  // 61 of 123 steps after ~60 s
    auto v = m.Snapshot();
    EXPECT_EQ(v.barPosition, 61u);
    EXPECT_EQ(v.remaining, "0:1:1");  // (123 - 61) x 603 / 61 x 100 ms
    now += 100;
    m.SetPosition(62000);  // throttled
    EXPECT_EQ(m.Snapshot().barPosition, 61u);
    now += 200000;
    m.SetPosition(123456);  // done: zeros in the clock format, never "Calculating..." again
    EXPECT_EQ(m.Snapshot().remaining, "0:0:0");

    IntelligentSearchStats stats{};
    for (int i = 0; i < 16; ++i)
        stats.counters[i] = 100 + static_cast<std::uint64_t>(i);
    m.SetStatistics(&stats);
    IntelligentSearchStats back{};
    m.GetStatistics(&back);
    EXPECT_EQ(back.counters[15], 115u);
    EXPECT_EQ(m.Snapshot().counters[7], 107u);

    for (int i = 0; i < 3661; ++i)
        m.Tick();
    EXPECT_EQ(m.Snapshot().elapsed, "1:1:1");
    EXPECT_EQ(m.IsCancelled(), 0);
    m.Cancel();
    EXPECT_EQ(m.IsCancelled(), 1);
    EXPECT_TRUE(m.Snapshot().cancelled);
}

TEST(ScanPartitionList, RowsSuggestionsOptionsAndLimits) {
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    auto fat = std::make_unique<CFATSearchedPartitionInfo>();
    fat->m_fileSystemType = FILESYSTEM_FAT32;
    fat->m_u64KeptFirstSector = 2048;
    fat->m_u32SectorCount = 1000;
    fat->m_relativeScore = 0.5;
    fat->m_u32EvidenceFlags = FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_USE_FIRST_FAT | FATEVIDENCE_SECOND_FAT_SEEN;
    fat->m_u64EvidenceA = 3;
    fat->m_u64EvidenceB = 9;
    auto ntfs = std::make_unique<CSearchedNTFSPartitionInfo>();
    ntfs->m_fileSystemType = FILESYSTEM_NTFS;
    ntfs->m_u64KeptFirstSector = 3048;  // touches the FAT partition
    ntfs->SetSectorCount(5ull << 32);   // beyond 2 TiB
    ntfs->m_relativeScore = 1.0;
    auto ntfsFixed = std::make_unique<CSearchedNTFSPartitionInfo>();
    ntfsFixed->m_fileSystemType = FILESYSTEM_NTFS;
    ntfsFixed->m_u32UseMftFile = ntfsFixed->m_u32MftOnly = 0xFFFFFFFF;
    ntfsFixed->m_relativeScore = 0.2;
    auto other = std::make_unique<CSearchedPartitionInfo>();
    other->m_fileSystemType = FILESYSTEM_UNKNOWN;
    other->m_relativeScore = 0.99;
    owned.push_back(std::move(fat));
    owned.push_back(std::move(ntfs));
    owned.push_back(std::move(ntfsFixed));
    owned.push_back(std::move(other));
    std::vector<CSearchedPartitionInfo*> list;
    for (auto& p : owned)
        list.push_back(p.get());

    CScanPartitionListModel model;
    FillPartitionList(model, list, 1);
    ASSERT_EQ(model.RowCount(), 4);
    EXPECT_DOUBLE_EQ(model.Threshold(), (0.2 + 0.99) / 2);
    const ScanPartitionRow& r0 = *model.RowAt(0);
    EXPECT_EQ(r0.name, "Partition 1 FAT32");
    EXPECT_EQ(r0.firstSector, 2048u);
    EXPECT_EQ(r0.lastSector, 3047u);  // first + count - 1: the NTFS row starts right after
    EXPECT_EQ(r0.SectorCount(), 1000u);
    ASSERT_EQ(r0.options.size(), 2u);
    EXPECT_EQ(r0.options[0].text, "FAT1");
    EXPECT_TRUE(r0.options[0].ticked);
    EXPECT_EQ(r0.options[1].text, "FAT2");
    EXPECT_FALSE(r0.options[1].ticked);
    EXPECT_EQ(r0.foldersMatch, 3u);
    EXPECT_EQ(r0.filesMatch, 9u);
    const ScanPartitionRow& r1 = *model.RowAt(1);
    EXPECT_EQ(r1.name, "Partition 2 NTFS");
    EXPECT_EQ(r1.SectorCount(), 5ull << 32);
    EXPECT_EQ(r1.kind, 1u);  // the best one alone is suggested and ticked
    ASSERT_EQ(r1.options.size(), 1u);
    EXPECT_EQ(r1.options[0].text, "$MFT Only");
    EXPECT_TRUE(model.RowAt(2)->options.empty());
    EXPECT_FALSE(model.RowAt(3)->hasRange);
    EXPECT_EQ(model.RowAt(3)->name, "Partition 3 Unknown");
    EXPECT_EQ(model.GetCheckedCount(), 1);
    EXPECT_TRUE(model.IsRowChecked(1));
    EXPECT_FALSE(model.IsRowChecked(7));
    EXPECT_EQ(model.Suggestion(1), "High");
    EXPECT_EQ(model.Suggestion(0), "Low");
    EXPECT_EQ(model.Suggestion(3), "Medium");  // exactly 0.99 is never "High"
    EXPECT_EQ(model.sourceType, -1);

    // Option boxes change the partition's choices.
    auto* f = static_cast<CFATSearchedPartitionInfo*>(list[0]);
    EXPECT_TRUE(OnPartitionOptionToggled(model, 0, 3, 0, false));
    EXPECT_FALSE(f->m_u32EvidenceFlags & FATEVIDENCE_USE_FIRST_FAT);
    EXPECT_TRUE(OnPartitionOptionToggled(model, 0, 3, 1, true));
    EXPECT_TRUE(f->m_u32EvidenceFlags & FATEVIDENCE_USE_SECOND_FAT);
    EXPECT_FALSE(OnPartitionOptionToggled(model, 0, 2, 0, true));  // another cell
    EXPECT_TRUE(OnPartitionOptionToggled(model, 1, 3, 0, true));
    EXPECT_EQ(static_cast<CSearchedNTFSPartitionInfo*>(list[1])->m_u32MftOnly, 1u);
    EXPECT_FALSE(OnPartitionOptionToggled(model, 2, 3, 0, true));  // fixed: no option
    EXPECT_FALSE(OnPartitionOptionToggled(model, 9, 3, 0, true));

    // More than 100 of a family: later ones are left out but still numbered.
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> many;
    std::vector<CSearchedPartitionInfo*> manyList;
    for (int i = 0; i < 102; ++i) {
        auto p = std::make_unique<CFATSearchedPartitionInfo>();
        p->m_fileSystemType = FILESYSTEM_FAT16;
        p->m_u32SectorCount = 10;
        manyList.push_back(p.get());
        many.push_back(std::move(p));
    }
    auto last = std::make_unique<CSearchedNTFSPartitionInfo>();
    last->m_fileSystemType = FILESYSTEM_NTFS;
    manyList.push_back(last.get());
    CScanPartitionListModel big;
    FillPartitionList(big, manyList, 4);
    ASSERT_EQ(big.RowCount(), 101);
    EXPECT_EQ(big.RowAt(100)->name, "Partition 103 NTFS");
    EXPECT_EQ(big.GetCheckedCount(), 0);  // nothing was scored
}
