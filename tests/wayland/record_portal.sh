#!/bin/bash
# Inside the headless Wayland session (run through DIR/in-session):
#   record_portal.sh VELMORA frames POINTER   "velmora -vc time=2" records
#       the colour client where the compositor put it, over the session's
#       background, and the cursor where POINTER (velmora_virtual_pointer) put it
#   record_portal.sh VELMORA token    the first run keeps the portal's restore
#       token in Setup.ini; the second passes it and the portal restores the
#       monitor from it instead of choosing anew
#   record_portal.sh VELMORA toggle   "velmora --toggle" twice from another
#       process starts and stops a recording of the running copy, merged
#       into its file
#   record_portal.sh VELMORA lost     the portal's stream destroyed during a
#       recording ends it there, merged, with the reason in the log; the next
#       recording opens a new session and records moving content
#   record_portal.sh VELMORA idle     no screen is shared while the program
#       waits: not before the first Record, not after the recording ends
#   record_portal.sh VELMORA sound    PipeWire's PulseAudio server lists a
#       source playing a 1 kHz tone, and a recording of it has the tone
#   record_portal.sh VELMORA window   a portal without window sources: the
#       Window button is off with its reason, a window recording is refused
# The program gets folders of its own (settings, logs, recordings), so every
# run of this test starts without a kept token.
set -euo pipefail
velmora=${1:?velmora}
mode=${2:?frames or token}
. "$(dirname "$0")/session_program.sh"
xdpw_log=$VELMORA_WL_LOGS/xdg-desktop-portal-wlr.log
ini=$work/config/velmora/Setup.ini

# One recording; returns once the program has logged its merge result.
record() {
    local out=$work/out$1
    mkdir -p "$out"
    local log_lines=0
    [[ -f $work/log ]] && log_lines=$(wc -l <"$work/log")
    XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 \
        "$velmora" -vc time=2 "path=$out/" >"$work/run$1.out" 2>&1 &
    local pid=$!
    local deadline=$((SECONDS + 60))
    until cat "$work"/state/velmora/Logs/*.log 2>/dev/null | grep -q "Recorded with"; do
        kill -0 $pid 2>/dev/null || fail "run $1: the program ended early: $(tail -n 5 "$work/run$1.out")"
        ((SECONDS < deadline)) || { kill $pid; wait $pid || true; fail "run $1: no recording within 60 s"; }
        sleep 0.2
    done
    kill -TERM $pid
    wait $pid || true
    cat "$work"/state/velmora/Logs/*.log >"$work/log"
    rm -f "$work"/state/velmora/Logs/*.log
    ls "$out"/VideoRecord_*.avi >/dev/null 2>&1 || fail "run $1: no recording in $out"
}

# "R G B" of the picture's pixel (x, y) at time t of the file.
pixel() {
    ffmpeg -v error -ss "$2" -i "$1" -frames:v 1 -vf "format=rgb24,crop=1:1:$3:$4" -f rawvideo -pix_fmt rgb24 - |
        od -An -tu1 | xargs
}

near() {  # near "R G B" RRGGBB: each channel within 24 (the codec's loss)
    local want=$2 got=($1) i
    ((${#got[@]} == 3)) || return 1
    for i in 0 1 2; do
        local w=$((16#${want:$((i * 2 + 1)):2}))
        local d=$((got[i] - w))
        ((d < 0)) && d=$((-d))
        ((d <= 24)) || return 1
    done
}

# Pixels of the w x h box at (x, y) at time t darker than the cursor's outline.
dark_pixels() {  # dark_pixels FILE T X Y W H
    ffmpeg -v error -ss "$2" -i "$1" -frames:v 1 -vf "format=rgb24,crop=$5:$6:$3:$4" \
        -f rawvideo -pix_fmt rgb24 - | od -An -tu1 -v | xargs -n3 |
        awk '$1 < 70 && $2 < 70 && $3 < 70' | wc -l
}

case $mode in
frames)
    pointer=${3:?the virtual pointer program}
    IFS=, read -r cx cy cw ch <<<"$VELMORA_WL_CLIENT_RECT"
    IFS=x read -r sw sh <<<"$VELMORA_WL_SCREEN"
    px=$((cx + 200)) py=$((cy + 200))
    "$pointer" $px $py $sw $sh >"$work/pointer.out" 2>&1 &
    for _ in $(seq 50); do grep -q ready "$work/pointer.out" && break; sleep 0.1; done
    grep -q ready "$work/pointer.out" || fail "no virtual pointer: $(cat "$work/pointer.out")"
    record 1
    file=$(ls "$work"/out1/VideoRecord_*.avi)
    size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file")
    [[ $size == "${VELMORA_WL_SCREEN/x/,}" ]] || fail "frame size $size, the screen is $VELMORA_WL_SCREEN"
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$file")
    ((frames >= 14)) || fail "only $frames frames in 2 s"
    # Inside the client (off its moving corner and off the program's own
    # window in the middle of the screen), and on the background beside it.
    inside=$(pixel "$file" 1.5 $((cx + 40)) $((cy + ch - 40)))
    outside=$(pixel "$file" 1.5 $((cx + cw + 300)) $((cy + ch + 150)))
    # The client's left edge on its pixel column: the frame is not shifted.
    left_in=$(pixel "$file" 1.5 $((cx + 3)) $((cy + 60)))
    left_out=$(pixel "$file" 1.5 $((cx - 3)) $((cy + 60)))
    near "$left_in" "$VELMORA_WL_CLIENT_COLOUR" && near "$left_out" "$VELMORA_WL_BACKGROUND" ||
        fail "the client's left edge is not at x=$cx: $left_out | $left_in"
    near "$inside" "$VELMORA_WL_CLIENT_COLOUR" ||
        fail "inside the client: $inside, expected $VELMORA_WL_CLIENT_COLOUR"
    near "$outside" "$VELMORA_WL_BACKGROUND" ||
        fail "beside the client: $outside, expected $VELMORA_WL_BACKGROUND"
    # The arrow below and right of its hot spot, drawn over the client, and
    # none of it in the same box elsewhere on the client.
    cursor=$(dark_pixels "$file" 1.5 $px $py 12 16)
    elsewhere=$(dark_pixels "$file" 1.5 $((px + 100)) $py 12 16)
    ((cursor >= 10 && elsewhere == 0)) ||
        fail "cursor at $px,$py: $cursor dark pixels there, $elsewhere 100 px to the right"
    echo "frames $frames, client $inside, background $outside, cursor $cursor dark pixels"
    ;;
token)
    before=$(grep -c "restore data available" "$xdpw_log" || true)
    record 1
    first=$(sed -n 's/^ScreenCastToken=//p' "$ini")
    [[ -n $first ]] || fail "no ScreenCastToken in Setup.ini after the first recording"
    after1=$(grep -c "restore data available" "$xdpw_log" || true)
    ((after1 == before)) || fail "the first run, without a token, was restored"
    record 2
    second=$(sed -n 's/^ScreenCastToken=//p' "$ini")
    after2=$(grep -c "restore data available" "$xdpw_log" || true)
    # The portal turns the token back into the monitor it stood for and
    # hands the backend that choice: no chooser, no question.
    ((after2 == after1 + 1)) || fail "the second run was not restored from the token"
    # xdg-desktop-portal may hand the same token again or a new one.
    [[ -n $second ]] || fail "no ScreenCastToken kept after the second Start"
    grep -q "Recorded with" "$work/log" || fail "the second run recorded nothing"
    echo "token $first restored; kept now: $second"
    ;;
toggle)
    out=$work/out1
    mkdir -p "$out"
    env XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 "$velmora" "path=$out/" >"$work/run1.out" 2>&1 &
    pid=$!
    # The first --toggle that reaches the copy starts the recording.
    deadline=$((SECONDS + 30))
    until run --toggle 2>>"$work/toggle.err"; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run1.out")"
        ((SECONDS < deadline)) || fail "no running copy answered --toggle: $(tail -n 3 "$work/toggle.err")"
        sleep 0.3
    done
    wait_frames "$out/~tempvideo.avi" 10 30 || fail "no frames written after the first --toggle"
    run --toggle 2>>"$work/toggle.err" || fail "the second --toggle failed: $(tail -n 3 "$work/toggle.err")"
    deadline=$((SECONDS + 30))
    until cat "$work"/state/velmora/Logs/*.log 2>/dev/null | grep -q "Recorded with"; do
        ((SECONDS < deadline)) || fail "no merged recording after the second --toggle"
        sleep 0.2
    done
    file=$(ls "$out"/VideoRecord_*.avi) || fail "no recording in $out"
    [[ ! -e $out/~tempvideo.avi ]] || fail "the temporary video is still there"
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$file")
    ((frames >= 10)) || fail "only $frames frames, 10 were written before the second --toggle"
    echo "toggled twice: $frames frames in ${file##*/}"
    ;;
lost)
    out=$work/out1
    mkdir -p "$out"
    env XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 "$velmora" -vc time=30 "path=$out/" \
        >"$work/run1.out" 2>&1 &
    pid=$!
    node=""
    deadline=$((SECONDS + 30))
    until node=$(screen_node) && [[ -n $node ]]; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run1.out")"
        ((SECONDS < deadline)) || fail "no screen stream within 30 s"
        sleep 0.2
    done
    shared=$(now)
    wait_frames "$out/~tempvideo.avi" 10 30 || fail "no frames written from the stream"
    pw-cli destroy "$node" >/dev/null || fail "pw-cli could not destroy node $node"
    destroyed=$(awk -v a="$shared" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }')
    # Noticed and merged well before the recording's own 30 s.
    wait_logged "Recorded with" 15 || fail "no merged recording within 15 s of the stream's end"
    grep -q "screen sharing was stopped" "$work/log" || fail "the log does not say the sharing stopped"
    file=$(ls "$out"/VideoRecord_*.avi) || fail "no recording in $out"
    length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
    awk -v d="$length" -v e="$destroyed" 'BEGIN { exit !(d >= 0.5 && d <= e + 2) }' ||
        fail "the recording lasts $length s: it should end about $destroyed s in, where the stream ended"
    [[ -z $(screen_node) ]] || fail "a screen stream is still shared after the recording ended"
    # The next recording, in the same run, shares the screen anew.
    run --toggle 2>>"$work/toggle.err" || fail "the second recording did not start: $(tail -n 3 "$work/toggle.err")"
    wait_frames "$out/~tempvideo.avi" 10 30 || fail "no frames written in the second recording"
    run --toggle 2>>"$work/toggle.err" || fail "the second --toggle failed: $(tail -n 3 "$work/toggle.err")"
    wait_logged "Recorded with" 30 2 || fail "no second merged recording"
    second=$(ls -t "$out"/VideoRecord_*.avi | head -n1)
    [[ $second != "$file" ]] || fail "no second recording in $out"
    # The colour client's corner moves every 50 ms: a stale stream would
    # give one picture from the first frame to the last.
    frame_sum() {
        ffmpeg -v error "$@" -frames:v 1 -f rawvideo -pix_fmt rgb24 - | md5sum
    }
    [[ $(frame_sum -i "$second") != $(frame_sum -sseof -0.2 -i "$second") ]] ||
        fail "the second recording is a still picture"
    echo "stream $node destroyed: first recording ${length} s; second recording moving"
    ;;
idle)
    out=$work/out1
    mkdir -p "$out"
    env XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=wayland \
        VELMORA_SCREEN= ASAN_OPTIONS=detect_leaks=0 "$velmora" "path=$out/" >"$work/run1.out" 2>&1 &
    pid=$!
    # This copy answers commands once its window is up (and has logged).
    deadline=$((SECONDS + 30))
    until ls "$work"/state/velmora/Logs/*.log >/dev/null 2>&1 && run --stop 2>/dev/null; do
        kill -0 $pid 2>/dev/null || fail "the program ended: $(tail -n 5 "$work/run1.out")"
        ((SECONDS < deadline)) || fail "no running copy answered within 30 s"
        sleep 0.3
    done
    # Its start is over once it answers; nothing else tells that it opens
    # no session afterwards: a second is left for one to show.
    sleep 1
    [[ -z $(portal_sessions) && -z $(screen_node) ]] ||
        fail "the screen is shared before Record: $(portal_sessions) node $(screen_node)"
    run --toggle 2>>"$work/toggle.err" || fail "the recording did not start: $(tail -n 3 "$work/toggle.err")"
    [[ -n $(portal_sessions) && -n $(screen_node) ]] || fail "a recording runs without a portal session"
    wait_frames "$out/~tempvideo.avi" 5 30 || fail "no frames written"
    run --toggle 2>>"$work/toggle.err" || fail "the second --toggle failed: $(tail -n 3 "$work/toggle.err")"
    wait_logged "Recorded with" 30 || fail "no merged recording"
    deadline=$((SECONDS + 5))
    until [[ -z $(portal_sessions) && -z $(screen_node) ]]; do
        ((SECONDS < deadline)) ||
            fail "the screen is still shared 5 s after the recording: $(portal_sessions) node $(screen_node)"
        sleep 0.1
    done
    echo "no portal session while idle, one while recording"
    ;;
sound)
    # A null sink playing the tone; its monitor is the source recorded.
    pactl info | grep -q "PulseAudio (on PipeWire" || fail "no PipeWire PulseAudio server: $(pactl info 2>&1 | head -n 3)"
    module=$(pactl load-module module-null-sink sink_name=velmora_tone)
    sox -n -r 44100 -c 2 -b 16 -e signed -t raw - synth 60 sine 1000 |
        pacat -d velmora_tone --raw --rate=44100 --channels=2 --format=s16le &
    undo+=("pactl unload-module $module")
    deadline=$((SECONDS + 10))
    until input=$(pactl list short sources | awk '$2 == "velmora_tone.monitor" { print NR - 1 }') &&
        [[ -n $input ]]; do
        ((SECONDS < deadline)) || fail "the tone's source is not listed: $(pactl list short sources)"
        sleep 0.2
    done
    mkdir -p "$(dirname "$ini")"
    printf '[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=%s\n' "$input" >"$ini"
    record 1
    file=$(ls "$work"/out1/VideoRecord_*.avi | head -n1)
    [[ $(ffprobe -v error -select_streams a -show_entries stream=codec_type -of csv=p=0 "$file") == audio ]] ||
        fail "no sound stream in the recording: $(grep -i sound "$work/log" | tail -n 3)"
    # The tone, not silence: loud within a band around 1 kHz.
    level=$(ffmpeg -v info -i "$file" -map 0:a -af "bandpass=f=1000:width_type=h:w=200,volumedetect" \
        -f null - 2>&1 | awk '/mean_volume/ { print int($5) }')
    [[ -n $level ]] && ((level > -40)) || fail "no 1 kHz tone in the sound (mean volume ${level:-none} dB)"
    echo "recorded the tone at $level dB from input $input"
    ;;
window)
    # xdg-desktop-portal-wlr shares monitors only: the Window button is off,
    # the log says why, and a window mode kept in Setup.ini is refused at
    # Record without a dialog or a session.
    mkdir -p "$(dirname "$ini")" "$work/out1"
    printf '[SetupVideo]\nTypeCapture=2\n[SetupApp]\nSendStats=0\n' >"$ini"
    run -vc "path=$work/out1/" >"$work/run1.out" 2>&1 &
    pid=$!
    wait_logged "No window can be recorded: the desktop's ScreenCast portal offers no window source" 30 ||
        fail "the Window button's reason is not logged"
    wait_logged "Recording a window is not possible: the desktop's ScreenCast portal offers no window source" 30 ||
        fail "the window recording was not refused"
    [[ -z $(portal_sessions) && -z $(screen_node) ]] ||
        fail "a session was opened for a window: $(portal_sessions) node $(screen_node)"
    ! ls "$work"/out1/VideoRecord_* >/dev/null 2>&1 || fail "a recording was made"
    echo "no window source: the button is off with its reason, and Record asks nothing"
    ;;
*) fail "unknown mode $mode" ;;
esac
