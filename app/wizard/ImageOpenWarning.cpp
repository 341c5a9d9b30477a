#include "app/wizard/ImageOpenWarning.h"

#include "app/wizard/UiServices.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

void WarnIfImageDataMissing(IUiServices& ui, IStorageDevice* device) {
    const auto* image = dynamic_cast<const CImageFileDeviceWithDecompress*>(device);
    const std::uint64_t sectors = image ? image->GetMissingSectorCount() : 0;
    if (sectors == 0)
        return;
    std::string text = uistr::UiString(uistr::kImageDataMissing);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, uifmt::FormatSectorsSize64(sectors));
    ui.MessageText(uistr::kImageDataMissing, text, kMbWarning, kMbOk);
}
