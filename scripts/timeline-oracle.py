#!/usr/bin/env python3
"""Are the frames and sound a rebuild keeps at their own time?

Makes short films with ffmpeg, mencoder and GStreamer (whichever are
installed), damages copies of them as disks and downloads do (zeroed holes
in the data, random bytes over a stretch, a zeroed start), each with the
file's idx1 left in place and with the file cut where its idx1 began, has
zantrel-cli rebuild each copy, and compares every packet of the rebuilt
copy with the undamaged film's packets: a packet is kept when its bytes are
those of a packet of the film (ffmpeg -c copy -f framemd5, matched by md5
in order), and at its time when its presentation time is within one video
frame of that packet's time in the film.

Prints one line per film and damage, and a table of shares per damage kind.
Nothing here is part of the tests: it is the judge of the timeline, from
outside the code.

  scripts/timeline-oracle.py [--cli build/zantrel-cli] [--work DIR] [--keep] [--in-place] [--reference]

With --in-place each damaged copy is rebuilt in place rather than into a
copy of its own. With --reference each rebuild is given the undamaged film
as its reference, as a user gives a healthy file from the same camera: the
formats a lost header list took are then known.
"""
import argparse
import collections
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
from fractions import Fraction


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False, **kw)


def have(tool):
    return shutil.which(tool) is not None


def gst_has(element):
    return have("gst-inspect-1.0") and run(["gst-inspect-1.0", element]).returncode == 0


SECONDS = 12
SIZE = "320x240"
RATE = 25


def films(work):
    """(name, path) of each film made; a maker that is missing is left out."""
    made = []

    def ffmpeg(name, video, audio):
        out = os.path.join(work, name + ".avi")
        args = ["ffmpeg", "-nostdin", "-v", "error", "-y",
                "-f", "lavfi", "-i", f"testsrc2=size={SIZE}:rate={RATE}:duration={SECONDS}",
                "-f", "lavfi", "-i", f"anoisesrc=sample_rate=44100:amplitude=0.3:duration={SECONDS}:seed=7",
                "-ac", "2"] + video + audio + [out]
        if run(args).returncode == 0:
            made.append((name, out))

    if have("ffmpeg"):
        ffmpeg("ffmpeg-mpeg4-pcm", ["-c:v", "mpeg4", "-q:v", "4", "-g", "50"], ["-c:a", "pcm_s16le"])
        ffmpeg("ffmpeg-mpeg4-mp3", ["-c:v", "mpeg4", "-q:v", "4", "-g", "50"], ["-c:a", "libmp3lame", "-b:a", "128k"])
        ffmpeg("ffmpeg-mjpeg-pcm", ["-c:v", "mjpeg", "-q:v", "5"], ["-c:a", "pcm_s16le"])
        ffmpeg("ffmpeg-h264-mp3", ["-c:v", "libx264", "-g", "50", "-bf", "0"], ["-c:a", "libmp3lame", "-b:a", "128k"])
        ffmpeg("ffmpeg-msmpeg4-ac3", ["-c:v", "msmpeg4v3", "-q:v", "4", "-g", "50"], ["-c:a", "ac3", "-b:a", "192k"])
    if have("mencoder") and have("ffmpeg"):
        # mencoder from the same pictures and sound, as y4m and wav.
        y4m = os.path.join(work, "src.y4m")
        wav = os.path.join(work, "src.wav")
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             f"testsrc2=size={SIZE}:rate={RATE}:duration={SECONDS}", "-pix_fmt", "yuv420p", y4m])
        run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
             f"anoisesrc=sample_rate=44100:amplitude=0.3:duration={SECONDS}:seed=7", "-ac", "2", wav])
        for name, audio in (("mencoder-mpeg4-mp3", ["-oac", "mp3lame"]), ("mencoder-mpeg4-pcm", ["-oac", "pcm"])):
            out = os.path.join(work, name + ".avi")
            r = run(["mencoder", "-really-quiet", y4m, "-audiofile", wav, "-ovc", "lavc", "-lavcopts",
                     "vcodec=mpeg4:keyint=50"] + audio + ["-o", out])
            if r.returncode == 0 and os.path.exists(out):
                made.append((name, out))
    if have("gst-launch-1.0") and gst_has("x264enc") and gst_has("lamemp3enc") and gst_has("avimux"):
        out = os.path.join(work, "gstreamer-h264-mp3.avi")
        parse = "! h264parse config-interval=-1 " if gst_has("h264parse") else ""
        r = run(["gst-launch-1.0", "-q", "videotestsrc", f"num-buffers={SECONDS * RATE}", "pattern=ball", "!",
                 f"video/x-raw,width=320,height=240,framerate={RATE}/1", "!", "x264enc", "key-int-max=50",
                 "bframes=0"] + (parse.split() if parse else []) + ["!", "avimux", "name=m", "!", "filesink",
                 f"location={out}", "audiotestsrc", "wave=white-noise", f"num-buffers={SECONDS * 44100 // 1024}",
                 "!", "audio/x-raw,rate=44100,channels=2", "!", "lamemp3enc", "!", "m."])
        if r.returncode == 0:
            made.append(("gstreamer-h264-mp3", out))
    if have("gst-launch-1.0") and gst_has("jpegenc") and gst_has("avimux"):
        out = os.path.join(work, "gstreamer-mjpeg-pcm.avi")
        r = run(["gst-launch-1.0", "-q", "videotestsrc", f"num-buffers={SECONDS * RATE}", "pattern=ball", "!",
                 f"video/x-raw,width=320,height=240,framerate={RATE}/1", "!", "jpegenc", "!", "avimux", "name=m",
                 "!", "filesink", f"location={out}", "audiotestsrc", "wave=white-noise",
                 f"num-buffers={SECONDS * 44100 // 1024}", "!", "audio/x-raw,format=S16LE,rate=44100,channels=2",
                 "!", "m."])
        if r.returncode == 0:
            made.append(("gstreamer-mjpeg-pcm", out))
    return made


def movi_span(data):
    """(start of movi's data, end of movi, offset of idx1 or None)."""
    at = 12
    movi = None
    idx1 = None
    while at + 8 <= len(data):
        code = data[at:at + 4]
        size = struct.unpack_from("<I", data, at + 4)[0]
        if code == b"LIST" and data[at + 8:at + 12] == b"movi":
            movi = (at + 12, min(len(data), at + 8 + size))
        elif code == b"idx1":
            idx1 = at
        at += 8 + size + (size & 1)
    return movi[0], movi[1], idx1


def damages(data):
    """(kind, bytes) of each damaged copy."""
    start, end, idx1 = movi_span(data)
    span = end - start
    rng = random.Random(1)
    out = []

    def holes(d):
        d = bytearray(d)
        # Holes stay inside the data: one that reached the idx1 would be a
        # film without its index.
        for fraction, size in ((0.3, 64 * 1024), (0.6, 256 * 1024)):
            size = min(size, span // 8)
            at = start + int(span * fraction)
            d[at:at + size] = bytes(min(size, len(d) - at))
        return d

    def scrambled(d):
        d = bytearray(d)
        at = start + int(span * 0.45)
        size = min(128 * 1024, span // 8)
        d[at:at + size] = bytes(rng.getrandbits(8) for _ in range(size))
        return d

    def lost_start(d):
        d = bytearray(d)
        d[0:16 * 1024] = bytes(16 * 1024)
        return d

    for kind, make in (("holes", holes), ("random bytes", scrambled), ("first 16 KiB zeroed", lost_start)):
        damaged = make(data)
        out.append((kind + ", idx1 intact", bytes(damaged)))
        if idx1 is not None:
            out.append((kind + ", no idx1", bytes(damaged[:idx1])))
    return out


def packets(path):
    """stream -> list of (time, md5), from ffmpeg's own reading of path."""
    r = run(["ffmpeg", "-nostdin", "-v", "quiet", "-threads", "1", "-i", path, "-map", "0", "-c", "copy",
             "-f", "framemd5", "-"])
    bases = {}
    out = collections.defaultdict(list)
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        if line.startswith("#tb "):
            stream, base = line[4:].split(":")
            bases[int(stream)] = Fraction(base.strip())
            continue
        if line.startswith("#") or not line.strip():
            continue
        fields = [f.strip() for f in line.split(",")]
        stream, pts, md5 = int(fields[0]), int(fields[2]), fields[5]
        out[stream].append((pts * bases.get(stream, Fraction(1)), md5))
    return out


def judge(original, rebuilt, tolerance):
    """stream -> (kept, at their time)."""
    result = {}
    for stream, film in original.items():
        where = collections.defaultdict(collections.deque)
        for t, md5 in film:
            where[md5].append(t)
        kept = on_time = 0
        for t, md5 in rebuilt.get(stream, []):
            if not where[md5]:
                continue
            t0 = where[md5].popleft()
            kept += 1
            if abs(t - t0) <= tolerance:
                on_time += 1
        result[stream] = (kept, on_time)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(os.path.dirname(__file__), "..", "build", "zantrel-cli"))
    parser.add_argument("--work")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--in-place", action="store_true", help="rebuild each damaged file in place")
    parser.add_argument("--reference", action="store_true", help="give the undamaged film as the reference")
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    if not have("ffmpeg"):
        sys.exit("timeline-oracle: ffmpeg is needed")
    work = args.work or tempfile.mkdtemp(prefix="zantrel-timeline-")
    os.makedirs(work, exist_ok=True)
    tolerance = Fraction(1, RATE) + Fraction(1, 1000)
    totals = collections.defaultdict(lambda: [0, 0, 0, 0])  # kind -> video kept, on time, audio kept, on time
    try:
        for name, path in films(work):
            original = packets(path)
            data = open(path, "rb").read()
            for kind, damaged in damages(data):
                copy = os.path.join(work, "damaged.avi")
                rebuilt = os.path.join(work, "R.damaged.avi")
                open(copy, "wb").write(damaged)
                if os.path.exists(rebuilt):
                    os.remove(rebuilt)
                reference = ["--reference", path] if args.reference else []
                if args.in_place:
                    run([cli, "rebuild", "--in-place"] + reference + [copy])
                    shutil.copyfile(copy, rebuilt)
                else:
                    run([cli, "rebuild", "--prefix", "R.", "--overwrite", "overwrite"] + reference + [copy])
                if not os.path.exists(rebuilt):
                    print(f"{name:22} {kind:34} no copy written")
                    continue
                shares = judge(original, packets(rebuilt), tolerance)
                video = shares.get(0, (0, 0))
                audio = shares.get(1, (0, 0))
                t = totals[kind]
                t[0] += video[0]; t[1] += video[1]; t[2] += audio[0]; t[3] += audio[1]

                def pct(kept, on):
                    return f"{on:5}/{kept:<5} {100.0 * on / kept:5.1f}%" if kept else "    -            "
                print(f"{name:22} {kind:34} video {pct(*video)}  sound {pct(*audio)}")
        print()
        print("| damage | kept frames at their time | kept sound packets at their time |")
        print("|---|---|---|")
        for kind, (vk, vo, ak, ao) in totals.items():
            v = f"{100.0 * vo / vk:.0f}% of {vk}" if vk else "-"
            a = f"{100.0 * ao / ak:.0f}% of {ak}" if ak else "-"
            print(f"| {kind} | {v} | {a} |")
    finally:
        if not args.keep and not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
