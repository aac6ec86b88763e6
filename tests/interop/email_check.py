#!/usr/bin/python3
"""Reads message files with Python's email package and prints what it finds.

Usage: email_check.py FILE...

Prints one JSON object: {"FILE": {"default": RESULT, "compat32": RESULT}}
where RESULT holds the header values as the package decodes them and the
leaf parts in order (media type, file name, charset, SHA-256 of the decoded
bytes, the decoded text of text parts) and the names of the defects found.
Each file is read twice, with the modern policy and with compat32.
"""

import base64
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import sys


def defects_of(msg):
    found = []
    for part in msg.walk():
        found.extend(type(d).__name__ for d in part.defects)
    return found


def compat_text(value):
    """Decodes RFC 2047 words the compat32 way."""
    if value is None:
        return None
    return str(email.header.make_header(email.header.decode_header(str(value))))


def addresses(msg, name, modern):
    values = msg.get_all(name) or []
    if modern:
        out = []
        for v in values:
            for a in v.addresses:
                out.append([a.display_name, a.addr_spec])
        return out
    out = []
    for display, addr in email.utils.getaddresses([str(v) for v in values]):
        out.append([compat_text(display), addr])
    return out


def header_text(msg, name, modern):
    v = msg.get(name)
    if v is None:
        return None
    return str(v) if modern else compat_text(v)


def part_record(part, modern):
    payload = part.get_payload(decode=True)
    if payload is None:
        payload = b""
    rec = {
        "content_type": part.get_content_type(),
        "filename": part.get_filename(),
        "charset": part.get_content_charset(),
        "cte": part.get("Content-Transfer-Encoding"),
        "sha256": hashlib.sha256(payload).hexdigest(),
        "size": len(payload),
        "b64": base64.b64encode(payload).decode("ascii") if len(payload) <= 4096 else None,
    }
    if part.get_content_maintype() == "text":
        if modern:
            rec["text"] = part.get_content()
        else:
            rec["text"] = payload.decode(part.get_content_charset() or "latin-1", "replace")
    return rec


def read(path, policy):
    modern = policy is not email.policy.compat32
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=policy)
    parts = [part_record(p, modern) for p in msg.walk() if not p.is_multipart()]
    refs = msg.get("References")
    return {
        "subject": header_text(msg, "Subject", modern),
        "from": addresses(msg, "From", modern),
        "to": addresses(msg, "To", modern),
        "cc": addresses(msg, "Cc", modern),
        "message_id": str(msg.get("Message-ID")) if msg.get("Message-ID") is not None else None,
        "in_reply_to": str(msg.get("In-Reply-To")) if msg.get("In-Reply-To") is not None else None,
        "references": str(refs).split() if refs is not None else [],
        "date": str(email.utils.parsedate_to_datetime(str(msg.get("Date")))) if msg.get("Date") else None,
        "mime_version": str(msg.get("MIME-Version")) if msg.get("MIME-Version") else None,
        "content_type": msg.get_content_type(),
        "boundary": msg.get_boundary(),
        "parts": parts,
        "defects": defects_of(msg),
    }


def main(argv):
    result = {}
    for path in argv[1:]:
        entry = {}
        for name, policy in (("default", email.policy.default), ("compat32", email.policy.compat32)):
            try:
                entry[name] = read(path, policy)
            except Exception as e:  # reported, compared as a failure by the caller
                entry[name] = {"error": "%s: %s" % (type(e).__name__, e)}
        result[path] = entry
    json.dump(result, sys.stdout, ensure_ascii=True, indent=1)
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
