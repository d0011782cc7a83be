# Sourced by the scripts that run Wine: the project-local prefix, its one-time creation, and the
# Wine loader that can run here.
project_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Wine session to run in: 0 (the default) is the project's prefix. Session N > 0 is a prefix
# of its own beside it, made as a copy of the first, so that its wineserver, its registry and
# its one-installer-at-a-time lock are its own. Its X display is entry N of
# SETUP_WINE_SESSION_DISPLAYS (a list, entry 0 first) when that is set, else DISPLAY.
wine_base_prefix="${SETUP_WINEPREFIX:-$project_root/build/wineprefix}"
wine_session="${SETUP_WINE_SESSION:-0}"
if [ "$wine_session" = 0 ]; then
  export WINEPREFIX="$wine_base_prefix"
else
  export WINEPREFIX="$wine_base_prefix-session$wine_session"
fi
if [ -n "${SETUP_WINE_SESSION_DISPLAYS:-}" ]; then
  read -r -a wine_session_displays <<<"$SETUP_WINE_SESSION_DISPLAYS"
  if [ -n "${wine_session_displays[$wine_session]:-}" ]; then
    export DISPLAY="${wine_session_displays[$wine_session]}"
  fi
fi
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

# Makes the project's prefix unless it is there.
make_base_wine_prefix() {
  if [ ! -f "$wine_base_prefix/system.reg" ]; then
    mkdir -p "$wine_base_prefix"
    # Several tests may start at once on a new prefix; one of them makes it.
    (
      flock 9
      if [ ! -f "$wine_base_prefix/system.reg" ]; then
        WINEPREFIX="$wine_base_prefix" "$SETUP_WINE" wineboot -i >/dev/null 2>&1 || true
        WINEPREFIX="$wine_base_prefix" wineserver -w || true
      fi
    ) 9>"$wine_base_prefix.lock"
  fi
}

# Makes the session's prefix unless it is there: another session's is a copy of the project's
# prefix, its Windows folder as hard links (Wine installs those files once and only reads them
# after), the registry and the user folders as files of its own.
setup_wine_prefix() {
  make_base_wine_prefix
  [ "$WINEPREFIX" = "$wine_base_prefix" ] && return 0
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      rm -rf "$WINEPREFIX.new"
      mkdir -p "$WINEPREFIX.new/drive_c"
      for item in "$wine_base_prefix"/* "$wine_base_prefix"/.update-timestamp; do
        [ "$(basename "$item")" = drive_c ] || cp -a "$item" "$WINEPREFIX.new/"
      done
      for item in "$wine_base_prefix"/drive_c/*; do
        if [ "$(basename "$item")" = windows ]; then
          cp -al "$item" "$WINEPREFIX.new/drive_c/"
        else
          cp -a "$item" "$WINEPREFIX.new/drive_c/"
        fi
      done
      mv "$WINEPREFIX.new" "$WINEPREFIX"
    fi
  ) 9>"$WINEPREFIX.lock"
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
