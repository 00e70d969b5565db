#!/usr/bin/env python3
"""Checks a benchmark result before its run counts.

  check.py rename DIR COUNT            p000001.jpg ... all there, nothing else
  check.py replace DIR FIND REPL N     no FIND left (as GBK text), N times REPL
  check.py html DIR COUNT              COUNT pages and index.htm linking them
"""
import os
import sys


def fail(msg):
    sys.exit("check failed: " + msg)


def main():
    what, folder = sys.argv[1], sys.argv[2]
    names = sorted(os.listdir(folder))
    if what == "rename":
        count = int(sys.argv[3])
        want = ["p%06d.jpg" % i for i in range(1, count + 1)]
        if names != want:
            fail("names differ, e.g. %r" % (sorted(set(names) ^ set(want))[:3],))
    elif what == "replace":
        find, repl, n = sys.argv[3], sys.argv[4], int(sys.argv[5])
        found = 0
        for name in names:
            data = open(os.path.join(folder, name), "rb").read()
            try:
                text = data.decode("gbk")
            except UnicodeDecodeError:
                text = data.decode("utf-8")
            if find in text:
                fail(name + " still holds the search text")
            found += text.count(repl)
        if found != n:
            fail("%d replacements, expected %d" % (found, n))
    elif what == "html":
        count = int(sys.argv[3])
        pages = [n for n in names if n.endswith(".htm") and n != "index.htm"]
        if len(pages) != count:
            fail("%d pages, expected %d" % (len(pages), count))
        index = open(os.path.join(folder, "index.htm"), "rb").read()
        if index.count(b"<a HREF=") != count:
            fail("index does not link every page")


if __name__ == "__main__":
    main()
