# The common part of the scripts that drive the program inside the headless
# Wayland session (sourced): a folder of the run's own ($work), everything
# started from it ended with the script, and the waits on the program's log
# and files.
work=$(mktemp -d /tmp/velmora-portal-test.XXXXXX)
# Everything this test starts carries the mark and is ended with the test,
# however it ends: a copy left running would hold the session's
# single-instance lock and its screen for the next test.
export VELMORA_PORTAL_TEST=$work
undo=()  # commands that put the session back, run at the end
marked() {
    local p
    for p in /proc/[0-9]*; do
        [[ ${p#/proc/} == "$$" ]] && continue
        grep -qzx "VELMORA_PORTAL_TEST=$work" "$p/environ" 2>/dev/null &&
            ! grep -q '^State:.*Z' "$p/status" 2>/dev/null && echo "${p#/proc/}"
    done
    return 0
}
cleanup() {
    local c p
    for c in "${undo[@]}"; do eval "$c" >/dev/null 2>&1 || true; done
    for p in $(marked); do kill -TERM "$p" 2>/dev/null || true; done
    for _ in $(seq 50); do [[ -z $(marked) ]] && break; sleep 0.1; done
    for p in $(marked); do kill -KILL "$p" 2>/dev/null || true; done
    [[ -n ${KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; tail -n 20 "$work"/state/velmora/Logs/*.log >&2 2>/dev/null || true; exit 1; }

# Waits until the program's log holds TEXT COUNT times (default once);
# copies the log to $work/log.
wait_logged() {  # wait_logged TEXT SECONDS [COUNT]
    local deadline=$((SECONDS + $2))
    until (($(cat "$work"/state/velmora/Logs/*.log 2>/dev/null | grep -c "$1") >= ${3:-1})); do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
    cat "$work"/state/velmora/Logs/*.log >"$work/log"
}

# Waits until FILE, which a recording writes, has grown COUNT times: each
# growth is at least one more frame on the disk.
wait_frames() {  # wait_frames FILE COUNT SECONDS
    local deadline=$((SECONDS + $3)) last=-1 size grown=0
    while ((grown < $2)); do
        ((SECONDS < deadline)) || return 1
        size=$(stat -c %s "$1" 2>/dev/null || echo -1)
        ((last >= 0 && size > last)) && grown=$((grown + 1))
        last=$size
        sleep 0.05
    done
}

# Seconds since the epoch, to the millisecond.
now() { date +%s.%3N; }

# The program with this test's folders. The copy that runs in the background
# is started through env, not this function, so that $! is the program
# itself: killing a function's subshell left it running, holding the
# single-instance lock and the screen for the next test.
run() {
    env XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 "$velmora" "$@"
}

# The compositor's screen stream in PipeWire (its id), if one is shared.
screen_node() {
    pw-cli ls Node 2>/dev/null | awk '/^[ \t]*id [0-9]+,/ { id = $2; sub(",", "", id) }
        /media.class = "Video\/Source"/ { print id; exit }'
}

# The portal's ScreenCast sessions on the bus.
portal_sessions() {
    busctl --user tree --list org.freedesktop.portal.Desktop 2>/dev/null |
        grep -E '^/org/freedesktop/portal/desktop/session/[^/]+/[^/]+$' | xargs
}
