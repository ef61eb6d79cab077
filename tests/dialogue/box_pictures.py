#!/usr/bin/env python3
"""Takes a picture of every message box the Windows program can show, as it
appears on the screen, from the real program under Wine on an Xvfb display.
scripts/box-pictures.sh runs it for the README's pictures in docs/boxes.

Usage: box_pictures.py PROGRAM.exe PREFIX OUTPUT_FOLDER
  (QUORVANE_NATIVE_PROGRAM names the native program, which packs the patch)
"""
import sys
import tempfile
import time
from pathlib import Path

import situations
from harness import (CONFIRMATION, NOT_INSTALLED, OUTPUT_OPEN_ERROR, OUTPUT_WRITE_ERROR,
                     UPDATE_COMPLETE, UPDATE_FAILED, Program)
from wine_display import WineDisplay

# The picture of each box, by file name.
PICTURES = {OUTPUT_OPEN_ERROR: "output-open.png", OUTPUT_WRITE_ERROR: "write-error.png",
            NOT_INSTALLED: "not-installed.png", CONFIRMATION: "confirmation.png",
            UPDATE_FAILED: "failure.png", UPDATE_COMPLETE: "completion.png"}
# Situations that show every box between them; the question is answered Yes.
SITUATIONS = [situations.real_patch, situations.no_game, situations.damaged_patch,
              situations.pack_onto_folder, situations.pack_onto_full_carrier]
PAINT_DELAY = 1.0  # seconds for a box that has just appeared to be drawn


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    program, prefix, output = argv[0], Path(argv[1]), Path(argv[2])
    output.mkdir(parents=True, exist_ok=True)
    with WineDisplay(program, prefix) as display, tempfile.TemporaryDirectory() as work:
        patches = Program(display.backend, under_wine=True)
        for situation in SITUATIONS:
            launch = situation(patches, Path(tempfile.mkdtemp(dir=work)))
            run = display.start(launch.executable, launch.args, launch.cwd)
            try:
                for box in launch.boxes:
                    window = display.wait_for_box(box.caption, run)
                    time.sleep(PAINT_DELAY)
                    display.capture(window, output / PICTURES[box])
                    print(output / PICTURES[box])
                    display.press(window, "Return")
                result = run.finish()
            finally:
                run.kill()
            if result.boxes != launch.boxes:
                sys.exit(f"{situation.__name__} showed {result.boxes}, expected {launch.boxes}")


if __name__ == "__main__":
    main(sys.argv[1:])
