#pragma once
// What the tool dialogs ask of the user outside their own windows: message boxes, file dialogs
// and help. The defaults show the program's message box and the toolkit's file dialogs; window
// tests and the shell may replace them.
#include <cstdint>
#include <functional>
#include <string>

struct ToolUiHooks {
    // A message box of a kind (0 warning .. 4 question) with buttons (kMbOk, kMbYes, ...);
    // returns 1 for OK/Yes, 2 for Cancel/No.
    std::function<int(int kind, std::uint16_t buttons, const std::string& text)> message;
    // A file dialog; "" when cancelled.
    std::function<std::string(bool save, const std::string& defaultName, const std::string& wildcard)>
        chooseFile;
    // Opens the help topic of a dialog (F1).
    std::function<void(int topic)> help;

    static ToolUiHooks Defaults();
    int Message(int kind, std::uint16_t buttons, int textId) const;
    void Help(int topic) const {
        if (help) help(topic);
    }
};

// Help topics of the tool dialogs.
enum ToolHelpTopic : int { kHelpDiskImage = 20, kHelpSearch = 23, kHelpSettings = 46 };
