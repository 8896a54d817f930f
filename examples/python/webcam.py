#!/usr/bin/env python3
"""Live tiko effects over a camera or a video file, with OpenCV: the eye
actors follow the eyes the detector finds, and the result shows in a window.

    python3 webcam.py PACKAGE [--input 0|FILE] [--no-window] [--frames N]
                      [--output frame_%04d.png]

--input is a camera number (default 0) or a video file. Esc or q closes the
window. --no-window runs without one (on a machine without a display);
--output writes every shown frame as a numbered picture. Sound cues are
printed as they start.
"""

import argparse
import sys

import cv2

import tiko

WINDOW = "tiko"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("package")
    parser.add_argument("--input", default="0", help="camera number or video file")
    parser.add_argument("--no-window", action="store_true", help="show nothing (for machines without a display)")
    parser.add_argument("--frames", type=int, help="stop after this many frames")
    parser.add_argument("--output", help="write every frame as a numbered picture, such as frame_%%04d.png")
    args = parser.parse_args()

    capture = cv2.VideoCapture(int(args.input) if args.input.isdigit() else args.input)
    ok, frame = capture.read()
    if not ok:
        sys.exit(f"webcam.py: cannot read a frame from {args.input}")
    height, width = frame.shape[:2]
    detector = tiko.EyeDetector() if tiko.has_eyes else None
    reporter = tiko.EyeReporter() if tiko.has_eyes else None

    count = 0
    with tiko.Player(args.package, size=(width, height)) as player:
        while ok and (args.frames is None or count < args.frames):
            if reporter is not None:
                for x, y in reporter.next(detector.feed(frame)):
                    player.set_eye(x, y)
            shown = player.render(frame)
            for cue in player.cues:
                print(f"cue: {cue}")
            if args.output:
                cv2.imwrite(args.output % count, shown)
            if not args.no_window:
                cv2.imshow(WINDOW, shown)
                if cv2.waitKey(1) & 0xFF in (27, ord("q")):
                    break
            count += 1
            ok, frame = capture.read()
    capture.release()
    if not args.no_window:
        cv2.destroyAllWindows()
    print(f"webcam.py: {count} frames")


if __name__ == "__main__":
    main()
