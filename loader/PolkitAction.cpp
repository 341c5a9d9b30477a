#include "loader/PolkitAction.h"

#include "platform/AppPaths.h"
#include "platform/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kExecPathKey = "org.freedesktop.policykit.exec.path";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The five predefined entities and numeric ones below 0x80; anything else is kept as written.
std::string DecodeEntities(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find(';', i);
        if (end == std::string_view::npos || end - i > 8) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        char c = 0;
        if (name == "amp")
            c = '&';
        else if (name == "lt")
            c = '<';
        else if (name == "gt")
            c = '>';
        else if (name == "quot")
            c = '"';
        else if (name == "apos")
            c = '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            unsigned value = 0;
            const bool hex = name[1] == 'x' || name[1] == 'X';
            bool ok = name.size() > (hex ? 2u : 1u);
            for (std::size_t k = hex ? 2 : 1; ok && k < name.size(); ++k) {
                const char d = name[k];
                const int digit = d >= '0' && d <= '9'          ? d - '0'
                                  : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                                  : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                                : -1;
                ok = digit >= 0;
                value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
            }
            if (ok && value > 0 && value < 0x80)
                c = static_cast<char>(value);
        }
        if (!c) {
            out += text[i];
            continue;
        }
        out += c;
        i = end;
    }
    return out;
}

// One element's start tag: its name and the text of its attributes.
struct Tag {
    std::string_view name;
    std::string_view attributes;
    bool selfClosing = false;
    bool closing = false;
};

// The value of attribute `name` in a start tag's attribute text, or nothing.
bool Attribute(std::string_view attributes, std::string_view name, std::string& value) {
    std::size_t i = 0;
    while (i < attributes.size()) {
        while (i < attributes.size() && IsBlank(attributes[i]))
            ++i;
        const std::size_t nameStart = i;
        while (i < attributes.size() && attributes[i] != '=' && !IsBlank(attributes[i]))
            ++i;
        const std::string_view found = attributes.substr(nameStart, i - nameStart);
        while (i < attributes.size() && IsBlank(attributes[i]))
            ++i;
        if (i >= attributes.size() || attributes[i] != '=')
            return false; // not well formed: nothing to trust
        ++i;
        while (i < attributes.size() && IsBlank(attributes[i]))
            ++i;
        if (i >= attributes.size() || (attributes[i] != '"' && attributes[i] != '\''))
            return false;
        const char quote = attributes[i++];
        const std::size_t end = attributes.find(quote, i);
        if (end == std::string_view::npos)
            return false;
        if (found == name) {
            value = DecodeEntities(attributes.substr(i, end - i));
            return true;
        }
        i = end + 1;
    }
    return false;
}

// Walks the tags of a policy file: comments, processing instructions, the document type and
// character data sections are passed over.
class TagReader {
public:
    explicit TagReader(std::string_view text) : m_text(text) {}

    // The next tag (from `tagStart` to just before `tagEnd`); false at the end or on text that
    // is not well formed.
    bool Next(Tag& tag, std::size_t& tagStart, std::size_t& tagEnd) {
        for (;;) {
            const std::size_t open = m_text.find('<', m_pos);
            if (open == std::string_view::npos)
                return false;
            tagStart = open;
            const std::string_view rest = m_text.substr(open);
            std::string_view skipEnd;
            if (rest.substr(0, 4) == "<!--")
                skipEnd = "-->";
            else if (rest.substr(0, 9) == "<![CDATA[")
                skipEnd = "]]>";
            else if (rest.substr(0, 2) == "<?")
                skipEnd = "?>";
            else if (rest.substr(0, 2) == "<!")
                skipEnd = ">";
            if (!skipEnd.empty()) {
                const std::size_t end = m_text.find(skipEnd, open + 2);
                if (end == std::string_view::npos)
                    return false;
                m_pos = end + skipEnd.size();
                continue;
            }
            // A tag ends at the first '>' outside quotes.
            std::size_t i = open + 1;
            char quote = 0;
            for (; i < m_text.size(); ++i) {
                const char c = m_text[i];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (i >= m_text.size())
                return false;
            std::string_view inner = m_text.substr(open + 1, i - open - 1);
            m_pos = i + 1;
            tagEnd = m_pos;
            tag = Tag{};
            if (!inner.empty() && inner.front() == '/') {
                tag.closing = true;
                inner.remove_prefix(1);
            }
            if (!inner.empty() && inner.back() == '/') {
                tag.selfClosing = true;
                inner.remove_suffix(1);
            }
            std::size_t n = 0;
            while (n < inner.size() && !IsBlank(inner[n]))
                ++n;
            tag.name = inner.substr(0, n);
            tag.attributes = inner.substr(n);
            return true;
        }
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

} // namespace

std::string PolkitActionProgram(std::string_view policy, std::string_view actionId) {
    TagReader reader(policy);
    Tag tag;
    std::size_t tagStart = 0, tagEnd = 0;
    bool inAction = false;   // inside the action asked for
    bool inExecPath = false; // inside its exec.path annotation
    std::size_t valueStart = 0;
    std::string program;
    while (reader.Next(tag, tagStart, tagEnd)) {
        if (inExecPath) {
            // The annotation holds text only: its end closes it, anything else spoils it.
            if (!tag.closing || tag.name != "annotate")
                return {};
            program =
                std::string(Trim(DecodeEntities(policy.substr(valueStart, tagStart - valueStart))));
            inExecPath = false;
            continue;
        }
        if (tag.name == "action") {
            if (tag.closing) {
                if (inAction)
                    return program;
                continue;
            }
            if (inAction)
                return {}; // an action inside the action: not a policy file polkit takes
            std::string id;
            inAction = !tag.selfClosing && Attribute(tag.attributes, "id", id) && id == actionId;
            continue;
        }
        if (inAction && !tag.closing && tag.name == "annotate") {
            std::string key;
            if (Attribute(tag.attributes, "key", key) && key == kExecPathKey) {
                if (tag.selfClosing)
                    program.clear();
                else {
                    inExecPath = true;
                    valueStart = tagEnd;
                }
            }
        }
    }
    return {}; // the action never closed, or is not there
}

std::string PolkitActionMismatch(const std::string& loaderPath, const std::string& actionsDir) {
    std::string folder = actionsDir.empty() ? std::string("./") : actionsDir;
    if (folder.back() != '/')
        folder += '/';
    const std::string file = folder + kPolkitActionId + ".policy";
    std::string problem;
    platform::FileHandle fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid()) {
        problem = errno == ENOENT ? file + " does not exist"
                                  : file + " cannot be read (" + std::strerror(errno) + ")";
    } else if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = file + " is not a file";
    } else if (st.st_size > static_cast<off_t>(kPolkitActionFileMax)) {
        problem = file + " is too large to be an action";
    } else {
        std::string text;
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                problem = file + " cannot be read (" + std::strerror(errno) + ")";
                break;
            }
            if (n == 0)
                break;
            text.append(buf, static_cast<std::size_t>(n));
            if (text.size() > kPolkitActionFileMax) {
                problem = file + " is too large to be an action";
                break;
            }
        }
        if (problem.empty()) {
            const std::string program = PolkitActionProgram(text, kPolkitActionId);
            if (program == loaderPath)
                return {};
            problem = program.empty()
                          ? file + " holds no action " + kPolkitActionId + " that names a program"
                          : "the action in " + file + " names " + program;
        }
    }
    const std::size_t slash = loaderPath.find_last_of('/');
    const std::string programDir =
        slash == std::string::npos ? std::string("./") : loaderPath.substr(0, slash + 1);
    std::string where;
    if (platform::FindResourceDir(programDir) == programDir) {
        where = "the loader runs from its build folder";
    } else {
        std::string prefix = programDir.substr(0, programDir.size() - 1);
        prefix = prefix.substr(0, prefix.find_last_of('/'));
        where = "the loader is installed under " + (prefix.empty() ? std::string("/") : prefix);
        if (prefix + "/share/polkit-1/actions/" != folder)
            where += ", and polkit reads actions only from " + folder;
    }
    return "no polkit action names " + loaderPath + ": " + problem + "; " + where;
}
