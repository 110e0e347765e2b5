#!/usr/bin/python3
"""The web page in headless Chromium, opened from disk as users open it, and
driven over the DevTools protocol. For each input opened as a file, the
findings on the page must be qevcheck's JSON, the downloaded .mid qev2mid's
output byte for byte, and for a MIDI file the editor's text mid2qev's. The
page must make no request beyond file:, data: and blob:.

It also samples the piano roll's canvas where notes and marks are drawn
and where nothing is, renders notes through the page's own synthesizer
offline, and saves screenshots for a person to look at.

usage: web_test.py PAGE QEV2MID QEVCHECK MID2QEV [SCREENSHOT-DIR]
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(1 if os.environ.get("QEV2MID_REQUIRE_TOOLS") == "1" else 77)


try:
    import websocket  # python3-websocket
except ImportError:
    websocket = None


# Each row: the file's name and bytes.
CASES = [
    ("song.qev", b"melody\n0 0 a P 60 90\n0 500 a D 60\n1 0 a P 62 90\n1 500 a D 62\n"
                 b"bass\n0 0 b P 43 70\n2 0 b D 43\n"),
    ("crlf.qev", b"0 0 a P 60 90\r\n0 500 a D 60\r\n1.5 0 a P 62 90\r\n"),
    ("mark.qev", b"0 0 a P 60 90\n0 500 a D 60\n\x1a0 0 a P 1 1 and more\n"),
    ("bom.qev", b"\xef\xbb\xbf0 0 a P 60 90\n0 500 a D 60\n"),
    ("no-final-lf.qev", b"0 0 a P 60 90\n0 500 a D 60"),
    ("text.txt", b"caf\xc3\xa9 \xff\n0 0 \xc3\xa9 P 1 1\n0 0 a P 60 1OO\n1 0 a D 60\n"),
    ("empty.qev", b""),
]


class Browser:
    """A headless Chromium and one page, over one DevTools connection."""

    def __init__(self, profile):
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--disable-dev-shm-usage", f"--user-data-dir={profile}",
             "--remote-debugging-port=0", "--remote-allow-origins=*", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.time() + 60
        while not os.path.exists(port_file) or len(open(port_file).read().split()) < 2:
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        port, path = open(port_file).read().split()[:2]
        # Chromium refuses a DevTools client that names an origin it was not told of.
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}{path}", timeout=60,
                                              suppress_origin=True)
        self.next_id = 0
        self.events = []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.ws.send(json.dumps(message))
        while True:
            reply = json.loads(self.ws.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def page(self, method, **params):
        return self.call(method, session=self.session, **params)

    def eval(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait(self, expression, seconds=60):
        deadline = time.time() + seconds
        while not self.eval(expression):
            if time.time() > deadline:
                raise RuntimeError(f"timed out waiting for {expression}")
            time.sleep(0.05)

    def close(self):
        self.ws.close()
        self.proc.kill()
        self.proc.wait()


def run(*args):
    return subprocess.run(args, capture_output=True)


def main():
    global PAGE, QEV2MID, QEVCHECK, MID2QEV, SHOTS
    if websocket is None:
        skip("python3-websocket is not installed")
    if not os.access(CHROMIUM, os.X_OK):
        skip("chromium is not installed")
    PAGE, QEV2MID, QEVCHECK, MID2QEV = (os.path.abspath(a) for a in sys.argv[1:5])
    SHOTS = sys.argv[5] if len(sys.argv) > 5 else None
    failures = []
    scratch = tempfile.mkdtemp()
    try:
        browser = Browser(os.path.join(scratch, "profile"))
        downloads = os.path.join(scratch, "downloads")
        os.mkdir(downloads)
        browser.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads,
                     eventsEnabled=True)
        browser.page("Network.enable")
        browser.page("Page.enable")
        browser.page("Page.navigate", url="file://" + PAGE)
        browser.wait("window.qevStudio && window.qevStudio.ready")

        inputs = os.path.join(scratch, "inputs")
        os.mkdir(inputs)
        cases = list(CASES)
        # A MIDI file opened on the page goes through mid2qev's reader.
        with open(os.path.join(inputs, "tune.qev"), "wb") as f:
            f.write(CASES[0][1])
        run(QEV2MID, os.path.join(inputs, "tune.qev"))
        with open(os.path.join(inputs, "tune.mid"), "rb") as f:
            cases.append(("tune.mid", f.read()))

        for name, data in cases:
            path = os.path.join(inputs, name)
            with open(path, "wb") as f:
                f.write(data)
            failures += check_case(browser, path, name, downloads)

        failures += check_roll_and_sound(browser, inputs)

        for event in browser.events:
            if event.get("method") == "Network.requestWillBeSent":
                url = event["params"]["request"]["url"]
                if not url.startswith(("file:", "data:", "blob:")):
                    failures.append(f"the page asked for {url}")
        browser.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAIL", failure)
    print(f"web: {len(cases)} inputs, {compared['findings']} findings and "
          f"{compared['downloads']} downloads compared, {len(failures)} failures")
    return 1 if failures else 0


compared = {"findings": 0, "downloads": 0}


def open_file(browser, path):
    checks = browser.eval("window.qevStudio.checks()")
    document = browser.page("DOM.getDocument")["root"]["nodeId"]
    node = browser.page("DOM.querySelector", nodeId=document, selector="#open")["nodeId"]
    browser.page("DOM.setFileInputFiles", files=[path], nodeId=node)
    browser.wait(f"window.qevStudio.checks() > {checks}")


def near(pixel, colour, alpha):
    """Whether pixel is colour drawn at alpha over white, give or take."""
    want = [alpha * int(colour[i:i + 2], 16) + (1 - alpha) * 255 for i in (1, 3, 5)]
    return all(abs(p - w) < 40 for p, w in zip(pixel, want))


def check_roll_and_sound(browser, inputs):
    failures = []
    song = os.path.join(inputs, "song.qev")
    open_file(browser, song)
    # Channel a's first note, velocity 90; the mark of the stray note off;
    # and a spot between the notes, which must stay empty.
    note = browser.eval("window.qevStudio.notePoint(0)")
    pixel = browser.eval(f"window.qevStudio.pixel({note['x']}, {note['y']})")
    if not near(pixel, "#0072b2", 0.35 + 0.65 * 90 / 127):
        failures.append(f"roll: note 0 at {note} is {pixel}")
    marks = browser.eval("window.qevStudio.marks()")
    for i, mark in enumerate(marks):
        point = browser.eval(f"window.qevStudio.markPoint({i})")
        pixel = browser.eval(f"window.qevStudio.pixel({point['x']}, {point['y']})")
        if not near(pixel, "#d1242f", 1):
            failures.append(f"roll: mark {i} ({mark}) at {point} is {pixel}")
    if [m["line"] for m in marks] != [7, 8]:
        failures.append(f"roll: marks at lines {[m['line'] for m in marks]}, expected 7 and 8")
    empty = browser.eval("window.qevStudio.notePoint(1)")
    pixel = browser.eval(f"window.qevStudio.pixel({empty['x']}, {empty['y']} + 30)")
    if not (near(pixel, "#ffffff", 1) or near(pixel, "#f3f4f6", 1)):
        failures.append(f"roll: the empty spot under note 1 is {pixel}")
    # A click on a note selects its lines; one on a mark, its finding.
    for point, want in ((note, "0 0 a P 60 90\n0 500 a D 60"), (marks and browser.eval(
            "window.qevStudio.markPoint(0)"), "")):
        box = browser.eval("(() => { const r = document.getElementById('roll')"
                           ".getBoundingClientRect(); return {x: r.left, y: r.top}; })()")
        for kind in ("mousePressed", "mouseReleased"):
            browser.page("Input.dispatchMouseEvent", type=kind, x=box["x"] + point["x"],
                         y=box["y"] + point["y"], button="left", clickCount=1)
        got = browser.eval("(() => { const e = document.getElementById('editor');"
                           " return [e.value.slice(e.selectionStart, e.selectionEnd),"
                           " e.value.slice(0, e.selectionStart).split('\\n').length]; })()")
        if want and got[0] != want:
            failures.append(f"roll: a click on note 0 selects {got[0]!r}")
        if not want and got[1] != marks[0]["line"]:
            failures.append(f"roll: a click on mark 0 puts the cursor on line {got[1]}")
    peak = browser.eval("window.qevStudio.renderOffline(2)")
    if not peak > 0.01:
        failures.append(f"sound: the notes render at peak {peak}")
    if SHOTS:
        os.makedirs(SHOTS, exist_ok=True)
        for width in (1200, 360):
            browser.page("Emulation.setDeviceMetricsOverride", width=width, height=900,
                         deviceScaleFactor=1, mobile=width < 500)
            browser.page("Runtime.evaluate", expression="document.getElementById('fit').click()")
            if browser.eval("document.documentElement.scrollWidth") > width:
                failures.append(f"page: wider than {width} px")
            shot = browser.page("Page.captureScreenshot", format="png")["data"]
            with open(os.path.join(SHOTS, f"song-{width}.png"), "wb") as f:
                f.write(base64.b64decode(shot))
        browser.page("Emulation.clearDeviceMetricsOverride")
    open_file(browser, os.path.join(inputs, "empty.qev"))
    peak = browser.eval("window.qevStudio.renderOffline(1)")
    if peak != 0:
        failures.append(f"sound: an empty file renders at peak {peak}")
    return failures


def completed_downloads(browser):
    return sum(1 for e in browser.events if e.get("method") == "Browser.downloadProgress"
               and e["params"].get("state") == "completed")


def check_case(browser, path, name, downloads):
    failures = []
    is_midi = name.endswith(".mid")
    open_file(browser, path)

    # What the page checks: the file's own bytes, or mid2qev's text.
    qev_path = path
    if is_midi:
        back = run(MID2QEV, "-o", "-", path)
        text = browser.eval("window.qevStudio.text()")
        if text != back.stdout.decode():
            failures.append(f"{name}: the editor holds {text!r}, mid2qev gives {back.stdout!r}")
        qev_path = path[:-4] + ".from-midi.qev"
        with open(qev_path, "wb") as f:
            f.write(back.stdout)
    want = [json.loads(line) for line in run(QEVCHECK, "--format=json", qev_path).stdout.splitlines()]
    for finding in want:
        del finding["file"]
    got = browser.eval("window.qevStudio.findings()")
    if got != want:
        failures.append(f"{name}: findings {got} differ from qevcheck's {want}")
    compared["findings"] += len(want)

    # The download, against qev2mid's own output.
    converted = os.path.join(os.path.dirname(path), "converted.qev")
    shutil.copy(qev_path, converted)
    ok = run(QEV2MID, converted).returncode == 0
    disabled = browser.eval("document.getElementById('download-mid').disabled")
    if disabled == ok:
        failures.append(f"{name}: download {'off' if disabled else 'on'}, qev2mid {'converts' if ok else 'fails'}")
    if ok:
        for f in os.listdir(downloads):
            os.remove(os.path.join(downloads, f))
        done = completed_downloads(browser)
        browser.eval("document.getElementById('download-mid').click()")
        want_name = name.rsplit(".", 1)[0] + ".mid"
        target = os.path.join(downloads, want_name)
        # Chromium may make the file under its final name at once and fill a
        # .crdownload beside it: the download is done when it says so.
        deadline = time.time() + 30
        while time.time() < deadline and (completed_downloads(browser) == done or any(
                f.endswith(".crdownload") for f in os.listdir(downloads))):
            browser.eval("1")  # lets the browser's events arrive
            time.sleep(0.05)
        with open(converted[:-4] + ".mid", "rb") as f:
            want_mid = f.read()
        got_mid = open(target, "rb").read() if os.path.exists(target) else None
        compared["downloads"] += 1
        if got_mid != want_mid:
            failures.append(f"{name}: downloaded {want_name} {os.listdir(downloads)} differs from qev2mid's")
    return failures


if __name__ == "__main__":
    sys.exit(main())
