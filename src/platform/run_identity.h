// Which boot of the machine and which process: identities for records that
// must never be taken for another boot's or another process's.
//
// A number alone will not do: process numbers are used again, and a clock
// record of an earlier boot speaks of a kernel that has started afresh since.
// Each system's backend defines these.
#pragma once

#include <string>

namespace kairovel::platform {

// The current boot, as text: Linux's boot_id; on Windows the moment the
// machine started with how long it had been up.
std::string BootIdentity();
// Whether a BootIdentity() recorded earlier is the current boot's.
bool IsCurrentBoot(const std::string& identity);

// This process, as text: its number with its start time.
std::string ProcessIdentity();
// Whether the process a ProcessIdentity() names still runs.
bool IsRunningProcess(const std::string& identity);
// The process a ProcessIdentity() names, in words for a message: "process
// 1234", with its command's name where the system tells it.
std::string ProcessDescription(const std::string& identity);

}  // namespace kairovel::platform
