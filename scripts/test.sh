#!/usr/bin/env bash
# Runs every test: native, native under AddressSanitizer and UndefinedBehaviorSanitizer, both
# Windows builds under Wine (GUI tests in Xvfb displays), and the bounded fuzz runs. Installs
# what is missing first. Exit status 0 only when every suite passed.
#
# Two lanes run side by side. The Windows lane builds and runs the Wine suites, whose tests
# mostly wait for Wine and for windows, with the fuzz runs beside them; the native lane (native,
# sanitizers) uses the processors meanwhile. The suites that start installers run in several
# Wine sessions at once (SETUP_WINE_SESSIONS, default 4), each a prefix with its own wineserver
# and X display: an installer runs alone in its session. The two Windows suites run one after
# the other.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

bash scripts/install-toolchain.sh || exit 1

jobs=$(nproc)
sessions=${SETUP_WINE_SESSIONS:-4}
mkdir -p build
results=$(mktemp -d)
cleanup() {
  rm -rf "$results"
  [ "${#xvfb_pids[@]}" -gt 0 ] && kill "${xvfb_pids[@]}" 2>/dev/null
}
xvfb_pids=()
trap cleanup EXIT

# The compiler cache lives outside the clone (ccache's own folder); paths below the clone are
# hashed relative to it, so that another clone of the same commit finds what this one compiled.
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=true
# The compiler's own list of included files (-MD, which Ninja asks for) instead of a second
# preprocessor run for every file the cache does not have yet.
export CCACHE_DEPEND=true

# Each lane writes what it found to files, read by the summary.
record() {  # record SUITE STATUS
  if [ "$2" -eq 0 ]; then echo "$1" >>"$results/passed"; else echo "$1" >>"$results/failed"; fi
}
timing() {  # timing TEXT
  echo "$1" >>"$results/timings"
}
not_run() {  # not_run TEXT
  echo "$1" >>"$results/not_run"
}

# The processors are shared out among the lanes that are building: with both lanes compiling
# at full width, twice as many compilers as processors ran, and each compilation took about a
# fifth more processor time than when they ran one per processor. A lane says it is building
# from its first build to the end of its last.
building() {  # building LANE yes|no
  if [ "$2" = yes ]; then touch "$results/building.$1"; else rm -f "$results/building.$1"; fi
}
build_jobs() {
  local lanes
  lanes=$(find "$results" -maxdepth 1 -name 'building.*' | wc -l)
  [ "$lanes" -lt 1 ] && lanes=1
  local share=$((jobs / lanes))
  echo $((share < 1 ? 1 : share))
}

# Configures and builds a preset (every target, or the targets given) quietly; on failure shows
# why. Adds "PRESET build, N at a time: S s".
build_preset() {  # build_preset PRESET [TARGET...]
  local preset=$1 started=$SECONDS
  shift
  local targets=()
  [ "$#" -gt 0 ] && targets=(--target "$@")
  echo "=== $preset: configure and build"
  local options=()
  case "$preset" in win*) options=(-DSETUP_WINE_SESSIONS="$sessions") ;; esac
  if ! cmake --preset "$preset" "${options[@]}" >"build/$preset.configure.log" 2>&1; then
    cat "build/$preset.configure.log"
    return 1
  fi
  local parallel
  parallel=$(build_jobs)
  if ! cmake --build --preset "$preset" -j "$parallel" "${targets[@]}" \
      >"build/$preset.build.log" 2>&1; then
    grep -E -B2 -A12 'error|FAILED' "build/$preset.build.log" | head -80
    return 1
  fi
  timing "$preset build${1:+ of $*}, $parallel at a time: $((SECONDS - started)) s"
}

# Runs a preset's tests. Adds "PRESET tests: N s".
test_preset() {  # test_preset PRESET PARALLEL [CTEST OPTIONS...]
  local preset=$1 parallel=$2 started=$SECONDS status
  shift 2
  echo "=== $preset: tests"
  ctest --preset "$preset" -j "$parallel" "$@"
  status=$?
  timing "$preset tests: $((SECONDS - started)) s"
  return $status
}

# Where the Windows test programs record the one Wine defect they handle (see
# tests/support/start_process_win32.h); printed in the summary.
export SETUP_WINE_DEFECT_LOG="$root/build/wine-defects.log"
rm -f "$SETUP_WINE_DEFECT_LOG"

# The Wine sessions: an X display each (Xvfb picks a free number and says which), then the
# prefixes and their wineservers, made while win64 compiles. DISPLAY is session 0's, for the
# Windows tests that need a display but no session of their own.
displays=()
for ((session = 0; session < sessions; session++)); do
  display_file="$results/display$session"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pids+=($!)
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.05; done
  if [ ! -s "$display_file" ]; then
    echo "Xvfb did not start: the Windows suites need an X display" >&2
    exit 1
  fi
  displays+=(":$(tr -d '[:space:]' <"$display_file")")
done
export SETUP_WINE_SESSION_DISPLAYS="${displays[*]}"
export DISPLAY="${displays[0]}"
source scripts/wine-env.sh
start_sessions() {
  make_base_wine_prefix
  for ((session = 0; session < sessions; session++)); do
    (
      export SETUP_WINE_SESSION=$session
      source scripts/wine-env.sh
      start_wine_server
    ) &
  done
  wait
}
stop_sessions() {
  for ((session = 0; session < sessions; session++)); do
    (
      export SETUP_WINE_SESSION=$session
      source scripts/wine-env.sh
      stop_wine_server
    )
  done
}

windows_lane() {
  local win64_built=0 win32_built=0 sessions_ready
  start_sessions >/dev/null 2>&1 </dev/null &
  sessions_ready=$!
  # The installer templates first: the native package test packs both.
  build_preset win64 Setup
  # Where this kernel runs no 32-bit code, Wine cannot run the i686 programs: then only the
  # installer, the tool and the image check are built, the image is checked, and the summary
  # names what did not run.
  local win32_targets=() win32_tests=()
  if [ "$SETUP_WINE_RUNS_32BIT" != 1 ]; then
    win32_targets=(Setup setup_relinked setup-pack)
    win32_tests=(-LE wine)
    not_run "win32 tests under Wine: this machine's kernel runs no 32-bit programs"
  fi
  build_preset win32 "${win32_targets[@]}" && win32_built=1
  touch "$results/templates-built"
  build_preset win64 && win64_built=1
  building windows no

  # The fuzz runs use the processors while the Wine suites mostly wait.
  fuzz >build/fuzz-lane.log 2>&1 &
  local fuzzing=$!

  wait "$sessions_ready"
  if [ "$win64_built" = 1 ]; then
    test_preset win64 $((sessions + jobs))
    record win64 $?
  else
    record win64 1
  fi
  if [ "$win32_built" = 1 ]; then
    test_preset win32 $((sessions + jobs)) "${win32_tests[@]}"
    record win32 $?
  else
    record win32 1
  fi
  stop_sessions
  wait "$fuzzing"
  cat build/fuzz-lane.log
}

native_lane() {
  # Both builds first, then the sanitizer tests, whose programs run whole or in a few long shards,
  # and last the plain native tests, one CTest test per case, which fill the processors to the
  # end. They also wait for the Windows lane's installer templates, which the package test packs.
  local preset built=()
  for preset in native native-sanitize; do
    if build_preset "$preset"; then built+=("$preset"); else record "$preset" 1; fi
  done
  building native no
  for preset in native-sanitize native; do
    [[ " ${built[*]} " == *" $preset "* ]] || continue
    [ "$preset" = native ] && until [ -f "$results/templates-built" ]; do sleep 1; done
    test_preset "$preset" "$jobs"
    record "$preset" $?
  done
}

fuzz() {
  echo "=== fuzz"
  local started=$SECONDS
  bash scripts/fuzz.sh
  record fuzz $?
  timing "fuzz: $((SECONDS - started)) s"
}

# The Windows lane's output is shown once it has ended, so that the two lanes' lines never mix;
# the native lane's as it goes.
building windows yes
building native yes
windows_lane >build/windows-lane.log 2>&1 &
windows_lane_pid=$!
native_lane
wait "$windows_lane_pid"
cat build/windows-lane.log

echo
sed 's/^/time of /' "$results/timings"
echo "time of the whole run: $SECONDS s"
[ -f "$results/not_run" ] && sed 's/^/not run: /' "$results/not_run"
if [ -s "$SETUP_WINE_DEFECT_LOG" ]; then
  echo "Wine defect handled $(wc -l <"$SETUP_WINE_DEFECT_LOG") times (a new process died in Wine's loader before it started; CreateProcess said \"Internal error\"):"
  sed 's/^/  /' "$SETUP_WINE_DEFECT_LOG"
fi
passed=$(cat "$results/passed" 2>/dev/null | tr '\n' ' ')
failed=$(cat "$results/failed" 2>/dev/null | tr '\n' ' ')
echo "suites passed: ${passed:-none}"
echo "suites failed: ${failed:-none}"
echo "$(echo $passed | wc -w) passed, $(echo $failed | wc -w) failed"
[ -z "$failed" ]
