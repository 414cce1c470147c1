#!/usr/bin/env bash
# The built-in demo: builds the native tools and shows what they do on the
# shared sample data.
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
echo "Still to come: the manifest decisions, the patch driver and the patch run"
echo "itself (patchtool patch CLIENT_DIR MANIFEST_URL)."
