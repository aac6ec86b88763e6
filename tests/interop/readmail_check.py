#!/usr/bin/python3
"""What Python's email package (policy default) reads from message files.

Usage: readmail_check.py FILE...

Prints one line per file: a JSON array [file, subject, from_name,
from_addr, types], where types lists the media types of the leaf parts in
order (multiparts are walked, anything else is a leaf, a message/rfc822
part included). A value Python cannot give is null; a decoded value that
holds U+FFFD or a lone surrogate (bytes it could not decode) is null too.
"""

import email
import email.policy
import json
import sys


def clean(text):
    if text is None:
        return None
    text = str(text)
    if '\ufffd' in text or any(0xD800 <= ord(c) <= 0xDFFF for c in text):
        return None
    return text


def leaves(part, out):
    if part.get_content_maintype() == 'multipart' and isinstance(part.get_payload(), list):
        for sub in part.get_payload():
            leaves(sub, out)
    else:
        out.append(part.get_content_type())


def read(path):
    with open(path, 'rb') as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    row = [path, None, None, None, None]
    try:
        row[1] = clean(msg['subject']) if msg['subject'] is not None else None
    except Exception:
        pass
    try:
        addrs = msg['from'].addresses if msg['from'] is not None else ()
        if addrs:
            row[2] = clean(addrs[0].display_name)
            row[3] = clean(addrs[0].addr_spec)
    except Exception:
        pass
    try:
        types = []
        leaves(msg, types)
        row[4] = types
    except Exception:
        pass
    return row


for p in sys.argv[1:]:
    print(json.dumps(read(p), ensure_ascii=True))
