#!/usr/bin/env bash
# Builds and makes the packages users install, into dist/:
#   windows  Pointillo-<version>-win64-setup.exe, from the Windows build
#            (CPack's NSIS generator with packaging/NSIS.template.in)
#   deb      pointillo_<version>-1_amd64.deb, from the release build (CPack's
#            DEB generator; dependencies found by dpkg-shlibdeps)
#
# Usage: scripts/package.sh [windows|deb]...   (all of them by default)
# The test command's packages stage (scripts/ci/test-packages.sh) installs
# and removes each one; run it on the same commit before publishing.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${JOBS:-$(nproc)}
kinds=("$@")
((${#kinds[@]})) || kinds=(windows deb)

# pack PRESET GENERATOR GLOB: builds the preset and packs what it installs.
pack() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
    rm -rf "build/$1/packages"
    (cd "build/$1" && cpack -G "$2" >/dev/null)
    mkdir -p dist
    rm -f dist/$3
    cp build/"$1"/packages/$3 dist/
    echo "package: dist/$(basename build/"$1"/packages/$3)"
}

for kind in "${kinds[@]}"; do
    case "$kind" in
    windows) pack windows NSIS 'Pointillo-*-win64-setup.exe' ;;
    deb) pack release DEB 'pointillo_*_amd64.deb' ;;
    *)
        echo "package: no package kind '$kind' (windows, deb)" >&2
        exit 2
        ;;
    esac
done
