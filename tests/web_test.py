#!/usr/bin/python3
"""The web page in headless Chromium, opened from disk as users open it, and
driven over the DevTools protocol (tests/web/driver.py): the conversions
against the programs (conversions.py), the roll and its sound (roll.py), and
what a musician must be able to trust: the time axis, keys, opening, playing,
long files and saving (trust.py), the repairs and their undo (fixes.py),
large files by the work done (large.py),
keys, names, themes and phones (access.py), and drums and channels as they
are drawn and heard (sound.py). The page must make no request beyond
file:, data: and blob:.

usage: web_test.py PAGE QEV2MID QEVCHECK MID2QEV [SCREENSHOT-DIR]
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "web"))
import access  # noqa: E402
import conversions  # noqa: E402
import fixes  # noqa: E402
import large  # noqa: E402
import roll  # noqa: E402
import sound  # noqa: E402
import trust  # noqa: E402
from driver import CHROMIUM, Browser  # noqa: E402


def skip(reason):
    print(f"SKIP: {reason}")
    sys.exit(1 if os.environ.get("QEV2MID_REQUIRE_TOOLS") == "1" else 77)


def main():
    try:
        import websocket  # python3-websocket
    except ImportError:
        skip("python3-websocket is not installed")
    if not os.access(CHROMIUM, os.X_OK):
        skip("chromium is not installed")
    page, qev2mid, qevcheck, mid2qev = (os.path.abspath(a) for a in sys.argv[1:5])
    tools = {"qev2mid": qev2mid, "qevcheck": qevcheck, "mid2qev": mid2qev}
    shots = sys.argv[5] if len(sys.argv) > 5 else None
    failures = []
    scratch = tempfile.mkdtemp()
    try:
        downloads = os.path.join(scratch, "downloads")
        inputs = os.path.join(scratch, "inputs")
        os.mkdir(downloads)
        os.mkdir(inputs)
        browser = Browser(websocket, os.path.join(scratch, "profile"), downloads)
        browser.navigate("file://" + page)

        cases = list(conversions.CASES)
        # A MIDI file opened on the page goes through mid2qev's reader.
        with open(os.path.join(inputs, "tune.qev"), "wb") as f:
            f.write(cases[0][1])
        subprocess.run([qev2mid, os.path.join(inputs, "tune.qev")], capture_output=True)
        with open(os.path.join(inputs, "tune.mid"), "rb") as f:
            cases.append(("tune.mid", f.read()))
        for name, data in cases:
            path = os.path.join(inputs, name)
            with open(path, "wb") as f:
                f.write(data)
            failures += conversions.check_case(browser, tools, path, name)

        failures += roll.check_roll_and_sound(browser, inputs, shots)
        failures += trust.check_all(browser, inputs, tools)
        failures += fixes.check_all(browser, tools, inputs)
        failures += large.check_all(browser, inputs)
        failures += access.check_all(browser, inputs, os.path.join(inputs, "melody.qev"))
        failures += sound.check_all(browser, inputs)

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
    print(f"web: {len(cases)} inputs, {conversions.compared['findings']} findings and "
          f"{conversions.compared['downloads']} downloads compared, {trust.rows['count']} rows of trust, "
          f"{fixes.rows['count']} of fixes, "
          f"{large.rows['count']} of large files, {access.rows['count']} of access, "
          f"{sound.rows['count']} of sound, "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
