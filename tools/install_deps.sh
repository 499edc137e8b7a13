#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the program and the tests need, skipping those that
# are installed. Runs apt-get as root or through sudo. Service start-up is denied for the install
# (policy-rc.d), so installing samba or rsyslog never starts or reconfigures a system service:
# the tests run private instances of their own.
set -euo pipefail

PACKAGES=(
  # build
  g++ make cmake pkg-config
  qt6-base-dev libgl-dev
  libasound2-dev libsndfile1-dev
  ieee-data
  # tests, benchmarks and fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core xdg-utils
  # real peers for the peer tests (private instances only)
  iproute2 samba samba-common-bin nbtscan rsyslog python3 python3-aiosmtpd
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "All required packages are installed."
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO=(sudo)
fi

made_policy=0
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\n# Written by the Quorvane set-up for the duration of one install.\nexit 101\n' |
    "${SUDO[@]}" tee /usr/sbin/policy-rc.d >/dev/null
  "${SUDO[@]}" chmod 755 /usr/sbin/policy-rc.d
  made_policy=1
fi
cleanup() { if [ "$made_policy" = 1 ]; then "${SUDO[@]}" rm -f /usr/sbin/policy-rc.d; fi; }
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
