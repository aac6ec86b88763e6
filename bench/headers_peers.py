#!/usr/bin/python3
# Python's email package on the same header values as bench_headers: Subject
# decoding (email.header), From and To address lists (email.utils plus
# email.header for the names) and Date parsing (email.utils), over every
# sample-corpus message, repeated. Prints lines like bench_headers:
#   peer=python-email task=<task> mb_per_s=<x> msgs_per_s=<y>
import os
import sys
import time
from email.header import decode_header, make_header
from email.utils import getaddresses, parsedate_tz

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, '..', '..', 'shared', 'corpus')
TARGET_VALUES = 100000  # fewer than bench_headers: a rate is a rate
FIELDS = ('subject', 'from', 'to', 'date')


def read_message(data):
    """Top-level header fields up to the first empty line, unfolded."""
    values = {}
    cur = None
    first = True
    for line in data.split(b'\n'):
        if line.endswith(b'\r'):
            line = line[:-1]
        if first and line.startswith(b'From '):
            first = False
            continue
        first = False
        if not line:
            break
        if line[:1] in (b' ', b'\t'):
            if cur is not None:
                values[cur] += line
            continue
        cur = None
        colon = line.find(b':')
        if colon <= 0:
            continue
        name = line[:colon].lower().decode('latin-1')
        if name in FIELDS and name not in values:
            values[name] = line[colon + 1:]
            cur = name
    return {k: v.strip().decode('latin-1') for k, v in values.items()}


def decode_text(text):
    try:
        return str(make_header(decode_header(text)))
    except Exception:
        return text


def parse_addresses(text):
    # The corpus holds a To value of 2710 encoded words on which Python's
    # recursive parser gives up (RecursionError); it counts as done.
    try:
        return [(decode_text(name), addr) for name, addr in getaddresses([text])]
    except RecursionError:
        return []


def main():
    if not os.path.isdir(CORPUS):
        print('headers_peers.py: no corpus at ' + CORPUS, file=sys.stderr)
        return 1
    messages = []
    for root, _dirs, files in os.walk(CORPUS):
        for f in sorted(files):
            if f.endswith('.md') or f.endswith('.tsv'):
                continue
            with open(os.path.join(root, f), 'rb') as fh:
                messages.append(read_message(fh.read()))
    per_round = sum(len(m) for m in messages)
    rounds = TARGET_VALUES // per_round + 1
    work = {k: [m[k] for _ in range(rounds) for m in messages if k in m] for k in FIELDS}
    funcs = {'subject': decode_text, 'from': parse_addresses, 'to': parse_addresses,
             'date': parsedate_tz}
    total_ns = 0
    total_bytes = 0
    for k in FIELDS:
        values = work[k]
        nbytes = sum(len(v.encode('latin-1', 'replace')) for v in values)
        f = funcs[k]
        start = time.perf_counter_ns()
        for v in values:
            f(v)
        ns = time.perf_counter_ns() - start
        total_ns += ns
        total_bytes += nbytes
        s = ns / 1e9
        print('peer=python-email task=%s mb_per_s=%.2f msgs_per_s=%.0f' % (k, nbytes / 1e6 / s, len(values) / s))
    s = total_ns / 1e9
    print('peer=python-email task=headers mb_per_s=%.2f msgs_per_s=%.0f'
          % (total_bytes / 1e6 / s, rounds * len(messages) / s))
    return 0


if __name__ == '__main__':
    sys.exit(main())
