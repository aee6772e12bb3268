#include "config/argument_drivers.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "config/argument_source.h"
#include "config/keyword_parser.h"
#include "config/url_reader.h"
#include "log/logger.h"
#include "platform/codepage.h"
#include "platform/process.h"

namespace kairovel {
namespace {

std::uint32_t includeFileDepth = 0;
std::uint32_t includeUrlDepth = 0;

// One more level of nesting for the life of an include. The level is given
// back however the include ends, so a failed parse leaves the depths as it found them.
class NestingLevel {
public:
    explicit NestingLevel(std::uint32_t& depth) : depth_(depth) { ++depth_; }
    ~NestingLevel() { --depth_; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

private:
    std::uint32_t& depth_;
};

void ParseAll(ArgumentSource& source) {
    for (source.Rewind(); !source.AtEnd(); source.Advance()) ParseArgument(source);
}

// Opens a parameter file: a readable file, not a folder.
bool OpenParameterFile(const std::wstring& name, std::ifstream& stream) {
    if (name.empty() || name.find(L'\0') != std::wstring::npos) return false;
    const std::filesystem::path path = platform::FileSystemPath(name);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return false;
    stream.open(path, std::ios::in | std::ios::binary);
    return stream.is_open();
}

}  // namespace

void ParseCommandLine() {
    ArgumentSource source = ArgumentSource::FromCommandLine(platform::Process().GetCommandLineW());
    ParseAll(source);
}

void ParseStartParameters(std::uint32_t count, const wchar_t* const* parameters) {
    ArgumentSource source = ArgumentSource::FromArray(count, parameters);
    ParseAll(source);
}

void IncludeFile(const std::wstring& name) {
    const NestingLevel level(includeFileDepth);
    if (includeFileDepth > kMaxIncludeDepth) {
        RaiseError(L"Include file depth of %u exceeds permitted maximum.", includeFileDepth);
    }
    // The limit counts the bytes of the name in the narrow code page.
    const std::size_t nameBytes = platform::WideToAnsi(name).size();
    std::ifstream stream;
    if (nameBytes > kMaxParameterFileNameBytes || !OpenParameterFile(name, stream)) {
        RaiseError(L"Parameter file %s not found", name);
    }
    ArgumentSource source = ArgumentSource::FromStream(stream);
    ParseAll(source);
}

void IncludeUrl(const std::wstring& url) {
    const NestingLevel level(includeUrlDepth);
    if (includeUrlDepth > kMaxIncludeDepth) {
        RaiseError(L"Include URL depth of %u exceeds permitted maximum.", includeUrlDepth);
    }
    ArgumentSource source = ArgumentSource::FromText(ReadParameterUrl(url));
    ParseAll(source);
}

std::wstring ParameterFileFullPath(const std::wstring& name) {
    std::ifstream stream;
    if (!OpenParameterFile(name, stream)) return {};
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(platform::FileSystemPath(name), error);
    if (error) return {};
    return platform::WideName(full.lexically_normal());
}

std::uint32_t IncludeFileDepth() { return includeFileDepth; }
std::uint32_t IncludeUrlDepth() { return includeUrlDepth; }

}  // namespace kairovel
