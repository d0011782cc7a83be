#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time over its
# seed corpus in fuzz/corpus. Every input in the corpus (seeds and the crashes found so far, kept
# as regression cases) is replayed first. A crash fails the run and leaves its input in
# build/fuzz/findings/<target>/. The targets run side by side, one per core.
#   FUZZ_SECONDS=N  seconds per target (default 8)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${FUZZ_SECONDS:-8}
build=build/fuzz

# Line tables are all the debug information a crash report needs (file and line of each frame),
# and they compile faster than full debug information.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DSETUP_FUZZ=ON -DSETUP_BUILD_TESTS=OFF >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }

targets=(fuzz_archive_memory fuzz_archive_file fuzz_manifest fuzz_setup_pack)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# One target per core at a time; each keeps its own log, and the results are shown in order.
run_target() {  # run_target TARGET
  local target=$1 findings="$build/findings/$1" work="$build/corpus/$1"
  rm -rf "$findings" "$work"
  mkdir -p "$findings" "$work"
  # The repository corpus is read-only input; new finds go to a scratch copy.
  local status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=0 \
      "$work" "fuzz/corpus/$target" >"$build/$target.log" 2>&1 || status=$?
  echo "$status" >"$build/$target.status"
}

running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do
  echo "--- $target: ${seconds}s"
  if [ "$(cat "$build/$target.status")" != 0 ]; then
    tail -40 "$build/$target.log"
    echo "FAILED: $target (input in $build/findings/$target)"
    status=1
  else
    grep -E '^(Done|#[0-9]+ +DONE)' "$build/$target.log" | tail -1 || true
  fi
done
exit $status
