#!/usr/bin/env python3
"""Generates the benchmark folders from a fixed seed.

  make_corpus.py rename DIR          20,000 empty files IMG_000000.JPG ...
  make_corpus.py text DIR KIND       2,000 GBK text files of about 100 KB,
                                     CR LF line ends, mixed Chinese and ASCII.
     KIND: few   5 % of the files hold the ASCII word (3 times each)
           all   every file holds it
           cjk   5 % hold the Chinese search text
  make_corpus.py longline DIR ENC    one 10 MB file without line ends, Chinese text
                                     with the ASCII word every 4 KB; ENC gbk or utf8
  make_corpus.py small DIR           20,000 GBK files of 1.6 KB, each holding the word once
  make_corpus.py huge DIR            one 256 MiB GBK file of ordinary lines (the word 100 times)
  make_corpus.py onechar DIR         one 64 MiB file of one-character lines
  make_corpus.py names DIR N         N empty files f0000000 ... (no txt file)
"""
import os
import random
import sys

SEED = 20261206
ASCII_WORD = b"needleword"
DATE = b"2026-12-07"  # for the regular expression: every file holds three
CJK_WORD = "鑫淼".encode("gbk")  # outside the generated range, so never there by chance
FILES = 2000
SIZE = 100_000


def hanzi(rng, n):
    # GB2312 level-1 characters: lead B0-D7, trail A1-FE (D7FA-D7FE unassigned).
    out = bytearray()
    for _ in range(n):
        lead = rng.randint(0xB0, 0xD7)
        trail = rng.randint(0xA1, 0xF9 if lead == 0xD7 else 0xFE)
        out += bytes((lead, trail))
    return bytes(out)


def word(rng):
    return bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))


def line(rng):
    parts = []
    for _ in range(rng.randint(3, 8)):
        parts.append(hanzi(rng, rng.randint(2, 12)) if rng.random() < 0.6 else word(rng))
    return b" ".join(parts)


def text_file(rng, pool, needle, hits):
    lines = []
    size = 0
    while size < SIZE:
        ln = rng.choice(pool)
        lines.append(ln)
        size += len(ln) + 2
    for _ in range(hits):
        i = rng.randrange(len(lines))
        cut = lines[i].find(b" ")
        lines[i] = lines[i][:cut + 1] + needle + lines[i][cut:] if cut >= 0 else needle + lines[i]
    return b"\r\n".join(lines) + b"\r\n"


def long_line(rng, encoding):
    # The same text in either character set: hanzi decoded from GBK, with the
    # word every 4 KB or so.
    chunks = []
    size = 0
    while size < 10_000_000:
        text = hanzi(rng, 2000).decode("gbk")
        chunks.append(text + " needleword ")
        size += 4012
    return "".join(chunks).encode(encoding)


def big_file(path, rng, pool, total, needles):
    step = total // (needles + 1)
    written, next_hit = 0, step
    with open(path, "wb") as f:
        while written < total:
            ln = rng.choice(pool)
            if written >= next_hit:
                ln = ASCII_WORD + b" " + ln
                next_hit += step
            f.write(ln + b"\r\n")
            written += len(ln) + 2


def main():
    what, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(SEED)
    if what == "longline":
        with open(os.path.join(folder, "long.txt"), "wb") as f:
            f.write(long_line(rng, sys.argv[3]))
        return
    if what == "small":
        pool = [line(rng) for _ in range(2000)]
        for i in range(20000):
            lines, size = [], 0
            while size < 1600:
                ln = rng.choice(pool)
                lines.append(ln)
                size += len(ln) + 2
            lines[rng.randrange(len(lines))] += b" " + ASCII_WORD
            with open(os.path.join(folder, "note%05d.txt" % i), "wb") as f:
                f.write(b"\r\n".join(lines) + b"\r\n")
        return
    if what == "huge":
        pool = [line(rng) for _ in range(20000)]
        big_file(os.path.join(folder, "huge.txt"), rng, pool, 256 << 20, 100)
        return
    if what == "onechar":
        with open(os.path.join(folder, "lines.txt"), "wb") as f:
            f.write(b"a\r\n" * ((64 << 20) // 3))
        return
    if what == "names":
        for i in range(int(sys.argv[3])):
            open(os.path.join(folder, "f%07d" % i), "wb").close()
        return
    if what == "rename":
        for i in range(20000):
            open(os.path.join(folder, "IMG_%06d.JPG" % i), "wb").close()
        return
    kind = sys.argv[3]
    needle = CJK_WORD if kind == "cjk" else DATE if kind == "dates" else ASCII_WORD
    pool = [line(rng) for _ in range(20000)]
    for i in range(FILES):
        hit = kind in ("all", "dates") or rng.random() < 0.05
        with open(os.path.join(folder, "doc%04d.txt" % i), "wb") as f:
            f.write(text_file(rng, pool, needle, 3 if hit else 0))


if __name__ == "__main__":
    main()
