#!/usr/bin/python3
"""Real peers for the SMTP tests and benchmark. Prints "READY <smtp port>"
once serving (or "FAILED <reason>", exit 1); runs until its standard input
closes or SIGTERM, and dnsmasq dies with it.

  peer.py smtp --host H [--port P] [--store DIR]   aiosmtpd on H:P (0: any
      port); message N stored as DIR/NNNNNN.eml as the server got it (after
      un-stuffing), its envelope in NNNNNN.env (sender, then recipients).
      --tls DIR [--cert CERT]: STARTTLS with DIR/CERT.pem/.key (default
      "server"); --implicit-tls: TLS from the first byte; --auth USER:SECRET
      (PLAIN, LOGIN, CRAM-MD5, XOAUTH2 with SECRET as token); --size N;
      --smtputf8; --refuse PREFIX: 550 for recipients starting with it.
  peer.py certs DIR   with openssl: ca, server (localhost, 127.0.0.1), other
      (other.test), expired (localhost) by ca, and selfsigned (localhost),
      as NAME.pem and NAME.key.
  peer.py mx --address A --domain D [--store DIR]   the server on A:25 and
      dnsmasq on A:53: MX for D is mx.D (10, address A) and mx2.D (20,
      127.0.0.2, nobody listens); MX for broken.D is nohost.D (no address).
"""

import argparse
import asyncio
import base64
import ctypes
import hmac
import ssl
import logging
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import warnings
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, auth_mechanism


def die_with_parent():
    # PR_SET_PDEATHSIG: killed when the process that started us goes away.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL, 0, 0, 0)
    except Exception:
        pass


class LongLineSMTP(SMTP):
    # Real messages hold lines far longer than 1000 octets; keep them.
    line_length_limit = 1 << 24


class SubmissionSMTP(LongLineSMTP):
    secret = None  # (user, secret) that authentication accepts

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, server, args):
        challenge = b"<%d.%d@peer.test>" % (os.getpid(), time.monotonic_ns())
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False, handled=True)
        user, _, digest = answer.partition(b" ")
        want = hmac.new(self.secret[1], challenge, "md5").hexdigest().encode()
        ok = user == self.secret[0] and hmac.compare_digest(digest, want)
        return AuthResult(success=ok, handled=False)

    @auth_mechanism("XOAUTH2")
    async def auth_XOAUTH2(self, server, args):
        try:
            fields = base64.b64decode(args[1], validate=True).split(b"\x01")
        except Exception:
            return AuthResult(success=False, handled=False)
        if fields[:2] == [b"user=" + self.secret[0], b"auth=Bearer " + self.secret[1]]:
            return AuthResult(success=True)
        # The error details come as a challenge; the client's empty answer
        # gets the final refusal.
        await server.push("334 " + base64.b64encode(b'{"status":"401"}').decode())
        await server._reader.readline()
        return AuthResult(success=False, handled=False)


def make_certs(directory):
    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=directory,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Orvane Test CA",
        "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE")
    run("req", "-x509", *key, "-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-subj",
        "/CN=localhost", "-days", "2", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    for name, cn, days in (("server", "localhost", "2"), ("other", "other.test", "2"),
                           ("expired", "localhost", "-1")):
        alt = "subjectAltName=DNS:%s,IP:127.0.0.1" % cn if cn == "localhost" else "subjectAltName=DNS:" + cn
        with open(os.path.join(directory, name + ".ext"), "w") as f:
            f.write(alt + "\n")
        run("req", *key, "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + cn)
        run("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", name + ".pem", "-days", days, "-extfile", name + ".ext")


class Store:
    def __init__(self, directory, refuse=None):
        self.directory = directory
        self.count = 0
        self.refuse = refuse

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return responses[:-1] + ["250-PIPELINING", "250-ENHANCEDSTATUSCODES", responses[-1]]

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse and address.startswith(self.refuse):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

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
    warnings.filterwarnings("ignore")
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="mode", required=True)
    p = sub.add_parser("smtp")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--store")
    p.add_argument("--tls")
    p.add_argument("--cert", default="server")
    p.add_argument("--implicit-tls", action="store_true")
    p.add_argument("--auth")
    p.add_argument("--size", type=int)
    p.add_argument("--smtputf8", action="store_true")
    p.add_argument("--refuse")
    p = sub.add_parser("certs")
    p.add_argument("dir")
    p = sub.add_parser("mx")
    p.add_argument("--address", required=True)
    p.add_argument("--domain", required=True)
    p.add_argument("--store")
    args = ap.parse_args()
    if args.mode == "certs":
        make_certs(args.dir)
        print("READY 0", flush=True)
        return

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
    handler = Store(args.store, getattr(args, "refuse", None))
    kwargs = dict(data_size_limit=None, hostname="peer.test")
    factory, listen_ssl = LongLineSMTP, None
    if getattr(args, "tls", None):
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(os.path.join(args.tls, args.cert + ".pem"), os.path.join(args.tls, args.cert + ".key"))
        if args.implicit_tls:
            listen_ssl = ctx
            kwargs["auth_require_tls"] = False  # the whole connection is TLS
        else:
            kwargs["tls_context"] = ctx
    if getattr(args, "auth", None):
        user, _, secret = args.auth.partition(":")
        factory = type("Peer", (SubmissionSMTP,), {"secret": (user.encode(), secret.encode())})
        kwargs["authenticator"] = lambda srv, sess, env, mech, data: AuthResult(
            success=isinstance(data, LoginPassword) and (data.login, data.password) == factory.secret,
            handled=False)
    if getattr(args, "size", None):
        kwargs["data_size_limit"] = args.size
    if getattr(args, "smtputf8", False):
        kwargs["enable_SMTPUTF8"] = True
    try:
        server = loop.run_until_complete(loop.create_server(
            lambda: factory(handler, **kwargs),
            host=host, port=port, reuse_address=True, ssl=listen_ssl))
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
