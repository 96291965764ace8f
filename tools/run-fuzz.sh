#!/usr/bin/env bash
# Builds the core's libFuzzer targets and runs each for FUZZ_SECONDS (default 60) from its seed
# corpus in tests/fuzz/corpus. Fails on any finding; the input that broke an invariant is left
# in build/fuzz/findings. Installs what is missing from Debian's packages.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake make clang libclang-rt-14-dev

seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "$(nproc)"

findings=build/fuzz/findings
mkdir -p "$findings"
status=0
for target in core_fuzzer; do
  # The seed corpus stays as committed; what the run learns goes to a scratch copy.
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/$target/* "$corpus"/
  log=build/fuzz/$target.log
  if build/fuzz/tests/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$corpus" > "$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: ${runs:-?} inputs in ${seconds}s, no finding"
  else
    echo "fuzz: $target: FINDING (see $log and $findings)"
    tail -n 30 "$log"
    status=1
  fi
  rm -rf "$corpus"
done
exit $status
