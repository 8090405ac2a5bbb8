#!/usr/bin/env python3
"""The real TarnDown.exe under Wine killed at random moments while 20 trickled downloads run.

Usage: journal_kill_e2e.py <TarnDown.exe> <7za.exe>. Needs wine, curl and the environment that
scripts/test sets up (WINEPREFIX, DISPLAY, a persistent wineserver).

Each round ends the program with SIGKILL (the process dies as under TerminateProcess: no exit path
runs) and starts it again. After every start all 20 tasks are listed; tasks that were caught while
extracting or filing come back failed and are retried, as a user would. In the end every task is
completed (none "already_exists": nothing was filed twice), every filed file equals its source,
and the server's log shows how many bytes each task fetched again.
"""
import hashlib
import http.server
import json
import os
import random
import re
import shutil
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_program import free_port, start_program, windows_path  # noqa: E402

EXE = SEVEN_ZIP = None
TASKS = 20
ROUNDS = 10
# Task n's archive takes about 1.5 + 0.75 n seconds at the trickle's rate, so that the kills find
# tasks downloading, extracting, filing and done.
BODY_BYTES = 96 * 1024
BODY_STEP_BYTES = 48 * 1024
PIECE_BYTES = 8 * 1024
RATE_BYTES_PER_S = 64 * 1024  # per connection
READ_BUFFER_BYTES = 64 * 1024  # the download's buffer
SOCKET_SLACK_BYTES = 2 * PIECE_BYTES  # sent, but still on its way when the journal was saved
START_TIMEOUT_S = 60
FINISH_TIMEOUT_S = 180


def archive(number):
    """A stored zip of one file of bytes that neither compress nor repeat."""
    content = hashlib.shake_256(b"journal-%d" % number).digest(BODY_BYTES + number * BODY_STEP_BYTES - 200)
    path = os.path.join(tempfile.gettempdir(), "tarn-kill-%d-%d.zip" % (os.getpid(), number))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as zipped:
        zipped.writestr("sfx_journal_%02d.bin" % number, content)
    with open(path, "rb") as handle:
        data = handle.read()
    os.remove(path)
    return content, data


class TrickleServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class TrickleHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        bodies, log = self.server.bodies, self.server.log
        body = bodies.get(self.path)
        if body is None:
            self.send_error(404)
            return
        etag = '"%s"' % hashlib.md5(body).hexdigest()
        start = 0
        wanted = re.match(r"bytes=(\d+)-$", self.headers.get("Range", ""))
        if wanted and self.headers.get("If-Range") == etag:
            start = int(wanted.group(1))
        entry = {"path": self.path, "start": start, "sent": 0, "began": time.time(), "pieces": []}
        log.append(entry)
        if start >= len(body) and start > 0:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % len(body))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(206 if start else 200)
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body)))
        self.send_header("ETag", etag)
        self.send_header("Content-Length", str(len(body) - start))
        self.send_header("Connection", "close")
        self.end_headers()
        position = start
        try:
            while position < len(body):
                piece = body[position:position + PIECE_BYTES]
                self.wfile.write(piece)
                self.wfile.flush()
                position += len(piece)
                entry["sent"] = position - start
                entry["pieces"].append((time.time(), entry["sent"]))
                time.sleep(len(piece) / RATE_BYTES_PER_S)
        except OSError:
            pass


class KilledMidFlight(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarn-kill-")
        for name in ("downloads", "dev"):
            os.mkdir(os.path.join(self.dir, name))
        shutil.copy(EXE, os.path.join(self.dir, "TarnDown.exe"))
        shutil.copy(SEVEN_ZIP, os.path.join(self.dir, "7za.exe"))
        self.sources = {}
        self.server = TrickleServer(("127.0.0.1", 0), TrickleHandler)
        self.server.bodies, self.server.log = {}, []
        for number in range(TASKS):
            content, data = archive(number)
            self.sources[number] = content
            self.server.bodies["/p%02d.zip" % number] = data
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.program = None
        self.kills = []

    def tearDown(self):
        self.kill()
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self):
        self.port = free_port()
        settings = (f"[Settings]\r\nPort={self.port}\r\nDownloadDir={windows_path(self.dir)}\\downloads\r\n"
                    f"DevDir={windows_path(self.dir)}\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n")
        self.program = start_program(self.dir, settings)
        deadline = time.monotonic() + START_TIMEOUT_S
        while time.monotonic() < deadline:
            if self.curl("/api/status") is not None:
                return
            time.sleep(0.1)
        self.fail("the program did not answer")

    def kill(self):
        if self.program and self.program.poll() is None:
            os.kill(self.program.pid, signal.SIGKILL)
            self.program.wait(timeout=30)
            journal = os.path.join(self.dir, "TarnDown.tasks")
            self.kills.append((time.time(), os.path.getmtime(journal) if os.path.exists(journal) else 0))
        self.program = None

    def check_refetched(self):
        """The bytes a task fetched again after a kill are at most what arrived after the journal's
        last save before that kill, plus one read buffer (and what was on its way)."""
        refetched = []
        for path in self.server.bodies:
            requests = [entry for entry in self.server.log if entry["path"] == path]
            for cut, following in zip(requests, requests[1:]):
                saved = next((mtime for killed, mtime in self.kills if killed >= cut["began"]), 0)
                since_save = cut["sent"] - max([sent for at, sent in cut["pieces"] if at <= saved], default=0)
                extra = max(0, cut["start"] + cut["sent"] - following["start"])
                refetched.append(extra)
                self.assertLessEqual(extra, since_save + READ_BUFFER_BYTES + SOCKET_SLACK_BYTES, (path, cut["start"]))
        print("bytes fetched again per cut request: max", max(refetched), "median", sorted(refetched)[len(refetched) // 2],
              "of", len(refetched), file=sys.stderr)

    def curl(self, path, *args):
        done = subprocess.run(["curl", "-s", "--max-time", "10", *args, f"http://127.0.0.1:{self.port}{path}"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return json.loads(done.stdout) if done.returncode == 0 and done.stdout else None

    def tasks(self):
        reply = self.curl("/api/tasks")
        return reply["tasks"] if reply else []

    def retry_interrupted(self, tasks):
        for task in tasks:
            if task["status"] == "failed":
                self.assertRegex(task["error"], "^Interrupted by exit during (extraction|filing)$", task)
                self.curl("/api/retry", "-H", "Content-Type: application/json",
                          "--data", json.dumps({"task_id": task["id"]}))

    def test_every_task_ends_whole_after_ten_kills(self):
        self.start()
        for number in range(TASKS):
            url = f"http://127.0.0.1:{self.server.server_address[1]}/p{number:02d}.zip"
            self.assertTrue(self.curl("/api/download", "-G", "--data-urlencode", f"url={url}",
                                      "--data-urlencode", f"name=pack{number:02d}")["success"])
        chance = random.Random(22)
        for _ in range(ROUNDS):
            time.sleep(chance.uniform(0.3, 2.0))
            self.kill()
            self.start()
            tasks = self.tasks()
            self.assertEqual([task["name"] for task in tasks], [f"pack{n:02d}" for n in range(TASKS)])
            counts = {}
            for task in tasks:
                counts[task["status"]] = counts.get(task["status"], 0) + 1
            print("after the kill:", counts, file=sys.stderr)
            self.retry_interrupted(tasks)

        deadline = time.monotonic() + FINISH_TIMEOUT_S
        while time.monotonic() < deadline:
            tasks = self.tasks()
            self.retry_interrupted(tasks)
            if all(task["status"] in ("completed", "already_exists") for task in tasks):
                break
            time.sleep(0.5)
        self.assertEqual([task["status"] for task in tasks], ["completed"] * TASKS, tasks)
        for number, content in self.sources.items():
            filed = os.path.join(self.dir, "dev", "anim", "effect", "sfx_journal_%02d.bin" % number)
            with open(filed, "rb") as handle:
                self.assertTrue(handle.read() == content, filed)

        self.check_refetched()

if __name__ == "__main__":
    EXE, SEVEN_ZIP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
