#!/usr/bin/env bash
# Runs one Windows test binary under wine64, headless and bounded in time.
# CMake uses this as the cross-compiling emulator of the win64 build.
set -u
: "${WINEPREFIX:=/tmp/halvrecht-wine/prefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 180 wineboot --init </dev/null >/dev/null 2>&1
  timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
fi
# The output goes through files rather than straight into ctest's pipes.
# The first Wine process of a session starts Wine's own background
# processes (services, the desktop); they inherit its output and hold it
# open until the session ends, and ctest waits for that end of the pipe: a
# test that had finished could then wait for minutes, past its time-out.
# Standard output and error stay apart (tests compare one of them).
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
timeout "${WINE_TEST_TIMEOUT:-900}" wine "$@" </dev/null >"$out" 2>"$err" &
pid=$!
tail -n +1 -s 0.2 -f --pid="$pid" "$err" >&2 &
errTail=$!
tail -n +1 -s 0.2 -f --pid="$pid" "$out"
wait "$pid"
status=$?
wait "$errTail"
rm -f "$out" "$err"
exit $status
