#include "ui/views/CompanionViewer.h"

#include "platform/AppPaths.h"
#include "platform/DesktopUser.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The running viewer's process id (0 for none); ended at exit.
struct RunningViewer {
    std::atomic<pid_t> pid{0};
    ~RunningViewer() { EndCompanionViewer(); }
};

RunningViewer& Running() {
    static RunningViewer running;
    return running;
}

// The characters a backslash escapes inside double quotes.
bool IsEscapedInQuotes(char c) { return c == '"' || c == '`' || c == '$' || c == '\\'; }

} // namespace

std::string CompanionViewerCommand(const std::string& configFile, const std::string& programDir) {
    std::string command = platform::ReadViewerCommand(configFile);
    if (!command.empty())
        return command;
    // The program folder may hold a blank: the default is one word of the command line.
    return QuoteViewerWord(programDir + "Leafscope");
}

std::string CompanionViewerCommand() {
    const platform::AppPaths paths = platform::ResolveAppPaths();
    return CompanionViewerCommand(paths.configFile, paths.programDir);
}

std::string QuoteViewerWord(const std::string& word) {
    // A desktop entry's reserved characters, and the single quote this splitter also takes.
    static const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";
    if (!word.empty() && word.find_first_of(kReserved) == std::string::npos)
        return word;
    std::string quoted = "\"";
    for (char c : word) {
        if (IsEscapedInQuotes(c))
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::vector<std::string> SplitViewerCommand(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (quote == '"' && c == '\\' && i + 1 < command.size() &&
                     IsEscapedInQuotes(command[i + 1]))
                word += command[++i];
            else
                word += c;
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"' || c == '\'')
            quote = c;
        else
            word += c;
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::string CompanionViewerRefusal(const std::string& displayName) {
    const std::string why = platform::DesktopUserRefusal();
    return why.empty() ? std::string() : "The viewer was not started for " + displayName + ": " + why + ".";
}

bool RunCompanionViewer(const std::string& command, const std::string& tempPath, const std::string& displayName,
                        const std::function<void()>& pump) {
    std::vector<std::string> words = SplitViewerCommand(command);
    if (words.empty() || words[0].empty())
        return false;
    // A program named with a folder must be there and executable; a bare name is looked up in
    // PATH by the spawn itself.
    if (words[0].find('/') != std::string::npos && ::access(words[0].c_str(), X_OK) != 0)
        return false;
    // Started as root for a desktop user, the viewer runs as that user on a copy of theirs: a
    // carved file from a damaged or hostile disk is never opened by a program running as root.
    const platform::DesktopUserCopy copy(tempPath);
    if (copy.Path().empty())
        return false;
    words.push_back(copy.Path() + "|" + displayName);
    const pid_t pid = platform::SpawnForDesktopUser(words);
    if (pid <= 0)
        return false;
    Running().pid.store(pid);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            break;
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Running().pid.store(0);
    // 127: the spawn could not run the program after all.
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

void EndCompanionViewer() {
    const pid_t pid = Running().pid.exchange(0);
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
}
