#!/usr/bin/python3
"""Reads one message as a mail server received it back with Python's email
package (default policy) and with SpamAssassin's local tests, and prints what a
test compares, one "key value" line each:

usage: mailcheck.py MESSAGE EXPECTED_SUBJECT EXPECTED_BODY [--spamassassin]

EXPECTED_SUBJECT and EXPECTED_BODY are files holding the Subject and the body
as the program wrote them (bytes, UTF-8 or Latin-1).

    defects N            header or body defects the parser found
    subject ok|differs   the decoded Subject against the expected one
    body ok|differs      the transfer-decoded body against the expected bytes
    text ok|differs      the body decoded with its declared charset
    charset NAME / cte NAME / message-id yes|no / mime-version VALUE
    longest N            the longest line of the message, CR LF not counted
    score X              SpamAssassin's score (with --spamassassin)
    tests NAMES          the SpamAssassin tests that hit
"""

import email
import email.policy
import os
import re
import codecs
import subprocess
import sys
import tempfile


_handled = []


def _cp1252_bytes(error):
    bad = error.object[error.start:error.end]
    _handled.append(len(bad))
    return bad.decode("cp1252", "replace"), error.end


codecs.register_error("cp1252_bytes", _cp1252_bytes)


def text_of(raw):
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        pass
    # a template's UTF-8 beside the values' Windows-1252 bytes goes out as UTF-8; Windows-1252 alone as Latin-1,
    # or as Windows-1252 when it holds one of that code page's own characters (0x80 to 0x9F)
    _handled.clear()
    mixed = raw.decode("utf-8", "cp1252_bytes")
    if sum(_handled) < sum(b >= 0x80 for b in raw):
        return mixed
    return raw.decode("cp1252", "replace") if any(0x80 <= b <= 0x9F for b in raw) else raw.decode("latin-1")


def main():
    path, subject_path, body_path = sys.argv[1:4]
    with open(path, "rb") as f:
        data = f.read()
    with open(subject_path, "rb") as f:
        subject = f.read()
    with open(body_path, "rb") as f:
        body = f.read()

    msg = email.message_from_bytes(data, policy=email.policy.default)
    defects = list(msg.defects)
    for name in msg.keys():
        defects += list(getattr(msg[name], "defects", []))
    print("defects", len(defects), " ".join(type(d).__name__ for d in defects))
    print("subject", "ok" if str(msg["subject"]) == text_of(subject) else "differs " + repr(str(msg["subject"])))
    print("body", "ok" if msg.get_payload(decode=True) == body else "differs")
    try:
        text = msg.get_content()
    except (LookupError, UnicodeError) as e:
        text = "(%s)" % e
    print("text", "ok" if text == body.decode(msg.get_content_charset() or "us-ascii", "replace") else "differs")
    print("charset", msg.get_content_charset())
    print("cte", msg.get("content-transfer-encoding"))
    print("message-id", "yes" if re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", str(msg.get("message-id", ""))) else "no")
    print("mime-version", msg.get("mime-version"))
    print("longest", max(len(line) for line in data.split(b"\r\n")))

    if "--spamassassin" in sys.argv[4:]:
        with tempfile.TemporaryDirectory() as home:
            env = dict(os.environ, HOME=home)
            run = subprocess.run(["spamassassin", "-L", "-t"], input=data, capture_output=True, env=env, timeout=300)
        out = run.stdout.decode("latin-1")
        status = re.search(r"^X-Spam-Status: .*?score=(-?[\d.]+).*?tests=(.*?)\s+autolearn", out, re.M | re.S)
        if status:
            print("score", status.group(1))
            print("tests", re.sub(r"\s+", "", status.group(2)))
        else:
            print("score none")


if __name__ == "__main__":
    main()
