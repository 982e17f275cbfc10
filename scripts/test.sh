#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs every test. No display is
# needed: window tests run on Qt's offscreen platform.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages "${VELMORA_PACKAGES[@]}"
build_velmora
cd "$VELMORA_BUILD"
ctest --output-on-failure -j2
