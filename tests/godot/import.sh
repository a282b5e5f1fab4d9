#!/usr/bin/env bash
# Has Godot 3's editor import the glTF files of a project headless, as an
# engine user's project would, and prints how long the import took and the
# most memory its processes held together. The editor imports what it
# finds and then waits for a person: it runs in a process group of its own,
# ended once the imported scene of GLB is complete (Godot writes its
# checksum file after it), or after LIMIT seconds (exit 1).
#   import.sh GODOT PROJECT GLB LIMIT
set -euo pipefail
godot=$1 project=$2 glb=$3 limit=$4
imported() { compgen -G "$project/.import/$glb-*.md5" > /dev/null; }
start=$(date +%s.%N)
setsid "$godot" --editor --path "$project" > "$project/../editor.log" 2>&1 &
editor=$!
trap 'kill -KILL -- -"$editor" 2>/dev/null || true' EXIT
peak=0
while ! imported; do
  rss=$( (ps -o rss= -g "$editor" || true) | awk '{ sum += $1 } END { print sum + 0 }')
  peak=$(( rss > peak ? rss : peak ))
  if awk -v s="$start" -v now="$(date +%s.%N)" -v l="$limit" 'BEGIN { exit !(now - s > l) }'; then break; fi
  sleep 0.25
done
seconds=$(awk -v s="$start" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - s }')
kill -TERM -- -"$editor" 2>/dev/null || true
wait "$editor" 2>/dev/null || true
if ! imported; then
  echo "Godot did not import $glb within $limit s (peak $(( peak / 1024 )) MiB):" >&2
  tail -n 20 "$project/../editor.log" >&2
  exit 1
fi
echo "$seconds $(( peak / 1024 ))"
