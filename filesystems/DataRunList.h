#pragma once
// Where the content of one file lies: an ordered list of runs (start, count) in the allocation
// unit of the file's file system, and the compact run record (mapping pairs) in which the NTFS
// and FAT properties keep their runs.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class IRSData;

// One run; also its saved form (16 bytes). A start of -1 is a sparse run (reads as zeros); a
// start of -2 is a span whose place on the disk is not known (kUnknownRunStart).
struct DataRun {
    std::int64_t start = 0;
    std::int64_t count = 0;
    friend bool operator==(const DataRun&, const DataRun&) = default;
};

constexpr std::int64_t kSparseRunStart = -1;
// A span of the file whose data could not be located (the block that maps it could not be
// read). A recovery writes it as zeros like a hole, but the file is then not whole and does
// not count as recovered. In a run record it is an entry with an offset, like a real run.
constexpr std::int64_t kUnknownRunStart = -2;

enum DataRunListKind : std::uint32_t {
    DATARUNLIST_FAT = 0,
    DATARUNLIST_NTFS_RESIDENT = 1,
    DATARUNLIST_NTFS_NONRESIDENT = 2,
    DATARUNLIST_RAW = 3,
    DATARUNLIST_EXT2 = 4,
};

class IDataRunList {
public:
    IDataRunList() = default;
    virtual ~IDataRunList();

    virtual bool IsResident() const { return false; }
    virtual std::uint32_t GetResidentOffset() const { return 0; }
    // u32 run count, then each run as (i64 start, i64 count).
    virtual int Save(IRSData* section) const;
    // Reads what Save wrote and appends each run.
    virtual int Load(IRSData* section);
    virtual std::uint32_t GetKind() const = 0;

    // Cursor walk: GetFirstRun resets to the front (null when empty); GetNextRun advances and
    // returns the run there (null past the last).
    const DataRun* GetFirstRun();
    const DataRun* GetNextRun();

    std::size_t GetRunCount() const { return m_runs.size(); }
    const std::deque<DataRun>& Runs() const { return m_runs; }
    // Appends a copy of `run` as it is (no merging).
    void PushRun(const DataRun& run) { m_runs.push_back(run); }

protected:
    std::deque<DataRun> m_runs;
    std::size_t m_cursor = 0;
};

// FAT runs: AddRun merges into the last run when that is not sparse and ends where the new
// one starts.
class CFATDataRunList : public IDataRunList {
public:
    std::uint32_t GetKind() const override { return DATARUNLIST_FAT; }
    void AddRun(std::int64_t start, std::int64_t count);
};

// NTFS data kept inside its MFT record: one run {sector of the record, 1} and the byte offset
// of the value inside that record.
class CResidentNTFSDataRunList : public IDataRunList {
public:
    std::uint32_t GetKind() const override { return DATARUNLIST_NTFS_RESIDENT; }
    bool IsResident() const override { return true; }
    std::uint32_t GetResidentOffset() const override { return m_residentOffset; }
    int Save(IRSData* section) const override;
    int Load(IRSData* section) override;
    void SetRun(std::int64_t start, std::int64_t count, std::uint32_t residentOffset);

private:
    std::uint32_t m_residentOffset = 0;
};

// NTFS non-resident data, filled by decoding mapping pairs; sparse runs have start -1.
class CNoneResidentNTFSDataRunList : public IDataRunList {
public:
    std::uint32_t GetKind() const override { return DATARUNLIST_NTFS_NONRESIDENT; }
};

class CRAWDataRunList : public IDataRunList {
public:
    std::uint32_t GetKind() const override { return DATARUNLIST_RAW; }
    void AddRun(std::int64_t start, std::int64_t count) { m_runs.push_back({start, count}); }
};

// EXT2/EXT3 runs in blocks; a start of 0 is a hole, kUnknownRunStart a span whose blocks are
// not known. AddRun extends the last run when both are holes, both are unknown spans, or both
// are real blocks and the new one follows on; runs of different kinds never merge. AddRun on
// an empty list appends.
class CExt2DataRunList : public IDataRunList {
public:
    std::uint32_t GetKind() const override { return DATARUNLIST_EXT2; }
    void AppendRun(std::int64_t start, std::int64_t count) { m_runs.push_back({start, count}); }
    void AddRun(std::int64_t start, std::int64_t count);
};

// ---- Run record (mapping pairs) ----------------------------------------------------------

// The serialised form of a run list: the resident offset (0 for non-resident data) and the
// mapping-pair bytes, 0-terminated. Entries: header H, (H & 0x0F) count bytes, (H >> 4) offset
// bytes, little-endian; the offset is signed and relative to the previous non-sparse start;
// an entry without offset bytes is sparse.
struct RunListRecord {
    std::uint16_t residentOffset = 0;
    std::vector<std::uint8_t> bytes;
};

// Largest mapping-pair byte string a stored record may announce.
constexpr std::uint32_t kMaxRunListRecordBytes = 64u * 1024 * 1024;

// Mapping pairs of every run of `list`, 0-terminated; empty when the list has no runs.
std::vector<std::uint8_t> EncodeRunListBytes(const IDataRunList& list);
// Appends the mapping-pair entry of one run; `previous` is the start of the last non-sparse run
// encoded before (0 at first) and is updated. The caller appends the 0 terminator.
void AppendEncodedRun(std::vector<std::uint8_t>& bytes, const DataRun& run, std::int64_t* previous);
// Appends the runs decoded from bytes[0, length) to `list`. Stops at a 0 header, at the end of
// the buffer, at an entry whose fields would run past the buffer and at a field wider than
// 8 bytes. Returns 1.
int DecodeRunListBytes(IDataRunList* list, const std::uint8_t* bytes, std::size_t length);
// Smallest number of bytes (1..8) that holds `value` as a signed little-endian integer.
int GetSignedByteCount(std::int64_t value);
// Appends one entry: header, count bytes, offset bytes.
void AppendRunEntry(std::vector<std::uint8_t>& buffer, int offsetBytes, int countBytes,
                    std::int64_t offset, std::int64_t count);
// Null for a null list or one without runs.
std::unique_ptr<RunListRecord> CreateRunListRecord(const IDataRunList* list);
// Length of the mapping pairs including the 0 terminator, never more than the bytes held; 0
// for no record or no bytes.
std::uint32_t GetRunListRecordSize(const RunListRecord* record);
// The same for mapping pairs held elsewhere.
std::uint32_t GetRunListBytesSize(const std::uint8_t* bytes, std::size_t length);
// A new list rebuilt from the record (resident when its offset is not 0), which the caller
// deletes; null when the record has no bytes or decodes to no run.
IDataRunList* CreateDataRunListFromRecord(const RunListRecord* record);
// The same for a record held as its bytes and resident offset.
IDataRunList* CreateDataRunListFromBytes(const std::uint8_t* bytes, std::size_t length,
                                         std::uint16_t residentOffset);
// Reads u32 length L, L bytes, u16 resident offset. Any store failure, or a length above
// kMaxRunListRecordBytes, yields null.
std::unique_ptr<RunListRecord> LoadRunListRecord(IRSData* section);
// Writes a properties object's run record: u32 1, u32 GetRunListRecordSize, the bytes, the u16
// resident offset; or u32 0 when there is no record.
void SaveRunListRecordField(IRSData* section, const RunListRecord* record);
// The same for a record held as its bytes and resident offset.
void SaveRunListRecordFieldBytes(IRSData* section, const std::uint8_t* bytes, std::size_t length,
                                 std::uint16_t residentOffset);
// Reads what SaveRunListRecordField wrote: the u32 flag, then (flag 1) the record; null for
// flag 0. A flag other than 0 or 1 throws CRSException(RSERR_BAD_HEADER), a record that could
// not be read throws CRSException(RSERR_SHORT_READ); store failures pass through.
std::unique_ptr<RunListRecord> LoadRunListRecordField(IRSData* section);
