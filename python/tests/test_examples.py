"""The examples in examples/python, run on a short clip as a user runs them."""

import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tiko
from conftest import pattern_frames

EXAMPLES = Path(os.environ.get("TIKO_SOURCE_DIR", Path(__file__).resolve().parents[2])) / "examples" / "python"
FRAMES = 25
SIZE = (160, 120)


def run_example(name, *args):
    run = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr
    return run.stdout


@pytest.fixture(scope="module")
def clip(tmp_path_factory):
    """A second of video with a silent sound track."""
    av = pytest.importorskip("av")
    path = tmp_path_factory.mktemp("clip") / "clip.mkv"
    with av.open(str(path), "w") as out:
        video = out.add_stream("mpeg4", rate=25)
        video.width, video.height, video.pix_fmt = *SIZE, "yuv420p"
        video.options = {"qscale": "2"}
        sound = out.add_stream("mp2", rate=48000, layout="stereo")
        for i, frame in enumerate(pattern_frames(FRAMES, *SIZE)):
            picture = av.VideoFrame.from_ndarray(frame, format="bgr24")
            picture.pts = i
            out.mux(video.encode(picture))
        out.mux(video.encode(None))
        for start in range(0, 48000, 1152):
            silence = av.AudioFrame.from_ndarray(np.zeros((1, 1152 * 2), np.int16), format="s16", layout="stereo")
            silence.sample_rate = 48000
            silence.pts = start
            out.mux(sound.encode(silence))
        out.mux(sound.encode(None))
    return path


def test_render_py_lays_the_effects_over_a_video_with_the_cues_mixed(show, clip, tmp_path):
    av = pytest.importorskip("av")
    out = tmp_path / "out.mp4"
    printed = run_example("render.py", show, clip, out, "--eyes", "none")
    assert f"{FRAMES} frames" in printed
    with av.open(str(out)) as result:
        assert result.streams.video[0].codec_context.name == "h264"
        frames = [f.to_ndarray(format="bgr24") for f in result.decode(video=0)]
        result.seek(0)
        sound = np.concatenate([f.to_ndarray() for f in result.decode(audio=0)], axis=1)
    assert len(frames) == FRAMES and frames[0].shape == (SIZE[1], SIZE[0], 3)
    # The clip is silent: what is heard is the ball's cue, and not before the
    # ball first bounces.
    with tiko.Player(show, size=SIZE) as player:
        heard = []
        for i in range(FRAMES):
            player.render()
            heard += [i] * len(player.cues)
    assert heard, "the ball bounces within a second"
    loud = np.flatnonzero(np.abs(sound).max(axis=0) > 0.05)
    assert loud.size > 0, "no cue was mixed in"
    # The wave rises from 0 over its first samples.
    assert 0 <= loud[0] - heard[0] / 25 * 48000 < 64, (loud[0], heard)


def test_webcam_py_shows_the_players_frames(show, clip, tmp_path):
    cv2 = pytest.importorskip("cv2")
    printed = run_example("webcam.py", show, "--input", clip, "--no-window", "--frames", 6,
                          "--output", tmp_path / "shown_%04d.png")
    assert "6 frames" in printed
    # The same frames through a player here: the clip shows no face, so no
    # eyes are reported.
    capture = cv2.VideoCapture(str(clip))
    with tiko.Player(show, size=SIZE) as player:
        for i in range(6):
            ok, frame = capture.read()
            assert ok
            expected = player.render(frame)
            assert np.array_equal(cv2.imread(str(tmp_path / f"shown_{i:04d}.png")), expected), f"frame {i}"
    assert not (tmp_path / "shown_0006.png").exists()
