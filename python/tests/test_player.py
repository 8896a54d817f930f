"""tiko.Player: the presented frames against the tiko program's, halving,
backgrounds, cues, threads, and every kind of bad argument."""

import sys
import threading

import numpy as np
import pytest

import tiko

from conftest import pattern_frames, run_tool

cv2 = pytest.importorskip("cv2")  # PNG files to compare with the tiko program's

# Eyes per frame as an eye file has them: both, none, the second alone, a
# hide (any negative coordinate), both again.
EYES = [
    [(100, 80), (160, 82)], [(102, 80), (162, 83)], [(104, 81), (164, 83)], [], [],
    [None, (170, 90)], [(110, 85), (170, 90)], [(-1, -1), (-1, -1)], [], [(60, 60), (250, 200)],
    [(61, 60), (250, 201)], [(62, 61), (251, 201)],
]


def write_eye_file(path, eyes):
    lines = ["frame,x1,y1,x2,y2"]
    for index, seen in enumerate(eyes):
        if not seen:
            continue
        fields = []
        for eye in list(seen) + [None] * (2 - len(seen)):
            fields += ["", ""] if eye is None else [str(eye[0]), str(eye[1])]
        lines.append(",".join([str(index)] + fields))
    path.write_text("\n".join(lines) + "\n")


@pytest.mark.parametrize("size", [(320, 240), (400, 300)])
def test_frames_and_eye_reports_match_the_tiko_program(tool, show, tmp_path, size):
    if not tiko.has_eyes:
        pytest.skip("built without the eye library")
    width, height = size
    frames = pattern_frames(len(EYES), width, height)
    for i, frame in enumerate(frames):
        assert cv2.imwrite(str(tmp_path / f"in_{i:04d}.png"), frame)
    write_eye_file(tmp_path / "eyes.csv", EYES)
    run_tool(tool, "render", show, "-i", tmp_path / "in_%04d.png", "-o", tmp_path / "out_%04d.png",
             "--eyes", tmp_path / "eyes.csv", "--stage", "stretch", "-q")

    reporter = tiko.EyeReporter()
    with tiko.Player(show, size=size) as player:
        for i, (frame, seen) in enumerate(zip(frames, EYES)):
            for x, y in reporter.next(seen):
                player.set_eye(x, y)
            ours = player.render(frame)
            theirs = cv2.imread(str(tmp_path / f"out_{i:04d}.png"))
            assert theirs is not None and theirs.shape == (height, width, 3)
            assert np.array_equal(ours, theirs), f"frame {i} differs in {np.count_nonzero(ours != theirs)} bytes"


def test_background_matches_the_tiko_program(tool, show, tmp_path):
    background = pattern_frames(1, 320, 240, seed=3)[0]
    assert cv2.imwrite(str(tmp_path / "bg.png"), background)
    run_tool(tool, "render", show, "--background", tmp_path / "bg.png", "-o", tmp_path / "out_%04d.png",
             "--frames", 4, "--eyes", "none", "-q")
    with tiko.Player(show, background=background) as player, tiko.Player(show) as framed:
        for i in range(4):
            ours = player.render()
            assert np.array_equal(ours, cv2.imread(str(tmp_path / f"out_{i:04d}.png"))), f"frame {i}"
            # The background is what render() takes for a frame.
            assert np.array_equal(ours, framed.render(background))


def test_without_background_renders_over_black(show):
    with tiko.Player(show) as player, tiko.Player(show) as framed:
        for _ in range(3):
            assert np.array_equal(player.render(), framed.render(np.zeros((240, 320, 3), np.uint8)))


def test_halving_takes_a_frame_of_twice_the_size(show):
    # A frame of 2 x 2 blocks of one colour halves to the frame of those
    # colours, however the pixels of a block are weighed.
    small = pattern_frames(6, 320, 240, seed=11)
    with tiko.Player(show) as halving, tiko.Player(show) as plain:
        for frame in small:
            big = frame.repeat(2, axis=0).repeat(2, axis=1)
            assert np.array_equal(halving.render(big, halve=True), plain.render(frame))


def test_rgb_order_in_and_out(show):
    frames = pattern_frames(4, 320, 240, seed=5)
    background = frames[0]
    with tiko.Player(show, background=background) as bgr, \
            tiko.Player(show, background=background[..., ::-1], rgb=True) as rgb:
        assert np.array_equal(rgb.render(), bgr.render()[..., ::-1])
        for frame in frames[1:]:
            expected = bgr.render(frame)
            assert np.array_equal(rgb.render(frame[..., ::-1]), expected[..., ::-1])
            # Per call, against the player's own default.
            assert np.array_equal(rgb.render(frame, rgb=False), bgr.render(frame))


def test_frames_of_any_memory_layout_give_the_same_result(show):
    frame = pattern_frames(1, 320, 240, seed=9)[0]
    wide = np.zeros((260, 340, 3), np.uint8)
    wide[10:250, 10:330] = frame
    layouts = {
        "slice": wide[10:250, 10:330],
        "fortran": np.asfortranarray(frame),
        "reversed twice": frame[::-1][::-1],
        "channels from a 4-channel array": np.dstack([frame, np.zeros((240, 320), np.uint8)])[..., :3],
    }
    with tiko.Player(show) as reference:
        expected = reference.render(frame)
    for name, view in layouts.items():
        before = view.copy()
        with tiko.Player(show) as player:
            assert np.array_equal(player.render(view), expected), name
        assert np.array_equal(view, before), f"{name}: the frame was changed"


def test_cues_name_the_waves_each_render_started(tmp_path):
    # "hi" plays on the first render only; "tik" on every render.
    script = {"pictures": [], "actors": [
        {"name": "once", "steps": [{"cue": "hi"}, {"advance": "hide"}]},
        {"name": "always", "steps": [{"cue": "tik", "advance": {"jump": 0}}]},
    ]}
    tiko.pack(script, tmp_path / "cues.tiko")
    hi, tik = str(tmp_path / "hi.wav"), str(tmp_path / "tik.wav")
    with tiko.Player(tmp_path / "cues.tiko") as player:
        assert player.cues == []
        player.render()
        assert player.cues == [hi, tik]
        for _ in range(3):
            player.render()
            assert player.cues == [tik]


def test_the_show_plays_its_cue_where_the_ball_bounces(show):
    # The ball moves 700 units a frame over a stage 10000 wide: it bounces
    # within 15 frames, and plays its cue then.
    with tiko.Player(show) as player:
        heard = []
        for _ in range(30):
            player.render()
            heard += player.cues
    assert heard and set(heard) == {str(show.parent / "bop.wav")}


def test_change_package(show, empty_package):
    frame = pattern_frames(1, 320, 240)[0]
    with tiko.Player(empty_package) as player:
        assert np.array_equal(player.render(frame), frame)
        assert not player.on_stage
        player.change_package(show)
        with tiko.Player(show) as fresh:
            assert np.array_equal(player.render(frame), fresh.render(frame))
        assert player.on_stage
        with pytest.raises(tiko.Error, match=r"^the package could not be loaded: .*missing\.tiko \(No such file"):
            player.change_package(show.parent / "missing.tiko")
        # Without a package the bare frames are shown.
        assert np.array_equal(player.render(frame), frame)
        player.change_package(show)
        assert not np.array_equal(player.render(frame), frame)


def test_open_failures_say_what_went_wrong(tmp_path, show):
    (tmp_path / "junk.tiko").write_bytes(b"not a package at all")
    with pytest.raises(tiko.Error, match=r"^the package could not be loaded: .*missing\.tiko \(No such file"):
        tiko.Player(tmp_path / "missing.tiko")
    with pytest.raises(tiko.Error, match=r"^the package could not be loaded: .*junk\.tiko \(not a package the player"):
        tiko.Player(str(tmp_path / "junk.tiko"))
    for size in [(0, 240), (320, 0), (-5, 10), (65536, 10), (10, 70000)]:
        with pytest.raises(ValueError, match=r"^size: the player takes frames of 1 to 65535 pixels a side"):
            tiko.Player(show, size=size)
    with pytest.raises(TypeError):
        tiko.Player(show, size=(320, 240, 3))
    with pytest.raises(TypeError):
        tiko.Player(42)


BAD_FRAMES = [
    (np.zeros((240, 320, 4), np.uint8), ValueError, r"expected shape \(240, 320, 3\), not \(240, 320, 4\)"),
    (np.zeros((240, 320), np.uint8), ValueError, r"expected shape \(240, 320, 3\), not \(240, 320\)"),
    (np.zeros((120, 160, 3), np.uint8), ValueError, r"expected shape \(240, 320, 3\), not \(120, 160, 3\)"),
    (np.zeros((320, 240, 3), np.uint8), ValueError, r"expected shape \(240, 320, 3\)"),
    (np.zeros((240, 320, 3), np.float32), TypeError, r"expected dtype uint8, not float32"),
    (np.zeros((240, 320, 3), np.uint16), TypeError, r"expected dtype uint8, not uint16"),
    (np.zeros((240, 320, 3), np.int8), TypeError, r"expected dtype uint8, not int8"),
    ([[0, 0, 0]] * 4, TypeError, r"expected a NumPy array of shape \(240, 320, 3\) and dtype uint8, not list"),
    (bytes(240 * 320 * 3), TypeError, r"expected a NumPy array .* not bytes"),
]


@pytest.mark.parametrize("frame, error, message", BAD_FRAMES, ids=[m for _, _, m in BAD_FRAMES])
def test_bad_frames_and_backgrounds_are_refused(show, frame, error, message):
    with tiko.Player(show) as player:
        with pytest.raises(error, match="^frame: " + message):
            player.render(frame)
        # Nothing was rendered: the next frame is the first.
        with tiko.Player(show) as fresh:
            assert np.array_equal(player.render(), fresh.render())
    with pytest.raises(error, match="^background: " + message):
        tiko.Player(show, background=frame)


def test_halving_needs_a_default_size_player_and_a_big_frame(show):
    big = np.zeros((480, 640, 3), np.uint8)
    with tiko.Player(show, size=(640, 480)) as player:
        with pytest.raises(ValueError, match=r"^halve: the player halves frames only at 320 x 240, not at 640 x 480"):
            player.render(big, halve=True)
    with tiko.Player(show) as player:
        with pytest.raises(ValueError, match=r"^frame: expected shape \(480, 640, 3\), not \(240, 320, 3\)"):
            player.render(np.zeros((240, 320, 3), np.uint8), halve=True)
        with pytest.raises(ValueError, match=r"^halve: there is no frame to halve"):
            player.render(halve=True)


def test_a_closed_player_refuses_every_call(show):
    player = tiko.Player(show)
    player.render()
    player.close()
    player.close()
    assert player.closed
    for call in [lambda: player.render(), lambda: player.set_eye(1, 2), lambda: player.change_package(show)]:
        with pytest.raises(ValueError, match="^the player is closed$"):
            call()
    with tiko.Player(show) as inside:
        pass
    assert inside.closed


def test_eye_reports_out_of_range_are_refused(show):
    with tiko.Player(show) as player:
        player.set_eye(-1, -(2 ** 31))
        for x, y in [(2 ** 31, 0), (0, -(2 ** 31) - 1), (1.5, 2)]:
            with pytest.raises(TypeError):
                player.set_eye(x, y)


def test_two_players_on_two_threads_render_at_once(show):
    # Frames large enough that a render lasts long enough for the other
    # thread to be woken and take its turn.
    size = (1280, 960)
    frames = pattern_frames(20, *size, seed=21)
    with tiko.Player(show, size=size) as alone:
        expected = [alone.render(frame) for frame in frames]

    # With a switch interval this long, a thread only gives the other one a
    # turn when it lets the interpreter lock go: the two loops take turns
    # only if render() does.
    started = {"a": [], "b": []}
    results = {}

    ready = threading.Barrier(2)

    def play(name):
        with tiko.Player(show, size=size) as player:
            out = []
            ready.wait()
            for frame in frames:
                started[name].append(sum(len(v) for v in started.values()))
                out.append(player.render(frame))
            results[name] = out

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100)
    try:
        threads = [threading.Thread(target=play, args=(name,)) for name in started]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    finally:
        sys.setswitchinterval(interval)
    for name in started:
        assert all(np.array_equal(a, b) for a, b in zip(results[name], expected)), name
    # Each thread started a render while the other was still in its loop.
    assert min(started["b"]) < max(started["a"]) and min(started["a"]) < max(started["b"])
