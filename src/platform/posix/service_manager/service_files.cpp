#include "platform/posix/service_manager/service_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <sstream>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/posix/errors.h"
#include "platform/posix/registry_database.h"
#include "platform/posix/settings.h"
#include "platform/posix/state_folder.h"
#include "platform/win_types.h"

namespace kairovel::platform::scm {
namespace {

constexpr std::size_t kLongestServiceName = 256;
constexpr mode_t kSharedFolderMode = 0755;  // anyone may read a service's status
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kFileMode = 0644;

bool FailWithErrno(int error) {
    SetLastError(WindowsErrorFromErrno(error));
    return false;
}

// Makes one folder with that mode, or accepts it when it is there already as
// a folder of this user's that no one else may write into.
bool MakeFolder(const std::filesystem::path& folder, mode_t mode) {
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) return FailWithErrno(errno);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return FailWithErrno(errno);
    const bool trusted = S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
    if (!trusted) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool WriteAll(int descriptor, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(descriptor, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailWithErrno(errno);
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The record's text: one "name value" line each.
std::string FormatRecord(const RunRecord& record) {
    const SERVICE_STATUS& s = record.status;
    std::ostringstream out;
    out << "pid " << record.process.pid << "\nstart_time " << record.process.startTime << "\nboot_id "
        << record.process.bootId << "\ntype " << s.dwServiceType << "\nstate " << s.dwCurrentState
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
        if (name == "pid") ok = ParseNumber(value, record.process.pid);
        else if (name == "start_time") ok = ParseNumber(value, record.process.startTime);
        else if (name == "boot_id") record.process.bootId = value;
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
    return fields == 10;
}

}  // namespace

bool IsValidServiceName(std::wstring_view name) {
    return !name.empty() && name.size() <= kLongestServiceName && name.find_first_of(L"/\\") == std::wstring_view::npos &&
           name != L"." && name != L"..";
}

ServiceFolder::ServiceFolder(std::wstring_view serviceName)
    : path_(StateRoot() / "service-manager" / WideToAnsi(FoldRegistryName(serviceName))) {}

std::vector<std::wstring> ServiceFolderNames() {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(StateRoot() / "service-manager", error)) {
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            names.push_back(WideName(entry.path().filename()));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::filesystem::path ServiceFolder::SocketFile(int pid) const {
    return path_ / "private" / ("control." + std::to_string(pid));
}

bool ServiceFolder::Prepare() const {
    // KAIROVEL_ROOT itself: made when missing, used only when trusted (state_folder.h).
    std::filesystem::path root;
    std::string problem;
    if (const std::uint32_t status = OpenStateFolder(path_.parent_path().parent_path(), true, root, problem);
        status != ERROR_SUCCESS) {
        SetLastError(status);
        return false;
    }
    return MakeFolder(path_.parent_path(), kSharedFolderMode) && MakeFolder(path_, kSharedFolderMode) &&
           MakeFolder(path_ / "private", kPrivateFolderMode);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void Descriptor::Reset(int descriptor) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = descriptor;
}

FileLock::FileLock(const std::filesystem::path& file, Mode mode) {
    std::string problem;
    Descriptor descriptor(OpenStateFile(file, O_RDWR | O_CREAT, kFileMode, problem));
    // A caller who may not write there may still hold a handle, never an exclusive lock.
    if (!descriptor.valid() && errno == EACCES && problem.empty() && mode == Mode::Shared) {
        descriptor.Reset(OpenStateFile(file, O_RDONLY, 0, problem));
    }
    if (!descriptor.valid()) {
        error_ = WindowsErrorFromErrno(errno);
        return;
    }
    const int operation = mode == Mode::Shared ? LOCK_SH : mode == Mode::Exclusive ? LOCK_EX : LOCK_EX | LOCK_NB;
    while (::flock(descriptor.get(), operation) != 0) {
        if (errno == EINTR) continue;
        error_ = errno == EWOULDBLOCK ? ERROR_BUSY : WindowsErrorFromErrno(errno);
        return;
    }
    descriptor_ = std::move(descriptor);
}

bool ReplaceFile(const std::filesystem::path& file, std::string_view content) {
    std::filesystem::path temporary;
    {
        const Descriptor out(CreateTemporaryBeside(file, kFileMode, temporary));
        if (!out.valid()) return FailWithErrno(errno);
        if (!WriteAll(out.get(), content)) {
            ::unlink(temporary.c_str());
            return false;
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
    }
    content = std::move(text);
    return true;
}

int CreateFresh(const std::filesystem::path& file) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        FailWithErrno(errno);
        return -1;
    }
    const int descriptor = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) FailWithErrno(errno);
    return descriptor;
}

bool ReadRunRecord(const ServiceFolder& folder, std::optional<RunRecord>& record) {
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
    if (!ReadFile(folder.RecordFile(), text)) return false;
    if (!text) return true;
    RunRecord parsed;
    if (!ParseRecord(*text, parsed)) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    record = parsed;
    return true;
}

bool WriteRunRecord(const ServiceFolder& folder, const RunRecord& record) {
    return ReplaceFile(folder.RecordFile(), FormatRecord(record));
}

bool RemoveRunRecord(const ServiceFolder& folder) {
    if (::unlink(folder.RecordFile().c_str()) != 0 && errno != ENOENT) return FailWithErrno(errno);
    return true;
}

}  // namespace kairovel::platform::scm
