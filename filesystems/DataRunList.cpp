#include "filesystems/DataRunList.h"

#include <new>

#include "filesystems/StoreSection.h"

namespace {

// Run values come from disk: add without signed overflow.
std::int64_t WrappingSum(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

} // namespace

// ---- Lists -------------------------------------------------------------------------------

IDataRunList::~IDataRunList() = default;

int IDataRunList::Save(IRSData* section) const {
    RSWriteValue<std::uint32_t>(section, static_cast<std::uint32_t>(m_runs.size()));
    for (const DataRun& run : m_runs) {
        RSWriteValue<std::int64_t>(section, run.start);
        RSWriteValue<std::int64_t>(section, run.count);
    }
    return 1;
}

int IDataRunList::Load(IRSData* section) {
    // The count comes from the file: runs are appended as they are read, so a count that
    // lies ends with a short read at the section's end rather than a huge allocation.
    std::uint32_t count = RSReadValue<std::uint32_t>(section);
    for (std::uint32_t i = 0; i < count; ++i) {
        DataRun run;
        run.start = RSReadValue<std::int64_t>(section);
        run.count = RSReadValue<std::int64_t>(section);
        m_runs.push_back(run);
    }
    return 1;
}

const DataRun* IDataRunList::GetFirstRun() {
    m_cursor = 0;
    return m_runs.empty() ? nullptr : &m_runs[0];
}

const DataRun* IDataRunList::GetNextRun() {
    if (m_cursor < m_runs.size())
        ++m_cursor;
    return m_cursor < m_runs.size() ? &m_runs[m_cursor] : nullptr;
}

void CFATDataRunList::AddRun(std::int64_t start, std::int64_t count) {
    if (!m_runs.empty()) {
        DataRun& last = m_runs.back();
        if (last.start != kSparseRunStart && WrappingSum(last.start, last.count) == start) {
            last.count = WrappingSum(last.count, count);
            return;
        }
    }
    m_runs.push_back({start, count});
}

int CResidentNTFSDataRunList::Save(IRSData* section) const {
    IDataRunList::Save(section);
    RSWriteValue<std::uint32_t>(section, m_residentOffset);
    return 1;
}

int CResidentNTFSDataRunList::Load(IRSData* section) {
    IDataRunList::Load(section);
    m_residentOffset = RSReadValue<std::uint32_t>(section);
    return 1;
}

void CResidentNTFSDataRunList::SetRun(std::int64_t start, std::int64_t count,
                                      std::uint32_t residentOffset) {
    m_runs.push_back({start, count});
    m_residentOffset = residentOffset;
}

void CExt2DataRunList::AddRun(std::int64_t start, std::int64_t count) {
    if (!m_runs.empty()) {
        DataRun& last = m_runs.back();
        const bool lastReal = last.start > 0;
        const bool newReal = start > 0;
        // A hole extends only a hole and an unknown span only an unknown span; real blocks
        // extend only real blocks that end where the new ones begin.
        if ((!lastReal && last.start == start) ||
            (lastReal && newReal && WrappingSum(last.start, last.count) == start)) {
            last.count = WrappingSum(last.count, count);
            return;
        }
    }
    m_runs.push_back({start, count});
}

// ---- Mapping pairs -----------------------------------------------------------------------

int GetSignedByteCount(std::int64_t value) {
    for (int n = 1; n < 8; ++n) {
        std::int64_t limit = std::int64_t{1} << (8 * n - 1);
        if (value >= -limit && value < limit)
            return n;
    }
    return 8;
}

void AppendRunEntry(std::vector<std::uint8_t>& buffer, int offsetBytes, int countBytes,
                    std::int64_t offset, std::int64_t count) {
    buffer.push_back(static_cast<std::uint8_t>((offsetBytes << 4) | (countBytes & 0x0F)));
    std::uint64_t c = static_cast<std::uint64_t>(count);
    for (int i = 0; i < countBytes; ++i)
        buffer.push_back(static_cast<std::uint8_t>(c >> (8 * i)));
    std::uint64_t o = static_cast<std::uint64_t>(offset);
    for (int i = 0; i < offsetBytes; ++i)
        buffer.push_back(static_cast<std::uint8_t>(o >> (8 * i)));
}

void AppendEncodedRun(std::vector<std::uint8_t>& bytes, const DataRun& run, std::int64_t* previous) {
    const int countBytes = GetSignedByteCount(run.count);
    if (run.start == kSparseRunStart) {
        AppendRunEntry(bytes, 0, countBytes, 0, run.count);
        return;
    }
    // Wrapping difference: the decoder adds it back the same way.
    const std::int64_t offset = static_cast<std::int64_t>(static_cast<std::uint64_t>(run.start) -
                                                          static_cast<std::uint64_t>(*previous));
    AppendRunEntry(bytes, GetSignedByteCount(offset), countBytes, offset, run.count);
    *previous = run.start;
}

std::vector<std::uint8_t> EncodeRunListBytes(const IDataRunList& list) {
    std::vector<std::uint8_t> bytes;
    if (list.GetRunCount() == 0)
        return bytes;
    std::int64_t previous = 0;
    for (const DataRun& run : list.Runs())
        AppendEncodedRun(bytes, run, &previous);
    bytes.push_back(0);
    return bytes;
}

int DecodeRunListBytes(IDataRunList* list, const std::uint8_t* bytes, std::size_t length) {
    if (!list || !bytes)
        return 1;
    std::int64_t previous = 0;
    std::size_t pos = 0;
    while (pos < length) {
        std::uint8_t header = bytes[pos];
        if (header == 0)
            break;
        unsigned countBytes = header & 0x0F;
        unsigned offsetBytes = header >> 4;
        if (countBytes > 8 || offsetBytes > 8)
            break; // damaged: no field is wider than 8 bytes
        if (1 + countBytes + offsetBytes > length - pos)
            break; // the entry would run past the buffer
        const std::uint8_t* p = bytes + pos + 1;
        std::uint64_t count = 0;
        for (unsigned i = 0; i < countBytes; ++i)
            count |= static_cast<std::uint64_t>(p[i]) << (8 * i);
        if (count >> 63)
            break; // damaged: no run is that long
        DataRun run;
        run.count = static_cast<std::int64_t>(count);
        if (offsetBytes == 0) {
            run.start = kSparseRunStart;
        } else {
            std::uint64_t offset = 0;
            for (unsigned i = 0; i < offsetBytes; ++i)
                offset |= static_cast<std::uint64_t>(p[countBytes + i]) << (8 * i);
            if (offsetBytes < 8 && (offset >> (8 * offsetBytes - 1)) & 1)
                offset |= ~std::uint64_t{0} << (8 * offsetBytes); // sign-extend
            run.start = static_cast<std::int64_t>(static_cast<std::uint64_t>(previous) + offset);
            previous = run.start;
        }
        list->PushRun(run);
        pos += 1 + countBytes + offsetBytes;
    }
    return 1;
}

std::unique_ptr<RunListRecord> CreateRunListRecord(const IDataRunList* list) {
    if (!list)
        return nullptr;
    std::vector<std::uint8_t> bytes = EncodeRunListBytes(*list);
    if (bytes.empty())
        return nullptr;
    auto record = std::make_unique<RunListRecord>();
    record->residentOffset = list->GetKind() == DATARUNLIST_NTFS_RESIDENT
                                 ? static_cast<std::uint16_t>(list->GetResidentOffset())
                                 : 0;
    record->bytes = std::move(bytes);
    return record;
}

std::uint32_t GetRunListRecordSize(const RunListRecord* record) {
    if (!record)
        return 0;
    return GetRunListBytesSize(record->bytes.data(), record->bytes.size());
}

std::uint32_t GetRunListBytesSize(const std::uint8_t* b, std::size_t length) {
    if (!b || length == 0)
        return 0;
    std::size_t pos = 0;
    while (pos < length) {
        std::uint8_t header = b[pos];
        if (header == 0)
            return static_cast<std::uint32_t>(pos + 1);
        pos += 1 + (header & 0x0F) + (header >> 4);
    }
    // No terminator inside the buffer: never claim more than it holds.
    return static_cast<std::uint32_t>(length);
}

IDataRunList* CreateDataRunListFromRecord(const RunListRecord* record) {
    if (!record)
        return nullptr;
    return CreateDataRunListFromBytes(record->bytes.data(), record->bytes.size(), record->residentOffset);
}

IDataRunList* CreateDataRunListFromBytes(const std::uint8_t* bytes, std::size_t length,
                                         std::uint16_t residentOffset) {
    if (!bytes || length == 0)
        return nullptr;
    if (residentOffset == 0) {
        auto* list = new CNoneResidentNTFSDataRunList();
        DecodeRunListBytes(list, bytes, length);
        return list;
    }
    CNoneResidentNTFSDataRunList decoded;
    DecodeRunListBytes(&decoded, bytes, length);
    const DataRun* first = decoded.GetFirstRun();
    if (!first)
        return nullptr;
    auto* list = new CResidentNTFSDataRunList();
    list->SetRun(first->start, first->count, residentOffset);
    return list;
}

std::unique_ptr<RunListRecord> LoadRunListRecord(IRSData* section) {
    try {
        std::uint32_t length = RSReadValue<std::uint32_t>(section);
        if (length > kMaxRunListRecordBytes)
            return nullptr;
        auto record = std::make_unique<RunListRecord>();
        RSReadBytes(section, record->bytes, length);
        record->residentOffset = RSReadValue<std::uint16_t>(section);
        return record;
    } catch (const IRSException&) {
        return nullptr;
    }
}

void SaveRunListRecordField(IRSData* section, const RunListRecord* record) {
    if (!record) {
        RSWriteValue<std::uint32_t>(section, 0);
        return;
    }
    SaveRunListRecordFieldBytes(section, record->bytes.data(), record->bytes.size(), record->residentOffset);
}

void SaveRunListRecordFieldBytes(IRSData* section, const std::uint8_t* bytes, std::size_t length,
                                 std::uint16_t residentOffset) {
    std::uint32_t size = GetRunListBytesSize(bytes, length);
    RSWriteValue<std::uint32_t>(section, 1);
    RSWriteValue<std::uint32_t>(section, size);
    if (size)
        section->Write(bytes, size);
    RSWriteValue<std::uint16_t>(section, residentOffset);
}

std::unique_ptr<RunListRecord> LoadRunListRecordField(IRSData* section) {
    std::uint32_t present = RSReadValue<std::uint32_t>(section);
    if (present == 0)
        return nullptr;
    if (present != 1)
        throw CRSException(RSERR_BAD_HEADER);
    std::unique_ptr<RunListRecord> record = LoadRunListRecord(section);
    if (!record)
        throw CRSException(RSERR_SHORT_READ);
    return record;
}
