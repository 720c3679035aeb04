#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing.
# Extra package names given as arguments are installed too.
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev libceres-dev libeigen3-dev "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
