#!/usr/bin/env python3
"""Keeps docs/http-api.md true: every action of the web module is documented, and every example
(a ```sh block followed by its "Answer:" line) is run against the test web server, with the
documented status and content type expected.

    http_api_examples.py SOURCE_DIR

Needs the test services (KVO_HTTP_URL and the private Firebird server's variables); without them
it exits 77 (skipped), or fails when KVO_REQUIRE_SERVICES is set.
"""
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77
EXAMPLE = re.compile(r"```sh\n((?:(?!```).)*)```\n\nAnswer: ([^\n]*)\n", re.S)
STATUS = re.compile(r"`(\d{3})`")
CONTENT_TYPE = re.compile(r", `([^`]+)`$")


def examples(doc):
    """(command, allowed statuses, content type) of every example, in the order of the text."""
    found = []
    for m in EXAMPLE.finditer(doc):
        statuses = STATUS.findall(m.group(2).split(",")[0])
        content_type = CONTENT_TYPE.search(m.group(2))
        if not statuses or not content_type:
            sys.exit(f"an Answer line without status or content type: {m.group(2)!r}")
        found.append((m.group(1), set(statuses), content_type.group(1)))
    # An example whose Answer line the pattern missed would go untested.
    if len(found) != doc.count("```sh\n"):
        sys.exit(f"{doc.count('```sh')} examples, {len(found)} with an Answer line under them")
    return found


def sql(env, dsn, text, check=True):
    run = subprocess.run(["isql-fb", "-q", "-user", env["KVO_FB_USER"], "-password",
                          env["KVO_FB_PASSWORD"]] + ([dsn] if dsn else []),
                         input=text, text=True, capture_output=True, env=env)
    if check and (run.returncode != 0 or "Statement failed" in run.stderr):
        sys.exit(f"isql-fb: {run.stdout}{run.stderr}")


def main():
    source = sys.argv[1]
    with open(os.path.join(source, "docs/http-api.md"), encoding="utf-8") as f:
        doc = f.read()
    with open(os.path.join(source, "app/wm.cc"), encoding="utf-8") as f:
        actions = re.findall(r'item\("([a-z]+)"', f.read())
    failed = [f"the action /{a} is not documented" for a in actions
              if not re.search(rf"^#+ .*/{a}\b", doc, re.M)]
    if len(actions) != 23:
        failed.append(f"found {len(actions)} actions in app/wm.cc")

    env = dict(os.environ)
    needed = ["KVO_HTTP_URL", "KVO_FB_PORT", "KVO_FB_USER", "KVO_FB_PASSWORD", "KVO_FB_DATADIR"]
    missing = [v for v in needed if not env.get(v)]
    if missing:
        print("\n".join(failed))
        print(f"not set: {' '.join(missing)}")
        return 1 if env.get("KVO_REQUIRE_SERVICES") or failed else SKIP

    cases = examples(doc)
    with tempfile.TemporaryDirectory(prefix="kvo-http-api-") as work:
        db = os.path.join(env["KVO_FB_DATADIR"], f"http-api-{os.getpid()}.fdb")
        dsn = f"127.0.0.1/{env['KVO_FB_PORT']}:{db}"
        sql(env, None, f"""create database '{dsn}' user '{env["KVO_FB_USER"]}'
 password '{env["KVO_FB_PASSWORD"]}';
create table cliente (id integer, nome varchar(40));
create table config_memo (caminho varchar(255));
insert into cliente values (1, 'Ana');
insert into config_memo values ('C:\\KVO\\Memos');
commit;
""")
        try:
            env.update(KVO=env["KVO_HTTP_URL"] + "/ikvowebserver.dll", DB=dsn,
                       U=env["KVO_FB_USER"], P=env["KVO_FB_PASSWORD"])
            headers = os.path.join(work, "headers")
            # curl as the examples call it, with the answer's head kept aside; the body goes
            # wherever the example sends it.
            prelude = f'curl() {{ command curl -D {headers} "$@"; }}\n'
            for command, statuses, content_type in cases:
                if os.path.exists(headers):
                    os.remove(headers)
                run = subprocess.run(["bash", "-c", prelude + command], cwd=work, env=env,
                                     capture_output=True, timeout=60)
                head = open(headers, encoding="latin-1").read() if os.path.exists(headers) else ""
                status = re.match(r"HTTP/[\d.]+ (\d{3})", head)
                got_type = re.search(r"^content-type: *([^\r\n;]*)", head, re.I | re.M)
                got = (status.group(1) if status else "none",
                       got_type.group(1).strip() if got_type else "none")
                print(f"{got[0]} {got[1]:<26} {command.splitlines()[0]}")
                if got[0] not in statuses or got[1] != content_type or run.returncode != 0:
                    failed.append(f"{command.strip()}\n  expected {'/'.join(sorted(statuses))} "
                                  f"{content_type}, got {got[0]} {got[1]} (exit {run.returncode})"
                                  f"\n  {run.stderr.decode('latin-1').strip()}")
        finally:
            # In the FastCGI mode a kept attachment may still hold the database; the test
            # services' data folder goes with them.
            sql(env, dsn, "drop database;\n", check=False)
    print("\n".join(failed) if failed else f"ok: {len(cases)} examples answer as documented")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
