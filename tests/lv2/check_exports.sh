#!/bin/sh
# Checks what the built LV2 module shows the system loader.
#   check_exports.sh posix FILE   exports exactly lv2_descriptor
#   check_exports.sh win32 FILE   exports exactly lv2_descriptor and lv2ui_descriptor;
#                                 imports system DLLs only
set -eu
platform=$1 file=$2
case "$platform" in
posix)
    got=$(nm -D --defined-only "$file" | awk '{print $3}' | sort | tr '\n' ' ')
    want="lv2_descriptor "
    ;;
win32)
    dump=$(x86_64-w64-mingw32-objdump -p "$file")
    got=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        grep -o '[A-Za-z_][A-Za-z0-9_@]*$' | grep -v '^Table$' | sort | tr '\n' ' ')
    want="lv2_descriptor lv2ui_descriptor "
    for dll in $(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
        case "$dll" in
        kernel32.dll | msvcrt.dll | user32.dll | ole32.dll | shell32.dll | advapi32.dll) ;;
        api-ms-win-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
        esac
    done
    ;;
*) echo "usage: check_exports.sh posix|win32 FILE" >&2; exit 2 ;;
esac
[ "$got" = "$want" ] || { echo "exports: '$got', want '$want'"; exit 1; }
echo "ok: $file"
