#!/usr/bin/env bash
# Seeded faults: how many realistic bugs the tests catch. Each tests/faults/NN-name.patch is
# one bug; its header (before the first "diff --git", which patch ignores) says what it breaks
# ("Fault:") and which tests should catch it ("Covers:", one line per kind):
#   native|qt [NAME...]  ctest on the dev build: the tests named NAME or run by the program
#                        NAME; without names every test of the kind (qt: those named qt_*)
#   asan [NAME...]       the same as native on the build with the sanitizers
#   wine                 tools/run-windows-tests.sh;  fuzz  tools/run-fuzz.sh
#   vm                   tests/vm/run.sh, the real kernel drivers, on the dev build
#   package              tests/package_test.sh (the .deb, installed on a fresh Debian)
# Usage: tools/run-seeded-faults.sh [--label NAME] [FAULT...]; FAULT: a patch, its name or its number.
# Prints caught, missed or broken (does not apply or build) per fault, and with --label also
# into tests/faults/results/NAME.txt. FAULTS_SCRATCH (default build/faults) holds the scratch
# copy, kept between runs so that builds stay incremental, and the logs.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-packages.sh patch

label=""
faults=()
while [ $# -gt 0 ]; do
  case $1 in
  --label) label=$2; shift ;;
  *) match=(tests/faults/"$(basename "${1%.patch}")"*.patch)
     [ -f "${match[0]}" ] || { echo "no such fault: $1" >&2; exit 1; }
     faults+=("${match[0]}") ;;
  esac
  shift
done
[ ${#faults[@]} -gt 0 ] || faults=(tests/faults/[0-9]*.patch)

scratch=${FAULTS_SCRATCH:-$PWD/build/faults}
mkdir -p "$scratch/logs"
# A hung test fails without stalling the run; the flood test and the fuzzing need not be long.
timeout=${FAULT_TEST_TIMEOUT:-90}
export VARNOTH_FLOOD_SECONDS=${VARNOTH_FLOOD_SECONDS:-10} FUZZ_SECONDS=${FUZZ_SECONDS:-10}
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}

# Makes the scratch copy's files equal to the tree's as git knows them, copying only those that
# differ: the build redoes what a fault touched and nothing else, and a patch is undone whole.
sync_scratch() {
  git ls-files -z | while IFS= read -r -d '' file; do
    cmp -s "$file" "$scratch/$file" && continue
    mkdir -p "$(dirname "$scratch/$file")" && cp "$file" "$scratch/$file"
  done
}

covers() { sed -n '/^diff --git/q; s/^Covers: *//p' "$1"; }

# Runs one kind of tests in the scratch copy: 0 passed, 1 a test failed, 2 no build or no test.
# Each build comes first, so that a fault that does not compile is not taken for a failed test.
run_kind() { # KIND NAME...
  local presets=(dev) filter=(-R "^($(IFS='|' && echo "${*:2}"))(\\.|\$)")
  case $1 in asan | fuzz) presets=("$1") ;; wine) presets=(windows-x86_64 windows-i686) ;;
  package) presets=(release) ;; esac
  for preset in "${presets[@]}"; do
    { cmake --preset "$preset" && cmake --build --preset "$preset" -j 2; } || return 2
  done
  case $1 in
  native | qt | asan)
    # ctest names a test by its program, a dot and its own name; qt tests begin with qt_.
    [ $# -gt 1 ] || filter=("-$([ "$1" = qt ] && echo R || echo E)" '^qt_')
    ctest --preset "${presets[0]}" -N "${filter[@]}" | grep -q 'Total Tests: [1-9]' ||
      { echo "no test matches: $*"; return 2; }
    # Program files in a folder of our own: under /tmp another run's tests may overwrite them.
    mkdir -p tmp
    TEST_TMPDIR=$PWD/tmp ctest --preset "${presets[0]}" -j 2 --timeout "$timeout" "${filter[@]}" ||
      return 1 ;;
  wine) tools/run-windows-tests.sh || return 1 ;;
  fuzz) tools/run-fuzz.sh || return 1 ;;
  vm) tests/vm/run.sh || return 1 ;;
  package) tests/package_test.sh || return 1 ;;
  *) echo "unknown kind: $1"; return 2 ;;
  esac
}

sync_scratch
# A suite that fails on the clean tree would "catch" every fault: each kind used runs there
# first, whole.
for kind in $(for patch in "${faults[@]}"; do covers "$patch"; done | cut -d' ' -f1 | sort -u); do
  log=$scratch/logs/clean-$kind.log
  (cd "$scratch" && run_kind "$kind" </dev/null) >"$log" 2>&1 ||
    { echo "the clean tree fails its $kind tests, so no fault can be judged: see $log" >&2; exit 1; }
done

results=()
for patch in "${faults[@]}"; do
  name=$(basename "$patch" .patch)
  log=$scratch/logs/$name.log
  status=2
  if [ -n "$(covers "$patch")" ] && patch -d "$scratch" -p1 --batch --no-backup-if-mismatch <"$patch" >"$log" 2>&1; then
    # Every Covers line, up to the first that catches it.
    status=0
    while [ $status -eq 0 ] && read -r kind names; do
      (cd "$scratch" && run_kind "$kind" $names </dev/null) >>"$log" 2>&1 || status=$?
    done < <(covers "$patch")
  fi
  sync_scratch
  case $status in 0) result=missed ;; 1) result=caught ;; *) result=broken ;; esac
  results+=("$(printf '%-7s %s' "$result" "$name")")
  echo "${results[-1]}"
done

count() { printf '%s\n' "${results[@]}" | grep -c "^$1" || true; }
summary="${#results[@]} faults: $(count caught) caught, $(count missed) missed, $(count broken) broken"
echo "$summary"
if [ -n "$label" ]; then
  { echo "# $label: $(date -u +%Y-%m-%d), tree $(git describe --always --dirty)"
    printf '%s\n' "${results[@]}" "$summary"; } >"tests/faults/results/$label.txt"
fi
