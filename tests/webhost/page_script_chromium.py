#!/usr/bin/env python3
"""The page script in a real browser: Debian's Chromium, headless, one page, one start.

Usage: page_script_chromium.py <generated page_script_text.cpp> <chromium>. The script is taken
from the generated source, so the bytes run here are the bytes the program injects. The page stubs
the runtime's postMessage and the original window.open, runs the script twice (as two completed
navigations of one document would), clicks, and writes what it saw into the page, which Chromium
prints (--dump-dom).
"""
import html
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

SCRIPT_SOURCE = None
CHROMIUM = None
# Only against a hang: the browser usually ends within seconds.
CHROMIUM_TIMEOUT_S = 120

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>links</title></head><body>
<a id="link" href="tarndownload://download?url=http%3A%2F%2Fh%2Fa.zip&amp;name=a">a</a>
<a id="wrapped" href="tarndownload://download?url=b"><span id="inner">b</span></a>
<div id="data" data-download-url="tarndownload://download?url=c">c</div>
<button id="scripted" onclick="ran.push('inline'); go('tarndownload://download?url=d&amp;name=x')">d</button>
<button id="plain">plain</button>
<a id="contains" href="https://elsewhere.example/?to=tarndownload://download?url=e">e</a>
<a id="spaced" href="  tarndownload://download?url=s">s</a>
<a id="own" href="tarndownload://download?url=f">f</a>
<pre id="out"></pre>
<script>
var posted = [];
var opened = [];
var ran = [];
window.chrome = {webview: {postMessage: function (message) { posted.push(message); }}};
window.open = function () {
    opened.push({self: this === window, args: Array.prototype.slice.call(arguments)});
    return 'from-original';
};
</script>
<script src="injected.js"></script>
<script src="injected.js"></script>
<script>
document.getElementById('own').addEventListener('click', function () { ran.push('own'); });
document.getElementById('plain').addEventListener('click', function () { ran.push('plain'); });
var reached = null;
/* The test page's own last word: it records what arrived and keeps links from leaving the page. */
window.addEventListener('click', function (event) {
    reached = event.defaultPrevented;
    event.preventDefault();
});
var clicks = {};
['link', 'inner', 'data', 'scripted', 'plain', 'contains', 'spaced', 'own'].forEach(function (id) {
    reached = null;
    var event = new MouseEvent('click', {bubbles: true, cancelable: true});
    document.getElementById(id).dispatchEvent(event);
    clicks[id] = reached === null ? (event.defaultPrevented ? 'stopped+prevented' : 'stopped')
                                  : (reached ? 'prevented' : 'passed');
});
var openLink = window.open('tarndownload://download?url=g', '_blank');
var openPage = window.open('https://h.example/page', 'w', 'width=1');
var openEmpty = window.open();
document.getElementById('out').textContent = JSON.stringify({
    flags: [window.TARNEmbedded, window.TARNDownloadEnabled],
    posted: posted, clicks: clicks, ran: ran, opened: opened,
    results: [openLink, openPage, openEmpty]
});
</script>
</body></html>
"""


def injected_script():
    with open(SCRIPT_SOURCE, encoding="utf-8") as source:
        text = source.read()
    match = re.search(r'LR"tarn_text\((.*)\)tarn_text"', text, re.S)
    if not match:
        raise AssertionError("no page script in " + SCRIPT_SOURCE)
    return match.group(1)


class PageScriptInChromium(unittest.TestCase):
    def test_links_are_posted_and_their_default_prevented_everything_else_passes(self):
        script = injected_script()
        self.assertNotIn("\n", script)
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "injected.js"), "w", encoding="utf-8") as out:
                out.write(script)
            with open(os.path.join(folder, "page.html"), "w", encoding="utf-8") as out:
                out.write(PAGE)
            run = subprocess.run(
                [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--user-data-dir=" + os.path.join(folder, "profile"), "--allow-file-access-from-files",
                 "--dump-dom", "file://" + os.path.join(folder, "page.html")],
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=CHROMIUM_TIMEOUT_S, check=False)
        dom = run.stdout.decode("utf-8", "replace")
        found = re.search(r'<pre id="out">(.+?)</pre>', dom, re.S)
        self.assertIsNotNone(found, "page did not finish:\n" + dom + run.stderr.decode("utf-8", "replace"))
        seen = json.loads(html.unescape(found.group(1)))

        self.assertEqual(seen["flags"], [True, True])
        self.assertEqual(seen["posted"], [
            "tarndownload://download?url=http%3A%2F%2Fh%2Fa.zip&name=a",
            "tarndownload://download?url=b",
            "tarndownload://download?url=c",
            "tarndownload://download?url=d&name=x",
            "tarndownload://download?url=f",
            "tarndownload://download?url=g",
        ])
        # Caught clicks stop in the capture phase: neither the page's handlers on the target nor
        # the window see them. Others reach the page with their default action intact.
        self.assertEqual(seen["clicks"], {
            "link": "stopped+prevented",
            "inner": "stopped+prevented",
            "data": "stopped+prevented",
            "scripted": "stopped+prevented",
            "plain": "passed",
            "contains": "passed",
            "spaced": "passed",
            "own": "stopped+prevented",
        })
        self.assertEqual(seen["ran"], ["plain"])
        self.assertEqual(seen["opened"], [
            {"self": True, "args": ["https://h.example/page", "w", "width=1"]},
            {"self": True, "args": []},
        ])
        self.assertEqual(seen["results"], [None, "from-original", "from-original"])


if __name__ == "__main__":
    SCRIPT_SOURCE, CHROMIUM = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
