#!/usr/bin/env python3
"""Start-up of TarnDown.exe under Wine to its first /api/status answer, with no journal and with a
journal of 1,000 finished tasks, alternating, ROUNDS times each. Prints every start and the medians.
  startup.py <TarnDown.exe> <task_journal_bench.exe> [rounds]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "support"))
from wine_program import free_port, start_program, windows_path  # noqa: E402


def time_start(directory, with_journal, bench_exe):
    for name in ("TarnDown.tasks", "TarnDown.tasks.bak"):
        if os.path.exists(os.path.join(directory, name)):
            os.remove(os.path.join(directory, name))
    if with_journal:
        subprocess.run(["wine", bench_exe, "--write", windows_path(directory),
                        windows_path(directory) + "\\downloads", windows_path(directory) + "\\dev"], check=True)
    port = free_port()
    settings = (f"[Settings]\r\nPort={port}\r\nDownloadDir={windows_path(directory)}\\downloads\r\n"
                f"DevDir={windows_path(directory)}\\dev\r\nAutoExtract=1\r\nAutoCopyToDev=1\r\n")
    started = time.monotonic()
    program = start_program(directory, settings)
    tasks = None
    try:
        while time.monotonic() - started < 60:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/status", timeout=5) as reply:
                    reply.read()
                elapsed = time.monotonic() - started
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/tasks", timeout=5) as reply:
                    tasks = reply.read().count(b'"id":')
                return elapsed, tasks
            except OSError:
                time.sleep(0.02)
    finally:
        program.kill()
        program.wait()
    raise RuntimeError("no answer")


def main():
    exe, bench_exe = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    directory = tempfile.mkdtemp(prefix="tarn-journal-start-")
    shutil.copy(exe, os.path.join(directory, "TarnDown.exe"))
    times = {False: [], True: []}
    for _ in range(rounds):
        for with_journal in (False, True):
            elapsed, tasks = time_start(directory, with_journal, bench_exe)
            times[with_journal].append(elapsed)
            print(f"{'1,000 restored' if with_journal else 'no journal    '}: {elapsed * 1000:7.0f} ms, {tasks} tasks")
    for with_journal in (False, True):
        print(f"median {'1,000 restored' if with_journal else 'no journal    '}: "
              f"{statistics.median(times[with_journal]) * 1000:7.0f} ms")
    shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
