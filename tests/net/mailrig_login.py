#!/usr/bin/python3
"""Signs in to a submission server with Python's smtplib, one session per sign-in, all
at once, and prints one line per sign-in in the order given:

usage: mailrig_login.py PORT CAFILE [--before-tls] MECHANISM USER SECRET [MECHANISM USER SECRET ...]

    starttls=yes offered=PLAIN,LOGIN code=235 sent=250

starttls: whether the first EHLO lists STARTTLS; offered: the AUTH mechanisms of the EHLO
after STARTTLS (before it with --before-tls); code: the server's answers in the AUTH exchange,
comma-separated (334,535 for a refused token); sent: when the sign-in was accepted, the answer
to a message from USER to rcpt@example.org whose Subject is the mechanism (else none).
SECRET is the password (PLAIN, LOGIN) or the bearer token (XOAUTH2, OAUTHBEARER).
"""

import base64
import concurrent.futures
import smtplib
import ssl
import sys


def first_response(mechanism, user, secret):
    if mechanism == "PLAIN":
        return "\0%s\0%s" % (user, secret)
    if mechanism == "XOAUTH2":
        return "user=%s\x01auth=Bearer %s\x01\x01" % (user, secret)
    if mechanism == "OAUTHBEARER":
        return "n,a=%s,\x01auth=Bearer %s\x01\x01" % (user, secret)
    return None


def sign_in(smtp, mechanism, user, secret):
    """The server's answers to AUTH; a refused token's 334 error gets the empty reply RFC 7628 asks for."""
    initial = first_response(mechanism, user, secret)
    if initial is not None:
        codes = [smtp.docmd("AUTH", mechanism + " " + base64.b64encode(initial.encode()).decode())[0]]
        if codes[-1] == 334:
            codes.append(smtp.docmd("")[0])
        return codes
    if mechanism != "LOGIN":
        return [smtp.docmd("AUTH", mechanism)[0]]
    codes = [smtp.docmd("AUTH", "LOGIN")[0]]
    for value in (user, secret):
        if codes[-1] != 334:
            break
        codes.append(smtp.docmd(base64.b64encode(value.encode()).decode())[0])
    return codes


def session(port, cafile, before_tls, mechanism, user, secret):
    with smtplib.SMTP("127.0.0.1", port, timeout=30) as smtp:
        smtp.ehlo("client.localhost")
        starttls = "yes" if smtp.has_extn("starttls") else "no"
        if not before_tls:
            smtp.starttls(context=ssl.create_default_context(cafile=cafile))
            smtp.ehlo("client.localhost")
        offered = ",".join(smtp.esmtp_features.get("auth", "").split())
        codes = sign_in(smtp, mechanism, user, secret)
        sent = "none"
        if codes[-1] == 235:
            message = "From: %s\r\nTo: rcpt@example.org\r\nSubject: %s\r\n\r\nBody.\r\n" % (user, mechanism)
            try:
                smtp.sendmail(user, ["rcpt@example.org"], message)
                sent = "250"
            except smtplib.SMTPException as e:
                sent = str(getattr(e, "smtp_code", "error"))
        return "starttls=%s offered=%s code=%s sent=%s" % (starttls, offered, ",".join(map(str, codes)), sent)


def main():
    args = sys.argv[1:]
    port, cafile = int(args.pop(0)), args.pop(0)
    before_tls = bool(args) and args[0] == "--before-tls"
    if before_tls:
        args.pop(0)
    signins = [args[i:i + 3] for i in range(0, len(args) - 2, 3)]
    # side by side: a server answers each refusal only after a pause, and the pauses overlap
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, len(signins))) as pool:
        for line in pool.map(lambda s: session(port, cafile, before_tls, *s), signins):
            print(line, flush=True)


if __name__ == "__main__":
    main()
