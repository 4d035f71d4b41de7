#!/bin/sh
# Checks what a built plug-in module shows the system loader: it exports exactly the
# given entry points and, on Windows, imports system DLLs only.
#   check_exports.sh posix|win32 FILE SYMBOL...
set -eu
platform=$1 file=$2
shift 2
want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
case "$platform" in
posix)
    got=$(nm -D --defined-only "$file" | awk '{print $3}' | sort | tr '\n' ' ')
    ;;
win32)
    dump=$(x86_64-w64-mingw32-objdump -p "$file")
    got=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        grep -o '[A-Za-z_][A-Za-z0-9_@]*$' | grep -v '^Table$' | sort | tr '\n' ' ')
    for dll in $(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
        case "$dll" in
        kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | ole32.dll | shell32.dll | advapi32.dll) ;;
        api-ms-win-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
        esac
    done
    ;;
*) echo "usage: check_exports.sh posix|win32 FILE SYMBOL..." >&2; exit 2 ;;
esac
[ "$got" = "$want" ] || { echo "exports: '$got', want '$want'"; exit 1; }
echo "ok: $file"
