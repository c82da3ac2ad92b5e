#!/usr/bin/env python3
"""Opens the users' manual from disk in headless Chromium, 1280 px wide, and
fails when a resource does not load, a picture is broken, a sound has no
metadata, an in-page link leads nowhere, an item of a plug-in's table has no
explanation, the page overflows horizontally, or the screenshot is blank.

    browser_check.py MANUAL/index.html SCREENSHOT.png

Chromium is driven through the DevTools protocol over a pipe
(--remote-debugging-pipe: commands on its fd 3, replies on its fd 4, each
message JSON ending in a NUL byte), so nothing but Python and Chromium is
needed. The screenshot of the first screen is kept at SCREENSHOT.png, and one
of the whole page, at 75 % in parts of 2400 px, next to it as SCREENSHOT-page-N.png.
"""
import base64
import json
import os
import pathlib
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

WIDTH, HEIGHT = 1280, 900
PAGE_HEIGHT = 2400


class Browser:
    def __init__(self, binary, profile):
        commands_read, self.commands = os.pipe()
        self.replies, replies_write = os.pipe()
        # Chromium expects the pipe on fds 3 and 4; move ours out of the way first.
        commands_read = self._high(commands_read)
        replies_write = self._high(replies_write)

        def child():
            os.dup2(commands_read, 3)
            os.dup2(replies_write, 4)

        args = [binary, "--headless=new", "--remote-debugging-pipe", "--disable-gpu", "--no-first-run",
                "--no-default-browser-check", "--mute-audio", "--hide-scrollbars", "--disable-dev-shm-usage",
                "--user-data-dir=" + profile]
        if os.geteuid() == 0:
            args.append("--no-sandbox")
        self.process = subprocess.Popen(args + ["about:blank"], preexec_fn=child, close_fds=False,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands_read)
        os.close(replies_write)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    @staticmethod
    def _high(fd):
        import fcntl
        high = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
        os.close(fd)
        return high

    def _read(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.replies], [], [], left)[0]:
                raise TimeoutError("Chromium did not answer in time")
            chunk = os.read(self.replies, 1 << 20)
            if not chunk:
                raise RuntimeError("Chromium closed the pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events:
                if event.get("method") == method:
                    return event
            self.events.append(self._read(deadline))

    def close(self):
        try:
            self.call("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def png_pixels(data):
    """(width, height, rows of RGB(A) bytes) of an 8-bit, non-interlaced PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, idat, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG format"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = row[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                row[x] = (row[x] + a) & 255
            elif kind == 2:
                row[x] = (row[x] + b) & 255
            elif kind == 3:
                row[x] = (row[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(row))
        previous = row
    return width, height, channels, rows


def blank_reason(png):
    """Why a screenshot counts as blank, or None: it must hold many colours
    and ink (pixels far from the most common colour) on a few per cent."""
    width, height, channels, rows = png_pixels(png)
    counts = {}
    for row in rows[::2]:
        for x in range(0, width * channels, channels * 2):
            pixel = row[x:x + 3]
            counts[pixel] = counts.get(pixel, 0) + 1
    total = sum(counts.values())
    background = max(counts, key=counts.get)
    ink = sum(n for p, n in counts.items() if sum(abs(p[i] - background[i]) for i in range(3)) > 96)
    if len(counts) < 16:
        return f"only {len(counts)} colours"
    if ink < total * 0.01:
        return f"only {100.0 * ink / total:.2f} % of the pixels differ from the background"
    return None


CHECKS = """(() => {
  const broken = [...document.images].filter(i => !i.complete || i.naturalWidth === 0).map(i => i.getAttribute('src'));
  const sounds = [...document.querySelectorAll('audio')].map(a => ({src: a.getAttribute('src'), ready: a.readyState,
      error: a.error ? a.error.code : 0, duration: a.duration}));
  const links = [...document.querySelectorAll('a[href^="#"]')].map(a => a.getAttribute('href'))
      .filter(h => !document.getElementById(h.slice(1)));
  const unexplained = [];
  for (const section of document.querySelectorAll('section')) {
    const notes = new Set([...section.querySelectorAll('dl.notes dt')]
        .map(d => (d.querySelector('.label') || d).textContent.trim()));
    for (const th of section.querySelectorAll('table.items th[scope=row]'))
      if (!notes.has(th.textContent.trim())) unexplained.push(section.id + ': ' + th.textContent.trim());
  }
  const root = document.documentElement;
  return {broken, sounds, links, unexplained, images: document.images.length,
          scrollWidth: root.scrollWidth, clientWidth: root.clientWidth, height: root.scrollHeight,
          text: document.body.innerText.length};
})()"""


def evaluate(browser, session, expression):
    result = browser.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
    if "exceptionDetails" in result:
        raise RuntimeError(f"page script failed: {result['exceptionDetails']}")
    return result["result"]["value"]


def main():
    page, screenshot = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2])
    binary = os.environ.get("CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
    if not binary:
        print("chromium is not installed", file=sys.stderr)
        return 77
    failures = []
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(binary, profile)
        try:
            target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
            session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
            for domain in ("Page", "Network", "Runtime"):
                browser.call(domain + ".enable", session=session)
            browser.call("Emulation.setDeviceMetricsOverride",
                         {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False}, session)
            browser.call("Page.navigate", {"url": page.as_uri()}, session)
            browser.wait_for("Page.loadEventFired", timeout=60)
            # Sounds load their metadata after the load event.
            deadline = time.monotonic() + 30
            while True:
                state = evaluate(browser, session, CHECKS)
                if all(s["ready"] >= 1 or s["error"] for s in state["sounds"]) or time.monotonic() > deadline:
                    break
                time.sleep(0.2)
            shot = base64.b64decode(browser.call("Page.captureScreenshot", {"format": "png"}, session)["data"])
            # The whole page in parts of PAGE_HEIGHT px at 75 %, so that its
            # text stays readable (about 10 px high).
            pages = [base64.b64decode(browser.call("Page.captureScreenshot", {
                "format": "png", "captureBeyondViewport": True,
                "clip": {"x": 0, "y": top, "width": WIDTH, "height": min(PAGE_HEIGHT, state["height"] - top),
                         "scale": 0.75}}, session)["data"]) for top in range(0, state["height"], PAGE_HEIGHT)]
            requested = {e["params"]["requestId"]: e["params"]["request"]["url"]
                         for e in browser.events if e.get("method") == "Network.requestWillBeSent"}
            for e in browser.events:
                if e.get("method") == "Network.loadingFailed":
                    p = e["params"]
                    failures.append(f"did not load: {requested.get(p['requestId'], '?')} ({p.get('errorText')})")
                if e.get("method") == "Network.responseReceived" and e["params"]["response"].get("status", 0) >= 400:
                    failures.append(f"status {e['params']['response']['status']}: {e['params']['response']['url']}")
        finally:
            browser.close()

    failures += [f"broken picture: {src}" for src in state["broken"]]
    failures += [f"sound without metadata: {s['src']} (readyState {s['ready']}, error {s['error']})"
                 for s in state["sounds"] if s["ready"] < 1 or s["error"]]
    failures += [f"link to a missing anchor: {h}" for h in state["links"]]
    failures += [f"item without an explanation: {u}" for u in state["unexplained"]]
    if state["scrollWidth"] > state["clientWidth"]:
        failures.append(f"overflows horizontally: {state['scrollWidth']} px wide in a {state['clientWidth']} px window")
    if state["images"] == 0 or not state["sounds"]:
        failures.append("the page has no pictures or no sounds")
    screenshot.parent.mkdir(parents=True, exist_ok=True)
    screenshot.write_bytes(shot)
    for old in screenshot.parent.glob(screenshot.stem + "-page-*.png"):
        old.unlink()
    shots = [(screenshot, shot)]
    for number, png in enumerate(pages, 1):
        path = screenshot.with_name(f"{screenshot.stem}-page-{number}.png")
        path.write_bytes(png)
        shots.append((path, png))
    for name, png in shots:
        reason = blank_reason(png)
        # The last part may be a short strip of the page's end.
        if reason and not (name != screenshot and png is pages[-1] and len(pages) > 1):
            failures.append(f"{name} looks blank: {reason}")

    print(f"{page}: {state['images']} pictures, {len(state['sounds'])} sounds, "
          f"{state['text']} characters, {state['scrollWidth']} x {state['height']} px; screenshots {screenshot} "
          f"and the whole page in {len(pages)} parts, {screenshot.stem}-page-N.png")
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
