# Installs the Debian packages a script needs, and says which.
# Usage: need_packages PACKAGE...   (as root on Debian 12, or with sudo)

. "$(dirname "${BASH_SOURCE[0]}")/quietly.sh"

apt_updated=0

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

need_packages() {
    local missing=()
    local package
    for package in "$@"; do
        package_installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing Debian packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    if [ "$apt_updated" -eq 0 ]; then
        quietly $sudo apt-get update
        apt_updated=1
    fi
    quietly $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# What building the plug-in and the stand-in host needs, and the demo's
# ffprobe and ffmpeg. windres preprocesses the dialog template with
# mingw-w64's C compiler and its <windows.h>, on the native target too.
need_build_packages() {
    need_packages g++ cmake ninja-build binutils-mingw-w64-i686 gcc-mingw-w64-i686 ffmpeg
}

# What the native tests and benchmarks need on top: the test and benchmark
# frameworks, the benchmarks' peers, and strace for counting a frame's
# system calls.
need_native_packages() {
    need_build_packages
    need_packages libgtest-dev libgmock-dev libbenchmark-dev \
        libyuv-dev libavformat-dev libavcodec-dev libavutil-dev strace
}
