#!/usr/bin/python3
# Python's email package on the same workload as bench_parse: every sample
# corpus message, repeated to at least 50 MB, parsed with message_from_bytes
# and walked (header fields, then every leaf part's type, encoding, charset
# and file name); with the compat32 policy and with the default policy; then
# the same plus decoding every leaf (get_payload(decode=True)).
#   peer=<name> task=<task> mb_per_s=<x> msgs_per_s=<y>
import email
import email.policy
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, '..', '..', 'shared', 'corpus')
TARGET_BYTES = 50 * 1000 * 1000


def load():
    files = []
    for root, _dirs, names in os.walk(CORPUS):
        for n in sorted(names):
            if n.endswith('.eml'):
                with open(os.path.join(root, n), 'rb') as f:
                    files.append(f.read())
    return files


def walk(msg, decode):
    n = 0
    for key in ('subject', 'from', 'to', 'date'):
        try:
            v = msg.get(key)
        except Exception:  # the default policy raises on some real headers
            continue
        if v is not None:
            n += len(str(v))
    for part in msg.walk():
        if part.is_multipart():
            continue
        n += len(part.get_content_type())
        n += len(part.get('content-transfer-encoding', ''))
        n += len(part.get_content_charset() or '')
        n += len(part.get_filename() or '')
        if decode:
            payload = part.get_payload(decode=True)
            if payload:
                n += len(payload)
    return n


def run(name, task, work, total, policy, decode):
    start = time.perf_counter()
    n = errors = 0
    for data in work:
        try:
            n += walk(email.message_from_bytes(data, policy=policy), decode)
        except Exception:
            errors += 1
    secs = time.perf_counter() - start
    print('peer=%s task=%s mb_per_s=%.1f msgs_per_s=%.0f' % (name, task, total / 1e6 / secs, len(work) / secs))
    if errors:
        print('# %s %s: %d messages raised' % (name, task, errors))
    sys.stdout.flush()


def main():
    files = load()
    if not files:
        print('parse_peers.py: no corpus', file=sys.stderr)
        return 1
    work, total = [], 0
    while total < TARGET_BYTES:
        for f in files:
            work.append(f)
            total += len(f)
    run('python-email-compat32', 'parse', work, total, email.policy.compat32, False)
    run('python-email-default', 'parse', work, total, email.policy.default, False)
    run('python-email-compat32', 'parse+decode', work, total, email.policy.compat32, True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
