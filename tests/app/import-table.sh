#!/usr/bin/env bash
# Usage: import-table.sh OBJDUMP EXE
# The installer's static imports must all be KnownDLLs on every Windows it supports (7 SP1 to 11): the loader
# takes any other name from the executable's own folder first, before the entry point runs.
set -euo pipefail
objdump=${1:?usage: import-table.sh OBJDUMP EXE}
exe=${2:?usage: import-table.sh OBJDUMP EXE}
known=" kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 shlwapi ws2_32 msvcrt comdlg32 imm32 rpcrt4 sechost
 setupapi psapi normaliz nsi wldap32 msctf imagehlp clbcatq difxapi "
names=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sed 's/\.dll$//')
if [ -z "$names" ]; then
    echo "no import table read from $exe"
    exit 1
fi
bad=0
for name in $names; do
    case "$known" in
    *[[:space:]]"$name"[[:space:]]*) echo "ok      $name" ;;
    *) echo "NOT A KNOWNDLL: $name"; bad=1 ;;
    esac
done
exit $bad
