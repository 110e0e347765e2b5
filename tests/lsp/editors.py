"""Real editors as clients of `qevcheck --lsp`, headless, each started with
the README's own snippet: Neovim opens a file, and its diagnostics must be
qevcheck's JSON findings; it reads a hover, applies a quick fix and edits a
line, and the diagnostics must follow. Emacs with eglot opens the file and
applies a quick fix. A missing editor skips the test (exit 77) unless
QEV2MID_REQUIRE_TOOLS=1.

usage: editors.py QEVCHECK README nvim|emacs
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
QEVCHECK, README, EDITOR = sys.argv[1:4]

TEXT = ("A tune with faults, for the editors' tests: é.\n"
        "0 0 a P 60 96\n0 300 a p 62 90\n0 350 a P 60 80\n0 400 b P 48 70\n1 0 a D 60\n"
        "0 900 a D 62\n2 0 😀 P 1 1\n2 0 b D 48\n")
FIX_LINE = 3  # from 1: the kind letter in lower case, with one safe fix
NEW_LINE = "0 500 a P 62 300"
HOVER = "note on, channel b (2), note 48 (C3), velocity 70, at 0.400 s"  # line 5


def skip(why):
    print("SKIP: " + why)
    sys.exit(1 if os.environ.get("QEV2MID_REQUIRE_TOOLS") == "1" else 77)


def findings(text):
    r = subprocess.run([QEVCHECK, "--format=json", "-"], input=text.encode(),
                       capture_output=True)
    return [json.loads(line) for line in r.stdout.decode().splitlines()]


def apply_fix(text, line):
    fix = next(f["fix"] for f in findings(text) if f["line"] == line and "fix" in f)
    data = text.encode()
    for e in sorted(fix["edits"], key=lambda e: e["byte_start"], reverse=True):
        data = data[:e["byte_start"]] + e["text"].encode() + data[e["byte_end"]:]
    return data.decode(), fix["title"]


def snippet(heading, language):
    """The first code block of a language after a heading of the README."""
    text = open(README, encoding="utf-8").read()
    after = text[text.index("\n#### " + heading):]
    return re.search(r"```%s\n(.*?)```" % language, after, re.S).group(1)


def run(cmd, tmp, env):
    env = dict(os.environ, PATH=tmp + os.pathsep + os.environ["PATH"], HOME=tmp, **env)
    r = subprocess.run(cmd, cwd=tmp, env=env, capture_output=True, timeout=180)
    result = os.path.join(tmp, "result.json")
    if not os.path.exists(result):
        sys.exit("%s wrote no result: %d\n%s\n%s" % (cmd[0], r.returncode,
                                                     r.stdout.decode(), r.stderr.decode()))
    got = json.load(open(result, encoding="utf-8"))
    if "failed" in got:
        sys.exit("%s: %s" % (cmd[0], got["failed"]))
    return got


failures = []


def expect(name, got, want):
    if got != want:
        failures.append(name)
        print("FAIL: %s\n  got  %r\n  want %r" % (name, got, want))


def nvim_view(text):
    """The JSON's findings as Neovim holds them: a top-level diagnostic per
    finding at its byte column, and its notes as related information."""
    found = findings(text)
    top = sorted(([f["line"] - 1, f["byte_column"] - 1, f["code"], f["message"]]
                  for f in found if f["severity"] != "note"), key=lambda d: (d[0], d[3]))
    return top, sum(f["severity"] == "note" for f in found)


def check_nvim(tmp, path):
    open(os.path.join(tmp, "init.lua"), "w").write(snippet("Neovim", "lua"))
    got = run(["nvim", "--headless", "-u", "init.lua", "-i", "NONE", "-n", "-c",
               "luafile " + os.path.join(HERE, "nvim_test.lua")], tmp,
              {"QEV_FILE": path, "RESULT": os.path.join(tmp, "result.json"),
               "FIX_LINE": str(FIX_LINE - 1), "NEW_LINE": NEW_LINE})
    expect("the snippet's file type", got["filetype"], "qev")
    expect("the protocol's default encoding", got["encoding"], "utf-16")
    fixed, title = apply_fix(TEXT, FIX_LINE)
    lines = fixed.split("\n")
    edited = "\n".join(lines[:2] + [NEW_LINE] + lines[3:])
    for step, text in (("opened", TEXT), ("fixed", fixed), ("edited", edited)):
        top, notes = nvim_view(text)
        view = [[d["lnum"], d["col"], d["code"], d["message"]] for d in got[step]]
        expect("diagnostics, " + step, view, top)
        expect("notes as related information, " + step,
               sum(d["related"] for d in got[step]), notes)
    expect("hover", got["hover"], HOVER)
    expect("the quick fix's title", got["action"], title)
    expect("the text after the quick fix", got["fixed_text"], fixed)
    expect("the text after the edit", got["edited_text"], edited)


def check_emacs(tmp, path):
    open(os.path.join(tmp, "snippet.el"), "w").write(snippet("Emacs", "elisp"))
    got = run(["emacs", "--batch", "-l", os.path.join(HERE, "eglot_test.el")], tmp,
              {"QEV_FILE": path, "RESULT": os.path.join(tmp, "result.json"),
               "SNIPPET": os.path.join(tmp, "snippet.el"), "FIX_LINE": str(FIX_LINE)})
    expect("the snippet's mode", got["mode"], "qev-mode")
    fixed, _ = apply_fix(TEXT, FIX_LINE)
    for step, text in (("opened", TEXT), ("fixed", fixed)):
        want = sorted(([f["line"], f["column"], "qevcheck [%s]: %s" % (f["code"], f["message"])]
                       for f in findings(text) if f["severity"] != "note"),
                      key=lambda d: (d[0], d[2]))
        expect("diagnostics in flymake, " + step, got[step], want)
    expect("the text after the quick fix", got["fixed_text"], fixed)


def main():
    program = {"nvim": "nvim", "emacs": "emacs"}[EDITOR]
    if not shutil.which(program):
        skip("%s is not installed" % program)
    if EDITOR == "emacs" and subprocess.run(
            ["emacs", "--batch", "--eval", "(require 'eglot)"], capture_output=True).returncode:
        skip("eglot is not installed (elpa-eglot)")
    with tempfile.TemporaryDirectory() as tmp:
        os.symlink(os.path.abspath(QEVCHECK), os.path.join(tmp, "qevcheck"))
        path = os.path.join(tmp, "tune.qev")
        open(path, "w", encoding="utf-8").write(TEXT)
        (check_nvim if EDITOR == "nvim" else check_emacs)(tmp, path)
    if failures:
        sys.exit("%d failed: %s" % (len(failures), ", ".join(failures)))
    print("%s: every case passed" % EDITOR)


main()
