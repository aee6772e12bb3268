#!/usr/bin/env bash
# The layering check must refuse each kind of OS access in a system folder,
# and accept calls on the platform layer's own facilities.
set -u
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/sync"
failures=0
expect() {  # expect <pass|fail> <line of code>
  printf '%s\n' "$2" > "$tree/sync/probe.cpp"
  if "$check" "$tree" > /dev/null; then result=pass; else result=fail; fi
  if [ "$result" != "$1" ]; then echo "expected $1 for: $2"; failures=$((failures + 1)); fi
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
exit $failures
