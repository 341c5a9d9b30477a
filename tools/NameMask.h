#pragma once
// Name and type masks of the file search and find dialogs: what the user typed (a name, a part
// of a name, or a mask with '*' and '?') or the extension list of a file type, turned into a
// Perl-syntax regular expression that must match a whole file name.
//
// Names are UTF-8. A wildcard matches whole characters: '?' is one character of the name, not
// one byte, and '*' any run of characters. Case folding is ASCII only. Wildcards never match
// '/', '*', '?', ':', '"', '<', '>' or '|'.
#include <memory>
#include <string>

struct CompiledNamePattern;

struct FileNamePattern {
    // The source text as given (a name or a ';'-separated extension list).
    std::string text;
    bool caseSensitive = false;
    // The regular expression that was compiled (the match-everything one when the built text
    // did not compile).
    std::string expression;
    std::shared_ptr<const CompiledNamePattern> compiled;
};

// What a name-filter is built for: the find dialog (a part of a name is enough) or the search
// dialog (the whole name or mask).
enum NameFilterMode : int { kNameFilterFind = 1, kNameFilterSearch = 2 };

// The regular expressions of one name character ('?') and of a run of them ('*').
extern const char* const kNameCharClass;
extern const char* const kNameRunClass;

// A text that does not compile gives the match-everything pattern. A text holding a construct a
// name mask has no use for (an option group or comment "(?", a possessive repeat, a
// back-reference, an escaped wildcard) never reaches the expression library: its pattern
// matches no name.
FileNamePattern BuildNameFilter(const std::string& text, bool caseSensitive, bool wholeWord, int mode);
// A ';'-separated extension list (".doc;.dot") or "*"; always case-insensitive.
FileNamePattern MaskToRegex(const std::string& maskList);

// Whole-name match. Any error while matching (the regular-expression engine gives up on a name
// that would take too long) counts as no match; a null name or pattern never matches.
bool RegexMatch(const char* name, const FileNamePattern& pattern);
bool RegexMatchString(const std::string& name, const FileNamePattern& pattern);
