#!/usr/bin/env python3
"""Compares kestrune-cli with the ffmpeg command line and the codecs' own tools on the same work.

Makes a deterministic corpus of music-like signals, runs every case several times in
alternation, and prints wall and CPU seconds (medians), audio seconds per wall second and the
ratios Kestrune/ffmpeg and Kestrune/tool. Exits non-zero only when a conversion fails.
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kw):
    """Runs one command; returns (wall, cpu) seconds of it and its children."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.stderr.write("failed: %s\n%s\n" % (" ".join(cmd), done.stderr.decode(errors="replace")))
        raise SystemExit(1)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def make_corpus(folder, count, seconds):
    """Twenty stereo 44.1 kHz pieces, a few mono 48 and 22.05 kHz ones, MP3 and FLAC copies."""
    os.makedirs(folder, exist_ok=True)
    wavs = []
    shapes = [(44100, 2)] * count + [(48000, 1), (48000, 1), (22050, 1), (22050, 1)]
    for i, (rate, channels) in enumerate(shapes):
        path = os.path.join(folder, "piece%02d.wav" % i)
        wavs.append(path)
        if os.path.exists(path):
            continue
        base = 110 * (1 + i % 5)
        # chords with a slow tremolo, a plucked-like decay every half second, a little noise
        expr = ("0.25*sin(2*PI*%d*t)*(0.6+0.4*sin(2*PI*0.5*t))"
                "+0.15*sin(2*PI*%d*t)*exp(-4*mod(t\\,0.5))"
                "+0.1*sin(2*PI*%d*t+sin(2*PI*3*t))" % (base, base * 3 // 2, base * 2))
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y",
                        "-f", "lavfi", "-i", "aevalsrc=%s:s=%d:d=%d" % (expr, rate, seconds),
                        "-f", "lavfi", "-i", "anoisesrc=c=pink:a=0.02:r=%d:d=%d:seed=%d" % (rate, seconds, i + 1),
                        "-filter_complex", "amix=inputs=2:normalize=0,aformat=channel_layouts=%s"
                        % ("stereo" if channels == 2 else "mono"),
                        "-c:a", "pcm_s16le", path], check=True)
    stereo = wavs[:count]
    mp3s = []
    for w in stereo:
        m = w[:-4] + ".mp3"
        if not os.path.exists(m):
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", w, "-c:a", "libmp3lame",
                            "-b:a", "192k", m], check=True)
        mp3s.append(m)
    return stereo, wavs, mp3s


def make_short_files(folder, count):
    """count half-second files, WAV and MP3 in turn, cut from one signal by ffmpeg's segmenter."""
    if os.path.isdir(folder) and len(os.listdir(folder)) >= count:
        return folder
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    half = count // 2
    for ext, codec in (("wav", ["-c:a", "pcm_s16le"]), ("mp3", ["-c:a", "libmp3lame", "-b:a", "128k"])):
        subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=44100:duration=%g" % (half * 0.5 - 0.05),
                        "-ac", "2"] + codec + ["-f", "segment", "-segment_time", "0.5",
                        os.path.join(folder, "short-%s-%%04d.%s" % (ext, ext))], check=True)
    return folder


def make_tagged_source(folder, wav):
    """A FLAC of wav with a 500 KB front cover and the fields a tagger writes (MusicBrainz ids,
    album artist, disc and track totals, a full date)."""
    path = os.path.join(folder, "tagged-500k-cover.flac")
    if os.path.exists(path):
        return path
    cover = os.path.join(folder, "cover-500k.jpg")
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                    "color=c=gray:size=760x760,noise=alls=60:allf=t:all_seed=1", "-frames:v", "1",
                    "-q:v", "2", cover], check=True)
    fields = {"TITLE": "Song", "ARTIST": "Artist", "ALBUM": "Album", "ALBUMARTIST": "Band",
              "DATE": "2005-03-14", "TRACKNUMBER": "29", "TRACKTOTAL": "35", "DISCNUMBER": "1",
              "DISCTOTAL": "2", "GENRE": "Rock", "ISRC": "USXXX0500001", "LABEL": "Label",
              "MUSICBRAINZ_TRACKID": "0f1e2d3c-aaaa-4bbb-8ccc-123456789abc",
              "MUSICBRAINZ_ALBUMID": "1f1e2d3c-aaaa-4bbb-8ccc-123456789abc",
              "MUSICBRAINZ_ARTISTID": "2f1e2d3c-aaaa-4bbb-8ccc-123456789abc"}
    metadata = []
    for key, value in fields.items():
        metadata += ["-metadata", "%s=%s" % (key, value)]
    subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", wav, "-i", cover, "-map", "0",
                    "-map", "1", "-c:a", "flac", "-c:v", "copy", "-disposition:v", "attached_pic",
                    "-metadata:s:v", "comment=Cover (front)"] + metadata + [path], check=True)
    return path


def run_timed(cmd, pauses=None):
    """Runs the window's benchmark program; returns (seconds of its timed step, wall seconds).
    The longest stretch in which the window's thread did not answer goes into pauses when
    given."""
    start = time.perf_counter()
    done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.stderr.write("failed: %s\n%s\n" % (" ".join(cmd[:4]), done.stderr))
        raise SystemExit(1)
    for line in done.stderr.splitlines():
        if line.startswith("longest pause") and pauses is not None:
            pauses.append(float(line.split(":")[1].split()[0]))
    return float(done.stdout.split()[0]), wall


def window_settings(path, output, extensions=""):
    """A store for the window that converts as the command line does in kestrune() below; with
    extensions, a folder gives only its files of those extensions."""
    with open(path, "w") as f:
        f.write("[Options]\nFirstRun=0\nDestOutputFolderOpt=399\nDestSpecifiedFolder=%s\n"
                "TargetExistsOpt=22\nID3TagType=0\nBrowseOutputFolder=0\nVolumeType=2\n" % output)
        if extensions:
            f.write("EnableExtFilter=1\nFilterExts=%s\n" % extensions)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--files", type=int, default=20, help="stereo pieces (default 20)")
    parser.add_argument("--seconds", type=int, default=60, help="length of each piece")
    parser.add_argument("--runs", type=int, default=3, help="runs of each command")
    parser.add_argument("--work", default=os.path.join(ROOT, "bench", "out"))
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "bin", "kestrune-cli"))
    parser.add_argument("--only", default="", help="comma-separated case names")
    parser.add_argument("--window", default=os.path.join(ROOT, "build", "bin", "kestrune-window-bench"))
    parser.add_argument("--short-files", type=int, default=1000,
                        help="files added to the window's list in window-add (default 1000)")
    args = parser.parse_args()

    corpus = os.path.join(args.work, "corpus-%dx%ds" % (args.files, args.seconds))
    stereo, allwavs, mp3s = make_corpus(corpus, args.files, args.seconds)
    audio_seconds = args.seconds * len(stereo)
    # The same pieces as 24-bit 96 kHz FLAC: the wide path, to FLAC (kept whole) and to MP3.
    hires = []
    for w in stereo:
        h = w[:-4] + "-24bit-96k.flac"
        hires.append(h)
        if not os.path.exists(h):
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", w, "-af",
                            "aresample=resampler=soxr:osf=s32", "-ar", "96000", "-c:a", "flac",
                            "-sample_fmt", "s32", "-bits_per_raw_sample", "24", h], check=True)
    settings = os.path.join(args.work, "settings.ini")
    cores = os.cpu_count() or 1
    out = os.path.join(args.work, "outputs")

    def fresh(name):
        path = os.path.join(out, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def kestrune(fmt, extra, sources, jobs=1):
        def go():
            d = fresh("k")
            return [args.cli, "convert", "--settings", settings, "-f", fmt, "-o", d,
                    "--tags", "none", "--if-exists", "overwrite", "-j", str(jobs)] + extra + sources
        return go

    def ffmpeg(codec_args, ext, sources):
        def go():
            d = fresh("f")
            return [["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", s] + codec_args +
                    [os.path.join(d, os.path.splitext(os.path.basename(s))[0] + "." + ext)]
                    for s in sources]
        return go

    def tool(make, ext, sources):
        def go():
            d = fresh("t")
            return [make(s, os.path.join(d, os.path.splitext(os.path.basename(s))[0] + "." + ext))
                    for s in sources]
        return go

    cases = [
        ("wav-mp3", kestrune("mp3", ["--bitrate", "128000"], stereo),
         ffmpeg(["-c:a", "libmp3lame", "-b:a", "128k"], "mp3", stereo),
         ("lame", tool(lambda s, o: ["lame", "--quiet", "-b", "128", s, o], "mp3", stereo))),
        ("wav-aac", kestrune("6500", ["--bitrate", "128000"], stereo),
         ffmpeg(["-c:a", "aac", "-b:a", "128k"], "m4a", stereo), None),
        ("wav-vorbis", kestrune("ogg", ["--bitrate", "128000"], stereo),
         ffmpeg(["-c:a", "libvorbis", "-b:a", "128k"], "ogg", stereo),
         ("oggenc", tool(lambda s, o: ["oggenc", "-Q", "-b", "128", "-o", o, s], "ogg", stereo))),
        ("wav-flac", kestrune("flac", [], stereo), ffmpeg(["-c:a", "flac"], "flac", stereo),
         ("flac", tool(lambda s, o: ["flac", "-s", "-f", "-o", o, s], "flac", stereo))),
        ("wav-wma", kestrune("wma", ["--rate", "44100", "--bitrate", "128000", "--channels", "2"], stereo),
         ffmpeg(["-c:a", "wmav2", "-b:a", "128k"], "wma", stereo), None),
        ("mp3-wav", kestrune("wav", [], mp3s), ffmpeg(["-c:a", "pcm_s16le"], "wav", mp3s), None),
        ("resample-48k", kestrune("wav", ["--rate", "48000"], stereo),
         ffmpeg(["-af", "aresample=resampler=soxr", "-ar", "48000", "-c:a", "pcm_s16le"], "wav", stereo),
         None),
        ("flac24-flac", kestrune("flac", [], hires),
         ffmpeg(["-c:a", "flac", "-sample_fmt", "s32"], "flac", hires), None),
        ("flac24-mp3", kestrune("mp3", ["--bitrate", "128000"], hires),
         ffmpeg(["-c:a", "libmp3lame", "-b:a", "128k", "-ar", "48000"], "mp3", hires), None),
        ("batch-mp3-j1", kestrune("mp3", [], allwavs, 1), None, None),
        ("batch-mp3-j%d" % cores, kestrune("mp3", [], allwavs, cores), None, None),
    ]
    only = set(filter(None, args.only.split(",")))

    def measure(make):
        cmds = make()
        if cmds and isinstance(cmds[0], str):
            cmds = [cmds]
        wall = cpu = 0.0
        for c in cmds:
            w, u = run(c)
            wall += w
            cpu += u
        return wall, cpu

    rows = []
    for name, kes, ff, bare in cases:
        if only and name not in only:
            continue
        samples = {"kestrune": [], "ffmpeg": [], "tool": []}
        for _ in range(args.runs):  # alternate, so drift hits every contender alike
            samples["kestrune"].append(measure(kes))
            if ff:
                samples["ffmpeg"].append(measure(ff))
            if bare:
                samples["tool"].append(measure(bare[1]))
        med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
               for k, v in samples.items() if v}
        rows.append((name, med, bare[0] if bare else ""))
        k = med["kestrune"]
        line = "%-14s kestrune %7.2fs wall %7.2fs cpu %7.1fx" % (name, k[0], k[1], audio_seconds / k[0])
        if "ffmpeg" in med:
            line += " | ffmpeg %7.2fs (%.2f)" % (med["ffmpeg"][0], k[0] / med["ffmpeg"][0])
        if "tool" in med:
            line += " | %s %7.2fs (%.2f)" % (bare[0], med["tool"][0], k[0] / med["tool"][0])
        print(line, flush=True)

    # The window against the command line: adding a folder of short files (kestrune-cli probe
    # reads the same files), and converting the corpus to MP3 with the window's default number
    # of simultaneous conversions, beside kestrune-cli -j <cores> and -j 1 on the same files.
    if os.path.exists(args.window):
        short = make_short_files(os.path.join(args.work, "short-%d" % args.short_files),
                                 args.short_files)
        short_files = sorted(os.path.join(short, n) for n in os.listdir(short))
        window_cases = [
            ("window-add", lambda: [args.window, "add", short,
                                    window_settings(os.path.join(args.work, "window.ini"), fresh("w"))],
             [("kestrune-cli probe", lambda: [args.cli, "probe"] + short_files)]),
            ("window-mp3", lambda: [args.window, "convert", corpus,
                                    window_settings(os.path.join(args.work, "window.ini"),
                                                    fresh("w"), "wav"),
                                    "1000"],
             [("kestrune-cli -j %d" % cores, kestrune("mp3", [], sorted(allwavs), cores)),
              ("kestrune-cli -j 1", kestrune("mp3", [], sorted(allwavs), 1))]),
        ]
        for name, win, clis in window_cases:
            if only and name not in only:
                continue
            samples = {"window": [], "cli": [[] for _ in clis]}
            for _ in range(args.runs):  # alternate, so drift hits every contender alike
                samples["window"].append(run_timed(win()))
                for i, (_, cli) in enumerate(clis):
                    samples["cli"][i].append(measure(cli))
            step = statistics.median(x for x, _ in samples["window"])
            process = statistics.median(x for _, x in samples["window"])
            # The window's step alone (its own start-up is not part of adding or converting)
            # against the whole kestrune-cli process, which also starts up and probes.
            line = "%-14s window %7.2fs (process %.2fs)" % (name, step, process)
            for i, (label, _) in enumerate(clis):
                c = statistics.median(x for x, _ in samples["cli"][i])
                line += " | %s %7.2fs (window/cli %.2f)" % (label, c, step / c)
            print(line, flush=True)

        # How long the window's thread may go without answering while each kind of output is
        # written: the longest gap between two runs of a 1 ms timer on it, one 44.1 kHz stereo
        # piece per format.
        if not only or "window-cancel" in only:
            one = os.path.join(args.work, "one-piece")
            shutil.rmtree(one, ignore_errors=True)
            os.makedirs(one)
            os.symlink(stereo[0], os.path.join(one, os.path.basename(stereo[0])))
            formats = [("MP3", 1000), ("AAC", 6500), ("OGG", 4000), ("FLAC", 3200), ("AC3", 3400),
                       ("WMA", 7100), ("AMR", 5500), ("AWB", 5600), ("WAV", 2000), ("MP2", 1100)]
            line = "window-cancel  longest pause (ms):"
            for label, fid in formats:
                pauses = []
                run_timed([args.window, "convert", one,
                           window_settings(os.path.join(args.work, "window.ini"), fresh("w")),
                           str(fid)], pauses)
                line += " %s %.1f" % (label, max(pauses) if pauses else float("nan"))
            print(line, flush=True)

    # What the tags beyond the nine texts and a 500 KB cover cost one four-minute output of each
    # format that holds them: reading them from a tagged FLAC, the writer's part, and what goes
    # into the finished file (kestrune-tag-bench prints the medians, wall and processor time).
    tag_bench = os.path.join(os.path.dirname(args.cli), "kestrune-tag-bench")
    if os.path.exists(tag_bench) and (not only or "tags-cover" in only):
        tagged = make_tagged_source(args.work, stereo[0])
        line = "tags-cover     ms a file (cpu; wall):"
        for label, fid in (("MP3", 1000), ("M4A", 6500), ("FLAC", 3200), ("OGG", 4000),
                           ("WAV", 2000), ("AIFF", 5100), ("WMA", 7100)):
            done = subprocess.run([tag_bench, tagged, str(fid), "240", str(max(args.runs, 5))],
                                  capture_output=True, text=True)
            if done.returncode != 0:
                line += " %s failed" % label
                continue
            times = {l.split()[0]: l.split()[1:] for l in done.stdout.splitlines()}
            line += " %s %.2f; %.2f" % (label, float(times["total"][1]), float(times["total"][0]))
        print(line, flush=True)

    # What measuring the loudness in the conversion's pass costs: FLAC to MP3 without it, with
    # track ReplayGain (sample peaks) and with true peaks, in alternation; one worker (the meter
    # has a core of its own) and as many workers as cores (it has none).
    if not only or "flac-mp3-replaygain" in only:
        flacs = []
        for w in stereo:
            f = w[:-4] + ".flac"
            flacs.append(f)
            if not os.path.exists(f):
                subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-i", w, "-c:a", "flac", f],
                               check=True)
        variants = [("off", []), ("track", ["--replaygain", "track"]),
                    ("true-peak", ["--replaygain", "track", "--true-peak"])]
        for jobs in sorted({1, cores}):
            samples = {label: [] for label, _ in variants}
            for _ in range(args.runs):
                for label, extra in variants:
                    samples[label].append(
                        measure(kestrune("mp3", ["--bitrate", "128000"] + extra, flacs, jobs)))
            base = statistics.median(w for w, _ in samples["off"])
            base_cpu = statistics.median(c for _, c in samples["off"])
            line = "flac-mp3-replaygain -j%d off %.2fs wall %.2fs cpu" % (jobs, base, base_cpu)
            for label, _ in variants[1:]:
                w = statistics.median(x for x, _ in samples[label])
                c = statistics.median(x for _, x in samples[label])
                line += " | %s %.2fs wall (+%.1f%%) %.2fs cpu (+%.1f%%)" % (
                    label, w, 100 * (w / base - 1), c, 100 * (c / base_cpu - 1))
            print(line, flush=True)

    # Splitting a disc image by its cue sheet: the pieces joined into one FLAC image with a track
    # per piece, converted to WAV track by track, against the image as one file. Each track
    # starts by seeking, so the split should cost about what the whole does.
    if not only or "cue-split" in only:
        image = os.path.join(args.work, "image-%dx%ds.flac" % (len(stereo), args.seconds))
        if not os.path.exists(image):
            listing = os.path.join(args.work, "image-pieces.txt")
            with open(listing, "w") as f:
                f.writelines("file '%s'\n" % w for w in stereo)
            subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "concat", "-safe", "0",
                            "-i", listing, "-c:a", "flac", image], check=True)
        sheet = image[:-5] + ".cue"
        with open(sheet, "w") as f:
            f.write('FILE "%s" WAVE\n' % os.path.basename(image))
            for t in range(len(stereo)):
                at = t * args.seconds
                f.write("  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:00\n" % (t + 1, at // 60, at % 60))
        times = {"tracks": [], "whole": []}
        for _ in range(args.runs):
            times["tracks"].append(measure(kestrune("wav", [], [sheet])))
            times["whole"].append(measure(kestrune("wav", [], [image])))
        med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
               for k, v in times.items()}
        print("cue-split      %d tracks %.2fs wall %.2fs cpu | whole image %.2fs wall %.2fs cpu" % (
            len(stereo), med["tracks"][0], med["tracks"][1], med["whole"][0], med["whole"][1]),
            flush=True)

    batch = [r for r in rows if r[0].startswith("batch-mp3-j")]
    if len(batch) == 2:
        print("batch speed-up with -j%d: %.2f" % (cores, batch[0][1]["kestrune"][0] / batch[1][1]["kestrune"][0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
