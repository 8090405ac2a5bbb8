"""Helpers the Python tests share for starting TarnDown.exe under Wine."""
import os
import socket
import subprocess


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def windows_path(path):
    """A Linux path as the program under Wine sees it (Wine maps / to Z:)."""
    return "Z:" + path.replace("/", "\\")


def start_program(directory, settings):
    """Writes settings as TarnDown.ini (UTF-16 with its mark, as the program writes it) and starts
    the TarnDown.exe in directory under Wine, its streams on /dev/null so no pipe waits for it."""
    with open(os.path.join(directory, "TarnDown.ini"), "wb") as ini:
        ini.write(b"\xff\xfe" + settings.encode("utf-16-le"))
    return subprocess.Popen(
        ["wine", "TarnDown.exe"], cwd=directory,
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
