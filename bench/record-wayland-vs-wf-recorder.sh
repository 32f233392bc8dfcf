#!/usr/bin/env bash
# Records the same headless Wayland screen (tests/env/wayland.sh: sway,
# 1280x720, the moving colour client) for SECONDS at FPS, once with Velmora
# through the ScreenCast portal and once with wf-recorder (wlr-screencopy),
# both with Xvid, and prints for each: frames in the file, the recorder's CPU
# seconds, and the CPU seconds sway and xdg-desktop-portal-wlr spent meanwhile.
#   bench/record-wayland-vs-wf-recorder.sh [BUILD-DIR] [SECONDS] [FPS]
# Velmora's figure is the whole process: start-up, the recording, the merge.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-bench-wayland}
seconds=${2:-10}
fps=${3:-30}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=ON -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$dir" --target velmora velmora_language velmora_colour_client >/dev/null
dir=$(cd "$dir" && pwd)
state=$(mktemp -d /tmp/velmora-wl-bench.XXXXXX)
chmod 755 "$state"
VELMORA_WAYLAND_CLIENT=$dir/velmora_colour_client VELMORA_XDPW_CACHE=$dir/xdpw-patched \
    VELMORA_WAYLAND_READABLE="$dir:$(pwd)" tests/env/wayland.sh start "$state/session" >/dev/null
trap 'tests/env/wayland.sh stop "$state/session"; rm -rf "$state"' EXIT
in_session=$state/session/in-session
runtime=$(sed -n 's/^runtime=//p' "$state/session/wayland.pids")
user=$(sed -n 's/^VELMORA_WL_USER=//p' "$state/session/wayland.env")
work=$state/work
mkdir -p "$work/config/velmora" "$work/out"
cat >"$work/config/velmora/Setup.ini" <<INI
[SetupVideo]
TypeCapture=1
VideoFPS=$fps
INI
[[ $EUID == 0 && $user != root ]] && chown -R "$user" "$work"

# The session's process whose command line matches, and CPU seconds of a pid.
session_pid() {
    local p
    for p in /proc/[0-9]*; do
        grep -qzx "XDG_RUNTIME_DIR=$runtime" "$p/environ" 2>/dev/null || continue
        tr '\0' ' ' <"$p/cmdline" | grep -qE "$1" && { echo "${p#/proc/}"; return; }
    done
}
cpu() { awk -v hz="$(getconf CLK_TCK)" '{printf "%.2f", ($14 + $15) / hz}' "/proc/$1/stat"; }
sway=$(session_pid '^sway ')
xdpw=$(session_pid 'xdg-desktop-portal-wlr')
frames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1"
}
report() {  # NAME FILE RECORDER-CPU SWAY0 SWAY1 XDPW0 XDPW1
    printf '%-22s frames %4s  recorder CPU %6.2f s  sway %5.2f s  xdpw %5.2f s\n' "$1" \
        "$(frames "$2")" "$3" "$(echo "$5 - $4" | bc)" "$(echo "$7 - $6" | bc)"
}

s0=$(cpu "$sway") x0=$(cpu "$xdpw")
"$in_session" env XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" \
    QT_QPA_PLATFORM=wayland "$dir/velmora" -vc "time=$seconds" "path=$work/out/" \
    >"$work/velmora.out" 2>&1 &
launcher=$!
for _ in $(seq 600); do
    cat "$work"/state/velmora/Logs/*.log 2>/dev/null | grep -q "Recorded with" && break
    sleep 0.1
done
pid=$(session_pid "^$dir/velmora ")
velmora_cpu=$(cpu "$pid")
s1=$(cpu "$sway") x1=$(cpu "$xdpw")
kill -TERM "$pid"
wait "$launcher" || true
grep "Recorded with" "$work"/state/velmora/Logs/*.log
report "velmora (portal)" "$(ls "$work"/out/VideoRecord_*.avi)" "$velmora_cpu" "$s0" "$s1" "$x0" "$x1"

s0=$(cpu "$sway") x0=$(cpu "$xdpw")
"$in_session" /usr/bin/time -f "%U %S" -o "$work/wf.time" timeout -s INT "$seconds" \
    wf-recorder -y -o HEADLESS-1 -r "$fps" -c libxvid -f "$work/wf.avi" >"$work/wf.out" 2>&1 || true
s1=$(cpu "$sway") x1=$(cpu "$xdpw")
wf_cpu=$(awk 'END {print $1 + $2}' "$work/wf.time")
report "wf-recorder (screencopy)" "$work/wf.avi" "$wf_cpu" "$s0" "$s1" "$x0" "$x1"
