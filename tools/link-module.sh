#!/usr/bin/env bash
# Links the extension module out of a CMake build's layer libraries, for a toolchain that pip does not
# drive (a cross compiler): `tools/link-module.sh BUILD_DIR CXX PYTHON_INCLUDE_DIR...` writes
# BUILD_DIR/_native.abi3.so. Limited API of 3.10, as the wheel is built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
cxx=$2
shift 2
includes=()
for include in "$@"; do includes+=(-I"$include"); done
"$cxx" -std=c++23 -O2 -fPIC -fvisibility=hidden -Wall -Wextra -Werror \
    -DPy_LIMITED_API=0x030A0000 "${includes[@]}" -Ijson/include -Icore/include -Iqr/include \
    -shared native/module.cpp "$dir"/libcorvane_qr.a "$dir"/libcorvane_core.a "$dir"/libcorvane_json.a \
    -o "$dir/_native.abi3.so"
