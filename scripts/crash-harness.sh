#!/usr/bin/env bash
# The crash harness's long campaign: patchtool patch killed with SIGKILL at
# random and at aimed moments of real runs, each trial then checked for a
# byte-exact client (native build only). CI runs the quick mode (30 kills)
# as a CTest test; this runs 300 kills unless told otherwise.
#
# usage: bash scripts/crash-harness.sh [KILLS] [SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PATCHER_BUILD_DIR:-$PWD/build}/native
kills=${1:-300}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target crash_harness patchtool
args=("$build/tools/patchtool" --kills "$kills")
if [ $# -ge 2 ]; then args+=(--seed "$2"); fi
exec "$build/tests/crash/crash_harness" "${args[@]}"
