#!/usr/bin/python3
"""Writes every attachment of one received message into a folder, decoded, under its file name."""
import email
import os
import sys


def main():
    with open(sys.argv[1], "rb") as f:
        msg = email.message_from_bytes(f.read())
    for part in msg.walk():
        name = part.get_filename()
        if name:
            with open(os.path.join(sys.argv[2], os.path.basename(name)), "wb") as out:
                out.write(part.get_payload(decode=True))
            print(name)


if __name__ == "__main__":
    main()
