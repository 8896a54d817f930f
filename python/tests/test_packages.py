"""tiko.inspect, tiko.pack and tiko.unpack: the same packages, files and
errors as the tiko program's inspect, pack and unpack."""

import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import tiko

from conftest import disc, run_tool, show_script, stripes, write_wave

cv2 = pytest.importorskip("cv2")  # PNG files to compare with the tiko program's


def files_of(folder):
    return {p.name: p.read_bytes() for p in sorted(Path(folder).iterdir())}


def write_png_rgba(path, rgba):
    assert cv2.imwrite(str(path), cv2.cvtColor(rgba, cv2.COLOR_RGBA2BGRA))


def script_with_files(folder):
    """The show's script with its pictures written as PNG files."""
    script = show_script()
    for picture in script["pictures"]:
        name = picture["name"] + ".png"
        write_png_rgba(folder / name, picture["file"])
        picture["file"] = name
    return script


def test_pictures_as_arrays_pack_as_their_png_files_do(tool, tmp_path):
    script = script_with_files(tmp_path)
    (tmp_path / "show.json").write_text(json.dumps(script))
    run_tool(tool, "pack", tmp_path / "show.json", "-o", tmp_path / "cli.tiko")
    tiko.pack(show_script(), tmp_path / "arrays.tiko")
    tiko.pack(script, tmp_path / "files.tiko", base_dir=tmp_path)
    tiko.pack(tmp_path / "show.json", tmp_path / "script.tiko")
    cli = (tmp_path / "cli.tiko").read_bytes()
    for made in ["arrays.tiko", "files.tiko", "script.tiko"]:
        assert (tmp_path / made).read_bytes() == cli, made


def test_unpack_and_pack_round_trip_as_the_tiko_program(tool, show, tmp_path):
    run_tool(tool, "unpack", show, "-o", tmp_path / "cli")
    tiko.unpack(show, tmp_path / "py")
    cli_files = files_of(tmp_path / "cli")
    assert "bop.wav" in cli_files and "picture0.yuv420" in cli_files
    assert files_of(tmp_path / "py") == cli_files
    tiko.pack(tmp_path / "py" / "package.json", tmp_path / "again.tiko")
    assert (tmp_path / "again.tiko").read_bytes() == show.read_bytes()
    script = json.loads((tmp_path / "py" / "package.json").read_text())
    tiko.pack(script, tmp_path / "from-dict.tiko", base_dir=tmp_path / "py")
    assert (tmp_path / "from-dict.tiko").read_bytes() == show.read_bytes()


def test_inspect_gives_what_inspect_json_prints(tool, show):
    run = subprocess.run([tool, "inspect", str(show), "--json"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    inspected = tiko.inspect(show)
    assert inspected == json.loads(run.stdout)
    # Keys in the program's order, too.
    assert list(inspected) == list(json.loads(run.stdout))
    assert [a["name"] for a in inspected["actors"]] == ["ball", "caption", "$eye1", "$eye2"]
    assert tiko.inspect(str(show)) == inspected


def bad_scripts():
    """Scripts the packer refuses, each with a fault at another place."""
    good = {"name": "p", "file": "p.png"}
    return {
        "missing pictures": {"actors": []},
        "unknown field": {"pictures": [], "actors": [], "colour": 1},
        "unknown layout": {"pictures": [dict(good, layout="rgb")], "actors": []},
        "missing file": {"pictures": [{"name": "p", "file": "nothing.png"}], "actors": []},
        "twice the same name": {"pictures": [good, good], "actors": []},
        "jump past the end": {"pictures": [good], "actors": [
            {"name": "a", "steps": [{"advance": {"jump": 3}}]}]},
        "no such picture": {"pictures": [good], "actors": [{"name": "a", "steps": [{"picture": "q"}]}]},
        "long name": {"pictures": [], "actors": [{"name": "thirteen char", "steps": []}]},
        "bad cue": {"pictures": [], "actors": [{"name": "a", "steps": [{"cue": "a/b"}]}]},
        "threshold": {"pictures": [dict(good, mask="bit", threshold=0)], "actors": []},
    }


@pytest.mark.parametrize("name", list(bad_scripts()))
def test_script_errors_are_the_tiko_programs(tool, tmp_path, name):
    script = bad_scripts()[name]
    write_png_rgba(tmp_path / "p.png", disc(8, (10, 20, 30)))
    path = tmp_path / "bad.json"
    path.write_text(json.dumps(script))
    status, err = run_tool(tool, "pack", path, "-o", tmp_path / "cli.tiko", check=False)
    assert status == 1 and err.startswith("tiko: ") and err.count("\n") == 1, err
    message = err[len("tiko: "):-1]
    with pytest.raises(tiko.Error) as from_file:
        tiko.pack(path, tmp_path / "out.tiko")
    assert str(from_file.value) == message
    # A script given as a dict is no file: its errors name no file first.
    with pytest.raises(tiko.Error) as from_dict:
        tiko.pack(script, tmp_path / "out.tiko", base_dir=tmp_path)
    assert str(path) + ": " + str(from_dict.value) == message
    assert not (tmp_path / "out.tiko").exists() and not (tmp_path / "cli.tiko").exists()


def test_syntax_errors_and_unreadable_files_are_the_tiko_programs(tool, tmp_path):
    (tmp_path / "broken.json").write_text('{"pictures": [\n  {"name": }\n]}')
    (tmp_path / "show.tiko").write_bytes(b"VYRF but not really a package")
    cases = [
        (["pack", tmp_path / "broken.json", "-o", tmp_path / "x.tiko"],
         lambda: tiko.pack(tmp_path / "broken.json", tmp_path / "x.tiko")),
        (["pack", tmp_path / "none.json", "-o", tmp_path / "x.tiko"],
         lambda: tiko.pack(tmp_path / "none.json", tmp_path / "x.tiko")),
        (["unpack", tmp_path / "show.tiko", "-o", tmp_path / "out"],
         lambda: tiko.unpack(tmp_path / "show.tiko", tmp_path / "out")),
        (["unpack", tmp_path / "none.tiko", "-o", tmp_path / "out"],
         lambda: tiko.unpack(tmp_path / "none.tiko", tmp_path / "out")),
        (["inspect", tmp_path / "show.tiko"], lambda: tiko.inspect(tmp_path / "show.tiko")),
        (["inspect", tmp_path / "none.tiko"], lambda: tiko.inspect(tmp_path / "none.tiko")),
    ]
    for args, call in cases:
        status, err = run_tool(tool, *args, check=False)
        assert status == 1, err
        with pytest.raises(tiko.Error) as raised:
            call()
        assert "tiko: " + str(raised.value) + "\n" == err, args
    assert sorted(os.listdir(tmp_path)) == ["broken.json", "show.tiko"]


def test_pack_and_unpack_never_write_over_their_inputs(show, tmp_path):
    write_png_rgba(tmp_path / "p.png", disc(8, (10, 20, 30)))
    script = {"pictures": [{"name": "p", "file": "p.png"}], "actors": []}
    before = (tmp_path / "p.png").read_bytes()
    with pytest.raises(tiko.Error, match=r"^out_path: .*/\.\./[^/]+/p\.png is the same file as pictures\[0\]\.file "):
        tiko.pack(script, tmp_path / ".." / tmp_path.name / "p.png", base_dir=tmp_path)
    os.symlink(tmp_path / "p.png", tmp_path / "link.tiko")
    with pytest.raises(tiko.Error, match=r"is the same file as pictures\[0\]\.file"):
        tiko.pack(script, tmp_path / "link.tiko", base_dir=tmp_path)
    assert (tmp_path / "p.png").read_bytes() == before

    # The show's cue wave lies beside it: unpacking into its own folder would
    # write over it.
    folder = show.parent
    listing = files_of(folder)
    with pytest.raises(tiko.Error, match=r"^out_dir: .*bop\.wav is the same file as actors\[0\]\.steps\[2\]\.cue "):
        tiko.unpack(show, folder)
    assert files_of(folder) == listing
    with pytest.raises(tiko.Error, match=r"^cannot write .*: No such file or directory"):
        tiko.pack(script, tmp_path / "no" / "such" / "x.tiko", base_dir=tmp_path)


ARRAY_FAULTS = [
    (np.zeros((8, 8, 3), np.uint8), ValueError, r"^pictures\[0\]\.file: expected shape \(H, W, 4\), not \(8, 8, 3\)"),
    (np.zeros((8, 8), np.uint8), ValueError, r"^pictures\[0\]\.file: expected shape \(H, W, 4\), not \(8, 8\)"),
    (np.zeros((8, 8, 4), np.float64), TypeError, r"^pictures\[0\]\.file: expected dtype uint8, not float64"),
    (np.zeros((0, 8, 4), np.uint8), tiko.Error, r"^pictures\[0\]\.file: the array: 8 x 0 pixels; a picture has at least"),
    (np.zeros((1, 70000, 4), np.uint8), tiko.Error,
     r"^pictures\[0\]\.file: the array: 70000 x 1 pixels; pictures are at most 65535 pixels a side"),
]


@pytest.mark.parametrize("array, error, message", ARRAY_FAULTS, ids=[m for _, _, m in ARRAY_FAULTS])
def test_picture_arrays_of_the_wrong_kind_are_refused(tmp_path, array, error, message):
    with pytest.raises(error, match=message):
        tiko.pack({"pictures": [{"name": "p", "file": array}], "actors": []}, tmp_path / "x.tiko")
    assert not (tmp_path / "x.tiko").exists()


def test_picture_arrays_of_any_memory_layout_give_the_same_package(tmp_path):
    rgba = stripes(30, 12)
    wide = np.zeros((20, 40, 4), np.uint8)
    wide[4:16, 5:35] = rgba
    packages = set()
    for i, array in enumerate([rgba, np.asfortranarray(rgba), wide[4:16, 5:35], rgba[::-1][::-1]]):
        tiko.pack({"pictures": [{"name": "p", "file": array, "mask": "bit"}], "actors": []}, tmp_path / f"{i}.tiko")
        packages.add((tmp_path / f"{i}.tiko").read_bytes())
    assert len(packages) == 1


SCRIPT_VALUE_FAULTS = [
    ({"pictures": [], "actors": [], "x": {1, 2}}, TypeError, r"^x: expected a dict, list, str, int, float, bool or None, not set"),
    ({"pictures": [], "actors": [{"name": "a", "steps": [{"x": {"set": float("nan")}}]}]}, ValueError,
     r"^actors\[0\]\.steps\[0\]\.x\.set: nan is no JSON number"),
    ({"pictures": [], "actors": [{"name": "a", "steps": [{"x": {"set": 2 ** 70}}]}]}, ValueError,
     r"does not fit in 64 bits"),
    ({"pictures": [], "actors": [], 3: "x"}, TypeError, r"^3: keys are strings, not int"),
    ({"pictures": [], "actors": [{"name": "a", "steps": [{"x": np.zeros((2, 2, 4), np.uint8)}]}]}, TypeError,
     r"^actors\[0\]\.steps\[0\]\.x: an array stands only for a picture's \"file\""),
]


@pytest.mark.parametrize("script, error, message", SCRIPT_VALUE_FAULTS, ids=[m for _, _, m in SCRIPT_VALUE_FAULTS])
def test_script_values_json_cannot_hold_are_refused(tmp_path, script, error, message):
    with pytest.raises(error, match=message):
        tiko.pack(script, tmp_path / "x.tiko")


def test_numpy_numbers_and_tuples_are_json_numbers_and_arrays(tmp_path):
    step = {"x": {"set": np.int16(1200)}, "y": {"set": 300}, "width": {"set": np.uint32(400)}}
    tiko.pack({"pictures": (), "actors": ({"name": "a", "steps": (step,)},)}, tmp_path / "numpy.tiko")
    plain = {"x": {"set": 1200}, "y": {"set": 300}, "width": {"set": 400}}
    tiko.pack({"pictures": [], "actors": [{"name": "a", "steps": [plain]}]}, tmp_path / "plain.tiko")
    assert (tmp_path / "numpy.tiko").read_bytes() == (tmp_path / "plain.tiko").read_bytes()


def test_bad_arguments(tmp_path):
    with pytest.raises(TypeError, match="^script: expected a dict or the path of a JSON file, not list"):
        tiko.pack([], tmp_path / "x.tiko")
    with pytest.raises(TypeError):
        tiko.unpack(3, tmp_path)


def test_cue_waves_of_an_unpacked_package_are_copied(tmp_path):
    script = {"pictures": [], "actors": [{"name": "a", "steps": [{"cue": "hi"}, {"cue": "no"}]}]}
    tiko.pack(script, tmp_path / "cues.tiko")
    write_wave(tmp_path / "hi.wav")
    tiko.unpack(tmp_path / "cues.tiko", tmp_path / "out")
    out = files_of(tmp_path / "out")
    assert sorted(out) == ["hi.wav", "package.json"]
    assert out["hi.wav"] == (tmp_path / "hi.wav").read_bytes()
