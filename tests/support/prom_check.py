#!/usr/bin/env python3
"""A strict reader of the Prometheus text exposition format, for the metrics file the program
writes: exits 0 and prints the samples as JSON ({"name{labels}": value}) when FILE is well formed,
else exits 1 naming the first fault. Stricter than the format requires where the program's file
must be: every family has HELP and TYPE before its samples, a counter's name ends in _total,
no series twice, histogram buckets cumulative in order of their bounds and ending with +Inf equal
to _count, the file ends with a line end. When promtool is installed it checks the file too.

    prom_check.py FILE
"""
import json
import math
import re
import shutil
import subprocess
import sys

NAME = r"[a-zA-Z_:][a-zA-Z0-9_:]*"
LABEL = r'[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*"'
SAMPLE = re.compile(rf"^({NAME})(\{{(?:{LABEL}(?:,{LABEL})*)?\}})? (\S+)$")
TYPES = {"counter", "gauge", "histogram", "summary", "untyped"}


def value_of(text):
    if text in ("+Inf", "-Inf", "NaN"):
        return float(text.replace("Inf", "inf").replace("NaN", "nan"))
    if not re.fullmatch(r"[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?", text):
        raise ValueError(f"not a number: {text!r}")
    return float(text)


def family_of(name, types):
    if name in types:
        return name
    for suffix in ("_bucket", "_sum", "_count"):
        base = name[: -len(suffix)]
        if name.endswith(suffix) and types.get(base) == "histogram":
            return base
    return None


def check(text):
    if not text.endswith("\n"):
        raise ValueError("the file does not end with a line end")
    helps, types, samples, seen_families = {}, {}, {}, []
    for number, line in enumerate(text[:-1].split("\n"), 1):
        where = f"line {number}: "
        if line.startswith("# HELP "):
            name, _, help_text = line[7:].partition(" ")
            if not re.fullmatch(NAME, name) or name in helps or not help_text:
                raise ValueError(where + "bad or repeated HELP")
            helps[name] = help_text
        elif line.startswith("# TYPE "):
            name, _, kind = line[7:].partition(" ")
            if name in types or kind not in TYPES or name not in helps:
                raise ValueError(where + "bad or repeated TYPE, or TYPE before HELP")
            if kind == "counter" and not name.endswith("_total"):
                raise ValueError(where + f"counter {name} does not end in _total")
            types[name] = kind
            seen_families.append(name)
        elif line.startswith("#") or not line:
            raise ValueError(where + "comment or empty line")
        else:
            m = SAMPLE.match(line)
            if not m:
                raise ValueError(where + f"not a sample: {line!r}")
            name, labels, value = m.group(1), m.group(2) or "", value_of(m.group(3))
            family = family_of(name, types)
            if family is None or family != seen_families[-1]:
                raise ValueError(where + f"{name} outside its family's block")
            key = name + labels
            if key in samples:
                raise ValueError(where + f"{key} repeated")
            if types[family] == "counter" and (value < 0 or math.isnan(value)):
                raise ValueError(where + "a counter below 0")
            samples[key] = value
    for family, kind in types.items():
        if kind != "histogram":
            continue
        series = {}
        for key, value in samples.items():
            m = re.match(rf"^{family}_bucket\{{(.*),le=\"([^\"]+)\"\}}$", key)
            if m:
                series.setdefault(m.group(1), []).append((value_of(m.group(2)), value))
        for labels, buckets in series.items():
            bounds = [b for b, _ in buckets]
            counts = [c for _, c in buckets]
            if bounds != sorted(bounds) or bounds[-1] != math.inf:
                raise ValueError(f"{family}{{{labels}}}: bounds out of order or no +Inf")
            if counts != sorted(counts):
                raise ValueError(f"{family}{{{labels}}}: buckets not cumulative")
            if samples.get(f"{family}_count{{{labels}}}") != counts[-1]:
                raise ValueError(f"{family}{{{labels}}}: +Inf differs from _count")
            if f"{family}_sum{{{labels}}}" not in samples:
                raise ValueError(f"{family}{{{labels}}}: no _sum")
    return samples


def main():
    with open(sys.argv[1], encoding="ascii") as f:
        text = f.read()
    try:
        samples = check(text)
    except ValueError as e:
        print(f"{sys.argv[1]}: {e}", file=sys.stderr)
        return 1
    promtool = shutil.which("promtool")
    if promtool:
        r = subprocess.run([promtool, "check", "metrics"], input=text, text=True,
                           capture_output=True)
        if r.returncode != 0:
            print(f"promtool: {r.stdout}{r.stderr}", file=sys.stderr)
            return 1
    print(json.dumps(samples))
    return 0


if __name__ == "__main__":
    sys.exit(main())
