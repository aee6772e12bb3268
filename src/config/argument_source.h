// A list of argument texts with a cursor: what the keyword parser reads.
//
// Arguments come from four places, the process command line, the service's
// start parameters, parameter files and parameter URLs, and each becomes an
// ArgumentSource. Entry 0 is the program or service name (or empty); the
// arguments follow from entry 1, and the drivers walk them with the cursor.
// The parser reads the argument at the cursor only through the operations of
// this class, which therefore define the syntax: a prefix "/" or "-", a
// keyword, and a value after the first ":" or "=".
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kairovel {

class ArgumentSource {
public:
    // Files and URLs give at most this many entries (entry 0 included); the
    // lines after that are ignored.
    static constexpr std::uint32_t kMaxEntries = 50;
    // Bytes of one parameter-file line; a longer line ends the reading of its file.
    static constexpr std::size_t kMaxLineBytes = 99;

    // The command line split into words at blanks and tabs; quotation marks
    // are ordinary characters, except around the program path at its very
    // start. Every word is kept, however many there are.
    static ArgumentSource FromCommandLine(std::wstring_view commandLine);
    // The given texts, entry 0 first (the service's start parameters).
    static ArgumentSource FromArray(std::uint32_t count, const wchar_t* const* texts);
    // One argument per non-empty line of a parameter file; "#" starts a comment.
    static ArgumentSource FromStream(std::istream& stream);
    // One argument per non-empty line of the whole body of a URL: lines end at
    // a carriage return or a line feed.
    static ArgumentSource FromText(std::wstring_view body);

    std::uint32_t count() const { return static_cast<std::uint32_t>(entries_.size()); }
    const std::wstring& Entry(std::uint32_t index) const { return entries_.at(index); }

    // Cursor operations.
    void Rewind() { cursor_ = 1; }
    void Advance() {
        if (cursor_ < count()) ++cursor_;
    }
    bool AtEnd() const { return cursor_ >= count(); }

    // The parser's view of the argument at the cursor.
    const std::wstring& CurrentArgument() const { return entries_.at(cursor_); }
    // The first character is "/" or "-".
    bool HasPrefix() const;
    // The argument after its first character begins with keyword, ignoring case.
    bool MatchesKeyword(std::wstring_view keyword) const;
    // The first ":" or "=" stands after the first character.
    bool HasValue() const;
    // The text after the first ":" or "=", untrimmed; empty when there is none.
    std::wstring ArgumentValue() const;

private:
    ArgumentSource() : entries_(1) {}
    // Adds one line of a file or URL as an argument unless it is empty once the
    // comment and the surrounding white space are gone. False once the list is full.
    bool AddLine(std::wstring line);

    std::vector<std::wstring> entries_;
    std::uint32_t cursor_ = 1;
};

}  // namespace kairovel
