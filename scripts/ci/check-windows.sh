#!/usr/bin/env bash
# Cross-builds the Windows module (the `windows` preset) and checks the file
# as the host will see it: exactly the two exported entry points, only system
# libraries imported, and the PiPL resource byte for byte. Then, under Wine,
# runs the cross-built test suite, which loads Pointillo.aex through
# LoadLibrary, and compares frames the Windows build renders with the Linux
# build's (scripts/ci/compare-windows-frames.sh).
#
# Usage: scripts/ci/check-windows.sh [--no-wine]
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/wine-env.sh
started=$SECONDS

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

echo "check-windows: cross build and file checks took $((SECONDS - started)) s"

if ((run_wine)); then
    wine_start || fail "Wine is needed to run the Windows build (or pass --no-wine)"
    trap wine_stop EXIT
    wine_started=$SECONDS
    ctest --preset windows -j "$jobs"
    echo "check-windows: the test suite under Wine took $((SECONDS - wine_started)) s"
    compare_started=$SECONDS
    bash scripts/ci/compare-windows-frames.sh
    echo "check-windows: the frame comparison took $((SECONDS - compare_started)) s"
fi
echo "check-windows: done in $((SECONDS - started)) s"
