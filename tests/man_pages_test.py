#!/usr/bin/env python3
"""Checks the manual pages against the program.

kestrune-cli.1 and `kestrune-cli --help` must document the same commands, options and exit
statuses, and the page must say each option's line of --help in that option's paragraph (the
lines of the stored options come from the option table, so every flag of the table is held to
its page entry); every example of the page must be a command line the program accepts; both
pages must format without a warning.

Usage: man_pages_test.py KESTRUNE_CLI MAN_PAGE_FOLDER
"""

import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

CLI = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else None
PAGES = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None
OPTION = re.compile(r"(?<![\w-])(--?[a-z][a-z0-9-]*)")


def plain(roff, quotes=False):
    """The text of roff source: font changes and escapes resolved; the quotes that group a
    macro's arguments removed unless they are text (quotes=True)."""
    text = re.sub(r"\\f[BIRP]", "", roff)
    if not quotes:
        text = text.replace('"', "")
    return text.replace("\\-", "-").replace("\\(dq", '"').replace("\\e", "\\")


def sections(page):
    """{section name: [source lines]} of a man page."""
    result, current = {}, None
    for line in page.read_text().splitlines():
        if line.startswith(".SH "):
            current = line[4:].strip().strip('"')
            result[current] = []
        elif current:
            result[current].append(line)
    return result


def text_of(lines):
    """The running text of roff source lines: font macros give their words (the alternating
    ones without spaces between them), other requests nothing."""
    words = []
    for line in lines:
        if line.startswith("."):
            name, _, rest = line[1:].partition(" ")
            args = [a or b for a, b in re.findall(r'"([^"]*)"|(\S+)', rest)]
            if name in ("B", "I"):
                words.append(" ".join(args))
            elif name in ("BR", "BI", "IB", "IR", "RB", "RI"):
                words.append("".join(args))
        else:
            words.append(line)
    return " ".join(plain(" ".join(words), quotes=True).replace("\\ ", " ").split())


def paragraphs(lines):
    """{option: the running text of its .TP paragraph}; tags joined by .PD 0 share one."""
    result, named, i = {}, [], 0
    while i < len(lines):
        if not lines[i].startswith(".TP") or i + 1 >= len(lines):
            i += 1
            continue
        named += OPTION.findall(plain(re.sub(r"^\.[A-Z]+ ?", "", lines[i + 1])))
        i += 2
        body = []
        while i < len(lines) and not lines[i].startswith((".TP", ".PP", ".SH")):
            body.append(lines[i])
            i += 1
        text = text_of(body)
        if text:
            result.update((option, text) for option in named)
            named = []
    return result


def tags(lines):
    """The tag lines of the .TP paragraphs, as plain text."""
    return [plain(re.sub(r"^\.[A-Z]+ ?", "", lines[i + 1]))
            for i, line in enumerate(lines[:-1]) if line.startswith(".TP")]


class CliManPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="kestrune-man-"))
        cls.work = cls.scratch / "work"  # where the examples run
        cls.work.mkdir()
        cls.env = dict(os.environ, HOME=str(cls.scratch / "home"),
                       XDG_CONFIG_HOME=str(cls.scratch / "config"))
        help_run = subprocess.run([str(CLI), "--help"], capture_output=True, text=True,
                                  env=cls.env)
        assert help_run.returncode == 0, help_run.stderr
        cls.help = help_run.stdout
        cls.page = sections(PAGES / "kestrune-cli.1")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_options_agree(self):
        # In the help text an option is named where its line begins (or in the list of tag
        # names); in the page, in the tag of its paragraph.
        in_help = set()
        for line in self.help.splitlines():
            if re.match(r"^\s+(-|kestrune-cli )", line):
                in_help |= set(OPTION.findall(re.split(r"\s{2,}", line.strip())[0]))
        in_page = set()
        for name in ("COMMANDS", "OPTIONS"):
            for tag in tags(self.page[name]):
                in_page |= set(OPTION.findall(tag))
        self.assertIn("--to-one", in_page)
        self.assertIn("--copyright", in_help)
        self.assertEqual(sorted(in_help - in_page), [], "in --help, not in the page")
        self.assertEqual(sorted(in_page - in_help), [], "in the page, not in --help")

    def test_each_help_line_is_in_its_paragraph(self):
        # The options of convert in --help: a line names them and begins their help, which may
        # go on in lines of its own, indented as far.
        options = self.help.split("Options of convert", 1)[1].split("\n\n", 1)[0]
        entries = []
        for line in options.splitlines()[1:]:
            if re.match(r"^ {2}(-| {4}--)", line):
                names, _, help_text = line.strip().partition("  ")
                entries.append([OPTION.findall(names), help_text])
            else:
                entries[-1][1] += " " + line
        page = paragraphs(self.page["OPTIONS"])
        self.assertGreaterEqual(len(entries), 25)
        for names, help_text in entries:
            said = " ".join(help_text.split()).lower()
            for name in names:
                with self.subTest(option=name):
                    self.assertIn(name, page)
                    self.assertIn(said, page[name].lower())

    def test_commands_agree(self):
        in_help = set(re.findall(r"^  kestrune-cli (\w+)", self.help, re.M))
        synopsis = plain("\n".join(self.page["SYNOPSIS"]))
        in_page = set(re.findall(r"kestrune-cli (\w+)", synopsis))
        self.assertEqual(in_help, {"formats", "probe", "convert"})
        self.assertEqual(in_page, in_help)
        commands = {t.split()[0] for t in tags(self.page["COMMANDS"])}
        self.assertLessEqual(in_help, commands)

    def test_exit_statuses_agree(self):
        stated = re.search(r"Exit status:(.*?)\n\n|Exit status:(.*)$", self.help, re.S)
        self.assertIsNotNone(stated)
        in_help = set(re.findall(r"\b(\d+) (?:when|on)\b", stated.group(0)))
        in_page = set(tags(self.page["EXIT STATUS"]))
        self.assertEqual(in_help, {"0", "1", "2", "130", "143"})
        self.assertEqual(in_page, in_help)

    def test_examples_are_accepted(self):
        # The example files do not exist here, so a run ends with 1 (failed files) at worst;
        # 2 would mean the page shows a command line the program refuses.
        lines = self.page["EXAMPLES"]
        commands, current = [], ""
        for line in lines:
            if line.startswith("."):
                continue
            text = plain(line, quotes=True)
            if text.startswith("kestrune-cli") or current:
                current += text.rstrip("\\").strip() + " "
                if not text.endswith("\\"):
                    commands.append(current.strip())
                    current = ""
        self.assertGreaterEqual(len(commands), 5)
        options_used = set()
        for command in commands:
            with self.subTest(command=command):
                args = shlex.split(command)[1:]
                options_used |= {a for a in args if a.startswith("-")}
                run = subprocess.run([str(CLI), *args], capture_output=True, text=True,
                                     env=self.env, cwd=self.work, timeout=60)
                self.assertIn(run.returncode, (0, 1), run.stderr)
        self.assertGreaterEqual(len(options_used), 10)
        self.assertEqual(list(self.work.iterdir()), [], "an example wrote something")


class PagesFormat(unittest.TestCase):
    def test_pages_format_without_warnings(self):
        groff = shutil.which("groff")
        if not groff:
            self.skipTest("groff is not installed")
        for page in ("kestrune.1", "kestrune-cli.1"):
            with self.subTest(page=page):
                run = subprocess.run([groff, "-man", "-Tutf8", "-ww", "-z", str(PAGES / page)],
                                     capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
