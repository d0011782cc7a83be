#!/usr/bin/env bash
# The demo: installs what is missing, builds, packs the example component library into an
# installer, runs it under Wine (in a virtual X display when there is none), presses OK, and
# prints where the files went and the path of a screenshot of the window.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$(pwd)

bash scripts/install-toolchain.sh
source scripts/wine-env.sh
# The 32-bit installer where this machine can run 32-bit programs, the 64-bit one otherwise.
arch=win32
[ "$SETUP_WINE_RUNS_32BIT" = 1 ] || arch=win64

echo "== building setup-pack (native) and the installer ($arch)"
cmake --preset native >build-native-configure.log 2>&1 || { cat build-native-configure.log; exit 1; }
cmake --build --preset native --target setup-pack -j "$(nproc)" >/dev/null
cmake --preset $arch >build-$arch-configure.log 2>&1 || { cat build-$arch-configure.log; exit 1; }
cmake --build --preset $arch --target Setup example-setup demo_driver -j "$(nproc)" >/dev/null
rm -f build-native-configure.log build-$arch-configure.log
pack=build/native/tools/setup-pack/setup-pack

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
echo "== packing examples/vexilor-components"
cp -a examples/vexilor-components "$demo/package"
cp build/$arch/examples/Setup.exe "$demo/package/S/Setup.exe"
"$pack" build --job library --caption "Vexilor Components 2.4 Setup" \
  build/$arch/app/Setup.exe "$demo/package" "$demo/Vexilor-Setup.exe"
"$pack" verify "$demo/Vexilor-Setup.exe"
"$pack" list "$demo/Vexilor-Setup.exe"

if [ -z "${DISPLAY:-}" ]; then
  display=":$((150 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  export DISPLAY=$display
fi
start_wine_server

# Delphi 7 "installed" in the Wine prefix, registered where a 32-bit IDE registers itself.
ide_root='C:\Program Files (x86)\Borland\Delphi7'
mkdir -p "$WINEPREFIX/drive_c/Program Files (x86)/Borland/Delphi7/Bin"
"$SETUP_WINE" reg add 'HKLM\SOFTWARE\Borland\Delphi\7.0' /v RootDir /d "$ide_root" /f /reg:32 >/dev/null
"$SETUP_WINE" reg add 'HKLM\SOFTWARE\Borland\Delphi\7.0' /v Version /d 'Enterprise' /f /reg:32 >/dev/null

echo "== running the installer under Wine and pressing OK"
"$SETUP_WINE" build/$arch/tests/e2e/demo_driver.exe \
  "$("$SETUP_WINE" winepath.exe -w "$root/$demo/Vexilor-Setup.exe")" \
  "$("$SETUP_WINE" winepath.exe -w "$root/$demo/installer-window.bmp")"

target="$WINEPREFIX/drive_c/Program Files (x86)/Borland/Delphi7/Vexilor Components"
# The product's own Setup.exe runs on its own; give it a moment to leave its log.
for _ in $(seq 1 100); do [ -f "$target/Setup.log" ] && break; sleep 0.1; done
convert "$demo/installer-window.bmp" "$demo/installer-window.png"

echo
echo "== the files went to $ide_root\\Vexilor Components"
echo "   (on this machine: $target)"
(cd "$target" && find . -mindepth 1 | sort | sed 's/^\.\//   /')
if [ -f "$target/Setup.log" ]; then
  echo "== the package's own Setup.exe ran:"
  sed 's/^/   /' "$target/Setup.log"
fi
echo "== screenshot of the installer window: $root/$demo/installer-window.png"
stop_wine_server
