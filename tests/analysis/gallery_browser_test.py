#!/usr/bin/python3
"""gallery_browser_test.py INDEX_HTML [PROGRAMS]: headless Chromium opens the
gallery from disk; any console error or failed load, an image or player that
does not load, fewer sections than programs or a blank screenshot fails.
Chromium is driven through its DevTools protocol over a pipe (NUL-separated
JSON on descriptors 3 and 4): nothing but Chromium and Python is needed."""
import base64
import io
import json
import os
import pathlib
import select
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageStat

CHROMIUM = "/usr/bin/chromium"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe", "--window-size=1280,1000"]

# Runs in the page: what loaded and what did not. Audio gets its metadata in
# the background; the check waits for each element to settle either way.
PAGE_CHECK = """(async () => {
  const images = [...document.images];
  const badImages = images.filter(i => !i.complete || i.naturalWidth === 0).map(i => i.getAttribute('src'));
  const audios = [...document.querySelectorAll('audio')];
  const settled = a => new Promise(done => {
    if (a.error || a.readyState >= 1) return done();
    a.addEventListener('loadedmetadata', done, {once: true});
    a.addEventListener('error', done, {once: true});
    setTimeout(done, 20000);
  });
  await Promise.all(audios.map(settled));
  const badAudio = audios.filter(a => a.error || a.readyState < 1 || !(a.duration > 0)).map(a => a.getAttribute('src'));
  const links = [...document.querySelectorAll('table.overview a')].map(a => a.getAttribute('href'));
  const brokenLinks = links.filter(h => !document.getElementById(h.slice(1)));
  const external = [...document.querySelectorAll('[src],[href]')]
    .map(e => e.getAttribute('src') || e.getAttribute('href')).filter(u => /^[a-z]+:/i.test(u));
  // A click on "T30 mid" sorts the overview: numbers ascending, then the rows without one.
  const header = [...document.querySelectorAll('table.overview th')].find(th => th.textContent.startsWith('T30'));
  let sorts = false;
  if (header) {
    header.click();
    const column = [...header.parentNode.children].indexOf(header);
    const values = [...header.closest('table').tBodies[0].rows].map(r => r.children[column]?.dataset.value);
    const numbers = values.filter(v => v !== undefined).map(Number);
    const firstMissing = values.findIndex(v => v === undefined);
    sorts = numbers.length > 1 && numbers.every((v, i) => i === 0 || numbers[i - 1] <= v) &&
            (firstMissing < 0 || values.slice(firstMissing).every(v => v === undefined));
  }
  return {sections: document.querySelectorAll('section').length, images: images.length, badImages,
          audios: audios.length, badAudio, links: links.length, brokenLinks, external, sorts};
})()"""


class cDevTools:
    def __init__(self, profile):
        to_chromium, self.write_end = os.pipe()
        self.read_end, from_chromium = os.pipe()

        def descriptors():
            os.dup2(to_chromium, 3)
            os.dup2(from_chromium, 4)

        self.process = subprocess.Popen([CHROMIUM] + FLAGS + [f"--user-data-dir={profile}", "about:blank"],
                                        pass_fds=(3, 4), preexec_fn=descriptors,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chromium)
        os.close(from_chromium)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def receive(self, timeout):
        while b"\0" not in self.buffer:
            ready, _, _ = select.select([self.read_end], [], [], timeout)
            if not ready:
                return None
            data = os.read(self.read_end, 1 << 20)
            if not data:
                raise RuntimeError("Chromium closed the DevTools pipe")
            self.buffer += data
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=60):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.write_end, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            reply = self.receive(deadline - time.monotonic())
            if reply is None:
                break
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]
            self.events.append(reply)
        raise RuntimeError(f"{method}: no answer within {timeout} s")

    def wait_for(self, method, timeout):
        deadline = time.monotonic() + timeout
        while not any(e.get("method") == method for e in self.events) and time.monotonic() < deadline:
            event = self.receive(max(0.0, deadline - time.monotonic()))
            self.events += [event] if event else []
        return any(e.get("method") == method for e in self.events)


def problems_in(events):
    found = []
    for e in events:
        method, params = e.get("method"), e.get("params", {})
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            found.append("console: " + " ".join(str(a.get("value", a.get("description"))) for a in params["args"]))
        elif method == "Runtime.exceptionThrown":
            found.append("exception: " + params["exceptionDetails"].get("text", ""))
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            found.append(f"log: {params['entry']['text']} {params['entry'].get('url', '')}")
        elif method == "Network.loadingFailed":
            found.append(f"load failed: {params.get('errorText')}")
    return found


def blank(png):
    # A page that shows anything has both light and dark pixels and more than a few colours.
    image = Image.open(io.BytesIO(png)).convert("RGB")
    grey = image.convert("L")
    return ImageStat.Stat(grey).stddev[0] < 10.0 or len(image.getcolors(1 << 16) or range(1 << 16)) < 16


def main(argv):
    index = pathlib.Path(argv[1]).resolve()
    programs = int(argv[2]) if len(argv) > 2 else 64
    failures = []
    with tempfile.TemporaryDirectory() as profile:
        browser = cDevTools(profile)
        try:
            target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
            session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
            for domain in ("Runtime", "Log", "Page", "Network"):
                browser.call(f"{domain}.enable", session=session)
            browser.call("Page.navigate", {"url": index.as_uri()}, session=session)
            if not browser.wait_for("Page.loadEventFired", 60):
                failures.append("the page did not finish loading within 60 s")
            state = browser.call("Runtime.evaluate", {"expression": PAGE_CHECK, "awaitPromise": True,
                                                      "returnByValue": True}, session=session, timeout=90)
            result = state["result"]["value"]
            shot = base64.b64decode(browser.call("Page.captureScreenshot", {"format": "png"}, session=session)["data"])
            browser.wait_for("never", 1.0)  # late errors
            failures += problems_in(browser.events)
        finally:
            browser.process.terminate()
            browser.process.wait(timeout=30)

    print(f"{index}: {result['sections']} sections, {result['images']} images, {result['audios']} players, "
          f"{result['links']} overview links")
    if result["sections"] < programs:
        failures.append(f"{result['sections']} sections, expected {programs}")
    if result["images"] < 4 * programs or result["audios"] < programs:
        failures.append(f"{result['images']} images and {result['audios']} players for {programs} programs")
    failures += [f"image did not load: {src}" for src in result["badImages"]]
    failures += [f"audio did not load: {src}" for src in result["badAudio"]]
    failures += [f"overview link leads nowhere: {href}" for href in result["brokenLinks"]]
    failures += [f"not offline: {url}" for url in result["external"]]
    if not result["sorts"]:
        failures.append("a click on the T30 column does not sort the overview")
    if blank(shot):
        failures.append("the screenshot is blank")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
