#!/usr/bin/python3
"""Local SMTP server for the mail tests and the mail benchmark.

Listens on 127.0.0.1 on a free port and prints "READY <port>" once it accepts connections.
Runs until its standard input closes (so it never outlives the program that started it).
With --outdir every message is written as received (NNNN.eml) with its envelope (NNNN.json),
and every AUTH attempt is appended to auth.jsonl. With --login, AUTH LOGIN and PLAIN are
offered (on plain TCP unless TLS is asked for) and only that login and --password are accepted;
XOAUTH2 accepts that login with --token. --starttls CERT KEY requires STARTTLS before anything
else; --tls CERT KEY speaks TLS from the connect. --delay SECONDS waits that long before accepting
each message; --drop-every N closes the connection after accepting every Nth message; --refuse
ADDRESS refuses that recipient (as often as given).
--hostile MODE speaks a plain SMTP dialogue of its own instead (no STARTTLS, any AUTH LOGIN
accepted), writes every line it receives to commands.log, and misbehaves: "plain" not at all;
"dribble" sends each reply a byte at a time, 50 ms apart; "flood" answers EHLO with "250-" lines
without end; "endless" answers the final "." with "250-" lines every 20 ms without end; "stuck"
never answers the final ".".
"""
import argparse
import asyncio
import base64
import json
import logging
import os
import socket
import ssl
import sys
import threading
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


def record_auth(outdir, record):
    if outdir:
        with open(os.path.join(outdir, "auth.jsonl"), "a") as f:
            f.write(json.dumps(record) + "\n")


class Recorder:
    def __init__(self, args):
        self.args = args
        self.count = 0
        self.lock = threading.Lock()

    async def auth_XOAUTH2(self, server, args):
        """SASL XOAUTH2: a refused token gets the JSON challenge, then 535 once it is answered."""
        sent = base64.b64decode(args[1]).decode("utf-8", "replace") if len(args) > 1 else ""
        login, token = self.args.login, self.args.token
        ok = token is not None and sent == "user=%s\x01auth=Bearer %s\x01\x01" % (login, token)
        record_auth(self.args.outdir, {"mechanism": "XOAUTH2", "ok": ok, "sent": sent})
        if ok:
            return AuthResult(success=True, auth_data=login)
        await server.challenge_auth(json.dumps({"status": "401", "schemes": "bearer"}).encode())
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.refuse:
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.delay:
            await asyncio.sleep(self.args.delay)
        with self.lock:
            self.count += 1
            count = self.count
        if self.args.outdir:
            base = os.path.join(self.args.outdir, "%04d" % count)
            with open(base + ".json", "w") as f:
                json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, f)
            with open(base + ".eml", "wb") as f:
                f.write(envelope.original_content)
        if self.args.drop_every and count % self.args.drop_every == 0:
            # Runs once the reply below has been written: the client sees the 250, then the close.
            asyncio.get_running_loop().call_soon(server.transport.close)
        return "250 2.0.0 Message accepted"


class Authenticator:
    def __init__(self, login, password, outdir):
        self.login = login.encode("utf-8")
        self.password = password.encode("utf-8")
        self.outdir = outdir

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.login
              and auth_data.password == self.password)
        record = {"mechanism": mechanism, "ok": ok}
        if isinstance(auth_data, LoginPassword):
            record["login"] = auth_data.login.decode("utf-8", "replace")
            record["password"] = auth_data.password.decode("utf-8", "replace")
        record_auth(self.outdir, record)
        return AuthResult(success=ok, handled=False)


async def hostile(mode, log, reader, writer):
    """One misbehaving SMTP dialogue, as --hostile describes."""

    async def say(data):
        step = 1 if mode == "dribble" else len(data)
        for i in range(0, len(data), step):
            writer.write(data[i:i + step])
            await writer.drain()
            await asyncio.sleep(0.05 if mode == "dribble" else 0)

    async def without_end(pause):
        while True:
            await say(b"250-" + b"x" * 60 + b"\r\n")
            await asyncio.sleep(pause)

    replies = {"EHLO": b"250-hostile.test\r\n250 AUTH LOGIN\r\n", "AUTH": b"334 VXNlcm5hbWU6\r\n",
               "DATA": b"354 go ahead\r\n", "QUIT": b"221 bye\r\n"}
    in_data, auth = False, 0
    try:
        await say(b"220 hostile.test ESMTP ready for whatever comes next\r\n")
        while line := await reader.readline():
            text = line.rstrip(b"\r\n").decode("utf-8", "replace")
            if in_data and text != ".":
                continue
            if log:
                log.write(text + "\n")
            verb = text[:4].upper()
            if in_data:
                in_data = False
                if mode == "endless":
                    await without_end(0.02)
                if mode != "stuck":
                    await say(b"250 2.0.0 accepted\r\n")
            elif auth:
                auth -= 1
                await say(b"334 UGFzc3dvcmQ6\r\n" if auth else b"235 2.7.0 accepted\r\n")
            else:
                if verb == "EHLO" and mode == "flood":
                    await without_end(0)
                auth = 2 if verb == "AUTH" else 0
                in_data = verb == "DATA"
                await say(replies.get(verb, b"250 ok\r\n"))
                if verb == "QUIT":
                    break
    except ConnectionError:
        pass
    finally:
        writer.close()


def serve_hostile(args):
    async def run():
        log = open(os.path.join(args.outdir, "commands.log"), "a", buffering=1) if args.outdir else None
        server = await asyncio.start_server(lambda r, w: hostile(args.hostile, log, r, w), "127.0.0.1", 0)
        print("READY %d" % server.sockets[0].getsockname()[1], flush=True)
        # Until standard input closes, as for the real server.
        await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
        server.close()

    asyncio.run(run())


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    # aiosmtpd warns about its own deprecations on every login and logs a refused TLS handshake as
    # a traceback; the tests check the outcomes, and their output stays readable.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--outdir")
    parser.add_argument("--login")
    parser.add_argument("--password", default="")
    parser.add_argument("--token")
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--delay", type=float, default=0)
    parser.add_argument("--drop-every", type=int, default=0)
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--hostile", choices=("plain", "dribble", "flood", "endless", "stuck"))
    args = parser.parse_args()
    if args.hostile:
        serve_hostile(args)
        return

    def context(files):
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(*files)
        return ctx

    options = {}
    if args.login is not None:
        options["authenticator"] = Authenticator(args.login, args.password, args.outdir)
        # Over TLS from the connect aiosmtpd does not know that it is encrypted.
        options["auth_require_tls"] = bool(args.starttls)
    if args.starttls:
        options["tls_context"] = context(args.starttls)
        options["require_starttls"] = True
    if args.tls:
        options["ssl_context"] = context(args.tls)
    # Another program may take the free port between the probe and the bind: try again.
    for attempt in range(5):
        port = free_port()
        controller = Controller(Recorder(args), hostname="127.0.0.1", port=port, **options)
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
