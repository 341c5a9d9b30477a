#pragma once
// The shared log buffer: a 64 KiB named shared-memory section holding a little-endian u32
// count of text bytes in use followed by that many bytes of log text (whole messages, each
// ending in CR LF). The loader creates it and drains it into its log file; the main program
// opens it and appends its messages. Every append and drain holds the buffer's named mutex.
#include "logging/LogSink.h"
#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

#include <cstdint>

constexpr std::uint32_t kSharedLogBufferSize = 0x10000;
// Names of the section and of its mutex.
OMBREL_API extern const char kLogMappingName[];
OMBREL_API extern const char kLogMutexName[];

// A view of a buffer in the layout above. The count lives in the (shared, untrusted) memory
// and is checked before every use.
class OMBREL_API CLogBuffer {
public:
    // Detaches (base null, capacity 0).
    void Clear();
    // FALSE when base is null or capacity < 4; otherwise attaches and sets the count to 0.
    int Attach(void* base, std::uint32_t capacity);
    // Appends a whole message: FALSE (nothing written) when data is null, length is not
    // positive, the buffer is detached, the stored count is impossible, or the message does
    // not fit whole.
    int Append(const void* data, int length);
    // Writes the text in use to `fd`: FALSE without writing when fd is invalid or the stored
    // count exceeds capacity - 4; TRUE only when every byte was written.
    int WriteToFile(int fd);
    // The stored count (0 when detached).
    std::uint32_t GetUsed() const;

private:
    std::uint8_t* m_base = nullptr;
    std::uint32_t m_capacity = 0;
};

class OMBREL_API CFileMappingLog : public ILogSink {
public:
    enum { kOpenMode = 0, kCreateMode = 1 };
    // Mode 1 creates the section (the loader), mode 0 opens the existing one (the main
    // program). Either way the buffer is emptied on attaching and the mutex is created or
    // opened.
    explicit CFileMappingLog(int mode);
    // The same with other names (tests, side-by-side installations).
    CFileMappingLog(int mode, const char* mappingName, const char* mutexName);
    ~CFileMappingLog();
    CFileMappingLog(const CFileMappingLog&) = delete;
    CFileMappingLog& operator=(const CFileMappingLog&) = delete;

    // TRUE; the name is ignored.
    int Open(const char* name) override;
    // Appends one message under the mutex (waiting at most 1000 ms).
    int Write(const void* data, int length) override;
    // Moves the buffered text into `fd` under the mutex. The buffer is emptied even when the
    // file write fails; FALSE then.
    int FlushToFile(int fd);

    bool IsMapped() const { return m_mapping.IsOpen(); }
    int GetMode() const { return m_mode; }

    // Names used by CFileMappingLog(int) and so by the shared-buffer sink of GetLogSink;
    // call before the first use. Null restores the defaults.
    static void SetDefaultNames(const char* mappingName, const char* mutexName);

private:
    void Init(const char* mappingName, const char* mutexName);
    platform::SharedMemory m_mapping;
    platform::NamedMutex m_mutex;
    CLogBuffer m_buffer;
    int m_mode;
};
