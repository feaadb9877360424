# Installs the Debian packages a script needs, and says which.
# Usage: need_packages PACKAGE...   (as root on Debian 12, or with sudo)

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
        $sudo apt-get update -qq
        apt_updated=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What the native build, its tests and the demo need.
need_native_packages() {
    need_packages ca-certificates g++ cmake ninja-build make libgtest-dev libgmock-dev libbenchmark-dev \
        binutils-mingw-w64-i686 ffmpeg
    # The benchmarks' peers, and strace for counting a frame's system calls.
    need_packages libyuv-dev libavformat-dev libavcodec-dev libavutil-dev strace
}
