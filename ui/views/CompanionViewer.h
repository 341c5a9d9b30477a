#pragma once
// The companion document viewer for Word and Excel files: its command comes from the settings
// file ("ViewerCommand"), by default "Leafscope" beside the program. It is started with one
// more argument, "<temp file>|<display name>", and waited for while the caller keeps its user
// interface alive; a viewer still running when the program ends is ended with it.
#include <functional>
#include <string>
#include <vector>

// The command line to start: the settings file's "ViewerCommand", else "<program folder>Leafscope"
// (quoted as QuoteViewerWord does when the folder holds a blank or another reserved character).
std::string CompanionViewerCommand();
std::string CompanionViewerCommand(const std::string& configFile, const std::string& programDir);

// Words of a command line, as a desktop entry's Exec key takes them: split at blanks and tabs;
// "..." keeps blanks inside a word, and in it a backslash before ", `, $ or \ stands for that
// character (before anything else it is kept); '...' keeps everything up to the next '. An
// unclosed quote runs to the end.
std::vector<std::string> SplitViewerCommand(const std::string& command);

// `word` as one word of a viewer command line: unchanged when it is not empty and holds no blank
// or other reserved character, else in double quotes with ", `, $ and \ escaped by a backslash.
// SplitViewerCommand gives it back whole.
std::string QuoteViewerWord(const std::string& word);

// Why the viewer is not started for `displayName` at all, as a message naming it: a desktop
// user is named whose account cannot be read (platform::DesktopUserRefusal), and no viewer of
// root's is started in their place. Empty when it may be started.
std::string CompanionViewerRefusal(const std::string& displayName);

// Starts the command with the argument "<tempPath>|<displayName>" and waits for it, calling
// `pump` about every 10 ms meanwhile. False when it could not be started (no command, a program
// that is missing or not executable); true once it has ended.
bool RunCompanionViewer(const std::string& command, const std::string& tempPath, const std::string& displayName,
                        const std::function<void()>& pump);

// Ends a viewer that is still running (also done at exit).
void EndCompanionViewer();
