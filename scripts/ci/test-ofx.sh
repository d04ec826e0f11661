#!/usr/bin/env bash
# The OpenFX bundle as a host finds it: the standard's layout, only the two
# entry points exported, both plug-ins listed by the test host with their
# contexts; then the OpenFX tests (every context, depth, scale, order and
# thread count; the fault sweep; temporal access; frames against the
# renderer's; the install layout).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${POINTILLO_BUILD:-build/release}")
fail() { echo "test-ofx: $*" >&2; exit 1; }

bundle="$build/Pointillo.ofx.bundle"
binary="$bundle/Contents/Linux-x86-64/Pointillo.ofx"
[[ -f "$binary" ]] || fail "no $binary"
exports=$(nm -D --defined-only "$binary" | awk '{print $NF}' | sort | tr '\n' ' ')
[[ "$exports" == "OfxGetNumberOfPlugins OfxGetPlugin " ]] ||
    fail "the bundle exports '$exports', expected only OfxGetNumberOfPlugins and OfxGetPlugin"
listing=$("$build/pointillo-ofx-host" "$bundle" --list)
expected=$'org.pointillo.Transition transition general\norg.pointillo.Filter filter general'
[[ "$listing" == "$expected" ]] || fail "the test host lists:"$'\n'"$listing"
echo "test-ofx: $bundle lays out, exports and lists as expected"

ctest --test-dir "$build" -L ofx --output-on-failure
