"""The speech synthesisers' voices, and which split may use each one.

A voice is one synthesiser setting (engine, base voice, variant). Test voices
are never used for training or validation, so the test metrics are measured on
unseen voices.
"""
import os
import subprocess
import tempfile
import wave

import numpy as np

ESPEAK_VARIANTS_TRAIN = ["", "m1", "m2", "m3", "m5", "m6", "m7", "f1", "f2", "f4", "f5",
                         "klatt", "klatt2", "adam", "Alex", "Andy", "Annie", "aunty",
                         "benjamin", "david", "ed", "edward", "linda", "max", "michel",
                         "paul", "pedro", "rob", "robert", "steph", "travis", "victor", "zac",
                         "grandpa", "grandma", "john", "Mike", "iven", "Hugo"]
ESPEAK_VARIANTS_TEST = ["m4", "m8", "f3", "klatt3", "belinda", "quincy", "shelby", "norbert"]

# (language, engine, voice) -> split it belongs to. Flite's and festival's
# "slt" are one speaker, so both are test voices.
BASE_VOICES = [
    ("en", "espeak", "en-us", "train"), ("en", "espeak", "en-gb", "train"),
    ("en", "espeak", "en-gb-x-gbclan", "train"), ("en", "espeak", "en-gb-x-rp", "train"),
    ("en", "espeak", "en-gb-x-gbcwmd", "train"), ("en", "espeak", "en-us-nyc", "train"),
    ("en", "espeak", "en-gb-scotland", "test"), ("en", "espeak", "en-029", "test"),
    ("en", "flite", "kal", "train"), ("en", "flite", "kal16", "train"),
    ("en", "flite", "awb", "train"), ("en", "flite", "rms", "train"),
    ("en", "flite", "slt", "test"),
    ("en", "festival", "kal_diphone", "train"), ("en", "festival", "ked_diphone", "test"),
    ("en", "festival", "cmu_us_slt_arctic_hts", "test"),
    ("es", "espeak", "es", "train"), ("es", "espeak", "es-419", "test"),
    ("fr", "espeak", "fr", "train"), ("fr", "espeak", "fr-ch", "train"),
    ("fr", "espeak", "fr-be", "test"),
    ("it", "espeak", "it", "train"), ("it", "festival", "lp_diphone", "train"),
    ("it", "festival", "pc_diphone", "test"),
    ("ru", "espeak", "ru", "train"), ("ru", "espeak", "ru-lv", "test"),
    ("ru", "festival", "msu_ru_nsh_clunits", "test"),
]


def voices_for(language, split):
    """Voice ids usable in a split ("val" uses the training voices)."""
    wanted = "test" if split == "test" else "train"
    variants = ESPEAK_VARIANTS_TEST if wanted == "test" else ESPEAK_VARIANTS_TRAIN
    found = []
    for lang, engine, voice, voice_split in BASE_VOICES:
        if lang != language:
            continue
        if engine == "espeak":
            # Unseen base voices get every variant; seen ones only unseen variants.
            pool = variants if voice_split == wanted or wanted == "test" else []
            if voice_split == "test" and wanted == "train":
                pool = []
            found += [f"espeak:{voice}+{v}" if v else f"espeak:{voice}" for v in pool]
        elif voice_split == wanted:
            found.append(f"{engine}:{voice}")
    return found


def _read_wav(path):
    with wave.open(path) as w:
        rate = w.getframerate()
        data = np.frombuffer(w.readframes(w.getnframes()), dtype=np.int16)
        if w.getnchannels() > 1:
            data = data.reshape(-1, w.getnchannels())[:, 0]
    return data.astype(np.float32) / 32768.0, rate


def synthesise(voice_id, text, rate_factor, pitch):
    """Speaks text; answers (float32 samples, sample rate). rate_factor > 1 is
    faster speech; pitch is 0..99 (espeak) or a relative shift elsewhere."""
    engine, voice = voice_id.split(":", 1)
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.wav")
        if engine == "espeak":
            cmd = ["espeak-ng", "-v", voice, "-s", str(int(170 * rate_factor)),
                   "-p", str(int(pitch)), "-w", out, text]
            subprocess.run(cmd, check=True, capture_output=True)
        elif engine == "flite":
            mean = 100 + (pitch - 50) * 1.2 if voice in ("kal", "kal16", "awb", "rms") else 170 + (pitch - 50) * 2
            cmd = ["flite", "-voice", voice, "--setf", f"duration_stretch={1.0 / rate_factor:.3f}",
                   "--setf", f"int_f0_target_mean={mean:.0f}", "-t", text, "-o", out]
            subprocess.run(cmd, check=True, capture_output=True)
        else:
            script = os.path.join(tmp, "text.txt")
            encoding = "latin-1" if voice in ("lp_diphone", "pc_diphone") else "utf-8"
            with open(script, "wb") as f:
                f.write(text.encode(encoding, errors="replace"))
            cmd = ["text2wave", "-eval", f"(voice_{voice})", "-eval",
                   f"(Parameter.set 'Duration_Stretch {1.0 / rate_factor:.3f})", "-o", out, script]
            subprocess.run(cmd, check=True, capture_output=True, timeout=60)
        return _read_wav(out)
