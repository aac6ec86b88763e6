#!/usr/bin/python3
"""Python's codecs on the inputs of bench_codecs (see bench/bench_codecs.cpp).

Reads random.bin, b64.txt, text.txt and qp.txt from ORVANE_BENCH_DATA
(default $TMPDIR/orvane-bench-codecs); when they are missing it asks the
bench_codecs program of build-bench/ to write them. Prints
    peer=python task=<task> mb_per_s=<x>
with the same definition as bench_codecs: input bytes of the task / 10^6 per
CPU second of the process (user + system), best of ORVANE_BENCH_REPS (5).
Removes the input directory afterwards unless ORVANE_BENCH_KEEP is set.
"""
import binascii
import hashlib
import os
import quopri
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.environ.get("ORVANE_BENCH_DATA") or os.path.join(
    tempfile.gettempdir(), "orvane-bench-codecs")
FILES = ("random.bin", "b64.txt", "text.txt", "qp.txt")


def reps():
    try:
        n = int(os.environ.get("ORVANE_BENCH_REPS", "5"))
    except ValueError:
        n = 0
    return n if n > 0 else 5


def load_inputs():
    if not all(os.path.exists(os.path.join(DATA, f)) for f in FILES):
        exe = os.path.join(HERE, "..", "build-bench", "bench", "bench_codecs")
        if not os.access(exe, os.X_OK):
            sys.exit("codecs_peers.py: no inputs in %s and no %s (run bench/run)"
                     % (DATA, exe))
        subprocess.run([exe, "--inputs-only"], check=True)
    out = []
    for f in FILES:
        with open(os.path.join(DATA, f), "rb") as fh:
            out.append(fh.read())
    return out


def run(task, size, fn):
    best = float("inf")
    for _ in range(reps()):
        t0 = time.process_time()
        fn()
        best = min(best, time.process_time() - t0)
    best = max(best, 1e-9)
    print("peer=python task=%s mb_per_s=%.1f" % (task, size / 1e6 / best), flush=True)


def main():
    random, b64, text, qp = load_inputs()

    # Results agree with the inputs before anything is timed.
    checks = [
        (binascii.a2b_base64(b64) == random, "base64 decode"),
        (binascii.a2b_base64(binascii.b2a_base64(random)) == random, "base64 encode"),
        (quopri.decodestring(qp) == text, "qp decode"),
        (quopri.decodestring(quopri.encodestring(text)) == text, "qp encode"),
    ]
    for ok, what in checks:
        if not ok:
            print("codecs_peers.py: %s: results differ" % what, file=sys.stderr)

    run("base64_encode", len(random), lambda: binascii.b2a_base64(random))
    run("base64_decode", len(b64), lambda: binascii.a2b_base64(b64))
    run("qp_encode", len(text), lambda: quopri.encodestring(text))
    run("qp_decode", len(qp), lambda: quopri.decodestring(qp))
    run("md5", len(random), lambda: hashlib.md5(random).digest())

    if not os.environ.get("ORVANE_BENCH_KEEP"):
        shutil.rmtree(DATA, ignore_errors=True)


if __name__ == "__main__":
    main()
