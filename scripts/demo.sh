#!/usr/bin/env bash
# Runs the uninstaller on a simulated Windows XP with the product installed
# and shows what it printed and what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target vk_demo -j "$(nproc)" >/dev/null
build/host/vk_demo
