#!/usr/bin/env bash
# Builds the Windows module and packs the release for users:
# dist/Pointillo-<version>-win64.zip, holding Pointillo.aex and INSTALL.txt
# (where the application looks for plug-ins). The version is the project's.
#
# Usage: scripts/package-windows.sh
# scripts/ci/check-windows.sh is what proves the module; run it (or the test
# command) on the same commit before publishing.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
version=$(sed -n 's/^project(Pointillo VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
if [[ -z "$version" ]]; then
    echo "package-windows: no project version in CMakeLists.txt" >&2
    exit 1
fi

cmake --preset windows >/dev/null
cmake --build --preset windows --target pointillo_module -j "$jobs"

name="Pointillo-$version-win64"
stage="$PWD/build/package/$name"
zip="$PWD/dist/$name.zip"
rm -rf "$stage"
mkdir -p "$stage" dist
cp build/windows/Pointillo.aex "$stage/"

# Windows line endings, so that any editor shows the lines.
sed 's/$/\r/' >"$stage/INSTALL.txt" <<EOF
Pointillo $version for Windows x86-64
$(printf '%*s' $((29 + ${#version})) '' | tr ' ' '=')

Pointillo.aex is the whole effect: it needs no other files (the C++ runtime is
built in; it uses only Windows system libraries).

Installing
1. Quit the application.
2. Copy Pointillo.aex into a folder the application searches for plug-ins:
   - the "Plug-ins" folder inside the application's install folder, or
   - the shared MediaCore plug-ins folder, which is searched as well:
       C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore
   A sub-folder of either (for example Plug-ins\Brindlex) works too. Writing
   under C:\Program Files needs administrator rights.
3. Start the application again. The effect appears in the effects list under
   the "Brindlex" category as "Pointillo".

Updating: quit the application and replace Pointillo.aex with the new one.
Uninstalling: quit the application and delete Pointillo.aex.
EOF

rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip Pointillo.aex INSTALL.txt)
echo "package-windows: $zip"
