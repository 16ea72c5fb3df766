#!/usr/bin/env python3
"""Builds the Debian package with CPack and checks what it holds and what it depends on.

The package must hold the programs and their private folder, the two links on the PATH, the
menu entry, the icon, the metainfo and the manual pages, and nothing else; Depends must name
the package of every shared library its programs and plug-ins link (as dpkg-shlibdeps computes
it) and the sound font; the menu entry and the metainfo must pass their validators.

Usage: package_test.py BUILD_DIR SOURCE_DIR SOUND_FONT
"""

import configparser
import gzip
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

BUILD = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else None
SOURCE = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None
FONT = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/sounds/sf2/TimGM6mb.sf2"
APP_ID = "org.kestrune.Kestrune"
PROGRAM_DIR = "usr/lib/kestrune"
FONT_PACKAGE = "timgm6mb-soundfont"


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, **kw)


def owning_packages(paths):
    """The installed package that holds each library, whichever of the merged /lib and
    /usr/lib names dpkg knows it by."""
    names = {}
    for path in paths:
        for p in {path, os.path.realpath(path)}:
            names[p] = path
            names[p[len("/usr"):] if p.startswith("/usr/") else "/usr" + p] = path
    found = run("dpkg-query", "-S", *sorted(names)).stdout
    owners = {}
    for line in found.splitlines():
        packages, file_name = line.split(": ", 1)
        if file_name in names:
            owners[names[file_name]] = packages.split(",")[0].split(":")[0].strip()
    return owners


class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="kestrune-package-"))
        made = run(os.environ.get("KESTRUNE_CPACK", "cpack"), "-G", "DEB", "-B", str(cls.scratch / "out"), "--config",
                   str(BUILD / "CPackConfig.cmake"))
        if made.returncode != 0:
            raise RuntimeError("cpack failed:\n" + made.stdout + made.stderr)
        debs = list((cls.scratch / "out").glob("kestrune_*.deb"))
        if len(debs) != 1:
            raise RuntimeError(f"cpack made {debs}")
        cls.deb = debs[0]
        cls.tree = cls.scratch / "tree"
        subprocess.run(["dpkg-deb", "-x", str(cls.deb), str(cls.tree)], check=True)
        fields = run("dpkg-deb", "-f", str(cls.deb), "Package", "Version", "Architecture",
                     "Depends")
        cls.control = dict(re.findall(r"^(\S+): (.*)$", fields.stdout, re.M))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def elf_files(self):
        for path in sorted((self.tree / PROGRAM_DIR).iterdir()):
            if path.is_file() and not path.is_symlink() and path.read_bytes()[:4] == b"\x7fELF":
                yield path

    def test_name_version_and_file_name(self):
        arch = run("dpkg", "--print-architecture").stdout.strip()
        self.assertEqual(self.control.get("Package"), "kestrune")
        self.assertEqual(self.control.get("Version"), "4.0")
        self.assertEqual(self.control.get("Architecture"), arch)
        self.assertEqual(self.deb.name, f"kestrune_4.0_{arch}.deb")

    def test_file_list(self):
        listing = run("dpkg-deb", "-c", str(self.deb)).stdout.splitlines()
        files = {}
        for line in listing:
            parts = line.split(None, 5)
            mode, name = parts[0], parts[5]
            if mode.startswith("d"):
                continue
            name = name[2:] if name.startswith("./") else name
            if mode.startswith("l"):
                name, target = name.split(" -> ")
                files[name] = "-> " + target
            else:
                files[name] = mode
        expected = {
            "usr/bin/kestrune": "-> ../lib/kestrune/kestrune",
            "usr/bin/kestrune-cli": "-> ../lib/kestrune/kestrune-cli",
            f"{PROGRAM_DIR}/kestrune": "-rwxr-xr-x",
            f"{PROGRAM_DIR}/kestrune-cli": "-rwxr-xr-x",
            # relative within /usr, as Debian wants links
            f"{PROGRAM_DIR}/ct4mgm.sf2": "-> " + (os.path.relpath(FONT, "/" + PROGRAM_DIR)
                                                  if FONT.startswith("/usr/") else FONT),
            f"usr/share/applications/{APP_ID}.desktop": "-rw-r--r--",
            f"usr/share/metainfo/{APP_ID}.metainfo.xml": "-rw-r--r--",
            f"usr/share/icons/hicolor/scalable/apps/{APP_ID}.svg": "-rw-r--r--",
            "usr/share/man/man1/kestrune.1.gz": "-rw-r--r--",
            "usr/share/man/man1/kestrune-cli.1.gz": "-rw-r--r--",
            "usr/share/doc/kestrune/scale-out.md": "-rw-r--r--",
        }
        for lib in (BUILD / "bin").glob("lib*.so"):
            expected[f"{PROGRAM_DIR}/{lib.name}"] = "-rw-r--r--"
        for page in (SOURCE / "app/manual").iterdir():
            expected[f"{PROGRAM_DIR}/manual/{page.name}"] = "-rw-r--r--"
        for png in (SOURCE / "app/icons").glob("kestrune-*.png"):
            size = png.stem.split("-")[1]
            expected[f"usr/share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png"] = "-rw-r--r--"
        self.assertEqual(files, expected)

    def test_depends_names_every_linked_library_and_the_sound_font(self):
        depends = [d.strip() for d in self.control.get("Depends", "").split(",") if d.strip()]
        names = [re.split(r"[\s(]", d, 1)[0] for d in depends]
        self.assertIn(FONT_PACKAGE, names)
        self.assertEqual(len(names), len(set(names)), depends)
        # What dpkg-shlibdeps adds carries the minimal version the symbols need.
        for d in depends:
            if not d.startswith(FONT_PACKAGE):
                self.assertRegex(d, r"^\S+ \(>= [^)]+\)$")
        private = {p.name for p in (self.tree / PROGRAM_DIR).glob("lib*.so")}
        needed = {}  # soname -> path the loader finds it at
        for path in self.elf_files():
            dynamic = run("readelf", "-d", str(path)).stdout
            found = {}
            for line in run("ldd", str(path)).stdout.splitlines():
                m = re.match(r"^\s+(\S+) => (/\S+) \(", line) or \
                    re.match(r"^\s+(/\S+/(\S+)) \(", line)
                if m and "=>" in line:
                    found[m.group(1)] = m.group(2)
                elif m:
                    found[m.group(2)] = m.group(1)
            for soname in re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic):
                needed[soname] = found.get(soname)
        self.assertTrue({"libkestrune_engine.so", "libwavpack.so.1",
                         "libcdio_paranoia.so.2"} <= needed.keys(), needed)
        system = {so: path for so, path in needed.items() if so not in private}
        self.assertEqual([so for so, path in system.items() if path is None], [])
        owners = owning_packages(system.values())
        # A library package may hold its file through a sibling of the same source package
        # that it depends on (libtag1v5 and libtag1v5-vanilla).
        info = {}
        query = run("dpkg-query", "-W", "-f=${Package}\t${source:Package}\t${Depends}\n",
                    *sorted(set(names) | set(owners.values()))).stdout
        for line in query.splitlines():
            package, source, deps = (line.split("\t") + ["", ""])[:3]
            info[package] = (source, {re.split(r"[\s(:]", d.strip(), 1)[0]
                                      for d in re.split(r"[,|]", deps)})
        reached = set(names)
        for name in names:
            source, deps = info.get(name, ("", set()))
            reached |= {d for d in deps if d in info and info[d][0] == source}
        for soname, path in sorted(system.items()):
            with self.subTest(library=soname):
                self.assertIn(path, owners)
                self.assertIn(owners[path], reached, f"{soname} is not in Depends")

    def test_programs_and_libraries_are_stripped(self):
        elf = list(self.elf_files())
        self.assertGreater(len(elf), 10)
        for path in elf:
            sections = run("readelf", "-S", "-W", str(path)).stdout
            self.assertNotIn(".debug_info", sections, path.name)

    def test_menu_entry_and_metainfo_pass_their_validators(self):
        desktop = self.tree / f"usr/share/applications/{APP_ID}.desktop"
        checked = run("desktop-file-validate", str(desktop))
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertEqual(checked.stdout + checked.stderr, "")
        metainfo = self.tree / f"usr/share/metainfo/{APP_ID}.metainfo.xml"
        checked = run("appstreamcli", "validate", "--no-net", "--no-color", str(metainfo))
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_menu_entry_metainfo_icon_and_program_agree(self):
        entry = configparser.ConfigParser(interpolation=None)
        entry.optionxform = str
        entry.read(self.tree / f"usr/share/applications/{APP_ID}.desktop")
        e = entry["Desktop Entry"]
        self.assertEqual(e["GenericName"], "Audio Converter")
        self.assertEqual(e["Categories"], "AudioVideo;Audio;")
        self.assertTrue((self.tree / "usr/bin" / e["Exec"].split()[0]).is_symlink())
        icon = e["Icon"]
        self.assertTrue((self.tree / f"usr/share/icons/hicolor/scalable/apps/{icon}.svg").is_file())
        pngs = list((self.tree / "usr/share/icons/hicolor").glob(f"*/apps/{icon}.png"))
        self.assertGreaterEqual(len(pngs), 6)
        for png in pngs:
            width, height = struct.unpack(">II", png.read_bytes()[16:24])
            self.assertEqual(png.parent.parent.name, f"{width}x{height}")
        # The window tells the desktop which entry it belongs to.
        application = (SOURCE / "app/application.cpp").read_text()
        self.assertIn(f'setDesktopFileName(QStringLiteral("{APP_ID}"))', application)

        root = ET.parse(self.tree / f"usr/share/metainfo/{APP_ID}.metainfo.xml").getroot()
        self.assertEqual(root.findtext("id"), APP_ID)
        self.assertEqual(root.findtext("launchable"), f"{APP_ID}.desktop")
        self.assertEqual(root.findtext("icon"), icon)
        self.assertEqual(root.find("releases/release").get("version"), self.control["Version"])
        self.assertIsNotNone(root.find("content_rating"))
        for image in root.iter("image"):
            shot = SOURCE / "docs" / image.text.rsplit("/", 1)[1]
            self.assertTrue(shot.is_file(), f"{shot} is not in the repository")
            width, height = struct.unpack(">II", shot.read_bytes()[16:24])
            self.assertEqual((str(width), str(height)), (image.get("width"), image.get("height")))

    def test_manual_pages_are_the_sources_compressed(self):
        for page in ("kestrune.1", "kestrune-cli.1"):
            packed = self.tree / "usr/share/man/man1" / (page + ".gz")
            self.assertEqual(gzip.decompress(packed.read_bytes()),
                             (SOURCE / "dist" / page).read_bytes())


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
