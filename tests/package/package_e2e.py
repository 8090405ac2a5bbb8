#!/usr/bin/env python3
"""The zip a Windows user downloads: unzipped with unzip into a fresh folder, the program started
from there under Wine answers /api/status, and its version resource names the zip's version.

Usage: package_e2e.py <dist/TarnDown-<version>-win64.zip> <version>. Needs wine, unzip, curl and
the environment that scripts/test sets up (WINEPREFIX, DISPLAY, a persistent wineserver).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wine_program import free_port, start_program, windows_path  # noqa: E402

ZIP = None
VERSION = None
START_TIMEOUT_S = 30
EXPECTED_FILES = ["7z.dll", "7z.exe", "LICENSE-7-Zip.txt", "LICENSE-WebView2.txt", "README.txt", "TarnDown.exe"]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
LOADER = os.path.join(ROOT, "third_party", "webview2", "x64", "WebView2Loader.dll")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def string_file_info(exe, key):
    """A value of the version resource's string table, read from the file's bytes: the UTF-16 key,
    its terminator, padding to 32 bits, then the UTF-16 value up to its terminator. The last one in
    the file: the resources come last, after the data (where TarnDown.exe carries the loader with
    the loader's own version record)."""
    data = read(exe)
    marker = (key + "\0").encode("utf-16-le")
    at = data.rfind(marker)
    if at < 0:
        return None
    at += len(marker)
    at += (-at) % 4
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


class UnzippedPackage(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarn-package-")
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.kill()
            self.program.wait(timeout=30)
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_unzipped_program_answers_and_carries_the_version(self):
        self.assertEqual(os.path.basename(ZIP), f"TarnDown-{VERSION}-win64.zip")
        subprocess.run(["unzip", "-q", ZIP, "-d", self.dir], check=True, stdin=subprocess.DEVNULL)
        self.assertEqual(sorted(os.listdir(self.dir)), EXPECTED_FILES)
        readme = read(os.path.join(self.dir, "README.txt"))
        self.assertIn(b"/api/download?url=", readme)
        self.assertNotIn(b"\n", readme.replace(b"\r\n", b""), "a read-me for Notepad has CRLF lines")
        exe = os.path.join(self.dir, "TarnDown.exe")
        self.assertEqual(string_file_info(exe, "FileVersion"), VERSION)
        self.assertEqual(string_file_info(exe, "ProductVersion"), VERSION)
        # Microsoft's loader inside the program byte for byte, 7-Zip 26.03 and both licences beside it.
        self.assertIn(read(LOADER), read(exe))
        for name in ("7z.exe", "7z.dll"):
            self.assertEqual(string_file_info(os.path.join(self.dir, name), "ProductVersion"), "26.03", name)
        self.assertIn(b"7-Zip Copyright (C) 1999-2026 Igor Pavlov.",
                      read(os.path.join(self.dir, "LICENSE-7-Zip.txt")))
        webview_licence = read(os.path.join(self.dir, "LICENSE-WebView2.txt"))
        self.assertIn(b"Copyright (C) Microsoft Corporation", webview_licence)
        self.assertIn(b"NOTICES AND INFORMATION", webview_licence)

        # A port of its own, so that another program on the default port does not answer for it.
        port = free_port()
        settings = f"[Settings]\r\nPort={port}\r\nDownloadDir={windows_path(self.dir)}\\downloads\r\n"
        self.program = start_program(self.dir, settings)
        deadline = time.monotonic() + START_TIMEOUT_S
        while True:
            reply = subprocess.run(
                ["curl", "-s", "--max-time", "5", f"http://127.0.0.1:{port}/api/status"],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE).stdout
            if reply or time.monotonic() > deadline or self.program.poll() is not None:
                break
            time.sleep(0.2)
        self.assertTrue(reply.startswith(f'{{"success":true,"port":{port},"downloadDir":"'.encode()), reply)
        self.assertTrue(reply.endswith(b'"taskCount":0}'), reply)


if __name__ == "__main__":
    ZIP = os.path.abspath(sys.argv.pop(1))
    VERSION = sys.argv.pop(1)
    unittest.main()
