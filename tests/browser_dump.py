# Renders pages in one headless chromium and writes each page's DOM, as the
# browser holds it once the page has loaded, to a file; what went wrong with
# a page goes to that file's name plus ".err", and the file is then empty.
# Chromium is driven through its debugging pipe (commands on descriptor 3,
# answers on 4), so that one start of the browser serves every page.
# Usage: python3 browser_dump.py PROFILE_DIR URL FILE [URL FILE]...
import json
import os
import select
import subprocess
import sys
import time

profile, pairs = sys.argv[1], sys.argv[2:]
page_seconds = 30  # a page that takes longer has hung

browser_reads, to_browser = os.pipe()
from_browser, browser_writes = os.pipe()


def pipe_descriptors():
    # Descriptors 3 and 4 of the browser; duplicates first, so that no
    # dup2 is a no-op that keeps the close-on-exec flag.
    reads, writes = os.dup(browser_reads), os.dup(browser_writes)
    os.dup2(reads, 3)
    os.dup2(writes, 4)
    os.set_inheritable(3, True)
    os.set_inheritable(4, True)


log = open(os.path.join(profile, "chromium.log"), "wb")
browser = subprocess.Popen(
    ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
     "--no-first-run", "--disable-background-networking",
     "--disable-component-update", "--disable-sync",
     "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"],
    stdin=subprocess.DEVNULL, stdout=log, stderr=log, close_fds=False,
    preexec_fn=pipe_descriptors)
os.close(browser_reads)
os.close(browser_writes)

pending = b""
events = []
next_id = 0


class BrowserError(Exception):
    pass


def receive(deadline):
    global pending
    while b"\0" not in pending:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([from_browser], [], [], left)[0]:
            raise BrowserError("no answer from chromium within %d s" % page_seconds)
        chunk = os.read(from_browser, 1 << 20)
        if not chunk:
            raise BrowserError("chromium closed its pipe")
        pending += chunk
    message, pending = pending.split(b"\0", 1)
    return json.loads(message)


def call(method, params, session, deadline):
    global next_id
    next_id += 1
    message = {"id": next_id, "method": method, "params": params}
    if session:
        message["sessionId"] = session
    os.write(to_browser, json.dumps(message).encode() + b"\0")
    while True:
        answer = receive(deadline)
        if answer.get("id") == next_id:
            if "error" in answer:
                raise BrowserError("%s: %s" % (method, answer["error"]))
            return answer["result"]
        events.append(answer)


def wait_for(check, deadline):
    while True:
        for event in events:
            if check(event):
                return
        events.append(receive(deadline))


status = 0
try:
    deadline = time.monotonic() + page_seconds
    target = call("Target.createTarget", {"url": "about:blank"}, None,
                  deadline)["targetId"]
    session = call("Target.attachToTarget",
                   {"targetId": target, "flatten": True}, None,
                   deadline)["sessionId"]
    call("Page.enable", {}, session, deadline)
    call("Page.setLifecycleEventsEnabled", {"enabled": True}, session,
         deadline)
    for url, dump in zip(pairs[::2], pairs[1::2]):
        deadline = time.monotonic() + page_seconds
        with open(dump, "w") as out, open(dump + ".err", "w") as err:
            events.clear()
            navigation = call("Page.navigate", {"url": url}, session, deadline)
            if "errorText" in navigation:
                err.write("%s: %s\n" % (url, navigation["errorText"]))
                continue
            # The load of this navigation, not of the page before it.
            loader = navigation.get("loaderId")
            wait_for(lambda e: e.get("method") == "Page.lifecycleEvent" and
                     e["params"]["name"] == "load" and
                     e["params"]["loaderId"] == loader, deadline)
            dom = call("Runtime.evaluate",
                       {"expression": "document.documentElement.outerHTML",
                        "returnByValue": True}, session, deadline)
            out.write(dom["result"].get("value", ""))
except (BrowserError, OSError, ValueError) as error:
    print("browser_dump: %s" % error, file=sys.stderr)
    status = 1
finally:
    # Closed as a user would close it, so that its helper processes go too.
    try:
        os.write(to_browser, json.dumps(
            {"id": next_id + 1, "method": "Browser.close"}).encode() + b"\0")
        browser.wait(timeout=page_seconds)
    except (OSError, subprocess.TimeoutExpired):
        browser.kill()
        browser.wait()
sys.exit(status)
