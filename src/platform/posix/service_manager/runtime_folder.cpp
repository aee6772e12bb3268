#include "platform/posix/service_manager/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <sstream>

#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/service_manager/protocol.h"
#include "platform/posix/service_user.h"
#include "platform/posix/state_folder.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

constexpr mode_t kFolderMode = 0755;      // anyone may read a service's status
constexpr mode_t kStatusMode = 0644;
constexpr mode_t kParametersMode = 0600;  // start parameters are the service's alone
constexpr std::size_t kLargestStartFile = 64 * 1024;

bool FailWithErrno(int error) {
    SetLastError(WindowsErrorFromErrno(error));
    return false;
}

// The record's text: one "name value" line each.
std::string FormatRecord(const RunRecord& record) {
    const SERVICE_STATUS& s = record.status;
    std::ostringstream out;
    out << "pid " << record.pid << "\ntype " << s.dwServiceType << "\nstate " << s.dwCurrentState
        << "\ncontrols_accepted " << s.dwControlsAccepted << "\nwin32_exit_code " << s.dwWin32ExitCode
        << "\nservice_exit_code " << s.dwServiceSpecificExitCode << "\ncheckpoint " << s.dwCheckPoint
        << "\nwait_hint " << s.dwWaitHint << "\n";
    return out.str();
}

template <class Number>
bool ParseNumber(std::string_view text, Number& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc{} && end == text.data() + text.size();
}

bool ParseRecord(std::string_view text, RunRecord& record) {
    int fields = 0;
    while (!text.empty()) {
        const std::size_t lineEnd = text.find('\n');
        const std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return false;
        const std::string_view name = line.substr(0, blank);
        const std::string_view value = line.substr(blank + 1);
        SERVICE_STATUS& s = record.status;
        bool ok = true;
        if (name == "pid") ok = ParseNumber(value, record.pid);
        else if (name == "type") ok = ParseNumber(value, s.dwServiceType);
        else if (name == "state") ok = ParseNumber(value, s.dwCurrentState);
        else if (name == "controls_accepted") ok = ParseNumber(value, s.dwControlsAccepted);
        else if (name == "win32_exit_code") ok = ParseNumber(value, s.dwWin32ExitCode);
        else if (name == "service_exit_code") ok = ParseNumber(value, s.dwServiceSpecificExitCode);
        else if (name == "checkpoint") ok = ParseNumber(value, s.dwCheckPoint);
        else if (name == "wait_hint") ok = ParseNumber(value, s.dwWaitHint);
        else continue;  // a field of a later version
        if (!ok) return false;
        ++fields;
    }
    return fields == 8;
}

}  // namespace

bool WriteAll(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(descriptor, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWithErrno(errno);
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RuntimeFolder::Prepare() const {
    if (::mkdir(path_.c_str(), kFolderMode) != 0 && errno != EEXIST) return FailWithErrno(errno);
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0) return FailWithErrno(errno);
    // systemd gives the folder to the service's user at every start (RuntimeDirectory=).
    const bool ownerTrusted = info.st_uid == ::geteuid() || IsServiceUser(info.st_uid);
    if (!S_ISDIR(info.st_mode) || !ownerTrusted || (info.st_mode & 022) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

void RuntimeFolder::Remove() const {
    std::error_code ignored;
    {
        // What is in it, with the rights of its owner (the service's user);
        // the folder itself is root's to remove from /run.
        const FilesAsStateOwner asOwner(path_);
        for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    std::filesystem::remove(path_, ignored);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void Descriptor::Reset(int descriptor) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = descriptor;
}

bool ReplaceFile(const std::filesystem::path& file, std::string_view content, unsigned mode) {
    std::filesystem::path temporary;
    {
        const Descriptor out(CreateTemporaryBeside(file, static_cast<mode_t>(mode), temporary));
        if (!out.valid()) return FailWithErrno(errno);
        // The mode whatever the umask (the service runs with 0077).
        if (::fchmod(out.get(), static_cast<mode_t>(mode)) != 0 || !WriteAll(out.get(), content)) {
            const int error = errno;
            ::unlink(temporary.c_str());
            return FailWithErrno(error);
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return FailWithErrno(error);
    }
    return true;
}

bool ReadFile(const std::filesystem::path& file, std::optional<std::string>& content) {
    content.reset();
    std::string problem;
    const Descriptor in(OpenStateFile(file, O_RDONLY, 0, problem));
    if (!in.valid()) return errno == ENOENT ? true : FailWithErrno(errno);
    std::string text;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWithErrno(errno);
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kLargestStartFile) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
    }
    content = std::move(text);
    return true;
}

bool ReadRunRecord(const RuntimeFolder& folder, std::optional<RunRecord>& record) {
    record.reset();
    // A record in a folder that others control says nothing; a missing folder holds none.
    std::filesystem::path checked;
    std::string problem;
    const std::uint32_t folderStatus = OpenStateFolder(folder.path(), false, checked, problem);
    if (folderStatus == ERROR_FILE_NOT_FOUND || folderStatus == ERROR_PATH_NOT_FOUND) return true;
    if (folderStatus != ERROR_SUCCESS) {
        SetLastError(folderStatus);
        return false;
    }
    std::optional<std::string> text;
    const FilesAsStateOwner asOwner(folder.path());
    if (!ReadFile(folder.StatusFile(), text)) return false;
    if (!text) return true;
    RunRecord parsed;
    if (!ParseRecord(*text, parsed)) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    record = parsed;
    return true;
}

bool WriteRunRecord(const RuntimeFolder& folder, const RunRecord& record) {
    return ReplaceFile(folder.StatusFile(), FormatRecord(record), kStatusMode);
}

bool WriteStartParameters(const RuntimeFolder& folder, const std::vector<std::wstring>& arguments) {
    const FilesAsStateOwner asOwner(folder.path());  // the service's to read and remove
    const Message message = Encode(StartRequest{arguments});
    return ReplaceFile(folder.StartFile(),
                       std::string_view(reinterpret_cast<const char*>(message.data()), message.size()),
                       kParametersMode);
}

std::optional<std::vector<std::wstring>> TakeStartParameters(const RuntimeFolder& folder) {
    std::optional<std::string> text;
    const bool read = ReadFile(folder.StartFile(), text);
    ::unlink(folder.StartFile().c_str());  // read once, whatever it held
    if (!read || !text) return std::nullopt;
    const Message message(text->begin(), text->end());
    StartRequest request;
    if (!Decode(message, request) || request.arguments.empty()) return std::nullopt;
    return request.arguments;
}

}  // namespace kairovel::platform::scm
