// Reading the body of a parameter URL through WinInet.
//
// The Internet library is loaded when the first reader is made and released
// when the last one goes, so nested URLs share one loading and a program that
// never reads a URL never loads it. A reader holds the two handles of one
// fetch: the Internet session and the opened URL.
#pragma once

#include <cstdint>
#include <string>

#include "platform/codepage.h"
#include "platform/inet.h"

namespace kairovel {

class UrlReader {
public:
    // Bytes asked for with each read of the body.
    static constexpr std::uint32_t kReadBlockBytes = 200;
    static constexpr char kAgentName[] = "Kairovel";
    static constexpr char kRequestHeaders[] = "Accept: text/plain\r\n\r\n";

    // Loads the library if no reader exists, opens a session and the URL.
    explicit UrlReader(const std::wstring& url);
    ~UrlReader();
    UrlReader(const UrlReader&) = delete;
    UrlReader& operator=(const UrlReader&) = delete;

    // The next piece of the body as wide text; empty at the end of the body.
    std::wstring ReadChunk();

    // How many readers hold the library now.
    static std::uint32_t LiveReaders();

private:
    void CloseHandles();
    // 0 when the opened URL may be read: not HTTP, or an HTTP status of
    // 200..299; else the status, or the error code of asking for it.
    std::uint32_t HttpErrorStatus() const;

    platform::HINTERNET internet_ = nullptr;
    platform::HINTERNET file_ = nullptr;
    platform::AnsiStreamDecoder decoder_;
    bool bodyEnded_ = false;
};

}  // namespace kairovel
