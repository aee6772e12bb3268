#include "support/log_file_check.h"

#include <cstdio>
#include <regex>

namespace kairovel::testing {
namespace {

// The next NUL-terminated piece at offset, or false when there is no NUL before limit.
bool NextPiece(const std::string& bytes, std::size_t& offset, std::size_t limit, std::string& piece) {
    const std::size_t nul = bytes.find('\0', offset);
    if (nul == std::string::npos || nul >= limit) return false;
    piece = bytes.substr(offset, nul - offset);
    offset = nul + 1;
    return true;
}

}  // namespace

std::string SampleLine(const std::string& levelWord, const std::string& message) {
    return std::string("2024/03/05 07:08:09 ") + '\0' + levelWord + '\0' + " " + '\0' + message + '\0' + "\r\n" + '\0';
}

std::string HeaderOf(std::uint32_t position, std::uint32_t maxSize) {
    char text[96];
    std::snprintf(text, sizeof text, "Log file; last written at %d max size %d", static_cast<int>(position),
                  static_cast<int>(maxSize));
    std::string header = text;
    header.resize(77, ' ');
    return header + "\r\n" + '\0';
}

LogFileContent ReadLogFile(const std::string& bytes) {
    LogFileContent content;
    if (bytes.size() < 80) {
        content.problem = "shorter than its header";
        return content;
    }
    int position = 0;
    int maxSize = 0;
    if (std::sscanf(bytes.c_str(), "Log file; last written at %d max size %d", &position, &maxSize) != 2) {
        content.problem = "header does not parse";
        return content;
    }
    content.position = static_cast<std::uint32_t>(position);
    content.maxSize = static_cast<std::uint32_t>(maxSize);
    if (bytes.substr(0, 80) != HeaderOf(content.position, content.maxSize)) {
        content.problem = "header is not laid out exactly";
        return content;
    }
    if (content.position < 80 || std::size_t{content.position} + kEndMarker.size() > bytes.size()) {
        content.problem = "position " + std::to_string(content.position) + " is outside the file of " +
                          std::to_string(bytes.size()) + " bytes";
        return content;
    }
    if (bytes.compare(content.position, kEndMarker.size(), kEndMarker) != 0) {
        content.problem = "no end marker at the position";
        return content;
    }
    static const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} )");
    std::size_t offset = 80;
    while (offset < content.position) {
        std::string time, level, blank, message, lineEnd;
        if (!NextPiece(bytes, offset, content.position, time) || !NextPiece(bytes, offset, content.position, level) ||
            !NextPiece(bytes, offset, content.position, blank) ||
            !NextPiece(bytes, offset, content.position, message) ||
            !NextPiece(bytes, offset, content.position, lineEnd)) {
            content.problem = "a line is cut short before offset " + std::to_string(content.position);
            return content;
        }
        const bool levelKnown = level == "(Error)" || level == "(Info )" || level == "(Ok   )" || level == "(Trace)";
        if (!std::regex_match(time, stamp) || !levelKnown || blank != " " || lineEnd != "\r\n") {
            content.problem = "malformed line at offset " + std::to_string(offset);
            return content;
        }
        content.messages.push_back(message);
    }
    content.wellFormed = true;
    return content;
}

}  // namespace kairovel::testing
