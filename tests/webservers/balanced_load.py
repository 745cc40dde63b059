#!/usr/bin/python3
"""Callers of a balanced /sql that lose a host on the way.

  balanced_load.py URL FORM SLOW_FORM COUNT CALLERS KILL_AFTER PIDS SECONDS_AFTER

CALLERS threads POST numbered requests to URL, one request per connection: FORM ("name=value&...",
the values not yet encoded) with "{id}" replaced by the request's number. Once requests 1 to
KILL_AFTER are answered, each caller sends one SLOW_FORM request (a statement that runs for a
while), and half a second later, with all of them running, every process of PIDS (separated by
commas) is killed at once (SIGKILL), as a host that fails. The callers then go on with FORM
until COUNT requests were sent and SECONDS_AFTER seconds have passed since the kill.
Prints one line per request: its number, the HTTP status (0: no answer), "ok" for an answer
that is not the error page or "failed", and "after" when the request was sent after the kill
("before" otherwise).
"""
import http.client
import os
import signal
import sys
import threading
import time
import urllib.parse

url, form, slow_form, count, callers, kill_after, pids, seconds_after = sys.argv[1:9]
count, callers, kill_after = int(count), int(callers), int(kill_after)
seconds_after = float(seconds_after)
target = urllib.parse.urlsplit(url)
lock = threading.Lock()
results = []


def call(number, template):
    fields = (pair.split("=", 1) for pair in template.replace("{id}", str(number)).split("&"))
    body = "&".join(k + "=" + urllib.parse.quote(v, safe="") for k, v in fields).encode()
    try:
        c = http.client.HTTPConnection(target.hostname, target.port, timeout=60)
        c.request("POST", target.path, body,
                  {"Content-Type": "application/x-www-form-urlencoded"})
        r = c.getresponse()
        answer = r.read()
        c.close()
        return r.status, r.status == 200 and b"<TITLE>KVO.Net</TITLE>" not in answer
    except (OSError, http.client.HTTPException):
        return 0, False


def run(numbers, template, phase):
    """Sends the requests `numbers` hands out, from CALLERS threads, until it is exhausted."""
    def caller():
        while True:
            with lock:
                number = next(numbers, None)
            if number is None:
                return
            status, ok = call(number, template)
            with lock:
                results.append((number, status, ok, phase))

    threads = [threading.Thread(target=caller) for _ in range(callers)]
    for t in threads:
        t.start()
    return threads


def gone(pid):
    """True once the process has closed its files: it no longer exists, or is a zombie."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def kill_host():
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


for t in run(iter(range(1, kill_after + 1)), form, "before"):
    t.join()
slow = run(iter(range(kill_after + 1, kill_after + callers + 1)), slow_form, "before")
time.sleep(0.5)
kill_host()
killed_at = time.monotonic()


def later():
    number = kill_after + callers + 1
    while number <= count or time.monotonic() - killed_at < seconds_after:
        yield number
        number += 1


for t in slow + run(later(), form, "after"):
    t.join()
for number, status, ok, phase in sorted(results):
    print(number, status, "ok" if ok else "failed", phase)
