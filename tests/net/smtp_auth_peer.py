#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 for the login tests: it offers the login mechanisms it is told, checks
passwords and bearer tokens, and records the dialogue's commands (never their secrets) in a file.

usage: smtp_auth_peer.py --port PORT --record FILE --offer "PLAIN LOGIN XOAUTH2 OAUTHBEARER CRAM-MD5"
                         [--user U] [--password P] [--token T] [--tls starttls --cert PEM --key PEM]

Port 0 picks a free port, printed on stdout as one line once the server listens. --offer names the AUTH
mechanisms offered, in any choice of PLAIN, LOGIN, XOAUTH2, OAUTHBEARER and CRAM-MD5 (which always fails);
empty offers none. The account is --user; PLAIN and LOGIN accept --password, XOAUTH2 and OAUTHBEARER accept
the bearer token --token. A refused token gets the error challenge (334 and a JSON status), and the client's
answer to it is recorded, then 535. With --tls starttls the server offers STARTTLS, wants it first and offers
AUTH only afterwards.

The record holds one line per event, in order:

    EHLO | HELO | STARTTLS | MAIL   a command arrived
    AUTH <mechanism>                an AUTH command arrived
    ACK <hex>                       the client's answer to the error challenge, as hex of the decoded bytes
    DELIVERED <account>             a message was accepted from the signed-in account

The server ends on SIGTERM, SIGINT or when its standard input closes.
"""

import argparse
import asyncio
import base64
import json
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ALL_MECHANISMS = {"PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER", "CRAM-MD5"}


class Recorder:
    def __init__(self, path):
        self.path = path

    def write(self, line):
        with open(self.path, "a", encoding="latin-1") as f:
            f.write(line + "\n")


class Handler:
    def __init__(self, recorder):
        self.recorder = recorder

    async def handle_DATA(self, server, session, envelope):
        login = getattr(session.auth_data, "login", b"") or b""
        self.recorder.write("DELIVERED " + login.decode("latin-1"))
        return "250 Message accepted for delivery"


class AuthPeer(SMTP):
    def __init__(self, *args, recorder, user, token, **kwargs):
        self.recorder = recorder
        self.user = user
        self.token = token
        super().__init__(*args, **kwargs)

    async def smtp_EHLO(self, arg):
        self.recorder.write("EHLO")
        await super().smtp_EHLO(arg)

    async def smtp_HELO(self, arg):
        self.recorder.write("HELO")
        await super().smtp_HELO(arg)

    async def smtp_STARTTLS(self, arg):
        self.recorder.write("STARTTLS")
        await super().smtp_STARTTLS(arg)

    async def smtp_AUTH(self, arg):
        self.recorder.write("AUTH " + (arg or "").split(" ")[0].upper())
        await super().smtp_AUTH(arg)

    async def smtp_MAIL(self, arg):
        self.recorder.write("MAIL")
        await super().smtp_MAIL(arg)

    async def initial_response(self, args):
        if len(args) > 1:
            try:
                return base64.b64decode(args[1], validate=True)
            except ValueError:
                return None
        response = await self.challenge_auth("")
        return None if response is None or not isinstance(response, bytes) else response

    async def bearer_result(self, account, bearer, error):
        if account == self.user and bearer == "Bearer " + self.token:
            return AuthResult(success=True, auth_data=LoginPassword(account.encode("latin-1"), b""))
        answer = await self.challenge_auth(json.dumps(error))
        if isinstance(answer, bytes):
            self.recorder.write("ACK " + answer.hex())
            return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")
        return AuthResult(success=False, handled=True)

    # user=U ^A auth=Bearer T ^A ^A
    async def auth_XOAUTH2(self, _, args):
        blob = await self.initial_response(args)
        fields = dict(f.split("=", 1) for f in (blob or b"").decode("latin-1").split("\x01") if "=" in f)
        return await self.bearer_result(
            fields.get("user"), fields.get("auth"),
            {"status": "401", "schemes": "Bearer", "scope": "https://mail.google.com/"})

    # gs2 header ("n,a=U,") ^A key=value ^A ... ^A ^A
    async def auth_OAUTHBEARER(self, _, args):
        blob = (await self.initial_response(args) or b"").decode("latin-1")
        header, _, rest = blob.partition("\x01")
        account = next((p[2:] for p in header.split(",") if p.startswith("a=")), None)
        fields = dict(f.split("=", 1) for f in rest.split("\x01") if "=" in f)
        return await self.bearer_result(account, fields.get("auth"), {"status": "invalid_token", "scope": "smtp"})

    async def auth_CRAM__MD5(self, _, args):
        return AuthResult(success=False, handled=False)


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (
            user is not None
            and isinstance(auth_data, LoginPassword)
            and auth_data.login == user.encode("latin-1")
            and auth_data.password == password.encode("latin-1")
        )
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    return authenticate


async def main():
    warnings.simplefilter("ignore")
    # aiosmtpd warns about its own deprecated names at every login; real failures are errors
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--record", required=True)
    p.add_argument("--offer", default="PLAIN LOGIN")
    p.add_argument("--user", default="tester")
    p.add_argument("--password", default="")
    p.add_argument("--token", default="")
    p.add_argument("--tls", choices=["starttls"])
    p.add_argument("--cert")
    p.add_argument("--key")
    a = p.parse_args()

    recorder = Recorder(a.record)
    offered = set(a.offer.upper().split())
    context = None
    if a.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: AuthPeer(
            Handler(recorder),
            recorder=recorder,
            user=a.user,
            token=a.token,
            hostname="auth.localhost",
            auth_require_tls=bool(a.tls),
            require_starttls=bool(a.tls),
            tls_context=context,
            auth_exclude_mechanism=sorted(ALL_MECHANISMS - offered),
            authenticator=make_authenticator(a.user, a.password),
        ),
        host="127.0.0.1",
        port=a.port,
    )
    print(server.sockets[0].getsockname()[1], flush=True)

    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    try:
        # a closed pipe on standard input means the test that started us is gone
        loop.add_reader(sys.stdin.fileno(), lambda: stop.set() if not os.read(sys.stdin.fileno(), 4096) else None)
    except (OSError, ValueError):
        pass
    await stop.wait()
    server.close()
    await server.wait_closed()


if __name__ == "__main__":
    asyncio.run(main())
