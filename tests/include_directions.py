#!/usr/bin/env python3
"""Fails when a source file includes against the layering of docs/architecture.md.

Usage: include_directions.py SOURCE_ROOT

Checks every "..." include of the product's sources (tests, fuzz targets, benchmarks and
examples stand outside the layers). Before looking at the tree it checks its own rules against a
table of allowed and forbidden includes, so a rule that went slack fails too.
"""
import pathlib
import re
import sys

# Who may include whom. A layer always may include itself.
ALLOWED = {
    "program": {"services", "helpers", "cgi", "client", "fbpacket", "packet", "fb",
                "configfiles", "sqltext", "platform"},
    "services": {"helpers", "cgi", "fbpacket", "packet", "fb", "configfiles", "sqltext",
                 "platform"},
    "helpers": {"cgi", "fb", "configfiles", "sqltext", "platform"},
    "cgi": {"platform"},
    "client": {"fbpacket", "packet", "fb", "configfiles", "sqltext", "platform"},
    "tools": {"client", "fbpacket", "packet", "fb", "configfiles", "sqltext", "platform"},
    "fbpacket": {"packet", "fb", "sqltext", "platform"},
    "packet": {"platform"},
    "fb": {"sqltext", "platform"},
    "configfiles": {"platform"},
    "sqltext": {"platform"},
    "platform": set(),
}


def layer_of(path):
    """The layer of a file named from the source root ("config/modules.cc"), or of an include
    ("kvo/client/db.h"); None for what stands outside the layers."""
    parts = pathlib.PurePosixPath(path).parts
    if not parts:
        return None
    top = parts[0]
    if "tests" in parts or top in ("tests", "fuzz", "bench", "examples"):
        return None
    if top == "app":
        return "program"
    if top in ("config", "dataservice", "pages"):
        return "services"
    if top == "kvo" or top == "client":
        return "client"
    if top == "tools":
        return "tools"
    if top in ("helpers", "cgi", "fbpacket", "packet", "fb", "configfiles", "sqltext",
               "platform"):
        return top
    return "unknown"


def violation(source, include):
    """Why `source` may not include `include`, or None when it may."""
    frm = layer_of(source)
    if frm is None:
        return None
    to = layer_of(include)
    if to is None or to == "unknown":
        return f"includes {include}, which no product code may include"
    if frm == "services" and to == "services":
        # A service sees its own folder only: each one is reached from the program alone.
        if pathlib.PurePosixPath(source).parts[0] != pathlib.PurePosixPath(include).parts[0]:
            return f"a service includes another service's {include}"
        return None
    if to == frm or to in ALLOWED[frm]:
        return None
    return f"the {frm} layer includes {include} of the {to} layer"


SELF_CHECK = [
    # (source, include, allowed)
    ("app/main.cc", "app/wm.h", True),
    ("app/wm.cc", "dataservice/actions.h", True),
    ("app/wm.cc", "helpers/database.h", True),
    ("helpers/helpers.cc", "configfiles/paths.h", True),
    ("helpers/helpers.h", "dataservice/actions.h", False),
    ("helpers/helpers.cc", "app/wm.h", False),
    ("helpers/database.cc", "fb/fb.h", True),
    ("dataservice/sql_action.cc", "helpers/helpers.h", True),
    ("dataservice/sql_action.cc", "app/wm.h", False),
    ("dataservice/sql_action.cc", "config/modules.h", False),
    ("dataservice/criarib.cc", "configfiles/text_lines.h", True),
    ("config/modules.cc", "configfiles/profile_file.h", True),
    ("config/memo_service.cc", "kvo/client/tarvo.h", False),
    ("app/memo_lookup.cc", "kvo/client/tarvo.h", True),
    ("pages/site.cc", "tests/support/cgi_runner.h", False),
    ("client/values.cc", "cgi/fields.h", False),
    ("client/values.cc", "helpers/helpers.h", False),
    ("client/tarvo.cc", "configfiles/profile_file.h", True),
    ("client/tarvo.cc", "config/memo_service.h", False),
    ("client/include/kvo/client/db.h", "platform/error.h", True),
    ("tools/kvoclient/kvoclient.cc", "kvo/client/kvo_client.h", True),
    ("tools/kvoclient/kvoclient.cc", "dataservice/actions.h", False),
    ("configfiles/profile_file.cc", "platform/files.h", True),
    ("configfiles/profile_file.cc", "cgi/request.h", False),
    ("configfiles/server_settings.cc", "config/modules.h", False),
    ("packet/xml_load.cc", "fb/fb.h", False),
    ("fb/statement.cc", "packet/packet.h", False),
    ("fb/attachment.cc", "helpers/database.h", False),
    ("fb/cp1252_literals.cc", "sqltext/scanner.h", True),
    ("sqltext/scanner.cc", "fb/fb.h", False),
    ("sqltext/scanner.cc", "cgi/request.h", False),
    ("fbpacket/build.cc", "fb/fb.h", True),
    ("fbpacket/build.cc", "cgi/request.h", False),
    ("platform/files.cc", "configfiles/text_lines.h", False),
    ("cgi/request.cc", "helpers/helpers.h", False),
    ("cgi/request.cc", "somewhere/else.h", False),
    ("dataservice/tests/sql_dbtest.cc", "app/wm.h", True),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def main():
    root = pathlib.Path(sys.argv[1])
    problems = []
    for source, include, allowed in SELF_CHECK:
        if (violation(source, include) is None) != allowed:
            problems.append(f"rule check: {source} -> {include} should be "
                            f"{'allowed' if allowed else 'refused'}")
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".cc", ".h") or not path.is_file():
            continue
        rel = path.relative_to(root).as_posix()
        if rel.startswith(("build", ".")):
            continue
        for include in INCLUDE.findall(path.read_text(errors="replace")):
            why = violation(rel, include)
            if why:
                problems.append(f"{rel}: {why}")
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
