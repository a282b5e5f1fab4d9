#!/usr/bin/env bash
# Converts a whole game folder (make_big_level game: 50 levels of 3,200
# triangles, each naming 64 of 300 textures, whose 256 x 256 bitmaps sit in
# textures/ in mixed case, some in subfolders) to binary glTF two ways:
# meshwright-batch in one command, and a shell loop over meshwright with the
# bitmaps copied beside the outputs first (untimed). Prints the medians of
# alternating runs and their ratio (goal: at most 0.5), meshwright-batch's
# peak memory (goal: 300 MiB), whether both ways wrote the same bytes, and
# whether every map_Kd of every material file of the -f obj run opens.
#   [RUNS=5] bench/game.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
work=${2:-${TMPDIR:-/tmp}/meshwright-bench}/game
runs=${RUNS:-5}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWRIGHT_TESTS=OFF -DMESHWRIGHT_TOOLS=ON >/dev/null
cmake --build "$build" -j2 --target meshwright meshwright-batch make_big_level >/dev/null
mkdir -p "$work"
cd "$work"
[ -d game ] || "$build/bench/make_big_level" game game

# The loop's outputs, each folder with every bitmap where meshwright looks:
# the output's folder, by name but for case.
levels=$(cd game && find maps -name '*.bsp' | sort)
rm -rf loop batch obj
for folder in $(dirname $levels | sort -u); do
  mkdir -p "loop/$folder"
  cp -r game/textures/. "loop/$folder/"
  mv "loop/$folder"/sub/* "loop/$folder/" && rmdir "loop/$folder/sub"
done
loop() {
  for level in $levels; do
    "$build/meshwright" "game/$level" "loop/${level%.bsp}.glb" >/dev/null
  done
}

seconds() {
  local TIMEFORMAT=%R
  { time "$@" >/dev/null 2>&1; } 2>&1
}
median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

: > batch.txt; : > loop.txt
for _ in $(seq "$runs"); do
  seconds "$build/meshwright-batch" -o batch game >> batch.txt
  seconds loop >> loop.txt
done
batch_s=$(median < batch.txt)
loop_s=$(median < loop.txt)
peak=$( { /usr/bin/time -f %M "$build/meshwright-batch" -o batch game >/dev/null; } 2>&1 | tail -n 1)
same=yes
for level in $levels; do
  cmp -s "batch/${level%.bsp}.glb" "loop/${level%.bsp}.glb" || same=no
done
"$build/meshwright-batch" -o obj -f obj game >/dev/null
references=0; missing=0
while IFS= read -r mtl; do
  while IFS= read -r bitmap; do
    references=$((references + 1))
    [ -f "$(dirname "$mtl")/$bitmap" ] || missing=$((missing + 1))
  done < <(sed -n 's/^map_Kd //p' "$mtl")
done < <(find obj -name '*.mtl')

printf '%-28s %9s %9s %7s %6s %9s %6s %5s %12s\n' "game (50 levels, 300 bitmaps)" "batch s" "loop s" ratio goal \
  "peak MiB" goal same "OBJ map_Kd"
printf '%-28s %9.2f %9.2f %7.2f %6s %9d %6s %5s %12s\n' "" "$batch_s" "$loop_s" \
  "$(awk -v a="$batch_s" -v b="$loop_s" 'BEGIN { print a / b }')" "0.5" "$((peak / 1024))" 300 "$same" \
  "$((references - missing)) of $references open"
