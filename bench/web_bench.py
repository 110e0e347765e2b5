#!/usr/bin/python3
"""Times the web page in headless Chromium, opened from disk.

usage: web_bench.py PAGE [EVENTS] [EDIT-LINES]

Opens a file of EVENTS event lines (default 1,000,000, in note-on and
note-off pairs on eight channels) and prints the time from handing the file
to the page to the roll's first draw, each stage's time, and the longest task
that held the page meanwhile (from the browser's long-task records); then the
longest task while it zooms, drags and hovers over the whole file. Then
types a file of EDIT-LINES lines (default 10,000) into the editor and prints
how long the page takes from the edit to the redrawn roll, the debounce not
counted.
"""
import json
import os
import sys
import tempfile
import time

import websocket  # python3-websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
from driver import Browser  # noqa: E402
from large import events  # noqa: E402


def main():
    page = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    edit_lines = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    scratch = tempfile.mkdtemp()
    path = os.path.join(scratch, "large.qev")
    with open(path, "w") as f:
        f.write(events(count).decode())
    os.mkdir(os.path.join(scratch, "downloads"))
    browser = Browser(websocket, os.path.join(scratch, "profile"), os.path.join(scratch, "downloads"))
    browser.navigate("file://" + page)
    browser.eval("window.longTasks = []; new PerformanceObserver((l) => l.getEntries()"
                 ".forEach((e) => window.longTasks.push(e.duration))).observe({type: 'longtask'})")
    start = time.time()
    checks = browser.eval("window.qevStudio.checks()")
    document = browser.page("DOM.getDocument")["root"]["nodeId"]
    node = browser.page("DOM.querySelector", nodeId=document, selector="#open")["nodeId"]
    browser.page("DOM.setFileInputFiles", files=[path], nodeId=node)
    browser.wait(f"window.qevStudio.checks() > {checks}", 300)
    total = time.time() - start
    t = browser.eval("window.qevStudio.timings()")
    longest = browser.eval("Math.max(0, ...window.longTasks)")
    print(f"web page, {count:,} events ({os.path.getsize(path) / 1e6:.1f} MB): "
          f"{total:.2f} s from opening to the converted file; check {t['check']:.0f} ms, "
          f"first draw {t['check'] + t['draw']:.0f} ms after the file was read, "
          f"convert {t['convert']:.0f} ms; longest task {longest:.0f} ms")

    browser.eval("document.getElementById('fit').click()")
    redraw = browser.eval("(() => { const t = []; for (let i = 0; i < 5; i++) { const s = performance.now();"
                          " drawRoll(); t.push(performance.now() - s); } return t.sort((a, b) => a - b)[2]; })()")
    print(f"web page, a redraw of all {count:,} events in view: {redraw:.1f} ms (median of 5)")
    # Zooming, dragging and hovering over the whole file, as a person
    # would: the longest task and the number over 50 ms for each.
    box = browser.box("roll")
    x, y = box["x"] + 400, box["y"] + 150
    browser.eval("document.getElementById('fit').click()")
    for name, moves in (
            ("zoom", [("mouseWheel", x, y, {"deltaX": 0, "deltaY": -120, "modifiers": 2})] * 5 +
                     [("mouseWheel", x, y, {"deltaX": 0, "deltaY": 120, "modifiers": 2})] * 5),
            ("drag", [("mousePressed", x, y, {"button": "left", "clickCount": 1})] +
                     [("mouseMoved", x - 20 * i, y, {"button": "left"}) for i in range(1, 11)] +
                     [("mouseReleased", x - 200, y, {"button": "left", "clickCount": 1})]),
            ("hover", [("mouseMoved", x + 7 * i, y + 3 * (i % 5), {}) for i in range(20)])):
        browser.eval("document.getElementById('fit').click(); window.longTasks = []")
        start = time.time()
        for kind, mx, my, extra in moves:
            browser.page("Input.dispatchMouseEvent", type=kind, x=mx, y=my, **extra)
        browser.eval("new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)))")
        took = time.time() - start
        tasks = browser.eval("window.longTasks")
        longest = f"longest task {max(tasks):.0f} ms" if tasks else "no task over 50 ms"
        print(f"web page, {name} over {count:,} events: {len(moves)} moves in {took:.2f} s; "
              f"{longest}, {len(tasks)} tasks over 50 ms")

    text = events(edit_lines).decode()
    checks = browser.eval("window.qevStudio.checks()")
    browser.eval("(() => { const e = document.getElementById('editor'); e.value = " + json.dumps(text) +
                 "; e.dispatchEvent(new Event('input')); })()")
    browser.wait(f"window.qevStudio.checks() > {checks}", 60)
    t = browser.eval("window.qevStudio.timings()")
    print(f"web page, an edit of a {edit_lines:,}-line file: check and redraw "
          f"{t['check'] + t['draw']:.0f} ms, convert {t['convert']:.0f} ms")
    browser.close()


if __name__ == "__main__":
    main()
