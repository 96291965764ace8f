#!/usr/bin/env bash
# Seeded faults: how many realistic bugs the tests catch. Each NN-name.patch here is one bug;
# its header (text before the first "diff --git", which patch ignores) says what it breaks
# ("Fault:") and which tests should catch it ("Covers:", one line per kind):
#   native NAME...   ctest on the dev build: the tests named NAME or run by the program NAME
#   qt [NAME...]     the same for the Qt tests; without names, every qt_* test
#   wine             tools/run-windows-tests.sh (a few minutes)
#   fuzz             tools/run-fuzz.sh, each target for FUZZ_SECONDS (default 10)
#
#   tests/faults/run.sh [--label NAME] [FAULT...]   FAULT: a patch, its name or its number
#
# Prints "caught", "missed" or "broken" (does not apply or does not build) per fault and a
# summary; with --label also into tests/faults/results/NAME.txt. Exits non-zero only when the
# harness itself fails, such as a covering suite that already fails on the clean tree.
# FAULTS_SCRATCH (default build/faults) holds the scratch copy, kept between runs so that
# builds stay incremental; logs are in its logs/ folder.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
tools/install-packages.sh jq patch

label=""
faults=()
while [ $# -gt 0 ]; do
  case $1 in
  --label) label=$2; shift 2 ;;
  *)
    match=(tests/faults/"$(basename "${1%.patch}")"*.patch)
    [ -f "${match[0]}" ] || { echo "no such fault: $1" >&2; exit 1; }
    faults+=("${match[0]}")
    shift ;;
  esac
done
[ ${#faults[@]} -gt 0 ] || faults=(tests/faults/[0-9]*.patch)

scratch=${FAULTS_SCRATCH:-$root/build/faults}
mkdir -p "$scratch/logs"
# A hung test counts as failed, but must not stall the run; the flood test need not be long.
timeout=${FAULT_TEST_TIMEOUT:-90}
export VARNOTH_FLOOD_SECONDS=${VARNOTH_FLOOD_SECONDS:-10} FUZZ_SECONDS=${FUZZ_SECONDS:-10}
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}

# Makes the scratch copy's files equal to the tree's as git knows them (git add new ones).
# Only files that differ are copied, and so get a new time: the build redoes what a fault
# touched, and nothing else. This also undoes a patch, whatever state it left behind.
sync_scratch() {
  git ls-files -z | while IFS= read -r -d '' file; do
    cmp -s "$file" "$scratch/$file" && continue
    mkdir -p "$(dirname "$scratch/$file")" && cp "$file" "$scratch/$file"
  done
}

covers() { sed -n '/^diff --git/q; s/^Covers: *//p' "$1"; }

# The ctest regex of the dev build's tests that NAMES select (see the kinds above).
select_tests() { # KIND NAME...
  ctest --preset dev --show-only=json-v1 | jq -r --arg kind "$1" '
    [.tests[] | .name as $n | ((.command // [""])[0] | split("/") | last) as $p
     | select(if $ARGS.positional == [] then ($n | startswith("qt_")) == ($kind == "qt")
              else any($ARGS.positional[]; . == $n or . == $p) end)
     | $n | gsub("(?<c>\\W)"; "\\\(.c)")]
    | if . == [] then "" else "^(" + join("|") + ")$" end' --args "${@:2}"
}

# Runs one kind of tests in the scratch copy: 0 passed, 1 a test failed, 2 no build or no test.
run_kind() { # KIND NAME...
  local kind=$1 regex
  case $kind in
  native | qt)
    { cmake --preset dev && cmake --build --preset dev -j 2; } || return 2
    regex=$(select_tests "$@")
    [ -n "$regex" ] || { echo "no test matches: $*"; return 2; }
    # Program files go to a folder of our own: under /tmp another run's tests may overwrite them.
    mkdir -p tmp
    TEST_TMPDIR=$PWD/tmp ctest --preset dev -j 2 --timeout "$timeout" -R "$regex" || return 1 ;;
  wine)
    # Built first so that a fault that does not compile is not taken for a failed test.
    for preset in windows-x86_64 windows-i686; do
      { cmake --preset $preset && cmake --build --preset $preset -j 2; } || return 2
    done
    tools/run-windows-tests.sh || return 1 ;;
  fuzz)
    { cmake --preset fuzz && cmake --build --preset fuzz -j 2; } || return 2
    tools/run-fuzz.sh || return 1 ;;
  *) echo "unknown kind: $kind"; return 2 ;;
  esac
}

# Runs every Covers line of a patch in the scratch copy; stops at the first that catches it.
run_covers() { # PATCH
  local kind names status
  while read -r kind names; do
    status=0
    (cd "$scratch" && run_kind "$kind" $names </dev/null) || status=$?
    [ $status -eq 0 ] || return $status
  done < <(covers "$1")
}

sync_scratch
# A suite that fails on the clean tree would "catch" every fault, so each one used is run
# there first, once, with the names of all faults' Covers lines of its kind together.
declare -A names=() every=()
for patch in "${faults[@]}"; do
  while read -r kind rest; do
    names[$kind]="${names[$kind]:-} $rest"
    [ -n "$rest" ] || every[$kind]=1
  done < <(covers "$patch")
done
for kind in "${!names[@]}"; do
  list=$([ -n "${every[$kind]:-}" ] || printf '%s\n' ${names[$kind]} | sort -u)
  log=$scratch/logs/clean-$kind.log
  if ! (cd "$scratch" && run_kind "$kind" $list </dev/null) >"$log" 2>&1; then
    echo "the clean tree fails its $kind tests, so no fault can be judged: see $log" >&2
    exit 1
  fi
done

results=()
for patch in "${faults[@]}"; do
  name=$(basename "$patch" .patch)
  log=$scratch/logs/$name.log
  status=0
  if [ -z "$(covers "$patch")" ]; then
    echo "no Covers: line" >"$log"
    status=2
  elif ! patch -d "$scratch" -p1 --batch --dry-run <"$patch" >"$log" 2>&1; then
    status=2
  else
    patch -d "$scratch" -p1 --batch --no-backup-if-mismatch <"$patch" >>"$log" 2>&1
    run_covers "$patch" >>"$log" 2>&1 || status=$?
    sync_scratch
  fi
  case $status in 0) result=missed ;; 1) result=caught ;; *) result=broken ;; esac
  results+=("$(printf '%-7s %s' "$result" "$name")")
  echo "${results[-1]}"
done

count() { printf '%s\n' "${results[@]}" | grep -c "^$1" || true; }
summary="${#results[@]} faults: $(count caught) caught, $(count missed) missed, $(count broken) broken"
echo "$summary"
if [ -n "$label" ]; then
  mkdir -p tests/faults/results
  { echo "# $label: $(date -u +%Y-%m-%d), tree $(git describe --always --dirty)"
    printf '%s\n' "${results[@]}" "$summary"; } >"tests/faults/results/$label.txt"
fi
