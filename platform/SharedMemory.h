#pragma once
// Named shared memory between processes (POSIX shared memory objects).
#include <cstddef>
#include <string>

namespace platform {

class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory() { Close(); }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates the section `name` of `size` bytes (zero-filled), or maps it when it exists
    // already and is at least that large. The creator removes the name when it closes, so the
    // section lives on only in the processes that still map it.
    bool Create(const std::string& name, std::size_t size);
    // Maps an existing section; fails when it is missing or smaller than `size`.
    bool Open(const std::string& name, std::size_t size);
    void Close();

    void* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    bool IsOpen() const { return m_data != nullptr; }
    bool Created() const { return m_created; }

    static bool Exists(const std::string& name);
    static bool Remove(const std::string& name);
    // The shared-memory object name used for `name` ("/" + name, '/' replaced).
    static std::string ObjectName(const std::string& name);

private:
    bool Map(int fd, std::size_t size);
    void* m_data = nullptr;
    std::size_t m_size = 0;
    std::string m_objectName;
    bool m_created = false;
};

} // namespace platform
