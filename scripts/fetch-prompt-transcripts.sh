#!/usr/bin/env bash
# Fetches what each human voice prompt says: the transcripts in Debian's
# asterisk-core-sounds-{es,fr,it,ru,en} packages. Installing those packages
# would remove the es and fr prompt packs the test set uses, so only their
# text is extracted, into the cache (VEYRA_CACHE_DIR, default ~/.cache/veyra).
# Prints the transcript folder.
set -euo pipefail

cache="${VEYRA_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/veyra}/prompt-transcripts"
languages=(es fr it ru en)
mkdir -p "$cache"
for language in "${languages[@]}"; do
  text="$cache/core-sounds-$language.txt.gz"
  [[ -s "$text" ]] && continue
  work=$(mktemp -d) && chmod 777 "$work"  # apt drops to its own user to download
  (cd "$work" && apt-get download -qq "asterisk-core-sounds-$language" >&2)
  dpkg-deb -x "$work"/asterisk-core-sounds-"$language"_*.deb "$work/root"
  cp "$work/root/usr/share/doc/asterisk-core-sounds-$language/core-sounds-$language.txt.gz" "$text.part"
  mv "$text.part" "$text"
  rm -rf "$work"
done
echo "$cache"
