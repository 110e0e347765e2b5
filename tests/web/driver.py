"""The browser the page's tests drive: a headless Chromium and one page over
one DevTools connection, with the moves a person makes (opening a file,
clicking, typing, pressing a key) and the downloads they get."""
import json
import os
import subprocess
import time

CHROMIUM = "/usr/bin/chromium"


class Browser:
    """A headless Chromium and one page, over one DevTools connection."""

    def __init__(self, websocket, profile, downloads):
        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--disable-dev-shm-usage", "--autoplay-policy=no-user-gesture-required",
             f"--user-data-dir={profile}", "--remote-debugging-port=0", "--remote-allow-origins=*",
             "about:blank"],
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
        self.downloads = downloads
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads,
                  eventsEnabled=True)
        self.page("Network.enable")
        self.page("Page.enable")

    def send(self, method, session=None, **params):
        """Sends a command without waiting for its answer, which a dialog
        it opens would hold back; the answer lands among the events."""
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.ws.send(json.dumps(message))

    def call(self, method, session=None, **params):
        self.send(method, session, **params)
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

    def wait_event(self, method, seconds=5):
        """The next event of that kind, or None. A dialog blocks the page's
        script, so events are read straight off the connection."""
        seen = len(self.events)
        deadline = time.time() + seconds
        self.ws.settimeout(0.2)
        try:
            while time.time() < deadline:
                for event in self.events[seen:]:
                    if event.get("method") == method:
                        return event
                seen = len(self.events)
                try:
                    self.events.append(json.loads(self.ws.recv()))
                except Exception:  # the read timed out: nothing came
                    pass
        finally:
            self.ws.settimeout(60)
        return None

    def navigate(self, url):
        self.page("Page.navigate", url=url)
        self.wait("window.qevStudio && window.qevStudio.ready")

    def open_file(self, path, wait=True):
        """Chooses path in the page's Open control, and waits for its check;
        or, unless wait, goes on at once, as a dialog may hold the page."""
        # Its own open, not any check: one an earlier edit started may end meanwhile.
        opens = self.eval("window.qevStudio.opens()") if wait else 0
        document = self.page("DOM.getDocument")["root"]["nodeId"]
        node = self.page("DOM.querySelector", nodeId=document, selector="#open")["nodeId"]
        if not wait:
            self.send("DOM.setFileInputFiles", session=self.session, files=[path], nodeId=node)
            return
        self.page("DOM.setFileInputFiles", files=[path], nodeId=node)
        if wait:
            self.wait(f"window.qevStudio.opens() > {opens}")

    def box(self, element_id):
        return self.eval(f"(() => {{ const r = document.getElementById('{element_id}')"
                         ".getBoundingClientRect(); return {x: r.left, y: r.top}; })()")

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.page("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def click_roll(self, x, y):
        """A click at a point in the roll's own pixels."""
        self.eval("document.getElementById('roll').scrollIntoView({ block: 'nearest' })")
        box = self.box("roll")
        self.click(box["x"] + x, box["y"] + y)

    def click_element(self, element_id):
        """A click in the middle of the element, scrolled into view first."""
        self.click_selector(f"#{element_id}")

    def click_selector(self, selector):
        """A click in the middle of the first element selector names."""
        box = self.eval(f"(() => {{ const e = document.querySelector({json.dumps(selector)});"
                        " e.scrollIntoView({ block: 'center' }); const r = e.getBoundingClientRect();"
                        " return {x: r.left + r.width / 2, y: r.top + r.height / 2}; })()")
        self.click(box["x"], box["y"])

    def press_space(self):
        for kind in ("keyDown", "keyUp"):
            self.page("Input.dispatchKeyEvent", type=kind, key=" ", code="Space", text=" " if kind == "keyDown" else "",
                      windowsVirtualKeyCode=32)

    def type_text(self, text):
        self.page("Input.insertText", text=text)

    def completed_downloads(self):
        return sum(1 for e in self.events if e.get("method") == "Browser.downloadProgress"
                   and e["params"].get("state") == "completed")

    def download(self, element_id, name):
        """Clicks the element and returns the bytes it downloads as name, or None."""
        for f in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, f))
        done = self.completed_downloads()
        self.eval(f"document.getElementById('{element_id}').click()")
        # Chromium may make the file under its final name at once and fill a
        # .crdownload beside it: the download is done when it says so.
        deadline = time.time() + 30
        while time.time() < deadline and (self.completed_downloads() == done or any(
                f.endswith(".crdownload") for f in os.listdir(self.downloads))):
            self.eval("1")  # lets the browser's events arrive
            time.sleep(0.05)
        target = os.path.join(self.downloads, name)
        return open(target, "rb").read() if os.path.exists(target) else None

    def close(self):
        self.ws.close()
        self.proc.kill()
        self.proc.wait()


def run(*args):
    return subprocess.run(args, capture_output=True)


def run_rows(counter, table):
    """Runs rows of (name, check, args...); a page without what a row checks
    fails that row, not the rest. Returns the failures, each with its row."""
    failures = []
    for name, check, *args in table:
        counter["count"] += 1
        try:
            faults = check(*args)
        except RuntimeError as e:
            faults = [f"the page failed: {str(e)[:300]}"]
        failures += [f"{name}: {fault}" for fault in faults]
    return failures
