// The recovery-state files: stage words, the chain written and read back, promotion of the
// previous run's file, the copy back on restore, damaged files; the deep-scan progress model;
#include "app/wizard/AppContext.h"
#include "app/wizard/DeepScanProgress.h"
#include "app/wizard/PageController.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
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

// {A1B2C3D4-0000-4000-8000-000000000001}: a test step's own section.
constexpr RSGuid kStepSection{0xA1B2C3D4, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 1}};

// A persisted step of a given type that writes one number into its own section.
class PersistingStep : public CWizardPageControllerBase {
public:
    PersistingStep(ISheet* sheet, int page, int type, int kind)
        : CWizardPageControllerBase(sheet, page), m_type(type), m_kind(kind) {}
    int GetControllerType() const override { return m_type; }
    int GetScanKind() const override {
        return m_kind >= 0 ? m_kind : CWizardPageControllerBase::GetScanKind();
    }
    int SaveState(IRSData* store) override {
        store->OpenSection(
            RSGuid{kStepSection.data1 + static_cast<std::uint32_t>(m_type), 0, 0x4000, {0x80}});
        store->Write(&value, sizeof value);
        store->CloseSection();
        return 1;
    }
    int RestoreState(IRSData* store) override {
        ++restores;
        store->OpenSection(
            RSGuid{kStepSection.data1 + static_cast<std::uint32_t>(m_type), 0, 0x4000, {0x80}});
        std::uint32_t v = 0;
        store->Read(&v, sizeof v);
        store->CloseSection();
        restored = v;
        return failRestore ? 0 : 1;
    }
    void Reset() override {
        ++resets;
        restored = 0;
    }
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
    PersistingStep* device; // page 2, type 0, deep scan
    PersistingStep* parts;  // page 7, type 1
    PersistingStep* files;  // page 9, type 5
    explicit StateWizard(const std::string& stateDir)
        : ctx(ui, devices, platform::AppPaths{"", stateDir, "", ""}) {
        ctx.SetSheet(&sheet);
        device = Install(kPageCompleteRecoveryPartition, kControllerCompleteRecoveryPartition,
                         kScanDeep);
        parts = Install(kPageCompleteRecoveryScanPartition,
                        kControllerCompleteRecoveryScanPartition, -1);
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
        EXPECT_TRUE(PromoteRecoveryStateFile(run1.ctx, run1.device)); // nothing there yet
        EXPECT_TRUE(SaveControllerStatus(run1.ctx, run1.device));
        EXPECT_EQ(StageOfFile(paths.temporary), 0u);
        run1.device->value = 11;
        run1.parts->value = 22;
        run1.files->value = 33;
        ASSERT_TRUE(SaveRecoveryStatesWorker(run1.ctx, run1.files, nullptr));
        EXPECT_EQ(StageOfFile(paths.temporary), 2u);
        EXPECT_FALSE(std::filesystem::exists(paths.temporary + ".part"));
        run1.ui.ExpectProgress();
        EXPECT_TRUE(SaveRecoveryStates(run1.ctx, run1.files)); // on a worker, same result
    }
    {
        StateWizard run2(dir);
        std::string description;
        EXPECT_FALSE(GetSavedResultInfo(run2.ctx, run2.device, description)); // no last file yet
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
        EXPECT_EQ(ReadFileBytes(paths.temporary), ReadFileBytes(paths.last)); // copied back

        // Saved at stage 1: only the first two steps come back.
        ASSERT_TRUE(SaveRecoveryStatesWorker(run2.ctx, run2.parts, nullptr));
        std::filesystem::copy_file(paths.temporary, paths.last,
                                   std::filesystem::copy_options::overwrite_existing);
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
    damaged.push_back(std::vector<std::uint8_t>(good.begin(), good.begin() + 124)); // header only
    damaged.push_back(std::vector<std::uint8_t>(good.begin(), good.end() - 9));     // cut short
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
        if (w.files->restores) {
            EXPECT_GE(w.files->resets, resets);
        }
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
    } cases[] = {{0, 0, 1},       {0, 1000, 1},      {0, 1001, 10}, {0, 10000, 10}, {0, 10009, 10},
                 {0, 10010, 100}, {0, 123456, 1000}, {500, 100, 1}, {0, ~0ull, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(ScaleForRange(c.first, c.last), c.scale) << c.first << ".." << c.last;

    std::uint64_t now = 1000;
    CDeepScanProgressModel m([&] { return now; });
    m.SetRange(0, 123456);
    EXPECT_EQ(m.Snapshot().barMaximum, 123u);
    EXPECT_EQ(m.Snapshot().remaining, uistr::UiString(uistr::kCalculating));
    now += 300;
    m.SetPosition(5000); // within 300 ms of the dialog's start: nothing moves
    EXPECT_EQ(m.Snapshot().barPosition, 0u);
    now += 1;
    m.SetPosition(100); // bar 0: no estimate yet
    EXPECT_EQ(m.Snapshot().remaining, uistr::UiString(uistr::kCalculating));
    now += 60000;
    m.SetPosition(61000); // 61 of 123 steps after ~60 s
    auto v = m.Snapshot();
    EXPECT_EQ(v.barPosition, 61u);
    EXPECT_EQ(v.remaining, "0:1:1"); // (123 - 61) x 603 / 61 x 100 ms
    now += 100;
    m.SetPosition(62000); // throttled
    EXPECT_EQ(m.Snapshot().barPosition, 61u);
    now += 200000;
    m.SetPosition(123456); // done: zeros in the clock format, never "Calculating..." again
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
