#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Idempotent: apt-get runs only when a package is missing.
# Usage: scripts/deps.sh [extra-package...]
set -euo pipefail

packages=(
  cmake g++ make pkg-config     # the build
  libgtest-dev                  # unit tests
  libcli11-dev                  # command-line options of qelda-convert
  libfmt-dev                    # text output of qelda-convert
  qt6-base-dev                  # the window (Qt 6 Widgets)
  qt6-charts-dev                # the pattern plot of the dataset dialog
  libqt6opengl6-dev             # Qt6Charts' CMake package needs Qt6OpenGL (not a Debian dependency)
  libpugixml-dev                # XML of XRDML, BRML and RASX files
  libminizip-dev zlib1g-dev     # zip archives (BRML, RASX), read in memory
  libhdf5-dev                   # NeXus (HDF5) files
  python3-h5py                  # a second reader of our NeXus files in the tests
  fonts-dejavu-core             # a font for the window, also offscreen
  libxy-bin                     # xyconv, an independent reader used as a test oracle
  python3-gemmi python3-pycifrw # two independent CIF parsers that check our CIF output in tests
  clang libclang-rt-14-dev      # libFuzzer targets
  clang-format                  # the code style
  pybind11-dev python3-dev      # the Python module qelda (C++ bindings)
  python3-numpy python3-pytest  # its arrays, and its tests
  python3-distributed python3-psutil  # python3 -m qelda.archive (Dask), and its test
  libglib2.0-bin shared-mime-info # the MIME types test (gio asks shared-mime-info)
  g++-mingw-w64-x86-64-posix    # qelda-convert.exe, cross-built for Windows
  libz-mingw-w64-dev            # zlib for it (pugixml and minizip are built from Debian sources)
  dpkg-dev                      # apt-get source unpacks those sources
  wine64                        # runs the .exe in the tests
  zip                           # the Windows download (scripts/package-windows.sh)
  emscripten                    # the conversion core as WebAssembly for web/qelda.html
  chromium                      # the page's tests (Playwright drives it headless)
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
