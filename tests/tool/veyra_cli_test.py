#!/usr/bin/python3
"""End-to-end checks of the `veyra` command: exit codes, output shape, JSON
lines, the SVG plot and `veyra info`. Standard library only.

usage: veyra_cli_test.py --veyra PATH --examples DIR [unittest options]
"""
import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import wave
import xml.etree.ElementTree as ElementTree

VEYRA = None
EXAMPLES = None

TEXT_LINE = re.compile(
    r"^\s*(?P<time>\d+\.\d{3})s  probability=(?P<p>\d+\.\d{6})  (?P<decision>complete|incomplete)\s+"
    r"inferMs=(?P<ms>\d+\.\d{3})  trigger=(?P<trigger>pause|every|end)$")
JSON_KEYS = {"time", "probability", "isTurnComplete", "inferMs", "trigger"}
SVG = "{http://www.w3.org/2000/svg}"


def run(*args):
    return subprocess.run([VEYRA, *args], capture_output=True, text=True, timeout=300)


def example(name):
    return os.path.join(EXAMPLES, name)


def write_wav(path, rate, channels, frames):
    """frames: list of per-channel tuples of floats in [-1, 1]; 16-bit PCM."""
    with wave.open(path, "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"".join(struct.pack("<" + "h" * channels, *(int(v * 32767) for v in frame))
                                 for frame in frames))


def tone(rate, seconds, amplitude=0.3, frequency=220.0):
    return [amplitude * math.sin(2 * math.pi * frequency * i / rate) for i in range(int(rate * seconds))]


def json_lines(stdout):
    return [json.loads(line) for line in stdout.splitlines()]


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="veyra-cli-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)


class BadInput(TempDirTest):
    def test_bad_options_exit_2_with_a_message(self):
        cases = [
            ["--frobnicate"],
            ["--threshold", "abc"],
            ["--threshold", "0.5x"],
            ["--threshold", "1.5"],
            ["--threshold", "nan"],
            ["--threshold"],
            ["--every", "1", "--on-pause", "200"],
            ["--every", "0"],
            ["--every", "-2"],
            ["--on-pause", "soon"],
            ["--on-pause", "0"],
        ]
        for extra in cases:
            with self.subTest(args=extra):
                result = run("detect", example("finished.wav"), *extra)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn("veyra detect:", result.stderr)
                self.assertEqual(result.stdout, "")
        self.assertEqual(run("detect").returncode, 2)
        self.assertEqual(run("detect", "a.wav", "b.wav").returncode, 2)
        self.assertEqual(run("info", "--bogus").returncode, 2)

    def test_missing_and_unsupported_files_fail_clearly(self):
        missing = run("detect", self.path("absent.wav"))
        self.assertEqual(missing.returncode, 1)
        self.assertIn("no such file", missing.stderr)

        text = self.path("notes.wav")
        with open(text, "w") as out:
            out.write("this is not audio\n" * 20)
        unsupported = run("detect", text)
        self.assertEqual(unsupported.returncode, 1)
        self.assertIn("cannot read", unsupported.stderr)

        directory = run("detect", self.dir)
        self.assertEqual(directory.returncode, 1)

    def test_missing_model_or_module_fails_clearly(self):
        model = self.path("absent.onnx")
        result = run("detect", example("finished.wav"), "--model", model)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Model file not found: " + model, result.stderr)

        garbage = self.path("garbage.onnx")
        with open(garbage, "wb") as out:
            out.write(b"\x00not an onnx model\xff" * 64)
        result = run("detect", example("finished.wav"), "--model", garbage)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.strip())

        result = run("detect", example("finished.wav"), "--module", self.path("libNothing.so"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("module not found", result.stderr)


class DetectOutput(TempDirTest):
    def test_text_lines_have_the_documented_shape(self):
        result = run("detect", example("exchange.wav"), "--at-end")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertGreaterEqual(len(lines), 2)
        matches = [TEXT_LINE.match(line) for line in lines]
        for line, match in zip(lines, matches):
            self.assertIsNotNone(match, line)
        times = [float(m["time"]) for m in matches]
        self.assertEqual(times, sorted(times))
        self.assertEqual([m["trigger"] for m in matches][:-1], ["pause"] * (len(lines) - 1))
        self.assertEqual(matches[-1]["trigger"], "end")
        self.assertAlmostEqual(times[-1], 16.651, places=2)
        # The node's own log lines stay out of the way unless asked for.
        self.assertNotIn("[VeyraNode]", result.stderr)
        self.assertIn("[VeyraNode] infer:", run("detect", example("finished.wav"), "--verbose").stderr)

    def test_every_json_line_parses_and_follows_the_schedule(self):
        result = run("detect", example("exchange.wav"), "--json", "--every", "2.5", "--at-end")
        self.assertEqual(result.returncode, 0, result.stderr)
        records = json_lines(result.stdout)
        self.assertEqual([r["trigger"] for r in records], ["every"] * 6 + ["end"])
        self.assertEqual([r["time"] for r in records[:-1]], [2.5, 5.0, 7.5, 10.0, 12.5, 15.0])
        for record in records:
            self.assertEqual(set(record), JSON_KEYS)
            self.assertTrue(0.0 <= record["probability"] <= 1.0)
            self.assertIsInstance(record["isTurnComplete"], bool)
            self.assertGreater(record["inferMs"], 0.0)

    def test_threshold_decides_against_the_probability(self):
        low = json_lines(run("detect", example("finished.wav"), "--json", "--threshold", "0").stdout)
        high = json_lines(run("detect", example("finished.wav"), "--json", "--threshold", "1").stdout)
        self.assertTrue(low and high)
        self.assertTrue(all(r["isTurnComplete"] == (r["probability"] > 0.0) for r in low))
        self.assertFalse(any(r["isTurnComplete"] for r in high))

    def test_stereo_at_44k1_is_mixed_to_mono(self):
        rate = 44100
        speech = tone(rate, 1.0)
        silence = [0.0] * int(rate * 0.6)
        inphase = self.path("inphase.wav")
        write_wav(inphase, rate, 2, [(v, v) for v in speech + silence])
        records = json_lines(run("detect", inphase, "--json", "--on-pause", "150").stdout)
        self.assertEqual([r["trigger"] for r in records], ["pause"])
        self.assertAlmostEqual(records[0]["time"], 1.15, delta=0.03)

        # Opposite channels cancel in the mix: nothing is heard, so only --at-end infers.
        antiphase = self.path("antiphase.wav")
        write_wav(antiphase, rate, 2, [(v, -v) for v in speech + silence])
        records = json_lines(run("detect", antiphase, "--json", "--at-end").stdout)
        self.assertEqual([r["trigger"] for r in records], ["end"])

    def test_an_empty_file_yields_only_the_end_inference(self):
        empty = self.path("empty.wav")
        write_wav(empty, 16000, 1, [])
        result = run("detect", empty, "--json", "--at-end")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([r["time"] for r in json_lines(result.stdout)], [0.0])

    def test_plot_is_well_formed_svg_with_escaped_title(self):
        awkward = self.path("a&b<c>'\".wav")
        shutil.copy(example("exchange.wav"), awkward)
        plot = self.path("plot.svg")
        result = run("detect", awkward, "--json", "--at-end", "--plot", plot)
        self.assertEqual(result.returncode, 0, result.stderr)
        root = ElementTree.parse(plot).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        self.assertEqual(root.find(SVG + "title").text, awkward)
        self.assertEqual(len(root.findall(SVG + "circle")), len(result.stdout.splitlines()))

        unwritable = run("detect", example("finished.wav"), "--plot", self.path("no/such/dir/plot.svg"))
        self.assertEqual(unwritable.returncode, 1)
        self.assertIn("cannot write the plot", unwritable.stderr)


class Info(unittest.TestCase):
    def test_info_names_the_extension_node_type_and_model(self):
        result = run("info")
        self.assertEqual(result.returncode, 0, result.stderr)
        out = result.stdout
        for text in ["extension Veyra", "Veyra detection for identifying speaker turn changes in audio.",
                     "node type Veyra.Turn", "Voice, AI", "event turnDetected", "action infer", "action reset",
                     "input  input_features"]:
            self.assertIn(text, out)
        self.assertRegex(out, r"embedded model: \d+ bytes")
        self.assertRegex(out, r"output \S+")


def main():
    global VEYRA, EXAMPLES
    parser = argparse.ArgumentParser()
    parser.add_argument("--veyra", required=True)
    parser.add_argument("--examples", required=True)
    args, rest = parser.parse_known_args()
    VEYRA, EXAMPLES = args.veyra, args.examples
    unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
