#!/usr/bin/env python3
"""Drives the real kestrune program as a user would, on an X server of its own.

Run by run_window_e2e.sh inside Xvfb and a private session bus. Keys and clicks go in through
xdotool; what the window shows is read back through the accessibility interface (AT-SPI), the way
a screen reader reads it. The program runs with a scratch home folder, so nothing of the user's is
touched.

Usage: window_e2e.py BIN_DIR
"""

import configparser
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

import pyatspi

BIN_DIR = sys.argv[1]
SHOTS = os.environ.get("KESTRUNE_SCREENSHOTS", "")
STEP_TIMEOUT = 30.0


def fail(message):
    print("FAIL: " + message, flush=True)
    screenshot("e2e-failure")
    raise SystemExit(1)


def wait_for(what, condition, timeout=STEP_TIMEOUT):
    """Polls condition until it gives something true; fails with `what` after the timeout."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Exception:  # the tree changes under our feet while the window works
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        time.sleep(0.1)


def write_wav(path, seconds, rate=44100, frequency=440.0):
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        frames = bytearray()
        for i in range(int(seconds * rate)):
            v = int(12000 * math.sin(2 * math.pi * frequency * i / rate))
            frames += struct.pack("<hh", v, v)
        w.writeframes(bytes(frames))


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True, text=True).stdout


def focus_window(title):
    """Gives the X input focus to the window of that exact title (there is no window manager)."""
    ids = wait_for("a window titled " + title,
                   lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                           "^" + title + "$"],
                                          capture_output=True, text=True).stdout.split())
    # Without a window manager neither focus nor a click raises a window: both are done here.
    xdotool("windowraise", ids[-1])
    xdotool("windowfocus", "--sync", ids[-1])
    time.sleep(0.2)
    return ids[-1]


def screenshot(name):
    if not SHOTS:
        return
    os.makedirs(SHOTS, exist_ok=True)
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
                    "1280x1024", "-i", os.environ["DISPLAY"], "-frames:v", "1",
                    os.path.join(SHOTS, name + ".png")], check=False)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower().startswith("kestrune"):
            return app
    return None


def find(role, name=None, root=None):
    root = root or application()
    if root is None:
        return None
    for node in walk(root):
        try:
            if node.getRole() == role and (name is None or node.name == name):
                return node
        except Exception:
            continue
    return None


def showing(role, name, root):
    """The control of that role and name that is on screen now (pages hide the others)."""
    for node in walk(root):
        if node.getRole() == role and node.name == name and \
                node.getState().contains(pyatspi.STATE_SHOWING):
            return node
    return None


def top_window(name):
    app = application()
    if app is None:
        return None
    for i in range(app.childCount):
        w = app.getChildAtIndex(i)
        if w is not None and w.name == name:
            return w
    return None


def file_table():
    main = top_window("Kestrune")
    for node in walk(main):
        if node.getRole() in (pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE) \
                and node.name == "Files":
            return node
    return None


def rows():
    """The file list as a screen reader gets it: every row's cells."""
    table = file_table().queryTable()
    return [[table.getAccessibleAt(r, c).name for c in range(table.nColumns)]
            for r in range(table.nRows)]


def headers():
    table = file_table()
    return [table.getChildAtIndex(i).name for i in range(table.childCount)
            if table.getChildAtIndex(i).getRole() in (pyatspi.ROLE_COLUMN_HEADER,
                                                      pyatspi.ROLE_TABLE_COLUMN_HEADER)]


def press(name):
    """Presses a button of the main window through the accessibility interface."""
    button = wait_for("the button " + name, lambda: find(pyatspi.ROLE_PUSH_BUTTON, name,
                                                         top_window("Kestrune")))
    action = button.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("Press", "press", "click"):
            action.doAction(i)
            return
    action.doAction(0)


def choose_format(index, text):
    """Opens the output-format box with a click and walks down to the item at index."""
    def combo():
        return find(pyatspi.ROLE_COMBO_BOX, None, top_window("Kestrune"))
    focus_window("Kestrune")
    cx, cy, cw, ch = wait_for("the output-format box", combo).queryComponent().getExtents(
        pyatspi.DESKTOP_COORDS)
    xdotool("mousemove", "--sync", str(cx + cw // 2), str(cy + ch // 2), "click", "1")
    time.sleep(0.5)
    screenshot("e2e-format-list")
    xdotool("key", "Home")
    for _ in range(index):
        xdotool("key", "Down")
    xdotool("key", "Return")
    wait_for(text + " in the output-format box", lambda: combo().name == text, 10)


def click(node):
    x, y, w, h = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xdotool("mousemove", "--sync", str(x + w // 2), str(y + h // 2), "click", "1")
    time.sleep(0.2)


def main():
    scratch = tempfile.mkdtemp(prefix="kestrune-e2e-")
    home = os.path.join(scratch, "home")
    config = os.path.join(home, ".config")
    music = os.path.join(scratch, "My Music")
    os.makedirs(config)
    os.makedirs(os.path.join(music, "live"))
    write_wav(os.path.join(music, "intro.wav"), 1.0, frequency=330)
    write_wav(os.path.join(music, "theme.wav"), 2.0, frequency=440)
    write_wav(os.path.join(music, "live", "encore.wav"), 3.0, frequency=550)
    ini = os.path.join(config, "Kestrune", "Kestrune 4.ini")
    os.makedirs(os.path.dirname(ini))
    # A profile that has never started, except that no file manager is to be opened at the end
    # and that two files convert at once.
    with open(ini, "w") as f:
        f.write("[Options]\nBrowseOutputFolder=0\nSimultaneousConversions=2\n")

    runtime = os.path.join(scratch, "run")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               XDG_DATA_HOME=os.path.join(home, ".local", "share"),
               QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               LANG="C.UTF-8")
    env.pop("SESSION_MANAGER", None)
    program = subprocess.Popen([os.path.join(BIN_DIR, "kestrune")], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        run(program, home, music, ini)
    finally:
        if program.poll() is None:
            program.kill()
        output = program.communicate()[0]
        if output.strip():
            print("kestrune said:\n" + output)
        shutil.rmtree(scratch, ignore_errors=True)


def run(program, home, music, ini):
    # The window comes up at 950 by 650, and on this first start the manual opens beside it.
    wait_for("the program on the accessibility bus", application)
    main_window = wait_for("the main window", lambda: top_window("Kestrune"))
    x, y, width, height = main_window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if (width, height) != (950, 650):
        fail("the window is %dx%d, not 950x650" % (width, height))
    wait_for("the manual", lambda: top_window("Kestrune Help"))
    if headers() != ["File", "Duration", "Bit Rate", "Sample Rate", "Channels", "Volume",
                     "Output"]:
        fail("unexpected columns: %s" % headers())
    print("window up: 950x650, manual open, seven columns", flush=True)

    # Add Folder from the keyboard (Alt+F); the folder is typed into the folder browser.
    focus_window("Kestrune")
    xdotool("key", "alt+f")
    dialog = focus_window("Please choose a folder:")
    xdotool("key", "--window", dialog, "ctrl+a")
    xdotool("type", "--delay", "10", music)
    xdotool("key", "Return")
    listed = wait_for("three rows", lambda: (lambda r: r if len(r) == 3 else None)(rows()))
    names = sorted(r[0] for r in listed)
    if names != ["encore.wav", "intro.wav", "theme.wav"]:
        fail("rows after adding the folder: %s" % listed)
    by_name = {r[0]: r for r in listed}
    if by_name["theme.wav"][1:5] != ["00:02", "1411 kbps", "44100 Hz", "Stereo"]:
        fail("the row of theme.wav reads %s" % by_name["theme.wav"])
    print("folder added:", listed, flush=True)
    screenshot("e2e-window-with-files")

    # The window grows (a window manager would do this for the user's drag); the list takes
    # every pixel the window gained.
    def list_size():
        return tuple(file_table().queryComponent().getExtents(pyatspi.DESKTOP_COORDS)[2:])
    before = list_size()
    xdotool("windowsize", "--sync", focus_window("Kestrune"), "1150", "800")
    wait_for("the list to grow by 200x150 (it is %sx%s)" % before,
             lambda: list_size() == (before[0] + 200, before[1] + 150))
    print("window resized to 1150x800; the list is now %sx%s" % list_size(), flush=True)

    # FLAC from the output-format box: a click opens its list, the keys walk down to it.
    choose_format(12, " to FLAC")

    # Convert everything (Alt+C) and wait for every row to name its output.
    focus_window("Kestrune")
    xdotool("key", "alt+c")
    done = wait_for("the run to finish", lambda: (
        lambda r: r if all(row[6].endswith(".flac") for row in r) else None)(rows()), 120)
    wait_for("the main window to take input again",
             lambda: top_window("Kestrune").getState().contains(pyatspi.STATE_ENABLED))
    documents = os.path.join(home, "Documents")
    outputs = sorted(os.listdir(documents)) if os.path.isdir(documents) else []
    if outputs != ["encore.flac", "intro.flac", "theme.flac"]:
        fail("outputs in %s: %s" % (documents, outputs))
    for row in done:
        if row[5] != "100.00%":
            fail("volume cell %r" % row[5])
        probe = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-show_streams", "-of", "json",
             os.path.join(documents, row[6])], check=True, capture_output=True,
            text=True).stdout)["streams"][0]
        seconds = float(probe["duration"])
        expected = {"intro.flac": 1.0, "theme.flac": 2.0, "encore.flac": 3.0}[row[6]]
        if probe["codec_name"] != "flac" or abs(seconds - expected) > 0.05:
            fail("%s: %s, %.3f s" % (row[6], probe["codec_name"], seconds))
    print("converted:", done, flush=True)
    screenshot("e2e-window-after-run")

    # Options (Alt+O): another output folder on the Output page, 192 kbps on the MP3 page.
    chosen = os.path.join(os.path.dirname(music), "mp3 out")
    os.makedirs(chosen)
    focus_window("Kestrune")
    xdotool("key", "alt+o")
    sheet = wait_for("the Options sheet", lambda: top_window("Options"))
    focus_window("Options")
    pages = wait_for("the page list", lambda: find(pyatspi.ROLE_LIST, "Options", sheet))
    click(wait_for("the Output page's title", lambda: find(pyatspi.ROLE_LIST_ITEM, "Output", pages)))
    xdotool("key", "alt+s")
    xdotool("key", "ctrl+a")
    xdotool("type", "--delay", "10", chosen)
    click(find(pyatspi.ROLE_LIST_ITEM, "Output", pages))
    xdotool("type", "--delay", "30", "MP3")  # the list finds the page as its title is typed
    # Every encoding page has its own "Auto"; the MP3 page's is the one showing.
    auto = wait_for("the MP3 page", lambda: showing(
        pyatspi.ROLE_CHECK_BOX, "Auto (the program will choose the best options)",
        top_window("Options")))
    if auto.getState().contains(pyatspi.STATE_CHECKED):
        xdotool("key", "alt+u")
        wait_for("Auto to be off", lambda: not auto.getState().contains(pyatspi.STATE_CHECKED), 5)
    xdotool("key", "alt+b")
    xdotool("type", "--delay", "30", "192")
    wait_for("192 kbps in the bit rate list",
             lambda: showing(pyatspi.ROLE_COMBO_BOX, "192 kbps", top_window("Options")), 10)
    screenshot("e2e-options-mp3")
    xdotool("key", "Return")
    wait_for("the sheet to close", lambda: top_window("Options") is None, 10)

    # MP3 from the format box, then convert again: the outputs land in the chosen folder.
    choose_format(21, " to MP3")
    focus_window("Kestrune")
    xdotool("key", "alt+c")
    wait_for("the MP3 run to finish", lambda: (
        lambda r: r if all(row[6].endswith(".mp3") for row in r) else None)(rows()), 120)
    wait_for("the main window to take input again",
             lambda: top_window("Kestrune").getState().contains(pyatspi.STATE_ENABLED))
    made = sorted(os.listdir(chosen))
    if made != ["encore.mp3", "intro.mp3", "theme.mp3"]:
        fail("outputs in the chosen folder: %s" % made)
    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-show_streams", "-of", "json", os.path.join(chosen, "theme.mp3")],
        check=True, capture_output=True, text=True).stdout)["streams"][0]
    if probe["codec_name"] != "mp3" or probe.get("bit_rate") != "192000":
        fail("theme.mp3: %s at %s bit/s" % (probe["codec_name"], probe.get("bit_rate")))
    print("options applied: MP3 at 192 kbps in", chosen, flush=True)

    # Close with the small Close button; the settings are saved on the way out.
    press("Close")
    try:
        status = program.wait(timeout=STEP_TIMEOUT)
    except subprocess.TimeoutExpired:
        fail("the program did not end after Close")
    if status != 0:
        fail("the program ended with status %d" % status)
    stored = configparser.ConfigParser()
    stored.read(ini)
    options = stored["Options"]
    if options.get("FirstRun") != "0":
        fail("FirstRun is %r" % options.get("FirstRun"))
    if options.get("OutputFormat") != "1000":
        fail("OutputFormat is %r" % options.get("OutputFormat"))
    if options.get("Folder") != music + "/":
        fail("Folder is %r" % options.get("Folder"))
    if (options.get("WindowWidth"), options.get("WindowHeight")) != ("1150", "800"):
        fail("stored size %r x %r" % (options.get("WindowWidth"), options.get("WindowHeight")))
    print("closed; settings and the window's size saved", flush=True)


if __name__ == "__main__":
    main()
    print("PASS", flush=True)
