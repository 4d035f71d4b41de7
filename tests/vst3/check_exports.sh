#!/bin/sh
# Checks what a built module shows the system loader.
#   check_exports.sh linux FILE     exports exactly GetPluginFactory, ModuleEntry, ModuleExit
#   check_exports.sh windows FILE   exports GetPluginFactory only; imports system DLLs only
set -eu
platform=$1 file=$2
case "$platform" in
linux)
    got=$(nm -D --defined-only "$file" | awk '{print $3}' | sort | tr '\n' ' ')
    want="GetPluginFactory ModuleEntry ModuleExit "
    [ "$got" = "$want" ] || { echo "exports: '$got', want '$want'"; exit 1; }
    ;;
windows)
    dump=$(x86_64-w64-mingw32-objdump -p "$file")
    exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        grep -o '[A-Za-z_][A-Za-z0-9_@]*$' | grep -v '^Table$' | sort | tr '\n' ' ')
    [ "$exports" = "GetPluginFactory " ] || { echo "exports: '$exports'"; exit 1; }
    imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    for dll in $imports; do
        case "$dll" in
        kernel32.dll | msvcrt.dll | user32.dll | ole32.dll | shell32.dll | advapi32.dll) ;;
        api-ms-win-*) ;;
        *) echo "imports a non-system DLL: $dll"; exit 1 ;;
        esac
    done
    ;;
*) echo "usage: check_exports.sh linux|windows FILE" >&2; exit 2 ;;
esac
echo "ok: $file"
