#pragma once
// The advanced settings dialog without its windows: a copy of the scan options that the pages
// edit, their default states, the RAW page's rules and the RAW type tree with its tick states.
// Only Store writes the copy back.
#include "filesystems/FileProperties.h"

#include <cstdint>
#include <string>
#include <vector>

namespace settingstool {

// The RAW type tree: six groups of built-in types with three-state ticks.
class RawTypeTree {
public:
    enum State : int { kUnticked = 0, kPartly = 1, kTicked = 2 };
    struct Leaf {
        const char* text;
        std::uint32_t id;
        int state = kUnticked;
    };
    struct Group {
        const char* text;
        const char* iconName;  // a file name whose type gives the group's icon
        std::vector<Leaf> leaves;
        int state = kUnticked;
    };

    RawTypeTree();
    const std::vector<Group>& Groups() const { return m_groups; }

    void UntickAll();
    // Ticks every leaf of `id` and recomputes every group.
    void CheckTypeId(std::uint32_t id);
    // A click on the tick box of a group (leaf < 0) or of one of its leaves.
    void ToggleGroup(std::size_t group);
    void ToggleLeaf(std::size_t group, std::size_t leaf);
    // The ids to store: ticked leaves in table order, then one 44 per ticked compound-file
    // type and one 46 per 5, in list order (entries added here included).
    std::vector<std::uint32_t> StoredIds() const;

private:
    void UpdateGroupState(Group& group);
    std::vector<Group> m_groups;
};

// The dialog's page controls.
struct SettingsStates {
    // NTFS
    bool useNtfsVolumeSize = true, useMftFile = true, showMftOnlyFiles = true;
    // FAT
    bool checkFatDate = true, checkFatTime = true, fatThirdCheck = true, useFirstFat = true,
         useSecondFat = true;
    // Common
    bool useBootRecords = true, usePartitionTables = false, extensiveVolumesSearch = false;
    // RAW
    bool recoverRaw = true, recoverRawOnly = false;
    std::uint64_t maxRawFileSize = 50000000;
    std::string maxSizeText = "50000000";
};

class SettingsModel {
public:
    // `rawOnlyAllowed`: the "Recover RAW files only" box may be ticked; `typeTreeEnabled`:
    // the type tree may be used. Opens on the default states.
    SettingsModel(const ScanOptions& options, bool rawOnlyAllowed, bool typeTreeEnabled);

    SettingsStates& States() { return m_states; }
    const SettingsStates& States() const { return m_states; }
    RawTypeTree& Tree() { return m_tree; }

    // Enabled states of the RAW page's controls.
    bool RawOnlyEnabled() const { return m_rawOnlyAllowed && m_states.recoverRaw; }
    bool SizeEditEnabled() const { return m_states.recoverRaw; }
    bool TreeEnabled() const { return m_typeTreeEnabled && m_states.recoverRaw; }

    // The default button (and the opening states).
    void SetDefaults();
    // A change of the size text: its leading decimal number (0 when none or negative, at most
    // 2147483647) becomes the size, and the text is rewritten.
    void OnMaxSizeChange(const std::string& text);
    void OnRecoverRawClicked(bool ticked);
    void OnRawOnlyClicked(bool ticked);

    // OK: every option, the type list included, written to `options`.
    void Store(ScanOptions* options) const;

private:
    SettingsStates m_states;
    RawTypeTree m_tree;
    ScanOptions m_original;
    bool m_rawOnlyAllowed;
    bool m_typeTreeEnabled;
};

}  // namespace settingstool
