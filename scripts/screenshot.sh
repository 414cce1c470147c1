#!/usr/bin/env bash
# Screenshots of the launcher window: the win64 halvrecht_patcher.exe under
# Wine on an X server, patching a copy of the shared sample client from a
# local server that answers slowly, captured while it patches and when it
# is ready to play. The PNGs go to BUILD/screenshots/.
#
#   PATCHER_BUILD_DIR=build bash scripts/screenshot.sh
#
# Uses $DISPLAY when set, else starts its own Xvfb; uses $WINEPREFIX.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PATCHER_BUILD_DIR:-$root/build}
data=${PATCHER_TESTDATA_DIR:-$root/../shared/testdata}
out=$build/screenshots
export WINEPREFIX=${WINEPREFIX:-/tmp/halvrecht-wine/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -x "$build/win64/launcher/win32/halvrecht_patcher.exe" ] || [ ! -x "$build/win64/tests/window/window_status_probe.exe" ]; then
  cmake -S . -B "$build/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
  cmake --build "$build/win64" --target halvrecht_patcher window_status_probe >/dev/null
fi
exe=$build/win64/launcher/win32/halvrecht_patcher.exe
probe=$build/win64/tests/window/window_status_probe.exe

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '\n' <"$work/display")"
fi

# The sample repository under /a/, /b/ and /c/, served by a server that
# holds each cabinet back a little, so the run lasts a few seconds.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for prefix in a b c; do
  cp -r "$data/e2e/basic/server" "$work/$prefix"
  chmod -R u+w "$work/$prefix"
  sed -i "s/PORT/$port/" "$work/$prefix/version.ini"
done
mkdir "$work/www" && mv "$work/a" "$work/b" "$work/c" "$work/www/"
cat >"$work/slow_server.py" <<'PY'
import http.server, sys, time
class Slow(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, target):
        if self.path.endswith(".cab"):
            time.sleep(0.5)
        super().copyfile(source, target)
    def log_message(self, *args):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Slow).serve_forever()
PY
(cd "$work/www" && exec python3 "$work/slow_server.py" "$port") &
pids+=($!)
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done

# The probe's answers go through a file: a Wine process that starts a
# session leaves Wine's background processes holding its output, and a pipe
# read to its end would wait for the session's end.
probe_answer() {
  local answer="$work/probe.txt"
  timeout "$1" wine "$probe" "${@:2}" </dev/null >"$answer" 2>/dev/null || true
  tr -d '\r' <"$answer"
}
status() { probe_answer 30; }
shoot() {
  local geometry
  geometry=$(xwininfo -name "Halvrecht Patcher v28 on X64" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print w "x" h "+" x "+" y}')
  xwd -root -silent | convert xwd:- -crop "$geometry" +repage "png:$1"
}
mkdir -p "$out"
rm -f "$out"/*.png

# One run of the product on a fresh copy of the sample client. A patching
# step lasts only milliseconds on this small sample; the probe holds the
# launcher's engine threads the moment the status line shows one, so the
# window keeps showing it for the capture. A run where the probe did not
# see one (a busy machine) is tried again on a fresh client.
run_once() {
  xdotool mousemove 0 0  # no button shows its mouse-over image
  rm -rf "$work/client"
  cp -r "$data/e2e/basic/sandbox/client" "$work/client"
  chmod -R u+w "$work/client"
  printf '[URL]\r\nVersionUrl=http://127.0.0.1:%s/a/version.ini\r\n' "$port" >"$work/client/localinfo.dat"
  cp "$exe" "$work/client/halvrecht_patcher.exe"
  # The probe watches before the launcher starts: on a busy machine a Wine
  # process can take longer to start than this sample's whole patching.
  rm -f "$work/hold.txt" "$work/hold.err"
  timeout 90 wine "$probe" --hold "Patching: " </dev/null >"$work/hold.txt" 2>"$work/hold.err" &
  local hold_pid=$!
  pids+=($hold_pid)
  for _ in $(seq 600); do
    grep -q polling "$work/hold.err" 2>/dev/null && break
    kill -0 "$hold_pid" 2>/dev/null || break
    sleep 0.1
  done
  (cd "$work/client" && exec timeout 300 wine halvrecht_patcher.exe </dev/null >/dev/null 2>&1) &
  local run_pid=$!
  pids+=($run_pid)

  wait "$hold_pid" || true
  patching=$(tr -d '\r' <"$work/hold.txt")
  if [ -n "$patching" ]; then
    shoot "$out/patching.png"
    timeout 30 wine "$probe" --release </dev/null >/dev/null 2>&1 || true
    echo "screenshot: \"$patching\" -> $out/patching.png"
  fi
  ready=""
  for _ in $(seq 600); do
    if [[ "$(status)" == "Ready to Play!" ]]; then
      sleep 0.3
      shoot "$out/ready.png"
      ready="Ready to Play!"
      echo "screenshot: \"$ready\" -> $out/ready.png"
      break
    fi
    kill -0 "$run_pid" 2>/dev/null || break
    sleep 0.1
  done
  # The player's click on the close button ends the program.
  if [ -n "$ready" ]; then
    xdotool mousemove --window "$(xdotool search --name "Halvrecht Patcher v28 on X64" | head -n 1)" 1009 13 click 1
  fi
  for _ in $(seq 100); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$run_pid" 2>/dev/null; then
    echo "screenshot: the window did not close" >&2
    return 1
  fi
  [ -n "$ready" ] || { echo "screenshot: never saw \"Ready to Play!\"" >&2; return 1; }
}

for attempt in 1 2 3; do
  run_once
  [ -z "$patching" ] || break
  echo "screenshot: run $attempt showed no patching step to the probe; again"
done
# The patching picture is a best effort: right after the whole test suite
# the probe can miss this sample's short patching step in every attempt
# (cause not found), while the window's own tests check what it shows.
[ -n "$patching" ] || echo "screenshot: never saw \"Patching\"; no patching.png this time" >&2
