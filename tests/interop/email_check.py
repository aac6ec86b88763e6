#!/usr/bin/python3
"""Reads one message with Python's email package and prints, one "key<TAB>values"
line each, the decoded headers, then per leaf part its media type, file name,
charset, size and SHA-256 of the decoded bytes (and of its text in UTF-8).
Usage: email_check.py default|compat32 FILE"""
import email, email.header, email.policy, email.utils, hashlib, sys

modern = sys.argv[1] == "default"
with open(sys.argv[2], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default if modern else email.policy.compat32)


def text(v):  # RFC 2047 words decoded, as each policy does it
    if v is None or modern:
        return v if v is None else str(v)
    return str(email.header.make_header(email.header.decode_header(str(v))))


def sha(b):
    return hashlib.sha256(b).hexdigest()


print("subject\t%s\nmessage_id\t%s" % (text(msg.get("Subject")) or "", str(msg.get("Message-ID")).strip("<>")))
for name in ("From", "To", "Cc"):
    values = msg.get_all(name) or []
    pairs = ([(a.display_name, a.addr_spec) for v in values for a in v.addresses] if modern
             else email.utils.getaddresses([str(v) for v in values]))
    for display, addr in pairs:
        if addr:  # an empty header may read as one empty address
            print("%s\t%s\t%s" % (name.lower(), text(display), addr))
print("type\t%s" % msg.get_content_type())
refs = " ".join(str(msg.get("References", "")).split())
print("python\t%s\t%s\t%s\t%s" % (msg.get("In-Reply-To"), refs, msg.get("MIME-Version"),
                                  email.utils.parsedate_to_datetime(str(msg.get("Date"))).year > 2000))
for part in (p for p in msg.walk() if not p.is_multipart()):
    payload = part.get_payload(decode=True) or b""
    name, charset = part.get_filename(), part.get_content_charset()
    if not modern and name and not name.isascii():
        name = "*"  # compat32 leaves 8-bit names undecoded
    line = [part.get_content_type(), name or "", charset or "", str(len(payload)), sha(payload)]
    if charset:
        line.append(sha((part.get_content() if modern else payload.decode(charset, "replace")).encode()))
    print("part\t" + "\t".join(line))
for d in (d for p in msg.walk() for d in p.defects if modern):
    print("defect\t" + type(d).__name__)
