"""The language server, message by message: each request and each error
case, the diagnostics against `qevcheck --format=json` of the same text in
both position encodings, incremental changes, quick fixes against the JSON's
edits, the fix-all action against `--fix`, hovers, the outline against
`--channels`, the drum setting, the saved file's warning and closing.

usage: protocol.py QEVCHECK    (RUNNER, when set, starts it: Wine, qemu)
"""

import json
import os
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Server, frame  # noqa: E402

QEVCHECK = sys.argv[1]
RUNNER = shlex.split(os.environ.get("RUNNER", ""))
failures = []


def expect(name, ok, detail=""):
    if not ok:
        failures.append(name)
        print("FAIL: %s %s" % (name, detail))


def qevcheck(text, *options):
    r = subprocess.run(RUNNER + [QEVCHECK, *options, "-"], input=text.encode(),
                       capture_output=True)
    return r.stdout.decode(), r.stderr.decode()


def findings(text):
    return [json.loads(line) for line in qevcheck(text, "--format=json")[0].splitlines()]


def character(text, line, byte_column, encoding):
    """A column of the JSON as the protocol counts it, by Python's codecs."""
    before = text.split("\n")[line - 1].encode()[:byte_column - 1]
    return len(before) if encoding == "utf-8" else len(before.decode().encode("utf-16-le")) // 2


def flat_json(text, encoding):
    """Each finding's start, the end of its line, and what it says."""
    level = {"error": 1, "warning": 2, "note": 3}
    lines = text.split("\n")
    return sorted((max(f["line"] - 1, 0), character(text, f["line"], f["byte_column"], encoding)
                   if f["line"] else 0,
                   character(text, f["line"], len(lines[f["line"] - 1].encode()) + 1, encoding)
                   if f["line"] else 0, level[f["severity"]], f["code"], f["message"])
                  for f in findings(text))


def flat_diagnostics(diagnostics):
    """Each diagnostic, and each note of its related information."""
    flat = []
    for d in diagnostics:
        start, end = d["range"]["start"], d["range"]["end"]
        flat.append((start["line"], start["character"], end["character"], d["severity"],
                     d["code"], d["message"]))
        assert d["source"] == "qevcheck"
        for r in d.get("relatedInformation", []):
            s, e = r["location"]["range"]["start"], r["location"]["range"]["end"]
            flat.append((s["line"], s["character"], e["character"], 3, d["code"], r["message"]))
    return sorted(flat)


def offset(text, position, encoding):
    """A position in text whose lines end in LF, as a string index."""
    lines = text.split("\n")
    line = lines[position["line"]]
    if encoding == "utf-8":
        return sum(len(x) + 1 for x in lines[:position["line"]]) + \
            len(line.encode()[:position["character"]].decode())
    units = line.encode("utf-16-le")[:2 * position["character"]].decode("utf-16-le")
    return sum(len(x) + 1 for x in lines[:position["line"]]) + len(units)


def apply_edits(text, edits, encoding="utf-16"):
    for e in sorted(edits, key=lambda e: (e["range"]["start"]["line"],
                                           e["range"]["start"]["character"]), reverse=True):
        a, b = offset(text, e["range"]["start"], encoding), offset(text, e["range"]["end"], encoding)
        text = text[:a] + e["newText"] + text[b:]
    return text


def apply_json_fix(text, fix):
    data = text.encode()
    for e in sorted(fix["edits"], key=lambda e: e["byte_start"], reverse=True):
        data = data[:e["byte_start"]] + e["text"].encode() + data[e["byte_end"]:]
    return data.decode()


SAMPLE = ("Fields: seconds milliseconds channel kind note velocity.\n"
          "0 0 a P 60 96\n0 500 a D 61\n0 200 b P 62 9\n0 300 b P 62 9\n"
          "0 600 b D 62 9 é\n1 0 c P 40 40\n1 0 a P 6O 90\n1 1OO a P 64 90\n"
          "2 0 b P 64 -1\n3 0 😀 P 60 96\n4 0 a P 60 96 😀x\n")

# Texts whose diagnostics must be the JSON's, in both encodings; each row's
# text is also sent with CR LF and with lone CR line ends, which the server
# must check joined with LF.
DIAGNOSTICS = [
    ("faults of many kinds, with characters beyond ASCII before them", SAMPLE),
    ("a note on sounding, a stray note off and their notes",
     "0 0 a P 60 90\n1 0 a P 60 90\n2 0 a D 60\n3 0 a D 60\n4 0 b D 61\n"),
    ("no final line feed stops the conversion", "0 0 a P 60 90\n1 0 a D 60"),
    ("a NUL and a 0x1A", "0 0 a P 60 90\n1 0 a D 60\x00x\n\x1a\n2 0 a P 1 1\n"),
    ("a line too long", "0 0 a P 60 90 " + "x" * 70000 + "\n1 0 a D 60\n"),
    ("a byte-order mark", "\ufeff0 0 a P 60 90\n1 0 a D 60\n"),
    ("an empty document", ""),
]


def check_diagnostics():
    for encoding in ("utf-16", "utf-8"):
        server = Server(QEVCHECK)
        caps = {"general": {"positionEncodings": [encoding]}}
        got = server.initialize(caps)["result"]["capabilities"]["positionEncoding"]
        expect("%s is chosen when offered alone" % encoding, got == encoding, got)
        for n, (name, text) in enumerate(DIAGNOSTICS):
            want = flat_json(text, encoding)
            for end in ("\n", "\r\n", "\r"):
                uri = "untitled:%d-%d" % (n, len(end))
                d = server.open(uri, text.replace("\n", end))
                expect("%s (%s, %r)" % (name, encoding, end),
                       flat_diagnostics(d["diagnostics"]) == want and d["version"] == 1,
                       "\n got %s\nwant %s" % (flat_diagnostics(d["diagnostics"])[:4], want[:4]))
        server.request("shutdown")
        server.notify("exit")
        expect("exit after shutdown (%s)" % encoding, server.finish()[0] == 0)


def at(line, character):
    return {"line": line, "character": character}


# Changes: the text before, the changes, and the text they make, written out.
CHANGES = [
    ("a line typed in", "0 0 a P 60 90\n", [(at(1, 0), at(1, 0), "1 0 a D 60\n")],
     "0 0 a P 60 90\n1 0 a D 60\n"),
    ("a line deleted", "0 0 a P 60 90\n5 0 a P 2 2\n1 0 a D 60\n",
     [(at(1, 0), at(2, 0), "")], "0 0 a P 60 90\n1 0 a D 60\n"),
    ("after a character of two UTF-16 units", "😀 0 0 a P 60 90\n",
     [(at(0, 0), at(0, 3), "")], "0 0 a P 60 90\n"),
    ("several changes, each on the text the one before left",
     "0 0 a P 60 90\n1 0 a D 60\n",
     [(at(1, 0), at(1, 1), "2"), (at(0, 13), at(0, 13), " ")], "0 0 a P 60 90 \n2 0 a D 60\n"),
    ("a line added, then a change below it on the lines as they now stand",
     "0 0 a P 60 90\n1 0 a D 60\n", [(at(0, 0), at(0, 0), "x\n"), (at(2, 0), at(2, 1), "2")],
     "x\n0 0 a P 60 90\n2 0 a D 60\n"),
    ("a whole text, with no range", "0 0 a P 60 90\n", [(None, None, "1 0 a D 60\n")],
     "1 0 a D 60\n"),
    ("a CR typed before an LF makes one line end",
     "0 0 a P 60 90\n1 0 a D 60\n", [(at(0, 13), at(0, 13), "\r")],
     "0 0 a P 60 90\n1 0 a D 60\n"),
    ("lines that end in CR alone", "0 0 a P 60 90\r1 0 a D 60\r", [(at(1, 0), at(1, 1), "2")],
     "0 0 a P 60 90\n2 0 a D 60\n"),
    ("a position past the line's end is its end", "0 0 a P 60 90\n",
     [(at(0, 99), at(0, 99), "\n1 0 a D 60")], "0 0 a P 60 90\n1 0 a D 60\n"),
]


def check_changes(server):
    for n, (name, before, changes, after) in enumerate(CHANGES):
        uri = "untitled:change-%d" % n
        server.open(uri, before)
        content = [{"text": t} if a is None else {"range": {"start": a, "end": b}, "text": t}
                   for a, b, t in changes]
        server.notify("textDocument/didChange",
                      {"textDocument": {"uri": uri, "version": 7}, "contentChanges": content})
        d = server.diagnostics(uri)
        expect(name, d["version"] == 7 and
               flat_diagnostics(d["diagnostics"]) == flat_json(after, "utf-16"),
               "%s\n%s" % (d, flat_json(after, "utf-16")))


def check_actions(server):
    uri = "untitled:actions"
    server.open(uri, SAMPLE)
    whole = {"start": at(0, 0), "end": at(99, 0)}
    actions = server.request("textDocument/codeAction", {
        "textDocument": {"uri": uri}, "range": whole,
        "context": {"diagnostics": [], "only": ["quickfix"]}})["result"]
    fixes = [f for f in findings(SAMPLE) if "fix" in f]
    expect("a quick fix per finding with a fix", len(actions) == len(fixes) > 3,
           "%d actions, %d fixes" % (len(actions), len(fixes)))
    for action, f in zip(actions, fixes):
        fixed = apply_edits(SAMPLE, action["edit"]["changes"][uri])
        expect("the edits of '%s' on line %d" % (f["fix"]["title"], f["line"]),
               fixed == apply_json_fix(SAMPLE, f["fix"]) and action["kind"] == "quickfix" and
               action["diagnostics"][0]["code"] == f["code"], action)
        expect("'%s' preferred only when safe" % f["fix"]["title"],
               action.get("isPreferred", False) == (f["fix"]["applicability"] == "safe"))
    one_line = server.request("textDocument/codeAction", {
        "textDocument": {"uri": uri}, "range": {"start": at(3, 0), "end": at(3, 5)},
        "context": {"diagnostics": []}})["result"]
    titles = [a["title"] for a in one_line]
    expect("interleave offered on a run's first line, and fix-all with it",
           titles[0].startswith("Interleave the lines by time") and
           one_line[-1]["kind"] == "source.fixAll" and len(one_line) == 2, titles)
    fixed = apply_edits(SAMPLE, one_line[-1]["edit"]["changes"][uri])
    expect("fix-all is --fix", fixed == qevcheck(SAMPLE, "--fix")[0])
    none = server.request("textDocument/codeAction", {
        "textDocument": {"uri": uri}, "range": {"start": at(1, 0), "end": at(1, 0)},
        "context": {"diagnostics": [], "only": ["refactor"]}})["result"]
    expect("no action of a kind not asked for", none == [], none)


HOVERS = [
    (1, "note on, channel a (1), note 60 (C4), velocity 96, at 0.000 s\n"
        "note: note 60 (C4) on channel a began to sound here"),
    (2, "note off, channel a (1), note 61 (C#4), velocity 0, at 0.500 s\n"
        "warning: note off for note 61 (C#4) on channel a, which is not sounding"),
    (4, "warning: line skipped: 0.300 s is earlier than 0.500 s on line 3\n"
        "note: the note on for note 62 (D4) on channel b was skipped here"),
    (7, "warning: line skipped: 'O' right after the note 6; the letter O is not the digit 0"),
    (11, "note on, channel a (1), note 60 (C4), velocity 96, at 4.000 s\n"
         "warning: note on for note 60 (C4) on channel a, which is already sounding\n"
         "warning: note 60 (C4) on channel a is still sounding at the end of the file"),
    (0, None),
]


def check_hovers(server):
    uri = "untitled:hovers"
    d = server.open(uri, SAMPLE)["diagnostics"]
    notes = [f for f in findings(SAMPLE) if f["severity"] == "note"]
    related = [r for x in d for r in x.get("relatedInformation", [])]
    expect("notes are their findings' related information",
           len(related) == len(notes) == 3 and all(x["severity"] < 3 for x in d), related)
    run = [x["range"]["start"]["line"] for x in d
           if "more out-of-order" in str(x.get("relatedInformation"))]
    expect("a run's note is its first line's", run == [3], run)
    for line, want in HOVERS:
        r = server.request("textDocument/hover", {"textDocument": {"uri": uri},
                                                  "position": at(line, 2)})["result"]
        got = r and r["contents"]["value"]
        expect("hover on line %d" % (line + 1), got == want, repr(got))
    server.open("untitled:stop", "0 0 a P 60 90\n1 0 a D 60")
    r = server.request("textDocument/hover", {"textDocument": {"uri": "untitled:stop"},
                                              "position": at(1, 0)})["result"]
    expect("hover on a line qev2mid stops at",
           r["contents"]["value"] == "qev2mid stops here: the last line has no line feed; "
           "end the file with a new line", r)
    symbols = server.request("textDocument/documentSymbol",
                             {"textDocument": {"uri": uri}})["result"]
    summary = qevcheck(SAMPLE, "--channels", "--quiet")[1].splitlines()[1:]
    got = ["<stdin>: %s: %s" % (s["name"], s["detail"]) for s in symbols]
    expect("the outline is --channels", got == summary, "%s\n%s" % (got, summary))
    expect("a channel's range runs from its first line to its last",
           symbols[0]["range"]["start"]["line"] == 1 and symbols[0]["range"]["end"]["line"] == 11,
           symbols[0])


def check_settings_and_files(tmp):
    drum_text = "0 0 j P 36 100\n1 0 a P 60 90\n2 0 a D 60\n"
    server = Server(QEVCHECK)
    server.initialize(options={"drums": "none"})
    codes = [d["code"] for d in server.open("untitled:drums", drum_text)["diagnostics"]]
    expect("drums from the initialization options", codes == ["still-sounding"], codes)
    server.notify("workspace/didChangeConfiguration", {"settings": {"qevcheck": {"drums": "j"}}})
    d = server.diagnostics("untitled:drums")
    expect("a drums setting checks again", d["diagnostics"] == [], d)
    server.notify("workspace/didChangeConfiguration", {"settings": {"qevcheck": {"drums": "x"}}})
    m = server.wait(lambda m: m.get("method") == "window/showMessage")
    expect("a drums setting that names none is said", "drums" in m["params"]["message"], m)

    # The saved file as an editor hides it: a byte-order mark, no final line
    # feed and lone CRs, where the editor holds UTF-8 with LF line ends.
    path = os.path.join(tmp, "saved file.qev")
    with open(path, "wb") as f:
        f.write(b"\xef\xbb\xbf0 0 a P 60 90\r1 0 a D 60")
    windows = os.environ.get("WINDOWS") == "1"
    uri = "file://" + ("/Z:" if windows else "") + path.replace(" ", "%20")
    d = server.open(uri, "0 0 a P 60 90\n1 0 a D 60\n")["diagnostics"]
    expect("the saved file's differences, on line 1",
           [x["code"] for x in d] == ["file-on-disk"] and d[0]["range"]["start"]["line"] == 0 and
           all(w in d[0]["message"] for w in ("byte-order mark", "no line feed", "CR alone")), d)
    with open(path, "wb") as f:
        f.write(b"0 0 a P 60 90\n1 0 a D 60\n")
    server.notify("textDocument/didSave", {"textDocument": {"uri": uri}})
    expect("saved as shown, the warning goes", server.diagnostics(uri)["diagnostics"] == [])

    server.notify("textDocument/didClose", {"textDocument": {"uri": uri}})
    expect("closing clears the diagnostics", server.diagnostics(uri)["diagnostics"] == [])
    r = server.request("textDocument/hover", {"textDocument": {"uri": uri}, "position": at(0, 0)})
    expect("a closed document is gone", r["result"] is None, r)
    status, err = server.finish()
    expect("a closed input ends the server, without shutdown 1", status == 1 and not err,
           (status, err))


def request(rid, method, params=None):
    return {"jsonrpc": "2.0", "id": rid, "method": method, "params": params or {}}


INIT = request(1, "initialize", {"capabilities": {}})
HOVER = {"textDocument": {"uri": "untitled:x"}, "position": at(0, 0)}
# Sequences of messages; the answers expected, by id, and the exit status.
# A message given as bytes goes as it is, framing and all.
LIFECYCLE = [
    ("a request before initialize", [request(1, "textDocument/hover", HOVER)],
     [(1, -32002)], 1),
    ("text that is not JSON, and the server goes on", [frame(b"{nope"), INIT],
     [(None, -32700), (1, "result")], 1),
    ("a batch is no request", [frame(b"[]"), INIT], [(None, -32600), (1, "result")], 1),
    ("an id that is no id", [{"jsonrpc": "2.0", "id": [1], "method": "shutdown"}],
     [(None, -32600)], 1),
    ("a method unknown: an error for a request, nothing for a notification",
     [INIT, {"jsonrpc": "2.0", "method": "x/unknown"}, request(2, "x/unknown")],
     [(1, "result"), (2, -32601)], 1),
    ("initialize twice", [INIT, request(2, "initialize", {"capabilities": {}})],
     [(1, "result"), (2, -32600)], 1),
    ("parameters not as the protocol has them",
     [INIT, request(2, "textDocument/hover", {"textDocument": {"uri": 5}}),
      request(3, "initialize", [])], [(1, "result"), (2, -32602), (3, -32600)], 1),
    ("a document not open", [INIT, request(2, "textDocument/hover", HOVER)],
     [(1, "result"), (2, "result")], 1),
    ("a request after shutdown", [INIT, request(2, "shutdown"), request(3, "shutdown")],
     [(1, "result"), (2, "result"), (3, -32600)], 1),
    ("exit after shutdown", [INIT, request(2, "shutdown"), {"jsonrpc": "2.0", "method": "exit"},
                             request(3, "shutdown")], [(1, "result"), (2, "result")], 0),
    ("exit without shutdown", [{"jsonrpc": "2.0", "method": "exit"}], [], 1),
    ("a header with no length", [b"Content-Type: x\r\n\r\n{}", INIT], [], 1),
    ("a length beyond the input", [INIT, b"Content-Length: 999999999999\r\n\r\n{}"],
     [(1, "result")], 1),
    ("a header with a length no editor sends",
     [INIT, b"Content-Length: 99999999999999999999\r\n\r\n{}"], [(1, "result")], 1),
]
# The rows that end with one line on standard error.
SAID = {"a header with no length", "a header with a length no editor sends"}


def check_lifecycle():
    for name, messages, want, status in LIFECYCLE:
        data = b"".join(m if isinstance(m, bytes) else frame(m) for m in messages)
        r = subprocess.run(RUNNER + [QEVCHECK, "--lsp"], input=data, capture_output=True,
                           timeout=60)
        got, out = [], r.stdout
        while out:
            header, _, rest = out.partition(b"\r\n\r\n")
            length = int(header.split(b":")[1])
            m = json.loads(rest[:length])
            out = rest[length:]
            if "method" not in m:
                got.append((m["id"], m["error"]["code"] if "error" in m else "result"))
        lines = r.stderr.decode().splitlines()
        expect(name, got == want and r.returncode == status and
               len(lines) == (1 if name in SAID else 0), (got, r.returncode, lines))
    # Replies that cannot be written end the server, with the reason said.
    if os.path.exists("/dev/full") and os.environ.get("WINDOWS") != "1":
        with open("/dev/full", "wb") as full:
            r = subprocess.run(RUNNER + [QEVCHECK, "--lsp"], input=frame(INIT), stdout=full,
                               stderr=subprocess.PIPE, timeout=60)
        expect("a reply that cannot be written", r.returncode == 1 and
               r.stderr.decode().splitlines() == ["%s: Error writing standard output" % QEVCHECK],
               (r.returncode, r.stderr))


def main():
    check_lifecycle()
    check_diagnostics()
    server = Server(QEVCHECK)
    server.initialize()
    check_changes(server)
    check_actions(server)
    check_hovers(server)
    server.finish()
    with tempfile.TemporaryDirectory() as tmp:
        check_settings_and_files(tmp)
    if failures:
        sys.exit("%d failed: %s" % (len(failures), ", ".join(failures)))
    print("language server: every case passed")


main()
