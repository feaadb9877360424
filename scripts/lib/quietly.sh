# Runs a command with its output set aside, and shows that output only when
# the command fails, so a short script never hides why it stopped.
# Usage: quietly COMMAND [ARGUMENT...]

quietly() {
    local log status=0
    log=$(mktemp "${TMPDIR:-/tmp}/quietly.XXXXXX")
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$log" >&2
        echo "failed (exit $status): $*" >&2
    fi
    rm -f "$log"
    return "$status"
}
