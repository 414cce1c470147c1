#!/usr/bin/env bash
# The demo: a synthetic game in three versions becomes a patch repository
# (patchtool build, verify), is served over HTTP (patchtool serve), and a
# copy of the first version is patched to the latest one by the console
# launcher, then compared byte for byte with the latest tree.
# Builds the native tools first. Everything happens in a temp folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PATCHER_BUILD_DIR:-$root/build}/demo
start=$(date +%s.%N)
seconds() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }'; }

echo "== building the native tools"
launcher=()
[ -x "$(command -v ccache)" ] && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATCHER_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target patchtool halvrecht-launcher >/dev/null
tool="$build/tools/patchtool"
launcher_tool="$build/launcher/halvrecht-launcher"
echo "   done after $(seconds "$start") s"

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo
echo "== a synthetic game in three versions (executables, packs, textures, text, sound renamed to audio)"
python3 scripts/synthetic_game.py "$work/game"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
repo="$work/repo"
echo
echo "== patchtool build: version 2 from version 1 (a new repository), then version 3"
"$tool" build --from "$work/game/v1" --to "$work/game/v2" --repo "$repo" --version 2 \
  --server "http://127.0.0.1:$port" --jobs 2
"$tool" build --from "$work/game/v2" --to "$work/game/v3" --repo "$repo" --version 3 --jobs 2

echo
echo "== patchtool verify: lists, cabinets and deltas against the first version's client"
"$tool" verify "$repo" --from-client "$work/game/v1" 2>/dev/null

echo
echo "== patchtool serve on 127.0.0.1:$port"
"$tool" serve "$repo" --port "$port" >"$work/serve.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  grep -q "^serving" "$work/serve.log" 2>/dev/null && break
  sleep 0.1
done

echo
echo "== a copy of version 1 (patchtool init-client writes its version.dat) and its localinfo.dat,"
echo "   brought up to date by the console launcher (halvrecht-launcher --no-launch)"
cp -r "$work/game/v1" "$work/client"
"$tool" init-client "$work/client" 1
printf '[URL]\r\nVersionUrl=http://127.0.0.1:%s/version.ini\r\n' "$port" >"$work/client/localinfo.dat"
patch_start=$(date +%s.%N)
(cd "$work/client" && "$launcher_tool" --no-launch)
patch_time=$(seconds "$patch_start")

echo
echo "== the client against version 3, byte for byte"
files() {
  (cd "$1" && find . -type f ! -path ./version.dat ! -path ./version.ini ! -path ./localinfo.dat \
    ! -path './backup/*' ! -path './Log/*' | sort)
}
if [ "$(files "$work/game/v3")" != "$(files "$work/client")" ]; then
  diff <(files "$work/game/v3") <(files "$work/client") >&2 || true
  echo "   the client's files are not those of version 3" >&2
  exit 1
fi
while read -r f; do
  cmp -s "$work/game/v3/$f" "$work/client/$f" || { echo "   differs: $f" >&2; exit 1; }
done < <(files "$work/game/v3")
echo "   the client holds exactly the files of version 3, each identical"
echo "   (folders emptied by the deletion list stay, as the patcher leaves them)"

downloaded=$(awk '$3 == 200 || $3 == 206 { sum += $4 } END { print sum + 0 }' "$work/serve.log")
client=$(du -sb --apparent-size "$work/game/v3" | cut -f1)
echo
echo "== summary"
echo "   versions: 1 -> 3 ($(grep -c '^GET /[0-9]*/version.list' "$work/serve.log") patch lists, $(grep -c '\.cab ' "$work/serve.log") cabinets)"
awk -v d="$downloaded" -v c="$client" 'BEGIN {
  printf "   downloaded %.1f MB for a client of %.1f MB (%.0f%%)\n", d / 1e6, c / 1e6, 100 * d / c }'
echo "   patch run ${patch_time} s; whole demo $(seconds "$start") s"
