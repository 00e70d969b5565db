#!/usr/bin/env python3
"""Prints the benchmark table and the ratios against the targets.
Usage: report.py RESULTS_DIR LARGEST_FILE_BYTES"""
import glob
import json
import math
import os
import sys

results_dir, largest = sys.argv[1], int(sys.argv[2])
times = {}
for path in sorted(glob.glob(os.path.join(results_dir, "*.json"))):
    r = json.load(open(path))["results"][0]
    times[r["command"]] = (r["median"], r["min"], r["max"], len(r["times"]))

print()
print("%-26s %9s %9s %9s %5s" % ("command", "median s", "min s", "max s", "runs"))
for name in sorted(times):
    med, lo, hi, n = times[name]
    print("%-26s %9.3f %9.3f %9.3f %5d" % (name, med, lo, hi, n))

peaks = {}
for line in open(os.path.join(results_dir, "peak.txt")):
    name, kb = line.split()
    peaks[name] = int(kb)
print()
print("%-26s %12s" % ("peak memory", "MiB"))
for name, kb in peaks.items():
    print("%-26s %12.1f" % (name, kb / 1024))

window = {}
for line in open(os.path.join(results_dir, "window.txt")):
    name, rest = line.split(None, 1)
    window[name] = rest.strip()
window_s = float(window["window/rename"].split()[0])


def m(name):
    return times[name][0]


rows = [
    ("rename: cli / floor", m("rename/torvale-cli") / m("rename/floor"), "<= 1.3"),
    ("rename: cli / perl rename", m("rename/torvale-cli") / m("rename/perl-rename"), "< 1"),
    ("replace few: sd / cli", m("replace-few/sd") / m("replace-few/torvale-cli"), ">= 5"),
    ("replace few: cli / read floor", m("replace-few/torvale-cli") / m("replace-few/read-floor"), "<= 3"),
    ("replace all: cli / sd (history on)", m("replace-all/torvale-cli") / m("replace-all/sd"), "<= 1"),
    ("replace all: history on / --no-undo", m("replace-all/torvale-cli") / m("replace-all/torvale-cli-no-undo"),
     "(cost)"),
    ("html: history on / --no-undo", m("html/torvale-cli") / m("html/torvale-cli-no-undo"), "(cost)"),
    ("regex dates: cli / sd", m("regex/torvale-cli") / m("regex/sd"), "(info)"),
    ("replace cjk / replace few", m("replace-cjk/torvale-cli") / m("replace-few/torvale-cli"), "(info)"),
    ("html: cli / copy floor", m("html/torvale-cli") / m("html/copy-floor"), "<= 2"),
    ("html: txt2html / cli", m("html/txt2html") / m("html/torvale-cli"), "(info)"),
    ("window rename / cli", window_s / m("rename/torvale-cli"), "<= 1.2"),
]
limit_mib = 64 + 3 * largest / 2**20
worst = max(v for k, v in peaks.items() if k.endswith("torvale-cli") and "/" in k and k.split("/")[0] in
            ("rename", "replace-few", "replace-all", "html")) / 1024
rows.append(("peak MiB / (64 + 3 x largest)", worst / limit_mib, "< 1"))
if "long-gbk/torvale-cli" in times:
    rows += [
        ("long lines: GBK / UTF-8", m("long-gbk/torvale-cli") / m("long-utf8/torvale-cli"), "<= 2"),
        ("small files: cli / sd", m("small/torvale-cli") / m("small/sd"), "<= 0.7"),
        ("one long UTF-8 line: cli / sd", m("long-utf8/torvale-cli") / m("long-utf8/sd"), "<= 1"),
        ("one 256 MiB file: cli / sd", m("huge-replace/torvale-cli") / m("huge-replace/sd"), "<= 1"),
        ("small files: cli / sed", m("small/torvale-cli") / m("small/sed"), "(info)"),
    ]
    # The longest line of these folders is far below a MiB: 64 MiB is the bound.
    for name in ("huge-html/torvale-cli", "onechar-html/torvale-cli", "huge-replace/torvale-cli"):
        rows.append(("peak MiB %s / 64" % name.split("/")[0], peaks[name] / 1024 / 64, "< 1"))
sizes = sorted(int(k.split("/")[1]) for k in times if k.startswith("names-rename/"))
for op in ("rename", "replace", "html"):
    for small, big in zip(sizes, sizes[1:]):
        growth = m("names-%s/%d" % (op, big)) / m("names-%s/%d" % (op, small))
        nlogn = (big * math.log(big)) / (small * math.log(small))
        rows.append(("names %s: %d to %d, growth / n log n" % (op, small, big), growth / nlogn, "<= 1"))
    if sizes:
        rows.append(("names %s: peak MiB at %d" % (op, sizes[-1]), peaks["names-%s/%d" % (op, sizes[-1])] / 1024, "< 300"))
if "window/preview-100000" in window:
    rows.append(("window preview of 100,000: CPU s", float(window["window/preview-100000"]), "< 2"))

print()
print("%-44s %8s  %s" % ("ratio", "value", "target"))
for name, value, target in rows:
    print("%-44s %8.2f  %s" % (name, value, target))
print()
print("window: " + window["window/rename"])
