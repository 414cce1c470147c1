#!/usr/bin/env bash
# The built-in demo: builds the native tools and shows what they do on the
# shared sample data, ending with a whole patch run of the sample client.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PATCHER_BUILD_DIR:-$root/build}/native
data=${PATCHER_TESTDATA_DIR:-$root/../shared/testdata}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPATCHER_TESTS=OFF >/dev/null
cmake --build "$build" --target patchtool >/dev/null
tool="$build/tools/patchtool"

echo "== patchtool crc: the CRC texts a patch list carries for these cabinets"
"$tool" crc "$data"/cab/fillyfoal-mszip.cab "$data"/cab/gcab-none-mixed.cab "$data"/cab/libmspack-normal_2files_1folder.cab
echo
echo "== an unreadable file gives the unknown CRC and exit status 1"
"$tool" crc "$data/cab/no-such.cab" || echo "(exit status $?)"
echo
echo
echo "== patchtool cab list: a cabinet's files"
"$tool" cab list "$data"/cab/libmspack-normal_2files_1folder.cab
out=$(mktemp -d)
echo
echo "== patchtool cab extract, then the CRCs of what came out"
"$tool" cab extract "$data"/cab/libmspack-normal_2files_1folder.cab "$out"
"$tool" crc "$out"/*
rm -rf "$out"
echo

echo "== patchtool patch: the shared sample client, version 100, patched to 103"
echo "   from a local HTTP server (three server names, the same files)"
work=$(mktemp -d)
trap 'kill "${server_pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for prefix in a b c; do
  cp -r "$data/e2e/basic/server" "$work/www-$prefix"
  chmod -R u+w "$work/www-$prefix"
  sed -i "s/PORT/$port/" "$work/www-$prefix/version.ini"
done
mkdir -p "$work/www"
for prefix in a b c; do mv "$work/www-$prefix" "$work/www/$prefix"; done
cp -r "$data/e2e/basic/sandbox/client" "$work/client"
(cd "$work/www" && exec python3 -m http.server "$port" --bind 127.0.0.1 >/dev/null 2>&1) &
server_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
"$tool" patch "$work/client" "http://127.0.0.1:$port/a/version.ini"
echo
echo "== the client's version.dat now holds"
python3 -c "import struct,sys; print(struct.unpack('<I', open(sys.argv[1], 'rb').read(4))[0])" "$work/client/version.dat"
echo
echo "== the obsolete files named by delete.ini are gone:"
for f in data/old/legacy.pak ui/skins/old/obsolete.bmp; do
  [ -e "$work/client/$f" ] && echo "  still there: $f" || echo "  removed: $f"
done
echo
echo "== the patched files against the expected tree (sha256)"
bad=0
while IFS=$'\t' read -r path size sha crc; do
  [ "$path" = path ] && continue
  have=$(sha256sum "$work/$path" 2>/dev/null | cut -d' ' -f1)
  [ "$have" = "$sha" ] || { echo "  differs: $path"; bad=1; }
done < "$data/e2e/basic/expected.tsv"
[ $bad = 0 ] && echo "  every expected file is byte-exact"
