#!/usr/bin/env bash
# Installs the packages of scripts/package.sh as users do, uses what they
# installed, and removes them again.
#
# Debian (this machine, as root): `apt-get install ./pointillo_*.deb`; the
# files are where the package says; `pointillo render` from PATH renders the
# demo with frames equal to the build's renderer's; ffmpeg finds the frei0r
# filter and melt the transition with no FREI0R_PATH; lintian reports no
# error or warning; `dpkg -r pointillo` leaves none of the package's files.
# The machine is left as it was found, also on failure: the package is removed
# and so is anything apt installed for it.
#
# Usage: scripts/ci/test-packages.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

fail() {
    echo "test-packages: $*" >&2
    exit 1
}
((EUID == 0)) || fail "installing the package needs root"
for tool in apt-get dpkg lintian ffmpeg melt; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh)"
done

work=$(mktemp -d)
packages_before="$work/packages-before"
we_installed=0
cleanup() {
    local status=$?
    if ((we_installed)); then
        dpkg --purge pointillo >/dev/null 2>&1 || echo "test-packages: could not remove pointillo" >&2
        # Whatever apt brought in for the package goes too.
        local added
        added=$(comm -13 "$packages_before" <(dpkg-query -W -f='${Package}\n' | sort) | tr '\n' ' ')
        if [[ -n "${added// /}" ]]; then
            echo "test-packages: removing what apt installed for the package: $added"
            # shellcheck disable=SC2086
            DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=600 $added \
                >/dev/null || echo "test-packages: could not remove $added" >&2
        fi
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

bash scripts/package.sh deb
shopt -s nullglob
debs=("$root"/dist/pointillo_*_amd64.deb)
((${#debs[@]} == 1)) || fail "expected one package in dist/, found ${#debs[@]}"
deb=${debs[0]}
build="$root/build/release"

if dpkg-query -W -f='${Status}' pointillo 2>/dev/null | grep -q "ok installed"; then
    fail "pointillo is installed on this machine already; this test would remove it (dpkg -r pointillo first)"
fi

# ---- the package itself ----
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libfreetype6 libharfbuzz0b libpng16-16; do
    [[ "$depends" == *"$library "* ]] || fail "Depends has no $library: $depends"
done
lintian_out=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges') || true
if grep -E '^[EW]: ' <<<"$lintian_out"; then
    fail "lintian reports errors or warnings (above)"
fi
echo "test-packages: lintian: no errors or warnings; Depends from the linked libraries: $depends"

# ---- installed as users install it ----
dpkg-query -W -f='${Package}\n' | sort >"$packages_before"
we_installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install $deb failed"; }
mapfile -t installed < <(dpkg -L pointillo)
for path in /usr/bin/pointillo /usr/lib/pointillo/pointillo /usr/lib/pointillo/Pointillo.so \
    /usr/lib/frei0r-1/pointillo.so /usr/lib/frei0r-1/pointillo_transition.so \
    /usr/share/kdenlive/effects/frei0r_pointillo.xml \
    /usr/share/kdenlive/transitions/frei0r_pointillo_transition.xml \
    /usr/share/doc/pointillo/README.md /usr/share/doc/pointillo/copyright \
    /usr/share/doc/pointillo/examples/titles.json /usr/share/man/man1/pointillo.1.gz; do
    [[ -e "$path" ]] || fail "$path is not installed"
done
if printf '%s\n' "${installed[@]}" | grep -q '^/usr/OFX'; then
    compgen -G '/usr/OFX/Plugins/*.ofx.bundle/Contents/Linux-x86-64/*.ofx' >/dev/null ||
        fail "the package has files under /usr/OFX but no bundle where OpenFX hosts look"
    echo "test-packages: the OpenFX bundle is in /usr/OFX/Plugins"
fi
echo "test-packages: installed ${#installed[@]} paths with apt-get"

# The renderer from PATH, without being told where the module is.
cd "$work"
[[ "$(env -u POINTILLO_MODULE bash -c 'command -v pointillo')" == /usr/bin/pointillo ]] ||
    fail "pointillo on PATH is not /usr/bin/pointillo"
env -u POINTILLO_MODULE pointillo render -o installed --jobs 2 >render.log 2>&1 ||
    { cat render.log >&2; fail "pointillo render of the demo failed"; }
(($(ls installed/frame_*.png | wc -l) == 180)) || fail "the demo did not render its 180 frames"
"$build/pointillo" render -o built --frames 85-95 --jobs 2 >/dev/null 2>&1
for frame in built/frame_*.png; do
    cmp -s "$frame" "installed/${frame#built/}" || fail "${frame#built/}: the installed renderer's differs"
done
echo "test-packages: pointillo render from PATH rendered the demo; frames 85-95 equal the build's"

# ffmpeg and melt find the plug-ins in their own search folders.
cp "$root/examples/logo.png" logo.png
filter="format=rgba,scale=160:96,frei0r=filter_name=pointillo:filter_params=0.5|y"
env -u FREI0R_PATH ffmpeg -v error -i logo.png -vf "$filter" -frames:v 1 -y from-package.png ||
    fail "ffmpeg did not find the frei0r filter without FREI0R_PATH"
FREI0R_PATH="$build/frei0r" ffmpeg -v error -i logo.png -vf "$filter" -frames:v 1 -y from-build.png
cmp -s from-package.png from-build.png || fail "ffmpeg's frame through the installed filter differs from the build's"
melt_query=$(env -u FREI0R_PATH melt -query "transition=frei0r.pointillo_transition" 2>&1)
grep -q "identifier: frei0r.pointillo_transition" <<<"$melt_query" ||
    fail "melt did not find the frei0r transition without FREI0R_PATH"
echo "test-packages: ffmpeg found the frei0r filter and melt the transition, with no FREI0R_PATH"
cd "$root"

# ---- removed ----
dpkg -r pointillo >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -r pointillo failed"; }
left=()
for path in "${installed[@]}"; do
    [[ -e "$path" || -L "$path" ]] || continue
    # A folder stays when another package owns it too (/usr/bin, /usr/share/doc).
    [[ -d "$path" && ! -L "$path" ]] && dpkg-query -S "$path" >/dev/null 2>&1 && continue
    left+=("$path")
done
((${#left[@]} == 0)) || fail "dpkg -r left ${left[*]}"
echo "test-packages: dpkg -r pointillo removed every file it installed"
