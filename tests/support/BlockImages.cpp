#include "tests/support/BlockImages.h"

#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"

#include <gtest/gtest.h>

namespace testsupport {
bool WriteBlockImage(const std::string& source, const std::string& path,
                     const BlockImageOptions& options) {
    CImageFileDevice device(source.c_str());
    CCompressController writer;
    writer.Setup(&device, options.caption.c_str(), 0, device.GetSectorCount(), options.heads);
    writer.SetCompressionType(options.type);
    writer.SetCompressionLevel(options.level);
    writer.SetCompressor(CreateCompressor(options.type));
    if (options.sliceSectors)
        writer.SetSliceSize(options.sliceSectors);
    writer.SetImagePath(path);
    QuietImaging callback;
    const bool ok = writer.CreateImage(&callback) == 1;
    EXPECT_TRUE(ok) << "image " << path << " of " << source << " not written";
    return ok;
}

} // namespace testsupport
