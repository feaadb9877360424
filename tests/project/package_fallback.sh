#!/usr/bin/env bash
# How the scripts install when the mirror serves lists apt cannot verify,
# against a stand-in apt: the fallback to the release's own versions runs
# only when apt-get update failed twice and the lists it kept cannot
# install what is asked, and then pins those versions for that one install.
# Usage: package_fallback.sh SOURCE_DIR
set -euo pipefail
source_dir=${1:?usage: package_fallback.sh SOURCE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# The stand-in apt-get logs each call, and the preferences it was given;
# $work/update and $work/simulate hold the exit status for those calls.
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "apt-get $*" >>"$WORK/log"
case " $* " in
*" update "*) exit "$(cat "$WORK/update")" ;;
*" -s "*) exit "$(cat "$WORK/simulate")" ;;
esac
for argument in "$@"; do
    case $argument in
    Dir::Etc::PreferencesParts=*) cat "${argument#*=}"/* >>"$WORK/log" ;;
    esac
done
STUB
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query" # nothing is installed
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# install UPDATE_STATUS SIMULATE_STATUS: runs need_packages, leaves the log.
install() {
    echo "$1" >"$work/update"
    echo "$2" >"$work/simulate"
    : >"$work/log"
    (
        export PATH="$work/bin:$PATH" WORK="$work" APT_RETRY_PAUSE=0
        . "$source_dir/scripts/lib/packages.sh"
        need_packages wine32:i386
    ) >/dev/null 2>&1 || echo "install failed" >>"$work/log"
}
expect() { # expect DESCRIPTION PATTERN COUNT: the log has COUNT lines matching PATTERN
    local found
    found=$(grep -c -- "$2" "$work/log" || true)
    if [ "$found" -ne "$3" ]; then
        echo "package_fallback: $1: $found lines match '$2', not $3" >&2
        sed 's/^/  /' "$work/log" >&2
        failures=$((failures + 1))
    fi
}
release=$(. /etc/os-release && echo "$VERSION_CODENAME")

install 0 0
expect "lists read" "apt-get update" 1
expect "lists read" "allow-downgrades" 0
expect "lists read" "apt-get install -y --no-install-recommends wine32:i386" 1

install 100 0
expect "lists unread, enough" "apt-get update" 2
expect "lists unread, enough" "allow-downgrades" 0
expect "lists unread, enough" "install failed" 0

install 100 100
expect "lists unread, short" "apt-get update" 2
expect "lists unread, short" "allow-downgrades.*wine32:i386" 1
expect "lists unread, short" "^Pin: release n=$release\$" 1
expect "lists unread, short" "^Pin: release n=$release-updates\$" 1
expect "lists unread, short" "^Pin-Priority: 1001\$" 2
expect "lists unread, short" "install failed" 0

[ "$failures" -eq 0 ] && echo "package_fallback: every case holds"
exit "$((failures > 0))"
