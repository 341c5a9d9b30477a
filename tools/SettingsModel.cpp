#include "tools/SettingsModel.h"

#include <algorithm>

namespace settingstool {

namespace {

struct LeafDef {
    const char* text;
    std::uint32_t id;
};

const LeafDef kGraphics[] = {
    {"3d Studio Max file(.max)", 35}, {"ANI file(.ani)", 4}, {"Adobe Illustrator file(.ai)", 5},
    {"Bitmap file(.bmp)", 9}, {"COREL Darw file(.cdr)", 11},
    {"Corel Draw Corel RAVE Image file(.clk)", 13}, {"Corel Draw Vector Image file(.cmx)", 14},
    {"Corel Photo Paint Image file(.cpt)", 15}, {"Canon Raw graphics file(.crw)", 16},
    {"Cursor file(.cur)", 18}, {"AutoCAD Drawing file(.dwg)", 22}, {"AutoCad DX File(.dxf)", 23},
    {"Enhanced Metafile(.emf)", 24}, {"Encapsulated Postscript file(.eps)", 25},
    {"Freehand 10 file(.fh11)", 27}, {"GIF graphics file(.gif)", 28}, {"Icon file(.ico)", 32},
    {"JPEG Graphics file(.jpg.jpeg)", 33}, {"Portable Network Graphic file(.png)", 47},
    {"Adobe Photoshop file(.psd)", 50}, {"Paint Shop Pro file(.psp)", 51},
    {"QuattroPro 7 File(.qpw)", 53}, {"Corel Presentation File(.shw)", 57},
    {"Tagged Image File(.tif)", 60}};
const LeafDef kDocuments[] = {
    {"Microsoft Word Document(.doc)", 21}, {"Help file(.hlp)", 30},
    {"HTML Documents file(.htm.html)", 31}, {"MOF file(.mof)", 39},
    {"Microsoft Project file(.mpp)", 43}, {"Microsoft OneNote file(.one)", 45},
    {"Adobe Portable Document(.pdf)", 46}, {"Microsoft PowerPoint Presentation file(.ppt)", 48},
    {"Microsoft Publisher Document(.pub)", 49}, {"Rich Text Document(.rtf)", 56},
    {"True Type Font file(.ttf)", 61}, {"Microsoft Visio Drawing(.vsd)", 62},
    {"WordPerfect file(.wpd)", 64}, {"WordPerfect Documents and Graphics v8(.wpg)", 65},
    {"Microsoft Excel XML Documents(.xls)", 67}};
const LeafDef kArchives[] = {
    {"3DS file (.3ds)", 1}, {"Cabinet file(.cab)", 10}, {"CHM file(.chm)", 12},
    {"CSL file(.csl)", 17}, {"GZIP compression file(.gz)", 29},
    {"LZH compression file(.lzh)", 34}, {"RAR compression file(.rar)", 54},
    {"TAR archive file(.tar)", 59}, {"Zip compression file(.zip)", 68}};
const LeafDef kMultimedia[] = {
    {"3GP Multimedia file(.3gp)", 2}, {"Audio Streaming Format file(.asf)", 6},
    {"AU file(.au)", 7}, {"Audio Video Interleave file(.avi)", 8},
    {"Musical Instrument Digital Interface file(.mid)", 36}, {"MOV Multimedia file(.mov)", 40},
    {"MP3 Music file(.mp3)", 41}, {"MP4 Multimedia file(.mp4)", 42},
    {"ShockWave Flash file(.swf)", 58}, {"WAVE Multimedia file(.wav)", 63},
    {"WMF Multimedia file(.wmf)", 66}};
const LeafDef kEmail[] = {{"Outlook Express Email file(.dbx)", 19},
                          {"Outlook Email file(.pst)", 52}};
const LeafDef kDatabases[] = {{"Access Project file(.adp)", 3},
                              {"Access Database file(.mdb)", 37},
                              {"Microsoft Money file(.mny)", 38}};

// Types stored in compound files, and the id they depend on.
constexpr std::uint32_t kCompoundIds[] = {39, 21, 67, 48, 35, 62, 64, 57, 65, 49, 53, 43, 3};
constexpr std::uint32_t kCompoundFileId = 44;
constexpr std::uint32_t kIllustratorId = 5;
constexpr std::uint32_t kPdfId = 46;

template <std::size_t N>
RawTypeTree::Group MakeGroup(const char* text, const char* icon, const LeafDef (&leaves)[N]) {
    RawTypeTree::Group group{text, icon, {}, RawTypeTree::kUnticked};
    for (const LeafDef& leaf : leaves) group.leaves.push_back({leaf.text, leaf.id});
    return group;
}

}  // namespace

RawTypeTree::RawTypeTree() {
    m_groups.push_back(MakeGroup("Graphics", "file.bmp", kGraphics));
    m_groups.push_back(MakeGroup("Documents", "file.doc", kDocuments));
    m_groups.push_back(MakeGroup("Archives", "file.cab", kArchives));
    m_groups.push_back(MakeGroup("Multimedia", "file.wav", kMultimedia));
    m_groups.push_back(MakeGroup("Email", "file.pst", kEmail));
    m_groups.push_back(MakeGroup("Databases and Financials", "file.mdb", kDatabases));
}

void RawTypeTree::UntickAll() {
    for (Group& group : m_groups) {
        for (Leaf& leaf : group.leaves) leaf.state = kUnticked;
        group.state = kUnticked;
    }
}

void RawTypeTree::UpdateGroupState(Group& group) {
    std::size_t ticked = 0;
    for (const Leaf& leaf : group.leaves) ticked += leaf.state == kTicked ? 1 : 0;
    if (group.leaves.empty() || ticked == 0)
        group.state = kUnticked;
    else
        group.state = ticked == group.leaves.size() ? kTicked : kPartly;
}

void RawTypeTree::CheckTypeId(std::uint32_t id) {
    for (Group& group : m_groups) {
        for (Leaf& leaf : group.leaves)
            if (leaf.id == id) leaf.state = kTicked;
        UpdateGroupState(group);
    }
}

void RawTypeTree::ToggleGroup(std::size_t index) {
    if (index >= m_groups.size()) return;
    Group& group = m_groups[index];
    const int state = group.state == kTicked ? kUnticked : kTicked;
    for (Leaf& leaf : group.leaves) leaf.state = state;
    group.state = state;
}

void RawTypeTree::ToggleLeaf(std::size_t groupIndex, std::size_t leafIndex) {
    if (groupIndex >= m_groups.size() || leafIndex >= m_groups[groupIndex].leaves.size()) return;
    Leaf& leaf = m_groups[groupIndex].leaves[leafIndex];
    leaf.state = leaf.state == kTicked ? kUnticked : kTicked;
    UpdateGroupState(m_groups[groupIndex]);
}

std::vector<std::uint32_t> RawTypeTree::StoredIds() const {
    std::vector<std::uint32_t> ids;
    for (const Group& group : m_groups)
        for (const Leaf& leaf : group.leaves)
            if (leaf.state == kTicked) ids.push_back(leaf.id);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::uint32_t id = ids[i];
        if (std::find(std::begin(kCompoundIds), std::end(kCompoundIds), id) !=
            std::end(kCompoundIds))
            ids.push_back(kCompoundFileId);
        if (id == kIllustratorId) ids.push_back(kPdfId);
    }
    return ids;
}

SettingsModel::SettingsModel(const ScanOptions& options, bool rawOnlyAllowed,
                             bool typeTreeEnabled)
    : m_original(options), m_rawOnlyAllowed(rawOnlyAllowed), m_typeTreeEnabled(typeTreeEnabled) {
    m_tree.UntickAll();
    for (std::uint32_t id : options.RawFileTypes.Ids()) m_tree.CheckTypeId(id);
    SetDefaults();
}

void SettingsModel::SetDefaults() {
    SettingsStates defaults;
    defaults.recoverRawOnly = false;
    m_states = defaults;
    if (m_typeTreeEnabled) {
        m_tree.UntickAll();
        for (std::uint32_t id = 1; id <= kBuiltInRawTypeCount; ++id) m_tree.CheckTypeId(id);
    }
}

void SettingsModel::OnMaxSizeChange(const std::string& text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > 2147483647u) value = 2147483647u;
    }
    if (negative) value = 0;
    m_states.maxRawFileSize = value;
    m_states.maxSizeText = std::to_string(value);
}

void SettingsModel::OnRecoverRawClicked(bool ticked) {
    m_states.recoverRaw = ticked;
    if (!ticked || !m_rawOnlyAllowed) m_states.recoverRawOnly = false;
}

void SettingsModel::OnRawOnlyClicked(bool ticked) {
    m_states.recoverRawOnly = ticked && RawOnlyEnabled();
}

void SettingsModel::Store(ScanOptions* options) const {
    const SettingsStates& s = m_states;
    options->UseBootRecords = s.useBootRecords;
    options->UsePartitionTables = s.usePartitionTables;
    options->ExtensiveVolumesSearch = s.extensiveVolumesSearch;
    options->CheckFatDateField = s.checkFatDate;
    options->CheckFatTimeField = s.checkFatTime;
    options->FatThirdCheck = s.fatThirdCheck;
    options->UseFirstFatCopy = s.useFirstFat;
    options->UseSecondFatCopy = s.useSecondFat;
    options->UseNtfsVolumeSize = s.useNtfsVolumeSize;
    options->UseMftFile = s.useMftFile;
    options->ShowMftOnlyFiles = s.showMftOnlyFiles;
    options->RecoverRawFiles = s.recoverRaw;
    options->RecoverRawFilesOnly = s.recoverRawOnly && m_rawOnlyAllowed;
    options->MaxRawFileSize = s.maxRawFileSize;
    if (m_typeTreeEnabled) {
        options->RawFileTypes.Clear();
        for (std::uint32_t id : m_tree.StoredIds()) options->RawFileTypes.Add(id);
    } else {
        options->RawFileTypes = m_original.RawFileTypes;
    }
}

}  // namespace settingstool
