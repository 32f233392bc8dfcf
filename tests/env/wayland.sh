#!/usr/bin/env bash
# Starts and stops a headless Wayland desktop with the ScreenCast portal, as a
# CTest fixture:
#   wayland.sh start|stop DIR      (also: testenv.sh start|stop wayland DIR)
#   wayland.sh start DIR N         N sessions side by side, in DIR/slot-0 ..
#                                  DIR/slot-N-1; stop DIR stops each of them
# The session: headless sway (pixman, one 1280x720 output HEADLESS-1),
# PipeWire, WirePlumber, xdg-desktop-portal-wlr built here with one change
# (below), xdg-desktop-portal, and a test client that shows a solid colour
# and keeps a corner moving, all inside one private D-Bus session.
# sway refuses to run as root: as root the session runs as an unprivileged
# user, created if missing ($VELMORA_WAYLAND_USER, velmora-wl); otherwise as
# the caller.
# DIR/wayland.env gets the variables the tests read, DIR/in-session runs a
# command inside the session as its user, DIR/wayland/logs keeps each
# server's log. Environment read here:
#   VELMORA_XDPW_CACHE        where the patched portal backend is built once
#                             (default DIR/xdpw)
#   VELMORA_WAYLAND_CLIENT    the colour client (default: none is started)
#   VELMORA_WAYLAND_READABLE  colon-separated paths the session's user must
#                             reach (the build and source trees)
set -euo pipefail

action=${1:?start or stop}
dir=${2:?state folder}
mkdir -p "$dir"
if [[ -n ${3:-} || ($action == stop && -n $(compgen -G "$dir/slot-*")) ]]; then
    self=$(readlink -f "$0")
    if [[ $action == stop ]]; then
        for slot in "$dir"/slot-*; do "$self" stop "$slot" & done
        wait
        exit 0
    fi
    # The first session builds the patched portal backend; the others wait on its lock.
    jobs=()
    for ((k = 0; k < $3; k++)); do
        "$self" start "$dir/slot-$k" >/dev/null &
        jobs+=($!)
    done
    status=0
    for job in "${jobs[@]}"; do wait "$job" || status=1; done
    if ((status)); then "$self" stop "$dir"; exit 1; fi
    echo "started $3 wayland sessions in $dir"
    exit 0
fi
dir=$(cd "$dir" && pwd)
pids="$dir/wayland.pids"
envfile="$dir/wayland.env"
state="$dir/wayland"
cache=${VELMORA_XDPW_CACHE:-$dir/xdpw}
user=${VELMORA_WAYLAND_USER:-velmora-wl}
((EUID == 0)) || user=$(id -un)

# The client's colour and place: the tests look for it there.
client_colour=#2080c0
client_geometry="100 100 640 360"
background=#402010

fail() { echo "wayland session: $*" >&2; return 1; }

wait_for() {  # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then return 1; fi
        sleep 0.05
    done
}

as_user() {
    if ((EUID == 0)); then runuser -u "$user" -- "$@"; else "$@"; fi
}

ensure_user() {
    ((EUID == 0)) || return 0
    id -u "$user" >/dev/null 2>&1 && return 0
    # Two runs may race to create it: the loser sees it afterwards.
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
        "$user" 2>/dev/null || id -u "$user" >/dev/null 2>&1 || fail "cannot create user $user"
}

# The session's user must run the test programs and read their files, which
# may sit under root's home (mode 0700): grant that one user traversal of
# each folder on the way, nothing more.
grant_traversal() {
    ((EUID == 0)) || return 0
    local path p
    local IFS=:
    for path in ${VELMORA_WAYLAND_READABLE:-} $dir; do
        [[ -n $path && -e $path ]] || continue
        p=$(cd "$path" && pwd)
        while [[ -n $p && $p != / ]]; do
            if ! runuser -u "$user" -- test -x "$p"; then
                setfacl -m "u:$user:x" "$p" || fail "cannot grant $user traversal of $p"
            fi
            p=$(dirname "$p")
        done
    done
}

# xdg-desktop-portal-wlr 0.7.0 treats a missing DMA-BUF format as fatal when
# screencopy v3 is offered; sway on pixman offers none, so Start fails.
# Built once from Debian's source with only the shared-memory check kept.
build_xdpw() {
    mkdir -p "$cache"
    exec 8>"$cache/lock"
    flock -w 240 8 || fail "another run holds $cache/lock"
    if [[ -x $cache/build/xdg-desktop-portal-wlr ]]; then exec 8>&-; return 0; fi
    echo "building the patched xdg-desktop-portal-wlr in $cache" >&2
    local apt="$cache/apt" log="$cache/build.log"
    rm -rf "$apt" "$cache/src" "$cache/build"
    mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$cache/src"
    # deb-src lines for the mirror the system already uses, in a list of our
    # own: the system's sources stay as they are.
    local uri keyring
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' \
        /etc/apt/sources.list 2>/dev/null)
    uri=${uri:-http://deb.debian.org/debian}
    keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    echo "deb-src [signed-by=$keyring] $uri bookworm main" >"$apt/sources.list"
    local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache::Archives="$apt/archives"
        -o Debug::NoLocking=1 -q)
    timeout 180 apt-get "${opts[@]}" update >"$log" 2>&1 || { cat "$log" >&2; fail "apt-get update of the source list failed"; }
    (cd "$cache/src" && timeout 180 apt-get "${opts[@]}" source --download-only xdg-desktop-portal-wlr) >>"$log" 2>&1 ||
        { cat "$log" >&2; fail "apt-get source xdg-desktop-portal-wlr failed"; }
    (cd "$cache/src" && dpkg-source -x ./*.dsc tree) >>"$log" 2>&1 ||
        { cat "$log" >&2; fail "unpacking xdg-desktop-portal-wlr failed"; }
    local file="$cache/src/tree/src/screencast/screencast.c"
    # The condition reads "WL_SHM format invalid || (version >= 3 && DMABUF
    # format invalid)": keep the first half.
    perl -0pi -e 's/(if \(cast->screencopy_frame_info\[WL_SHM\]\.format == DRM_FORMAT_INVALID)\s*\|\|\s*\(cast->ctx->state->screencast_version >= 3 &&\s*cast->screencopy_frame_info\[DMABUF\]\.format == DRM_FORMAT_INVALID\)\)/$1)/' "$file"
    grep -q 'if (cast->screencopy_frame_info\[WL_SHM\].format == DRM_FORMAT_INVALID) {' "$file" ||
        fail "the DMA-BUF check of $file is not as expected: the change did not apply"
    (cd "$cache/src/tree" && timeout 240 meson setup "$cache/build" --buildtype=release -Dsd-bus-provider=libsystemd &&
        timeout 240 ninja -C "$cache/build") >>"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "building xdg-desktop-portal-wlr failed"; }
    exec 8>&-
}

# The script that runs inside dbus-run-session as the session's user.
write_session_script() {
    cat >"$state/session.sh" <<'SESSION'
#!/bin/sh
# Starts the servers in order and keeps the session alive.
set -u
logs=$VELMORA_WL_STATE/logs
step() { echo "$1" >"$VELMORA_WL_STATE/step"; }
wait_for() {
    n=0
    until eval "$2" >/dev/null 2>&1; do
        n=$((n + 1)); [ $n -ge $(($1 * 20)) ] && return 1; sleep 0.05
    done
}
has_name() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q true
}
echo $$ >"$VELMORA_WL_STATE/session.pid"
step sway
sway -c "$VELMORA_WL_STATE/sway.config" >"$logs/sway.log" 2>&1 &
wait_for 20 'ls "$XDG_RUNTIME_DIR" | grep -q "^wayland-[0-9]*$"' || { step "sway: no Wayland socket"; exit 1; }
WAYLAND_DISPLAY=$(ls "$XDG_RUNTIME_DIR" | grep '^wayland-[0-9]*$' | head -n1)
wait_for 10 'ls "$XDG_RUNTIME_DIR" | grep -q "^sway-ipc"' || { step "sway: no IPC socket"; exit 1; }
SWAYSOCK=$XDG_RUNTIME_DIR/$(ls "$XDG_RUNTIME_DIR" | grep '^sway-ipc' | head -n1)
export WAYLAND_DISPLAY SWAYSOCK
# No systemd: services D-Bus starts must see the session's variables.
dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
    XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME HOME XDG_DESKTOP_PORTAL_DIR \
    >"$logs/dbus-env.log" 2>&1
step pipewire
pipewire >"$logs/pipewire.log" 2>&1 &
wait_for 20 'test -S "$XDG_RUNTIME_DIR/pipewire-0"' || { step "pipewire: no socket"; exit 1; }
step wireplumber
wireplumber >"$logs/wireplumber.log" 2>&1 &
wait_for 20 'pw-cli ls Client | grep -q WirePlumber' || { step "wireplumber: not connected to pipewire"; exit 1; }
# The sound server GNOME and KDE users run: PipeWire's PulseAudio server.
step pipewire-pulse
pipewire-pulse >"$logs/pipewire-pulse.log" 2>&1 &
wait_for 20 'pactl info' || { step "pipewire-pulse: no PulseAudio server"; exit 1; }
# The patched backend must own its name before the portal first asks for it,
# or D-Bus would start an installed stock one.
step xdg-desktop-portal-wlr
"$VELMORA_WL_STATE/xdg-desktop-portal-wlr" -l DEBUG >"$logs/xdg-desktop-portal-wlr.log" 2>&1 &
wait_for 20 'has_name org.freedesktop.impl.portal.desktop.wlr' || { step "xdg-desktop-portal-wlr: not on the bus"; exit 1; }
step xdg-desktop-portal
/usr/libexec/xdg-desktop-portal -v >"$logs/xdg-desktop-portal.log" 2>&1 &
wait_for 20 'dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
    org.freedesktop.DBus.Properties.Get string:org.freedesktop.portal.ScreenCast string:version' ||
    { step "xdg-desktop-portal: no ScreenCast portal"; exit 1; }
if [ -n "${VELMORA_WL_CLIENT:-}" ]; then
    step "colour client"
    QT_QPA_PLATFORM=wayland QT_WAYLAND_DISABLE_WINDOWDECORATION=1 \
        "$VELMORA_WL_CLIENT" "$VELMORA_WL_CLIENT_COLOUR" >"$logs/colour-client.log" 2>&1 &
    # Ready once the window stands where the tests look and the client has
    # drawn at its new size: the floating rule lands after the first map.
    wait_for 20 'swaymsg -t get_tree | /usr/bin/python3 "$VELMORA_WL_STATE/placed.py" $VELMORA_WL_CLIENT_PLACE' ||
        { step "colour client: no window at $VELMORA_WL_CLIENT_PLACE"; exit 1; }
fi
env | grep -E '^(WAYLAND_DISPLAY|SWAYSOCK|DBUS_SESSION_BUS_ADDRESS)=' >"$VELMORA_WL_STATE/session.env"
step ready
wait
SESSION
}

write_configs() {
    local x y w h
    read -r x y w h <<<"$client_geometry"
    mkdir -p "$state/config/xdg-desktop-portal-wlr" "$state/portals" "$state/logs" \
        "$state/home" "$state/data/dbus-1/services" "$state/state"
    # No notification daemon of the machine's (dunst, mako) is started for
    # the program's first notification: it would hold the name for the rest
    # of the session, and the tests' own scripted service could not take it.
    # The session's own folder comes first, and its entry starts nothing.
    cat >"$state/data/dbus-1/services/org.freedesktop.Notifications.service" <<'CONF'
[D-BUS Service]
Name=org.freedesktop.Notifications
Exec=/bin/false
CONF
    cat >"$state/sway.config" <<CONF
output HEADLESS-1 resolution 1280x720 position 0,0 bg $background solid_color
default_border none
default_floating_border none
focus_follows_mouse no
for_window [app_id="velmora-colour"] floating enable, resize set $w $h, move position $x $y
CONF
    # Exit 0 once the colour client's window stands at X Y with a surface of W x H.
    cat >"$state/placed.py" <<'PY'
import json, sys
want = [int(v) for v in sys.argv[1:5]]
def views(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from views(child)
for v in views(json.load(sys.stdin)):
    if v.get("app_id") == "velmora-colour":
        r, g = v["rect"], v.get("geometry", {})
        sys.exit(0 if [r["x"], r["y"], g.get("width"), g.get("height")] == want else 1)
sys.exit(1)
PY
    cat >"$state/config/xdg-desktop-portal-wlr/config" <<'CONF'
[screencast]
output_name=HEADLESS-1
max_fps=30
chooser_type=none
CONF
    # Only our backend: the portal reads its backends from this folder.
    cat >"$state/portals/wlr.portal" <<'CONF'
[portal]
DBusName=org.freedesktop.impl.portal.desktop.wlr
Interfaces=org.freedesktop.impl.portal.Screenshot;org.freedesktop.impl.portal.ScreenCast;
UseIn=wlroots;sway;Wayfire;river;phosh;Hyprland;
CONF
    cp "$cache/build/xdg-desktop-portal-wlr" "$state/"
    write_session_script
}

# Every process of the session: started in its process group, or carrying
# its runtime folder (what D-Bus started).
session_processes() {
    local runtime=$1 p
    for p in /proc/[0-9]*; do
        grep -qzx "XDG_RUNTIME_DIR=$runtime" "$p/environ" 2>/dev/null && echo "${p#/proc/}"
    done
    return 0
}

stop_session() {
    [[ -f $pids ]] || return 0
    local pgid runtime p
    pgid=$(sed -n 's/^pgid=//p' "$pids")
    runtime=$(sed -n 's/^runtime=//p' "$pids")
    [[ -n $pgid ]] && kill -TERM -- "-$pgid" 2>/dev/null || true
    if [[ -n $runtime ]]; then
        for p in $(session_processes "$runtime"); do kill -TERM "$p" 2>/dev/null || true; done
    fi
    for _ in $(seq 50); do
        local alive=0
        # Zombies count as gone: their parent may be init, which reaps late.
        [[ -n $pgid ]] && ps -o stat= -g "$pgid" 2>/dev/null | grep -qv '^Z' && alive=1
        [[ -n $runtime && -n $(session_processes "$runtime") ]] && alive=1
        ((alive)) || break
        sleep 0.1
    done
    [[ -n $pgid ]] && kill -KILL -- "-$pgid" 2>/dev/null || true
    if [[ -n $runtime ]]; then
        for p in $(session_processes "$runtime"); do kill -KILL "$p" 2>/dev/null || true; done
        [[ $runtime == /tmp/velmora-wl.* ]] && rm -rf "$runtime"
    fi
    rm -f "$pids" "$envfile" "$dir/in-session"
    return 0
}

start_session() {
    command -v sway >/dev/null || fail "sway is not installed (./velmora.sh installs the test packages)"
    ensure_user
    build_xdpw
    rm -rf "$state"
    mkdir -p "$state"
    write_configs
    grant_traversal
    if [[ -n ${VELMORA_WAYLAND_CLIENT:-} && ! -x $VELMORA_WAYLAND_CLIENT ]]; then
        fail "the colour client $VELMORA_WAYLAND_CLIENT is not built"
    fi
    # A short private runtime folder per run (socket paths are limited to
    # 108 bytes; two runs must not meet).
    local runtime
    runtime=$(mktemp -d /tmp/velmora-wl.XXXXXX)
    chmod 700 "$runtime"
    if ((EUID == 0)); then chown -R "$user:" "$runtime" "$state"; fi
    echo "runtime=$runtime" >"$pids"
    local vars=(
        HOME="$state/home" XDG_RUNTIME_DIR="$runtime" XDG_CONFIG_HOME="$state/config"
        XDG_DATA_HOME="$state/data" XDG_STATE_HOME="$state/state"
        XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland XDG_DESKTOP_PORTAL_DIR="$state/portals"
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1
        VELMORA_WL_STATE="$state" VELMORA_WL_CLIENT="${VELMORA_WAYLAND_CLIENT:-}"
        VELMORA_TEST_SERVER="$dir"
        VELMORA_WL_CLIENT_COLOUR="$client_colour" VELMORA_WL_CLIENT_PLACE="$client_geometry"
    )
    # setsid: the whole session is one process group, stopped as one.
    local launcher=()
    ((EUID == 0)) && launcher=(runuser -u "$user" --)
    setsid env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        "${launcher[@]}" env "${vars[@]}" dbus-run-session -- sh "$state/session.sh" \
        >"$state/logs/dbus-run-session.log" 2>&1 </dev/null &
    local leader=$!
    echo "pgid=$leader" >>"$pids"
    local deadline=$((SECONDS + 60)) step=""
    while :; do
        step=$(cat "$state/step" 2>/dev/null || true)
        [[ $step == ready ]] && break
        if ! kill -0 "$leader" 2>/dev/null || ((SECONDS >= deadline)); then
            echo "wayland session: did not start; last step: ${step:-none} (logs in $state/logs)" >&2
            local f
            for f in "$state"/logs/*.log; do
                [[ -s $f ]] || continue
                echo "--- ${f##*/}" >&2
                tail -n 15 "$f" >&2
            done
            return 1
        fi
        sleep 0.1
    done
    local wl sock bus
    wl=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$state/session.env")
    sock=$(sed -n 's/^SWAYSOCK=//p' "$state/session.env")
    bus=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$state/session.env")
    local x y w h
    read -r x y w h <<<"$client_geometry"
    cat >"$envfile" <<VARS
VELMORA_WL_USER=$user
WAYLAND_DISPLAY=$wl
XDG_RUNTIME_DIR=$runtime
DBUS_SESSION_BUS_ADDRESS=$bus
SWAYSOCK=$sock
XDG_CURRENT_DESKTOP=sway
XDG_SESSION_TYPE=wayland
HOME=$state/home
XDG_CONFIG_HOME=$state/config
XDG_DATA_HOME=$state/data
XDG_STATE_HOME=$state/state
VELMORA_WL_IN_SESSION=$dir/in-session
VELMORA_WL_LOGS=$state/logs
VELMORA_WL_SCREEN=1280x720
VELMORA_WL_BACKGROUND=$background
VELMORA_WL_CLIENT_COLOUR=$( [[ -n ${VELMORA_WAYLAND_CLIENT:-} ]] && echo "$client_colour")
VELMORA_WL_CLIENT_RECT=$( [[ -n ${VELMORA_WAYLAND_CLIENT:-} ]] && echo "$x,$y,$w,$h")
VARS
    # A command inside the session, as its user, with its variables and no X
    # display.
    cat >"$dir/in-session" <<WRAP
#!/bin/sh
# Runs a command inside the headless Wayland session of $dir, as $user.
vars="\$(cat '$envfile')"
if [ "\$(id -u)" = 0 ] && [ "$user" != root ]; then
    exec runuser -u '$user' -- env -u DISPLAY \$vars "\$@"
fi
exec env -u DISPLAY \$vars "\$@"
WRAP
    chmod 755 "$dir/in-session"
}

case $action in
start)
    stop_session
    if ! start_session; then stop_session; exit 1; fi
    echo "started wayland:"; cat "$envfile"
    ;;
stop) stop_session ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
