#!/usr/bin/env bash
# Opens a recording in headless Chromium through play.html and prints the
# page's JSON verdict alone on stdout:
#   play-in-browser.sh FILE [GRID]
# Exit status: 0 when the JSON was obtained (whatever it says), 2 when
# Chromium could not be run or gave no verdict (its log goes to stderr),
# 64 on bad usage. $CHROMIUM picks the browser (default: chromium).
set -euo pipefail

file=${1:-}
grid=${2:-4}
if [[ -z $file || ! -f $file || ! $grid =~ ^[0-9]+$ ]]; then
    echo "usage: $0 FILE [GRID]" >&2
    exit 64
fi
page="$(cd "$(dirname "$0")" && pwd)/play.html"
browser=${CHROMIUM:-chromium}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The page and the file sit side by side under fixed names, so the URL
# needs no escaping whatever the file is called. The extension is kept:
# Chromium derives a file:// resource's MIME type from it.
ext=${file##*/}
[[ $ext == *.* ]] && ext=.${ext##*.} || ext=
ln -s "$page" "$work/play.html"
ln -s "$(realpath "$file")" "$work/media$ext"

flags=(
    --headless
    --disable-gpu
    --mute-audio
    --no-first-run
    --no-default-browser-check
    --user-data-dir="$work/profile"
    # Every file:// page is its own origin; without this the canvas holding
    # the frame is tainted and getImageData throws.
    --allow-file-access-from-files
    --disable-background-networking
    --disable-component-update
    --disable-sync
    --disable-breakpad
    --host-resolver-rules="MAP * ~NOTFOUND"
    # Past the page's own 10 s timeout: stop a load that never completes
    # (a stuck demuxer holds the load event) and dump what is there.
    --timeout=15000
)
# Chromium refuses to start as root with its sandbox on.
((EUID == 0)) && flags+=(--no-sandbox)

# A private home too: NSS and GTK write under $HOME whatever the profile.
if ! HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
        timeout -k 5 40 "$browser" "${flags[@]}" --dump-dom \
        "file://$work/play.html?grid=$grid&src=media$ext" \
        >"$work/dom" 2>"$work/log"; then
    cat "$work/log" >&2
    echo "$0: $browser failed" >&2
    exit 2
fi

json=$(sed -n 's:.*<pre id="result">\(.*\)</pre>.*:\1:p' "$work/dom" |
       sed 's/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g')
if [[ -z $json ]]; then
    cat "$work/log" >&2
    echo "$0: the page gave no result" >&2
    exit 2
fi
printf '%s\n' "$json"
