#!/usr/bin/env python3
"""Lays a tiko package's effects over a video with PyAV, sound cues mixed
into the sound track.

    python3 render.py PACKAGE INPUT OUTPUT [--eyes auto|none] [--frames N]

Every frame of INPUT goes through a tiko.Player of the video's size; the eye
actors follow the eyes the detector finds (when the module has it). The
output is H.264 with AAC sound: the input's own sound with the wave files the
cues started laid over it, each at the time of the frame that asked for it.
"""

import argparse
import sys
from fractions import Fraction

import av
import numpy as np

import tiko

SAMPLE_RATE = 48000
CHANNELS = 2
AAC_FRAME = 1024


def has_cues(package):
    """Whether any step of the package starts a sound cue."""
    return any(step["cue"] is not None for actor in tiko.inspect(package)["actors"] for step in actor["steps"])


def read_sound(path, cache={}):
    """A wave file as (samples, 2) float32 at the output's rate; None when it
    cannot be read (a cue whose file is missing stays silent)."""
    if path not in cache:
        try:
            with av.open(path) as container:
                cache[path] = decode_sound(container)
        except (av.AVError, OSError) as e:
            print(f"render.py: warning: cue {path}: {e}", file=sys.stderr)
            cache[path] = None
    return cache[path]


def decode_sound(container, stream=None):
    resampler = av.AudioResampler(format="fltp", layout="stereo", rate=SAMPLE_RATE)
    chunks = []
    for frame in container.decode(stream if stream is not None else container.streams.audio[0]):
        for out in resampler.resample(frame):
            chunks.append(out.to_ndarray())
    for out in resampler.resample(None):
        chunks.append(out.to_ndarray())
    return np.concatenate(chunks, axis=1).T if chunks else np.zeros((0, CHANNELS), np.float32)


def mix(track, sound, at):
    """Adds `sound` into `track` from sample `at`, growing the track."""
    end = at + len(sound)
    if end > len(track):
        track = np.concatenate([track, np.zeros((end - len(track), CHANNELS), np.float32)])
    track[at:end] += sound
    return track


def encode_sound(output, stream, track):
    track = np.clip(track, -1.0, 1.0).astype(np.float32)
    for start in range(0, len(track), AAC_FRAME):
        chunk = np.ascontiguousarray(track[start:start + AAC_FRAME].T)
        if chunk.shape[1] < AAC_FRAME:
            chunk = np.pad(chunk, ((0, 0), (0, AAC_FRAME - chunk.shape[1])))
        frame = av.AudioFrame.from_ndarray(chunk, format="fltp", layout="stereo")
        frame.sample_rate = SAMPLE_RATE
        frame.pts = start
        for packet in stream.encode(frame):
            output.mux(packet)
    for packet in stream.encode(None):
        output.mux(packet)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("package")
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--eyes", choices=["auto", "none"], default="auto")
    parser.add_argument("--frames", type=int, help="render at most this many frames")
    args = parser.parse_args()

    with av.open(args.input) as source:
        video = source.streams.video[0]
        width, height = video.codec_context.width & ~1, video.codec_context.height & ~1
        rate = video.average_rate or Fraction(25)
        with_sound = bool(source.streams.audio) or has_cues(args.package)

        detector = tiko.EyeDetector() if args.eyes == "auto" and tiko.has_eyes else None
        reporter = tiko.EyeReporter() if tiko.has_eyes else None
        cues = []  # (frame index, wave file)
        with av.open(args.output, "w") as output, tiko.Player(args.package, size=(width, height)) as player:
            out_video = output.add_stream("libx264", rate=rate)
            out_video.width, out_video.height, out_video.pix_fmt = width, height, "yuv420p"
            out_sound = output.add_stream("aac", rate=SAMPLE_RATE, layout="stereo") if with_sound else None
            count = 0
            for frame in source.decode(video):
                if args.frames is not None and count >= args.frames:
                    break
                picture = frame.to_ndarray(width=width, height=height, format="bgr24")
                if reporter is not None:
                    for x, y in reporter.next(detector.feed(picture) if detector else []):
                        player.set_eye(x, y)
                shown = player.render(picture)
                cues += [(count, cue) for cue in player.cues]
                out = av.VideoFrame.from_ndarray(shown, format="bgr24")
                out.pts = count
                out.time_base = 1 / rate
                for packet in out_video.encode(out):
                    output.mux(packet)
                count += 1
            for packet in out_video.encode(None):
                output.mux(packet)

            if out_sound is not None:
                seconds = count / rate
                track = np.zeros((int(seconds * SAMPLE_RATE), CHANNELS), np.float32)
                if source.streams.audio:
                    source.seek(0)
                    own = decode_sound(source, source.streams.audio[0])[:len(track)]
                    track[:len(own)] += own
                for index, path in cues:
                    sound = read_sound(path)
                    if sound is not None:
                        track = mix(track, sound, int(index / rate * SAMPLE_RATE))
                encode_sound(output, out_sound, track)
    print(f"render.py: {count} frames, {len(cues)} cues, written to {args.output}")


if __name__ == "__main__":
    main()
