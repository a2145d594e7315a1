# Sourced by the scripts in this folder: installs the Debian packages the
# build and the tests need (only those missing) and builds a configuration.
set -euo pipefail

QZ5_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QZ5_PACKAGES=(
  build-essential cmake ninja-build pkg-config python3
  clang libclang-rt-14-dev
  libpugixml-dev libusb-1.0-0-dev libglib2.0-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
)

qz5_install_packages() {
  local missing=() p
  for p in "${QZ5_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# qz5_build DIR [CMAKE ARGS...]: configure (once) and build into DIR.
qz5_build() {
  local dir=$1
  shift
  cmake -S "$QZ5_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}
