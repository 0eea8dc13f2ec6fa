#!/usr/bin/env bash
# The README's prototypes match the public header: the C declarations are the
# header's, and the InstallShield and Inno Setup declarations name the same
# exports with the same number of arguments.
# usage: check_readme_prototypes.sh README.md include/tarnvale.h
set -u
readme=$1 header=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

normalise() { sed -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//'; }

header_c=$(grep -E '^TARNVALE_API int __stdcall [A-Za-z]+\(' "$header" | sed 's/^TARNVALE_API //' | normalise | sort)
readme_c=$(grep -E '^int __stdcall [A-Za-z]+\(' "$readme" | normalise | sort)
[ -n "$header_c" ] || fail "no declarations found in $header"
if [ "$header_c" != "$readme_c" ]; then
  fail "C declarations differ"; echo "header:"; echo "$header_c"; echo "README:"; echo "$readme_c"
fi

# name and argument count of each header declaration: "Name N"
arity() { sed -E 's/^int __stdcall ([A-Za-z]+)\((.*)\);$/\1 \2/' | awk '{ n = ($2 == "void)" || $2 == "void") ? 0 : split(substr($0, index($0, " ") + 1), a, ","); print $1, n }' | sort; }
expected=$(printf '%s\n' "$header_c" | arity)

installshield=$(grep -E '^prototype stdcall INT Tarnvale\.' "$readme" |
  sed -E 's/^prototype stdcall INT Tarnvale\.([A-Za-z]+)\((.*)\);$/\1 \2/' |
  awk '{ n = (NF > 1) ? split(substr($0, index($0, " ") + 1), a, ",") : 0; print $1, n }' | sort)
[ "$installshield" = "$expected" ] || { fail "InstallShield prototypes differ"; echo "$installshield"; }

inno=$(grep -E "^function [A-Za-z]+.*external '" "$readme" |
  sed -E "s/^function ([A-Za-z]+)(\\(([^)]*)\\))?: Integer; external '([A-Za-z]+)@files:Tarnvale.dll stdcall';$/\\1 \\4 \\3/" |
  awk '{ if ($1 != $2) print "MISMATCH", $1, $2; n = (NF > 2) ? split(substr($0, index($0, $3)), a, ";") : 0; print $1, n }' | sort)
[ "$inno" = "$expected" ] || { fail "Inno Setup prototypes differ"; echo "$inno"; }

[ $failures -eq 0 ] && echo "ok: README prototypes match $header"
exit $((failures > 0))
