#!/usr/bin/env bash
# Makes the example recordings in this folder with Debian's espeak-ng and sox
# (scripts/setup.sh --examples installs them). The recordings are committed;
# run this only to change them.
#   finished.wav    a complete sentence, then silence
#   unfinished.wav  a sentence that stops mid-thought, then silence
#   exchange.wav    a longer turn with pauses inside it and at its end
# All are 16-bit mono WAV at 16 kHz.
set -euo pipefail
cd "$(dirname "$0")"
for tool in espeak-ng sox; do
  command -v "$tool" >/dev/null || { echo "make_examples: $tool is missing (scripts/setup.sh --examples)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# say NAME TEXT: one utterance at 16 kHz, 16-bit mono.
say() {
  espeak-ng -v en-us -s 165 -w "$work/$1.raw.wav" "$2"
  sox "$work/$1.raw.wav" -r 16000 -c 1 -b 16 "$work/$1.wav" norm -3
}
# gap NAME SECONDS: silence at the same format.
gap() {
  sox -n -r 16000 -c 1 -b 16 "$work/$1.wav" trim 0 "$2"
}

say finished "I think that covers everything I wanted to say. Thanks for listening."
gap lead 0.3
gap tail 1.0
sox "$work/lead.wav" "$work/finished.wav" "$work/tail.wav" finished.wav

say unfinished "So what I was trying to say is that the main thing about the"
sox "$work/lead.wav" "$work/unfinished.wav" "$work/tail.wav" unfinished.wav

say ask "Hi. Could you help me book a table for tonight?"
say people "For four people, around eight."
say hesitate "Actually, wait, let me check whether"
say confirm "yes, eight works for everyone. That's all, thank you."
gap short 0.6
gap long 1.2
sox "$work/lead.wav" "$work/ask.wav" "$work/long.wav" "$work/people.wav" "$work/short.wav" \
    "$work/hesitate.wav" "$work/long.wav" "$work/confirm.wav" "$work/tail.wav" exchange.wav

for file in finished.wav unfinished.wav exchange.wav; do
  echo "$file: $(soxi -D "$file") s"
done
