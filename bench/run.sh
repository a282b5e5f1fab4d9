#!/usr/bin/env bash
# Measures the converter on levels of every shape and prints, for each: the
# median conversion time; the median time to write the same number of bytes
# from memory into a replaced file, both in place (dd onto the old file) and
# as the converter replaces files (dd into a new file, then mv over the old
# one); their ratios; the peak memory against its limit of 1.25 x input +
# 16 MiB; the median times on one and two processors (taskset); and the
# throughput of reading and formatting alone, per processor: the OBJ's
# megabytes per second of a conversion into a null device on one processor;
# the median time and peak memory of a conversion to binary glTF; and how
# many MiB of the machine's file data are still only in memory (Dirty in
# /proc/meminfo) right after a conversion that replaces the OBJ, from a
# synced start, and of the OBJ itself (its pages dirty and not under
# writeback, from /proc/kpageflags as root; "-" elsewhere): what a power cut
# at that moment could lose.
# Conversions and copies alternate, run by run, so that both see the same
# machine.
# Needs GNU time for the peak memory (Debian package time) and taskset.
# Engines (ENGINES=on): the binary glTF of the random benchmark and of a
# realistic level (rooms and corridors, 65,536 vertices) as Debian's Godot 3
# (godot3-server) imports it headless and as Debian's gltfpack -cc reads it:
# the seconds and peak MiB of each, against the goals (Godot: 60 s and
# 1 GiB; gltfpack: 1 GiB); the .glb's size, seconds and vertices, those
# against the level's (at most 65,536; goal for the realistic level: 1.1),
# and the OBJ's seconds beside it. With
# BEFORE=PROGRAM, an earlier build's .glb size and seconds too.
# A whole game (GAME=on): meshwright-batch against a shell loop over
# meshwright, as bench/game.sh prints it.
# The OBJ's processor time (OBJ_CPU=on): user + system seconds of the
# benchmark level to its OBJ against those of the 06b6106 build (built from
# this repository's history beside the work, or BASELINE=PROGRAM), whose
# goal is at most 0.75x; the wall time against dd + mv of the same bytes,
# whose goal is at most 1.15x (reported: it depends on the machine's
# state); and the MiB of the OBJ still dirty right after the run. Runs
# alternate: ours and the baseline's; then ours and dd + mv.
#   [RUNS=9] [SHAPES="benchmark sample ..."] [TEXTURES=on|off] [LARGE_TEXTURES=off|on] [ENGINES=on|off] [GAME=on|off] [BEFORE=PROGRAM]
#   [OBJ_CPU=on|off] [BASELINE=PROGRAM]
#   bench/run.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
work=${2:-${TMPDIR:-/tmp}/meshwright-bench}
runs=${RUNS:-9}
shapes=${SHAPES:-benchmark one_triangle_surfaces one_big_surface degenerate sample}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWRIGHT_TESTS=OFF -DMESHWRIGHT_TOOLS=ON >/dev/null
cmake --build "$build" -j2 --target meshwright meshwright-batch make_big_level dirty_pages >/dev/null
mkdir -p "$work"
cd "$work"
# A null device of its own, for the throughput without writing.
[ -c null ] || mknod null c 1 3 2>/dev/null || echo "no null device here (mknod needs root): MB/s/cpu is left out"

# Seconds of wall time of one command.
seconds() {
  local TIMEFORMAT=%R
  { time "$@" >/dev/null 2>&1; } 2>&1
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The build whose OBJ processor time this one's is measured against.
baseline_commit=06b6106
baseline_build() {
  local dir=$work/baseline-$baseline_commit
  if [ ! -x "$dir/build/meshwright" ]; then
    git -C "$root" cat-file -e "$baseline_commit^{commit}" 2>/dev/null || return 1
    rm -rf "$dir" && mkdir -p "$dir/source"
    git -C "$root" archive "$baseline_commit" | tar -x -C "$dir/source"
    cmake -S "$dir/source" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DMESHWRIGHT_TESTS=OFF >/dev/null
    cmake --build "$dir/build" -j2 --target meshwright >/dev/null
  fi
  echo "$dir/build/meshwright"
}

# User + system seconds of one command.
cpu_seconds() {
  /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ print $1 + $2 }'
}

if [ "${OBJ_CPU:-on}" = on ]; then
  baseline=${BASELINE:-$(baseline_build || true)}
  [ -f benchmark.bsp ] || "$build/bench/make_big_level" benchmark benchmark.bsp
  "$build/meshwright" benchmark.bsp out.obj >/dev/null
  blocks=$(( ($(stat -c %s out.obj) + 262143) / 262144 ))
  : > cpu.txt; : > base.txt; : > wall.txt; : > ddmv.txt
  # The two builds alternate on their own: a run after dd + mv shares the
  # machine with the writeback of dd's bytes, which both builds leave none of.
  for _ in $(seq "$runs"); do
    cpu_seconds "$build/meshwright" benchmark.bsp out.obj >> cpu.txt
    if [ -n "$baseline" ]; then cpu_seconds "$baseline" benchmark.bsp out.obj >> base.txt; fi
  done
  for _ in $(seq "$runs"); do
    seconds "$build/meshwright" benchmark.bsp out.obj >> wall.txt
    seconds sh -c "dd if=/dev/zero of=new.obj bs=256K count=$blocks 2>/dev/null && mv new.obj copy.obj" >> ddmv.txt
  done
  sync
  "$build/meshwright" benchmark.bsp out.obj >/dev/null
  file_dirty=$("$build/bench/dirty_pages" out.obj)
  printf '%-22s %8s %12s %7s %7s %8s %8s %8s %7s %9s\n' "OBJ processor time" "cpu s" "$baseline_commit s" ratio goal \
    "wall s" "dd+mv s" "/dd+mv" goal "file MiB"
  awk -v c="$(median < cpu.txt)" -v b="$( [ -s base.txt ] && median < base.txt || echo 0)" -v w="$(median < wall.txt)" \
      -v m="$(median < ddmv.txt)" -v fd="$file_dirty" 'BEGIN {
    printf "%-22s %8.3f %12s %7s %7.2f %8.3f %8.3f %8s %7.2f %9s\n\n", "benchmark", c, (b > 0 ? sprintf("%.3f", b) : "-"),
           (b > 0 ? sprintf("%.2f", c / b) : "-"), 0.75, w, m, (m > 0 ? sprintf("%.2f", w / m) : "-"), 1.15, fd
  }'
  rm -f cpu.txt base.txt wall.txt ddmv.txt copy.obj new.obj
fi

printf '%-22s %8s %8s %8s %8s %7s %7s %9s %9s %9s %9s %9s %8s %8s %9s %9s\n' shape "OBJ MB" convert "dd" "dd+mv" "/dd" \
  "/dd+mv" "peak MiB" "limit" "1 cpu" "2 cpus" "MB/s/cpu" "GLB MB" "glb" "glb MiB" "dirty MiB" "file MiB"
for shape in $shapes; do
  level=$shape.bsp
  if [ "$shape" = sample ]; then
    cp "$root/examples/sample.bsp" "$level"
  elif [ ! -f "$level" ]; then
    "$build/bench/make_big_level" "$shape" "$level"
  fi
  "$build/meshwright" "$level" out.obj >/dev/null
  bytes=$(stat -c %s out.obj)
  blocks=$(( (bytes + 262143) / 262144 ))
  cp out.obj copy.obj
  "$build/meshwright" "$level" out.glb >/dev/null
  glb_bytes=$(stat -c %s out.glb)
  : > convert.txt; : > dd.txt; : > ddmv.txt; : > one.txt; : > two.txt; : > null.txt; : > glb.txt
  for _ in $(seq "$runs"); do
    seconds "$build/meshwright" "$level" out.obj >> convert.txt
    seconds dd if=/dev/zero of=copy.obj bs=256K count="$blocks" >> dd.txt
    seconds sh -c "dd if=/dev/zero of=new.obj bs=256K count=$blocks 2>/dev/null && mv new.obj copy.obj" >> ddmv.txt
    seconds taskset -c 0 "$build/meshwright" "$level" out.obj >> one.txt
    seconds taskset -c 0,1 "$build/meshwright" "$level" out.obj >> two.txt
    if [ -c null ]; then seconds taskset -c 0 "$build/meshwright" "$level" null >> null.txt; fi
    seconds "$build/meshwright" "$level" out.glb >> glb.txt
  done
  convert=$(median < convert.txt)
  dd=$(median < dd.txt)
  ddmv=$(median < ddmv.txt)
  one=$(median < one.txt)
  two=$(median < two.txt)
  null=$(if [ -s null.txt ]; then median < null.txt; else echo 0; fi)
  peak_kib=$(/usr/bin/time -f %M "$build/meshwright" "$level" out.obj 2>&1 >/dev/null | tail -n 1)
  glb=$(median < glb.txt)
  glb_peak_kib=$(/usr/bin/time -f %M "$build/meshwright" "$level" out.glb 2>&1 >/dev/null | tail -n 1)
  sync
  "$build/meshwright" "$level" out.obj >/dev/null
  dirty_kib=$(awk '/^Dirty:/ { print $2 }' /proc/meminfo)
  file_dirty=$("$build/bench/dirty_pages" out.obj)
  input=$(stat -c %s "$level")
  awk -v s="$shape" -v b="$bytes" -v c="$convert" -v d="$dd" -v m="$ddmv" -v p="$peak_kib" -v i="$input" \
      -v o="$one" -v t="$two" -v n="$null" -v gb="$glb_bytes" -v g="$glb" -v gp="$glb_peak_kib" -v dk="$dirty_kib" -v fd="$file_dirty" 'BEGIN {
    mib = 1048576
    limit = 1.25 * i + 16 * mib
    ratio_dd = d > 0 ? sprintf("%.2f", c / d) : "-"
    ratio_mv = m > 0 ? sprintf("%.2f", c / m) : "-"
    printf "%-22s %8.1f %8.3f %8.3f %8.3f %7s %7s %9.1f %9.1f %9.3f %9.3f %9.0f %8.1f %8.3f %9.1f %9.1f %9s\n", s, b / 1e6,
           c, d, m, ratio_dd, ratio_mv, p * 1024 / mib, limit / mib, o, t, (n > 0 ? b / 1e6 / n : 0), gb / 1e6, g,
           gp * 1024 / mib, dk / 1024, fd
  }'
done
# Textures: the textured level (64 bitmaps of 256 x 256, 24 bits, beside it)
# to .glb with its bitmaps and without them, runs alternating; the goal is at
# most 0.35 s more, and peak memory within the bound plus two images
# (decoded, 4 bytes a pixel) per processor.
if [ "${TEXTURES:-on}" = on ]; then
  # A folder of its own, so that no other level finds these bitmaps.
  mkdir -p textured
  [ -f textured/textured.bsp ] || "$build/bench/make_big_level" textured textured/textured.bsp
  : > plain.txt; : > textured.txt
  for _ in $(seq "$runs"); do
    mv textured/textures textured/no-textures
    seconds "$build/meshwright" textured/textured.bsp textured/out.glb >> plain.txt
    mv textured/no-textures textured/textures
    seconds "$build/meshwright" textured/textured.bsp textured/out.glb >> textured.txt
  done
  mv textured/textures textured/no-textures
  plain_peak=$(/usr/bin/time -f %M "$build/meshwright" textured/textured.bsp textured/out.glb 2>&1 >/dev/null | tail -n 1)
  plain_bytes=$(stat -c %s textured/out.glb)
  mv textured/no-textures textured/textures
  textured_peak=$(/usr/bin/time -f %M "$build/meshwright" textured/textured.bsp textured/out.glb 2>&1 >/dev/null | tail -n 1)
  textured_bytes=$(stat -c %s textured/out.glb)
  printf '\n%-22s %9s %9s %9s %9s %9s %9s %9s %9s\n' textures "plain s" "textured" "+s" "plain MB" "GLB MB" \
    "plain MiB" "peak MiB" "limit"
  awk -v p="$(median < plain.txt)" -v t="$(median < textured.txt)" -v pp="$plain_peak" -v tp="$textured_peak" \
      -v pb="$plain_bytes" -v tb="$textured_bytes" -v i="$(stat -c %s textured/textured.bsp)" -v cpus="$(nproc)" 'BEGIN {
    mib = 1048576
    limit = 1.25 * i + 16 * mib + 2 * cpus * 256 * 256 * 4
    printf "%-22s %9.3f %9.3f %9.3f %9.1f %9.1f %9.1f %9.1f %9.1f\n", "64 x 256x256 bitmaps", p, t, t - p, pb / 1e6,
           tb / 1e6, pp * 1024 / mib, tp * 1024 / mib, limit / mib
  }'
  rm -f textured/out.glb
fi
# Missing textures: 1000 names not found beside 20,000 other files, each
# folder listed once for the case fallback; the .glb run against the OBJ run
# of the same level, runs alternating; the goal is at most 0.1 s more.
mkdir -p missing/textures
[ -f missing/missing.bsp ] || "$build/bench/make_big_level" missing_textures missing/missing.bsp
[ -f missing/textures/other_19999.bmp ] || (cd missing/textures && seq 0 19999 | sed 's/.*/other_&.bmp/' | xargs touch)
: > obj.txt; : > glb.txt
for _ in $(seq "$runs"); do
  seconds "$build/meshwright" missing/missing.bsp missing/out.obj >> obj.txt
  seconds "$build/meshwright" missing/missing.bsp missing/out.glb >> glb.txt
done
printf '\n%-32s %9s %9s %9s %9s\n' "missing textures" "obj s" "glb s" "+s" "goal"
awk -v o="$(median < obj.txt)" -v g="$(median < glb.txt)" 'BEGIN {
  printf "%-32s %9.3f %9.3f %9.3f %9.3f\n", "1000 names beside 20,000 files", o, g, g - o, 0.1
}'
rm -f missing/out.obj missing/out.mtl missing/out.glb
# Large textures (LARGE_TEXTURES=on: about 2 GB of disk): 300 bitmaps of
# 1024 x 1024 24-bit noise; the peak memory of a .glb and a .gltf run, whose
# goal is 200 MiB whatever the textures, and their times.
if [ "${LARGE_TEXTURES:-off}" = on ]; then
  mkdir -p large
  [ -f large/large.bsp ] || "$build/bench/make_big_level" large_textures large/large.bsp
  printf '\n%-32s %9s %9s %9s %9s\n' "300 x 1024x1024 textures" "s" "peak MiB" "goal" "MB"
  for form in glb gltf; do
    : > large.txt
    for _ in $(seq 3); do seconds "$build/meshwright" large/large.bsp large/out.$form >> large.txt; done
    peak=$(/usr/bin/time -f %M "$build/meshwright" large/large.bsp large/out.$form 2>&1 >/dev/null | tail -n 1)
    awk -v f="$form" -v t="$(median < large.txt)" -v p="$peak" -v b="$(stat -c %s large/out.$form)" 'BEGIN {
      printf "%-32s %9.2f %9.1f %9.1f %9.1f\n", "to ." f, t, p / 1024, 200, b / 1e6
    }'
    rm -f large/out.$form
  done
fi
# 16 bitmaps of 4096 x 4096 pixels, as on this machine and as the program
# sees 16 processors (a preloaded get_nprocs): the peak's goal is 0.6 GiB
# whatever the processor count, the time on this machine no worse than
# before.
if [ "${HUGE_TEXTURES:-on}" = on ] && [ -f "$build/bench/libsixteen_processors.so" ]; then
  mkdir -p huge
  [ -f huge/huge.bsp ] || "$build/bench/make_big_level" huge_textures huge/huge.bsp
  printf '\n%-32s %9s %9s %9s\n' "16 x 4096x4096 textures" "s" "peak MiB" "goal MiB"
  for processors in here 16; do
    preload=
    [ "$processors" = 16 ] && preload="$build/bench/libsixteen_processors.so"
    : > huge.txt
    for _ in $(seq 3); do
      LD_PRELOAD=$preload /usr/bin/time -f '%e %M' "$build/meshwright" huge/huge.bsp huge/out.glb 2>&1 >/dev/null |
        tail -n 1 >> huge.txt
    done
    # The median time, and the highest peak.
    awk '{ print $2 }' huge.txt | sort -n | tail -n 1 > huge_peak.txt
    awk '{ print $1 }' huge.txt | sort -n | awk -v p="$processors" -v m="$(cat huge_peak.txt)" 'NR == 2 {
      printf "%-32s %9.2f %9.1f %9.1f\n", p " processors", $1, m / 1024, 614
    }'
    rm -f huge/out.glb
  done
fi
if [ "${ENGINES:-on}" = on ]; then
  printf '\n%-12s %8s %8s %8s %9s %9s %8s %8s %8s %8s %8s %8s\n' engines "GLB MB" "glb s" "obj s" vertices "x level" \
    "before MB" "before s" "godot s" "godot MiB" "pack s" "pack MiB"
  for shape in benchmark realistic; do
    level=$shape.bsp
    [ -f "$level" ] || "$build/bench/make_big_level" "$shape" "$level"
    : > glb.txt; : > obj.txt; : > before.txt
    for _ in $(seq "$runs"); do
      seconds "$build/meshwright" "$level" out.glb >> glb.txt
      seconds "$build/meshwright" "$level" out.obj >> obj.txt
      if [ -n "${BEFORE:-}" ]; then seconds "$BEFORE" "$level" before.glb >> before.txt; fi
    done
    vertices=$(python3 "$root/bench/glb_vertices.py" out.glb)
    # 16-bit corners reach 65,536 of the level's vertices at most.
    level_vertices=$(od -An -tu4 -j20 -N4 "$level" | awk '{ print ($1 < 65536 ? $1 : 65536) }')
    before_mb=-; before_s=-
    if [ -n "${BEFORE:-}" ]; then
      before_mb=$(awk -v b="$(stat -c %s before.glb)" 'BEGIN { printf "%.1f", b / 1e6 }'); before_s=$(median < before.txt)
    fi
    godot=(- -)
    if command -v godot3-server >/dev/null; then
      rm -rf godot && mkdir -p godot/project && cp out.glb godot/project/level.glb
      printf 'config_version=4\n' > godot/project/project.godot
      read -r -a godot < <(bash "$root/tests/godot/import.sh" godot3-server godot/project level.glb 600 || echo "failed -")
    fi
    pack=(- -)
    if command -v gltfpack >/dev/null; then
      read -r -a pack < <(/usr/bin/time -f '%e %M' gltfpack -cc -i out.glb -o packed.glb 2>&1 >/dev/null | tail -n 1)
      pack[1]=$(( ${pack[1]:-0} / 1024 ))
    fi
    awk -v s="$shape" -v b="$(stat -c %s out.glb)" -v g="$(median < glb.txt)" -v o="$(median < obj.txt)" -v v="$vertices" \
        -v lv="$level_vertices" -v bm="$before_mb" -v bs="$before_s" -v gs="${godot[0]}" -v gm="${godot[1]}" -v ps="${pack[0]}" \
        -v pm="${pack[1]}" 'BEGIN {
      printf "%-12s %8.1f %8.3f %8.3f %9d %9.2f %8s %8s %8s %8s %8s %8s\n", s, b / 1e6, g, o, v, v / lv, bm, bs, gs, gm, ps, pm
    }'
  done
  rm -rf godot packed.glb before.glb
fi
rm -f copy.obj new.obj out.obj out.mtl out.glb ./*.txt

# A whole game with meshwright-batch (GAME=off leaves it out).
if [ "${GAME:-on}" = on ]; then
  echo
  bash "$root/bench/game.sh" "$build" "$work"
fi
