#pragma once
// Thumbnails of found pictures: the file is copied out into a temp file of its own, its header
// probed, decoded with wxImage (logging silenced, so a damaged picture never opens a dialog)
// and scaled into the 80 x 80 cell. A worker thread serves the request queue; it holds the
// queue's lock only to take a request and to store a result.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ui/views/FileListModel.h"
#include "ui/views/PictureProbe.h"

class CFileNode;
class IStorageDevice;
class wxImage;

// Decodes a picture file when its probed size is within `pixelCap`; false for an unknown or
// damaged picture, or one above the cap (then *probed still tells its size).
bool DecodePictureFile(const std::string& path, std::uint64_t pixelCap, wxImage* out,
                       PictureInfo* probed = nullptr);

// The thumbnail of one node, or null when it has none: larger than 5 MiB, encrypted, not
// recoverable, not a picture wx decodes, or above the thumbnail pixel cap. `stop` (optional)
// cancels the copy.
std::shared_ptr<const ThumbnailPixels> LoadThumbnail(IStorageDevice* device, CFileNode* node,
                                                     const std::atomic<bool>* stop = nullptr);

class CThumbnailWorker {
public:
    // `loaded` runs on the worker after each result is stored (post a redraw from it).
    CThumbnailWorker(CThumbnailQueue* queue, IStorageDevice* device,
                     std::function<void(CFileNode*)> loaded);
    ~CThumbnailWorker(); // stops and joins
    void SetDevice(IStorageDevice* device) { m_device.store(device); }
    void Pause(bool pause) { m_pause.store(pause); }
    void Stop();

private:
    void Run();
    CThumbnailQueue* m_queue;
    std::atomic<IStorageDevice*> m_device;
    std::function<void(CFileNode*)> m_loaded;
    std::atomic<bool> m_pause{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
