#!/usr/bin/env bash
# Converts the sample to binary glTF with its bitmaps, has Godot 3's editor
# import it headless, as an engine user's project would, and checks what
# Godot made with check_import.gd. Exits 77 (skipped) without Godot.
#   import_in_godot.sh CONVERTER EXAMPLES_FOLDER WORK_FOLDER
set -euo pipefail
converter=$1 examples=$2 work=$3
godot=$(command -v godot3-server || true)
if [ -z "$godot" ]; then
  echo "godot3-server is not installed (Debian package godot3-server): skipped"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work/bitmaps" "$work/project"
cp "$examples"/*.bmp "$work/bitmaps/"
"$converter" "$examples/sample.bsp" "$work/bitmaps/sample.glb" >/dev/null
mv "$work/bitmaps/sample.glb" "$work/project/"
printf 'config_version=4\n\n[application]\n\nconfig/name="meshwright import check"\n' > "$work/project/project.godot"
cp "$here/check_import.gd" "$work/project/"

bash "$here/import.sh" "$godot" "$work/project" sample.glb 60 > /dev/null
timeout 60 "$godot" --path "$work/project" -s check_import.gd --glb=sample.glb 2>&1 | grep -E 'passed|FAILED'
