#!/usr/bin/python3
"""Callers of a balanced /sql that lose a host on the way.

  balanced_load.py URL FORM COUNT CALLERS KILL_AFTER PIDS

CALLERS threads POST COUNT requests to URL, each the form FORM with "{id}" replaced by the
request's number (1..COUNT), one request per connection. Once KILL_AFTER requests are answered,
every process of PIDS (separated by commas) is killed at once (SIGKILL), as a host that fails.
Prints one line per request: its number, the HTTP status (0: no answer), "ok" for an answer
that is not the error page or "failed", and "after" when the request was sent after the
kill ("before" otherwise).
"""
import http.client
import os
import signal
import sys
import threading
import time
import urllib.parse

url, form, count, callers, kill_after, pids = sys.argv[1:7]
count, callers, kill_after = int(count), int(callers), int(kill_after)
target = urllib.parse.urlsplit(url)
lock = threading.Lock()
next_id = 1
answered = 0
killed = False
results = []


def gone(pid):
    """True once the process has closed its files: it no longer exists, or is a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def kill_host():
    global killed
    victims = [int(p) for p in pids.split(",")]
    for pid in victims:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    # "after" means the host's socket was closed when the request went out.
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and not all(gone(p) for p in victims):
        time.sleep(0.01)
    killed = True


def call(number):
    body = form.replace("{id}", str(number)).encode()
    try:
        c = http.client.HTTPConnection(target.hostname, target.port, timeout=60)
        c.request("POST", target.path, body,
                  {"Content-Type": "application/x-www-form-urlencoded"})
        r = c.getresponse()
        answer = r.read()
        c.close()
        return r.status, b"<TITLE>KVO.Net</TITLE>" not in answer
    except (OSError, http.client.HTTPException):
        return 0, False


def caller():
    global next_id, answered
    while True:
        with lock:
            if next_id > count:
                return
            number = next_id
            next_id += 1
            phase = "after" if killed else "before"
        status, ok = call(number)
        with lock:
            results.append((number, status, ok and status == 200, phase))
            answered += 1
            if answered == kill_after and not killed:
                kill_host()


threads = [threading.Thread(target=caller) for _ in range(callers)]
for t in threads:
    t.start()
for t in threads:
    t.join()
for number, status, ok, phase in sorted(results):
    print(number, status, "ok" if ok else "failed", phase)
