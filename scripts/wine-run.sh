#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix (never the user's). The prefix is
# made on first use; scripts/test.sh keeps one wineserver alive for the whole run.
#
# The program's output goes to a file that is copied out once the program has ended. Wine starts
# helper processes on demand from whichever program needs them first (the wineserver itself, the
# prefix's services, the desktop process), and they inherit that program's standard output and
# error. Given the caller's pipes, they would hold them open long after the program ended, and
# CTest, which waits for its pipes to close, would wait for them: until the time-out, or until the
# helpers end with the last other Wine program of the run.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# A test that needs a whole Wine session (it starts installers) runs in the one CTest allots it:
# CTEST_RESOURCE_GROUP_0_WINE_SESSION is "id:N,slots:1".
if [ "${SETUP_WINE_NEEDS_SESSION:-0}" = 1 ]; then
  allotted="${CTEST_RESOURCE_GROUP_0_WINE_SESSION:-}"
  if [ -z "$allotted" ]; then
    echo "this test needs a Wine session of its own, which CTest allots from the resource file" \
         "build/<preset>/wine-sessions.json: run it with ctest --preset <preset>," \
         "or give --resource-spec-file" >&2
    exit 2
  fi
  allotted="${allotted#id:}"
  export SETUP_WINE_SESSION="${allotted%%,*}"
fi
source "$here/wine-env.sh"
setup_wine_prefix
output=$(mktemp)
trap 'rm -f "$output"' EXIT
"$SETUP_WINE" "$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status
