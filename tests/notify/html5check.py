#!/usr/bin/python3
"""Parses an HTML file with html5lib in strict mode and prints its parse errors,
one "line:column code" line each; prints nothing and exits 0 when the file is
HTML5 without a single parse error.

usage: html5check.py FILE
"""

import sys

import html5lib


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    try:
        html5lib.HTMLParser(strict=True).parse(data)
        return 0
    except html5lib.html5parser.ParseError:
        pass
    # strict mode stops at the first error; the lenient parse lists them all
    parser = html5lib.HTMLParser(strict=False)
    parser.parse(data)
    for (line, column), code, _ in parser.errors:
        print("%d:%d %s" % (line, column, code))
    return 1


if __name__ == "__main__":
    sys.exit(main())
