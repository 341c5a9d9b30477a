#include "filesystems/MyFileProperties.h"

#include <cstring>
#include <new>

void CMyFileProperties::SetRecord(const MyFilePropertiesRecord& record) {
    m_record = record;
    m_record.name[sizeof(m_record.name) - 1] = '\0';
}

void CMyFileProperties::SetNameText(const char* name) {
    std::memset(m_record.name, 0, sizeof(m_record.name));
    std::size_t length = name ? strnlen(name, sizeof(m_record.name) - 1) : 0;
    if (length)
        std::memcpy(m_record.name, name, length);
    m_record.nameLength = static_cast<std::uint32_t>(length);
}

std::uint16_t CMyFileProperties::GetNameLength() const {
    // The record may be filled by hand: never report more than the buffer holds.
    std::uint32_t limit = static_cast<std::uint32_t>(sizeof(m_record.name) - 1);
    return static_cast<std::uint16_t>(m_record.nameLength < limit ? m_record.nameLength : limit);
}

FileTime* CMyFileProperties::GetCreationTime(FileTime* time) const {
    if (time)
        *time = m_record.creationTime;
    return time;
}

FileTime* CMyFileProperties::GetLastWriteTime(FileTime* time) const {
    if (time)
        *time = m_record.lastWriteTime;
    return time;
}

FileTime* CMyFileProperties::GetLastAccessTime(FileTime* time) const {
    if (time)
        *time = m_record.lastAccessTime;
    return time;
}

int CMyFileProperties::SetMark(std::uint8_t mark) {
    int previous = static_cast<int>(m_record.mark);
    m_record.mark = mark;
    return previous;
}

int CMyFileProperties::Save(IRSData*) const {
    return 0;
}

int CMyFileProperties::Load(IRSData*) {
    return 0;
}

CMyFileProperties* CreateMyFileProperties() {
    return new (std::nothrow) CMyFileProperties();
}

CMyFileProperties* CreateProgramRootProperties(const char* name) {
    CMyFileProperties* p = CreateMyFileProperties();
    if (!p)
        return nullptr;
    MyFilePropertiesRecord record;
    record.attributes = FILEATTR_DIRECTORY;
    p->SetRecord(record);
    p->SetNameText(name);
    return p;
}
