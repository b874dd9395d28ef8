#!/usr/bin/env bash
# Checks of scripts/packages.sh: what a user without root or sudo is told,
# and that a build folder configured by hand keeps its generator.
# Usage: packages_test.sh SOURCE_ROOT
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() {  # NAME EXPECTED ACTUAL
  if [[ $2 == "$3" ]]; then
    echo "ok   $1"
  else
    printf 'FAIL %s\n  expected: %s\n  got:      %s\n' "$1" "$2" "$3"
    failed=1
  fi
}

# A user who is neither root nor has sudo (a PATH without it) is given the
# exact apt-get line for what is missing, and the script stops.
mkdir "$work/bin"
for tool in dpkg-query grep basename; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
as_user() {
  PATH="$work/bin" "$BASH" -c "source '$root/scripts/packages.sh'; id() { echo 1000; }; $1; echo returned" 2>&1
}
check "missing, no sudo" "Missing Debian packages: tavo-no-such-package
Install them as root, then run bash again:
  apt-get install tavo-no-such-package" "$(as_user "ensure_packages bash tavo-no-such-package")"
check "nothing missing" "returned" "$(as_user "ensure_packages bash")"

# A folder made by a plain `cmake -S . -B build` (Unix Makefiles) is
# configured again with its own generator, and needs make.
mkdir "$work/project"
cd "$work/project" || exit 1
printf 'cmake_minimum_required(VERSION 3.20)\nproject(p NONE)\n' >CMakeLists.txt
cmake -S . -B build -G "Unix Makefiles" >/dev/null
source "$root/scripts/packages.sh"
cmake_configure build -DCMAKE_BUILD_TYPE=Release 2>&1
check "reconfigure keeps the generator" "CMAKE_GENERATOR:INTERNAL=Unix Makefiles" \
  "$(grep '^CMAKE_GENERATOR:INTERNAL' build/CMakeCache.txt)"
check "its build tool" "make" "$(build_tool build)"
check "a new folder's build tool" "ninja-build" "$(build_tool new-build)"
exit "$failed"
