#!/usr/bin/env bash
# The Windows build's program run whole under Wine, from the Linux side of the
# windows stage (scripts/test windows: its own network namespace and Wine
# prefix, no capability to set the clock). Wine returns exit codes cut to 8
# bits and some of its stubs end a program with a code that says nothing, so
# each case judges the program's output first.
#
# Usage: whole_program.sh <case> <build folder> <source folder> <peer root>
#   usage        kairovel.exe /? prints the usage text byte for byte
#   parse-error  an unknown switch is refused with its message and exit code 1
#   immediate    /immediate corrects the simulated clock against chronyd on loopback
#   killed       /immediate killed in its slew: the next run puts the adjustment back
#   service      /install, /status, pause and continue, /remove under Wine's service manager
set -uo pipefail
case_name=${1:?case} build=${2:?build folder} source=${3:?source folder} peers=${4:?peer root}
wine_run=$source/scripts/wine-run
kairovel=$build/src/shell/kairovel.exe
simclock=$build/tools/kairovel-simclock.exe
sc=$build/tools/kairovel-sc.exe
work=$(mktemp -d)
chronyd_pid=
cleanup() {
  [ -n "$chronyd_pid" ] && kill "$chronyd_pid" 2> /dev/null && wait "$chronyd_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Runs a Windows program; its standard output in $out, standard error in $err, exit code in $code.
run() {
  "$wine_run" "$@" > "$work/out" 2> "$work/err"
  code=$?
  out=$(cat "$work/out"; printf x) && out=${out%x}
  err=$(cat "$work/err"; printf x) && err=${err%x}
}
# The text as a Windows console program writes it to a pipe: CR LF line ends.
crlf() { printf '%s' "$1" | sed -z 's/\n/\r\n/g'; }
expect_output() {  # expect_output <what> <expected text> <expected exit code>
  local expected
  expected=$(crlf "$2"; printf x) && expected=${expected%x}
  [ "$out" = "$expected" ] || fail "$1: standard output differs:"$'\n'"$(diff <(printf '%s' "$expected") <(printf '%s' "$out") | cat -A)"
  [ -z "$err" ] || fail "$1: standard error: $err"
  [ "$code" = "$3" ] || fail "$1: exit code $code, not $3"
}

# The simulated clock's true error (milliseconds) in $error_ms; true when it is within 50 ms.
clock_corrected() {
  run "$simclock" show
  error_ms=$(tr -d '\r' <<< "$out" | awk '$1 == "true_error_ms" { print $2 }')
  awk -v e="$error_ms" 'BEGIN { exit !(e != "" && e > -50 && e < 50) }'
}

start_chronyd() {
  printf 'local stratum 8\ncmdport 0\nbindcmdaddress /\npidfile %s/chronyd.pid\nallow\nport 123\n' "$work" \
    > "$work/chrony.conf"
  "$peers/usr/sbin/chronyd" -d -x -u root -f "$work/chrony.conf" > "$work/chronyd.log" 2>&1 &
  chronyd_pid=$!
  sleep 1  # chronyd answers at once, with its local clock at stratum 8
}

case "$case_name" in
  usage)
    run "$kairovel" '/?'
    usage=$(cat "$source/tests/e2e/usage.txt"; printf x) && usage=${usage%x}
    expect_output "/?" "$usage" 0
    ;;
  parse-error)
    run "$kairovel" /foo
    expect_output "/foo" $'Illegal argument /foo in command line\n' 1
    ;;
  immediate)
    start_chronyd
    # Wine gives a program started from Linux the prefix's machine environment
    # over the caller's, so the simulated clock is the prefix's (C:\kairovel),
    # as for the service; the cases run one at a time, each from a fresh state.
    unset KAIROVEL_CLOCK KAIROVEL_ROOT
    run "$simclock" reset
    run "$simclock" set --offset-ms 200 --drift-ppm 40
    [ "$code" = 0 ] || fail "kairovel-simclock set: $code $out $err"
    run "$kairovel" /immediate /ntp_machine=127.0.0.1 /period=0:0:4 /trace=debug
    [[ "$out" == *"Corrected clock deviation of "* ]] || fail "/immediate did not correct the clock: $out $err"
    # 200 ms off before; after a 2 s slew at 100 per mille what is left is the
    # measurement's error, and a window that Wine ends late by 100 ms adds 10 ms.
    clock_corrected ||
      fail "true error after /immediate is '$error_ms' ms, not within 50 ms: $out"
    ;;
  killed)
    start_chronyd
    unset KAIROVEL_CLOCK KAIROVEL_ROOT  # the prefix's simulated clock, as for immediate
    run "$simclock" reset
    run "$simclock" set --offset-ms 200
    # A 10 s slew; the Linux process of wine-run's one child is the program itself.
    "$wine_run" "$kairovel" /immediate /ntp_machine=127.0.0.1 /period=0:0:20 > "$work/killed" 2>&1 &
    launcher=$!
    adjustment() { run "$simclock" show; tr -d '\r' <<< "$out" | awk '$1 == "adjustment" || $1 == "disabled" { printf "%s ", $2 }'; }
    for _ in $(seq 100); do [ "$(adjustment)" = "100000 1 " ] || break; sleep 0.1; done
    program=$(ps -o pid= --ppid "$launcher")
    [ -n "$program" ] && kill -9 $program
    wait "$launcher"
    left=$(adjustment)
    [[ "$left" != "100000 "* && "$left" == *" 0 " ]] || fail "the killed run left no slew ($left): $(cat "$work/killed")"
    run "$kairovel" /status
    [[ "$out" == *"Put back the time adjustment a run that ended without restoring it had found: adjustment 100000 (disabled)"* ]] ||
      fail "/status did not say it put the adjustment back: $out $err"
    [ "$(adjustment)" = "100000 1 " ] || fail "adjustment after /status: $(adjustment)"
    ;;
  service)
    start_chronyd
    # Wine's service manager gives a service the machine's environment, not
    # the installer's: the prefix's (scripts/wine-run --start) has the
    # simulated clock under C:\kairovel, and so has every command here.
    unset KAIROVEL_CLOCK KAIROVEL_ROOT
    # Installed from a folder with a blank in its name, as under "Program Files",
    # beside a program named as the part before the blank: the service manager
    # must start this program, not that one.
    mkdir -p "$work/installed program"
    cp "$kairovel" "$work/installed program/kairovel.exe"
    cp "$simclock" "$work/installed.exe"
    kairovel="$work/installed program/kairovel.exe"
    run "$kairovel" /status
    expect_output "/status before" $'Kairovel not installed on this machine\nType Kairovel /? for help\n' 0
    # The simulated clock 2 s ahead; the service steps it (/adjust=no) in its first pass.
    run "$simclock" set --offset-ms 2000
    run "$kairovel" /install /ntp_machine=127.0.0.1 /period=1:00:00 /adjust=no
    expect_output "/install" $'Service installed and running\n' 0
    state() { run "$sc" "$@"; tr -d '\r' <<< "$out" | grep -o 'STATE *: [0-9] *[A-Z_]*'; }
    for _ in $(seq 50); do [[ "$(state query Kairovel)" == *RUNNING ]] && break; sleep 0.2; done
    run "$kairovel" /status
    expect_output "/status" $'Kairovel is installed on this machine\nKairovel is running\n\n1 configured time source(s):\n   NTP machine 127.0.0.1\n\nUpdate period is 3600 seconds\nAdjustment is not enabled\n' 0
    # The service reached the simulated clock, through the machine's
    # environment, and corrected it: nothing of Wine's (the host's) clock.
    corrected=1
    for _ in $(seq 75); do
      clock_corrected && corrected=0 && break
      sleep 0.2
    done
    [ "$corrected" = 0 ] ||
      fail "the service did not correct the simulated clock: true error $error_ms ms"
    [[ "$(state pause Kairovel)" == *"7  PAUSED" ]] || fail "pause: $out $err"
    [[ "$(state query Kairovel)" == *"7  PAUSED" ]] || fail "query after pause: $out"
    [[ "$(state continue Kairovel)" == *"4  RUNNING" ]] || fail "continue: $out $err"
    # The real service manager deletes the service's key, its Parameters with
    # it, once the stopped service is deleted (the Linux stand-in keeps them),
    # so the removal's own two deletions that follow mostly find nothing. Wine
    # deletes it in its own time: on a loaded machine they may come first.
    run "$kairovel" /remove
    expected=$'Service stopped and removed\n'
    [[ "$out" == *"Registry open error 2"* ]] &&
      expected=$'Registry open error 2 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\nRegistry delete error 2 on SYSTEM\\CurrentControlSet\\Services\\Kairovel\\Parameters\n'"$expected"
    expect_output "/remove" "$expected" 0
    run "$kairovel" /status
    expect_output "/status after" $'Kairovel not installed on this machine\nType Kairovel /? for help\n' 0
    run "$simclock" reset
    ;;
  *)
    echo "whole_program.sh: unknown case $case_name" >&2
    exit 2
    ;;
esac
[ $failures -eq 0 ] && echo "$case_name: passed"
exit $((failures > 0))
