"""What a human voice prompt says, from its pack's transcript, and which
end-of-turn labels that text supports.

The prompt packs were recorded to be played by a voice menu, and many prompts
are not whole turns: "There are currently" waits for a number, "To lower the
volume..." trails off, "[beep]" is no speech at all. A prompt's text decides
what it may teach: a whole prompt is a complete turn only if its text ends a
sentence, and an inner-pause cut is an incomplete one only if no sentence ends
before the last word, so that the cut cannot fall at a sentence boundary.
"""
import gzip
import os
import re

TRANSCRIPTS = os.path.join(os.environ.get("VEYRA_CACHE_DIR") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "veyra"), "prompt-transcripts")
TRAILING = ("...", "\u2026")
SENTENCE_END = re.compile(r"[.?!]$")
INNER_SENTENCE_END = re.compile(r"[.?!]+[\"')\]]*\s+\S")


def read_transcript(path):
    """Prompt name ("agent-pass", "digits/17") -> text, from a gzipped
    "name: text" file; lines starting with ";" are comments."""
    texts = {}
    with gzip.open(path, "rt", encoding="utf-8", errors="replace") as f:
        for line in f:
            name, colon, text = line.partition(":")
            if colon and not line.startswith(";") and text.strip():
                texts[name.strip()] = text.strip()
    return texts


def transcript(language, folder=None):
    path = os.path.join(folder or TRANSCRIPTS, f"core-sounds-{language}.txt.gz")
    if not os.path.exists(path):
        raise SystemExit(f"{path} is missing: run scripts/fetch-prompt-transcripts.sh")
    return read_transcript(path)


def prompt_name(pack_root, path):
    """The transcript's name for a prompt file: its path in the pack, without extension."""
    return os.path.splitext(os.path.relpath(path, pack_root))[0]


def whole_label(text):
    """1 if the whole prompt is a complete turn, 0 if it trails off, None if
    the text cannot tell (no speech, or it stops without ending a sentence:
    many such prompts wait for a number or a name to follow). A single word
    counts as complete: a one-word answer is a whole turn."""
    if text.startswith("["):
        return None
    if text.endswith(TRAILING):
        return 0
    if SENTENCE_END.search(text) or len(text.split()) == 1:
        return 1
    return None


def can_cut(text):
    """True if a cut at an inner pause is surely mid-sentence: the text is
    speech and no sentence ends before its last word."""
    body = text.strip(". \u2026")
    return not text.startswith("[") and len(body.split()) > 1 and not INNER_SENTENCE_END.search(body)
