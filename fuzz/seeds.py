#!/usr/bin/env python3
"""Seeds the fuzz corpora from the string literals of the tests' fixtures.

Every C++ string literal (adjacent literals joined) of the named test files becomes one corpus
file, with the target's input prefix where it has one. Run from the source root; existing
corpus files are kept (names are content hashes, so reruns add nothing twice).
"""
import hashlib
import os
import re
import sys

SOURCES = {
    "cgi_fields": (["cgi/tests/fields_test.cc", "cgi/tests/request_test.cc"], [b"", b"a=1\n5\napplication/x-www-form-urlencoded\n"]),
    "profile_file": (["config/tests/profile_file_test.cc"], [b"Geral\nServidor\n", b"sec\nkey\n"]),
    "text_lines": (["config/tests/profile_file_test.cc", "config/tests/module_list_test.cc"], [b""]),
    "page_template": (["pages/tests/page_producer_test.cc"], [b""]),
    "base64": (["pages/tests/site_test.cc"], [b""]),
    "packet_xml": (["packet/tests/packet_test.cc"], [b""]),
    "client_params": (["client/tests/query_test.cc", "client/tests/sql_text_test.cc"], [b"it's 1\n", b"12.5\n"]),
}

LITERAL = re.compile(rb'"((?:[^"\\\n]|\\.)*)"')
BETWEEN = re.compile(rb'^\s*$')

def decode(body):
    out = bytearray()
    i = 0
    simple = {ord('n'): 10, ord('r'): 13, ord('t'): 9, ord('"'): 34, ord('\\'): 92, ord("'"): 39,
              ord('?'): 63, ord('a'): 7, ord('b'): 8, ord('f'): 12, ord('v'): 11}
    while i < len(body):
        c = body[i]
        if c != 92:
            out.append(c)
            i += 1
            continue
        e = body[i + 1]
        if e == ord('x'):
            j = i + 2
            while j < len(body) and chr(body[j]) in "0123456789abcdefABCDEF":
                j += 1
            out.append(int(body[i + 2:j], 16) & 0xFF)
            i = j
        elif ord('0') <= e <= ord('7'):
            j = i + 1
            while j < len(body) and j < i + 4 and ord('0') <= body[j] <= ord('7'):
                j += 1
            out.append(int(body[i + 1:j], 8) & 0xFF)
            i = j
        else:
            out.append(simple.get(e, e))
            i += 2
    return bytes(out)

def literals(text):
    found = []
    last_end = None
    for m in LITERAL.finditer(text):
        value = decode(m.group(1))
        if last_end is not None and BETWEEN.match(text[last_end:m.start()]):
            found[-1] += value
        else:
            found.append(value)
        last_end = m.end()
    return [v for v in found if len(v) >= 2]

def main():
    for target, (files, prefixes) in SOURCES.items():
        folder = os.path.join("fuzz", "corpus", target)
        os.makedirs(folder, exist_ok=True)
        count = 0
        for name in files:
            with open(name, "rb") as f:
                text = f.read()
            for value in literals(text):
                for prefix in prefixes:
                    data = prefix + value
                    digest = hashlib.sha1(data).hexdigest()
                    path = os.path.join(folder, digest)
                    if not os.path.exists(path):
                        with open(path, "wb") as f:
                            f.write(data)
                        count += 1
        print(f"{target}: {count} new seeds", file=sys.stderr)

if __name__ == "__main__":
    main()
