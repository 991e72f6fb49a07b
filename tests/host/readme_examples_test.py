#!/usr/bin/python3
"""Runs every nimbohall-render example of the README and the renderer's
documentation on small files and checks what it says it does.

    readme_examples_test.py PATH/TO/nimbohall-render README.md docs/renderer.md

Each example must exit 0 and print something; a file its comment names, and
every output or JSON file its arguments name, must exist afterwards; the
freeze example's tail must keep its level; the file of timed changes is the
one the README shows.
"""
import math
import os
import random
import shlex
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 48000
AUDIO = (".wav", ".flac", ".aiff", ".ogg")


def write_wav(path, frames, seconds_of_sound, seed):
    """16-bit stereo: decaying noise bursts every half second for the sound's length, then silence."""
    rng = random.Random(seed)
    data = bytearray()
    for n in range(frames):
        t = n / RATE
        level = 0.3 * math.exp(-8.0 * (t % 0.5)) if t < seconds_of_sound else 0.0
        left, right = (int(32767 * level * (rng.random() - 0.5)) for _ in range(2))
        data += struct.pack("<hh", left, right)
    with wave.open(path, "wb") as f:
        f.setnchannels(2)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(bytes(data))


def float_wav(path):
    """Interleaved samples of a 32-bit float WAV (what the renderer writes)."""
    with open(path, "rb") as f:
        data = f.read()
    at, channels = 12, 2
    while at < len(data):
        size = int.from_bytes(data[at + 4:at + 8], "little")
        if data[at:at + 4] == b"fmt ":
            channels = int.from_bytes(data[at + 10:at + 12], "little")
        if data[at:at + 4] == b"data":
            count = size // 4
            return channels, struct.unpack(f"<{count}f", data[at + 8:at + 8 + 4 * count])
        at += 8 + size + (size & 1)
    raise ValueError(f"{path}: no data")


def level_db(path, start, end):
    channels, samples = float_wav(path)
    part = samples[int(start * RATE) * channels:int(end * RATE) * channels]
    return 10.0 * math.log10(sum(s * s for s in part) / max(1, len(part)) + 1e-30)


def examples(documents):
    """The documents' indented example lines that run the renderer, and the moves.txt block."""
    lines = [line for path in documents for line in open(path, encoding="utf-8").read().splitlines()]
    commands = [line.strip() for line in lines if line.startswith("    nimbohall-render") and "[" not in line]
    start = lines.index("    # moves.txt")
    block = []
    for line in lines[start + 1:]:
        if not line.startswith("    "):
            break
        block.append(line[4:])
    return commands, "\n".join(block) + "\n"


def outputs_named(arguments, comment):
    named = [a for a in arguments[1:] if a.endswith(AUDIO) or a.endswith(".json")]
    named += [w for w in comment.split() if w.endswith(AUDIO)]
    return named


def main(argv):
    renderer = os.path.abspath(argv[1])
    commands, moves = examples(argv[2:])
    failures = []
    if len(commands) < 8:
        failures.append(f"only {len(commands)} examples found")
    with tempfile.TemporaryDirectory() as work:
        write_wav(os.path.join(work, "drums.wav"), RATE, 1.0, 1)
        write_wav(os.path.join(work, "vocal.wav"), RATE, 1.0, 2)
        write_wav(os.path.join(work, "pad.wav"), 3 * RATE, 3.0, 3)
        write_wav(os.path.join(work, "left-response.wav"), RATE, 0.5, 4)
        write_wav(os.path.join(work, "right-response.wav"), RATE, 0.5, 5)
        with open(os.path.join(work, "moves.txt"), "w", encoding="utf-8") as f:
            f.write(moves)
        for command in commands:
            code, _, comment = command.partition("  #")
            arguments = shlex.split(code)
            inputs = {a for a in arguments if os.path.exists(os.path.join(work, a))}
            done = subprocess.run([renderer] + arguments[1:], cwd=work, capture_output=True, text=True, timeout=600)
            print(f"{command}\n  -> {done.returncode}: {done.stdout.strip().splitlines()[:1]}")
            if done.returncode != 0:
                failures.append(f"{command}: exit {done.returncode}: {done.stderr.strip()}")
                continue
            if not done.stdout.strip():
                failures.append(f"{command}: printed nothing")
            expected = set(outputs_named(arguments, comment)) - inputs
            if len(arguments) == 1:
                expected.add("nimbohall-demo.wav")
            failures += [f"{command}: no {name}" for name in expected if not os.path.exists(os.path.join(work, name))]
            if "freezes the tail" in comment:
                frozen = level_db(os.path.join(work, "pad-frozen.wav"), 2.6, 3.0)
                channels, samples = float_wav(os.path.join(work, "pad-frozen.wav"))
                seconds = len(samples) / channels / RATE
                last = level_db(os.path.join(work, "pad-frozen.wav"), seconds - 0.5, seconds)
                print(f"  frozen tail {frozen:.1f} dBFS after the freeze, {last:.1f} dBFS at the end ({seconds:.2f} s)")
                if not (last > -80.0 and abs(last - frozen) < 1.0):
                    failures.append(f"{command}: the tail does not keep its level ({frozen:.1f} -> {last:.1f} dBFS)")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
