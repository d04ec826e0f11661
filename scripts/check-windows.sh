#!/usr/bin/env bash
# Cross-builds the Windows module (the `windows` preset) and checks the file
# as the host will see it: exactly the two exported entry points, only system
# libraries imported, and the PiPL resource byte for byte. Then runs the
# cross-built test suite under Wine, which loads Pointillo.aex through
# LoadLibrary.
#
# Usage: scripts/check-windows.sh [--no-wine]
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
run_wine=1
if [[ "${1:-}" == "--no-wine" ]]; then
    run_wine=0
fi
fail() {
    echo "check-windows: $*" >&2
    exit 1
}

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
module="$PWD/build/windows/Pointillo.aex"
[[ -f "$module" ]] || fail "no module at $module"

# Our own reader of the file, built natively and run as a CTest test.
cmake -S . -B build/windows-check -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DPOINTILLO_BUILD_CLI=OFF -DPOINTILLO_BUILD_BENCH=OFF \
    -DPOINTILLO_WINDOWS_MODULE="$module" >/dev/null
cmake --build build/windows-check --target windows_module_test -j "$jobs"
ctest --test-dir build/windows-check -R '^windows_module_test$' --output-on-failure

# The same facts through binutils' reader.
objdump=x86_64-w64-mingw32-objdump
exports=$("$objdump" -p "$module" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    awk '/\[/ && !/Table/ {print $NF}' | sort | tr '\n' ' ')
[[ "$exports" == "EffectMain PluginDataEntryFunction2 " ]] ||
    fail "exports are '$exports', expected only EffectMain and PluginDataEntryFunction2"
imports=$("$objdump" -p "$module" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
for library in $imports; do
    case "$library" in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | user32.dll | advapi32.dll | ntdll.dll | api-ms-win-*) ;;
    *) fail "imports the non-system library $library" ;;
    esac
done
"$objdump" -p "$module" | grep -q 'name: .*PIPL' || fail "no PiPL resource directory entry"
echo "check-windows: exports, imports and resource of $module are as expected"

if ((run_wine)); then
    if command -v wine >/dev/null 2>&1 || command -v wine64 >/dev/null 2>&1; then
        WINEDEBUG=-all ctest --preset windows -j "$jobs"
    else
        echo "check-windows: Wine not installed, the cross-built tests were not run"
    fi
fi
