#!/usr/bin/env python3
"""Drives the page in headless Chromium as a person would, through the DevTools protocol on
Chromium's debugging pipe (file descriptors 3 and 4, messages ended by a NUL byte).

    pagedriver.py CHROMIUM PROFILE URL STEP...

Flags of the browser's own (--accept-lang=zh-CN) may be given in PAGEDRIVER_FLAGS, blank-separated.

Each STEP is a JavaScript expression evaluated in the page, again and again (every 100 ms, at most
600 times) until it yields true (a promise: once it settles); the driver says which step never did
and exits 1. Steps may act (fill a field, press a button, load the page again) and then say whether
they did; an evaluation the page's loading cut off counts as not yet true."""

import json
import os
import subprocess
import sys
import time


class Pipe:
    def __init__(self, to_browser, from_browser):
        self.out = to_browser
        self.inp = from_browser
        self.buf = b""
        self.next = 0

    def call(self, method, params=None, session=None):
        self.next += 1
        msg = {"id": self.next, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        os.write(self.out, json.dumps(msg).encode() + b"\0")
        while True:
            while b"\0" not in self.buf:
                chunk = os.read(self.inp, 65536)
                if not chunk:
                    raise RuntimeError("the browser closed its pipe")
                self.buf += chunk
            raw, self.buf = self.buf.split(b"\0", 1)
            answer = json.loads(raw)
            if answer.get("id") == self.next:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]


def main():
    chromium, profile, url, steps = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
    to_r, to_w = os.pipe()
    from_r, from_w = os.pipe()

    def child_fds():
        # Copies first: a pipe's end may be 3 or 4 already, and Python's pipes close on exec.
        read_end, write_end = os.dup(to_r), os.dup(from_w)
        os.dup2(read_end, 3)
        os.dup2(write_end, 4)

    browser = subprocess.Popen(
        [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile, "--window-size=1280,900", "--remote-debugging-pipe",
         "about:blank"] + os.environ.get("PAGEDRIVER_FLAGS", "").split(),
        preexec_fn=child_fds, close_fds=False, stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL)
    os.close(to_r)
    os.close(from_w)
    try:
        pipe = Pipe(to_w, from_r)
        target = pipe.call("Target.createTarget", {"url": url})["targetId"]
        session = pipe.call("Target.attachToTarget",
                            {"targetId": target, "flatten": True})["sessionId"]
        for step in steps:
            for _ in range(600):
                try:
                    result = pipe.call("Runtime.evaluate", {"expression": step,
                                       "returnByValue": True, "awaitPromise": True}, session)
                except RuntimeError as e:
                    if "closed its pipe" in str(e):
                        raise
                    result = {}
                if result.get("result", {}).get("value") is True:
                    break
                time.sleep(0.1)
            else:
                print("never true: " + step, file=sys.stderr)
                return 1
        return 0
    finally:
        browser.kill()
        browser.wait()


if __name__ == "__main__":
    sys.exit(main())
