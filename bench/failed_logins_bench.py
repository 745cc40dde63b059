#!/usr/bin/python3
"""One-row /sql latency of a valid user in FastCGI mode (the /kvofcgi folder of
scripts/dev-services) while six callers post wrong passwords to /login, as a ratio to the same
latency without them, measured in one run. The Firebird server delays every failed login, so
each wrong password would hold a process for that time; the host's login slots
(MaxConcurrentLogins) bound how many processes such attaches take.
    failed_logins_bench.py [--seconds S] [--callers N]
Needs KVO_HTTP_URL_FASTCGI, KVO_FB_PORT, KVO_FB_USER, KVO_FB_PASSWORD, KVO_FB_DATADIR."""
import argparse
import os
import statistics
import subprocess
import threading
import time
import urllib.parse
import urllib.request


def post(url, fields, timeout=60):
    data = urllib.parse.urlencode(fields).encode()
    with urllib.request.urlopen(url, data, timeout=timeout) as answer:
        return answer.read()


def isql(env, statements, database=None):
    args = ["isql-fb", "-q", "-user", env["KVO_FB_USER"], "-password", env["KVO_FB_PASSWORD"]]
    if database:
        args.append(database)
    subprocess.run(args, input=statements.encode(), capture_output=True, check=False)


def latencies(url, fields, seconds):
    """Serial one-row requests for `seconds`; their latencies in milliseconds and how many
    answered no row."""
    result, failed = [], 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        start = time.monotonic()
        body = post(url, fields)
        result.append((time.monotonic() - start) * 1000)
        failed += b'<ROW A="7"/>' not in body
    return result, failed


def warm(url, fields):
    """Eight at once for two seconds: every process attaches with the valid user."""
    threads = [threading.Thread(target=latencies, args=(url, fields, 2)) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def describe(name, measured):
    values, failed = measured
    values = sorted(values)
    p90 = values[int(len(values) * 0.9)]
    mean = statistics.mean(values)
    print("%-22s n=%5d  failed %3d  median %8.2f ms  mean %8.2f ms  p90 %8.2f ms  max %8.2f ms"
          % (name, len(values), failed, statistics.median(values), mean, p90, values[-1]))
    return statistics.median(values), mean, p90


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=15)
    parser.add_argument("--callers", type=int, default=6)
    options = parser.parse_args()
    env = os.environ
    base = env["KVO_HTTP_URL_FASTCGI"] + "/kvowebserver.exe"
    port = env["KVO_FB_PORT"]
    path = "%s/failed_logins_bench_%d.fdb" % (env["KVO_FB_DATADIR"], os.getpid())
    database = "localhost/%s:%s" % (port, path)
    isql(env, "create database '%s'; create table t (a integer); insert into t values (7);"
              " commit; alter database set linger to 60; commit;" % database)
    valid = {"db": database, "u": env["KVO_FB_USER"], "p": env["KVO_FB_PASSWORD"],
             "q": "select a from t", "z": "false"}
    try:
        warm(base + "/sql", valid)
        alone = describe("alone", latencies(base + "/sql", valid, options.seconds))

        stop = threading.Event()
        attempts = [0] * options.callers

        def caller(i):
            wrong = {"db": database, "u": "NOBODY%d" % i, "p": "wrong"}
            while not stop.is_set():
                try:
                    post(base + "/login", wrong)
                except Exception:  # a refused or cut request counts as an attempt too
                    pass
                attempts[i] += 1

        threads = [threading.Thread(target=caller, args=(i,)) for i in range(options.callers)]
        for t in threads:
            t.start()
        time.sleep(1)
        attacked = describe("with %d wrong callers" % options.callers,
                            latencies(base + "/sql", valid, options.seconds))
        stop.set()
        for t in threads:
            t.join()
        print("wrong-password attempts: %d" % sum(attempts))
        for i, figure in enumerate(("median", "mean", "p90")):
            print("ratio %-6s with/without: %6.2f (goal <= 2)" % (figure, attacked[i] / alone[i]))
    finally:
        isql(env, "alter database set linger to 0; commit; drop database;", database)


if __name__ == "__main__":
    main()
