#!/usr/bin/env bash
# Installs the packages of scripts/package.sh as users do, uses what they
# installed, and removes them again.
#
# windows: under Wine, in a throwaway prefix, the installer runs silently
# (/S): each installed file is where the application or the OpenFX hosts look
# and byte for byte the built one, the uninstaller is registered, and running
# it leaves the prefix's files and registry as they were. Then the same with
# a registered application, into its own Plug-ins folder (/APPLICATION), and
# an upgrade over an older version.
#
# deb (this machine, as root): `apt-get install ./pointillo_*.deb`; the
# files are where the package says; `pointillo render` from PATH renders the
# demo with frames equal to the build's renderer's; ffmpeg finds the frei0r
# filter and melt the transition with no FREI0R_PATH; lintian reports no
# error or warning; `dpkg -r pointillo` leaves none of the package's files.
# The machine is left as it was found, also on failure: the package is removed
# and so is anything apt installed for it.
#
# Usage: scripts/ci/test-packages.sh [windows|deb]...   (both by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
source scripts/lib/wine-env.sh

fail() {
    echo "test-packages: $*" >&2
    exit 1
}
kinds=("$@")
((${#kinds[@]})) || kinds=(windows deb)

work=$(mktemp -d)
packages_before="$work/packages-before"
we_installed=0
cleanup() {
    local status=$?
    wine_stop
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

# ---------------------------------------------------------------- windows

# The prefix's state outside Windows' own folders and the temporary files:
# every path under drive_c, and the registry keys the installer writes.
prefix_state() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -path '*/Temp' -prune -o -print | sort)
    local key
    for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pointillo' 'HKLM\Software\Brindlex'; do
        "$WINE" reg query "$key" /s 2>/dev/null | tr -d '\r' | sed "s|^|$key: |" || true
    done
}

# check_installed VERSION: each file the build installs is where its top
# folder says (Plug-ins: $plugin_dir, the folder the installer was to use),
# byte for byte, and the uninstaller of VERSION is registered.
plugin_dir=""
check_installed() {
    local staged="$work/staged" file target
    while IFS= read -r file; do
        case "$file" in
        Plug-ins/*) target="$plugin_dir/${file#Plug-ins/}" ;;
        OFX/Plugins/*) target="Program Files/Common Files/OFX/Plugins/${file#OFX/Plugins/}" ;;
        *) target="Program Files/Pointillo/$file" ;;
        esac
        [[ -f "$WINEPREFIX/drive_c/$target" ]] || fail "$file was not installed to C:\\$target"
        cmp -s "$staged/$file" "$WINEPREFIX/drive_c/$target" || fail "C:\\$target differs from the built $file"
    done < <(cd "$staged" && find . -type f | sed 's|^\./||' | sort)
    cmp -s "$root/build/windows/Pointillo.aex" "$WINEPREFIX/drive_c/$plugin_dir/Pointillo.aex" ||
        fail "the installed Pointillo.aex is not the built build/windows/Pointillo.aex"
    [[ -f "$WINEPREFIX/drive_c/Program Files/Pointillo/Uninstall.exe" ]] || fail "no uninstaller"
    local entry
    entry=$("$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pointillo' 2>/dev/null | tr -d '\r')
    grep -q "DisplayVersion.*$1" <<<"$entry" || fail "the uninstaller is not registered for version $1: $entry"
    grep -q 'UninstallString.*Uninstall.exe' <<<"$entry" || fail "no UninstallString: $entry"
}

# uninstall: runs the registered uninstaller silently, as Windows would, and
# waits for the copy it runs from the temporary folder to finish.
uninstall() {
    "$WINE" 'C:\Program Files\Pointillo\Uninstall.exe' /S || fail "the uninstaller failed"
    local tries
    # Its last steps delete the registry keys.
    for ((tries = 0; tries < 120; tries++)); do
        if ! "$WINE" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pointillo' \
            >/dev/null 2>&1 && ! "$WINE" reg query 'HKLM\Software\Brindlex' >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.5
    done
    fail "the uninstaller did not finish within a minute"
}

test_windows() {
    bash scripts/package.sh windows
    local setup
    setup=$(ls "$root"/dist/Pointillo-*-win64-setup.exe)
    # What the installer holds, laid out as the build installs it.
    cmake --install build/windows --prefix "$work/staged" >/dev/null
    # An older version to upgrade from: the same files under a lower number.
    (cd build/windows && cpack -G NSIS -D CPACK_PACKAGE_VERSION=0.9.0 \
        -D CPACK_PACKAGE_FILE_NAME=Pointillo-0.9.0-win64-setup -B "$work/older" >/dev/null)
    local older="$work/older/Pointillo-0.9.0-win64-setup.exe" version
    version=$(sed -n 's/^project(Pointillo VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)

    export POINTILLO_WINE_PREFIX="$work/wine-prefix"
    wine_start || fail "Wine is needed to run the installer"
    local shared="Program Files/Adobe/Common/Plug-ins/7.0/MediaCore/Brindlex"
    local before
    before=$(prefix_state)

    # No application registered: the shared folder, silently.
    plugin_dir=$shared
    "$WINE" "$setup" /S || fail "the silent install failed"
    check_installed "$version"
    uninstall
    [[ "$(prefix_state)" == "$before" ]] ||
        fail "the uninstaller left something: $(diff <(echo "$before") <(prefix_state))"
    echo "test-packages: installed silently into the shared plug-in folder, files equal to the build's; the uninstaller removed everything"
    if [[ -d "$work/staged/OFX/Plugins" ]]; then
        echo "test-packages: the OpenFX bundle was installed into C:\Program Files\Common Files\OFX\Plugins"
    fi

    # A registered application offers its own Plug-ins folder.
    local app='C:\Program Files\Adobe\Adobe After Effects 2024\Support Files\Plug-ins'
    local app_key='HKLM\SOFTWARE\Adobe\After Effects\24.0'
    mkdir -p "$WINEPREFIX/drive_c/Program Files/Adobe/Adobe After Effects 2024/Support Files/Plug-ins"
    "$WINE" reg add "$app_key" /v PluginInstallPath /d "$app\\" /f >/dev/null
    "$WINE" reg add "$app_key" /v CommonPluginInstallPath \
        /d 'C:\Program Files\Adobe\Common\Plug-ins\7.0\MediaCore\' /f >/dev/null
    before=$(prefix_state)
    plugin_dir="Program Files/Adobe/Adobe After Effects 2024/Support Files/Plug-ins/Brindlex"
    "$WINE" "$setup" /S /APPLICATION || fail "the silent install into the application's folder failed"
    check_installed "$version"
    [[ ! -e "$WINEPREFIX/drive_c/$shared" ]] || fail "installed into the shared folder as well"
    uninstall
    [[ "$(prefix_state)" == "$before" ]] ||
        fail "the uninstaller left something: $(diff <(echo "$before") <(prefix_state))"
    echo "test-packages: with the application registered, /APPLICATION installed into its own Plug-ins folder; removed again"

    # An upgrade: the older version in the application's folder, this one
    # into the shared folder over it.
    "$WINE" "$older" /S /APPLICATION || fail "the older version's install failed"
    plugin_dir=$shared
    "$WINE" "$setup" /S || fail "the upgrade failed"
    check_installed "$version"
    [[ ! -e "$WINEPREFIX/drive_c/Program Files/Adobe/Adobe After Effects 2024/Support Files/Plug-ins/Brindlex" ]] ||
        fail "the older version's plug-in folder is still there after the upgrade"
    uninstall
    [[ "$(prefix_state)" == "$before" ]] ||
        fail "after the upgrade the uninstaller left something: $(diff <(echo "$before") <(prefix_state))"
    echo "test-packages: the upgrade over $(basename "$older") replaced it; one uninstall removed everything"
    wine_stop
    unset POINTILLO_WINE_PREFIX
}

# ---------------------------------------------------------------- deb

test_deb() {
    ((EUID == 0)) || fail "installing the package needs root"
    local tool
    for tool in apt-get dpkg lintian ffmpeg melt; do
        command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh)"
    done
    bash scripts/package.sh deb
    shopt -s nullglob
    debs=("$root"/dist/pointillo_*_amd64.deb)
    ((${#debs[@]} == 1)) || fail "expected one package in dist/, found ${#debs[@]}"
    deb=${debs[0]}
    build="$root/build/release"

    if [[ "$(dpkg-query -W -f='${Status}' pointillo 2>/dev/null)" == *"ok installed"* ]]; then
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
}

for kind in "${kinds[@]}"; do
    case "$kind" in
    windows) test_windows ;;
    deb) test_deb ;;
    *) fail "no package kind '$kind' (windows, deb)" ;;
    esac
done
