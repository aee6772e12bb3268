#!/usr/bin/env bash
# The layering check must refuse each kind of OS access in a system folder and
# every include that climbs to a layer above, and accept calls on the platform
# layer's own facilities and includes of the same or a lower layer.
set -u
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/sync" "$tree/log" "$tree/platform/posix" "$tree/platform/win32" "$tree/platform/interface"
failures=0
expect() {  # expect <pass|fail> <line of code> [folder, sync by default]
  local folder=${3:-sync}
  printf '%s\n' "$2" > "$tree/$folder/probe.cpp"
  if "$check" "$tree" > /dev/null; then result=pass; else result=fail; fi
  if [ "$result" != "$1" ]; then echo "expected $1 in $folder for: $2"; failures=$((failures + 1)); fi
  rm "$tree/$folder/probe.cpp"
}
expect fail '#include <unistd.h>'
expect fail '#  include <sys/socket.h>'
expect fail '#include <chrono>'
expect fail 'auto value = getenv("HOME");'
expect fail 'int s = ::socket(AF_INET, SOCK_STREAM, 0);'
expect fail 'std::this_thread::sleep_for(delay);'
expect fail 'auto now = std::chrono::system_clock::now();'
expect pass '#include "platform/clock.h"'
expect pass 'platform::Clock().Sleep(100);'
expect pass 'int s = winsock.socket(2, 1, 0);'
expect pass '// getenv( is mentioned in a comment only'
# Comments and literals are read as text, not as code.
expect pass 'auto text = L"the remote system(s).";'
expect pass 'auto text = L"say \"system(s)\" twice";'
expect pass $'/* a note\n   on getenv(\n */ int x = 86\'400;'
expect pass 'auto text = R"x(kill(")x" + u8R"(open()";'
expect fail 'auto s = "x"; getenv("HOME");'
expect fail $'/* a note */ char c = \'"\'; int f = open(path);'
# The layer order: shell sync clock sources config timebase log platform.
expect fail '#include "shell/privilege.h"'
expect fail '#include "config/configuration.h"' log
expect fail '#include "log/logger.h"' platform
expect pass '#include "clock/local_clock.h"'
expect pass '#include "sync/decision.h"'
expect pass '#include "log/format.h"' log
# Only the win32 backend reaches windows.h, and it includes of the platform
# layer only the headers without the names windows.h makes macros of.
expect fail '#include <windows.h>' platform/posix
expect fail '#include <winsock2.h>' platform
expect pass '#include <windows.h>' platform/win32
expect fail '#include "platform/parameter_store.h"' platform/win32
expect pass '#include "platform/interface/parameter_store.h"' platform/win32
expect fail '#include "platform/parameter_store.h"' platform/interface
# A Windows build that compiles the posix backend.
printf '[{"command": "x86_64-w64-mingw32-g++-posix -c", "file": "/src/platform/posix/file.cpp"}]\n' > "$tree/commands.json"
if "$check" "$tree" "$tree/commands.json" > /dev/null; then
  echo "expected fail for a Windows build that compiles the posix backend"; failures=$((failures + 1))
fi
exit $failures
