#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, skipping those present.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev qt6-base-private-dev qt6-serialport-dev libssl-dev zlib1g-dev libelf-dev libsystemd-dev libpq-dev pkg-config srecord binutils binutils-powerpc-linux-gnu ser2net openssh-server openssh-client strace python3-labgrid python3-pytest
          postgresql
          fonts-ipafont-gothic fonts-dejavu-core xvfb xauth dbus-daemon at-spi2-core python3-pyatspi
          strace util-linux dpkg-dev desktop-file-utils appstream lintian help2man scdoc groff-base
          qt6-l10n-tools qt6-tools-dev qt6-translations-l10n locales imagemagick)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -ne 0 ]; then
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The tests run the windows under a Japanese locale too; the C library needs it built.
grep -qx 'ja_JP.utf8' <<< "$(locale -a 2>/dev/null)" || $sudo localedef -i ja_JP -c -f UTF-8 ja_JP.UTF-8
