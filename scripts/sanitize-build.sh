#!/usr/bin/env bash
# Configures and builds one of the sanitizer builds of the native code with
# clang, in its own folder under the build folder:
#
#   scripts/sanitize-build.sh address [TARGET...]
#       $build/sanitize: AddressSanitizer and UndefinedBehaviorSanitizer in
#       all our code and tests, with the libFuzzer targets (*_fuzz)
#   scripts/sanitize-build.sh thread [TARGET...]
#       $build/tsan: ThreadSanitizer
#
# Without targets everything of that build is built. Both optimise a little
# (-O1) and keep only line tables: the sanitizers' reports name files and
# lines, and the builds stay quick enough for CI.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
kind=${1:?usage: sanitize-build.sh address|thread [TARGET...]}
shift
case $kind in
  address) folder=sanitize options=(-DPATCHER_FUZZ=ON -DPATCHER_SANITIZE=address,undefined) ;;
  thread) folder=tsan options=(-DPATCHER_SANITIZE=thread) ;;
  *) echo "sanitize-build.sh: unknown kind $kind" >&2; exit 2 ;;
esac
build=${PATCHER_BUILD_DIR:-$root/build}/$folder
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -gline-tables-only" \
  "-DCMAKE_C_FLAGS_RELEASE=-O1 -gline-tables-only" -DPATCHER_WERROR=ON "${options[@]}" \
  ${PATCHER_TESTDATA_DIR:+-DPATCHER_TESTDATA_DIR="$PATCHER_TESTDATA_DIR"} >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j "${PATCHER_JOBS:-$(nproc)}" --target "$@"
else
  cmake --build "$build" -j "${PATCHER_JOBS:-$(nproc)}"
fi
