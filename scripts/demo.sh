#!/usr/bin/env bash
# Installs what is missing, builds, and runs the turn detector on a bundled
# recording of a finished sentence.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build/bin/veyra detect examples/finished.wav
