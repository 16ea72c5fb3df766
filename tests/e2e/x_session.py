#!/usr/bin/env python3
"""Runs a command on an X server of its own.

Xvfb chooses a free display itself (-displayfd) and says which once it accepts connections, so
nothing here guesses a number that another server (of this machine, or of another container that
shares its sockets) may hold. The command gets that display; the server is checked to answer
before the command starts, and what it printed is shown when the command fails.

Usage: x_session.py COMMAND [ARG...]
"""

import os
import select
import subprocess
import sys
import tempfile
import time


def start_server(log):
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten",
         "tcp", "-noreset"],
        pass_fds=(write_end,), stdout=log, stderr=log)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 30
    while not number.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([read_end], [], [], left)[0]:
            break
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        server.kill()
        server.wait()
        return None, None
    return server, ":" + number.decode().strip()


def answers(display):
    env = dict(os.environ, DISPLAY=display)
    env.pop("XAUTHORITY", None)
    return subprocess.run(["xdotool", "getdisplaygeometry"], env=env, capture_output=True,
                          timeout=10).returncode == 0


def main():
    with tempfile.NamedTemporaryFile("w+", prefix="kestrune-xvfb-", suffix=".log") as log:
        server = display = None
        for _ in range(3):
            server, display = start_server(log)
            if server and any(answers(display) or time.sleep(0.5) for _ in range(20)):
                break
            if server:
                server.kill()
                server.wait()
            server = None
        if server is None:
            log.seek(0)
            print("FAIL: no X server could be started. Xvfb said:\n" + log.read(), flush=True)
            return 1
        env = dict(os.environ, DISPLAY=display)
        env.pop("XAUTHORITY", None)  # the server admits local clients without a cookie
        env.pop("WAYLAND_DISPLAY", None)
        try:
            status = subprocess.run(sys.argv[1:], env=env).returncode
        finally:
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        if status != 0:
            log.seek(0)
            said = log.read().strip()
            if said:
                print("Xvfb on " + display + " said:\n" + said, flush=True)
        return status


if __name__ == "__main__":
    sys.exit(main())
