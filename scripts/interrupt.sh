#!/usr/bin/env bash
# Prints what becomes of a run cut short after each call of the typical run:
# how many cut points there are, how many would leave a class filter naming a
# deleted service if Windows restarted at once, and how many a second run
# completes, before the restart and after it. Exits non-zero when a second
# run cannot complete some cut point.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset host >/dev/null
cmake --build --preset host --target vk_interrupt -j "$(nproc)" >/dev/null
build/host/vk_interrupt
