#!/usr/bin/env bash
# Velmora's two commands:
#   ./velmora.sh        install what is missing, build (Release) and run the program
#   ./velmora.sh test   install what is missing, build (Debug with AddressSanitizer
#                       and UBSan) and run every test
#   ./velmora.sh test ARGS...  the same, with ctest's ARGS (-L e2e, -R NAME)
#   ./velmora.sh fuzz   build the libFuzzer targets (clang) and fuzz each from
#                       its seeds for about 20 s
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
# Paths under the tree reach ccache relative, so another clone of it hits the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}

# Debian 12 packages: build tools, libraries, the servers and readers the
# tests use (a real X server, a real sound server, ffprobe), the validators
# of the desktop entry and AppStream data, and what CPack's Debian package
# needs (dpkg-shlibdeps, file).
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev ccache pkg-config
    qt6-base-dev qt6-translations-l10n libgl-dev libpipewire-0.3-dev libspa-0.2-dev
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libyuv-dev
    libx11-dev libxext-dev libxfixes-dev libxrandr-dev libx11-xcb-dev libxcb1-dev libxcb-shm0-dev
    libasound2-dev libpulse-dev libasound2-plugins
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb openbox x11-utils x11-xserver-utils xdotool wmctrl imagemagick
    pulseaudio pulseaudio-utils alsa-utils ffmpeg sox
    # A second reader of the recordings, as many players use it.
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
    fonts-liberation
    desktop-file-utils appstream dpkg-dev file
    # The headless Wayland session of the wayland tests (tests/env/wayland.sh),
    # and what it needs to build its patched xdg-desktop-portal-wlr.
    sway swaybg pipewire pipewire-pulse wireplumber xdg-desktop-portal dbus acl grim wf-recorder
    qt6-wayland python3-dbus python3-gi
    meson libwayland-dev wayland-protocols libpipewire-0.3-dev libinih-dev libsystemd-dev
    libgbm-dev libdrm-dev
)
# Only the tests need these: the browser that plays the MP4 and Matroska
# recordings (label browser), and an XEmbed system tray for the tray icon.
test_packages=(chromium trayer)

install_missing() {  # install_missing PACKAGE...
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    ((EUID == 0)) || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

build() {  # build DIR TYPE [CMAKE ARGS...]
    local dir=$1 type=$2
    shift 2
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    cmake --build "$dir"
}

run_tests() {
    local dir=build-test
    build "$dir" Debug -DVELMORA_SANITIZE=ON -DVELMORA_WERROR=ON -DVELMORA_BENCH=OFF
    # The tests start and stop their own private Xvfb, PulseAudio and headless
    # Wayland servers (tests/env): no display or sound card is needed. Tests
    # that need servers run side by side, each on a set of its own
    # (test-slots.json); those that only wait take no processor.
    ctest --test-dir "$dir" --output-on-failure --resource-spec-file "$root/$dir/test-slots.json" \
        -j"$(($(nproc) + 2))" --timeout 300 "$@"
}

run_fuzz() {
    CC=clang CXX=clang++ cmake -S "$root" -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DVELMORA_FUZZ=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
    cmake --build build-fuzz --target fuzz
    ctest --test-dir build-fuzz --output-on-failure -L fuzz "$@"
}

run_program() {
    build build Release -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF
    if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
        exec build/velmora "$@"
    fi
    # No display: a private one with a window manager and a moving picture,
    # where Velmora records five seconds of it by itself.
    local state=build/demo-desktop out=build/demo
    mkdir -p "$out"
    tests/env/testenv.sh start demo "$state" >/dev/null
    trap "tests/env/testenv.sh stop demo '$state'" EXIT
    set -a && source "$state/demo.env" && set +a
    echo "No display: Velmora records 5 seconds of a private display ($DISPLAY)."
    local before
    before=$(ls "$out"/VideoRecord_*.avi 2>/dev/null || true)
    if (($#)); then
        build/velmora "$@" &
    else
        build/velmora -vc time=5 "path=$out/" &
    fi
    local pid=$!
    sleep 3
    import -window root "$out/screen.png"
    # The recording is done once the log says the file is saved.
    local file="" log
    log="build/Logs/Log_$(date +%Y-%m-%d).log"
    for _ in $(seq 300); do
        file=$(comm -13 <(echo "$before") <(ls "$out"/VideoRecord_*.avi 2>/dev/null || true) | tail -n1)
        [[ -n $file ]] && grep -q " - Recorded with\| - Error\|Avi error" "$log" 2>/dev/null && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    # Closed as a user would, through the window manager's close button.
    wmctrl -c "Velmora 1.0.4" || true
    local status=0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "Velmora did not close; stopping it." >&2
        kill "$pid"
    fi
    wait "$pid" || status=$?
    echo "Screenshot of the running program: $root/$out/screen.png"
    if [[ -n $file ]]; then
        echo "Recording: $root/$file"
        ffprobe -v error -show_entries format=duration,size:stream=index,codec_type,codec_name,codec_tag_string,width,height,r_frame_rate,nb_frames \
            -of default=nw=1 "$file" | sed 's/^/    /'
    else
        echo "No recording was written; see $root/$log" >&2
        status=1
    fi
    echo "Velmora exited with status $status."
    return "$status"
}

case ${1:-} in
test) shift && install_missing "${packages[@]}" "${test_packages[@]}" && run_tests "$@" ;;
fuzz) shift && install_missing "${packages[@]}" && run_fuzz "$@" ;;
"") install_missing "${packages[@]}" && run_program ;;
*) install_missing "${packages[@]}" && run_program "$@" ;;
esac
