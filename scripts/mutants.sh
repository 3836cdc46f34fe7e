#!/usr/bin/env bash
# Mutation run: puts each single-line fault of bench/mutants/mutants.txt into
# the working tree in turn, rebuilds an existing build directory, runs the
# tests of the fault's labels and restores the file. A fault that no test
# notices shows a test worth adding (or a harmless change to drop from the
# list).
#
#   scripts/mutants.sh [BUILD_DIR] [PATH_REGEX]
#
# BUILD_DIR defaults to build/ and must be configured already; PATH_REGEX
# keeps only the faults whose file matches it (e.g. '^(serial|protocol)/').
#
# Each line of the list: file ||| original text ||| replacement ||| labels |||
# description. The original text must occur exactly once in the file; where
# one line is not unique, \n in the original and the replacement stands for a
# line break, so that the neighbouring lines pick the place. Labels are ctest
# labels, several joined by '|' or ','. Lines starting with # and blank lines
# are skipped. Prints one line per fault and a summary; exits 0
# only when every fault was caught.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="${1:-build}"
only="${2:-}"
list="$root/bench/mutants/mutants.txt"
sep=' ||| '

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  echo "mutants: $build is not a configured build directory" >&2
  exit 2
fi
if [[ -n "$(git status --porcelain -- serial protocol scan viewer app sim record lds python)" ]]; then
  echo "mutants: the product folders have uncommitted changes; commit or stash them first" >&2
  exit 2
fi

current=""
restore() {
  if [[ -n "$current" ]]; then
    git checkout -q -- "$current"
    current=""
  fi
}
trap 'echo "mutants: interrupted; ${current:-nothing} restored" >&2; restore; exit 130' INT TERM
trap restore EXIT

log="$(mktemp)"
caught=0 survived=0 failed=0 skipped=0 total=0
lineno=0
while IFS= read -r line || [[ -n "$line" ]]; do
  lineno=$((lineno + 1))
  [[ -z "${line//[[:space:]]/}" || "$line" =~ ^[[:space:]]*# ]] && continue
  rest="$line"
  fields=()
  while [[ "$rest" == *"$sep"* ]]; do
    fields+=("${rest%%"$sep"*}")
    rest="${rest#*"$sep"}"
  done
  fields+=("$rest")
  if ((${#fields[@]} != 5)); then
    echo "SKIPPED       line $lineno: expected 5 fields separated by '$sep', found ${#fields[@]}"
    skipped=$((skipped + 1)) total=$((total + 1))
    continue
  fi
  file="${fields[0]}" labels="${fields[3]//,/|}" what="${fields[4]}"
  original="${fields[1]//\\n/$'\n'}" replacement="${fields[2]//\\n/$'\n'}"
  [[ -n "$only" && ! "$file" =~ $only ]] && continue
  total=$((total + 1))
  if [[ ! -f "$file" ]]; then
    echo "SKIPPED       line $lineno: $file does not exist"
    skipped=$((skipped + 1))
    continue
  fi
  IFS= read -r -d '' content <"$file"
  without="${content//"$original"/}"
  matches=$(((${#content} - ${#without}) / ${#original}))
  if ((matches != 1)); then
    echo "SKIPPED       line $lineno: the original text occurs $matches times in $file ($what)"
    skipped=$((skipped + 1))
    continue
  fi
  current="$file"
  printf '%s' "${content/"$original"/"$replacement"}" >"$file"
  if ! cmake --build "$build" -j2 >"$log" 2>&1; then
    echo "BUILD-FAILED  $file: $what"
    failed=$((failed + 1))
    restore
    continue
  fi
  runner=()
  [[ "$labels" =~ gui|e2e|viewer|app ]] && runner=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")
  "${runner[@]}" ctest --test-dir "$build" -L "$labels" --stop-on-failure >"$log" 2>&1
  status=$?
  if grep -q "No tests were found" "$log"; then
    echo "SKIPPED       line $lineno: no test carries the labels '$labels' in $build"
    skipped=$((skipped + 1))
  elif ((status != 0)); then
    echo "CAUGHT        $file: $what"
    caught=$((caught + 1))
  else
    echo "SURVIVED      $file: $what"
    survived=$((survived + 1))
  fi
  restore
done <"$list"

# Leave the build directory matching the restored sources.
cmake --build "$build" -j2 >"$log" 2>&1 || echo "mutants: the rebuild of the restored tree failed, see $log" >&2
echo "$caught caught, $survived survived of $total ($failed build-failed, $skipped skipped)"
((caught == total))
