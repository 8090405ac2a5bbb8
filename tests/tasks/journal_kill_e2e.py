#!/usr/bin/env python3
"""TarnDown.exe under Wine killed (SIGKILL: no exit path runs, as under TerminateProcess) at random
moments while it downloads, extracts and files 20 trickled archives, 10 rounds. After every start all
20 tasks are listed; tasks caught in extraction or filing come back failed and are retried, as a
user would. In the end each is completed once (none "already_exists": nothing filed twice) and whole.
Usage: journal_kill_e2e.py <TarnDown.exe> <7z.exe, with its 7z.dll beside it>, in the environment scripts/test sets up.
"""
import collections
import hashlib
import http.server
import io
import json
import os
import random
import re
import shutil
import signal
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
TASKS, ROUNDS = 20, 10
# Task n's archive takes about 1.5 + 0.75 n seconds at the trickle's rate, so that the kills find
# tasks downloading, extracting, filing and done.
BODY_BYTES, BODY_STEP_BYTES = 96 * 1024, 48 * 1024
PIECE_BYTES, RATE_BYTES_PER_S = 8 * 1024, 64 * 1024  # per connection
READ_BUFFER_BYTES = 64 * 1024  # the download's buffer
SOCKET_SLACK_BYTES = 2 * PIECE_BYTES  # sent, but still on its way when the journal was saved


def archive(number):
    """A stored zip of one file of bytes that neither compress nor repeat."""
    content = hashlib.shake_256(b"journal-%d" % number).digest(BODY_BYTES + number * BODY_STEP_BYTES - 200)
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w", zipfile.ZIP_STORED) as zipped:
        zipped.writestr("sfx_journal_%02d.bin" % number, content)
    return content, data.getvalue()


class TrickleHandler(http.server.BaseHTTPRequestHandler):
    """Serves the archives slowly with an ETag, honouring Range with If-Range; logs every request
    with the time and count of every piece it sent."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        body = self.server.bodies[self.path]
        etag = '"%s"' % hashlib.md5(body).hexdigest()
        wanted = re.match(r"bytes=(\d+)-$", self.headers.get("Range", ""))
        start = int(wanted.group(1)) if wanted and self.headers.get("If-Range") == etag else 0
        entry = {"path": self.path, "start": start, "sent": 0, "began": time.time(), "pieces": []}
        self.server.log.append(entry)
        if start >= len(body):
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
        try:
            while start + entry["sent"] < len(body):
                piece = body[start + entry["sent"]:start + entry["sent"] + PIECE_BYTES]
                self.wfile.write(piece)
                self.wfile.flush()
                entry["sent"] += len(piece)
                entry["pieces"].append((time.time(), entry["sent"]))
                time.sleep(len(piece) / RATE_BYTES_PER_S)
        except OSError:
            pass


class KilledMidFlight(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarn-kill-")
        shutil.copy(EXE, os.path.join(self.dir, "TarnDown.exe"))
        shutil.copy(SEVEN_ZIP, os.path.join(self.dir, "7z.exe"))
        shutil.copy(os.path.join(os.path.dirname(SEVEN_ZIP), "7z.dll"), self.dir)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), TrickleHandler)
        self.sources = {number: archive(number) for number in range(TASKS)}
        self.server.bodies = {"/p%02d.zip" % n: data for n, (_, data) in self.sources.items()}
        self.server.log = []
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.program, self.kills = None, []

    def tearDown(self):
        self.kill()
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def start(self):
        self.port = free_port()
        folder = windows_path(self.dir)
        self.program = start_program(self.dir, f"[Settings]\r\nPort={self.port}\r\nDownloadDir={folder}\\downloads\r\n"
                                     f"DevDir={folder}\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n")
        deadline = time.monotonic() + 60
        while self.curl("/api/status") is None:
            self.assertLess(time.monotonic(), deadline, "the program did not answer")
            time.sleep(0.1)

    def kill(self):
        if self.program and self.program.poll() is None:
            os.kill(self.program.pid, signal.SIGKILL)
            self.program.wait(timeout=30)
            journal = os.path.join(self.dir, "TarnDown.tasks")
            self.kills.append((time.time(), os.path.getmtime(journal) if os.path.exists(journal) else 0))

    def curl(self, path, *args):
        done = subprocess.run(["curl", "-s", "--max-time", "10", *args, f"http://127.0.0.1:{self.port}{path}"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return json.loads(done.stdout) if done.returncode == 0 and done.stdout else None

    def tasks_retrying_interrupted(self):
        tasks = self.curl("/api/tasks")["tasks"]
        for task in tasks:
            if task["status"] == "failed":
                self.assertRegex(task["error"], "^Interrupted by exit during (extraction|filing)$", task)
                self.curl("/api/retry", "--data", json.dumps({"task_id": task["id"]}))
        return tasks

    def check_refetched(self):
        """A task fetches again after a kill at most what arrived after the journal's last save before
        that kill, plus one read buffer (and what was on its way)."""
        refetched = []
        for path in self.server.bodies:
            requests = [entry for entry in self.server.log if entry["path"] == path]
            for cut, following in zip(requests, requests[1:]):
                saved = next((mtime for killed, mtime in self.kills if killed >= cut["began"]), 0)
                since_save = cut["sent"] - max([sent for at, sent in cut["pieces"] if at <= saved], default=0)
                refetched.append(max(0, cut["start"] + cut["sent"] - following["start"]))
                self.assertLessEqual(refetched[-1], since_save + READ_BUFFER_BYTES + SOCKET_SLACK_BYTES, path)
        print("bytes fetched again per cut request: max", max(refetched), "median",
              sorted(refetched)[len(refetched) // 2], "of", len(refetched), file=sys.stderr)

    def test_every_task_ends_whole_and_filed_once_after_ten_kills(self):
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
            tasks = self.tasks_retrying_interrupted()
            self.assertEqual([task["name"] for task in tasks], [f"pack{n:02d}" for n in range(TASKS)])
            print("after the kill:", dict(collections.Counter(task["status"] for task in tasks)), file=sys.stderr)
        deadline = time.monotonic() + 180
        while any(task["status"] not in ("completed", "already_exists") for task in tasks):
            self.assertLess(time.monotonic(), deadline, tasks)
            time.sleep(0.5)
            tasks = self.tasks_retrying_interrupted()
        self.assertEqual([task["status"] for task in tasks], ["completed"] * TASKS, tasks)
        for number, (content, _) in self.sources.items():
            with open(os.path.join(self.dir, "dev", "anim", "effect", "sfx_journal_%02d.bin" % number), "rb") as filed:
                self.assertTrue(filed.read() == content, number)
        self.check_refetched()


if __name__ == "__main__":
    EXE, SEVEN_ZIP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
