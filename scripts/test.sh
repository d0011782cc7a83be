#!/usr/bin/env bash
# Runs every test: native, native under AddressSanitizer and UndefinedBehaviorSanitizer, and both
# Windows builds under Wine (GUI tests in an Xvfb display), then the bounded fuzz runs.
# Installs what is missing first. Exit status 0 only when every suite passed.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/install-toolchain.sh || exit 1

jobs=$(nproc)
failed_suites=()
passed_suites=()
not_run=()
timings=()

run_suite() {  # run_suite PRESET [CTEST OPTIONS...]
  local preset=$1
  shift
  local started=$SECONDS
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"; failed_suites+=("$preset"); return
  fi
  if ! cmake --build --preset "$preset" -j "$jobs"; then
    failed_suites+=("$preset"); return
  fi
  echo "=== $preset: tests"
  if ctest --preset "$preset" -j "$jobs" "$@"; then
    passed_suites+=("$preset")
  else
    failed_suites+=("$preset")
  fi
  timings+=("$preset: $((SECONDS - started)) s")
}

mkdir -p build
run_suite native
run_suite native-sanitize

# One wineserver and one X display for both Windows suites.
source scripts/wine-env.sh
if [ -z "${DISPLAY:-}" ]; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  trap 'kill $xvfb_pid 2>/dev/null' EXIT
fi
start_wine_server
if [ "$SETUP_WINE_RUNS_32BIT" = 1 ]; then
  run_suite win32
else
  # This kernel runs no 32-bit code, so Wine cannot run the i686 programs: the build still
  # compiles and links them and checks the image, and the summary names what did not run.
  run_suite win32 -LE wine
  not_run+=("win32 tests under Wine: this machine's kernel runs no 32-bit programs")
fi
run_suite win64
stop_wine_server

if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz"
  started=$SECONDS
  if bash scripts/fuzz.sh; then passed_suites+=(fuzz); else failed_suites+=(fuzz); fi
  timings+=("fuzz: $((SECONDS - started)) s")
fi

echo
for timing in "${timings[@]}"; do echo "time of $timing"; done
for what in "${not_run[@]}"; do echo "not run: $what"; done
echo "suites passed: ${passed_suites[*]:-none}"
echo "suites failed: ${failed_suites[*]:-none}"
echo "${#passed_suites[@]} passed, ${#failed_suites[@]} failed"
[ "${#failed_suites[@]}" -eq 0 ]
