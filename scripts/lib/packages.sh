# Installs the Debian packages a script needs, and says which.
# Usage: need_packages PACKAGE...   (as root on Debian 12, or with sudo)

. "$(dirname "${BASH_SOURCE[0]}")/quietly.sh"

apt_updated=0
apt_lists_complete=1 # 0 when the last apt-get update kept only the lists it could read

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
        apt_lists_complete=1
        # A mirror caught mid-sync serves a list of the wrong size, at times
        # for hours; apt then keeps the lists it could read.
        if ! $sudo apt-get update -qq >/dev/null 2>&1; then
            echo "== apt-get update failed, trying again in ${APT_RETRY_PAUSE:-30} s"
            sleep "${APT_RETRY_PAUSE:-30}"
            if ! quietly $sudo apt-get update; then
                echo "== apt-get update failed again: installing from the lists it could read" >&2
                apt_lists_complete=0
            fi
        fi
        apt_updated=1
    fi
    if [ "$apt_lists_complete" -eq 0 ] &&
        ! $sudo apt-get install -s --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
        install_from_release_lists "${missing[@]}"
    else
        quietly $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

# With the security list of one architecture unread, a library shared by
# both (libssl3:i386 beside libssl3:amd64) exists for it only at the
# release's version, while the other architecture already has the security
# update; multiarch wants one version of both, so nothing installs. Only
# then: take the release's versions, moving installed copies of those
# libraries back to them. Every package still comes from a signed list;
# the next apt-get upgrade on a mended mirror brings the updates back.
install_from_release_lists() {
    local release preferences status=0 sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$release" ] || return 1
    echo "== the lists apt could read do not install them together; taking $release's own versions," \
        "which may move shared libraries back from their security updates" >&2
    preferences=$(mktemp -d "${TMPDIR:-/tmp}/apt-preferences.XXXXXX")
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n\nPackage: *\nPin: release n=%s-updates\nPin-Priority: 1001\n' \
        "$release" "$release" >"$preferences/release-lists.pref"
    quietly $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --allow-downgrades \
        -o Dir::Etc::PreferencesParts="$preferences" "$@" || status=$?
    rm -rf "$preferences"
    return "$status"
}

# The package mirror this machine's apt takes its own release from, for
# anything that downloads Debian packages apt does not install itself: the
# URIs of a deb822 stanza, or the address of a one-line source, whose
# suite is the release itself (not its -updates or -security).
debian_mirror() {
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    {
        awk -v release="$release" '
            function stanza_end() { if (uri != "" && named) print uri; uri = ""; named = 0 }
            FNR == 1 || /^[[:space:]]*$/ { stanza_end() }
            $1 == "URIs:" { uri = $2 }
            $1 == "Suites:" { for (i = 2; i <= NF; i++) if ($i == release) named = 1 }
            END { stanza_end() }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true
        awk -v release="$release" '
            $1 == "deb" {
                i = 2
                if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
                if ($(i + 1) == release) print $i
            }' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true
    } | head -n 1
}

# What building the plug-in and the stand-in host needs, and the demo's
# ffprobe and ffmpeg. windres preprocesses the dialog template with
# mingw-w64's C compiler and its <windows.h>, on the native target too.
need_build_packages() {
    need_packages g++ cmake ninja-build binutils-mingw-w64-i686 gcc-mingw-w64-i686 ffmpeg
}

# What the native tests and benchmarks need on top: the test and benchmark
# frameworks, the benchmarks' peers, strace for counting a frame's system
# calls, and the readers the recordings are played with.
need_native_packages() {
    need_build_packages
    need_packages libgtest-dev libgmock-dev libbenchmark-dev \
        libyuv-dev libavformat-dev libavcodec-dev libavutil-dev strace \
        gstreamer1.0-tools gstreamer1.0-plugins-good mplayer mkvtoolnix
}

# What ./scripts/package needs: the Windows cross build and zip.
need_package_packages() {
    need_packages cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 zip
}

# What the package's test reads the zip and the version resource with.
need_package_test_packages() {
    need_package_packages
    need_packages unzip icoutils git
}
