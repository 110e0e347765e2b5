"""A small client of the language server, for its protocol tests and its
benchmark: starts `qevcheck --lsp` (under RUNNER where set, as the cross
builds run), frames what it sends and reads what comes back on a thread,
so that a wait can time out instead of hanging."""

import json
import os
import queue
import shlex
import subprocess
import threading


def frame(message):
    body = message if isinstance(message, bytes) else json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


class Server:
    def __init__(self, qevcheck):
        cmd = shlex.split(os.environ.get("RUNNER", "")) + [qevcheck, "--lsp"]
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.messages = queue.Queue()
        self.held = []
        self.next_id = 1
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        out = self.proc.stdout
        while True:
            length = None
            while True:
                line = out.readline()
                if not line:
                    self.messages.put(None)
                    return
                if line == b"\r\n":
                    break
                name, _, value = line.partition(b":")
                assert line.endswith(b"\r\n"), line
                if name.lower() == b"content-length":
                    length = int(value)
            self.messages.put(json.loads(out.read(length)))

    def send(self, message):
        self.proc.stdin.write(frame(message))
        self.proc.stdin.flush()

    def notify(self, method, params=None):
        self.send({"jsonrpc": "2.0", "method": method, "params": params or {}})

    def receive(self, timeout=30):
        """The next message, a held one first; None once output has ended."""
        if self.held:
            return self.held.pop(0)
        return self.messages.get(timeout=timeout)

    def wait(self, match, timeout=30):
        """The first message that match accepts; the others are held."""
        skipped = []
        try:
            while True:
                m = self.held.pop(0) if self.held else self.messages.get(timeout=timeout)
                if m is None or match(m):
                    return m
                skipped.append(m)
        finally:
            self.held = skipped + self.held

    def request(self, method, params=None, timeout=30):
        """The whole response: its result or its error."""
        rid = self.next_id
        self.next_id += 1
        self.send({"jsonrpc": "2.0", "id": rid, "method": method, "params": params or {}})
        return self.wait(lambda m: m.get("id") == rid and "method" not in m, timeout)

    def diagnostics(self, uri, timeout=30):
        m = self.wait(lambda m: m.get("method") == "textDocument/publishDiagnostics" and
                      m["params"]["uri"] == uri, timeout)
        return m["params"]

    def initialize(self, capabilities=None, options=None):
        params = {"processId": None, "rootUri": None, "capabilities": capabilities or {}}
        if options is not None:
            params["initializationOptions"] = options
        reply = self.request("initialize", params)
        self.notify("initialized")
        return reply

    def open(self, uri, text, version=1):
        self.notify("textDocument/didOpen", {"textDocument": {
            "uri": uri, "languageId": "qev", "version": version, "text": text}})
        return self.diagnostics(uri)

    def finish(self, timeout=30):
        """Closes the server's input; its exit status and standard error."""
        try:
            self.proc.stdin.close()
        except BrokenPipeError:
            pass
        status = self.proc.wait(timeout)
        return status, self.proc.stderr.read()
