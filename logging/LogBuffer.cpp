#include "logging/LogBuffer.h"

#include "platform/DebugOutput.h"
#include "platform/File.h"

#include <cstring>
#include <string>

const char kLogMappingName[] = "Brulin_{1E956C11-4D20-49d7-B4C7-016A342A2D39}";
const char kLogMutexName[] = "BrulinLOG_{1BFCF65F-0766-4a71-B7A3-2EB2CD1412DE}";

namespace {

constexpr std::uint32_t kLockWaitMs = 1000;

std::string& DefaultMappingName() {
    static std::string name = kLogMappingName;
    return name;
}
std::string& DefaultMutexName() {
    static std::string name = kLogMutexName;
    return name;
}

std::uint32_t LoadCount(const std::uint8_t* base) {
    std::uint8_t b[4];
    std::memcpy(b, base, 4);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

void StoreCount(std::uint8_t* base, std::uint32_t v) {
    const std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                               std::uint8_t(v >> 24)};
    std::memcpy(base, b, 4);
}

} // namespace

void CLogBuffer::Clear() {
    m_base = nullptr;
    m_capacity = 0;
}

int CLogBuffer::Attach(void* base, std::uint32_t capacity) {
    if (!base || capacity < 4)
        return 0;
    m_base = static_cast<std::uint8_t*>(base);
    m_capacity = capacity;
    StoreCount(m_base, 0);
    return 1;
}

std::uint32_t CLogBuffer::GetUsed() const { return m_base ? LoadCount(m_base) : 0; }

int CLogBuffer::Append(const void* data, int length) {
    if (!m_base || !data || length <= 0)
        return 0;
    const std::uint32_t used = LoadCount(m_base);
    const std::uint32_t room = m_capacity - 4; // capacity >= 4 while attached
    if (used > room)
        return 0; // the count was damaged: write nothing past the section
    const auto len = static_cast<std::uint32_t>(length);
    if (len > room - used)
        return 0; // a message is never split
    std::memcpy(m_base + 4 + used, data, len);
    StoreCount(m_base, used + len);
    return 1;
}

int CLogBuffer::WriteToFile(int fd) {
    if (fd < 0 || !m_base)
        return 0;
    const std::uint32_t used = LoadCount(m_base);
    if (used > m_capacity - 4)
        return 0;
    return platform::WriteFully(fd, m_base + 4, used) ? 1 : 0;
}

void CFileMappingLog::SetDefaultNames(const char* mappingName, const char* mutexName) {
    DefaultMappingName() = mappingName ? mappingName : kLogMappingName;
    DefaultMutexName() = mutexName ? mutexName : kLogMutexName;
}

CFileMappingLog::CFileMappingLog(int mode) : m_mode(mode) {
    Init(DefaultMappingName().c_str(), DefaultMutexName().c_str());
}

CFileMappingLog::CFileMappingLog(int mode, const char* mappingName, const char* mutexName)
    : m_mode(mode) {
    Init(mappingName ? mappingName : "", mutexName ? mutexName : "");
}

void CFileMappingLog::Init(const char* mappingName, const char* mutexName) {
    m_buffer.Clear();
    const bool mapped = m_mode == kCreateMode ? m_mapping.Create(mappingName, kSharedLogBufferSize)
                                              : m_mapping.Open(mappingName, kSharedLogBufferSize);
    if (!mapped)
        platform::DebugOutput("Failed to create map file!\n");
    else
        m_buffer.Attach(m_mapping.Data(), kSharedLogBufferSize);
    m_mutex.Create(mutexName);
}

CFileMappingLog::~CFileMappingLog() {
    m_buffer.Clear();
    m_mapping.Close();
    m_mutex.Close();
}

int CFileMappingLog::Open(const char*) { return 1; }

int CFileMappingLog::Write(const void* data, int length) {
    if (!m_mapping.IsOpen() || !platform::NamedMutex::Held(m_mutex.Lock(kLockWaitMs))) {
        platform::DebugOutput("Failed to request the permission to write to buffer!\n");
        return 0;
    }
    const int result = m_buffer.Append(data, length);
    m_mutex.Unlock();
    return result;
}

int CFileMappingLog::FlushToFile(int fd) {
    if (fd < 0)
        return 0;
    if (!m_mapping.IsOpen() || !platform::NamedMutex::Held(m_mutex.Lock(kLockWaitMs))) {
        platform::DebugOutput("Failed to request the permission to write to log file!\n");
        return 0;
    }
    const int result = m_buffer.WriteToFile(fd);
    m_buffer.Attach(m_mapping.Data(), kSharedLogBufferSize); // empty, whatever the result
    m_mutex.Unlock();
    return result;
}
