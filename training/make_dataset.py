#!/usr/bin/python3
"""Synthesises and collects the training clips (audio only; features come from
native/prepare afterwards).

    /usr/bin/python3 training/make_dataset.py --out training/work/dataset [--scale 1.0]

Writes OUT/audio/ID.f32 (mono float32 at the clip's own rate) and
OUT/manifest.jsonl, one record per clip: id, split, language, source, voice,
label (1 complete, 0 incomplete), kind, text, rate, samples.
"""
import argparse
import bisect
import json
import os
import random
import subprocess
import sys
from multiprocessing import Pool

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from veyra_train import audio, prompts, texts, voices  # noqa: E402
from veyra_train.workdir import sole_writer  # noqa: E402

LANGUAGES = ("en", "es", "fr", "it", "ru")
SPLIT_SHARES = (("train", 0.80), ("val", 0.08), ("test", 0.12))
# Clips synthesised per language and split, before --scale.
TTS_COUNTS = {"en": {"train": 1400, "val": 160, "test": 300}}
TTS_COUNTS_OTHER = {"train": 130, "val": 20, "test": 50}
SOUNDS = "/usr/share/asterisk/sounds"
# Human prompt packs: (language, directory, split, count). A pack is wholly
# one split's, except that validation borrows HUMAN_VAL_PROMPTS prompts of each
# training pack: those after its first `count`; training takes all the others.
# A validation or test pack uses its first `count` prompts (a count above the
# pack's size takes them all). Russian has a single speaker, kept for the test.
# The second Italian speaker is validation's only voice never trained on: the
# borrowed prompts come from the training speakers, so without it validation
# could not tell fitting those three voices from hearing new ones. Prompts are
# shuffled, then filtered by their transcript.
HUMAN_PACKS = [
    ("es", "es_MX_f_Allison", "train", 200), ("es", "es", "test", 200),
    ("fr", "fr_CA_f_June", "train", 200), ("fr", "fr", "test", 200),
    ("it", "it_IT_m_Carlo", "train", 200), ("it", "it_IT_f_Menardi", "val", 1000),
    ("ru", "ru_RU_f_IvrvoiceRU", "test", 200),
]
HUMAN_VAL_PROMPTS = 30
# Human recordings kept out of training and tuning altogether; --independent
# turns them into the "independent" split, for evaluation only.
INDEPENDENT_PACKS = [("en", "en_US_f_Allison", "independent", 200)]
MIN_SPEECH_SECONDS = 0.8


def split_sentences(language, seed):
    pool = texts.sentences(language, 3000 if language == "en" else 800, seed)
    random.Random(f"split-{language}-{seed}").shuffle(pool)
    out, start = {}, 0
    for split, share in SPLIT_SHARES:
        end = start + int(round(share * len(pool)))
        out[split] = pool[start:end]
        start = end
    return out


class FragmentsByLength:
    """Every (sentence, cut) of a sentence pool, by the fragment's length in
    characters. Cut from random sentences, fragments would run shorter than
    whole ones and the clip's length alone would give its label away; so
    fragments are drawn to match whole sentences' lengths, and whole
    sentences longer than any fragment are not used."""
    TOLERANCE = 3

    def __init__(self, pool, language):
        cuts = sorted((len(texts.prefix(text, n)), text, n)
                      for text in pool for n in texts.cut_points(text, language))
        self.lengths = [length for length, _, _ in cuts]
        self.cuts = [(text, n) for _, text, n in cuts]
        self.wholes = [text for text in pool if len(text) <= self.lengths[-1] + self.TOLERANCE]

    def near(self, length, rng):
        """A random cut whose fragment is within TOLERANCE characters of
        `length`, or one of the nearest length there is."""
        low = bisect.bisect_left(self.lengths, length - self.TOLERANCE)
        high = bisect.bisect_right(self.lengths, length + self.TOLERANCE)
        if low == high:
            i = min(low, len(self.lengths) - 1)
            if i > 0 and length - self.lengths[i - 1] <= self.lengths[i] - length:
                i -= 1
            low = bisect.bisect_left(self.lengths, self.lengths[i])
            high = bisect.bisect_right(self.lengths, self.lengths[i])
        return self.cuts[rng.randrange(low, high)]


def tts_jobs(seed, scale, variant):
    """Synthesis jobs. Variants above 0 add further training and validation
    clips: new draws of sentence, voice, prosody and augmentation over the
    same sentence split. The test set is drawn once."""
    jobs = []
    splits = ("train", "val") if variant else ("train", "val", "test")
    prefix = f"v{variant}-" if variant else ""
    for language in LANGUAGES:
        by_split = split_sentences(language, seed)
        for split in splits:
            count = int(TTS_COUNTS.get(language, {}).get(split, TTS_COUNTS_OTHER[split]) * scale)
            groups = {}
            for voice in voices.voices_for(language, split):
                groups.setdefault(voice.split("+")[0], []).append(voice)
            group_names = sorted(groups)
            rng = random.Random(f"jobs-{language}-{split}-{seed}" + (f"-{variant}" if variant else ""))
            cuts = FragmentsByLength(by_split[split], language)
            for i in range(count):
                text = rng.choice(cuts.wholes)
                complete = rng.random() < 0.5
                cut_words = None
                if not complete:  # a fragment as long as a whole sentence drawn
                    text, cut_words = cuts.near(len(text), rng)
                jobs.append({
                    "id": f"{prefix}{language}-{split}-tts-{i:05d}", "split": split, "language": language,
                    "source": "tts", "voice": rng.choice(groups[rng.choice(group_names)]),
                    "text": text, "label": int(complete),
                    "cut_words": cut_words,
                    "rate_factor": rng.uniform(0.8, 1.25), "pitch": rng.uniform(25, 75),
                    "seed": rng.randrange(1 << 30)})
    return jobs


def human_jobs(seed, scale, variant, packs=HUMAN_PACKS):
    """Prompt jobs; variants above 0 re-use the training and validation
    prompts with new augmentation and cut draws. Prompts whose text supports
    neither a whole-prompt label nor a cut are left out."""
    jobs = []
    prefix = f"v{variant}-" if variant else ""
    for language, directory, split, count in packs:
        if variant and split != "train":
            continue
        spoken = prompts.transcript(language)
        root = os.path.join(SOUNDS, directory)
        for part, chosen in _pack_parts(root, directory, split, count, scale, seed).items():
            rng = random.Random(f"human-{directory}-{part}-{seed}" + (f"-{variant}" if variant else ""))
            for i, path in enumerate(chosen):
                seed_i = rng.randrange(1 << 30)  # drawn for every prompt: kept prompts keep their draws
                text = spoken.get(prompts.prompt_name(root, path), "")
                label, cut = prompts.whole_label(text), prompts.can_cut(text)  # no text: neither
                if label is None and not cut:
                    continue
                jobs.append({"id": f"{prefix}{language}-{part}-human-{directory}-{i:04d}", "split": part,
                             "language": language, "source": "human", "voice": f"human:{directory}",
                             "path": path, "text": text, "whole_label": label, "cut": cut,
                             "seed": seed_i})
    return jobs


def _pack_parts(root, directory, split, count, scale, seed):
    """The prompt files of each split a pack serves, in a seeded order."""
    files = sorted(os.path.join(d, f) for d, _, names in os.walk(root) for f in names
                   if f.endswith((".wav", ".gsm")))
    random.Random(f"human-{directory}-{seed}").shuffle(files)
    first = int(count * scale)
    if split != "train":
        return {split: files[:first]}
    val_end = first + int(HUMAN_VAL_PROMPTS * scale)
    return {split: files[:first] + files[val_end:], "val": files[first:val_end]}


def read_with_sox(path):
    raw = subprocess.run(["sox", path, "-t", "raw", "-e", "floating-point", "-b", "32",
                          "-c", "1", "-"], check=True, capture_output=True).stdout
    rate = int(subprocess.run(["soxi", "-r", path], check=True, capture_output=True,
                              text=True).stdout.strip())
    return np.frombuffer(raw, dtype=np.float32).copy(), rate


def _record(job, label, kind, clip, rate, out_dir, suffix=""):
    clip_id = job["id"] + suffix
    clip.astype(np.float32).tofile(os.path.join(out_dir, "audio", clip_id + ".f32"))
    keys = ("split", "language", "source", "voice", "text")
    return dict({k: job[k] for k in keys}, id=clip_id, label=label, kind=kind,
                rate=rate, samples=len(clip))


def run_tts_job(job, out_dir):
    rng = np.random.default_rng(job["seed"])
    speech, rate = voices.synthesise(job["voice"], job["text"], job["rate_factor"], job["pitch"])
    speech = audio.trim(speech, rate)
    kind = "complete"
    if not job["label"]:
        fragment_text = texts.prefix(job["text"], job["cut_words"])
        fragment, _ = voices.synthesise(job["voice"], fragment_text, job["rate_factor"], job["pitch"])
        cut = audio.cut_near(speech, rate, len(audio.trim(fragment, rate)) / rate)
        if cut is None:
            return []
        speech, kind = cut, "cut:" + fragment_text.split()[-1]
    clip, clip_rate = audio.build_clip(speech, rate, rng)
    return [_record(job, job["label"], kind, clip, clip_rate, out_dir)]


def run_human_job(job, out_dir):
    rng = np.random.default_rng(job["seed"])
    speech, rate = read_with_sox(job["path"])
    speech = audio.trim(speech, rate)
    if len(speech) < MIN_SPEECH_SECONDS * rate:
        return []
    records = []
    clip, clip_rate = audio.build_clip(speech, rate, rng)
    if job["whole_label"] is not None:
        kind = "complete" if job["whole_label"] else "whole:trailing"
        records.append(_record(job, job["whole_label"], kind, clip, clip_rate, out_dir, "-c"))
    pauses = audio.inner_pauses(speech, rate) if job["cut"] else []
    if pauses:
        cut = audio.fade_out(speech[:int(rng.choice(pauses))], rate)
        clip, clip_rate = audio.build_clip(cut, rate, rng)
        records.append(_record(job, 0, "cut:pause", clip, clip_rate, out_dir, "-i"))
    return records


def run_job(args):
    """The job's records ([] when it deliberately makes no clip), or None when
    it failed: a failed job stays unrecorded, so that a later run retries it."""
    job, out_dir = args
    try:
        return (run_tts_job if job["source"] == "tts" else run_human_job)(job, out_dir)
    except (subprocess.SubprocessError, OSError, ValueError) as error:
        print(f"failed {job['id']}: {error}", file=sys.stderr)
        return None


def check_voices(jobs):
    """Every synthesiser voice the jobs use must speak: a voice whose package
    is missing would otherwise fail clip by clip, be skipped, and leave a
    data set quietly without it."""
    silent = []
    for voice_id in sorted({j["voice"] for j in jobs if j["source"] == "tts"}):
        try:
            speech, _ = voices.synthesise(voice_id, "hello", 1.0, 50)
        except (subprocess.SubprocessError, OSError, ValueError):
            speech = ()
        if len(speech) == 0:
            silent.append(voice_id)
    if silent:
        raise SystemExit(f"voices that do not speak: {', '.join(silent)} "
                         "(install what scripts/setup.sh --training lists)")


def run_jobs(jobs, out_dir, workers):
    """Runs the jobs not yet in OUT's manifest and appends their records."""
    manifest = os.path.join(out_dir, "manifest.jsonl")
    done = set()
    if os.path.exists(manifest):  # resume: keep finished jobs
        with open(manifest) as f:
            done = {json.loads(line)["job"] for line in f}
    todo = [j for j in jobs if j["id"] not in done]
    print(f"{len(jobs)} jobs, {len(todo)} to run", flush=True)
    failed = 0
    with Pool(workers) as pool, open(manifest, "a") as out:
        for n, records in enumerate(pool.imap(run_job, [(j, out_dir) for j in todo], chunksize=4)):
            job_id = todo[n]["id"]
            if records is None:
                failed += 1
                continue
            for record in records:
                out.write(json.dumps(dict(record, job=job_id), ensure_ascii=False) + "\n")
            if not records:
                out.write(json.dumps({"job": job_id, "skipped": True}) + "\n")
            if n % 200 == 0:
                out.flush()
                print(f"{n}/{len(todo)}", flush=True)
    if failed:
        raise SystemExit(f"{failed} jobs failed (see above); run again to retry them")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every clip count")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--independent", action="store_true",
                        help="only the independent evaluation split (human recordings never trained on)")
    parser.add_argument("--variants", type=int, default=1,
                        help="draws of the training and validation sets (variant 0 also makes the test set)")
    args = parser.parse_args()

    os.makedirs(os.path.join(args.out, "audio"), exist_ok=True)
    jobs = []
    for variant in range(args.variants):
        jobs += human_jobs(args.seed, args.scale, variant) + tts_jobs(args.seed, args.scale, variant)
    if args.independent:
        jobs = human_jobs(args.seed, 1.0, 0, INDEPENDENT_PACKS)
    check_voices(jobs)
    with sole_writer(args.out, "make_dataset.py"):
        run_jobs(jobs, args.out, args.workers)


if __name__ == "__main__":
    main()
