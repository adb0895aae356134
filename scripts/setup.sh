#!/usr/bin/env bash
# Installs everything ferolin needs on a fresh Debian 12 machine with Python
# and pip (Debian packages with apt-get, Python packages with pip), then
# builds and installs the module. Safe to run again: it skips what is there.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON="${PYTHON:-python3}"
# libclang-rt-19-dev brings FuzzedDataProvider.h, which the fuzz targets read
# their input with; the test build replays their corpora with g++. ISA-L
# inflates gzip-compressed tables in the companion package; zlib is the
# fallback where ISA-L is missing and the reference the tests compare with.
DEBIAN_PACKAGES=(g++ make libcsv-dev nlohmann-json3-dev libgtest-dev libclang-rt-19-dev zlib1g-dev
                 libisal-dev)

missing=()
for package in "${DEBIAN_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing Debian packages: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

"$PYTHON" -m pip install -q --disable-pip-version-check -r requirements-dev.txt

# Build and install the extension module. FEROLIN_WERROR=ON (set by CI)
# turns compiler warnings into errors.
"$PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
  --config-settings=cmake.define.FEROLIN_WERROR="${FEROLIN_WERROR:-OFF}" .
