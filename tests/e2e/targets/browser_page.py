#!/usr/bin/python3
"""A browser showing a page with one focused text input, used as a target application by the desktop tests.

--browser chromium|firefox picks the browser; each starts on a throw-away profile. With --login the
page begins with a password input, which has the focus; the ordinary input follows it, where Tab
leads. A server on 127.0.0.1 serves the page and takes the inputs' values, which the page posts on
every change; the ordinary input's value is written to --out, the password's to --out + ".password".
Prints "READY <xid>" once the page has focus in the active window. SIGTERM quits, taking the
browser with it.
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

PAGE = """<!doctype html><html><body>
%(login)s<input id="field" %(autofocus)s style="font-size:16px;width:360px">
<script>
const field = document.getElementById('field');
const first = document.querySelector('[autofocus]');
const report = (path, body) => fetch(path, {method: 'POST', body: body});
// Requests may be served out of order: each carries its place, and only a newer one is kept.
let sequence = 0;
for (const input of document.querySelectorAll('input')) {
  const path = input === field ? '/text' : '/password';
  input.addEventListener('input', () => report(path, (++sequence) + '\\n' + input.value));
}
window.addEventListener('focus', () => report('/focus', ''));
first.focus();
report('/focus', '');
</script></body></html>"""

LOGIN = '<input id="secret" type="password" autofocus style="font-size:16px;width:360px"><br>\n'


def chromium_command(profile, url):
    return ["chromium", "--no-sandbox", "--user-data-dir=" + profile,
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--disable-gpu", "--no-default-browser-check", "--password-store=basic",
            "--window-size=500,300", url]


def firefox_command(profile, url):
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "firefox-user.js"),
                os.path.join(profile, "user.js"))
    return ["firefox-esr", "-profile", profile, "-no-remote", "-new-instance", url]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--browser", choices=["chromium", "firefox"], default="chromium")
    parser.add_argument("--login", action="store_true")
    args = parser.parse_args()
    page = (PAGE % {"login": LOGIN if args.login else "",
                    "autofocus": "" if args.login else "autofocus"}).encode()
    focused = threading.Event()
    latest = {}
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.end_headers()
            self.wfile.write(page)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            if self.path in ("/text", "/password"):
                out = args.out + (".password" if self.path == "/password" else "")
                place, _, value = body.partition(b"\n")
                with lock:
                    if int(place) > latest.get(out, 0):
                        latest[out] = int(place)
                        with open(out + ".new", "wb") as f:
                            f.write(value)
                        os.replace(out + ".new", out)
            else:
                focused.set()
            self.send_response(204)
            self.end_headers()

        def log_message(self, *unused):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="pimsel-%s-" % args.browser)
    url = "http://127.0.0.1:%d/" % server.server_port
    command = chromium_command(profile, url) if args.browser == "chromium" else firefox_command(profile, url)
    browser = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

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
