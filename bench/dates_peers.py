#!/usr/bin/python3
"""Date header parsing with Python's email.utils.parsedate_to_datetime, on
the same values as bench_dates: the Date value (folds removed) of every
message in the shared corpus, from the message's own header block, repeated
in order to ORVANE_BENCH_DATES values (default 300000). Values that the
function rejects count as parsed (it raises, as it is meant to). Seconds are
CPU seconds of the process, best of ORVANE_BENCH_REPS runs (default 5).

Prints: peer=python-email task=date_parse msgs_per_s=<x>
"""
import os
import sys
import time
from email.utils import parsedate_to_datetime

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'shared', 'corpus')


def date_value(message):
    lines = message.split(b'\n')
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.endswith(b'\r'):
            line = line[:-1]
        if i == 0 and line.startswith(b'From '):
            i += 1
            continue
        if not line:
            break
        if line[:5].lower() == b'date:':
            value = line[5:]
            while i + 1 < len(lines) and lines[i + 1][:1] in (b' ', b'\t'):
                i += 1
                cont = lines[i]
                if cont.endswith(b'\r'):
                    cont = cont[:-1]
                value += cont
            return value
        i += 1
    return None


def main():
    root = os.environ.get('ORVANE_CORPUS_DIR', ROOT)
    paths = []
    for d, _, names in os.walk(root):
        paths.extend(os.path.join(d, n) for n in names if n.endswith('.eml'))
    # Same order as the C++ side: sorted by full path bytes.
    paths.sort(key=lambda p: p.encode())
    found = []
    for p in paths:
        with open(p, 'rb') as f:
            v = date_value(f.read())
        if v is not None:
            found.append(v.decode('latin-1'))
    if not found:
        print('dates_peers: no Date values under', root, file=sys.stderr)
        return 1
    want = int(os.environ.get('ORVANE_BENCH_DATES', '300000') or 300000)
    values = [found[i % len(found)] for i in range(want)]
    reps = int(os.environ.get('ORVANE_BENCH_REPS', '5') or 5)
    best = None
    for _ in range(reps):
        t0 = time.process_time()
        acc = 0
        for v in values:
            try:
                acc += parsedate_to_datetime(v).minute
            except (TypeError, ValueError):
                pass
        d = time.process_time() - t0
        best = d if best is None or d < best else best
    print('peer=python-email task=date_parse msgs_per_s=%.0f' % (len(values) / max(best, 1e-9)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
