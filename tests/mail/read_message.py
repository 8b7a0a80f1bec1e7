#!/usr/bin/python3
"""Parses one received message with Python's email package and prints what the tests check, as JSON.

"headers" are the header texts as sent; everything else is read with policy.default, as a
modern mail reader decodes it (encoded words, RFC 2231 names, charsets, quoted-printable).
"""
import email
import email.utils
import hashlib
import json
import sys
from email import policy

NAMES = ("From", "To", "Subject", "Date", "Message-ID", "MIME-Version", "X-Mailer")


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    as_sent = email.message_from_bytes(raw)
    msg = email.message_from_bytes(raw, policy=policy.default)
    result = {
        "headers": {name: as_sent[name] for name in NAMES if as_sent[name] is not None},
        "from_name": msg["From"].addresses[0].display_name,
        "date_iso": msg["Date"].datetime.isoformat(),
        "content_type": msg.get_content_type(),
        "boundary": msg.get_boundary(),
        "preamble": msg.preamble,
        "defects": [type(d).__name__ for part in msg.walk() for d in part.defects],
        "longest_line": max(len(line) for line in raw.split(b"\r\n")),
        "parts": [],
    }
    for part in msg.iter_parts():
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_param("charset"),
            "encoding": part["Content-Transfer-Encoding"],
            "name": part.get_param("name"),
            "disposition": part.get_content_disposition(),
            "filename": part.get_filename(),
        }
        if part.get_content_maintype() == "text":
            entry["lines"] = part.get_content().splitlines()
        else:
            data = part.get_content()
            entry["sha256"] = hashlib.sha256(data).hexdigest()
            entry["size"] = len(data)
        result["parts"].append(entry)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
