#!/usr/bin/python3
"""Prints, per message file given, what Python's email package (policy default)
reads: a JSON array [file, subject, from_name, from_addr, leaf media types in
order] (multiparts walked, a message/rfc822 part is a leaf). A value Python
cannot give, or one holding U+FFFD or a lone surrogate, is null."""
import email
import email.policy
import json
import sys


def clean(text):
    text = None if text is None else str(text)
    bad = text is not None and ('\ufffd' in text or any(0xD800 <= ord(c) <= 0xDFFF for c in text))
    return None if bad else text


def leaves(part, out):
    if part.get_content_maintype() == 'multipart' and isinstance(part.get_payload(), list):
        for sub in part.get_payload():
            leaves(sub, out)
    else:
        out.append(part.get_content_type())
    return out


def attempt(row, index, get):
    try:
        row[index] = get()
    except Exception:
        pass


for path in sys.argv[1:]:
    with open(path, 'rb') as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    row = [path, None, None, None, None]
    attempt(row, 1, lambda: clean(msg['subject']))
    first = []
    attempt(row, 2, lambda: first.extend(msg['from'].addresses[:1] if msg['from'] is not None else ()))
    row[2] = clean(first[0].display_name) if first else None
    row[3] = clean(first[0].addr_spec) if first else None
    attempt(row, 4, lambda: leaves(msg, []))
    print(json.dumps(row, ensure_ascii=True))
