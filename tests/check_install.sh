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
  grep -q "./usr/bin/meshwright$" <<<"$contents" || { echo "no /usr/bin/meshwright in $deb"; exit 1; }
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

page="$root/usr/share/man/man1/meshwright.1.gz"
program="$root/usr/bin/meshwright"
[ -f "$page" ] || { echo "missing $page"; exit 1; }
[ -x "$program" ] || { echo "missing $program"; exit 1; }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "man reports: $warnings"
  exit 1
fi
rendered=$(MANWIDTH=80 man -l "$page")
grep -q "meshwright - convert a Dravic level file" <<<"$rendered" || { echo "the manual page renders as: $rendered"; exit 1; }

banner=$(cd "$root" && "$program")
[ "$(head -n 1 <<<"$banner")" = "Meshwright v0.1 built Mar 11 2007" ] || { echo "unexpected banner: $banner"; exit 1; }
echo "$mode: the program runs and its manual page renders"
