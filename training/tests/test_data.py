"""Data synthesis helpers: sentences and cut points, audio cuts, splits, metrics,
and the NumPy feature reference."""
import json
import os
import sys
import tempfile
import unittest
import unittest.mock
import wave

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from veyra_train import audio, augment, texts, voices  # noqa: E402
from veyra_train.features_ref import log_mel, mel_filterbank, right_align  # noqa: E402
from veyra_train.lengths import clip_seconds, length_bins, matched_subset  # noqa: E402
from veyra_train.metrics import binary_metrics, roc_auc  # noqa: E402
from veyra_train.workdir import sole_writer  # noqa: E402

import evaluate_model  # noqa: E402
import export_model  # noqa: E402
import make_dataset  # noqa: E402


class TextTest(unittest.TestCase):
    def test_sentences_are_seeded_and_distinct(self):
        for language in texts.CONTINUATION_WORDS:
            first = texts.sentences(language, 200, 1)
            self.assertEqual(first, texts.sentences(language, 200, 1))
            self.assertEqual(len(first), len(set(first)))

    def test_cuts_stop_after_a_word_that_asks_for_more(self):
        for language, words in texts.CONTINUATION_WORDS.items():
            for sentence in texts.sentences(language, 300, 2):
                total = len(sentence.split())
                for point in texts.cut_points(sentence, language):
                    self.assertGreaterEqual(point, 2)
                    self.assertLessEqual(point, total - 2)
                    last = sentence.split()[point - 1]
                    self.assertTrue(last.endswith(",") or texts._bare(last) in words, (sentence, point))

    def test_prefix_drops_a_trailing_comma(self):
        self.assertEqual(texts.prefix("We need eggs, milk and bread.", 3), "We need eggs")

    def test_sentence_splits_are_disjoint(self):
        for language in ("en", "it"):
            split = make_dataset.split_sentences(language, 7)
            self.assertFalse(set(split["train"]) & set(split["test"]))
            self.assertFalse(set(split["train"]) & set(split["val"]))

    def test_fragments_are_as_long_as_the_whole_sentences(self):
        import random
        pool = make_dataset.split_sentences("en", 7)["val"]
        cuts = make_dataset.FragmentsByLength(pool, "en")
        rng = random.Random(3)
        wholes = [len(rng.choice(cuts.wholes)) for _ in range(400)]
        fragments = [len(texts.prefix(*cuts.near(length, rng))) for length in wholes]
        self.assertLessEqual(max(abs(np.array(wholes) - fragments)), cuts.TOLERANCE)
        # Beyond the longest fragment, the nearest one is returned.
        text, words = cuts.near(10_000, rng)
        self.assertEqual(len(texts.prefix(text, words)), cuts.lengths[-1])
        self.assertTrue(all(len(t) <= cuts.lengths[-1] + cuts.TOLERANCE for t in cuts.wholes))


class SoleWriterTest(unittest.TestCase):
    def test_a_second_run_into_the_same_folder_is_refused_until_the_first_ends(self):
        with tempfile.TemporaryDirectory() as out:
            with sole_writer(out, "first"):
                with self.assertRaises(SystemExit):
                    with sole_writer(out, "second"):
                        pass
            with sole_writer(out, "third"):
                pass


class VoiceSplitTest(unittest.TestCase):
    def test_test_voices_are_never_training_voices(self):
        for language in ("en", "es", "fr", "it", "ru"):
            train = set(voices.voices_for(language, "train"))
            self.assertTrue(train)
            self.assertFalse(train & set(voices.voices_for(language, "test")))
            self.assertEqual(train, set(voices.voices_for(language, "val")))

    def test_each_human_pack_serves_one_split_and_validation_hears_a_new_voice(self):
        packs = {split: {d for _, d, s, _ in make_dataset.HUMAN_PACKS if s == split}
                 for split in ("train", "val", "test")}
        self.assertFalse(packs["train"] & packs["test"])
        self.assertFalse(packs["val"] & (packs["train"] | packs["test"]))
        self.assertTrue(packs["val"])
        independent = {d for _, d, _, _ in make_dataset.INDEPENDENT_PACKS}
        self.assertFalse(independent & {d for _, d, _, _ in make_dataset.HUMAN_PACKS})

    def test_a_voice_that_cannot_speak_stops_the_data_set_before_any_clip(self):
        jobs = [{"source": "tts", "voice": "espeak:en-us"},
                {"source": "tts", "voice": "festival:no_such_voice_diphone"},
                {"source": "human", "voice": "human:somewhere"}]
        with self.assertRaises(SystemExit) as stopped:
            make_dataset.check_voices(jobs)
        self.assertIn("festival:no_such_voice_diphone", str(stopped.exception))
        self.assertNotIn("espeak:en-us", str(stopped.exception))
        make_dataset.check_voices(jobs[:1])

    def test_a_failed_job_is_left_for_the_next_run_to_retry(self):
        with tempfile.TemporaryDirectory() as tmp:
            short = os.path.join(tmp, "short.wav")
            with wave.open(short, "wb") as w:  # too short to use: skipped for good
                w.setnchannels(1), w.setsampwidth(2), w.setframerate(16000)
                w.writeframes((_tone(0.3, 16000) * 32767).astype(np.int16).tobytes())
            jobs = [{"id": "tts-1", "source": "tts", "seed": 1, "voice": "festival:no_such_voice_diphone",
                     "text": "Hello there.", "rate_factor": 1.0, "pitch": 50, "label": 1},
                    {"id": "human-1", "source": "human", "seed": 1, "path": short}]
            os.makedirs(os.path.join(tmp, "audio"))
            with self.assertRaisesRegex(SystemExit, "1 jobs failed"):
                make_dataset.run_jobs(jobs, tmp, 1)
            with open(os.path.join(tmp, "manifest.jsonl")) as f:
                recorded = [json.loads(line) for line in f]
            self.assertEqual(recorded, [{"job": "human-1", "skipped": True}])


def _tone(seconds, rate, level=0.5):
    t = np.arange(int(seconds * rate)) / rate
    return (level * np.sin(2 * np.pi * 220 * t)).astype(np.float32)


class AudioTest(unittest.TestCase):
    rate = 16000

    def test_inner_pause_is_found_between_two_words(self):
        signal = np.concatenate([_tone(0.6, self.rate), np.zeros(int(0.2 * self.rate), np.float32),
                                 _tone(0.6, self.rate)])
        pauses = audio.inner_pauses(signal, self.rate)
        self.assertEqual(len(pauses), 1)
        self.assertAlmostEqual(pauses[0] / self.rate, 0.7, delta=0.02)

    def test_no_pause_in_continuous_speech(self):
        self.assertEqual(audio.inner_pauses(_tone(1.5, self.rate), self.rate), [])

    def test_cut_lands_in_the_quiet_gap_near_the_expected_time(self):
        signal = np.concatenate([_tone(0.8, self.rate), _tone(0.1, self.rate, 0.001),
                                 _tone(0.8, self.rate)])
        cut = audio.cut_near(signal, self.rate, 0.95)
        self.assertIsNotNone(cut)
        self.assertAlmostEqual(len(cut) / self.rate, 0.85, delta=0.06)
        self.assertEqual(cut[-1], 0.0)  # faded out, no click

    def test_trim_removes_silence_on_both_sides(self):
        pad = np.zeros(int(0.3 * self.rate), np.float32)
        trimmed = audio.trim(np.concatenate([pad, _tone(0.5, self.rate), pad]), self.rate)
        self.assertAlmostEqual(len(trimmed) / self.rate, 0.5, delta=0.02)

    def test_clip_keeps_the_speech_and_a_bounded_trailing_pause(self):
        rng = np.random.default_rng(1)
        speech = _tone(1.0, self.rate)
        clip, rate = audio.build_clip(speech, self.rate, rng, augment=False)
        self.assertEqual(rate, self.rate)
        self.assertLessEqual(len(clip), len(speech) + int(1.0 * self.rate))
        self.assertGreaterEqual(len(clip), len(speech))

    def test_telephone_band_is_8k_and_band_limited(self):
        samples, rate = audio.telephone(_tone(1.0, self.rate) + _tone(1.0, self.rate), self.rate)
        self.assertEqual(rate, 8000)
        spectrum = np.abs(np.fft.rfft(samples))
        freqs = np.fft.rfftfreq(len(samples), 1 / 8000)
        self.assertLess(spectrum[freqs < 250].max(), 1e-3 * spectrum.max())


class FeatureReferenceTest(unittest.TestCase):
    def test_silence_gives_minus_one_and_a_half(self):
        # NumPy's vectorised log10 may be one ulp off on some CPUs (AVX-512).
        np.testing.assert_allclose(log_mel(np.zeros(128000, np.float32)), -1.5, rtol=0, atol=1e-6)

    def test_1khz_sine_peaks_in_band_28(self):
        t = np.arange(128000) / 16000
        features = log_mel(np.sin(2 * np.pi * 1000 * t).astype(np.float32))
        self.assertAlmostEqual(float(features.max()), 1.961, delta=0.002)
        self.assertEqual(int(features[:, 100].argmax()), 28)

    def test_filterbank_rows(self):
        bank = mel_filterbank()
        self.assertAlmostEqual(float(bank[0, 1]), 0.2164, places=4)
        self.assertAlmostEqual(float(bank[29, 27]), 0.9986, places=4)
        self.assertEqual(int(bank[:, 0].max()), 0)

    def test_right_align_keeps_the_newest_samples(self):
        frame = right_align(np.arange(1, 130001, dtype=np.float32))
        self.assertEqual(frame[0], 2001.0)
        frame = right_align(np.ones(10, np.float32))
        self.assertEqual(frame[:-10].max(), 0.0)
        self.assertEqual(frame[-10:].min(), 1.0)


class FeatureVariationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        t = np.arange(3 * 16000) / 16000
        tone = (0.5 * np.sin(2 * np.pi * 1000 * t)).astype(np.float32)
        cls.tone = log_mel(right_align(tone))[None]  # 3 s of 1 kHz, band 28

    def test_a_factor_of_one_changes_nothing(self):
        x = np.random.default_rng(0).normal(size=(3, 80, 800)).astype(np.float32)
        np.testing.assert_array_equal(augment.warp_frequency(x, np.ones(3)), x)
        np.testing.assert_array_equal(augment.change_tempo(x, np.ones(3)), x)

    def test_warp_moves_a_tone_by_its_factor(self):
        for factor, band in ((1.0, 28), (1.1, 29), (0.9, 26)):
            warped = augment.warp_frequency(self.tone, [factor])
            self.assertEqual(int(warped[0, :, -50].argmax()), band, factor)

    def test_tempo_keeps_the_newest_frame_and_shortens_or_lengthens_the_tone(self):
        voiced = lambda x: int((x[0, 28] > x.min() + 0.5).sum())
        for factor in (1.25, 0.8):
            changed = augment.change_tempo(self.tone, [factor])
            self.assertAlmostEqual(voiced(changed) / voiced(self.tone), 1 / factor, delta=0.02)
            np.testing.assert_array_equal(changed[..., -1], self.tone[..., -1])
            self.assertEqual(changed.min(), self.tone.min())  # silence stays the floor

    def test_band_mask_hides_only_its_bands_behind_the_clip_mean(self):
        x = np.random.default_rng(0).normal(size=(2, 80, 800)).astype(np.float32)
        masked = augment.mask_bands(x, [10, 70], [5, 0])
        np.testing.assert_array_equal(masked[1], x[1])
        np.testing.assert_allclose(masked[0, 10:15], x[0].mean(), rtol=1e-6)
        np.testing.assert_array_equal(np.delete(masked[0], range(10, 15), axis=0),
                                      np.delete(x[0], range(10, 15), axis=0))
        drawn = augment.random_variation(x, np.random.default_rng(1), 0, 0, widest_mask=80)
        self.assertTrue(np.all(np.isfinite(drawn)))  # widths up to all 80 bands fit

    def test_colour_moves_voiced_bands_by_its_gains_and_leaves_silence_alone(self):
        tilt_6db = [[6.0, 0.0, 0.0]]  # band 0 up by about 6 dB, band 79 down as much
        coloured = augment.colour_channel(self.tone, tilt_6db)
        voiced = self.tone[0] > self.tone.min()
        np.testing.assert_array_equal(coloured[0][~voiced], self.tone[0][~voiced])
        gain = coloured[0, 28, -50] - self.tone[0, 28, -50]
        self.assertAlmostEqual(gain, 6.0 * np.cos(np.pi * 28.5 / 80) * 0.025, places=5)
        self.assertGreaterEqual(coloured.min(), self.tone.min())  # never below the floor
        np.testing.assert_array_equal(augment.colour_channel(self.tone, [[0.0, 0.0, 0.0]]), self.tone)


class MetricsTest(unittest.TestCase):
    def test_auc_matches_pair_counting_with_ties(self):
        rng = np.random.default_rng(0)
        labels = rng.integers(0, 2, 60)
        scores = np.round(rng.random(60), 1)
        pairs = [(p > n) + 0.5 * (p == n) for p in scores[labels == 1] for n in scores[labels == 0]]
        self.assertAlmostEqual(roc_auc(labels, scores), float(np.mean(pairs)))

    def test_threshold_is_strict_like_the_node(self):
        metrics = binary_metrics(np.array([1, 0]), np.array([0.5, 0.5]))
        self.assertEqual(metrics["recall"], 0.0)
        self.assertEqual(metrics["accuracy"], 0.5)

    def test_length_matched_subset_balances_every_length(self):
        # Complete clips run longer, as whole sentences do against their fragments.
        rng = np.random.default_rng(1)
        labels = np.repeat([1, 0], 200)
        seconds = np.concatenate([rng.uniform(1.5, 5.0, 200), rng.uniform(0.5, 3.0, 200)])
        self.assertGreater(roc_auc(labels, seconds), 0.85)
        kept = matched_subset(labels, seconds)
        self.assertEqual(len(set(kept)), len(kept))
        for b in set(length_bins(seconds[kept])):
            in_bin = kept[length_bins(seconds[kept]) == b]
            self.assertEqual(labels[in_bin].sum() * 2, len(in_bin))
        self.assertLess(abs(roc_auc(labels[kept], seconds[kept]) - 0.5), 0.1)
        np.testing.assert_array_equal(kept, matched_subset(labels, seconds))  # seeded

    def test_each_human_voice_is_reported_apart_from_the_others(self):
        records = [{"language": "it", "source": "human", "voice": voice, "rate": 16000,
                    "samples": 16000 * (1 + i % 3), "label": i % 2}
                   for i, voice in enumerate(["human:seen"] * 6 + ["human:new"] * 4)]
        records.append({"language": "it", "source": "tts", "voice": "espeak:it", "rate": 16000,
                        "samples": 32000, "label": 1})
        labels = np.array([r["label"] for r in records], float)
        groups = evaluate_model.groups_of(records, labels, clip_seconds(records))
        self.assertEqual(list(groups["voice=human:seen"]), list(range(6)))
        self.assertEqual(list(groups["voice=human:new"]), list(range(6, 10)))
        self.assertNotIn("voice=espeak:it", groups)
        self.assertEqual(len(groups["it/human"]), 10)

    def test_scoring_and_export_refuse_an_unwritable_output_before_working(self):
        with tempfile.TemporaryDirectory() as folder:
            fine = os.path.join(folder, "fine.onnx")
            for out in (folder, os.path.join(folder, "missing", "out")):
                # The inputs do not exist: reaching them would raise, not exit.
                none = os.path.join(folder, "none")
                runs = [(evaluate_model, ["--features", none, "--float", "f.onnx", "--int8", "q.onnx",
                                          "--evaluator", "e", "--out", out]),
                        (export_model, ["--checkpoint", none, "--calibration", none,
                                        "--float-out", fine, "--int8-out", out]),
                        (export_model, ["--checkpoint", none, "--calibration", none,
                                        "--float-out", out, "--int8-out", fine])]
                for tool, argv in runs:
                    with unittest.mock.patch.object(sys, "argv", [tool.__name__] + argv), \
                            unittest.mock.patch("sys.stderr"), self.assertRaises(SystemExit) as exit_:
                        tool.main()
                    self.assertEqual(exit_.exception.code, 2)
            self.assertFalse(os.path.exists(fine))


if __name__ == "__main__":
    unittest.main()
