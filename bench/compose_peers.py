#!/usr/bin/python3
"""Composition peer: Python's email package builds and serialises the same
two-part messages that bench_compose composes in the store (a short UTF-8
text, quoted-printable, and a 100 KB binary attachment, base64; an encoded
Subject; three recipients, one with a non-ASCII name), and appends each to a
file behind a "From - " line, as the store does.

Two builders:
  python_emailmessage  email.message.EmailMessage (the modern policy):
                       set_content + add_attachment + as_bytes
  python_email_mime    the compat32 classes: MIMEMultipart, MIMEText,
                       MIMEApplication + as_bytes

N comes from ORVANE_BENCH_COMPOSE_MESSAGES (default 10000); each builder
runs min(N, ORVANE_BENCH_COMPOSE_PY_MESSAGES) messages (default 10000): the
rates are per message.

Prints: peer=<builder> task=compose_100k_attachment mb_per_s=<x> msgs_per_s=<y>
"""
import email.charset
import email.policy
import email.utils
import os
import random
import sys
import tempfile
import time
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.header import Header


def compose_text(i):
    # The same text as bench_compose.cpp's composeText().
    t = ("Hola equipo,\n\nadjunto el informe número %d con las cifras del trimestre. "
         "Según lo acordado, la revisión será el jueves.\n\n" % i).encode("utf-8")
    while len(t) < 1000:
        t += "Línea de relleno con acentos: áéíóú ñ — fin.\n".encode("utf-8")
    return (t + b"Un saludo,\nLuis\n").decode("utf-8")


QP_UTF8 = email.charset.Charset("utf-8")
QP_UTF8.body_encoding = email.charset.QP

FROM = "Luis García <luis@example.com>"
TO = ["Ana <ana@example.org>", "equipo@example.org", "Jörg Müller <jm@example.de>"]


def modern(i, text, blob):
    msg = EmailMessage()
    msg["Date"] = email.utils.formatdate(localtime=True)
    msg["From"] = FROM
    msg["To"] = ", ".join(TO)
    msg["Subject"] = "Informe %d — cifras del trimestre" % i
    msg["Message-ID"] = email.utils.make_msgid(domain="example.com")
    msg.set_content(text, charset="utf-8", cte="quoted-printable")
    msg.add_attachment(blob, maintype="application", subtype="pdf", filename="informe-%d.pdf" % i)
    return msg.as_bytes()


def compat(i, text, blob):
    msg = MIMEMultipart("related")
    msg["Date"] = email.utils.formatdate(localtime=True)
    msg["From"] = email.utils.formataddr(("Luis García", "luis@example.com"), charset="utf-8")
    msg["To"] = ", ".join([email.utils.formataddr(("Ana", "ana@example.org")), "equipo@example.org",
                           email.utils.formataddr(("Jörg Müller", "jm@example.de"), charset="utf-8")])
    msg["Subject"] = Header("Informe %d — cifras del trimestre" % i, "utf-8")
    msg["Message-ID"] = email.utils.make_msgid(domain="example.com")
    msg.attach(MIMEText(text, "plain", QP_UTF8))
    att = MIMEApplication(blob, "pdf")
    att.add_header("Content-Disposition", "attachment", filename="informe-%d.pdf" % i)
    msg.attach(att)
    return msg.as_bytes()


def run(name, build, n, blob, work):
    path = os.path.join(work, name)
    total = 0
    t0 = time.perf_counter()
    c0 = time.process_time()
    with open(path, "ab") as f:
        for i in range(n):
            b = bytearray(blob)
            b[0:4] = i.to_bytes(4, "little")
            text = compose_text(i)
            data = build(i, text, bytes(b))
            sep = ("From - %s\r\n" % time.ctime()).encode("ascii")
            f.write(sep + data + b"\r\n")
            total += len(text.encode("utf-8")) + len(blob)
    secs = max(time.perf_counter() - t0, 1e-9)
    cpu = time.process_time() - c0
    print("peer=%s task=compose_100k_attachment mb_per_s=%.1f msgs_per_s=%.0f seconds=%.3f cpu_s=%.3f"
          % (name, total / 1e6 / secs, n / secs, secs, cpu), flush=True)
    os.remove(path)


def main():
    n = max(10, int(os.environ.get("ORVANE_BENCH_COMPOSE_MESSAGES", "10000")))
    n = min(n, max(1, int(os.environ.get("ORVANE_BENCH_COMPOSE_PY_MESSAGES", "10000"))))
    rng = random.Random(42)
    blob = bytes(rng.getrandbits(8) for _ in range(100 * 1024))
    base = os.environ.get("ORVANE_BENCH_DIR") or None
    with tempfile.TemporaryDirectory(prefix="orvane-bench-compose-py-", dir=base) as work:
        run("python_emailmessage", modern, n, blob, work)
        run("python_email_mime", compat, n, blob, work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
