#!/usr/bin/env python3
"""Prints an MD5 digest of every output kestrune-cli makes of a small deterministic corpus.

Runs every output format with every codec it offers, and the option paths (mono folding,
normalising, volume, skip and length, resampling, channels, custom tags, the merge, -j 2),
each into a folder of its own, and prints one line per output: case, file name, MD5. Two
builds that must write the same bytes give the same text:

    bench/output_digest.py --cli old/kestrune-cli > before.txt
    bench/output_digest.py --cli build/bin/kestrune-cli > after.txt
    diff before.txt after.txt
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
from run_bench import make_corpus  # noqa: E402


def digest(path):
    # Matroska and Ogg give every file a random serial: its packets are what must not change.
    if path.endswith((".mka", ".ogg", ".opus")):
        packets = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map",
                                  "0:a", "-c", "copy", "-f", "md5", "-"], capture_output=True,
                                 text=True, check=True).stdout.strip()
        tags = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                               "format_tags:stream_tags:stream=extradata_size", "-of",
                               "compact", path], capture_output=True, check=True).stdout
        return packets + " " + hashlib.md5(tags).hexdigest()
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "kestrune-cli"))
    parser.add_argument("--work", default=os.path.join(ROOT, "bench", "out"))
    parser.add_argument("--seconds", type=int, default=3)
    args = parser.parse_args()

    corpus = os.path.join(args.work, "digest-corpus-%ds" % args.seconds)
    stereo, wavs, mp3s = make_corpus(corpus, 2, args.seconds)
    # Sources of other kinds, made once from the first piece.
    extra = []
    for ext, codec in (("flac", ["-c:a", "flac"]), ("ogg", ["-c:a", "libvorbis"]),
                       ("aiff", ["-c:a", "pcm_s16be"]), ("au", ["-c:a", "pcm_s16be"]),
                       ("m4a", ["-c:a", "aac"])):
        path = os.path.join(corpus, "other.%s" % ext)
        if not os.path.exists(path):
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", stereo[0],
                            "-metadata", "title=Digest", "-metadata", "artist=Kestrune",
                            "-metadata", "track=3"] + codec + [path], check=True)
        extra.append(path)
    sources = sorted(wavs) + mp3s[:1] + extra

    formats = []
    listing = subprocess.run([args.cli, "formats"], check=True, capture_output=True,
                             text=True).stdout
    for line in listing.splitlines():
        fid, _ext, _label, codecs = line.split("\t")
        ids = [c.split(" ")[0] for c in codecs.split("; ")] if codecs != "-" else [None]
        formats.append((fid, ids))

    work = tempfile.mkdtemp(prefix="kestrune-digest-")
    settings = os.path.join(work, "settings.ini")
    with open(settings, "w") as f:
        f.write("[Options]\nFirstRun=0\nBrowseOutputFolder=0\n")
    env = dict(os.environ, HOME=os.path.join(work, "home"),
               XDG_CONFIG_HOME=os.path.join(work, "config"))

    def case(name, options, files):
        out = os.path.join(work, "out", name)
        os.makedirs(out)
        cmd = [args.cli, "convert", "--settings", settings, "-o", out, "--if-exists",
               "overwrite", "--no", "-j", "1"] + options + files
        done = subprocess.run(cmd, capture_output=True, text=True, env=env)
        for name_ in sorted(os.listdir(out)):
            print("%s\t%s\t%s" % (name, name_, digest(os.path.join(out, name_))))
        if done.returncode not in (0, 1):
            print("%s\texit %d" % (name, done.returncode))

    try:
        first = sources[:1]
        for fid, codecs in formats:
            for codec in codecs:
                opts = ["-f", fid] + (["--codec", codec] if codec else [])
                case("f%s-%s" % (fid, codec or "default"), opts, first)
        # Every kind of source to three formats.
        for fid in ("1000", "3200", "2000"):
            case("sources-%s" % fid, ["-f", fid, "--tags", "source"], sources)
        paths = [
            ("mono-avg", ["--mono", "avg", "--channels", "1"]),
            ("mono-left", ["--mono", "left", "--channels", "1"]),
            ("mono-right", ["--mono", "right", "--channels", "1"]),
            ("normalize", ["--normalize"]),
            ("volume-50", ["--volume", "50"]),
            ("volume-250", ["--volume", "250"]),
            ("skip-length", ["--skip", "700", "--length", "1200"]),
            ("rate-22050", ["--rate", "22050"]),
            ("rate-96000", ["--rate", "96000"]),
            ("bitrate-64k", ["--bitrate", "64000"]),
            ("custom-tags", ["--tags", "custom", "--title", "T", "--artist", "A", "--album",
                             "B", "--year", "2001", "--genre", "Rock", "--comment", "C",
                             "--composer", "D", "--copyright", "E", "--track", "auto"]),
        ]
        for fid in ("1000", "2000", "4000", "6500"):
            for name, opts in paths:
                case("%s-%s" % (name, fid), ["-f", fid] + opts, sorted(wavs))
        for fid, ext in (("1000", "mp3"), ("2000", "wav"), ("3200", "flac")):
            out = os.path.join(work, "merge-%s" % fid)
            os.makedirs(out)
            target = os.path.join(out, "joined.%s" % ext)
            subprocess.run([args.cli, "convert", "--settings", settings, "--no", "-f", fid,
                            "--to-one", target] + sorted(wavs), capture_output=True, env=env)
            if os.path.exists(target):
                print("merge-%s\tjoined.%s\t%s" % (fid, ext, digest(target)))
        case("jobs-2", ["-f", "1000", "-j", "2"], sources)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
