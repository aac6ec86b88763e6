#!/usr/bin/python3
"""Bulk import peer: Python parses each corpus message with the email
package (compat32 policy) and adds it to a mailbox.mbox, the same work as
the store's import (parse and store). Messages are the corpus's *.eml files
cycled, like bench_store; Python runs on
min(ORVANE_BENCH_STORE_MESSAGES, ORVANE_BENCH_STORE_PY_MESSAGES) messages
(defaults 100000 and 20000) so that the whole run stays short: the rates
are per message and per byte, comparable to the store's at full size.

Prints: peer=python_email_mbox task=import mb_per_s=<x> msgs_per_s=<y>
"""
import email
import email.policy
import mailbox
import os
import pathlib
import shutil
import sys
import tempfile
import time

CORPUS = pathlib.Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"


def main():
    corpus_dir = pathlib.Path(os.environ.get("ORVANE_CORPUS_DIR", CORPUS))
    files = sorted(p for p in corpus_dir.rglob("*.eml") if p.is_file())
    corpus = [p.read_bytes() for p in files]
    if not corpus:
        print(f"store_peers: no corpus messages in {corpus_dir}", file=sys.stderr)
        return 1
    n = max(2000, int(os.environ.get("ORVANE_BENCH_STORE_MESSAGES", "100000")))
    n = min(n, max(1, int(os.environ.get("ORVANE_BENCH_STORE_PY_MESSAGES", "20000"))))

    base = os.environ.get("ORVANE_BENCH_DIR") or None
    work = tempfile.mkdtemp(prefix="orvane-bench-store-py-", dir=base)
    try:
        box = mailbox.mbox(os.path.join(work, "box"), create=True)
        box.lock()
        total = 0
        start = time.perf_counter()
        cpu = time.process_time()
        for i in range(n):
            raw = corpus[i % len(corpus)]
            msg = email.message_from_bytes(raw, policy=email.policy.compat32)
            box.add(msg)
            total += len(raw)
        box.flush()
        box.unlock()
        box.close()
        secs = max(time.perf_counter() - start, 1e-9)
        cpu = time.process_time() - cpu
        print(f"peer=python_email_mbox task=import mb_per_s={total / 1e6 / secs:.1f} "
              f"msgs_per_s={n / secs:.0f} seconds={secs:.3f} cpu_s={cpu:.3f} messages={n}", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
