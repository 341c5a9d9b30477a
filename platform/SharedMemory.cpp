#include "platform/SharedMemory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string SharedMemory::ObjectName(const std::string& name) {
    std::string out = "/";
    for (char c : name)
        out += (c == '/' || c == '\\') ? '_' : c;
    return out;
}

bool SharedMemory::Map(int fd, std::size_t size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0 || static_cast<std::size_t>(st.st_size) < size)
        return false; // mapping past the object's end would fault on access
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED)
        return false;
    m_data = p;
    m_size = size;
    return true;
}

bool SharedMemory::Create(const std::string& name, std::size_t size) {
    Close();
    if (name.empty() || size == 0)
        return false;
    const std::string obj = ObjectName(name);
    int fd = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::shm_open(obj.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (created && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        ::shm_unlink(obj.c_str());
        return false;
    }
    bool ok = Map(fd, size);
    ::close(fd);
    if (!ok) {
        if (created)
            ::shm_unlink(obj.c_str());
        return false;
    }
    m_objectName = obj;
    m_created = created;
    return true;
}

bool SharedMemory::Open(const std::string& name, std::size_t size) {
    Close();
    if (name.empty() || size == 0)
        return false;
    const std::string obj = ObjectName(name);
    int fd = ::shm_open(obj.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = Map(fd, size);
    ::close(fd);
    if (ok)
        m_objectName = obj;
    return ok;
}

void SharedMemory::Close() {
    if (m_data)
        ::munmap(m_data, m_size);
    if (m_created && !m_objectName.empty())
        ::shm_unlink(m_objectName.c_str());
    m_data = nullptr;
    m_size = 0;
    m_created = false;
    m_objectName.clear();
}

bool SharedMemory::Exists(const std::string& name) {
    int fd = ::shm_open(ObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool SharedMemory::Remove(const std::string& name) {
    return ::shm_unlink(ObjectName(name).c_str()) == 0;
}

} // namespace platform
