"""Shared fixtures: the module from the build, the tiko program to compare
with, and packages made with tiko.pack."""

import os
import subprocess
import wave
from pathlib import Path

import numpy as np
import pytest

import tiko


def tool_path():
    """The tiko program of this build, or None."""
    path = os.environ.get("TIKO_TOOL")
    return path if path and os.path.exists(path) else None


@pytest.fixture(scope="session")
def tool():
    path = tool_path()
    if path is None:
        pytest.skip("the tiko program is not built (TIKO_TOOL)")
    return path


def run_tool(tool, *args, cwd=None, check=True):
    """Runs the tiko program; gives (status, stderr)."""
    run = subprocess.run([tool, *map(str, args)], cwd=cwd, capture_output=True, text=True)
    if check and run.returncode != 0:
        raise AssertionError(f"tiko {' '.join(map(str, args))} failed: {run.stderr}")
    return run.returncode, run.stderr


def disc(size, bgr, soft=True):
    """An RGBA disc picture."""
    c = (size - 1) / 2
    y, x = np.mgrid[0:size, 0:size]
    d = np.hypot(x - c, y - c) / (size / 2)
    rgba = np.zeros((size, size, 4), np.uint8)
    shade = np.clip(1.0 - 0.4 * d, 0, 1)
    for channel, value in enumerate(reversed(bgr)):
        rgba[..., channel] = (value * shade).astype(np.uint8)
    alpha = np.clip((1 - d) * 6, 0, 1) if soft else (d < 1)
    rgba[..., 3] = (255 * alpha).astype(np.uint8)
    return rgba


def stripes(width, height):
    rgba = np.zeros((height, width, 4), np.uint8)
    y, x = np.mgrid[0:height, 0:width]
    on = ((x + y) // 5) % 2 == 0
    rgba[..., 0] = np.where(on, 250, 30)
    rgba[..., 1] = np.where(on, 200, 90)
    rgba[..., 2] = np.where(on, 40, 220)
    rgba[..., 3] = np.where((y > 1) & (y < height - 2), 255, 0)
    return rgba


def show_script():
    """A show with pictures in every layout, a bouncing ball that plays a cue
    when it bounces, a caption that fades, and both eye actors set up as the
    host guide advises; pictures as arrays."""
    eye_steps = [{"width": {"set": 600}, "height": {"set": 450}}, {"picture": "eye"}]
    return {
        "pictures": [
            {"name": "ball", "file": disc(40, (40, 90, 230)), "layout": "yuv420"},
            {"name": "caption", "file": stripes(120, 20), "layout": "yuv422", "mask": "bit"},
            {"name": "eye", "file": disc(24, (250, 250, 250), soft=False), "compress": False},
        ],
        "defaultPicture": "ball",
        "actors": [
            {"name": "ball", "steps": [
                {"picture": "ball", "width": {"set": 1500}, "height": "proportional",
                 "x": {"set": 1000}, "y": {"set": 4000}},
                {"x": {"bounce": 700}, "y": {"bounce": -500}, "advance": {"jump": 1}, "alternate": "next"},
                {"cue": "bop", "advance": {"jump": 1}},
            ]},
            {"name": "caption", "steps": [
                {"picture": "caption", "width": {"set": 5000}, "height": {"set": 750},
                 "x": {"set": 2500}, "y": {"set": 500}, "opacity": {"set": 0}},
                {"opacity": {"add": 20}, "advance": {"repeat": 5}},
                {"opacity": {"add": -20}, "advance": {"repeat": 5}},
                {"advance": {"jump": 1}},
            ]},
            {"name": "$eye1", "steps": eye_steps},
            {"name": "$eye2", "steps": eye_steps},
        ],
    }


def write_wave(path, seconds=0.05, rate=22050):
    samples = (np.sin(np.arange(int(seconds * rate)) * 0.2) * 12000).astype("<i2")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())


@pytest.fixture(scope="session")
def show(tmp_path_factory):
    """The show package, with its cue's wave beside it."""
    folder = tmp_path_factory.mktemp("show")
    path = folder / "show.tiko"
    tiko.pack(show_script(), path)
    write_wave(folder / "bop.wav")
    return path


@pytest.fixture(scope="session")
def empty_package(tmp_path_factory):
    """A package without actors: the player shows the frames as they are."""
    path = tmp_path_factory.mktemp("empty") / "empty.tiko"
    tiko.pack({"pictures": [], "actors": []}, path)
    return path


def pattern_frames(count, width, height, seed=7):
    """Frames with gradients and noise, different every time."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    frames = []
    for i in range(count):
        frame = np.empty((height, width, 3), np.uint8)
        frame[..., 0] = (x * 255 // max(1, width - 1) + 9 * i) % 256
        frame[..., 1] = (y * 255 // max(1, height - 1)) % 256
        frame[..., 2] = rng.integers(0, 256, (height, width), dtype=np.uint8)
        frames.append(frame)
    return frames


@pytest.fixture
def source_dir():
    path = os.environ.get("TIKO_SOURCE_DIR")
    return Path(path) if path else Path(__file__).resolve().parents[2]
