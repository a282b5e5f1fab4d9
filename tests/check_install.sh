#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the installed program and
# its manual page: the page renders with man without warnings, and the
# program runs from the install tree.
#   check_install.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
page="$prefix/share/man/man1/meshwright.1"
program="$prefix/bin/meshwright"
[ -f "$page" ] || { echo "missing $page"; exit 1; }
[ -x "$program" ] || { echo "missing $program"; exit 1; }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "man reports: $warnings"
  exit 1
fi
MANWIDTH=80 man -l "$page" | grep -q "meshwright - convert a Dravic level file"

banner=$(cd "$prefix" && "$program")
[ "$(head -n 1 <<<"$banner")" = "Meshwright v0.1 built Mar 11 2007" ] || { echo "unexpected banner: $banner"; exit 1; }
echo "install tree holds bin/meshwright and share/man/man1/meshwright.1"
