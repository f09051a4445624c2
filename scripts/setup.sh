#!/usr/bin/env bash
# Installs the Debian packages the project needs, skipping those present.
# Usage: scripts/setup.sh [--training] [--examples]   (run as root on Debian 12)
#   --training  also installs what model training needs (python3-torch, ...)
#   --examples  also installs what examples/make_examples.sh needs
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates
  nodejs npm            # npm fetches the pinned ONNX Runtime release
  libgtest-dev libgmock-dev libbenchmark-dev
  libsoxr-dev           # the host layer's resampler
  libsndfile1-dev       # audio files in the veyra command
  python3               # test helpers (JSON and XML checks)
)
training_packages=(
  python3-torch python3-onnx python3-numpy libopenblas0-openmp
  espeak-ng flite festival sox
  festvox-kallpc16k festvox-kdlpc16k festvox-us-slt-hts festvox-italp16k festvox-itapc16k festvox-ru
  # Human voice prompts in Spanish, French, Italian and Russian: training data.
  asterisk-core-sounds-es-wav asterisk-core-sounds-fr-wav asterisk-core-sounds-it-wav
  asterisk-core-sounds-ru-wav asterisk-prompt-es-co asterisk-prompt-fr-armelle
  asterisk-prompt-it-menardi-wav
  # English human prompts: evaluation only, never trained on.
  asterisk-core-sounds-en-wav
)
examples_packages=(espeak-ng sox)
for option in "$@"; do
  case "$option" in
    --training) packages+=("${training_packages[@]}") ;;
    --examples) packages+=("${examples_packages[@]}") ;;
    *) echo "setup: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${packages[@]}"; do
  # npm may come with a Node.js install of its own rather than Debian's.
  if [[ "$pkg" == npm || "$pkg" == nodejs ]] && command -v npm >/dev/null; then continue; fi
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if (( ${#missing[@]} == 0 )); then
  echo "setup: all packages present"
  exit 0
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages: ${missing[*]} (run as root, or install them yourself)" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
