#!/usr/bin/env bash
# Checks a built Tarnvale.dll from the outside, for the 32-bit deliverable
# that cannot run on this machine and for the 64-bit build alike:
#  - the export table holds exactly the given names, undecorated;
#  - every import is a system library;
#  - on i686, LaunchAppAndWait returns with "ret $0x4" (it removes its one
#    4-byte argument) and every other export with a plain "ret".
# usage: check_library.sh DLL i686|x64 EXPORT...
set -u
dll=$1 arch=$2
shift 2
expected=$(printf '%s\n' "$@" | sort)

case $arch in
  i686) objdump=i686-w64-mingw32-objdump ;;
  x64) objdump=x86_64-w64-mingw32-objdump ;;
  *) echo "unknown architecture $arch"; exit 2 ;;
esac
[ -f "$dll" ] || { echo "FAIL: $dll does not exist"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$($objdump -p "$dll")

exports=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$exports" != "$expected" ]; then
  fail "exports differ"; echo "expected:"; echo "$expected"; echo "found:"; echo "$exports"
fi
if printf '%s\n' "$exports" | grep -q '@'; then fail "decorated export names: $(printf '%s ' $exports)"; fi

allowed='^(kernel32|user32|gdi32|advapi32|shlwapi|comctl32|msvcrt|shell32|ole32|oleaut32|version|api-ms-win-crt-[a-z0-9-]+)\.dll$'
while read -r name; do
  [ -z "$name" ] && continue
  lower=$(printf '%s' "$name" | tr 'A-Z' 'a-z')
  [[ $lower =~ $allowed ]] || fail "imports non-system library $name"
done < <(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')

if [ "$arch" = i686 ]; then
  base=$(printf '%s\n' "$headers" | sed -n 's/^ImageBase[[:space:]]*//p')
  for name in "$@"; do
    index=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n "s/^[[:space:]]*\[ *\([0-9]*\)\] $name\$/\1/p")
    rva=$(printf '%s\n' "$headers" | sed -n "s/^[[:space:]]*\[ *$index\] +base\[ *[0-9]*\] *\([0-9a-f]*\) Export RVA.*/\1/p")
    [ -n "$rva" ] || { fail "no address for export $name"; continue; }
    start=$(printf '0x%x' $((0x$base + 0x$rva)))
    stop=$(printf '0x%x' $((start + 0x800)))
    ret=$($objdump -d --no-show-raw-insn --start-address="$start" --stop-address="$stop" "$dll" |
      grep -m1 -E '^[[:space:]]*[0-9a-f]+:[[:space:]]+ret' | sed 's/^[^:]*:[[:space:]]*//; s/[[:space:]]*$//' | tr -s ' \t' '  ')
    if [ "$name" = LaunchAppAndWait ]; then want='ret $0x4'; else want='ret'; fi
    [ "$ret" = "$want" ] || fail "$name returns with '$ret', expected '$want'"
  done
fi

if [ $failures -eq 0 ]; then echo "ok: $dll ($arch): exports, imports$([ "$arch" = i686 ] && echo ', stack clean-up')"; fi
exit $((failures > 0))
