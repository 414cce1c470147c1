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
exec timeout "${WINE_TEST_TIMEOUT:-900}" wine "$@" </dev/null
