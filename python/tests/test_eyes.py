"""tiko.EyeDetector, tiko.detect_eyes and tiko.EyeReporter against the tiko
program's eyes."""

import csv
import os
from pathlib import Path

import numpy as np
import pytest

import tiko

from conftest import run_tool, tool_path

cv2 = pytest.importorskip("cv2")  # PNG files to compare with the tiko program's

pytestmark = pytest.mark.skipif(not tiko.has_eyes, reason="built without the eye library")


def read_eye_file(path):
    eyes = {}
    with open(path) as f:
        for row in csv.reader(f):
            if not row or not row[0].isdigit():
                continue
            values = [int(v) if v else None for v in row[1:]]
            eyes[int(row[0])] = [(values[i], values[i + 1]) for i in (0, 2) if values[i] is not None]
    return eyes


@pytest.fixture(scope="module")
def face_frames(tmp_path_factory, empty_package):
    """Frames of the face photograph as the tiko program saw them, and the
    eyes it found on each."""
    tool = tool_path()
    if tool is None:
        pytest.skip("the tiko program is not built (TIKO_TOOL)")
    face = Path(os.environ.get("TIKO_SOURCE_DIR", Path(__file__).resolve().parents[2])) / "tools/tiko/media/astronaut.jpg"
    folder = tmp_path_factory.mktemp("face")
    run_tool(tool, "render", empty_package, "-i", face, "-o", folder / "f_%04d.png", "--frames", 3,
             "--eyes", "auto", "--eyes-out", folder / "eyes.csv", "-q")
    frames = [cv2.imread(str(folder / f"f_{i:04d}.png")) for i in range(3)]
    return frames, read_eye_file(folder / "eyes.csv")


def test_the_detector_finds_the_eyes_the_tiko_program_finds(face_frames):
    frames, expected = face_frames
    assert len(expected[0]) == 2, "the photograph shows both eyes"
    detector = tiko.EyeDetector()
    for i, frame in enumerate(frames):
        assert detector.feed(frame) == expected[i], f"frame {i}"
    assert tiko.detect_eyes(frames[0]) == expected[0]
    # The same picture again, each time a stream of its own.
    assert tiko.detect_eyes(frames[0]) == expected[0]
    detector.reset()
    assert detector.feed(frames[0][..., ::-1], rgb=True) == expected[0]


def test_no_face_no_eyes():
    assert tiko.detect_eyes(np.full((240, 320, 3), 128, np.uint8)) == []


def test_detector_arguments():
    with pytest.raises(tiko.Error, match="cascade"):
        tiko.EyeDetector(cascade_dir="/nonexistent/cascades")
    with pytest.raises(ValueError, match=r"^frame: expected shape \(H, W, 3\), not \(10, 10, 4\)"):
        tiko.detect_eyes(np.zeros((10, 10, 4), np.uint8))
    with pytest.raises(TypeError, match=r"^frame: expected dtype uint8, not float32"):
        tiko.EyeDetector().feed(np.zeros((10, 10, 3), np.float32))


def test_reporter_arguments():
    reporter = tiko.EyeReporter()
    with pytest.raises(ValueError, match="^eyes: expected at most two eyes, not 3"):
        reporter.next([(1, 1), (2, 2), (3, 3)])
    for bad in [[(1, 2, 3)], [(1.5, 2)], ["ab"], [(2 ** 31, 0)]]:
        with pytest.raises(TypeError, match=r"^eyes\[0\]: expected an \(x, y\) pair of 32-bit integers or None"):
            reporter.next(bad)
    with pytest.raises(TypeError):
        reporter.next(5)


def test_reporter_reports_two_fresh_eyes_as_they_are():
    # Fresh slots: the first report lands in the $eye1 slot on the tie, the
    # second in the other, staler one; nothing else is needed.
    reporter = tiko.EyeReporter()
    assert reporter.next([(100, 100), (200, 100)]) == [(100, 100), (200, 100)]
    reporter.reset()
    assert reporter.next(((100, 100), (200, 100))) == [(100, 100), (200, 100)]
