#!/usr/bin/env python3
"""Ordinary requests from curl, a real HTTP client, to the real TarnDown.exe under Wine.

Usage: api_curl_e2e.py <path of the built TarnDown.exe>. Needs wine, curl and the environment that
scripts/test sets up (WINEPREFIX, DISPLAY, a persistent wineserver).
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_program import free_port, start_program, windows_path  # noqa: E402

EXE = None
START_TIMEOUT_S = 30
CURL_TIMEOUT_S = 20


def json_path(path):
    return windows_path(path).replace("\\", "\\\\")


def expected_reply(code, content_type, body):
    if isinstance(body, str):
        body = body.encode("utf-8")
    head = (
        f"HTTP/1.1 {code} {'OK' if code == 200 else 'Error'}\r\n"
        f"Content-Type: {content_type}; charset=utf-8\r\n"
        f"Content-Length: {len(body)}\r\n"
        "Access-Control-Allow-Origin: *\r\n"
        "Access-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
        "Access-Control-Allow-Headers: Content-Type\r\n"
        "Connection: close\r\n\r\n"
    )
    return head.encode("ascii") + body


class HeldDownload:
    """A file server whose one answer announces a large body and then trickles it, so a download
    task started from it stays in progress while the test looks at it."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.opened = self.closed = None
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.listener.settimeout(0.2)
        while not self.stop.is_set():
            try:
                client, _ = self.listener.accept()
            except OSError:
                continue
            with client:
                client.recv(65536)
                client.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\nConnection: close\r\n\r\n")
                self.opened = time.monotonic()
                while not self.stop.wait(0.1):
                    try:
                        client.sendall(b"x" * 1024)
                    except OSError:
                        self.closed = time.monotonic()
                        break

    def close(self):
        self.stop.set()
        self.thread.join(timeout=5)
        self.listener.close()


class CurlAgainstProgram(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarn-curl-")
        shutil.copy(EXE, os.path.join(self.dir, "TarnDown.exe"))
        self.port = free_port()
        self.download_dir = os.path.join(self.dir, "downloads")
        self.dev_dir = os.path.join(self.dir, "dev")
        settings = (
            f"[Settings]\r\nPort={self.port}\r\nDownloadDir={windows_path(self.download_dir)}\r\n"
            f"DevDir={windows_path(self.dev_dir)}\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\nStartMinimized=0\r\n"
        )
        self.program = start_program(self.dir, settings)
        deadline = time.monotonic() + START_TIMEOUT_S
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.program.poll() is not None:
                    self.fail("the program's API did not come up")
                time.sleep(0.1)

    def tearDown(self):
        self.program.kill()
        self.program.wait(timeout=30)
        shutil.rmtree(self.dir, ignore_errors=True)

    def curl(self, *args):
        """Whole reply (status line, headers, body) exactly as curl received it."""
        result = subprocess.run(
            ["curl", "-s", "-i", "--max-time", str(CURL_TIMEOUT_S), *args],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, check=True)
        return result.stdout

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def status_body(self, port, auto_extract, auto_copy, tasks, limit=3):
        return (
            f'{{"success":true,"port":{port},"downloadDir":"{json_path(self.download_dir)}",'
            f'"devDir":"{json_path(self.dev_dir)}","autoExtract":{str(auto_extract).lower()},'
            f'"autoCopyToDev":{str(auto_copy).lower()},"maxConcurrentDownloads":{limit},"taskCount":{tasks}}}'
        )

    def test_status_tasks_page_and_not_found(self):
        self.assertEqual(self.curl(self.url("/api/status")),
                         expected_reply(200, "application/json", self.status_body(self.port, True, True, 0)))
        self.assertEqual(self.curl(self.url("/api/tasks")),
                         expected_reply(200, "application/json", '{"tasks":[]}'))
        self.assertEqual(self.curl(self.url("/nothing")), expected_reply(404, "text/plain", "Not Found"))
        page = self.curl(self.url("/"))
        self.assertTrue(page.startswith(b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"))
        self.assertEqual(page, self.curl(self.url("/index.html")))
        body = page.split(b"\r\n\r\n", 1)[1]
        self.assertEqual(len(body.split(b"<span>Port:</span> ", 1)[0]) + len(b"<span>Port:</span> "), 777)

    def test_download_by_query_and_by_form(self):
        held = HeldDownload()
        self.addCleanup(held.close)
        held_url = f"http://127.0.0.1:{held.port}/a.zip?x=1&y=2"
        name = "素材 pack&1"
        reply = self.curl("-G", "--data-urlencode", f"url={held_url}",
                          "--data-urlencode", f"name={name}", self.url("/api/download"))
        self.assertEqual(reply, expected_reply(
            200, "application/json",
            f'{{"success":true,"message":"Download started","task_id":0,"name":"{name}"}}'))
        reply = self.curl("-G", "--data-urlencode", f"url={held_url}",
                          "--data-urlencode", f"name={name}", self.url("/api/download"))
        self.assertEqual(reply, expected_reply(
            200, "application/json", f'{{"success":true,"message":"Task already exists","name":"{name}"}}'))
        reply = self.curl("--data", "url=u2&name=form", self.url("/api/download?name=query"))
        self.assertEqual(reply, expected_reply(
            200, "application/json", '{"success":true,"message":"Download started","task_id":1,"name":"form"}'))
        self.assertEqual(self.curl(self.url("/api/download?url=u")), expected_reply(
            400, "application/json", '{"success":false,"message":"Missing url or name parameter"}'))
        # The first task is still downloading; the second one's URL is rejected by its worker.
        expected = expected_reply(
            200, "application/json",
            f'{{"tasks":[{{"id":0,"name":"{name}","status":"downloading","progress":0,"error":""}},'
            '{"id":1,"name":"form","status":"failed","progress":0,"error":"Invalid URL format"}]}')
        deadline = time.monotonic() + 20
        while True:
            tasks = self.curl(self.url("/api/tasks"))
            if tasks == expected or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        self.assertEqual(tasks, expected)

    def test_json_configuration_with_preflight(self):
        preflight = self.curl("-X", "OPTIONS", "-H", "Origin: http://assets.tarn.example",
                              "-H", "Access-Control-Request-Method: POST", self.url("/api/config"))
        self.assertEqual(preflight, expected_reply(200, "text/plain", ""))
        new_dl = os.path.join(self.dir, "new downloads")
        body = f'{{"downloadDir": "{json_path(new_dl)}", "autoExtract": true, "port": 9000}}'
        reply = self.curl("-H", "Content-Type: application/json", "-H", "Origin: http://assets.tarn.example",
                          "--data", body, self.url("/api/config"))
        self.assertEqual(reply, expected_reply(
            200, "application/json", '{"success":true,"message":"Configuration updated"}'))
        self.assertTrue(os.path.isdir(new_dl))
        self.download_dir = new_dl
        # Still served on the old port; the new one is the setting for the next start.
        self.assertEqual(self.curl(self.url("/api/config")),
                         expected_reply(200, "application/json", self.status_body(9000, True, False, 0)))
        with open(os.path.join(self.dir, "TarnDown.ini"), "rb") as ini:
            text = ini.read().decode("utf-16")
        self.assertIn("Port=9000\r\n", text)
        self.assertIn(f"DownloadDir={windows_path(new_dl)}\r\n", text)

    def test_foreign_sites_are_refused(self):
        reply = self.curl("-H", "Origin: http://evil.example", "--data", '{"port":9000}', self.url("/api/config"))
        self.assertEqual(reply, expected_reply(
            403, "application/json", '{"success":false,"message":"Forbidden origin"}'))
        reply = self.curl("-H", "Host: evil.example", self.url("/api/status"))
        self.assertEqual(reply, expected_reply(
            403, "application/json", '{"success":false,"message":"Forbidden host"}'))
        forbidden = expected_reply(403, "application/json", '{"success":false,"message":"Forbidden origin"}')
        self.assertEqual(self.curl("-H", "Origin: http://evil.example", self.url("/api/status")), forbidden)
        # An <img src> on another site: no Origin, only the browser's mark.
        self.assertEqual(self.curl("-H", "Sec-Fetch-Site: cross-site", "-H", "Referer: http://evil.example/",
                                   self.url("/api/download?url=http://127.0.0.1:1/x.zip&name=sfx")), forbidden)
        self.assertEqual(self.curl(self.url("/api/tasks")),
                         expected_reply(200, "application/json", '{"tasks":[]}'))

    def wait_for_tasks(self, expected):
        deadline = time.monotonic() + CURL_TIMEOUT_S
        tasks = self.curl(self.url("/api/tasks"))
        while tasks != expected and time.monotonic() < deadline:
            time.sleep(0.05)
            tasks = self.curl(self.url("/api/tasks"))
        self.assertEqual(tasks, expected)

    def test_cancel_closes_the_download_and_the_limit_is_a_setting(self):
        held = HeldDownload()
        self.addCleanup(held.close)
        self.curl(self.url(f"/api/download?url=http://127.0.0.1:{held.port}/big.zip&name=big"))
        while held.opened is None:
            time.sleep(0.05)
        time.sleep(0.3)
        post = ("-H", "Origin: http://assets.tarn.example", "--data")
        asked = time.monotonic()
        self.assertEqual(self.curl(*post, '{"task_id":0}', self.url("/api/cancel")), expected_reply(
            200, "application/json", '{"success":true,"message":"Task cancelled","task_id":0}'))
        while held.closed is None and time.monotonic() < asked + 5:
            time.sleep(0.02)
        self.assertIsNotNone(held.closed)
        self.assertLess(held.closed - asked, 1.0)
        self.wait_for_tasks(expected_reply(200, "application/json", '{"tasks":[{"id":0,"name":"big",'
                                           '"status":"failed","progress":0,"error":"已取消"}]}'))
        self.assertEqual(self.curl(*post, '{"task_id":0}', self.url("/api/cancel")), expected_reply(
            409, "application/json", '{"success":false,"message":"Only a waiting or downloading task can be cancelled"}'))
        self.assertEqual(self.curl("-H", "Origin: http://evil.example", "--data", '{"task_id":0}',
                                   self.url("/api/cancel"))[:12], b"HTTP/1.1 403")

        refused = expected_reply(400, "application/json",
                                 '{"success":false,"message":"Invalid maxConcurrentDownloads"}')
        for value in ("0", "11", "2.5"):
            self.assertEqual(self.curl(*post, f'{{"maxConcurrentDownloads":{value}}}', self.url("/api/config")),
                             refused, value)
        self.curl(*post, '{"maxConcurrentDownloads": 10, "autoExtract": true}', self.url("/api/config"))
        self.assertEqual(self.curl(self.url("/api/config")),
                         expected_reply(200, "application/json", self.status_body(self.port, True, False, 1, 10)))
        with open(os.path.join(self.dir, "TarnDown.ini"), "rb") as ini:
            self.assertIn("MaxConcurrentDownloads=10\r\n", ini.read().decode("utf-16"))


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
