#!/usr/bin/env python3
"""Runs the recipes of docs/scale-out.md on this machine.

GNU parallel runs as written, with two local job slots standing in for two hosts; the Slurm
array script and the Kubernetes Job's pod command run as their schedulers would start them,
with the variables those set, several slices at once. Over twenty generated files with
awkward names, each recipe must write every output once, byte for byte what one kestrune-cli
process writes for the whole list, and its merged report must count them; run again, it
converts nothing.

Usage: scale_out_test.py KESTRUNE_CLI DOCS_FOLDER
"""

import json
import math
import os
import pathlib
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import wave

CLI = pathlib.Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else None
DOCS = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None
FILES = 20


def recipes():
    """{name: code} of the blocks marked <!-- recipe: name --> in the guide."""
    text = (DOCS / "scale-out.md").read_text()
    found = re.findall(r"<!-- recipe: (\S+) -->\n```\w*\n(.*?)```", text, re.S)
    return dict(found)


def with_values(script, **values):
    """The script with its lines NAME=... set to the given values instead."""
    for name, value in values.items():
        script, count = re.subn(rf"^(\s*){name}=\S*",
                                lambda m: f"{m.group(1)}{name}={shlex.quote(str(value))}",
                                script, flags=re.M)
        assert count == 1, f"{name}= is set {count} times"
    return script


def write_wav(path, seed):
    """A second of a stereo chord, different for every seed."""
    rate, frames = 44100, 44100
    data = bytearray()
    for i in range(frames):
        t = i / rate
        left = 0.3 * math.sin(2 * math.pi * (220 + 7 * seed) * t)
        right = 0.3 * math.sin(2 * math.pi * (330 + 11 * seed) * t + seed)
        data += struct.pack("<hh", int(left * 32767), int(right * 32767))
    path.parent.mkdir(parents=True, exist_ok=True)
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(data))


def outputs(folder):
    """{path below folder: content} of every file there."""
    return {str(p.relative_to(folder)): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file()}


class Recipes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="kestrune-scale-"))
        cls.env = dict(os.environ, HOME=str(cls.scratch / "home"),
                       XDG_CONFIG_HOME=str(cls.scratch / "config"),
                       PATH=f"{CLI.parent}:{os.environ.get('PATH', '/usr/bin:/bin')}")
        (cls.scratch / "home").mkdir()
        cls.recipes = recipes()
        # Names that a shell or a line-based list would get wrong, and one name twice in
        # different folders, which --keep-tree keeps apart.
        names = ["disc 1/track 01.wav", "disc 2/track 01.wav", "Bände/Größe – ü.wav",
                 "odd/-starts with a dash.wav", "odd/it's $HOME & *.wav",
                 "odd/line\nbreak.wav"]
        names += [f"bulk/{i:02d}.wav" for i in range(FILES - len(names))]
        sources = [cls.scratch / "archive" / name for name in names]
        for seed, path in enumerate(sources):
            write_wav(path, seed)
        cls.list = cls.scratch / "masters.list0"
        cls.list.write_bytes(b"".join(os.fsencode(p) + b"\0" for p in sorted(sources)))
        # What one process makes of the whole list, with the options of the recipes.
        cls.reference = cls.scratch / "reference"
        run = subprocess.run(
            [str(CLI), "convert", "--files-from", str(cls.list), "--null", "--settings",
             str(cls.scratch / "none.ini"), "-f", "flac", "-o", str(cls.reference),
             "--keep-tree", "--if-exists", "skip", "-j", "1"],
            capture_output=True, env=cls.env, timeout=300)
        assert run.returncode == 0, run.stderr
        cls.expected = outputs(cls.reference)
        assert len(cls.expected) == FILES, sorted(cls.expected)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.work = pathlib.Path(tempfile.mkdtemp(dir=self.scratch, prefix="work-"))
        self.out = self.work / "out"

    def run_script(self, script, shell="bash", extra_env=None):
        return subprocess.Popen([shell, "-c", script], env=dict(self.env, **(extra_env or {})),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def wait_all(self, processes):
        for p in processes:
            out, err = p.communicate(timeout=300)
            self.assertEqual(p.returncode, 0, err.decode(errors="replace"))

    def check_outputs(self):
        made = outputs(self.out)
        # Each output once, under the name one process gives it, and nothing else.
        self.assertEqual(sorted(made), sorted(self.expected))
        for name, content in made.items():
            self.assertTrue(content == self.expected[name], f"{name!r} differs")

    def merged_report(self):
        script = with_values(self.recipes["report"], WORK=self.work)
        self.wait_all([self.run_script(script)])
        return json.loads((self.work / "report.json").read_text())

    def left_to_do(self):
        """What the guide's dry run prints: the sources still to convert."""
        run = subprocess.run(["bash", "-c", self.recipes["left"]], capture_output=True,
                             env=dict(self.env, LIST=str(self.list), WORK=str(self.work),
                                      OUT=str(self.out)), timeout=300)
        self.assertEqual(run.returncode, 0, run.stderr)
        return run.stdout

    def stamps(self):
        return {p: (p.stat().st_ino, p.stat().st_mtime_ns) for p in self.out.rglob("*")}

    def test_gnu_parallel_over_two_slots(self):
        if not shutil.which("parallel"):
            self.skipTest("GNU parallel is not installed (Debian package parallel)")
        script = with_values(self.recipes["parallel"], LIST=self.list, WORK=self.work,
                             OUT=self.out, HOSTS="2/:", SHARDS=4)
        # Before, everything is left to do (jq prints each name on a line); after, nothing.
        listed = self.list.read_bytes().split(b"\0")[:-1]
        self.assertEqual(self.left_to_do(), b"".join(name + b"\n" for name in listed))
        self.wait_all([self.run_script(script)])
        self.assertEqual(self.left_to_do(), b"")
        self.assertEqual(len(list((self.work / "shards").iterdir())), 4)
        self.check_outputs()
        report = self.merged_report()
        self.assertEqual(report, {"files": FILES, "converted": FILES, "failures": []})

        # Again: every output is there, so nothing is converted and nothing changes.
        before = self.stamps()
        self.wait_all([self.run_script(script)])
        self.assertEqual(self.stamps(), before)
        self.assertEqual(self.merged_report(), {"files": FILES, "skipped": FILES,
                                                "failures": []})

    def test_slurm_array_tasks(self):
        script = self.recipes["slurm"]
        # The array's size and the slices the script cuts agree.
        first, last = map(int, re.search(r"#SBATCH --array=(\d+)-(\d+)", script).groups())
        self.assertEqual(str(last - first + 1), re.search(r"^SLICES=(\d+)", script, re.M)[1])
        script = with_values(script, SLICES=3, LIST=self.list, WORK=self.work, OUT=self.out)
        tasks = [self.run_script(script, extra_env={
            "SLURM_ARRAY_JOB_ID": "4242", "SLURM_ARRAY_TASK_ID": str(task),
            "SLURM_ARRAY_TASK_COUNT": "3", "SLURM_CPUS_PER_TASK": "1"}) for task in range(3)]
        self.wait_all(tasks)
        self.check_outputs()
        self.assertEqual(len(list((self.work / "reports").glob("slice-*.jsonl"))), 3)
        self.assertEqual(self.merged_report()["converted"], FILES)

    def test_kubernetes_indexed_job_pods(self):
        try:
            import yaml
        except ImportError:
            self.skipTest("PyYAML is not installed (Debian package python3-yaml)")
        job = yaml.safe_load(self.recipes["kubernetes"])
        job_body = job["spec"]
        self.assertEqual(job_body["completionMode"], "Indexed")
        pod = job_body["template"]["spec"]
        self.assertEqual(pod["restartPolicy"], "Never")
        container = pod["containers"][0]
        env = {e["name"]: e["value"] for e in container["env"]}
        self.assertEqual(env["SLICES"], str(job_body["completions"]))
        mounts = [m["mountPath"] for m in container["volumeMounts"]]
        for name in ("LIST", "WORK", "OUT"):
            self.assertTrue(any(env[name].startswith(m + "/") for m in mounts), name)
        # Each pod as the Job starts it: its command, its environment, its completion index;
        # the shared volume is the test's folder.
        env.update(SLICES="3", JOBS="1", LIST=str(self.list), WORK=str(self.work),
                   OUT=str(self.out))
        command = container["command"] + container["args"]
        pods = [subprocess.Popen(command, env=dict(self.env, **env, JOB_COMPLETION_INDEX=str(i)),
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                for i in range(3)]
        self.wait_all(pods)
        self.check_outputs()
        self.assertEqual(len(list((self.work / "reports").glob("index-*.jsonl"))), 3)
        self.assertEqual(self.merged_report()["converted"], FILES)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
