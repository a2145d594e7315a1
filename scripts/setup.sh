# Sourced by the scripts in this folder: installs the Debian packages the
# build and the tests need (only those missing) and builds a configuration.
# Each step prints one line; its full output goes to a log under build/logs/,
# whose end is shown when the step fails.
set -euo pipefail

QZ5_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QZ5_LOGS=$QZ5_ROOT/build/logs

QZ5_PACKAGES=(
  build-essential cmake ninja-build pkg-config python3
  clang libclang-rt-14-dev
  libpugixml-dev libusb-1.0-0-dev libglib2.0-dev libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
  dbus python3-dbusmock python3-gi libglib2.0-bin
  libgtk-3-dev xvfb xdotool x11-utils x11-xserver-utils xterm imagemagick xcompmgr
  libgtk-layer-shell-dev libwayland-dev sway grim gir1.2-gtk-3.0 mutter xwayland
  systemd udev man-db shared-mime-info util-linux bash-completion
  libgtkmm-4.0-dev libadwaita-1-dev python3-dogtail at-spi2-core appstream desktop-file-utils
)

# qz5_step LOG TEXT COMMAND...: prints "TEXT ...", runs COMMAND with its output
# in build/logs/LOG. On failure prints the end of the log (for a build, the
# compiler's errors from the first failed step on) and its path, and exits 1.
qz5_step() {
  local log=$QZ5_LOGS/$1 text=$2
  shift 2
  mkdir -p "$QZ5_LOGS"
  echo "$text ..."
  "$@" >"$log" 2>&1 && return 0
  echo "failed: $text; its log ends:" >&2
  if grep -q '^FAILED: ' "$log"; then
    sed -n '/^FAILED: /,$p' "$log" | head -n 200 >&2
  else
    tail -n 30 "$log" >&2
  fi
  echo "full log: $log" >&2
  exit 1
}

qz5_apt() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update &&
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"
}

qz5_install_packages() {
  local missing=() p
  for p in "${QZ5_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  qz5_step apt.log "installing ${#missing[@]} Debian packages" qz5_apt "${missing[@]}"
}

# qz5_build DIR [CMAKE ARGS...]: configure and build into DIR.
qz5_build() {
  local dir=$1 name log
  shift
  name=${dir#"$QZ5_ROOT"/}
  log=${name#build/}
  log=${log//\//-}.log
  qz5_step "configure-$log" "configuring $name" cmake -S "$QZ5_ROOT" -B "$dir" -G Ninja "$@"
  qz5_step "build-$log" "building $name" cmake --build "$dir"
}
