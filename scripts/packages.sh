# Sourced by the scripts.
#
# ensure_packages PKG... installs the Debian packages that are not installed
# yet: as root directly, otherwise through sudo. Without either it prints the
# apt-get line to run as root and ends the script.
ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "== not a Debian system: make sure these (Debian names) are installed: $*"
    return 0
  fi
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  local as_root=()
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "Missing Debian packages: ${missing[*]}" >&2
      echo "Install them as root, then run $(basename "$0") again:" >&2
      echo "  apt-get install ${missing[*]}" >&2
      exit 1
    fi
    as_root=(sudo)
  fi
  echo "== installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

# cmake_configure DIR ARGS... configures the source tree into the build
# folder DIR. A new folder gets Ninja; an existing one keeps the generator it
# was made with (a plain `cmake -S . -B build` makes Unix Makefiles, and CMake
# refuses to switch generators in a configured folder).
cmake_configure() {
  local dir=$1
  shift
  if [[ -f $dir/CMakeCache.txt ]]; then
    cmake -S . -B "$dir" "$@" >/dev/null
  else
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

# build_tool DIR: the Debian package of the build tool that the build folder
# DIR uses (ninja-build for a new folder).
build_tool() {
  if grep -qs '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$' "$1/CMakeCache.txt"; then
    echo make
  else
    echo ninja-build
  fi
}
