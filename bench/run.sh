#!/usr/bin/env bash
# Converts the benchmark level several times and copies the OBJ it produces
# with cp as often, in the same run, then prints the median times, their
# ratio, the output throughput and the converter's peak memory.
# Each run replaces the previous run's output, as repeated conversions do;
# with FRESH=1 the outputs are removed before each run instead.
# Needs hyperfine and GNU time (Debian packages hyperfine and time).
#   [RUNS=7] [FRESH=1] bench/run.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
work=${2:-${TMPDIR:-/tmp}/meshwright-bench}
runs=${RUNS:-7}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMESHWRIGHT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target meshwright make_big_level >/dev/null
mkdir -p "$work"
cd "$work"
[ -f big.bsp ] || "$build/bench/make_big_level" big.bsp
"$build/meshwright" big.bsp big.obj >/dev/null

prepare=(--prepare true --prepare true)
[ "${FRESH:-0}" = 1 ] && prepare=(--prepare "rm -f out.obj out.mtl" --prepare "rm -f copy.obj")
hyperfine --style basic --warmup 1 --runs "$runs" --export-csv times.csv "${prepare[@]}" \
  -n convert "$build/meshwright big.bsp out.obj" \
  -n cp "cp big.obj copy.obj" >/dev/null
convert_median=$(awk -F, '$1 == "convert" { print $4 }' times.csv)
cp_median=$(awk -F, '$1 == "cp" { print $4 }' times.csv)
input_bytes=$(stat -c %s big.bsp)
output_bytes=$(stat -c %s big.obj)
peak_kib=$(/usr/bin/time -v "$build/meshwright" big.bsp out.obj 2>&1 >/dev/null |
  awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')

awk -v c="$convert_median" -v p="$cp_median" -v in_bytes="$input_bytes" -v out_bytes="$output_bytes" \
    -v peak="$peak_kib" 'BEGIN {
  mib = 1048576
  limit = 1.25 * in_bytes + 16 * mib
  printf "input            %.1f MB\n", in_bytes / 1e6
  printf "output           %.1f MB\n", out_bytes / 1e6
  printf "convert median   %.3f s\n", c
  printf "cp median        %.3f s\n", p
  printf "ratio            %.2f (target at most 3)\n", c / p
  printf "throughput       %.0f MB/s of OBJ\n", out_bytes / 1e6 / c
  printf "peak memory      %.1f MiB (target at most %.1f MiB)\n", peak * 1024 / mib, limit / mib
  printf "verdict          %s\n", (c / p <= 3 && peak * 1024 <= limit) ? "both targets met" : "target missed"
}'
