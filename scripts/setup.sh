#!/usr/bin/env bash
# Installs every Debian package Strandlink needs to build, run and test.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6test6
  librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2
  pipewire pipewire-jack pipewire-bin
  libgtest-dev
  libsodium-dev  # the classic link's shared key (HMAC-SHA-256, random ids); Network MIDI 2.0's SHA-256
  xvfb xauth fonts-dejavu-core
  desktop-file-utils appstream iproute2 procps
  dpkg-dev man-db lintian  # dpkg-shlibdeps for the package's dependencies; man for its page; its checks
  qmidinet  # the multicast MIDI gateway the interoperation test runs against
  libavahi-client-dev avahi-daemon avahi-utils dbus  # discovery; the daemon and tools for its tests
  nodejs  # runs the independent RTP-MIDI peer of the interoperation test
  libfmt-dev  # rtpmidid's peer library (third_party/rtpmidid-peer) for its interoperation test
  python3-zeroconf python3-typing-extensions  # pymidi2, the Network MIDI 2.0 client of its interoperation test
)
# npm installs that peer. Some builds of nodejs bring their own npm (and conflict
# with Debian's package): only where the command is missing.
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime scheduling; answer without a prompt.
echo "jackd2 jackd/tweak_rt_limits boolean true" | $sudo debconf-set-selections
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: installed ${missing[*]}"
