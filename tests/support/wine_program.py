"""Helpers the Python tests share for starting TarnDown.exe under Wine."""
import socket


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def windows_path(path):
    """A Linux path as the program under Wine sees it (Wine maps / to Z:)."""
    return "Z:" + path.replace("/", "\\")
