#!/usr/bin/env bash
# Installs what building, testing and rendering need on Debian 12, skipping
# what is already there. Run as root (or with sudo available).
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format pkg-config git
    # tests and benchmarks
    libgtest-dev libbenchmark-dev time
    # the renderer
    libfreetype-dev libharfbuzz-dev libfontconfig-dev libpng-dev libopenexr-dev
    nlohmann-json3-dev libcli11-dev fonts-dejavu-core ffmpeg
    # the frei0r plug-ins and their hosts in the tests
    frei0r-plugins-dev melt gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad
    # the render farm's test: a one-node Slurm cluster
    slurmctld slurmd slurm-client munge
    # the Debian package and its checks
    dpkg-dev lintian
    # the studio: emscripten (its optimizer needs acorn), and its browser test
    emscripten node-acorn nodejs chromium
    # the ARM64 build and its run under qemu
    g++-aarch64-linux-gnu qemu-user
)
# The Windows module, its run under Wine and its installer.
windows_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis)
if [[ "${1:-}" != "--no-windows" ]]; then
    packages+=("${windows_packages[@]}")
fi

# Debian's npm, unless an npm came with another build of nodejs (which
# conflicts with Debian's npm package).
if ! command -v npm >/dev/null; then
    packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

# The studio's browser test drives the system's chromium with puppeteer-core
# from npm, installed into web/test from its lockfile (no browser download).
npm_packages() {
    local here
    here="$(cd "$(dirname "$0")/.." && pwd)"
    if [[ ! -d $here/web/test/node_modules/puppeteer-core ]]; then
        echo "install-deps: npm packages of web/test"
        PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix "$here/web/test" --no-audit --no-fund
    fi
}

if ((${#missing[@]} == 0)); then
    npm_packages
    echo "install-deps: everything is installed"
    exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
npm_packages
