#!/usr/bin/env python3
"""Requests per second and latency of the running TarnDown.exe's HTTP API under Wine.

Usage (after scripts/build, with WINEPREFIX and DISPLAY set and a persistent wineserver, as
scripts/test prepares them):
    python3 bench/api/api_http_bench.py build/TarnDown.exe [requests per route]

Starts a private copy of the program, fills its table with 1,000 tasks through /api/download, then
sends the requests one after another (the server serves one connection at a time) and prints
requests/s, p50 and p99 for each route; finally grows the table to 10,000 tasks and times GET /.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

START_TIMEOUT_S = 30


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def exchange(port, request):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as client:
        client.sendall(request)
        chunks = []
        while True:
            chunk = client.recv(262144)
            if not chunk:
                break
            chunks.append(chunk)
    return b"".join(chunks)


def get(path):
    return f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode("ascii")


def add_tasks(port, first, count):
    for i in range(first, first + count):
        reply = exchange(port, get(f"/api/download?url=http://127.0.0.1:9/pack{i}.zip&name=pack{i}"))
        if not reply.startswith(b"HTTP/1.1 200 OK"):
            raise RuntimeError(f"task {i} not created: {reply[:80]!r}")


def measure(port, path, requests):
    request = get(path)
    latencies = []
    size = 0
    start = time.perf_counter()
    for _ in range(requests):
        t0 = time.perf_counter()
        reply = exchange(port, request)
        latencies.append(time.perf_counter() - t0)
        size = len(reply)
    total = time.perf_counter() - start
    latencies.sort()
    p50 = latencies[len(latencies) // 2] * 1000
    p99 = latencies[min(len(latencies) - 1, (len(latencies) * 99) // 100)] * 1000
    print(f"| GET {path} | {requests} | {size} | {requests / total:.0f} | {p50:.2f} | {p99:.2f} |", flush=True)


def main():
    exe = os.path.abspath(sys.argv[1])
    requests = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    work = tempfile.mkdtemp(prefix="tarn-bench-")
    shutil.copy(exe, os.path.join(work, "TarnDown.exe"))
    port = free_port()
    zdir = "Z:" + work.replace("/", "\\")
    settings = (f"[Settings]\r\nPort={port}\r\nDownloadDir={zdir}\\dl\r\nDevDir={zdir}\\dev\r\n"
                "AutoExtract=0\r\nAutoCopyToDev=0\r\nStartMinimized=0\r\n")
    with open(os.path.join(work, "TarnDown.ini"), "wb") as ini:
        ini.write(b"\xff\xfe" + settings.encode("utf-16-le"))
    program = subprocess.Popen(["wine", "TarnDown.exe"], cwd=work, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + START_TIMEOUT_S
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("the API did not come up")
                time.sleep(0.1)
        add_tasks(port, 0, 1000)
        print("| Request | Requests | Reply bytes | Requests/s | p50 ms | p99 ms |")
        print("|---|---|---|---|---|---|")
        measure(port, "/api/status", requests)
        measure(port, "/api/tasks", requests)
        measure(port, "/", requests // 4)
        add_tasks(port, 1000, 9000)
        print("| (10,000 tasks) | | | | | |")
        measure(port, "/", 100)
        measure(port, "/api/tasks", 100)
    finally:
        program.kill()
        program.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
