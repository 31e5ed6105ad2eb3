#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes the sample disc's menu tune: about twenty seconds of soft chords with an
arpeggio over them, as a 16-bit stereo WAVE file.

The tune is generated when the sample disc is made rather than kept in the repository:
it is a few lines of arithmetic against a few megabytes of audio. Standard library only
(wave, math, array), so it runs with any Python 3.

    tools/make_sample_music.py OUT.wav [--seconds 20] [--rate 44100]
"""

import argparse
import array
import math
import sys
import wave

TEMPO_BPM = 72
BEATS_PER_BAR = 4
# C major: I - vi - IV - V - IV - I, each chord a bar; (root MIDI note, chord tones as
# semitones above the root).
PROGRESSION = [
    (48, (0, 4, 7)),   # C
    (45, (0, 3, 7)),   # A minor
    (41, (0, 4, 7)),   # F
    (43, (0, 4, 7)),   # G
    (41, (0, 4, 7)),   # F
    (48, (0, 4, 7)),   # C, left to ring
]
# The arpeggio's walk over the chord (indices into root, third, fifth, octave, tenth).
ARPEGGIO = [0, 1, 2, 3, 4, 3, 2, 1]
# A slow melody over the arpeggio, one note per half bar (MIDI), None for a rest.
MELODY = [76, 74, 72, 76, 77, 76, 74, None, 72, 74, 72, None]

TABLE_SIZE = 4096
SINE = [math.sin(2 * math.pi * i / TABLE_SIZE) for i in range(TABLE_SIZE)]


def frequency(midi):
    return 440.0 * 2 ** ((midi - 69) / 12)


def tone(midi, seconds, rate, harmonics, attack, decay, release, detune=0.0):
    """One note as a list of floats: a few harmonics from the sine table, shaped by a
    linear attack, an exponential decay toward silence and a short release at the end."""
    count = int(seconds * rate)
    step = frequency(midi) * (1 + detune) * TABLE_SIZE / rate
    attack_samples = max(1, int(attack * rate))
    release_samples = max(1, int(release * rate))
    decay_factor = math.exp(-1.0 / (decay * rate)) if decay > 0 else 1.0
    out = [0.0] * count
    level = 1.0
    phases = [0.0] * len(harmonics)
    mask = TABLE_SIZE - 1
    for i in range(count):
        value = 0.0
        for h, (multiple, weight) in enumerate(harmonics):
            value += weight * SINE[int(phases[h]) & mask]
            phases[h] += step * multiple
        if i < attack_samples:
            envelope = i / attack_samples
        else:
            level *= decay_factor
            envelope = level
        if i > count - release_samples:
            envelope *= (count - i) / release_samples
        out[i] = value * envelope
    return out


class Mix:
    def __init__(self, seconds, rate):
        self.rate = rate
        self.left = [0.0] * int(seconds * rate)
        self.right = [0.0] * int(seconds * rate)

    def add(self, samples, start_seconds, gain, pan):
        """pan from -1 (left) to 1 (right), equal-power."""
        angle = (pan + 1) * math.pi / 4
        gain_left = gain * math.cos(angle)
        gain_right = gain * math.sin(angle)
        start = int(start_seconds * self.rate)
        end = min(len(self.left), start + len(samples))
        left, right = self.left, self.right
        for i in range(start, end):
            s = samples[i - start]
            left[i] += s * gain_left
            right[i] += s * gain_right


def compose(seconds, rate):
    beat = 60.0 / TEMPO_BPM
    bar = beat * BEATS_PER_BAR
    mix = Mix(seconds, rate)
    cache = {}

    def cached(key, make):
        if key not in cache:
            cache[key] = make()
        return cache[key]

    bars = min(len(PROGRESSION), int(seconds / bar + 0.999))
    electric_piano = ((1, 1.0), (2, 0.28), (3, 0.08), (4, 0.04))
    soft_pad = ((1, 1.0), (2, 0.12), (3, 0.05))
    for index in range(bars):
        root, intervals = PROGRESSION[index]
        start = index * bar
        last = index == bars - 1
        length = min(bar * (2.0 if last else 1.15), seconds - start)
        # Pad: the chord held softly, each voice slightly detuned left and right.
        for n, interval in enumerate(intervals):
            midi = root + 12 + interval
            for side, detune in ((-0.6, -0.0015), (0.6, 0.0015)):
                pad = cached(("pad", midi, detune, round(length, 3)),
                             lambda: tone(midi, length, rate, soft_pad, 0.45, 3.5, 0.6, detune))
                mix.add(pad, start, 0.055, side)
        # Bass: the root on beats one and three.
        for b in ((0, 2) if not last else (0,)):
            bass_length = beat * (2 if not last else 4)
            bass = cached(("bass", root, round(bass_length, 3)),
                          lambda: tone(root - 12, bass_length, rate, ((1, 1.0), (2, 0.3)), 0.01, 1.2, 0.2))
            mix.add(bass, start + b * beat, 0.16, 0.0)
        # Arpeggio: eighth notes over the chord, gently swaying between the speakers.
        chord = [root + 24 + i for i in intervals] + [root + 36, root + 36 + intervals[1]]
        steps = ARPEGGIO if not last else ARPEGGIO[:5]
        for k, which in enumerate(steps):
            midi = chord[which]
            note = cached(("arp", midi),
                          lambda: tone(midi, beat * 1.6, rate, electric_piano, 0.004, 0.45, 0.15))
            velocity = 0.11 if k % 2 == 0 else 0.085
            mix.add(note, start + k * beat / 2, velocity, 0.45 * math.sin(k * math.pi / 4))
    # Melody: one bell-like note per half bar.
    for k, midi in enumerate(MELODY):
        when = k * bar / 2
        if midi is None or when + 0.5 > seconds:
            continue
        note = cached(("melody", midi),
                      lambda: tone(midi, bar * 0.75, rate, ((1, 1.0), (2, 0.1), (4, 0.06)), 0.03, 1.1, 0.3))
        mix.add(note, when, 0.09, 0.15)
    return mix


def master(mix, seconds, rate):
    """Fades, then scales the loudest sample to about -3 dBFS."""
    count = len(mix.left)
    fade_in = int(0.4 * rate)
    fade_out = int(min(2.5, seconds / 4) * rate)
    for i in range(fade_in):
        g = i / fade_in
        mix.left[i] *= g
        mix.right[i] *= g
    for i in range(count - fade_out, count):
        g = (count - i) / fade_out
        g *= g
        mix.left[i] *= g
        mix.right[i] *= g
    peak = max(max(abs(v) for v in mix.left), max(abs(v) for v in mix.right), 1e-9)
    scale = 0.7 * 32767 / peak
    frames = array.array("h", [0]) * (2 * count)
    for i in range(count):
        frames[2 * i] = int(mix.left[i] * scale)
        frames[2 * i + 1] = int(mix.right[i] * scale)
    if sys.byteorder != "little":
        frames.byteswap()
    return frames


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the WAVE file to write")
    parser.add_argument("--seconds", type=float, default=20.0, help="length (default 20)")
    parser.add_argument("--rate", type=int, default=44100, help="sample rate in Hz (default 44100)")
    args = parser.parse_args()
    if not 1 <= args.seconds <= 120:
        parser.error("--seconds must lie between 1 and 120")
    if args.rate not in (32000, 44100, 48000):
        parser.error("--rate must be 32000, 44100 or 48000 (the Layer II rates of a Video CD menu)")
    frames = master(compose(args.seconds, args.rate), args.seconds, args.rate)
    with wave.open(args.output, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(args.rate)
        out.writeframes(frames.tobytes())
    print(f"{args.output}: {args.seconds:g} s, {args.rate} Hz stereo, 16-bit")


if __name__ == "__main__":
    main()
