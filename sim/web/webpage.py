"""The page served on the fixed port the browser's policy names, and a real Chromium attached to
selenium, for the browser suite and the web demo. Runs inside webbed.sh."""
import functools
import http.server
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

SITE = os.environ["ORVANE_WEB_SITE"]
PORT = int(os.environ.get("ORVANE_WEB_PORT", "8765"))
DEBUG_PORT = PORT + 1
URL = f"http://127.0.0.1:{PORT}/index.html"
STALL_LIMIT_MS = 1500
VERIFY_LIMIT_MS = 4000
COMPLETED = "Your equipment has been successfully updated"


def bridge(tty, serial, reply, extra=""):
    return {"tty": tty, "vid": "10c4", "pid": "ea60", "serial": serial,
            "product": "Orvane Amplifier", "unit": f"reply={reply}\n{extra}"}


def firmware(folder, name, model, version, size):
    """A firmware file: the model and version in the header's two fields, a pattern after."""
    header = bytearray(b"Orvane test firmware".ljust(512, b"\0"))
    header[257:261] = b"%02d%02d" % (model, version)
    body = bytes((i * 7 + i // 251) & 0xFF for i in range(size - 512))
    path = os.path.join(folder, name)
    with open(path, "wb") as file:
        file.write(bytes(header) + body)
    return path


def read(path):
    with open(path, "rb") as file:
        return file.read()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """The site's files, and the test's own beside them (a catalog.json, its firmware files)."""

    def __init__(self, *args, extra, **kwargs):
        self.extra = extra
        super().__init__(*args, **kwargs)

    def do_GET(self):
        body = self.extra.get(self.path.split("?")[0].lstrip("/"))
        if body is None:
            return super().do_GET()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Site:
    """The site on the fixed port the policy names, served from a thread; extra maps a path to
    the bytes served there beside the site's files."""

    def __init__(self):
        self.extra = {}
        handler = functools.partial(QuietHandler, directory=SITE, extra=self.extra)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", PORT), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """Chromium started inside the bed (so that it sees the bed's ports), in a process group of
    its own, with selenium attached to it."""

    def __init__(self, headless=True):
        self.profile = tempfile.mkdtemp(prefix="orvane-chromium.")
        self.process = subprocess.Popen(
            ["chromium"] + (["--headless=new"] if headless else []) + ["--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-quic", f"--remote-debugging-port={DEBUG_PORT}",
             f"--user-data-dir={self.profile}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        options = webdriver.ChromeOptions()
        options.debugger_address = f"127.0.0.1:{DEBUG_PORT}"
        deadline = time.monotonic() + 20
        while True:
            try:
                self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"),
                                               options=options)
                break
            except Exception:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)

    def open(self, before_load=""):
        """Opens the page afresh; before_load runs in it before its own scripts."""
        self.driver.get("about:blank")
        if hasattr(self, "script"):
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                        {"identifier": self.script})
        self.script = self.driver.execute_cdp_cmd(
            "Page.addScriptToEvaluateOnNewDocument",
            {"source": "window.orvaneTestSettings = {stallLimitMs: %d, verifyLimitMs: %d};"
                       % (STALL_LIMIT_MS, VERIFY_LIMIT_MS)
                       + before_load})["identifier"]
        self.driver.get(URL)

    def close(self):
        try:
            self.driver.quit()
        finally:
            os.killpg(self.process.pid, signal.SIGTERM)
            self.process.wait(timeout=10)
            shutil.rmtree(self.profile, ignore_errors=True)
