# Sourced by the scripts that run Wine: the project-local prefix and its one-time creation.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${SETUP_WINEPREFIX:-$project_root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

setup_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # Several tests may start at once on a new prefix; one of them makes it.
    (
      flock 9
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
      fi
    ) 9>"$WINEPREFIX.lock"
  fi
}

# Keeps one wineserver alive until the caller stops it with stop_wine_server.
start_wine_server() {
  setup_wine_prefix
  wineserver -p >/dev/null 2>&1 || true
  # Bring up the prefix's services once, before any test: a test program that ends while they are
  # still starting can hang in its exit under Wine.
  wine cmd.exe /c exit 0 >/dev/null 2>&1 || true
}

stop_wine_server() {
  wineserver -k >/dev/null 2>&1 || true
}
