#!/usr/bin/env bash
# Runs every test: native, native under AddressSanitizer and UndefinedBehaviorSanitizer, both
# Windows builds under Wine (GUI tests in an Xvfb display), then the bounded fuzz runs. Installs
# what is missing first. Exit status 0 only when every suite passed.
#
# The two Windows suites never run at the same time: their installers share one Wine session,
# where only one installer runs at a time.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

bash scripts/install-toolchain.sh || exit 1

jobs=$(nproc)
failed_suites=()
passed_suites=()
not_run=()
timings=()
mkdir -p build

# The compiler cache lives outside the clone (ccache's own folder); paths below the clone are
# hashed relative to it, so that another clone of the same commit finds what this one compiled.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true
# The compiler's own list of included files (-MD, which Ninja asks for) instead of a second
# preprocessor run for every file the cache does not have yet.
export CCACHE_DEPEND=true

record() {  # record SUITE STATUS
  if [ "$2" -eq 0 ]; then passed_suites+=("$1"); else failed_suites+=("$1"); fi
}

# Configures and builds a preset (every target, or the targets given) quietly; on failure shows
# why. Adds "PRESET build: N s".
build_preset() {  # build_preset PRESET [TARGET...]
  local preset=$1 started=$SECONDS
  shift
  local targets=()
  [ "$#" -gt 0 ] && targets=(--target "$@")
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"
    return 1
  fi
  if ! cmake --build --preset "$preset" -j "$jobs" "${targets[@]}" >"build/$preset.build.log" 2>&1; then
    grep -E -B2 -A12 'error|FAILED' "build/$preset.build.log" | head -80
    return 1
  fi
  timings+=("$preset build: $((SECONDS - started)) s")
}

# Runs a preset's tests in the foreground. Adds "PRESET tests: N s".
test_preset() {  # test_preset PRESET [CTEST OPTIONS...]
  local preset=$1 started=$SECONDS status
  shift
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$jobs" "$@"
  status=$?
  timings+=("$preset tests: $((SECONDS - started)) s")
  return $status
}

# Where the Windows test programs record the one Wine defect they handle (see
# tests/support/start_process_win32.h); printed in the summary.
export SETUP_WINE_DEFECT_LOG="$root/build/wine-defects.log"
rm -f "$SETUP_WINE_DEFECT_LOG"

# One X display and one wineserver for both Windows suites. The prefix is made (the first time)
# while win64 compiles.
source scripts/wine-env.sh
if [ -z "${DISPLAY:-}" ]; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  trap 'kill $xvfb_pid 2>/dev/null' EXIT
fi
start_wine_server >/dev/null 2>&1 </dev/null &
wine_ready=$!

# win64: built and tested first, while nothing else runs: under the load of the other suites'
# builds and sanitizer tests, Wine now and then failed to start a test's child program
# (CreateProcess: "Internal error").
win64_built=0
build_preset win64 && win64_built=1
wait "$wine_ready"
if [ "$win64_built" = 1 ]; then
  test_preset win64
  record win64 $?
else
  record win64 1
fi

# win32 next. Where this kernel runs no 32-bit code, Wine cannot run the i686 programs: then only
# the installer, the tool and the image check are built, the image is checked, and the summary
# names what did not run.
if [ "$SETUP_WINE_RUNS_32BIT" = 1 ]; then
  win32_targets=()
  win32_tests=()
else
  win32_targets=(Setup setup_relinked setup-pack)
  win32_tests=(-LE wine)
  not_run+=("win32 tests under Wine: this machine's kernel runs no 32-bit programs")
fi
if build_preset win32 "${win32_targets[@]}"; then
  test_preset win32 "${win32_tests[@]}"
  record win32 $?
else
  record win32 1
fi
stop_wine_server

for preset in native native-sanitize; do
  if build_preset "$preset"; then
    test_preset "$preset"
    record "$preset" $?
  else
    record "$preset" 1
  fi
done

echo "=== fuzz"
started=$SECONDS
bash scripts/fuzz.sh
record fuzz $?
timings+=("fuzz: $((SECONDS - started)) s")

echo
for timing in "${timings[@]}"; do echo "time of $timing"; done
echo "time of the whole run: $SECONDS s"
for what in "${not_run[@]}"; do echo "not run: $what"; done
if [ -s "$SETUP_WINE_DEFECT_LOG" ]; then
  echo "Wine defect handled $(wc -l <"$SETUP_WINE_DEFECT_LOG") times (a new process died in Wine's loader before it started; CreateProcess said \"Internal error\"):"
  sed 's/^/  /' "$SETUP_WINE_DEFECT_LOG"
fi
echo "suites passed: ${passed_suites[*]:-none}"
echo "suites failed: ${failed_suites[*]:-none}"
echo "${#passed_suites[@]} passed, ${#failed_suites[@]} failed"
[ "${#failed_suites[@]}" -eq 0 ]
