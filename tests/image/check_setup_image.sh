#!/usr/bin/env bash
# Checks a built Setup.exe:
#   check_setup_image.sh OBJDUMP BITS SETUP.EXE RELINKED.EXE SETUP.MANIFEST
# - It imports only DLLs that Windows never looks for next to the program: members of the
#   KnownDLLs list, which the loader always takes from the system, and COMCTL32, which the
#   program's manifest redirects to the side-by-side store. A DLL outside that set would be
#   searched in the installer's folder first, where a downloaded installer usually lies among
#   other downloads. Nothing is delay-loaded.
# - Loader hardening: relocations present and not stripped, DYNAMIC_BASE (ASLR), NX_COMPAT (DEP),
#   and HIGH_ENTROPY_VA in the 64-bit image.
# - Nothing but the program: no symbol table, no debugging sections.
# - Lean: the template, which is what an installer costs beyond its archive, within its budget.
# - Reproducible link: no link time stamp, and the same objects linked again give the same bytes.
# Prints one line per failed check; exit status 0 when every check passed.
set -u

if [ $# -ne 5 ]; then
  echo "usage: $0 OBJDUMP BITS SETUP.EXE RELINKED.EXE SETUP.MANIFEST" >&2
  exit 2
fi
objdump=$1
bits=$2
image=$3
relinked=$4
manifest=$5

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

# Little-endian unsigned fields of the image.
u16() { od -An -t u2 -j "$1" -N 2 --endian=little "$image" | tr -d ' '; }
u32() { od -An -t u4 -j "$1" -N 4 --endian=little "$image" | tr -d ' '; }

[ -f "$image" ] || { echo "FAILED: no image at $image"; exit 1; }

pe=$(u32 60)
if [ "$(od -An -c -j "$pe" -N 4 "$image" | tr -d ' ')" != 'PE\0\0' ]; then
  echo "FAILED: $image is not a PE image"
  exit 1
fi
coff=$((pe + 4))
optional=$((coff + 20))
magic=$(u16 "$optional")
case "$bits:$magic" in
  32:267) directories=$((optional + 96)) ;;   # PE32, 0x10B
  64:523) directories=$((optional + 112)) ;;  # PE32+, 0x20B
  *) echo "FAILED: optional header magic $magic does not match a $bits-bit image"; exit 1 ;;
esac
directory_size() { u32 $((directories + 8 * $1 + 4)); }

# --- Imports -------------------------------------------------------------------------------
# KnownDLLs members (the same on every Windows since XP) and the manifest-redirected COMCTL32.
allowed="ADVAPI32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL SHELL32.DLL USER32.DLL COMCTL32.DLL"
imports=$("$objdump" -p "$image" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z')
if [ -z "$imports" ]; then
  fail "objdump lists no imported DLL"
fi
for dll in $imports; do
  case " $allowed " in
    *" $dll "*) pass "imports $dll" ;;
    *) fail "imports $dll, which Windows would look for next to the installer first" ;;
  esac
done
if [ "$(directory_size 13)" != 0 ]; then
  fail "the image has delay-loaded imports"
fi
if printf '%s\n' $imports | grep -qx COMCTL32.DLL; then
  # The redirection holds only while the embedded manifest asks for common controls 6.
  if grep -q 'name="Microsoft.Windows.Common-Controls"' "$manifest" &&
     grep -aq 'Microsoft.Windows.Common-Controls' "$image"; then
    pass "COMCTL32 comes from the side-by-side store (manifest dependency)"
  else
    fail "COMCTL32 is imported without a manifest dependency on Common-Controls"
  fi
fi

# Clearing a folder deletes each item through a handle opened on the item itself; a final-path
# query fails on some volumes (RAM disks, mounted images) and must decide no delete.
if "$objdump" -p "$image" | grep -q 'GetFinalPathNameByHandle'; then
  fail "the image imports GetFinalPathNameByHandle"
else
  pass "no final-path query"
fi

# --- Loader hardening ------------------------------------------------------------------------
characteristics=$(u16 $((coff + 18)))
dll_characteristics=$(u16 $((optional + 70)))
if (( characteristics & 0x0001 )); then
  fail "relocations stripped (IMAGE_FILE_RELOCS_STRIPPED)"
fi
if [ "$(directory_size 5)" -gt 0 ]; then
  pass "base relocations present ($(directory_size 5) bytes)"
else
  fail "no base relocations: the image cannot be moved to a random address"
fi
check_flag() {  # check_flag BIT NAME
  if (( dll_characteristics & $1 )); then pass "$2"; else fail "$2 not set"; fi
}
check_flag 0x0040 DYNAMIC_BASE
check_flag 0x0100 NX_COMPAT
if [ "$bits" = 64 ]; then
  check_flag 0x0020 HIGH_ENTROPY_VA
fi

# --- Nothing but the program --------------------------------------------------------------------
symbol_table=$(u32 $((coff + 8)))
symbol_count=$(u32 $((coff + 12)))
if [ "$symbol_table" = 0 ] && [ "$symbol_count" = 0 ]; then
  pass "no symbol table"
else
  fail "a symbol table of $symbol_count symbols at offset $symbol_table"
fi
debug_sections=$("$objdump" -h "$image" | awk '$2 ~ /^\.debug/ { print $2 }' | tr '\n' ' ')
if [ -z "$debug_sections" ]; then
  pass "no debugging sections"
else
  fail "debugging sections: $debug_sections"
fi

# --- Lean ---------------------------------------------------------------------------------------
# The template is what every installer costs beyond its archive (plus at most the file alignment
# after the archive): the program, its resources and the package block's head.
size=$(stat -c %s "$image")
case "$bits" in
  32) limit=$((320 * 1024)) ;;
  64) limit=$((288 * 1024)) ;;
esac
if [ "$size" -le "$limit" ]; then
  pass "the template is $size bytes (at most $limit)"
else
  fail "the template is $size bytes, more than $limit"
fi

# --- Reproducible link -------------------------------------------------------------------------
stamp=$(u32 $((coff + 4)))
if [ "$stamp" = 0 ]; then
  pass "no link time stamp"
else
  fail "link time stamp $stamp in the COFF header"
fi
if [ ! -f "$relinked" ]; then
  fail "no relinked image at $relinked"
elif cmp -s "$image" "$relinked"; then
  pass "linking the same objects again gives the same bytes"
else
  fail "linking the same objects again gives different bytes: $(cmp "$image" "$relinked" | head -1)"
fi

finish_checks "$image"
