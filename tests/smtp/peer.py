#!/usr/bin/python3
"""Real peers for the SMTP tests and benchmark; each prints "READY <smtp port>"
and runs until its standard input closes.

  smtp [--store DIR] [--tls DIR [--implicit-tls]] [--auth USER:SECRET] [--size N]
       [--smtputf8] [--refuse PREFIX] [--mx DOMAIN ADDRESS]   aiosmtpd on 127.0.0.1
       (with --mx: on ADDRESS:25, and dnsmasq on ADDRESS:53 names it as the
       exchange mx.DOMAIN): message N stored as DIR/NNNNNN.eml and its
       envelope as NNNNNN.env; 550 for PREFIX*.
  certs DIR   ca; server and other (other.test) by ca; selfsigned.
"""

import argparse
import asyncio
import ctypes
import logging
import os
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def make_certs(directory):
    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=directory, capture_output=True)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Orvane Test CA",
        "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE")
    run("req", "-x509", *key, "-keyout", "selfsigned.key", "-out", "selfsigned.pem", "-subj",
        "/CN=localhost", "-days", "2", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1")
    for name, alt in (("server", "DNS:localhost,IP:127.0.0.1"), ("other", "DNS:other.test")):
        with open(os.path.join(directory, name + ".ext"), "w") as f:
            f.write("subjectAltName=" + alt + "\n")
        run("req", *key, "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + alt[4:].split(",")[0])
        run("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", name + ".pem", "-days", "2", "-extfile", name + ".ext")


class Store:
    def __init__(self, directory, refuse):
        self.directory, self.refuse, self.count = directory, refuse, 0

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
            with open(base + ".env", "w") as f:
                f.write("".join(a + "\n" for a in [envelope.mail_from] + envelope.rcpt_tos))
            with open(base + ".eml.tmp", "wb") as f:
                f.write(envelope.original_content)
            os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def main():
    logging.disable(logging.CRITICAL)
    SMTP.line_length_limit = 1 << 24  # real messages hold lines far longer than 1000 octets
    warnings.filterwarnings("ignore")
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="mode", required=True)
    p = sub.add_parser("smtp")
    for flag in ("--store", "--tls", "--auth", "--refuse"):
        p.add_argument(flag)
    p.add_argument("--size", type=int)
    p.add_argument("--mx", nargs=2)
    for flag in ("--implicit-tls", "--smtputf8"):
        p.add_argument(flag, action="store_true")
    sub.add_parser("certs").add_argument("dir")
    args = ap.parse_args()
    if args.mode == "certs":
        make_certs(args.dir)
        print("READY 0", flush=True)
        return

    kwargs, listen_ssl, host, port = dict(hostname="peer.test"), None, "127.0.0.1", 0
    if args.mx:
        (d, host), port, pid = args.mx, 25, tempfile.mktemp()
        subprocess.Popen(["dnsmasq", "-k", "-C", "/dev/null", "--pid-file=" + pid, "--listen-address=" + host,
                          "--bind-interfaces", "--no-resolv", "--no-hosts", "--user=root",
                          "--mx-host=%s,mx.%s,10" % (d, d), "--host-record=mx.%s,%s" % (d, host)],
                         stdin=subprocess.DEVNULL, preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGKILL))
        limit = time.monotonic() + 5
        while time.monotonic() < limit and not (os.path.exists(pid) and os.path.getsize(pid)):
            time.sleep(0.01)  # dnsmasq has bound its port once its pid is written
    if args.tls:
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(os.path.join(args.tls, "server.pem"), os.path.join(args.tls, "server.key"))
        if args.implicit_tls:
            listen_ssl, kwargs["auth_require_tls"] = ctx, False  # the whole connection is TLS
        else:
            kwargs["tls_context"] = ctx
    if args.auth:
        secret = tuple(part.encode() for part in args.auth.partition(":")[::2])
        kwargs["authenticator"] = lambda srv, sess, env, mech, data: AuthResult(
            success=isinstance(data, LoginPassword) and (data.login, data.password) == secret, handled=False)
    kwargs["data_size_limit"], kwargs["enable_SMTPUTF8"] = args.size, args.smtputf8
    handler = Store(args.store, args.refuse)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(handler, **kwargs), host=host, port=port, ssl=listen_ssl))

    def watch_stdin():
        while sys.stdin.buffer.read(4096):
            pass
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=watch_stdin, daemon=True).start()
    print("READY %d" % server.sockets[0].getsockname()[1], flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
