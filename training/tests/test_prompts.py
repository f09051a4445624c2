"""Human prompt labels from transcripts, and how a prompt pack is split."""
import gzip
import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from veyra_train import prompts  # noqa: E402

import make_dataset  # noqa: E402


class PromptLabelTest(unittest.TestCase):
    def test_whole_prompt_labels_follow_how_the_text_ends(self):
        cases = {
            "La conferencia ha terminado.": 1,
            "Voulez-vous réessayer?": 1,
            "Gracias": 1,  # a one-word answer is a whole turn
            "Para reducir el volumen de otros participantes...": 0,
            "Pour baisser le volume\u2026": 0,
            "Actualmente hay": None,  # waits for a number
            "[tono simple]": None,
            "[ascending tones].": None,
        }
        for text, label in cases.items():
            self.assertEqual(prompts.whole_label(text), label, text)

    def test_cuts_only_inside_a_single_sentence(self):
        self.assertTrue(prompts.can_cut("Por favor ingrese su numero de agente seguido por la tecla de numero"))
        self.assertTrue(prompts.can_cut("...para reducir el volumen, presione uno."))
        self.assertTrue(prompts.can_cut("Actualmente hay"))
        self.assertFalse(prompts.can_cut("Clave incorrecta. Por favor ingrese su numero."))
        self.assertFalse(prompts.can_cut("Un momento! Por favor espere."))
        self.assertFalse(prompts.can_cut("Gracias."))
        self.assertFalse(prompts.can_cut("[tono de error]"))

    def test_transcript_reads_names_with_folders_and_skips_comments(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "core-sounds-es.txt.gz")
            with gzip.open(path, "wt", encoding="utf-8") as f:
                f.write("; Core sounds\n\nagent-pass: Por favor: ingrese su clave.\ndigits/17: diecisiete\n"
                        "empty:\n")
            self.assertEqual(prompts.transcript("es", folder),
                             {"agent-pass": "Por favor: ingrese su clave.", "digits/17": "diecisiete"})
            with self.assertRaises(SystemExit):
                prompts.transcript("fr", folder)
        self.assertEqual(prompts.prompt_name("/sounds/es", "/sounds/es/digits/17.wav"), "digits/17")


class HumanJobsTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.sounds = os.path.join(folder.name, "sounds")
        os.makedirs(os.path.join(self.sounds, "pack"))
        self.prompts = {"whole": "La conferencia ha terminado.", "trails": "Para bajar el volumen...",
                        "waits": "Actualmente hay", "two": "Clave incorrecta. Intente de nuevo.",
                        "beep": "[tono simple]"}
        for name in list(self.prompts) + ["unknown"]:
            open(os.path.join(self.sounds, "pack", name + ".wav"), "w").close()
        with gzip.open(os.path.join(folder.name, "core-sounds-es.txt.gz"), "wt", encoding="utf-8") as f:
            f.writelines(f"{name}: {text}\n" for name, text in self.prompts.items())
        self.transcripts = folder.name

    def jobs(self, split, count):
        with mock.patch.object(make_dataset, "SOUNDS", self.sounds), \
                mock.patch.object(prompts, "TRANSCRIPTS", self.transcripts):
            return make_dataset.human_jobs(7, 1.0, 0, [("es", "pack", split, count)])

    def test_prompts_carry_the_labels_their_text_supports(self):
        jobs = {os.path.splitext(os.path.basename(j["path"]))[0]: j for j in self.jobs("test", 10)}
        self.assertEqual(set(jobs), {"whole", "trails", "waits", "two"})  # no beep, no unknown text
        self.assertEqual((jobs["whole"]["whole_label"], jobs["whole"]["cut"]), (1, True))
        self.assertEqual((jobs["trails"]["whole_label"], jobs["trails"]["cut"]), (0, True))
        self.assertEqual((jobs["waits"]["whole_label"], jobs["waits"]["cut"]), (None, True))
        self.assertEqual((jobs["two"]["whole_label"], jobs["two"]["cut"]), (1, False))

    def test_training_pack_lends_a_block_to_validation_and_trains_on_all_the_rest(self):
        parts = make_dataset._pack_parts(os.path.join(self.sounds, "pack"), "pack", "train", 2, 0.1, seed=7)
        self.assertEqual(len(parts["val"]), int(make_dataset.HUMAN_VAL_PROMPTS * 0.1))
        self.assertEqual(len(parts["train"]) + len(parts["val"]), 6)
        self.assertFalse(set(parts["val"]) & set(parts["train"]))
        self.assertLessEqual(len(self.jobs("test", 2)), 2)  # a test pack: only its first prompts


if __name__ == "__main__":
    unittest.main()
