#!/usr/bin/env bash
# Installs what is missing, builds Velmora and starts it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages "${VELMORA_PACKAGES[@]}"
build_velmora
exec "$VELMORA_BUILD/window/Velmora"
