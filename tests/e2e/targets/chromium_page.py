#!/usr/bin/python3
"""Chromium showing a page with one focused text input, used as a target application by the desktop tests.

A server on 127.0.0.1 serves the page and takes the input's value, which the page posts on every
change; it is written to --out. Prints "READY <xid>" once the page has focus in the active window.
SIGTERM quits, taking the browser with it.
"""
import argparse
import http.server
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

PAGE = b"""<!doctype html><html><body>
<input id="field" autofocus style="font-size:16px;width:360px">
<script>
const field = document.getElementById('field');
const report = (path, body) => fetch(path, {method: 'POST', body: body});
// Requests may be served out of order: each carries its place, and only a newer one is kept.
let sequence = 0;
field.addEventListener('input', () => report('/text', (++sequence) + '\\n' + field.value));
window.addEventListener('focus', () => report('/focus', ''));
field.focus();
report('/focus', '');
</script></body></html>"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    focused = threading.Event()
    latest = [0]
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(PAGE)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            if self.path == "/text":
                place, _, value = body.partition(b"\n")
                with lock:
                    if int(place) > latest[0]:
                        latest[0] = int(place)
                        with open(args.out + ".new", "wb") as out:
                            out.write(value)
                        os.replace(args.out + ".new", args.out)
            else:
                focused.set()
            self.send_response(204)
            self.end_headers()

        def log_message(self, *unused):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="pimsel-chromium-")
    browser = subprocess.Popen(
        ["chromium", "--no-sandbox", "--user-data-dir=" + profile,
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--disable-gpu", "--no-default-browser-check", "--password-store=basic",
         "--window-size=500,300", "http://127.0.0.1:%d/" % server.server_port],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def quit(*unused):
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
        shutil.rmtree(profile, ignore_errors=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, quit)
    deadline = time.monotonic() + 45
    while time.monotonic() < deadline:
        if focused.wait(0.2):
            active = subprocess.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"], capture_output=True,
                                    text=True).stdout.split()[-1]
            if active.startswith("0x") and int(active, 16) != 0:
                print("READY %d" % int(active, 16), flush=True)
                break
    else:
        print("the page never had the focus", file=sys.stderr, flush=True)
        quit()
    while True:
        signal.pause()


if __name__ == "__main__":
    main()
