#!/usr/bin/python3
"""Local SMTP server for the mail tests and the mail benchmark.

Listens on 127.0.0.1 on a free port and prints "READY <port>" once it accepts connections.
Runs until its standard input closes (so it never outlives the program that started it).
With --outdir every message is written as received (NNNN.eml) with its envelope (NNNN.json),
and every AUTH attempt is appended to auth.jsonl. With --login, AUTH LOGIN is offered on plain
TCP and only that login and --password are accepted.
"""
import argparse
import json
import os
import socket
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Recorder:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        if self.outdir:
            with self.lock:
                self.count += 1
                base = os.path.join(self.outdir, "%04d" % self.count)
            with open(base + ".json", "w") as f:
                json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
            with open(base + ".eml", "wb") as f:
                f.write(envelope.original_content)
        return "250 2.0.0 Message accepted"


class Authenticator:
    def __init__(self, login, password, outdir):
        self.login = login.encode("utf-8")
        self.password = password.encode("utf-8")
        self.outdir = outdir

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.login
              and auth_data.password == self.password)
        if self.outdir:
            record = {"mechanism": mechanism, "ok": ok}
            if isinstance(auth_data, LoginPassword):
                record["login"] = auth_data.login.decode("utf-8", "replace")
                record["password"] = auth_data.password.decode("utf-8", "replace")
            with open(os.path.join(self.outdir, "auth.jsonl"), "a") as f:
                f.write(json.dumps(record) + "\n")
        return AuthResult(success=ok, handled=False)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    # aiosmtpd warns about its own deprecations on every login; the tests' output stays readable.
    warnings.simplefilter("ignore")
    parser = argparse.ArgumentParser()
    parser.add_argument("--outdir")
    parser.add_argument("--login")
    parser.add_argument("--password", default="")
    args = parser.parse_args()

    options = {}
    if args.login is not None:
        options["authenticator"] = Authenticator(args.login, args.password, args.outdir)
        options["auth_require_tls"] = False
    # Another program may take the free port between the probe and the bind: try again.
    for attempt in range(5):
        port = free_port()
        controller = Controller(Recorder(args.outdir), hostname="127.0.0.1", port=port, **options)
        try:
            controller.start()
            break
        except Exception:
            if attempt == 4:
                raise
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
