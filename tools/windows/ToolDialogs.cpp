#include "tools/windows/ToolDialogs.h"
#include "ui/controls/StringTable.h"

#include "tools/ImageWizardModel.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/MessageBoxDlg.h"

#include <wx/filedlg.h>

ToolUiHooks ToolUiHooks::Defaults() {
    ToolUiHooks hooks;
    hooks.message = [](int kind, std::uint16_t buttons, const std::string& text) {
        CMessageBoxDlg box;
        return box.ShowMessage(kind, buttons, nullptr, text.c_str());
    };
    hooks.chooseFile = [](bool save, const std::string& defaultName, const std::string& wildcard) {
        wxFileDialog dialog(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString(), wxString(),
                            wxString::FromUTF8(defaultName.c_str()), wxString::FromUTF8(wildcard.c_str()),
                            save ? (wxFD_SAVE | wxFD_OVERWRITE_PROMPT) : (wxFD_OPEN | wxFD_FILE_MUST_EXIST));
        if (dialog.ShowModal() != wxID_OK) return std::string();
        return std::string(dialog.GetPath().utf8_str());
    };
    hooks.help = [](int topic) { ShowHelpTopic(topic); };
    return hooks;
}

int ToolUiHooks::Message(int kind, std::uint16_t buttons, int textId) const {
    if (!message) return 2;
    return message(kind, buttons, uistr::LoadUiString(textId));
}
