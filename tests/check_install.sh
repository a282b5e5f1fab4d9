#!/usr/bin/env bash
# Checks what users install: the install tree (cmake --install) or the .deb
# package (cpack, unpacked with dpkg -x into a temporary root). The program
# runs from there, and its manual page renders with man without warnings.
#   check_install.sh tree CMAKE BUILD_DIR
#   check_install.sh deb CPACK BUILD_DIR
set -euo pipefail
mode=$1
tool=$2
build=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

case $mode in
tree)
  "$tool" --install "$build" --prefix "$root/usr" >/dev/null
  ;;
deb)
  "$tool" --config "$build/CPackConfig.cmake" -G DEB -B "$root/package" >/dev/null
  deb=$(ls "$root"/package/*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libstdc++6 libgcc-s1; do
    grep -q "$library" <<<"$depends" || { echo "the package does not depend on $library: $depends"; exit 1; }
  done
  contents=$(dpkg-deb -c "$deb")
  for program in meshwright meshwright-batch; do
    grep -q "./usr/bin/$program$" <<<"$contents" || { echo "no /usr/bin/$program in $deb"; exit 1; }
  done
  dpkg -x "$deb" "$root"
  copyright="$root/usr/share/doc/meshwright/copyright"
  [ -f "$copyright" ] || { echo "no $copyright in $deb"; exit 1; }
  head -n 1 "$copyright" | grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
    { echo "$copyright is not in Debian's machine-readable format"; exit 1; }
  grep -qx "License: MIT" "$copyright" && grep -q "^ Permission is hereby granted" "$copyright" ||
    { echo "$copyright names no MIT licence with its text"; exit 1; }
  ;;
*)
  echo "unknown mode $mode"; exit 2
  ;;
esac

# Each program with its manual page, and the words its page and its first
# line of output begin with (given these arguments).
check() {
  local name=$1 title=$2 first_line=$3 arguments=("${@:4}")
  local page="$root/usr/share/man/man1/$name.1.gz" program="$root/usr/bin/$name"
  [ -f "$page" ] || { echo "missing $page"; exit 1; }
  [ -x "$program" ] || { echo "missing $program"; exit 1; }
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "man reports on $name: $warnings"
    exit 1
  fi
  rendered=$(MANWIDTH=80 man -l "$page")
  grep -q "$title" <<<"$rendered" || { echo "the manual page renders as: $rendered"; exit 1; }
  output=$(cd "$root" && "$program" "${arguments[@]}")
  [ "$(head -n 1 <<<"$output")" = "$first_line" ] || { echo "$name printed: $output"; exit 1; }
}
check meshwright "meshwright - convert a Dravic level file" "Meshwright v0.1 built Mar 11 2007"
check meshwright-batch "convert a Dravic game's levels" "meshwright-batch 0.1" --version
echo "$mode: the programs run and their manual pages render"
