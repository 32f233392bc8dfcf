#!/usr/bin/env bash
# Builds the Debian package from a Release tree (build-deb/), installs it
# with apt-get as a package is installed, checks that the installed program
# runs as an ordinary user, and removes the package again (--keep leaves it
# installed). Not part of the CTest run: it changes the machine's packages.
# Run as root on Debian 12: tests/package/deb-install.sh [--keep]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
keep=${1:-}
((EUID == 0)) || { echo "run as root: it installs a package" >&2; exit 1; }

build=build-deb
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$build"
rm -f "$build"/velmora_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/velmora_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
echo "== contents"
dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$'

if dpkg-query -W -f='${Status}' velmora 2>/dev/null | grep -q "install ok installed"; then
    echo "velmora is installed already; remove it first" >&2
    exit 1
fi
cleanup() {
    [[ $keep == --keep ]] && return
    echo "== removing the package"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q velmora >/dev/null
}
trap cleanup EXIT
echo "== apt-get install ./$(basename "$deb")"
(cd "$build" && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$(basename "$deb")" |
    grep -E "^(Setting up|The following|  )" || true)

# As an ordinary user with a home of its own, the way a desktop user runs it.
home=$(mktemp -d)
chown nobody "$home"
as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env -i HOME="$home" PATH=/usr/bin:/bin)
echo "== velmora --version (as nobody)"
"${as_user[@]}" velmora --version
echo "== velmora --help (as nobody), first line"
"${as_user[@]}" velmora --help | head -n1

# A short recording on a private display, closed through the window manager.
state=$(mktemp -d)
tests/env/testenv.sh start demo "$state" >/dev/null
trap 'tests/env/testenv.sh stop demo "$state"; rm -rf "$home" "$state"; cleanup' EXIT
display=$(sed -n 's/^DISPLAY=//p' "$state/demo.env")
mkdir -p "$home/Videos" && chown nobody "$home/Videos"
"${as_user[@]}" DISPLAY="$display" velmora -vc time=2 &
pid=$!
log="$home/.local/state/velmora/Logs/Log_$(date +%Y-%m-%d).log"
for _ in $(seq 300); do
    grep -q " - Video file saved" "$log" 2>/dev/null && break
    sleep 0.1
done
DISPLAY=$display wmctrl -c "Velmora 1.0.4" || true
status=0
wait "$pid" || status=$?
echo "== after a 2 s recording as nobody (exit status $status)"
(cd "$home" && find . -type f | sort)
echo "== log"
cat "$log"
ffprobe -v error -show_entries stream=codec_tag_string,width,height:format=duration \
    -of default=nw=1 "$home"/Videos/VideoRecord_*.avi
exit "$status"
