#!/usr/bin/python3
"""A local trademark office for tests, the demo and the benchmark.

usage: office_simulator.py serve [--port P] [--seed S] [--size N] [--day D] [--start DATE]
                                 [--rules-version V] [--churn normal|all]
                                 [--cert PEM --key PEM [--https-port P]]
                                 [--api-key KEY] [--per-minute N] [--sign-key PEM]
                                 [--shape small|real]
       office_simulator.py rules --base URL [--version V] [--format html|xml]
       office_simulator.py marks [--seed S] [--size N] [--day D] [--start DATE]
       office_simulator.py pages --out DIR --base URL [--seed S] [--size N]
                                 [--day D] [--start DATE] [--churn normal|all]
                                 [--shape small|real] [--format html|xml]

serve listens on 127.0.0.1 (port 0 picks a free one), prints the port on
stdout as one line, and ends on SIGTERM, SIGINT or when stdin closes. With
--cert and --key it listens on a second port for HTTPS as well and prints
that port on a second line; the XML records are served over HTTPS only.

A dataset of N marks is generated from the seed. Mark i has the serial number
75000001 + i and moves day by day along a prosecution path: filed, examined,
office actions (non-final, final, suspension inquiry) and their responses or
abandonment, published; an intent-to-use application then gets its notice of
allowance, up to five extensions of six months and its statement of use filed
and accepted; registered, a post-registration action now and then, renewed or
cancelled. Owners, attorneys and locations change now and then. Day 1 is
2004-01-05 unless --start names another date. The XML record carries the
status, its date and the history as the page shows them.

Requests:
  GET /servlet/tarr?regser=serial|registration|internationalreg&entry=N
        the status page of the mark on the current day, in the markup the
        default rules read; an unknown number gets the no-record page
  GET /ts/cd/casestatus/snSERIAL/info.xml (also rnREGNUM)
        over HTTPS: the mark's XML status record (ST.66 or ST.96, made from
        the real records in tests/data/office-records with the mark's values
        put in); with --api-key the header USPTO-API-KEY must carry the key
        (401 without it), and each key gets --per-minute requests (60) in
        any minute, past that 429 with Retry-After
  GET /support/tarnwick.txt    rules whose addresses point back here
  GET /support/tarnwick.txt.sig    with --sign-key: their detached Ed25519
                               signature made with that private key (openssl);
                               without it a 404
  GET /sim/day?d=N             sets the current day
  GET /sim/churn?mode=all|normal   all: every page changes every day
  GET /sim/fault?entry=N&kind=K    per-mark fault: none, 404, 500, truncated,
                                   reformatted (labels renamed), trickle,
                                   silent (never answers), close,
                                   429 (always 429, Retry-After: 1),
                                   429once (429 with Retry-After: 1 once),
                                   blank (only the numbers and the history
                                   heading), othermark (the next mark's
                                   page), nonumber (number labels renamed),
                                   serial:N, reg:N, intreg:N (the page
                                   names N as its serial, registration or
                                   international registration number)
  GET /sim/state               the day, the churn and the faults
  GET /sim/reset?d=N           day N (1 when not given), normal churn, no faults

Absolute request targets (through a proxy) are accepted as well. marks prints
one TAB-separated line per mark: serial, registration number, status text.

pages writes the day's status pages as files for a fast static server:
DIR/serial/NN-NNNNNN.html, DIR/registration/NNNNNNN.html (registered marks)
and DIR/support/tarnwick.txt; nginx maps /servlet/tarr to
/$arg_regser/$arg_entry.html. With --format xml it writes the XML records
instead, as DIR/ts/cd/casestatus/snSERIAL/info.xml (and rnREGNUM), for plain
HTTP; `rules --format xml` gives the office-xml rules pointing at --base.

--shape real pads each status page to a size of its own between 22 and 50 KB,
the sizes of the office's old pages, in their shape (head with style and
script, search form, goods and services, history table); the small pages
(about 2 KB) are the default.
"""

import argparse
import asyncio
import bisect
import datetime
import os
import random
import re
import signal
import subprocess
import ssl
import sys
import tempfile
import time
import urllib.parse
from collections import deque

DAY1 = datetime.date(2004, 1, 5)

WORDS = ["HARROW", "KESTREL", "LANTERN", "MERIDIAN", "NORTHWIND", "OSPREY", "PARAGON", "QUARRY", "RIVERSTONE",
         "SABLE", "TIMBERLINE", "UMBRA", "VESPER", "WILLOW", "YARROW", "ZEPHYR", "AMBER", "BRACKEN", "CINDER",
         "DUNMORE", "EMBER", "FALCON", "GRANITE", "HEATHER", "IRONWOOD", "JUNIPER"]
NOUNS = ["HARVEST", "LABS", "WORKS", "FOODS", "SYSTEMS", "TRAIL", "CRAFT", "GARDENS", "TOOLS", "PRESS"]
COMPANIES = ["Harrowgate & Lyle Provisions, Inc.", "Velmora Systems Inc.", "Kestrel GmbH", "Lantern Foods Co.",
             "Osprey Outfitters LLC", "Meridian Brands Ltd.", "Quarry Road Holdings Corp.", "Sable & Sons LLC",
             "Northwind Trading Company", "Ironwood Partners LP"]
ATTORNEYS = ["MARGARET T. ELLWOOD|ELLWOOD & PRATT LLP", "JONAS R. WEBB|WEBB IP GROUP",
             "ANITA K. RAO|BRENLOW PATENT LAW FIRM LLP", "PETER S. HOLM|HOLM & ASSOCIATES",
             "LUCIA D. FERRANTE|FERRANTE LEGAL PLLC"]
LOCATIONS = ["650 -Publication And Issue Section", "700 -Examining Attorney", "610 -Intent To Use Section",
             "900 -File Repository", "300 -Post Registration", "220 -TMEG Law Office 108"]


RESPONSE = "Teas Response To Office Action Received"
NON_FINAL = ("Non-final action e-mailed.", "Non-Final Action E-Mailed")
FINAL = ("Final refusal e-mailed.", "Final Refusal E-Mailed")


def date_of(day):
    return (DAY1 + datetime.timedelta(days=day - 1)).isoformat()


class Mark:
    """The prosecution path of one mark: a list of (day, changes) events, and
    the state after each of them."""

    def __init__(self, seed, index):
        rng = random.Random(seed * 1000003 + index)
        self.serial = "%08d" % (75000001 + index)
        self.regnum = "%07d" % (3000001 + index)
        words = rng.choice(WORDS) + (" " + rng.choice(NOUNS) if rng.random() < 0.7 else "")
        filed = rng.randint(-400, 20)
        state = {"words": words, "owner": rng.choice(COMPANIES), "attorney": rng.choice(ATTORNEYS),
                 "office": "LAW OFFICE %d" % rng.randint(101, 116), "filing": date_of(filed),
                 "status": "New application entered.", "statusday": filed, "published": "", "regdate": "",
                 "registered": False, "location": LOCATIONS[2], "locday": filed,
                 "history": [(filed, "New Application Entered In Tram")]}
        events = []
        day = filed
        # The later events (further office actions, allowance, extensions, post-registration actions) draw from
        # a generator of their own, so that the first one's draws, and so every mark's other events, stay as they
        # were; `shift` is how far those events have moved the rest of the mark's life on.
        more = random.Random(seed * 1000003 + index + 500009)
        intent_to_use = more.random() < 0.35
        shift = 0

        def at(day, **changes):
            events.append((day + shift, changes))

        def step(low, high, **changes):
            nonlocal shift
            shift += more.randint(low, high)
            at(day, **changes)

        day += rng.randint(40, 100)
        at(day, status="Assigned to examining attorney.", history="Assigned To Examiner", location=LOCATIONS[1])
        if rng.random() < 0.6:
            day += rng.randint(5, 30)
            at(day, status="Non-final action e-mailed.", history="Non-Final Action E-Mailed")
            if rng.random() < 0.2:
                day += rng.randint(60, 120)
                at(day, status="Abandoned - failure to respond.", history="Abandonment Notice Mailed",
                   location=LOCATIONS[3])
                self.build(state, events)
                return
            day += rng.randint(30, 90)
            at(day, status="Response received.", history=RESPONSE)
            further = more.random()
            if further < 0.3:
                # the response did not settle everything: a final refusal, or a further non-final action
                action = FINAL if further < 0.2 else NON_FINAL
                step(20, 60, status=action[0], history=action[1])
                if action is FINAL and more.random() < 0.15:
                    step(95, 130, status="Abandoned - failure to respond.", history="Abandonment Notice Mailed",
                         location=LOCATIONS[3])
                    self.build(state, events)
                    return
                step(30, 90, status="Response received.", history=RESPONSE)
            elif further < 0.37:
                # suspended for an earlier conflicting application; the office asks about it half a year on
                step(150, 240, status="Suspension inquiry e-mailed.", history="Suspension Inquiry E-Mailed")
                step(30, 90, status="Response received.", history=RESPONSE)
        day += rng.randint(10, 40)
        at(day, status="Approved for publication.", history="Approved For Pub - Principal Register",
           location=LOCATIONS[0])
        day += rng.randint(20, 40)
        at(day, status="Published for opposition.", history="Published For Opposition", published=date_of(day + shift))
        day += rng.randint(50, 90)
        if intent_to_use:
            # allowed, not registered: the owner has six months for the statement of use, and may ask for up to
            # five extensions of six months each, filed shortly before each period ends
            at(day, status="Notice of allowance issued.", history="Notice Of Allowance - Issued", location=LOCATIONS[2])
            allowed = day + shift
            extensions = more.choices(range(6), weights=[35, 25, 15, 10, 8, 7])[0]
            for n in range(1, extensions + 1):
                events.append((allowed + 182 * n - more.randint(5, 40),
                               {"status": "Extension %d granted." % n, "history": "Extension %d Granted" % n}))
            filed_use = allowed + 182 * extensions + more.randint(60, 175)
            events.append((filed_use, {"status": "Statement of use filed.",
                                       "history": "Teas Statement Of Use Received"}))
            accepted = filed_use + more.randint(20, 60)
            events.append((accepted, {"status": "Statement of use accepted.",
                                      "history": "Statement Of Use - Accepted"}))
            shift = accepted + more.randint(20, 45) - day
        at(day, status="Registered.", history="Registered - Principal Register", regdate=date_of(day + shift),
           registered=True, location=LOCATIONS[4])
        for _ in range(rng.randint(0, 2)):
            day += rng.randint(20, 200)
            if rng.random() < 0.5:
                at(day, owner=rng.choice(COMPANIES), history="Assignment Recorded")
            else:
                at(day, attorney=rng.choice(ATTORNEYS), history="Attorney Revoked And/Or Appointed")
        gap = rng.randint(150, 300)
        renewed = rng.random() < 0.7
        if renewed and more.random() < 0.3:
            # the renewal's declaration draws a post-registration action, answered before the renewal is accepted
            at(day + gap * 2 // 5, history="Teas Section 8 & 9 Received")
            at(day + gap * 11 // 20, status="Post registration action e-mailed.",
               history="Post Registration Action E-Mailed")
            at(day + gap * 4 // 5, status="Response received.", history=RESPONSE)
        day += gap
        if renewed:
            at(day, status="Registered and renewed.", history="Registration Renewed - 10 Yr", location=LOCATIONS[5])
        else:
            at(day, status="Cancelled - Section 8.", history="Cancelled Sec. 8 (6-Yr)", location=LOCATIONS[3])
        self.build(state, events)

    def build(self, state, events):
        self.days = []
        self.states = []
        first = dict(state)
        self.days.append(first["statusday"])
        self.states.append(first)
        for day, changes in events:
            s = dict(self.states[-1])
            s["history"] = list(s["history"])
            for k, v in changes.items():
                if k == "history":
                    s["history"].append((day, v))
                elif k == "location":
                    s["location"] = v
                    s["locday"] = day
                else:
                    s[k] = v
            if "status" in changes:
                s["statusday"] = day
            self.days.append(day)
            self.states.append(s)

    def state(self, day):
        i = bisect.bisect_right(self.days, day) - 1
        return self.states[i] if i >= 0 else None


def page(mark, s, day, churn):
    amp = lambda t: t.replace("&", "&amp;")
    reg = mark.regnum if s["registered"] else "(NOT AVAILABLE)"
    locday = day if churn else s["locday"]
    history = "".join("%s - %s<BR />\r\n" % (date_of(d), amp(h)) for d, h in reversed(s["history"]))
    attorney = "<BR />".join(amp(p) for p in s["attorney"].split("|"))
    return ("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\r\n<HTML>\r\n<HEAD>\r\n"
            "<TITLE>Latest Status Info</TITLE>\r\n</HEAD>\r\n<BODY BGCOLOR=\"#FFFFFF\">\r\n"
            "<P>This page was generated by the status system on %s</P>\r\n"
            "<TABLE BORDER=\"0\" CELLPADDING=\"2\">\r\n"
            "<TR><TD>Mark <B>(words only):</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Serial Number:</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Registration Number:</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Filing Date:</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Registration Date:</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Current Status:</B> %s<BR />\r\n<B>Date of Status:</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>The Information will be/was published in the Official Gazette on</B> %s<BR /></TD></TR>\r\n"
            "<TR><TD><B>Law Office Assigned:</B> %s<BR /></TD></TR>\r\n</TABLE>\r\n<HR />\r\n"
            "<CENTER><B>LAST APPLICANT(S)/OWNER(S) OF RECORD</B></CENTER>\r\n"
            "<TABLE BORDER=\"0\"><TR><TD><B>1. %s</B></TD></TR></TABLE>\r\n<BR />\r\n<HR />\r\n"
            "<CENTER><B>PROSECUTION HISTORY</B><BR />\r\n<B>NOTE: To view any document referenced below, click on "
            "the link to \"Documents\" near the top of this page.</B><BR />\r\n<BR />\r\n</CENTER>\r\n%s<HR />\r\n"
            "<CENTER><B>CORRESPONDENCE INFORMATION</B></CENTER>\r\n<B>Correspondent</B><BR />\r\n%s<BR />\r\n"
            "<BR />\r\n<HR />\r\n<B>Current Location:</B> %s<BR />\r\n<B>Date In Location:</B> %s<BR />\r\n"
            "<HR />\r\n</BODY>\r\n</HTML>\r\n") % (
        date_of(day), s["words"], mark.serial, reg, s["filing"], s["regdate"] or "(DATE NOT AVAILABLE)",
        s["status"], date_of(s["statusday"]), s["published"] or "(DATE NOT AVAILABLE)", amp(s["office"]),
        amp(s["owner"]), history, attorney, s["location"], date_of(locday))


NO_RECORD = ("<html>\r\n<head><title>Status Request Error</title></head>\r\n<body>\r\n<h2>No status record</h2>\r\n"
             "<P ALIGN=center>No record was found for the number entered.\r\n"
             "PLEASE DOUBLE CHECK THE NUMBER AND RE-ENTER.</P>\r\n</body>\r\n</html>\r\n")


def rules_text(base, version):
    """The default rules with every address pointing at `base`."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "src", "resources", "template11.txt"), "rb") as f:
        text = f.read().decode("latin-1")
    first, rest = text.split("\r\n", 1)
    text = "version: " + version + "\r\n" + rest
    text = text.replace("http://tarr.uspto.gov", base).replace("http://www.tarnwick.example", base)
    return text


_signatures = {}


def sign(key, data):
    """The detached Ed25519 signature (64 bytes) of `data` with the private key file `key`."""
    if (key, data) not in _signatures:
        with tempfile.TemporaryDirectory() as folder:
            text, sig = os.path.join(folder, "text"), os.path.join(folder, "sig")
            with open(text, "wb") as f:
                f.write(data)
            subprocess.run(["openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key, "-in", text, "-out", sig],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(sig, "rb") as f:
                _signatures[(key, data)] = f.read()
    return _signatures[(key, data)]


RECORDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "office-records")
_templates = {}


def record_template(name):
    if name not in _templates:
        prefix = {"st66-registered": "001-", "st96-registered": "002-", "st96-dead": "003-",
                  "st66-pending": "004-"}[name]
        path = next(os.path.join(RECORDS, f) for f in sorted(os.listdir(RECORDS)) if f.startswith(prefix))
        with open(path, encoding="utf-8") as f:
            _templates[name] = f.read()
    return _templates[name]


def put_value(xml, tag, value, after=None):
    """The text of the first element `tag` (any namespace prefix), after the text `after` when given,
    becomes `value`."""
    start = xml.find(after) if after else 0
    if start < 0:
        return xml
    m = re.compile(r"<(?:\w+:)?%s(?:\s[^>]*)?>([^<]*)<" % tag).search(xml, start)
    if not m:
        return xml
    value = value.replace("&", "&amp;").replace("<", "&lt;")
    return xml[:m.start(1)] + value + xml[m.end(1):]


def xml_record(mark, s, index, located=None):
    """The mark's XML status record on its current state; `located`, when given, is its location date."""
    dead = s["status"].startswith(("Abandoned", "Cancelled"))
    if dead:
        name = "st96-dead"
    elif s["registered"]:
        name = "st66-registered" if index % 2 == 0 else "st96-registered"
    else:
        name = "st66-pending"
    xml = record_template(name)
    st96 = name.startswith("st96")
    xml = put_value(xml, "ApplicationNumberText" if st96 else "ApplicationNumber", mark.serial)
    xml = put_value(xml, "RegistrationNumber", mark.regnum if s["registered"] else "")
    xml = put_value(xml, "RegistrationDate", s["regdate"])
    xml = put_value(xml, "ApplicationDate", s["filing"])
    xml = put_value(xml, "MarkVerbalElementText", s["words"])
    xml = put_value(xml, "MarkCurrentStatusDate", date_of(s["statusday"]))
    xml = put_value(xml, "MarkCurrentStatusExternalDescriptionText", s["status"])
    xml = put_value(xml, "LawOfficeAssignedText", s["office"])
    xml = put_value(xml, "CurrentLocationText", s["location"])
    if located:
        xml = put_value(xml, "CurrentLocationDate", located)
    if st96:
        xml = put_value(xml, "EntityName", s["owner"], "ApplicantBag>")
    else:
        xml = put_value(xml, "FreeFormatNameLine", s["owner"], "<ApplicantDetails>")
    if s["published"]:
        if not re.search(r"<(?:\w+:)?PublicationDate>", xml):
            xml = xml.replace("</PublicationIdentifier>",
                              "</PublicationIdentifier><PublicationDate></PublicationDate>", 1)
        xml = put_value(xml, "PublicationDate", s["published"])
    return put_events(xml, s["history"], st96)


def put_events(xml, history, st96):
    """The record's prosecution history becomes the mark's, newest first, its texts in capitals as the office
    writes them (the code is made from the words; nothing reads it)."""
    bag = re.search(r"<(\w+:)?(MarkEventDetails|MarkEventBag)>.*?</\1?\2>", xml, re.S)
    if not bag:
        return xml
    p = bag.group(1) or ""
    if st96:
        item = ("<{p}MarkEvent><{p}MarkEventCategory>National prosecution history entry</{p}MarkEventCategory>"
                "<{p}NationalMarkEvent><{p}MarkEventCode>{code}</{p}MarkEventCode><{p}MarkEventDescriptionText>{text}"
                "</{p}MarkEventDescriptionText><{p}MarkEventEntryNumber>{n}</{p}MarkEventEntryNumber>"
                "</{p}NationalMarkEvent>"
                "<{p}MarkEventDate>{date}</{p}MarkEventDate></{p}MarkEvent>")
    else:
        m = re.search(r"<(\w+:)MarkEventInternalDescriptionText>", xml)
        p = m.group(1) if m else ""
        item = ("<MarkEvent><MarkEventDate>{date}</MarkEventDate><MarkEventCode>{code}</MarkEventCode>"
                "<Comment>Prosecution History Entry</Comment><MarkEventExt><{p}MarkEventInternalDescriptionText>{text}"
                "</{p}MarkEventInternalDescriptionText><{p}MarkEventEntryNumber>{n}</{p}MarkEventEntryNumber>"
                "</MarkEventExt></MarkEvent>")
    events = "".join(item.format(p=p, date=date_of(day), n=n + 1, text=text.upper().replace("&", "&amp;"),
                                 code="".join(w[0] for w in text.upper().split() if w[0].isalnum())[:5])
                     for n, (day, text) in reversed(list(enumerate(history))))
    name = (bag.group(1) or "") + bag.group(2)
    return xml[:bag.start()] + "<%s>%s</%s>" % (name, events, name) + xml[bag.end():]


class Office:
    def __init__(self, seed, size, day, churn, rules_version):
        self.seed = seed
        self.size = size
        self.day = day
        self.churn = churn
        self.rules_version = rules_version
        self.faults = {}
        self.marks = {}
        self.base = ""
        self.api_key = ""
        self.per_minute = 60
        self.sign_key = ""
        self.asked = {}  # key -> deque of request times in the last minute

    def rate_check(self, key):
        """Seconds to wait when `key` has used up its minute, else 0."""
        now = time.monotonic()
        times = self.asked.setdefault(key, deque())
        while times and now - times[0] >= 60:
            times.popleft()
        if len(times) >= self.per_minute:
            return max(1, int(60 - (now - times[0]) + 0.999))
        times.append(now)
        return 0

    def xml_answer(self, path, headers):
        """(status, body, extra header lines) for a record request over HTTPS."""
        key = headers.get("uspto-api-key", "")
        if self.api_key and key != self.api_key:
            return 401, b"<error>an API key is required</error>\r\n", ""
        wait = self.rate_check(key)
        if wait:
            return 429, b"<error>too many requests</error>\r\n", "Retry-After: %d\r\n" % wait
        m = re.match(r"/ts/cd/casestatus/(sn|rn)(\d+)/info\.xml$", path)
        mark = self.mark(m.group(2))[0] if m else None
        s = mark.state(self.day) if mark else None
        if s is None:
            return 404, b"<error>no record</error>\r\n", ""
        located = date_of(self.day) if self.churn else None
        return 200, xml_record(mark, s, int(mark.serial) - 75000001, located).encode("utf-8"), ""

    def mark(self, number):
        digits = "".join(c for c in number if c.isdigit())
        if len(digits) == 8:
            index = int(digits) - 75000001
        elif len(digits) == 7:
            index = int(digits) - 3000001
        else:
            return None, digits
        if index < 0 or index >= self.size:
            return None, digits
        m = self.marks.get(index)
        if m is None:
            m = self.marks[index] = Mark(self.seed, index)
        if len(digits) == 7 and not m.state(self.day)["registered"]:
            return None, digits
        return m, digits

    def status_page(self, number):
        m, digits = self.mark(number)
        if m is None:
            return NO_RECORD, digits
        s = m.state(self.day)
        if s is None:
            return NO_RECORD, digits
        return page(m, s, self.day, self.churn), m.serial

    def route(self, target):
        """(status, body bytes, fault) for a request target."""
        if target.startswith("http://"):
            slash = target.find("/", 7)
            target = target[slash:] if slash >= 0 else "/"
        parsed = urllib.parse.urlsplit(target)
        query = dict(urllib.parse.parse_qsl(parsed.query))
        if parsed.path == "/servlet/tarr":
            body, serial = self.status_page(query.get("entry", ""))
            fault = self.faults.get(serial) or self.faults.get("".join(c for c in query.get("entry", "")
                                                                          if c.isdigit()))
            if fault == "othermark":
                body, _ = self.status_page("%08d" % (int(serial) + 1))
            return 200, body.encode("latin-1"), fault
        if parsed.path == "/support/tarnwick.txt":
            return 200, rules_text(self.base, self.rules_version).encode("latin-1"), None
        if parsed.path == "/support/tarnwick.txt.sig":
            if not self.sign_key:
                return 404, b"<html><body>Not Found</body></html>\r\n", None
            return 200, sign(self.sign_key, rules_text(self.base, self.rules_version).encode("latin-1")), None
        if parsed.path == "/sim/day":
            self.day = int(query.get("d", self.day))
            return 200, b"ok\n", None
        if parsed.path == "/sim/churn":
            self.churn = query.get("mode") == "all"
            return 200, b"ok\n", None
        if parsed.path == "/sim/fault":
            entry = "".join(c for c in query.get("entry", "") if c.isdigit())
            kind = query.get("kind", "none")
            if kind == "none":
                self.faults.pop(entry, None)
            else:
                self.faults[entry] = kind
            return 200, b"ok\n", None
        if parsed.path == "/sim/reset":
            self.day = int(query.get("d", 1))
            self.churn = False
            self.faults.clear()
            return 200, b"ok\n", None
        if parsed.path == "/sim/state":
            text = "day %d\nchurn %s\n" % (self.day, "all" if self.churn else "normal")
            text += "".join("fault %s %s\n" % kv for kv in sorted(self.faults.items()))
            return 200, text.encode(), None
        return 404, b"<html><body>Not Found</body></html>\r\n", None

    async def handle_tls(self, reader, writer):
        await self.handle(reader, writer, True)

    async def handle(self, reader, writer, secure=False):
        try:
            head = await reader.readuntil(b"\r\n\r\n")
        except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, ConnectionError, ssl.SSLError):
            writer.close()
            return
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        headers = {}
        for h in lines[1:]:
            name, _, value = h.partition(":")
            headers[name.strip().lower()] = value.strip()
        if target.startswith("/ts/"):
            if not secure:
                status, body, extra = 403, b"<error>HTTPS only</error>\r\n", ""
            else:
                status, body, extra = self.xml_answer(urllib.parse.urlsplit(target).path, headers)
            reason = {200: "OK", 401: "Unauthorized", 403: "Forbidden", 404: "Not Found",
                      429: "Too Many Requests"}[status]
            try:
                writer.write(("HTTP/1.1 %d %s\r\nContent-Type: application/xml\r\nContent-Length: %d\r\n%s"
                              "Connection: close\r\n\r\n" % (status, reason, len(body), extra)).encode() + body)
                await writer.drain()
                writer.close()
            except (ConnectionError, ssl.SSLError):
                writer.close()
            return
        status, body, fault = self.route(target)
        try:
            if fault == "close":
                writer.transport.abort()
                return
            if fault == "silent":
                # never answers; the client must give up on its own
                await reader.read()
                writer.close()
                return
            if fault == "404":
                status, body = 404, b"<html><body>Not Found</body></html>\r\n"
            elif fault == "500":
                status, body = 500, b"<html><body>Internal Server Error</body></html>\r\n"
            elif fault == "reformatted":
                # the office changed its markup: the labels the rules look for are gone
                for label in (b"Registration Number:", b"Filing Date:", b"Registration Date:", b"Law Office Assigned:",
                              b"(words only):", b"LAST APPLICANT", b"published in the Official Gazette on"):
                    body = body.replace(label, label.lower().replace(b" ", b"_"))
            elif fault == "blank":
                # a page from which nothing but the numbers can be read
                keep = [line for line in body.split(b"\r\n") if b"Number:" in line or b"PROSECUTION HISTORY" in line]
                body = b"<HTML><BODY>\r\n" + b"\r\n".join(keep) + b"\r\n</BODY></HTML>\r\n"
            elif fault == "nonumber":
                body = body.replace(b"Serial Number:", b"serial_number:").replace(b"Registration Number:", b"reg_no:")
            elif fault and fault.startswith(("serial:", "reg:", "intreg:")):
                body = named_number(body, *fault.split(":", 1))
            elif fault in ("429", "429once"):
                if fault == "429once":
                    self.faults = {k: v for k, v in self.faults.items() if v != "429once"}
                writer.write(b"HTTP/1.1 429 Too Many Requests\r\nRetry-After: 1\r\nContent-Length: 0\r\n"
                             b"Connection: close\r\n\r\n")
                await writer.drain()
                writer.close()
                return
            elif fault == "truncated":
                cut = body.find(b"PROSECUTION HISTORY")
                body = body[:cut if cut > 0 else len(body) // 2]
            reason = {200: "OK", 404: "Not Found", 500: "Internal Server Error"}[status]
            response = (("HTTP/1.1 %d %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                         % (status, reason, len(body))).encode() + body)
            if fault == "trickle":
                for i in range(0, len(response), 64):
                    writer.write(response[i:i + 64])
                    await writer.drain()
                    await asyncio.sleep(0.25)
            else:
                writer.write(response)
                await writer.drain()
            writer.close()
        except ConnectionError:
            writer.close()


def named_number(body, kind, number):
    """The page naming `number` as its serial, registration or international registration number; the last is
    a line of its own after the registration number."""
    number = number.encode("latin-1")
    if kind == "intreg":
        line = b"<TR><TD><B>Registration Number:</B>"
        at = body.find(b"\r\n", body.find(line)) + 2
        return body[:at] + b"<TR><TD><B>International Registration Number:</B> " + number + b"<BR /></TD></TR>\r\n" \
            + body[at:]
    label = {"serial": b"Serial Number:</B> ", "reg": b"Registration Number:</B> "}[kind]
    return re.sub(re.escape(label) + rb"[^<]*", lambda m: label + number, body, count=1)


def write_pages(args):
    for sub in ("serial", "registration", "support"):
        os.makedirs(os.path.join(args.out, sub), exist_ok=True)
    office = Office(args.seed, args.size, args.day, args.churn == "all", args.rules_version)
    office.shape = args.shape

    def put(path, text):
        with open(path + ".tmp", "wb") as f:
            f.write(text.encode("latin-1"))
        os.replace(path + ".tmp", path)

    for i in range(args.size):
        serial = "%08d" % (75000001 + i)
        body, _ = office.status_page(serial)
        put(os.path.join(args.out, "serial", serial[:2] + "-" + serial[2:] + ".html"), body)
        m = office.mark(serial)[0]
        s = m.state(args.day)
        if s and s["registered"]:
            put(os.path.join(args.out, "registration", m.regnum + ".html"), body)
    put(os.path.join(args.out, "support", "tarnwick.txt"), rules_text(args.base, args.rules_version))


async def serve(args):
    office = Office(args.seed, args.size, args.day, args.churn == "all", args.rules_version)
    office.shape = args.shape
    server = await asyncio.start_server(office.handle, "127.0.0.1", args.port, backlog=1024)
    port = server.sockets[0].getsockname()[1]
    office.base = "http://127.0.0.1:%d" % port
    office.api_key = args.api_key
    office.per_minute = args.per_minute
    office.sign_key = args.sign_key
    print(port, flush=True)
    tls_server = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        tls_server = await asyncio.start_server(office.handle_tls, "127.0.0.1", args.https_port, ssl=context,
                                                backlog=1024)
        print(tls_server.sockets[0].getsockname()[1], flush=True)
    loop = asyncio.get_running_loop()
    stop = loop.create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, lambda: stop.done() or stop.set_result(None))
    loop.add_reader(sys.stdin.fileno(), lambda: (os.read(sys.stdin.fileno(), 4096) or stop.done()
                                                or stop.set_result(None)))
    async with server:
        await stop


# --- program download ---------------------------------------------------------
# With TARNWICK_SIM_PROGRAM_DIR set, /support/<name> serves the file <name> of that
# folder (the program "tarnwick.exe", its compressed form "tarnwick.ex_", their
# manifests "<name>.manifest" and the manifests' detached signatures
# "<name>.manifest.sig"); a file that is not there is a 404.
PROGRAM_FILES = tuple(p + s for p in ("tarnwick.exe", "tarnwick.ex_") for s in ("", ".manifest", ".manifest.sig"))
_office_route = Office.route


def _route_with_program(self, target):
    folder = os.environ.get("TARNWICK_SIM_PROGRAM_DIR")
    path = target
    if path.startswith("http://"):
        slash = path.find("/", 7)
        path = path[slash:] if slash >= 0 else "/"
    path = urllib.parse.urlsplit(path).path
    name = path[len("/support/"):] if path.startswith("/support/") else ""
    if folder and name in PROGRAM_FILES:
        try:
            with open(os.path.join(folder, name), "rb") as f:
                return 200, f.read(), None
        except OSError:
            return 404, b"<html><body>Not Found</body></html>\r\n", None
    return _office_route(self, target)


Office.route = _route_with_program


# --- pages of the office's real sizes --------------------------------------------
# The office's old status pages weigh 22 to 50 KB: besides the fields the rules read
# they carry a head with style and script, a search form, the goods and services,
# further information and the history as a table, in irregular markup. With
# --shape real each mark's page is padded to a size of its own in that range, and
# reads the same fields as the small page. --format xml writes the XML records
# (the real records' shapes, 14 to 41 KB) instead.

REAL_HEAD = ("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=iso-8859-1\">\r\n"
             "<META NAME=\"robots\" CONTENT=\"noindex, nofollow\">\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
             "  BODY { font-family: Arial, Helvetica, sans-serif; font-size: 10pt }\r\n"
             "  TD.label { text-align: right; font-weight: bold; width: 35% }\r\n"
             "  .small { font-size: 8pt; color: #555555 }\r\n-->\r\n</STYLE>\r\n"
             "<SCRIPT LANGUAGE=\"JavaScript\" TYPE=\"text/javascript\">\r\n<!-- hide from old browsers\r\n"
             "function printPage() { if (window.print) { window.print(); } }\r\n"
             "function openHelp(topic) { window.open(\"/help/\" + topic + \".htm\", \"help\", \"width=480\"); }\r\n"
             "// end hiding -->\r\n</SCRIPT>\r\n")
REAL_TOP = ("<!-- ============ page header ============ -->\r\n"
            "<TABLE WIDTH=\"100%\" BORDER=0 CELLSPACING=0 CELLPADDING=4>\r\n<TR>\r\n"
            "\t<TD ALIGN=left VALIGN=middle WIDTH=70><IMG SRC=\"/images/seal_small.gif\" WIDTH=60 HEIGHT=60 "
            "ALT=\"Office seal\" BORDER=0></TD>\r\n"
            "\t<TD ALIGN=center VALIGN=middle><FONT SIZE=\"+2\"><B>Trademark Status &amp; Document Retrieval</B>"
            "</FONT><Br>\r\n\t<FONT SIZE=-1 CLASS=\"small\">Status as of&nbsp;{day}&nbsp;09:41:07&nbsp;ET</FONT>"
            "</TD>\r\n"
            "\t<TD ALIGN=right VALIGN=middle WIDTH=120><A HREF=\"javascript:printPage()\">Print this page</A>"
            "<BR><A HREF=\"javascript:openHelp('status')\">Help</A></TD>\r\n</TR>\r\n</TABLE>\r\n"
            "<HR NOSHADE SIZE=1>\r\n<FORM METHOD=GET ACTION=\"/servlet/tarr\" NAME=\"search\">\r\n"
            "<TABLE BORDER=0 CELLPADDING=2><TR>\r\n<TD VALIGN=top><FONT SIZE=-1>Enter a number:</FONT></TD>\r\n"
            "<TD VALIGN=top><INPUT TYPE=text NAME=\"entry\" SIZE=12 MAXLENGTH=12 VALUE=\"\"></TD>\r\n"
            "<TD VALIGN=top><SELECT NAME=\"regser\"><OPTION VALUE=\"serial\" SELECTED>Serial Number"
            "<OPTION VALUE=\"registration\">Registration Number</SELECT></TD>\r\n"
            "<TD VALIGN=top><INPUT TYPE=submit VALUE=\"Submit\"> <INPUT TYPE=reset VALUE=\"Clear\"></TD>\r\n"
            "</TR></TABLE>\r\n</FORM>\r\n<HR NOSHADE SIZE=1>\r\n")
GOODS = ["computer programs for scheduling automatic retrieval of status information",
         "downloadable computer programs for generating status reports in HTML and XML formats",
         "user manuals in electronic format sold as a unit with the foregoing goods",
         "printed instruction sheets and quick reference cards sold as a unit with computer software",
         "retail store services featuring clothing, footwear, headwear &amp; accessories",
         "restaurant and bar services; catering services; take-out restaurant services",
         "preserved, frozen, dried and cooked fruits and vegetables; jellies, jams, compotes",
         "providing temporary use of non-downloadable software for managing business records",
         "bags, namely, handbags, backpacks, tote bags, duffel bags and travel bags",
         "consulting services in the field of brand management and business marketing"]
DOCUMENTS = ["Application", "Drawing", "Specimen", "Office Action", "Response to Office Action",
             "Notice of Publication", "Registration Certificate", "Statement of Use", "Extension Request",
             "Examiner's Amendment", "Post Registration Action", "Section 8 &amp; 15 Declaration"]


def real_size(mark):
    """The size in bytes the mark's page is padded to (to the next whole block): 22 to 50 KB, the same every day."""
    return random.Random(int(mark.serial) * 7919 + 17).randint(22 * 1024, 50 * 1024)


def real_page(mark, s, day, churn):
    """The mark's status page padded to its real size, in the shape of the office's old pages: about a third
    of the padding is the goods and services (mostly text), the rest the history and document tables (mostly
    tags with attributes)."""
    small = page(mark, s, day, churn)
    rng = random.Random(int(mark.serial))
    row = ("<TR>\r\n  <TD VALIGN=top ALIGN=right>%d.</TD>\r\n  <TD VALIGN=top NOWRAP>%s</TD>\r\n"
           "  <TD VALIGN=top>%s</TD>\r\n</TR>\r\n")
    history = "".join(row % (n + 1, date_of(d), h.replace("&", "&amp;"))
                      for n, (d, h) in reversed(list(enumerate(s["history"]))))
    table = ("<TABLE BORDER=1 CELLPADDING=3 CELLSPACING=0 WIDTH=\"100%%\">\r\n<TR BGCOLOR=\"#CCCCCC\">"
             "<TH ALIGN=right>#</TH><TH ALIGN=left>Date</TH><TH ALIGN=left>%s</TH></TR>\r\n%s</TABLE>\r\n")
    info = ("<!-- ============ additional information ============ -->\r\n"
            "<CENTER><B>ADDITIONAL INFORMATION</B></CENTER>\r\n<P>\r\n"
            "<B>Disclaimer:</B> NO CLAIM IS MADE TO THE EXCLUSIVE RIGHT TO USE \"%s\" APART FROM THE MARK AS "
            "SHOWN<BR>\r\n<B>Prior Registration Number(s):</B><BR>\r\n&nbsp;&nbsp;&nbsp;%07d<BR>\r\n"
            "&#160;&#160;&#160;%07d<BR>\r\n<P>\r\n<HR>\r\n") % (s["words"].split()[-1], rng.randint(1000000, 2999999),
                                                                rng.randint(1000000, 2999999))
    top = REAL_TOP.replace("{day}", date_of(day))
    head_at = small.index("</HEAD>")
    top_at = small.index("\r\n", small.index("<BODY")) + 2
    goods_at = small.index("<CENTER><B>LAST APPLICANT")
    table_at = small.index("<HR />\r\n<CENTER><B>CORRESPONDENCE")
    room = real_size(mark) - (len(small) + len(REAL_HEAD) + len(top) + len(info) + len(table % ("", history)))
    goods = []
    goods_room = room // 3
    while goods_room > 0:
        lines = ["; ".join(rng.choice(GOODS) for _ in range(2)) + ";" for _ in range(rng.randint(6, 14))]
        block = ("<!-- class %d -->\r\n<B>International Class:</B> %03d<BR>\r\n<B>Class Status:</B> ACTIVE<BR>\r\n"
                 "<TABLE BORDER=0 CELLPADDING=2 WIDTH=\"100%%\"><TR><TD VALIGN=top CLASS=value>\r\n%s\r\n"
                 "</TD></TR></TABLE>\r\n<B>Basis:</B>\t1(a)<BR>\r\n<B>First Use:</B> %s<BR>\r\n<P>\r\n") % (
            len(goods) + 1, rng.randint(1, 45), "\r\n".join(lines), s["filing"])
        goods.append(block)
        goods_room -= len(block)
        room -= len(block)
    goods = ("<!-- ============ goods and services ============ -->\r\n"
             "<CENTER><B>GOODS AND/OR SERVICES</B></CENTER>\r\n<P>\r\n" + "".join(goods) + "<HR>\r\n")
    documents = []
    while room > 0:
        text = "<A HREF=\"/documents/%s/%d\">%s</A>" % (mark.serial, len(documents) + 1, rng.choice(DOCUMENTS))
        documents.append(row % (len(documents) + 1, s["filing"], text))
        room -= len(documents[-1])
    documents = ("<P>\r\n<CENTER><B>DOCUMENTS</B></CENTER>\r\n"
                 + table % ("Document", "".join(reversed(documents))) if documents else "")
    return (small[:head_at] + REAL_HEAD + small[head_at:top_at] + top + small[top_at:goods_at] + goods + info
            + small[goods_at:table_at] + table % ("History Text", history) + documents + small[table_at:])


_office_status_page = Office.status_page


def _status_page_of_shape(self, number):
    if getattr(self, "shape", "small") != "real":
        return _office_status_page(self, number)
    m, digits = self.mark(number)
    s = m.state(self.day) if m else None
    if s is None:
        return NO_RECORD, digits
    return real_page(m, s, self.day, self.churn), m.serial


Office.status_page = _status_page_of_shape


def write_xml_pages(args):
    """The day's XML records as files: DIR/ts/cd/casestatus/snSERIAL/info.xml, and rnREGNUM for registered marks."""
    office = Office(args.seed, args.size, args.day, args.churn == "all", args.rules_version)
    located = date_of(args.day) if office.churn else None
    for i in range(args.size):
        m = office.mark("%08d" % (75000001 + i))[0]
        s = m.state(args.day)
        if s is None:
            continue
        body = xml_record(m, s, i, located).encode("utf-8")
        names = ["sn" + m.serial] + (["rn" + m.regnum] if s["registered"] else [])
        for name in names:
            folder = os.path.join(args.out, "ts", "cd", "casestatus", name)
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "info.xml.tmp"), "wb") as f:
                f.write(body)
            os.replace(os.path.join(folder, "info.xml.tmp"), os.path.join(folder, "info.xml"))


def xml_rules_text(base, version):
    """The office-xml rules with every address pointing at `base` (plain HTTP, as a static server serves it)."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "src", "resources", "officexml.txt"), "rb") as f:
        text = f.read().decode("latin-1")
    first, rest = text.split("\r\n", 1)
    text = "version: " + version + "\r\n" + rest
    return text.replace("https://tsdrapi.uspto.gov", base).replace("http://www.tarnwick.example", base)


def main():
    global DAY1
    ap = argparse.ArgumentParser(description="A local trademark office.")
    sub = ap.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--port", type=int, default=0)
    s.add_argument("--seed", type=int, default=1)
    s.add_argument("--size", type=int, default=20)
    s.add_argument("--day", type=int, default=1)
    s.add_argument("--start", default=DAY1.isoformat(), help="the date of day 1")
    s.add_argument("--rules-version", default="4.2.07.000")
    s.add_argument("--churn", choices=["normal", "all"], default="normal")
    s.add_argument("--cert", default="")
    s.add_argument("--key", default="")
    s.add_argument("--https-port", type=int, default=0)
    s.add_argument("--api-key", default="")
    s.add_argument("--per-minute", type=int, default=60)
    s.add_argument("--sign-key", default="")
    s.add_argument("--shape", choices=["small", "real"], default="small")
    r = sub.add_parser("rules")
    r.add_argument("--base", required=True)
    r.add_argument("--version", default="4.2.06.500")
    r.add_argument("--format", choices=["html", "xml"], default="html")
    g = sub.add_parser("pages")
    g.add_argument("--out", required=True)
    g.add_argument("--base", required=True)
    g.add_argument("--seed", type=int, default=1)
    g.add_argument("--size", type=int, default=20)
    g.add_argument("--day", type=int, default=1)
    g.add_argument("--start", default=DAY1.isoformat(), help="the date of day 1")
    g.add_argument("--churn", choices=["normal", "all"], default="normal")
    g.add_argument("--rules-version", default="4.2.07.000")
    g.add_argument("--shape", choices=["small", "real"], default="small")
    g.add_argument("--format", choices=["html", "xml"], default="html")
    m = sub.add_parser("marks")
    m.add_argument("--seed", type=int, default=1)
    m.add_argument("--size", type=int, default=20)
    m.add_argument("--day", type=int, default=1)
    m.add_argument("--start", default=DAY1.isoformat(), help="the date of day 1")
    args = ap.parse_args()
    if args.size if hasattr(args, "size") else 0:
        if not 1 <= args.size <= 100000:
            ap.error("--size must be 1 to 100000")
    if hasattr(args, "start"):
        try:
            DAY1 = datetime.date.fromisoformat(args.start)
        except ValueError:
            ap.error("--start must be a date YYYY-MM-DD")
    if args.command == "serve":
        asyncio.run(serve(args))
    elif args.command == "pages":
        write_xml_pages(args) if args.format == "xml" else write_pages(args)
    elif args.command == "rules":
        text = xml_rules_text if args.format == "xml" else rules_text
        sys.stdout.buffer.write(text(args.base, args.version).encode("latin-1"))
    else:
        office = Office(args.seed, args.size, args.day, False, "")
        for i in range(args.size):
            m = office.mark("%08d" % (75000001 + i))[0]
            s = m.state(args.day)
            print("%s\t%s\t%s" % (m.serial, m.regnum if s and s["registered"] else "",
                                  s["status"] if s else "(not yet filed)"))


if __name__ == "__main__":
    main()
