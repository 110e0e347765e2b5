#!/usr/bin/python3
"""The web page in headless Chromium, opened from disk as users open it, and
driven over the DevTools protocol. For each input opened as a file, the
findings on the page must be qevcheck's JSON, the downloaded .mid qev2mid's
output byte for byte, and for a MIDI file the editor's text mid2qev's. The
page must make no request beyond file:, data: and blob:.

usage: web_test.py PAGE QEV2MID QEVCHECK MID2QEV
"""
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
    skip("python3-websocket is not installed")
if not os.access(CHROMIUM, os.X_OK):
    skip("chromium is not installed")

PAGE, QEV2MID, QEVCHECK, MID2QEV = (os.path.abspath(a) for a in sys.argv[1:5])

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
             "--remote-debugging-port=0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.time() + 60
        while not os.path.exists(port_file) or len(open(port_file).read().split()) < 2:
            if time.time() > deadline or self.proc.poll() is not None:
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        port, path = open(port_file).read().split()[:2]
        self.ws = websocket.create_connection(f"ws://127.0.0.1:{port}{path}", timeout=60)
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


def check_case(browser, path, name, downloads):
    failures = []
    is_midi = name.endswith(".mid")
    checks = browser.eval("window.qevStudio.checks()")
    document = browser.page("DOM.getDocument")["root"]["nodeId"]
    node = browser.page("DOM.querySelector", nodeId=document, selector="#open")["nodeId"]
    browser.page("DOM.setFileInputFiles", files=[path], nodeId=node)
    browser.wait(f"window.qevStudio.checks() > {checks}")

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
        browser.eval("document.getElementById('download-mid').click()")
        want_name = name.rsplit(".", 1)[0] + ".mid"
        target = os.path.join(downloads, want_name)
        deadline = time.time() + 30
        while not os.path.exists(target) and time.time() < deadline:
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
