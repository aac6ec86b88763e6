#!/usr/bin/python3
"""Benchmark peer: sends the same messages as bench_smtp with Python's
smtplib, one connection per message, to the server on 127.0.0.1:PORT.

  smtplib_send.py --port P --list FILE
      [--starttls CAFILE --user U --password P]
FILE names one message file per line. With --starttls all messages go over
one connection: STARTTLS, AUTH PLAIN, then sendmail in a loop. Prints one
benchmark line."""

import argparse
import re
import smtplib
import ssl
import time

BARE_LF = re.compile(rb"(?<!\r)\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--list", required=True)
    ap.add_argument("--task", default="smtp_send")
    ap.add_argument("--starttls")
    ap.add_argument("--user")
    ap.add_argument("--password")
    args = ap.parse_args()
    with open(args.list) as f:
        paths = [line.rstrip("\n") for line in f if line.strip()]
    messages = []
    for p in paths:
        with open(p, "rb") as f:
            messages.append(f.read())
    total = sum(len(m) for m in messages)
    start = time.perf_counter()
    if args.starttls:
        s = smtplib.SMTP("127.0.0.1", args.port)
        s.starttls(context=ssl.create_default_context(cafile=args.starttls))
        s.ehlo()
        s.esmtp_features["auth"] = "PLAIN"
        s.login(args.user, args.password)
        for m in messages:
            s.sendmail("ana@example.org", ["luis@example.net"], BARE_LF.sub(b"\r\n", m))
        s.quit()
        messages_done = True
    else:
        messages_done = False
    for m in ([] if messages_done else messages):
        # smtplib doubles leading dots itself but leaves bare LF in bytes
        # alone; turning them into CR LF is part of the client's work.
        data = BARE_LF.sub(b"\r\n", m)
        s = smtplib.SMTP("127.0.0.1", args.port)
        s.sendmail("ana@example.org", ["luis@example.net"], data)
        s.quit()
    elapsed = time.perf_counter() - start
    print("peer=python-smtplib task=%s mb_per_s=%.2f msgs_per_s=%.1f"
          % (args.task, total / elapsed / 1e6, len(messages) / elapsed), flush=True)


if __name__ == "__main__":
    main()
