# Wine for the Windows build's tests: the packages, a virtual X display, a
# private 32-bit prefix under build/, and a `wine` launcher that works even
# where the kernel cannot run 32-bit programs (there Wine runs under a
# user-mode emulator). Usage:
#   . scripts/lib/packages.sh; . scripts/lib/wine.sh
#   if ! on_virtual_display; then need_windows_packages; ...; run_on_virtual_display 1024x768x24 "$0" "$@"; fi
#   wine_session
# Afterwards $WINE_TOOLS/wine runs a Windows program; the prefix's server
# is stopped when the script exits.

WINE_TOOLS=${WINE_TOOLS:-$PWD/build/wine-tools}
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix}

# The Windows cross build and what its tests run on.
need_windows_packages() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "== enabling the i386 architecture for 32-bit Wine"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo dpkg --add-architecture i386
        apt_updated=0
    fi
    # GStreamer and MPlayer read the long recordings, besides ffmpeg; the
    # kernel tests build GoogleTest for Windows from Debian's sources.
    need_packages g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest wine wine32:i386 wine64 fonts-wine \
        xvfb xauth ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-good mplayer
}

# True when this machine runs 32-bit x86 programs itself.
runs_32bit_programs() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# True when 32-bit x86 programs run on this machine's own processor, not
# through an emulator that binfmt_misc puts in their way: only then do
# Wine's timings say anything of the processor.
runs_32bit_natively() {
    case "$(uname -m)" in
    x86_64 | i?86) ;;
    *) return 1 ;;
    esac
    local handler
    for handler in /proc/sys/fs/binfmt_misc/qemu-i386 /proc/sys/fs/binfmt_misc/qemu-i486; do
        if [ -f "$handler" ] && grep -qx enabled "$handler"; then
            return 1
        fi
    done
    runs_32bit_programs
}

# Some sandboxes refuse 32-bit programs. There the 32-bit Wine loader runs
# under qemu-i386 from Debian 13, whose emulation is recent enough for Wine;
# Debian 12's is not. Wine re-executes <bindir>/wine-preloader for every new
# process and finds its libraries relative to <bindir>, hence the layout.
build_emulated_wine() {
    local root=$WINE_TOOLS/emulated
    local qemu=$WINE_TOOLS/qemu-i386
    if [ ! -x "$qemu" ]; then
        echo "== this machine cannot run 32-bit programs: fetching qemu-user from Debian 13 for Wine"
        local apt=$WINE_TOOLS/apt
        mkdir -p "$apt/lists/partial" "$apt/archives/partial"
        local mirror
        mirror=$(debian_mirror)
        if [ -z "$mirror" ]; then
            echo "no Debian package mirror found in this machine's apt sources" >&2
            return 1
        fi
        echo "deb $mirror trixie main" >"$apt/sources.list"
        local options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o Dir::State::Lists="$apt/lists" -o Dir::Cache::Archives="$apt/archives"
            -o Dir::Cache::pkgcache="" -o Dir::Cache::srcpkgcache=""
            -o APT::Architecture=amd64 -o APT::Architectures::=amd64 -o Acquire::Languages=none
            -o APT::Sandbox::User=root -o Debug::NoLocking=1 -qq)
        apt-get "${options[@]}" update
        (cd "$apt" && apt-get "${options[@]}" download qemu-user)
        dpkg-deb -x "$apt"/qemu-user_*.deb "$apt/unpacked"
        mv "$apt/unpacked/usr/bin/qemu-i386" "$qemu"
        rm -rf "$apt"
    fi
    rm -rf "$root"
    mkdir -p "$root/lib/wine"
    ln -s /usr/share "$root/share"
    ln -s /usr/lib/i386-linux-gnu "$root/lib/i386-linux-gnu"
    cp /usr/lib/wine/wine "$root/lib/wine/wine"
    ln -s /usr/lib/wine/wineserver "$root/lib/wine/wineserver"
    cat >"$root/lib/wine/wine-preloader" <<PRELOADER
#!/bin/sh
# Wine's preloader, replaced: runs the 32-bit loader given first under qemu.
loader="\$1"; shift
export WINELOADERNOEXEC=1
exec "$qemu" "\$loader" "\$@"
PRELOADER
    chmod +x "$root/lib/wine/wine-preloader"
    printf '%s\n' '#!/bin/sh' "exec \"$root/lib/wine/wine-preloader\" \"$root/lib/wine/wine\" \"\$@\"" \
        >"$WINE_TOOLS/wine"
}

# True when the script runs on the virtual display run_on_virtual_display gave it.
on_virtual_display() {
    [ -n "${AVI_OUTPUT_ON_XVFB:-}" ]
}

# Runs the script again, with its arguments, on a virtual X display of the
# given screen (WIDTHxHEIGHTxDEPTH), in place of this process.
# Usage: run_on_virtual_display SCREEN "$0" "$@"
run_on_virtual_display() {
    local screen=$1
    shift
    AVI_OUTPUT_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 $screen" "$@"
}

# The launchers and the prefix, and a server of the prefix's own for this
# display, stopped when the script exits.
wine_session() {
    wine_setup
    # A server left from another display would hand our windows to that one.
    "$WINE_TOOLS/wineserver" -k 2>/dev/null || true
    "$WINE_TOOLS/wineserver" -p
    trap '"$WINE_TOOLS/wineserver" -k 2>/dev/null || true' EXIT
}

# Writes the launchers and creates the prefix once.
wine_setup() {
    mkdir -p "$WINE_TOOLS"
    if runs_32bit_programs; then
        printf '%s\n' '#!/bin/sh' 'exec wine "$@"' >"$WINE_TOOLS/wine"
    else
        build_emulated_wine
    fi
    printf '%s\n' '#!/bin/sh' 'exec /usr/lib/wine/wineserver "$@"' >"$WINE_TOOLS/wineserver"
    chmod +x "$WINE_TOOLS/wine" "$WINE_TOOLS/wineserver"

    export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
    # No Mono or Gecko: nothing here needs them, and their installers would ask.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== creating the Wine prefix $WINEPREFIX"
        "$WINE_TOOLS/wine" wineboot -i >/dev/null 2>&1
        "$WINE_TOOLS/wineserver" -w
    fi
}
