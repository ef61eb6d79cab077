"""The Windows program's message boxes on a display, answered as a player
answers them: each box is found on the screen by its caption and answered
with a key press, and the program goes on with the answer it got.

The environment names the program (QUORVANE_PROGRAM, the 64-bit build),
the native program that packs the patches (QUORVANE_NATIVE_PROGRAM) and the
display tests' own Wine prefix (QUORVANE_DIALOGUE_PREFIX).
"""
import os
import tempfile
import unittest
from pathlib import Path

import situations
from harness import Program
from patch_tree import SAMPLE_TREE, differences
from wine_display import IDNO, IDOK, IDYES, WineDisplay

# Return presses a box's default button: Yes in the question, OK elsewhere.
# "n" is the No button's access key.
YES, NO, OK = "Return", "n", "Return"


def snapshot(folder):
    """{relative path: content} of every file under `folder`."""
    return {str(path.relative_to(folder)): path.read_bytes()
            for path in Path(folder).rglob("*") if path.is_file()}


class DialogueTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        program = os.environ.get("QUORVANE_PROGRAM")
        prefix = os.environ.get("QUORVANE_DIALOGUE_PREFIX")
        if not program or not prefix:
            raise RuntimeError("QUORVANE_PROGRAM and QUORVANE_DIALOGUE_PREFIX must be set")
        cls.display = WineDisplay(program, prefix)
        cls.addClassCleanup(cls.display.close)
        cls.program = Program(cls.display.backend, under_wine=True)

    def setUp(self):
        temporary = tempfile.TemporaryDirectory(prefix="quorvane-dialogue-")
        self.addCleanup(temporary.cleanup)
        self.work = Path(temporary.name)

    def answer(self, launch, keys):
        """Runs `launch`, answers the boxes it shows with `keys`, one key per
        box in the order shown, and returns the run's Result once the
        program has ended. Answering No to the question shows no more."""
        run = self.display.start(launch.executable, launch.args, launch.cwd)
        self.addCleanup(run.kill)
        for box, key in zip(launch.boxes, keys):
            self.display.press(self.display.wait_for_box(box.caption, run), key)
        return run.finish()

    def assertAnswered(self, result, boxes, answers):
        """The run showed exactly `boxes`, each returned its answer in
        `answers`, and the program ended with 0."""
        self.assertEqual(result.boxes, boxes, result)
        self.assertEqual(result.answers, answers, result)
        self.assertEqual(result.exit_code, 0, result)

    def test_no_to_the_question_changes_nothing(self):
        launch = situations.real_patch(self.program, self.work)
        before = snapshot(launch.cwd)
        self.assertAnswered(self.answer(launch, [NO]), launch.boxes[:1], [IDNO])
        self.assertEqual(snapshot(launch.cwd), before)

    def test_yes_to_the_question_updates_and_reports_completion(self):
        launch = situations.real_patch(self.program, self.work)
        self.assertAnswered(self.answer(launch, [YES, OK]), launch.boxes, [IDYES, IDOK])
        self.assertEqual(differences(launch.cwd, SAMPLE_TREE), [])

    def test_each_error_box_appears_and_is_answered(self):
        cases = [
            # (situation, keys, answers, what the run must leave as it was)
            (situations.no_game, [OK], [IDOK], lambda launch: launch.cwd),
            (situations.damaged_patch, [YES, OK], [IDYES, IDOK], lambda launch: launch.cwd),
            (situations.pack_onto_folder, [OK], [IDOK], lambda launch: launch.args[1]),
            (situations.pack_onto_full_carrier, [OK], [IDOK], lambda launch: launch.args[1]),
        ]
        for situation, keys, answers, kept in cases:
            with self.subTest(situation.__name__):
                launch = situation(self.program, Path(tempfile.mkdtemp(dir=self.work)))
                before = self.state_of(kept(launch))
                self.assertAnswered(self.answer(launch, keys), launch.boxes, answers)
                self.assertEqual(self.state_of(kept(launch)), before)

    @staticmethod
    def state_of(path):
        """What a run must not change: a folder's files, or a file's size."""
        path = Path(path)
        return snapshot(path) if path.is_dir() else path.stat().st_size


if __name__ == "__main__":
    unittest.main()
