#!/usr/bin/python3
"""Parses one received message with Python's email package and prints what the tests check, as JSON."""
import email
import email.utils
import hashlib
import json
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw)
    result = {
        "headers": {name: msg[name] for name in ("From", "To", "Subject", "Date", "MIME-Version", "X-Mailer")},
        "date_iso": email.utils.parsedate_to_datetime(msg["Date"]).isoformat(),
        "content_type": msg.get_content_type(),
        "boundary": msg.get_boundary(),
        "preamble": msg.preamble,
        "defects": [type(d).__name__ for part in msg.walk() for d in part.defects],
        "parts": [],
    }
    for part in msg.get_payload():
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_param("charset"),
            "encoding": part["Content-Transfer-Encoding"],
            "name": part.get_param("name"),
            "disposition": part.get_content_disposition(),
            "filename": part.get_filename(),
        }
        data = part.get_payload(decode=True)
        if part.get_content_maintype() == "text":
            entry["lines"] = data.decode("ascii").splitlines()
        else:
            entry["sha256"] = hashlib.sha256(data).hexdigest()
            entry["size"] = len(data)
        result["parts"].append(entry)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
