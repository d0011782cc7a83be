# The reporting of the shell checks (sourced): one line per check, "ok: ..." or "FAILED: ...",
# and at the end a summary whose exit status says whether every check passed.
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
pass() {
  echo "ok: $*"
}
# finish_checks WHAT: the summary line for WHAT, and the exit status.
finish_checks() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed for $1"
    exit 1
  fi
  echo "all checks passed for $1"
  exit 0
}
