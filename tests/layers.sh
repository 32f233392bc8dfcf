#!/usr/bin/env bash
# Includes point down the layers: shell -> overlays, net -> engine, audio ->
# common -> platform. Prints each include that points up or sideways.
set -euo pipefail
cd "$(dirname "$0")/.."
allowed() {  # allowed FOLDER: the folders FOLDER may include
    case $1 in
    shell) echo "shell overlays net engine audio common platform" ;;
    overlays) echo "overlays engine audio common platform" ;;
    net) echo "net engine audio common platform" ;;
    engine) echo "engine common platform" ;;
    audio) echo "audio common platform" ;;
    common) echo "common platform" ;;
    platform) echo "platform" ;;
    esac
}
status=0
for folder in shell overlays net engine audio common platform; do
    while IFS=: read -r file line target; do
        target=${target#*\"}
        target=${target%%/*}
        if [[ " $(allowed "$folder") " != *" $target "* ]]; then
            echo "$file:$line includes $target/, above or beside $folder/" >&2
            status=1
        fi
    done < <(grep -rnE '^#include "[a-z]+/' "$folder" --include='*.cpp' --include='*.h' || true)
done
exit "$status"
