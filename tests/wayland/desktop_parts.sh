#!/bin/bash
# Inside the headless Wayland session (run through DIR/in-session), the
# program's parts beyond its window, as a Wayland desktop shows them:
#   desktop_parts.sh VELMORA DOUBLES countdown   "velmora -vc delay=3": the
#       number stands in the middle of the screen, the recording begins 3 s
#       after it appeared, and no frame of it shows the number
#   desktop_parts.sh VELMORA DOUBLES cancel      --stop during the countdown
#       takes the number away; nothing is recorded, no screen is shared
#   desktop_parts.sh VELMORA DOUBLES notify      in German: after a recording,
#       one notification names the saved file with both actions, and "Show
#       in folder" asks the file manager to show that file
#   desktop_parts.sh VELMORA DOUBLES tray        the status icon registers with
#       the desktop's watcher; its menu's Record and Stop, clicked over D-Bus
#       as a panel does, record and save
# DOUBLES: the folder of the scripted desktop services (tests/doubles).
set -euo pipefail
velmora=${1:?velmora}
doubles=${2:?the doubles folder}
mode=${3:?countdown, cancel, notify or tray}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/session_program.sh"
ini=$work/config/velmora/Setup.ini
out=$work/out
mkdir -p "$(dirname "$ini")" "$out"

# Writes Setup.ini: the keys given ("Section/Key=value") and a base that
# sends nothing and leaves the window as it is.
setup() {
    local -A sections=([SetupApp]="SendStats=0 MinimizeCapture=0 RestoreAfterRecord=0")
    local entry
    for entry in "$@"; do sections[${entry%%/*}]+=" ${entry#*/}"; done
    : >"$ini"
    for section in "${!sections[@]}"; do
        echo "[$section]" >>"$ini"
        tr ' ' '\n' <<<"${sections[$section]}" | sed '/^$/d' >>"$ini"
    done
}

# The countdown's number on the screen now: "COUNT X Y W H" of its dark disc
# (of the box "X,Y WxH" given, else of the whole screen).
disc() { grim ${1:+-g "$1"} -t ppm - 2>/dev/null | /usr/bin/python3 "$here/dark_disc.py" shot; }
# Whether it shows, looked for in the middle of the screen (fast to poll).
IFS=x read -r sw sh <<<"$VELMORA_WL_SCREEN"
middle="$((sw / 2 - 240)),$((sh / 2 - 240)) 480x480"
shown() { local d; d=$(disc "$middle"); ((${d%% *} > 2000)); }

# The program in the background ($! is the program).
start() {
    env XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 "$velmora" "$@" >"$work/run.out" 2>&1 &
    pid=$!
}

# A scripted desktop service on the session bus, ready once it owns NAME.
service() {  # service SCRIPT NAME ARGS...
    local script=$1 name=$2
    shift 2
    /usr/bin/python3 "$doubles/$script" "$@" >"$work/${script%.py}.out" 2>&1 &
    local deadline=$((SECONDS + 10))
    until busctl --user list --no-legend 2>/dev/null | awk '{ print $1 }' | grep -qx "$name"; do
        ((SECONDS < deadline)) || fail "$script did not take $name: $(cat "$work/${script%.py}.out")"
        sleep 0.1
    done
}

merged_file() {
    wait_logged "$1" 60 || fail "no merged recording: $(tail -n 5 "$work/run.out")"
    ls "$out"/VideoRecord_* 2>/dev/null | head -n1
}

case $mode in
countdown)
    setup SetupVideo/CaptureCursor=0 SetupVideo/TypeCapture=1 SetupApp/NotifySaved=0 SetupApp/TrayIcon=0
    ! shown || fail "something dark in the middle before the program ran"
    commanded=$(now)
    start -vc delay=3 time=2 "path=$out/"
    deadline=$((SECONDS + 30))
    # The number appeared after the poll before the one that saw it began
    # (a poll takes a while on a busy machine), and before that one ended.
    before=$(now) polled=$before
    until shown; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run.out")"
        ((SECONDS < deadline)) || fail "no number on the screen within 30 s"
        before=$polled polled=$(now)
    done
    appeared=$(now)
    # Off the colour client's blinking corner at its top left.
    read -r count x y w h <<<"$(disc "200,40 $((sw - 400))x$((sh - 80))")"
    x=$((x + 200)) y=$((y + 40))
    grim "$work/countdown.png" 2>/dev/null || true
    # A disc in the middle of the screen, not a tile of it (where it covers
    # the colour client, it is not dark enough to count).
    cx=$((x + w / 2)) cy=$((y + h / 2))
    ((cx > sw / 2 - 40 && cx < sw / 2 + 40 && cy > sh / 2 - 40 && cy < sh / 2 + 40 &&
        w >= 64 && w <= 330 && h <= 330)) ||
        fail "the number's dark stands at ${w}x$h+$x+$y, not a disc in the middle of ${sw}x$sh"
    # Above the program's window, which stands in the middle too: the disc
    # darkens its light face.
    light=$(grim -g "$((cx - 60)),$((cy - 60)) 120x120" -t ppm - | /usr/bin/python3 "$here/dark_disc.py" light)
    ((light < 300)) || fail "the number is under another window: $light light pixels in its middle"
    [[ ! -e $out/~tempvideo.avi ]] || fail "recording while the number shows"
    until [[ -e $out/~tempvideo.avi ]]; do
        ((SECONDS < deadline + 10)) || fail "no recording began"
        sleep 0.02
    done
    began=$(now)
    file=$(merged_file "Recorded with")
    [[ -n $file ]] || fail "no recording in $out"
    # The temporary file is polled 50 times a second; the portal's session
    # opens within a few tenths of a second after the time is up. Sway puts
    # a new window on the screen up to a few tenths of a second after the
    # frame it reports done (its transaction with the other windows), which
    # no client can see: the count starts at that report.
    awk -v a="$before" -v z="$appeared" -v b="$began" -v c="$commanded" \
        'BEGIN { exit !(b - a >= 2.6 && b - z <= 3.8 && b - c >= 3) }' ||
        fail "the recording began $(awk -v a="$before" -v z="$appeared" -v b="$began" \
            'BEGIN { print b - z " to " b - a }') s after the number appeared"
    frames=$(ffmpeg -v error -i "$file" -vf "crop=$w:$h:$x:$y,format=rgb24" -f rawvideo - |
        /usr/bin/python3 "$here/dark_disc.py" frames "$w" "$h")
    n=$(wc -l <<<"$frames")
    ((n >= 10)) || fail "only $n frames"
    held=$(awk '$1 > 200' <<<"$frames" | wc -l)
    ((held == 0)) || fail "$held of $n frames show the number: $(xargs <<<"$frames")"
    echo "number at ${w}x$h+$x+$y; recording began $(awk -v a="$before" -v z="$appeared" -v b="$began" 'BEGIN { print b - z " to " b - a }') s later; none of $n frames shows it"
    ;;
cancel)
    setup SetupVideo/TypeCapture=1 SetupApp/NotifySaved=0 SetupApp/TrayIcon=0
    start -vc delay=5 "path=$out/"
    deadline=$((SECONDS + 30))
    until shown; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run.out")"
        ((SECONDS < deadline)) || fail "no number on the screen within 30 s"
    done
    run --stop 2>"$work/stop.err" || fail "--stop failed: $(cat "$work/stop.err")"
    deadline=$((SECONDS + 3))
    while shown; do ((SECONDS < deadline)) || fail "the number stayed after --stop"; done
    wait_logged "Countdown cancelled" 5 || fail "the cancel is not logged"
    # Past the time the countdown had: still nothing.
    sleep 5
    kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run.out")"
    [[ -z $(ls -A "$out") ]] || fail "files were written: $(ls "$out")"
    [[ -z $(portal_sessions) && -z $(screen_node) ]] || fail "the screen was shared"
    echo "--stop took the number away; nothing recorded"
    ;;
notify)
    calls=$work/calls.json
    service fake_notifications.py org.freedesktop.Notifications "$calls" folder
    setup SetupApp/NotifySaved=1 SetupApp/TrayIcon=0 Setup/Language=German
    start -vc time=2 "path=$out/"
    file=$(merged_file "Aufgenommen mit")
    [[ -n $file ]] || fail "no recording in $out"
    deadline=$((SECONDS + 10))
    until grep -q '"ShowItems"' "$calls" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "no ShowItems after the notification: $(cat "$calls" 2>/dev/null)"
        sleep 0.1
    done
    /usr/bin/python3 - "$calls" "$file" <<'PY' || fail "calls: $(cat "$calls")"
import json, sys, urllib.parse
calls = [json.loads(line) for line in open(sys.argv[1])]
path = sys.argv[2]
notes = [c for c in calls if c["call"] == "Notify"]
assert len(notes) == 1, notes
note = notes[0]
assert note["summary"] == "Aufnahme gespeichert", note
assert note["body"].split("\n")[0] == path.rsplit("/", 1)[1], note
assert note["actions"] == ["open", "Öffnen", "folder", "Im Ordner zeigen"], note
shown = [c for c in calls if c["call"] == "ShowItems"]
assert shown == [{"call": "ShowItems", "uris": ["file://" + urllib.parse.quote(path)]}], shown
PY
    echo "notified ${file##*/}; Show in folder showed it"
    ;;
tray)
    items=$work/items.log
    service fake_status_notifier_watcher.py org.kde.StatusNotifierWatcher "$items"
    setup SetupApp/TrayIcon=1 SetupApp/NotifySaved=0 SetupVideo/TypeCapture=1
    start "path=$out/"
    deadline=$((SECONDS + 30))
    until grep -q '^item ' "$items" 2>/dev/null; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run.out")"
        ((SECONDS < deadline)) || fail "the icon never registered: $(cat "$items" 2>/dev/null)"
        sleep 0.1
    done
    # Clicks the enabled menu item of that label as a panel does; the menu
    # follows the program's state within half a second.
    click() {
        local deadline=$((SECONDS + 5))
        until [[ -n $(busctl --user call org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
            org.velmora.TestPanel Click s "$1" | sed -n 's/^s "\(.*\)"$/\1/p') ]]; do
            ((SECONDS < deadline)) || return 1
            sleep 0.2
        done
    }
    click "Record (F9)" || fail "no Record in the icon's menu: $(tail -n 1 "$items")"
    wait_frames "$out/~tempvideo.avi" 10 30 || fail "no frames after the menu's Record"
    click "Stop (F10)" || fail "no Stop in the icon's menu: $(tail -n 1 "$items")"
    file=$(merged_file "Recorded with")
    [[ -n $file ]] || fail "the menu's Stop saved nothing"
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$file")
    ((frames >= 10)) || fail "only $frames frames in ${file##*/}"
    echo "registered; Record and Stop from its menu saved ${file##*/} ($frames frames)"
    ;;
*) fail "unknown mode $mode" ;;
esac
