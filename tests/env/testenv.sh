#!/usr/bin/env bash
# Starts and stops the private servers the tests need, as CTest fixtures:
#   testenv.sh start|stop x11|audio|demo DIR
#   testenv.sh start slots DIR N   N independent sets of x11 and audio, in
#                                  DIR/slot-0 .. DIR/slot-N-1, started side by side
#   testenv.sh stop slots DIR      stops every set in DIR/slot-*
# x11: a 1280x720x24 Xvfb with openbox, a 1280x720x16 Xvfb, and an Xvfb with
# openbox at 1920x1080x24 (RandR sizes 7680x2160, 1920x1080 and 1280x720)
# whose size, monitors and X resources (Xft.dpi) the geometry tests change;
# each puts back what it changed.
# audio: a PulseAudio daemon with a 440 Hz "fakemic" source and a
# "speakers" null sink.
# demo: an Xvfb of $VELMORA_DEMO_SIZE (1280x720x24) with openbox and a moving
# test picture, $VELMORA_DEMO_PICTURE (640x360 at 100,100, or "full").
# wayland: a headless sway session with the ScreenCast portal (wayland.sh).
# DIR/<kind>.env gets the variables the tests read; DIR/<kind>.pids the
# processes started here, which are exactly the ones stopped.
set -euo pipefail

action=${1:?start or stop}
kind=${2:?x11 or audio}
dir=${3:?state folder}
# The headless Wayland session has a script of its own.
[[ $kind == wayland ]] && exec "$(dirname "$0")/wayland.sh" "$action" "$dir"
if [[ $kind == slots ]]; then
    # Each slot is the x11 and audio kinds in a folder of its own; a slot that
    # fails to start fails the whole start, after stopping every slot.
    self=$(readlink -f "$0")
    if [[ $action == stop ]]; then
        for slot in "$dir"/slot-*; do
            [[ -d $slot ]] || continue
            "$self" stop audio "$slot" &
            "$self" stop x11 "$slot" &
        done
        wait
        exit 0
    fi
    count=${4:?number of slots}
    jobs=()
    for ((k = 0; k < count; k++)); do
        ("$self" start x11 "$dir/slot-$k" >/dev/null && "$self" start audio "$dir/slot-$k" >/dev/null) &
        jobs+=($!)
    done
    status=0
    for job in "${jobs[@]}"; do wait "$job" || status=1; done
    if ((status)); then "$self" stop slots "$dir"; exit 1; fi
    echo "started $count slots in $dir"
    exit 0
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# Every server started here carries the mark, so that tests/env/leftovers.sh
# can tell that none outlived its stop.
export VELMORA_TEST_SERVER=$dir
pids="$dir/$kind.pids"
envfile="$dir/$kind.env"

wait_for() {  # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then return 1; fi
        sleep 0.05
    done
}

stop_kind() {
    [[ -f $pids ]] || return 0
    local p
    while read -r p; do kill "$p" 2>/dev/null || true; done <"$pids"
    for _ in $(seq 50); do
        local alive=0
        while read -r p; do kill -0 "$p" 2>/dev/null && alive=1; done <"$pids"
        ((alive)) || break
        sleep 0.1
    done
    while read -r p; do kill -9 "$p" 2>/dev/null || true; done <"$pids"
    rm -f "$pids" "$envfile"
}

# Starts an Xvfb that picks its own free display number; prints ":N".
start_xvfb() {  # start_xvfb WxHxDEPTH LOGNAME
    local numfile="$dir/$2.display"
    rm -f "$numfile"
    setsid Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset \
        3>"$numfile" >"$dir/$2.log" 2>&1 </dev/null &
    echo $! >>"$pids"
    wait_for 20 test -s "$numfile" || { echo "Xvfb $1 did not start" >&2; cat "$dir/$2.log" >&2; return 1; }
    local display=":$(head -n1 "$numfile")"
    wait_for 20 xdpyinfo -display "$display" || { echo "Xvfb $display does not answer" >&2; return 1; }
    echo "$display"
}

start_wm() {  # start_wm DISPLAY RUNTIME [LOGNAME]
    DISPLAY=$1 XDG_RUNTIME_DIR=$2 setsid openbox --sm-disable \
        >"$dir/${3:-openbox}.log" 2>&1 </dev/null &
    echo $! >>"$pids"
    wait_for 20 sh -c "xprop -display $1 -root _NET_SUPPORTING_WM_CHECK | grep -q window" ||
        { echo "openbox did not start" >&2; return 1; }
}

start_demo() {
    local runtime="$dir/demo-runtime" size=${VELMORA_DEMO_SIZE:-1280x720x24}
    mkdir -p "$runtime" && chmod 700 "$runtime"
    local display
    display=$(start_xvfb "$size" xvfb-demo)
    start_wm "$display" "$runtime"
    local w=${size%%x*} rest=${size#*x}
    local h=${rest%%x*}
    local geometry=(-left 100 -top 100) picture=640x360
    if [[ ${VELMORA_DEMO_PICTURE:-} == full ]]; then
        geometry=(-left 0 -top 0) picture=${w}x${h}
    fi
    DISPLAY=$display SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR=$runtime setsid ffplay -loglevel error \
        -an -noborder "${geometry[@]}" -window_title "moving picture" \
        -f lavfi -i "testsrc2=size=$picture:rate=30" >"$dir/ffplay.log" 2>&1 </dev/null &
    echo $! >>"$pids"
    wait_for 20 sh -c "xwininfo -display $display -name 'moving picture'" ||
        { echo "the moving picture did not show" >&2; return 1; }
    sleep 0.5  # its first frames
    cat >"$envfile" <<VARS
DISPLAY=$display
XDG_RUNTIME_DIR=$runtime
VARS
}

start_x11() {
    local runtime="$dir/x11-runtime"
    mkdir -p "$runtime" && chmod 700 "$runtime"
    local d24 d16 drandr
    d24=$(start_xvfb 1280x720x24 xvfb24)
    d16=$(start_xvfb 1280x720x16 xvfb16)
    drandr=$(start_xvfb 7680x2160x24 xvfb-randr)
    start_wm "$d24" "$runtime"
    start_wm "$drandr" "$runtime" openbox-randr
    # Xvfb lists only its start size, which is also the largest it can take;
    # smaller sizes must be added as modes before `xrandr -s` can switch.
    DISPLAY=$drandr xrandr --newmode 1920x1080 148.5 1920 2008 2052 2200 1080 1084 1089 1125 &&
        DISPLAY=$drandr xrandr --addmode screen 1920x1080 &&
        DISPLAY=$drandr xrandr --newmode 1280x720 74.25 1280 1390 1430 1650 720 725 730 750 &&
        DISPLAY=$drandr xrandr --addmode screen 1280x720 &&
        DISPLAY=$drandr xrandr -s 1920x1080 ||
        { echo "RandR sizes cannot be set on $drandr" >&2; return 1; }
    cat >"$envfile" <<VARS
DISPLAY=$d24
VELMORA_DISPLAY16=$d16
VELMORA_DISPLAY_RANDR=$drandr
XDG_RUNTIME_DIR=$runtime
VARS
}

start_audio() {
    local runtime="$dir/pulse-runtime" home="$dir/pulse-home"
    rm -rf "$runtime" && mkdir -p "$runtime" "$home" && chmod 700 "$runtime"
    cat >"$dir/pulse.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers
load-module module-null-sink sink_name=micsink sink_properties=device.description=MicSink
load-module module-sine sink=micsink frequency=440
load-module module-remap-source master=micsink.monitor source_name=fakemic source_properties=device.description=Microphone
set-default-sink speakers
set-default-source fakemic
PA
    export XDG_RUNTIME_DIR=$runtime HOME=$home
    export PULSE_SERVER=unix:$runtime/pulse/native
    pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false --disallow-exit -n \
        -F "$dir/pulse.pa" --log-target=file:"$dir/pulse.log" </dev/null
    wait_for 20 pactl info || { echo "PulseAudio did not start" >&2; cat "$dir/pulse.log" >&2; return 1; }
    cat "$runtime/pulse/pid" >>"$pids"
    # A low-latency reader keeps the null sink running, so new capture
    # streams get data within tens of milliseconds.
    setsid parec --latency-msec=20 -d micsink.monitor --raw >/dev/null 2>&1 </dev/null &
    echo $! >>"$pids"
    # A new null sink renders about two seconds ahead before it runs in real
    # time: until then its monitor, and so the microphone, gives nothing.
    wait_for 10 sh -c '[ "$(timeout 1 parec --latency-msec=20 -d fakemic --raw 2>/dev/null |
        head -c 4410 | wc -c)" = 4410 ]' || { echo "the microphone gives no sound" >&2; return 1; }
    cat >"$envfile" <<VARS
XDG_RUNTIME_DIR=$runtime
PULSE_SERVER=$PULSE_SERVER
VARS
}

case $action in
start)
    stop_kind
    : >"$pids"
    if ! "start_$kind"; then stop_kind; exit 1; fi
    echo "started $kind:"; cat "$envfile"
    ;;
stop) stop_kind ;;
*) echo "usage: $0 start|stop x11|audio|demo DIR" >&2; exit 2 ;;
esac
