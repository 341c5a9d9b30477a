#include "ui/views/wx/ThumbnailLoader.h"

#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include <wx/image.h>
#include <wx/log.h>

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "platform/ThreadStart.h"
#include "recovery/FileRecovery.h"
#include "ui/views/PreviewTempFiles.h"

namespace {

// Does nothing; its Poll gives -1 once the stop flag is set.
class CThumbnailLoadCallback : public IFileRecoverCallback {
public:
    explicit CThumbnailLoadCallback(const std::atomic<bool>* stop) : m_stop(stop) {}
    int SetTotals(int, std::uint64_t) override { return Poll(); }
    int AddFilesDone(int) override { return Poll(); }
    int AddBytesDone(std::uint64_t) override { return Poll(); }
    int SubtractBytesDone(std::uint32_t) override { return Poll(); }
    int SetCurrentFile(const char*) override { return Poll(); }
    int Poll() override { return m_stop && m_stop->load() ? -1 : 0; }

private:
    const std::atomic<bool>* m_stop;
};

void EnsureHandlers() {
    static const bool done = [] {
        wxInitAllImageHandlers();
        return true;
    }();
    (void)done;
}

std::vector<std::uint8_t> ReadHead(const std::string& path, std::size_t limit) {
    std::vector<std::uint8_t> out(limit);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::pread(fd, out.data() + got, limit - got, static_cast<off_t>(got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

} // namespace

bool DecodePictureFile(const std::string& path, std::uint64_t pixelCap, wxImage* out,
                       PictureInfo* probed) {
    EnsureHandlers();
    // JPEG frame headers can sit behind large metadata segments: probe up to 1 MiB.
    const std::vector<std::uint8_t> head = ReadHead(path, 1u << 20);
    PictureInfo info;
    const bool known = ProbePicture(ByteSpan(head.data(), head.size()), &info);
    if (probed)
        *probed = info;
    if (!known || !PictureWithinCap(info, pixelCap))
        return false;
    wxLogNull quiet;
    wxImage image;
    if (!image.LoadFile(wxString::FromUTF8(path.c_str()), wxBITMAP_TYPE_ANY) || !image.IsOk() ||
        image.GetWidth() <= 0 || image.GetHeight() <= 0)
        return false;
    *out = image;
    return true;
}

std::shared_ptr<const ThumbnailPixels> LoadThumbnail(IStorageDevice* device, CFileNode* node,
                                                     const std::atomic<bool>* stop) {
    if (!device || !node || !node->m_pProperties)
        return nullptr;
    const IFileProperties* p = node->m_pProperties;
    if (p->GetFileSize() > kMaxThumbnailFileSize || (p->GetAttributes() & FILEATTR_ENCRYPTED) ||
        (p->GetAttributes() & FILEATTR_DIRECTORY))
        return nullptr;
    CTempPreviewFile temp;
    if (temp.Path().empty())
        return nullptr;
    CThumbnailLoadCallback callback(stop);
    RecoverFileJob job;
    job.callback = &callback;
    job.device = device;
    job.node = node;
    job.targetPath = temp.Path();
    if (RecoverFileExclusive(&job) != 1)
        return nullptr;
    wxImage image;
    if (!DecodePictureFile(temp.Path(), kThumbnailPixelCap, &image))
        return nullptr;
    int w = 0, h = 0;
    ThumbnailSize(image.GetWidth(), image.GetHeight(), &w, &h);
    if (w != image.GetWidth() || h != image.GetHeight())
        image.Rescale(w, h, wxIMAGE_QUALITY_HIGH);
    auto pixels = std::make_shared<ThumbnailPixels>();
    pixels->width = image.GetWidth();
    pixels->height = image.GetHeight();
    const std::size_t n = static_cast<std::size_t>(pixels->width) * pixels->height;
    pixels->rgb.assign(image.GetData(), image.GetData() + n * 3);
    if (image.HasAlpha())
        pixels->alpha.assign(image.GetAlpha(), image.GetAlpha() + n);
    return pixels;
}

CThumbnailWorker::CThumbnailWorker(CThumbnailQueue* queue, IStorageDevice* device,
                                   std::function<void(CFileNode*)> loaded)
    : m_queue(queue), m_device(device), m_loaded(std::move(loaded)) {
    m_thread = platform::StartThread([this] { Run(); });
}

CThumbnailWorker::~CThumbnailWorker() { Stop(); }

void CThumbnailWorker::Stop() {
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void CThumbnailWorker::Run() {
    while (!m_stop.load()) {
        CFileNode* node = m_pause.load() ? nullptr : m_queue->Pop();
        if (!node) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        auto pixels = LoadThumbnail(m_device.load(), node, &m_stop);
        if (m_stop.load())
            break;
        m_queue->Store(node, std::move(pixels));
        if (m_loaded)
            m_loaded(node);
    }
}
