"""Opens pages of the manual in headless Chromium and fails on any console
error, uncaught exception, failed load or broken image.

    python3 check_browser.py HTML_DIR PAGE...

Drives Chromium through its DevTools protocol over a pipe
(--remote-debugging-pipe: JSON messages ended by a NUL byte on file
descriptors 3 and 4), so it needs nothing beyond the standard library and
Debian's chromium (CHROMIUM names another binary). Each page must also show
at least one image when given as PAGE:images.
"""

import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe"]
TIMEOUT = 60

BROKEN_IMAGES = """
Array.from(document.images)
     .filter(image => !image.complete || image.naturalWidth === 0)
     .map(image => image.getAttribute('src'))
"""


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="check_browser_")
        to_browser, self._in = os.pipe()
        self._out, from_browser = os.pipe()

        def descriptors():
            os.dup2(to_browser, 3)
            os.dup2(from_browser, 4)

        binary = os.environ.get("CHROMIUM", "chromium")
        self.process = subprocess.Popen([binary, *FLAGS, f"--user-data-dir={self.profile}", "about:blank"],
                                        pass_fds=(3, 4), preexec_fn=descriptors,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b""
        self._next = 0
        self.events = []

    def send(self, method, params=None, session=None):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self._in, json.dumps(message).encode() + b"\0")
        return self._next

    def receive(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._out], [], [], left)[0]:
                raise TimeoutError("no answer from chromium")
            chunk = os.read(self._out, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None):
        number = self.send(method, params, session)
        deadline = time.monotonic() + TIMEOUT
        while True:
            message = self.receive(deadline)
            if message.get("id") == number:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def close(self):
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def problems_of(browser, url):
    """Loads `url` in a new tab; returns its problems and its images."""
    target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    for domain in ("Runtime", "Log", "Page", "Network"):
        browser.call(f"{domain}.enable", session=session)
    browser.events = []
    browser.call("Page.navigate", {"url": url}, session)
    deadline = time.monotonic() + TIMEOUT
    loaded = False
    while not loaded:
        message = browser.receive(deadline)
        browser.events.append(message)
        loaded = message.get("method") == "Page.loadEventFired" and message.get("sessionId") == session
    # What a page's scripts do once loaded (search index, highlighting).
    settle = time.monotonic() + 1.0
    try:
        while True:
            browser.events.append(browser.receive(settle))
    except TimeoutError:
        pass
    problems = []
    for event in browser.events:
        if event.get("sessionId") != session:
            continue
        method, params = event.get("method"), event.get("params", {})
        if method == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            problems.append("exception: " + details.get("exception", {}).get("description", details.get("text", "")))
        elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            problems.append("console: " + " ".join(str(a.get("value", a.get("description", ""))) for a in params["args"]))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            problems.append(f"log: {params['entry']['text']} {params['entry'].get('url', '')}".strip())
        elif method == "Network.loadingFailed" and not params.get("canceled"):
            problems.append(f"load failed: {params.get('errorText')} (request {params.get('requestId')})")
    result = browser.call("Runtime.evaluate", {"expression": BROKEN_IMAGES, "returnByValue": True}, session)
    problems += [f"broken image: {src}" for src in result["result"]["value"]]
    count = browser.call("Runtime.evaluate", {"expression": "document.images.length", "returnByValue": True},
                         session)["result"]["value"]
    browser.call("Target.closeTarget", {"targetId": target})
    return problems, count


def main(root, pages):
    browser = Browser()
    failed = False
    try:
        for page in pages:
            name, _, need = page.partition(":")
            path = os.path.abspath(os.path.join(root, name))
            if not os.path.exists(path):
                print(f"check_browser: {name}: no such page")
                failed = True
                continue
            problems, images = problems_of(browser, "file://" + path)
            if need == "images" and images == 0:
                problems.append("no image on the page")
            print(f"check_browser: {name}: {images} images, {len(problems)} problems")
            for problem in problems:
                print("  " + problem)
            failed = failed or bool(problems)
    finally:
        browser.close()
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print("usage: check_browser.py HTML_DIR PAGE[:images]...", file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
