// An existing log file as the logger meets it when it opens the file again:
// its header (position and size) and its body taken from whatever the file
// holds, then a short and a long line written. Whatever it found, the logger
// must leave a file whose header points at the end marker after the newest line.
#include <string>

#include "fuzz_support.h"
#include "log/file_logger.h"
#include "log/log_file_layout.h"

namespace {

// The wrap size the program asks for (the header's own wins when it has one).
constexpr std::uint32_t kAskedMaxSize = 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kairovel;
    static const std::filesystem::path file = fuzz::ScratchFolder() / "kairovel.log";
    testing::WriteFileBytes(file, fuzz::Bytes(data, size));
    {
        FileLogger logger(file.wstring(), kAskedMaxSize);
        if (!logger.IsOpen()) __builtin_trap();
        logger.SetThreshold(LevelTrace);
        Log(&logger, LevelInfo, L"Corrected clock deviation of %s milliseconds.", L"-12");
        Log(&logger, LevelError, L"%s", std::wstring(300, L'x'));
    }
    const std::string bytes = testing::ReadFileBytes(file);
    const log_file::StoredHeader header = log_file::ParseHeader(bytes);
    if (header.numbersRead != 2 || header.position < 0) __builtin_trap();
    const std::string marker = log_file::EndMarkerBytes();
    const auto position = static_cast<std::size_t>(header.position);
    if (position + marker.size() > bytes.size() || bytes.compare(position, marker.size(), marker) != 0) {
        __builtin_trap();
    }
    return 0;
}
