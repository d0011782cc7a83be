#!/usr/bin/env bash
# The Debian package of setup-pack works on its own:
#   package_test.sh BUILD_DIR SOURCE_DIR VERSION
# - cpack makes it from the native build, twice: the same bytes both times (time stamps from the
#   commit);
# - lintian reports no error on it;
# - unpacked into a fresh folder (dpkg-deb -x), its setup-pack prints the project's version,
#   builds an installer of the example package from each packaged template, and verifies it;
# - its manual page renders without warnings and names every command and option of --help.
# Needs both Windows templates (the win32 and win64 presets build them; scripts/test.sh first).
# Prints one line per failed check; exit status 0 when every check passed.
set -u

if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR VERSION" >&2
  exit 2
fi
build=$1
source=$2
version=$3

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/setup-pack-package.XXXXXXXX")
trap 'rm -rf "$work"' EXIT

# The templates the package carries must be there: without them cpack fails on its install step.
for bits in 32 64; do
  template="$source/build/win$bits/app/Setup.exe"
  if [ ! -f "$template" ]; then
    echo "FAILED: the package needs the win$bits installer template at $template" \
         "(cmake --preset win$bits && cmake --build --preset win$bits; scripts/test.sh builds it)"
    exit 1
  fi
done

# --- Made twice, the same bytes ---------------------------------------------------------------
for run in one two; do
  if ! (cd "$build" && cpack -G DEB -B "$work/$run" >"$work/cpack-$run.log" 2>&1); then
    cat "$work/cpack-$run.log"
    echo "FAILED: cpack could not make the package"
    exit 1
  fi
done
deb=$(ls "$work"/one/*.deb)
if cmp -s "$deb" "$work"/two/*.deb; then
  pass "the same sources give the same package bytes ($(basename "$deb"))"
else
  fail "two packages of the same sources differ: $(cmp "$deb" "$work"/two/*.deb | head -1)"
fi

# --- lintian -------------------------------------------------------------------------------------
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1
lintian_status=$?
lintian_output=$(grep -v 'running with root privileges' "$work/lintian.log")
if [ "$lintian_status" -eq 0 ]; then
  pass "lintian reports no error${lintian_output:+ (${lintian_output//$'\n'/; })}"
else
  fail "lintian: $lintian_output"
fi

# --- Unpacked, on its own ------------------------------------------------------------------------
root="$work/root"
dpkg-deb -x "$deb" "$root"
tool="$root/usr/bin/setup-pack"
if [ "$("$tool" --version)" = "setup-pack $version" ]; then
  pass "setup-pack --version prints $version"
else
  fail "setup-pack --version prints \"$("$tool" --version)\", not \"setup-pack $version\""
fi
for bits in 32 64; do
  template="$root/usr/share/setup-pack/Setup-win$bits.exe"
  installer="$work/Vexilor-Setup-win$bits.exe"
  if "$tool" build --job library --caption "Vexilor Components 2.4" "$template" \
       "$source/examples/vexilor-components" "$installer" >"$work/build.log" 2>&1 &&
     "$tool" verify "$installer" >"$work/verify.log" 2>&1; then
    pass "the packaged tool builds and verifies an installer from Setup-win$bits.exe"
  else
    fail "building from Setup-win$bits.exe: $(cat "$work/build.log" "$work/verify.log" 2>/dev/null)"
  fi
done

# --- The manual page -----------------------------------------------------------------------------
manual="$root/usr/share/man/man1/setup-pack.1.gz"
rendered=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$manual" 2>"$work/man-warnings.log")
if [ -s "$work/man-warnings.log" ]; then
  fail "the manual page renders with warnings: $(cat "$work/man-warnings.log")"
elif [ -z "$rendered" ]; then
  fail "the manual page renders empty"
else
  pass "the manual page renders without warnings"
fi
help=$("$tool" --help; for command in create embed build list verify extract; do
  "$tool" help "$command"; done)
for word in $(printf '%s\n' "$help" | grep -o -E -- '--[a-z][a-z-]*|setup-pack [a-z]+' |
              sed 's/^setup-pack //' | sort -u); do
  if ! printf '%s\n' "$rendered" | grep -q -F -- "$word"; then
    fail "the manual page does not mention \"$word\", which --help shows"
  fi
done
pass "the manual page mentions every command and option that --help shows"

finish_checks "the package"
