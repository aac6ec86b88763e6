#!/usr/bin/python3
"""Real peers for the SMTP sender's tests and benchmark.

  peer.py smtp --host H [--port P] [--store DIR]
      An aiosmtpd server on H:P (P 0: any free port). Every accepted message
      is written to DIR/NNNNNN.eml exactly as the server stored it (after
      its own un-stuffing), and its envelope to DIR/NNNNNN.env (sender, then
      one recipient per line).
  peer.py mx --address A --domain D [--store DIR]
      The same server on A:25 plus dnsmasq on A:53 answering MX queries for
      D with mx.D (preference 10, address A) and mx2.D (preference 20,
      address 127.0.0.2, where nobody listens), and for broken.D with
      nohost.D, a name without any address.

Prints "READY <smtp port>" once serving, or "FAILED <reason>" and exits 1.
Runs until its standard input closes (the test ends or dies) or it gets
SIGTERM; dnsmasq is killed with it.
"""

import argparse
import asyncio
import ctypes
import logging
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

from aiosmtpd.smtp import SMTP


def die_with_parent():
    # PR_SET_PDEATHSIG: killed when the process that started us goes away.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL, 0, 0, 0)
    except Exception:
        pass


class LongLineSMTP(SMTP):
    # Real messages hold lines far longer than 1000 octets; keep them.
    line_length_limit = 1 << 24


class Store:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        if self.directory:
            base = os.path.join(self.directory, "%06d" % self.count)
            with open(base + ".eml.tmp", "wb") as f:
                f.write(envelope.original_content)
            with open(base + ".env", "w") as f:
                f.write(envelope.mail_from + "\n")
                for r in envelope.rcpt_tos:
                    f.write(r + "\n")
            os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def dns_ready(address, domain, deadline):
    labels = b"".join(bytes([len(p)]) + p for p in domain.encode().split(b".")) + b"\0"
    query = struct.pack(">HHHHHH", 0x4f52, 0x0100, 1, 0, 0, 0) + labels + struct.pack(">HH", 15, 1)
    while time.monotonic() < deadline:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.settimeout(0.2)
        try:
            s.sendto(query, (address, 53))
            s.recvfrom(512)
            return True
        except OSError:
            time.sleep(0.05)
        finally:
            s.close()
    return False


def main():
    die_with_parent()
    logging.disable(logging.CRITICAL)
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="mode", required=True)
    p = sub.add_parser("smtp")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--store")
    p = sub.add_parser("mx")
    p.add_argument("--address", required=True)
    p.add_argument("--domain", required=True)
    p.add_argument("--store")
    args = ap.parse_args()

    dnsmasq = None
    workdir = tempfile.TemporaryDirectory(prefix="orvane-peer-")

    def failed(reason):
        print("FAILED " + reason, flush=True)
        if dnsmasq is not None:
            dnsmasq.kill()
        sys.exit(1)

    if args.mode == "mx":
        host, port = args.address, 25
        cmd = ["dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null",
               "--pid-file=" + os.path.join(workdir.name, "dnsmasq.pid"),
               "--port=53", "--listen-address=" + args.address, "--bind-interfaces",
               "--no-resolv", "--no-hosts", "--user=root",
               "--mx-host=%s,mx.%s,10" % (args.domain, args.domain),
               "--mx-host=%s,mx2.%s,20" % (args.domain, args.domain),
               "--host-record=mx.%s,%s" % (args.domain, args.address),
               "--host-record=mx2.%s,127.0.0.2" % args.domain,
               "--mx-host=broken.%s,nohost.%s,10" % (args.domain, args.domain)]
        try:
            dnsmasq = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, preexec_fn=die_with_parent)
        except OSError as e:
            failed("dnsmasq: %s" % e)
        if not dns_ready(args.address, args.domain, time.monotonic() + 5):
            err = b""
            if dnsmasq.poll() is not None:
                err = dnsmasq.stderr.read()
            failed("dnsmasq not answering: " + err.decode(errors="replace").strip().replace("\n", " "))
    else:
        host, port = args.host, args.port

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Store(args.store)
    try:
        server = loop.run_until_complete(loop.create_server(
            lambda: LongLineSMTP(handler, data_size_limit=None, hostname="peer.test"),
            host=host, port=port, reuse_address=True))
    except OSError as e:
        failed("smtp: %s" % e)
    port = server.sockets[0].getsockname()[1]

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=watch_stdin, daemon=True).start()
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    print("READY %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()
        if dnsmasq is not None:
            dnsmasq.kill()
            dnsmasq.wait()
        workdir.cleanup()


if __name__ == "__main__":
    main()
