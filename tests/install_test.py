#!/usr/bin/env python3
"""Installs Kestrune into a temporary DESTDIR and runs it from there.

The installed programs must find everything they load in their private program folder
(<prefix>/lib/kestrune), reached through the links in <prefix>/bin: the layers, the decoding
layer's plug-ins, the Windows Media and AMR layers, the sound font link. The dynamic loader's
own report (LD_DEBUG) says where each object came from; nothing may come from the build tree.

Usage: install_test.py BUILD_DIR MANUAL_DIR SOUND_FONT
"""

import math
import os
import pathlib
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

BUILD = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else None
MANUAL = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None
FONT = pathlib.Path(sys.argv[3]) if len(sys.argv) > 3 else None
PREFIX = "/usr"
PROGRAM_DIR = "lib/kestrune"
PLUG_INS = ["libbassflac.so", "libbasswv.so", "libbass_aac.so", "libbass_alac.so",
            "libbass_adx.so", "libbasscd.so"]


def write_tone(path, seconds=1.0, rate=44100):
    frames = int(seconds * rate)
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(
            struct.pack("<hh", int(9000 * math.sin(2 * math.pi * 440 * i / rate)),
                        int(9000 * math.sin(2 * math.pi * 660 * i / rate)))
            for i in range(frames)))


def write_midi(path):
    """A one-track tune of three half-second notes (120 bpm, 480 ticks a beat)."""
    events = b""
    for note in (60, 64, 67):
        events += bytes([0x00, 0x90, note, 100]) + bytes([0x83, 0x60, 0x80, note, 0])
    events += bytes([0x00, 0xFF, 0x2F, 0x00])
    path.write_bytes(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" +
                     struct.pack(">I", len(events)) + events)


def loaded_objects(log_dir):
    """Every object the loader initialised or dlopened, and every file it tried, by path."""
    loaded, tried = set(), set()
    for log in log_dir.iterdir():
        for line in log.read_text(errors="replace").splitlines():
            text = line.split(":", 1)[-1].strip()
            if text.startswith("calling init: "):
                loaded.add(text[len("calling init: "):].strip())
            elif text.startswith("file=") and "dynamically loaded by" in text:
                loaded.add(text[len("file="):].split(" [", 1)[0])
            elif text.startswith("trying file="):
                tried.add(text[len("trying file="):].strip())
    return loaded, tried


class InstalledProgram(unittest.TestCase):
    longMessage = False  # the loaded sets are long; the messages say what matters
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="kestrune-install-"))
        cls.root = cls.scratch / "root"
        cls.env = {k: v for k, v in os.environ.items()
                   if not k.startswith("LD_") and k != "QT_PLUGIN_PATH"}
        for name in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"):
            folder = cls.scratch / name.lower()
            folder.mkdir(mode=0o700)
            cls.env[name] = str(folder)
        install = subprocess.run(
            [os.environ.get("KESTRUNE_CMAKE", "cmake"), "--install", str(BUILD), "--prefix", PREFIX],
            env=dict(cls.env, DESTDIR=str(cls.root)), capture_output=True, text=True)
        if install.returncode != 0:
            raise RuntimeError("cmake --install failed:\n" + install.stdout + install.stderr)
        cls.bin = cls.root / PREFIX.lstrip("/") / "bin"
        cls.folder = cls.root / PREFIX.lstrip("/") / PROGRAM_DIR
        # The sound font package, installed into the same root as the package depends on it.
        font_in_root = cls.root / str(FONT).lstrip("/")
        font_in_root.parent.mkdir(parents=True, exist_ok=True)
        font_in_root.symlink_to(FONT)
        cls.settings = cls.scratch / "settings.ini"
        cls.runs = 0

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_installed(self, program, *args, timeout=120):
        """Runs an installed command through its link in bin/; returns (result, loaded, tried)."""
        InstalledProgram.runs += 1
        log_dir = self.scratch / f"ld-{self.runs}"
        log_dir.mkdir()
        env = dict(self.env, LD_DEBUG="libs,files", LD_DEBUG_OUTPUT=str(log_dir / "ld"))
        result = subprocess.run([str(self.bin / program), *args], env=env, cwd=self.scratch,
                                capture_output=True, text=True, timeout=timeout)
        loaded, tried = loaded_objects(log_dir)
        return result, loaded, tried

    def assert_private(self, loaded, tried, names):
        for name in names:
            self.assertIn(str(self.folder / name), loaded,
                          f"{name} was not loaded from the program folder")
        for path in loaded | tried:
            self.assertFalse(path.startswith(str(BUILD)), f"{path} comes from the build tree")
        ours = [p for p in loaded if pathlib.Path(p).name.startswith(
            ("libkestrune", "libbass", "libamr", "libwmvcore"))]
        for path in ours:
            self.assertEqual(pathlib.Path(path).parent, self.folder, path)

    def test_only_the_two_commands_are_on_the_path(self):
        self.assertEqual(sorted(p.name for p in self.bin.iterdir()), ["kestrune", "kestrune-cli"])
        for name in ("kestrune", "kestrune-cli"):
            link = self.bin / name
            self.assertTrue(link.is_symlink(), name)
            self.assertEqual(os.readlink(link), f"../{PROGRAM_DIR}/{name}")
            self.assertTrue(os.access(link.resolve(), os.X_OK), name)

    def test_the_program_folder_holds_what_the_build_puts_beside_the_programs(self):
        built = {p.name for p in (BUILD / "bin").glob("lib*.so")}
        installed = {p.name for p in self.folder.glob("lib*.so")}
        self.assertTrue(built, "the build has no libraries beside the programs")
        self.assertEqual(installed, built)
        self.assertEqual({p.name for p in (self.folder / "manual").iterdir()},
                         {p.name for p in MANUAL.iterdir()})
        font_link = self.folder / "ct4mgm.sf2"
        self.assertTrue(font_link.is_symlink())
        target = os.readlink(font_link)
        if os.path.isabs(target):
            self.assertEqual(target, str(FONT))
        else:  # a link within the prefix is relative, as Debian wants it
            self.assertEqual(os.path.normpath(self.folder / target),
                             str(self.root / str(FONT).lstrip("/")))
        for path in [self.folder / "kestrune", self.folder / "kestrune-cli",
                     *self.folder.glob("lib*.so")]:
            dynamic = subprocess.run(["readelf", "-d", str(path)], capture_output=True,
                                     text=True, check=True).stdout
            paths = [line.split("[", 1)[1].rstrip("]") for line in dynamic.splitlines()
                     if "(RUNPATH)" in line or "(RPATH)" in line]
            self.assertEqual(paths, ["$ORIGIN"], path.name)

    def test_formats_and_conversions_run_from_the_program_folder(self):
        formats, loaded, tried = self.run_installed("kestrune-cli", "formats")
        self.assertEqual(formats.returncode, 0, formats.stderr)
        built = subprocess.run([str(BUILD / "bin" / "kestrune-cli"), "formats"], env=self.env,
                               capture_output=True, text=True)
        self.assertEqual(formats.stdout, built.stdout)
        ids = [line.split("\t")[0] for line in formats.stdout.splitlines()]
        self.assertTrue(ids)
        self.assertEqual(len(ids), len(set(ids)))
        self.assert_private(loaded, tried, ["libkestrune_engine.so", "libkestrune_readers.so",
                                            "libkestrune_writers.so", "libkestrune_audio.so",
                                            "libkestrune_bass.so", "libamrnb.so", "libamrwb.so"])

        write_tone(self.scratch / "tone.wav")
        write_midi(self.scratch / "tune.mid")
        # Each step reads the previous step's output: FLAC through the decoding layer's
        # plug-in, WMA through the Windows Media layer; MIDI needs the sound font link.
        steps = [("flac", "tone.wav", "tone.flac", PLUG_INS),
                 ("wma", "out-flac/tone.flac", "tone.wma", PLUG_INS + ["libwmvcore.so"]),
                 ("amr", "out-wma/tone.wma", "tone.amr", ["libwmvcore.so", "libamrnb.so"]),
                 ("wav", "tune.mid", "tune.wav", ["libkestrune_bass.so"])]
        for format_id, source, output, expected in steps:
            with self.subTest(format=format_id):
                out_dir = self.scratch / f"out-{format_id}"
                result, loaded, tried = self.run_installed(
                    "kestrune-cli", "convert", "--settings", str(self.settings), "--no",
                    "-f", format_id, "-o", str(out_dir), "--if-exists", "overwrite",
                    str(self.scratch / source))
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertEqual(result.stdout.split("\t")[0].strip(), str(out_dir / output),
                                 result.stdout)
                self.assertGreater((out_dir / output).stat().st_size, 100)
                self.assert_private(loaded, tried, expected)

        probe, _, _ = self.run_installed(
            "kestrune-cli", "probe", str(self.scratch / "out-flac/tone.flac"),
            str(self.scratch / "out-wav/tune.wav"))
        self.assertEqual(probe.returncode, 0, probe.stderr)
        rows = [line.split("\t") for line in probe.stdout.splitlines()[1:]]
        self.assertEqual([r[0] for r in rows], ["tone.flac", "tune.wav"])
        self.assertEqual(rows[0][1], "00:01")
        self.assertIn(rows[1][1], ("00:01", "00:02"))  # three notes and their release
        self.assertFalse(self.settings.exists(), "convert wrote the settings file")

    def test_the_window_starts_from_the_program_folder(self):
        InstalledProgram.runs += 1
        log_dir = self.scratch / f"ld-{self.runs}"
        log_dir.mkdir()
        env = dict(self.env, QT_QPA_PLATFORM="offscreen", LD_DEBUG="libs,files",
                   LD_DEBUG_OUTPUT=str(log_dir / "ld"))
        window = subprocess.Popen([str(self.bin / "kestrune")], env=env, cwd=self.scratch,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            # The plug-ins load before the window shows; give it a moment more to get there.
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and window.poll() is None:
                if all(str(self.folder / name) in loaded_objects(log_dir)[0]
                       for name in PLUG_INS):
                    break
                time.sleep(0.2)
            time.sleep(1.0)
            self.assertIsNone(window.poll(), "the window ended on its own")
            window.send_signal(signal.SIGTERM)
            output, _ = window.communicate(timeout=60)
        finally:
            if window.poll() is None:
                window.kill()
                window.communicate()
        self.assertEqual(window.returncode, 0, output)
        loaded, tried = loaded_objects(log_dir)
        self.assert_private(loaded, tried, ["libkestrune_engine.so", "libamrnb.so"] + PLUG_INS)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
