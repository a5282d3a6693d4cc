#!/usr/bin/env bash
# Installs the Debian packages that building and testing Orvix need.
# Idempotent: does nothing (and never touches the network) when all are present.
# --bench adds the comparison-only libraries used by bench/ (OpenCV).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config make
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libqt6opengl6-dev qt6-charts-dev qt6-svg-dev
  libxlsxwriter-dev libminizip-dev python3-openpyxl xvfb ccache
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libopencv-contrib-dev python3-skimage hyperfine)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
log=$(mktemp)
if ! { $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
      --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "install-deps: apt-get failed" >&2
  exit 1
fi
rm -f "$log"
