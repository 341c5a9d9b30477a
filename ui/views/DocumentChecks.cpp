#include "ui/views/DocumentChecks.h"

#include "carving/analysers/CompoundFile.h"
#include "ui/views/PreviewPaging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool IsOfficeDocument(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    std::vector<std::uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 512 &&
              static_cast<std::uint64_t>(st.st_size) <= kMaxPreviewFileSize;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                                      static_cast<off_t>(got));
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        ok = got == bytes.size();
    }
    ::close(fd);
    if (!ok)
        return false;
    const std::uint32_t kind = IdentifyCompoundDocument(ByteSpan(bytes.data(), bytes.size()));
    return kind == COMPOUND_DOC || kind == COMPOUND_XLS;
}
