# Sourced by the scripts that run Wine: the project-local prefix, its one-time creation, and the
# Wine loader that can run here.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${SETUP_WINEPREFIX:-$project_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

# The `wine` command starts Wine's 32-bit loader whenever wine32 is installed, and that loader
# hands 64-bit programs on to the 64-bit one. Some machines' kernels run no 32-bit code at all
# (IA-32 emulation off: starting an i386 program fails with "Exec format error"); there the
# 64-bit loader is started directly, runs 64-bit programs, and no 32-bit program can run.
# SETUP_WINE is the command to start a Windows program with; SETUP_WINE_RUNS_32BIT says whether
# 32-bit programs can run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export SETUP_WINE=wine
  export SETUP_WINE_RUNS_32BIT=1
else
  export SETUP_WINE=/usr/lib/wine/wine64
  export WINELOADER=/usr/lib/wine/wine64
  export SETUP_WINE_RUNS_32BIT=0
fi

setup_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # Several tests may start at once on a new prefix; one of them makes it.
    (
      flock 9
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$SETUP_WINE" wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
      fi
    ) 9>"$WINEPREFIX.lock"
  fi
}

# Keeps one wineserver alive until the caller stops it with stop_wine_server.
start_wine_server() {
  setup_wine_prefix
  wineserver -p >/dev/null 2>&1 || true
  # Bring up the prefix's services once, before any test, so that no test pays for them.
  "$SETUP_WINE" cmd.exe /c exit 0 >/dev/null 2>&1 || true
}

stop_wine_server() {
  wineserver -k >/dev/null 2>&1 || true
}
