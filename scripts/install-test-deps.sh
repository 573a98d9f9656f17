#!/usr/bin/env bash
# Installs what the test command needs beyond the build (run as root): Debian's numpy and pytest
# for the Python package's tests, and Blender with Xvfb for the add-on's. A no-op when all are
# there, so that the demo's install stays lean and repeated test runs download nothing.
set -euo pipefail
packages=(python3-numpy python3-pytest blender xvfb xauth)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "install-test-deps.sh: missing ${missing[*]}; run it as root to install them" >&2
  exit 1
fi
echo "installing Blender and Python test packages (about 600 MB) ..."
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
