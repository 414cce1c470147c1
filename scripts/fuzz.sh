#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each on its corpus.
#
#   scripts/fuzz.sh                 a short run of every target (CI's):
#                                   FUZZ_SECONDS (20) seconds each
#   scripts/fuzz.sh --long          FUZZ_RUNS (10 million) executions of every
#                                   target, one after another
#   scripts/fuzz.sh [--long] cab url ...   only these targets
#
# Targets: cab delta patch_list ini manifest http_head url (the parsers of
# outside input) and encoder (the publisher's delta encoder). The build is
# $PATCHER_BUILD_DIR/sanitize (scripts/sanitize-build.sh address), the same
# as the sanitizer suite of test.sh, so CI builds it once. Each target
# starts from its committed seeds (tests/fuzz/seeds/<target>) and, where
# the shared test data has inputs of its kind, from those (read in place,
# or prefixed with the target's leading control byte); what the runs find
# is kept in $build/fuzz/corpus/<target> for the next run. A crash or a sanitizer
# finding stops that target with the input in $build/fuzz/artifacts/<target>/
# and makes the script fail; mend the defect, then keep the input as
# tests/fuzz/regressions/<target>/<defect>.bin, which fuzz_replay_tests
# replays in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PATCHER_BUILD_DIR:-$root/build}/sanitize
shared=${PATCHER_TESTDATA_DIR:-$root/../shared/testdata}
all=(cab delta patch_list ini manifest http_head url encoder)

long=0
if [ "${1:-}" = "--long" ]; then
  long=1
  shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

PATCHER_TESTDATA_DIR=$shared scripts/sanitize-build.sh address "${targets[@]/%/_fuzz}"

# Seeds derived from the shared test data, rebuilt every run.
derived=$build/fuzz/shared-seeds
rm -rf "$derived"
mkdir -p "$derived"/{cab,delta,patch_list,ini,manifest}
# Cabinets small enough to mutate quickly.
find "$shared/cab" -name '*.cab' -size -64k -exec ln -s {} "$derived/cab/" \;
for list in "$shared"/e2e/*/server/*/version.list; do
  ln -s "$list" "$derived/patch_list/$(basename "$(dirname "$list")").list"
done
for ini in "$shared"/e2e/*/server/*.ini "$shared"/e2e/*/localinfo.dat; do
  { printf '\x3f'; cat "$ini"; } >"$derived/ini/$(basename "$ini")"
  { printf '\x07'; cat "$ini"; } >"$derived/manifest/$(basename "$ini")"
done
# Deltas with their originals, where both are small: two bytes of the
# original's length, the original, the delta.
while IFS=$'\t' read -r name kind _; do
  orig=$shared/jdiff/$name/orig
  delta=$shared/jdiff/$name/delta.jdf
  [ "$kind" = default ] && [ -f "$orig" ] && [ -f "$delta" ] || continue
  size=$(stat -c %s "$orig")
  [ "$size" -le 4096 ] && [ "$(stat -c %s "$delta")" -le 65536 ] || continue
  { printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"; cat "$orig" "$delta"; } \
    >"$derived/delta/$name.bin"
done < <(tail -n +2 "$shared/jdiff/MANIFEST.tsv")

# The targets of parsers that read files write each input to a file of the
# temporary folder first; on a memory file system that costs a fraction of
# what a disk's truncation and journal do.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

status=0
for target in "${targets[@]}"; do
  corpus=$build/fuzz/corpus/$target
  artifacts=$build/fuzz/artifacts/$target/
  mkdir -p "$corpus" "$artifacts"
  inputs=("$corpus" "$root/tests/fuzz/seeds/$target")
  [ -d "$derived/$target" ] && inputs+=("$derived/$target")
  if [ $long -eq 1 ]; then
    limit=(-runs="${FUZZ_RUNS:-10000000}")
  else
    limit=(-max_total_time="${FUZZ_SECONDS:-20}")
  fi
  # Small inputs keep every execution quick: a few kilobytes of cabinet
  # can describe hundreds of blocks (ten times slower at 16 KiB), and the
  # profile reader parses a file again for every key it is asked for.
  case $target in
    cab | ini | manifest) maxLen=4096 ;;
    *) maxLen=65536 ;;
  esac
  echo "fuzz: $target ${limit[*]}"
  start=$(date +%s)
  if ! "$build/tests/fuzz/${target}_fuzz" "${limit[@]}" -max_len=$maxLen -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "${inputs[@]}" >"$build/fuzz/$target.log" 2>&1; then
    echo "fuzz: $target FAILED; the input is in $artifacts, the report in $build/fuzz/$target.log"
    tail -n 40 "$build/fuzz/$target.log"
    status=1
    continue
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz/$target.log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/fuzz/$target.log" | tail -n 1)
  echo "fuzz: $target passed: ${runs:-?} executions in $(($(date +%s) - start)) s (${rate:-?}/s), corpus $(ls "$corpus" | wc -l)"
done
exit $status
