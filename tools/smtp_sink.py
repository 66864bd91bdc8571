#!/usr/bin/python3
"""A local SMTP server for tests: accepts mail on 127.0.0.1 and writes every
message to a folder, one file per message.

usage: smtp_sink.py --port PORT --dir DIR [--user U --password P] [--refuse ADDR]
                   [--tls starttls|implicit --cert PEM --key PEM]

Port 0 picks a free port. The chosen port is printed on stdout as one line
once the server listens. AUTH LOGIN (and PLAIN) is offered without TLS and
accepts only the given user and password. A recipient named by --refuse is
answered with 550. With --tls starttls the server offers STARTTLS and takes
mail only after it; with --tls implicit it speaks TLS from the first byte.
Each message file holds the envelope first:

    FROM <sender>
    RCPT <recipient>        (one line per accepted recipient)
    AUTH <login>            (only when the client authenticated)
    <empty line>
    <the message data as received, dot-stuffing removed>

The server ends on SIGTERM, SIGINT or when its standard input closes.
"""

import argparse
import asyncio
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, folder, refuse):
        self.folder = folder
        self.refuse = refuse.lower()
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse and address.lower() == self.refuse:
            return "550 5.1.1 Recipient refused"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        head = ["FROM " + (envelope.mail_from or "")]
        head += ["RCPT " + r for r in envelope.rcpt_tos]
        login = getattr(session.auth_data, "login", None)
        if login is not None:
            head.append("AUTH " + login.decode("latin-1"))
        blob = ("\n".join(head) + "\n\n").encode("latin-1") + envelope.original_content
        name = os.path.join(self.folder, "msg-%06d.eml" % self.count)
        with open(name + ".tmp", "wb") as f:
            f.write(blob)
        os.rename(name + ".tmp", name)
        return "250 Message accepted for delivery"


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
    warnings.simplefilter("ignore", DeprecationWarning)
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--dir", required=True)
    p.add_argument("--user")
    p.add_argument("--password", default="")
    p.add_argument("--refuse", default="")
    p.add_argument("--tls", choices=["starttls", "implicit"])
    p.add_argument("--cert")
    p.add_argument("--key")
    a = p.parse_args()
    os.makedirs(a.dir, exist_ok=True)

    handler = Sink(a.dir, a.refuse)
    context = None
    if a.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    starttls = a.tls == "starttls"
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(
            handler,
            hostname="sink.localhost",
            auth_require_tls=starttls,
            require_starttls=starttls,
            tls_context=context if starttls else None,
            authenticator=make_authenticator(a.user, a.password),
        ),
        host="127.0.0.1",
        port=a.port,
        ssl=context if a.tls == "implicit" else None,
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
