#!/usr/bin/env python3
"""Zantrel benchmark: times zantrel-cli against cat, cp and ffmpeg and prints
medians, ratios, peak memory and pass/miss lines against the targets.

Run through bench/run, which checks the prerequisites; see bench/README.md.
Python 3 standard library only.
"""

import argparse
import hashlib
import json
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

MIB = 1024 * 1024
# The targets each pass/miss line is judged against.
TARGET_COPY_VS_CAT = 1.2  # copy rebuild time / (cat SRC > DST; sync DST) time, at most
TARGET_INPLACE_VS_CAT = 0.3  # in-place rebuild time / (cat SRC > DST) time, at most
TARGET_CHECK_GBPS = 3.0  # GB (1e9 bytes) of file checked per second, at least
TARGET_RESYNC_MBPS = 400.0  # MB (1e6 bytes) of garbage searched per second, at least
MEMORY_BASE = 16 * MIB  # peak memory budget: 16 MiB ...
MEMORY_PER_ENTRY = 16  # ... plus 16 bytes per index entry
SETTINGS_KEYS = 10000  # keys in the settings file of the load + save line
TARGET_SETTINGS_SECONDS = 0.25  # one load + save of that file, at most ("well under a second")
# The many-spots check, at most this many times the check of its undamaged
# twin, plus the time its lines take to print.
TARGET_SPOTS_VS_PLAIN = 1.5

DONE_LINE = re.compile(r"Done\. Found (\d+) errors, (\d+) video frames, (\d+) audio samples")


def log(*parts):
    print(*parts, flush=True)


def human_bytes(n):
    return f"{n / 1e6:,.1f} MB" if n < 1e9 else f"{n / 1e9:,.2f} GB"


def warm(paths):
    """Reads each file once, so that the timed runs find it in the page cache."""
    buf = bytearray(8 * MIB)
    view = memoryview(buf)
    for p in paths:
        with open(p, "rb", buffering=0) as f:
            while f.readinto(view):
                pass


def fsync_path(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def build_compiler(build):
    """The C++ compiler the CMake build folder was configured with, or c++."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            m = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.+)$", f.read(), re.M)
            if m:
                return m.group(1).strip()
    except OSError:
        pass
    return "c++"


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def busy_cpu_seconds():
    """CPU time spent by the whole machine, from /proc/stat (not idle, not iowait)."""
    try:
        with open("/proc/stat") as f:
            fields = [int(x) for x in f.readline().split()[1:]]
    except OSError:
        return None
    busy = sum(fields[:8]) - fields[3] - fields[4]  # user nice system idle iowait irq softirq steal
    return busy / os.sysconf("SC_CLK_TCK")


def own_cpu_seconds():
    total = 0.0
    for who in (resource.RUSAGE_SELF, resource.RUSAGE_CHILDREN):
        u = resource.getrusage(who)
        total += u.ru_utime + u.ru_stime
    return total


class Result:
    def __init__(self, label, times, rss_kib, outputs, gnu_time_rss_kib=None):
        self.label = label
        self.times = times
        self.rss_kib = rss_kib  # per timed run, from wait4()
        self.outputs = outputs  # standard output of each timed run (zantrel only)
        self.gnu_time_rss_kib = gnu_time_rss_kib

    @property
    def median(self):
        return statistics.median(self.times)

    @property
    def peak_rss_bytes(self):
        # GNU time's figure when there is one. wait4() of a child that Python
        # spawned also counts the pages Python itself had mapped when the child
        # was started (the kernel keeps the peak of the process across exec),
        # so without GNU time the figure is only an upper bound.
        if self.gnu_time_rss_kib is not None:
            return self.gnu_time_rss_kib * 1024
        return max(self.rss_kib) * 1024

    @property
    def rss_source(self):
        return "GNU time" if self.gnu_time_rss_kib is not None else "wait4, upper bound"


class Bench:
    def __init__(self, args):
        self.args = args
        # The quick and the full inputs are cached side by side.
        self.work = os.path.join(os.path.abspath(args.work), "quick" if args.quick else "full")
        self.cli = os.path.abspath(args.cli)
        self.scratch = os.path.join(self.work, "scratch")
        self.gnu_time = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None
        self.results = {}
        # The index entries of each case's file (by the key's first part), for
        # the memory budget: the Done line counts audio in samples.
        self.entries_of = {}
        self.settings_seconds = None
        self.checks = []  # (description, ok) of the correctness checks made on the way

    # ---------------------------------------------------------------- timing

    def run_once(self, argv, stdout_path=None, capture=False):
        """Runs argv once; returns (seconds, exit code, max RSS in KiB, output).
        stdout goes to stdout_path (created and truncated, as a shell's '>' does,
        inside the timed span), to a capture file, or to /dev/null."""
        cap_path = os.path.join(self.scratch, "stdout.txt")
        t0 = time.perf_counter()
        if stdout_path is not None:
            out = open(stdout_path, "wb")
        elif capture:
            out = open(cap_path, "wb")
        else:
            out = open(os.devnull, "wb")
        err = open(os.path.join(self.scratch, "stderr.txt"), "wb")
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        _, status, usage = os.wait4(proc.pid, 0)
        t1 = time.perf_counter()
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.close()
        err.close()
        text = ""
        if capture and stdout_path is None:
            with open(cap_path, "r", encoding="utf-8", errors="replace") as f:
                text = f.read()
        if proc.returncode != 0:
            with open(os.path.join(self.scratch, "stderr.txt"), "r", encoding="utf-8", errors="replace") as f:
                text += f.read()
        return t1 - t0, proc.returncode, usage.ru_maxrss, text

    def measure(self, key, label, argv, warm_files, expect_rc=(0,), setup=None, cleanup=None, stdout_path=None,
                zantrel=False, verify=None):
        """Median of --runs timed runs after one untimed warm-up run. setup and
        cleanup run outside the timed span before and after every run."""
        runs = self.args.runs
        os.sync()
        warm(warm_files)
        times, rss, outputs = [], [], []
        for i in range(runs + 1):
            if setup:
                setup()
            # Nothing of an earlier run (a deleted copy's blocks, a journal
            # commit, a discard) may still be on its way to disk during this one.
            os.sync()
            dt, rc, maxrss, text = self.run_once(argv, stdout_path=stdout_path, capture=zantrel)
            if rc not in expect_rc:
                log(f"  !! {label}: exit status {rc}, expected {'/'.join(map(str, expect_rc))}")
                if text:
                    log("     " + text.strip().replace("\n", "\n     "))
                if cleanup:
                    cleanup()
                raise SystemExit(1)
            if i == 0 and verify:
                verify(text)
            if cleanup:
                cleanup()
            if i == 0:
                continue  # the warm-up run
            times.append(dt)
            rss.append(maxrss)
            outputs.append(text)
        gnu_rss = None
        if zantrel and self.gnu_time:
            # The peak memory, measured with GNU time in one more, untimed run.
            if setup:
                setup()
            report = os.path.join(self.scratch, "gnu-time.txt")
            self.run_once([self.gnu_time, "-v", "-o", report] + argv, stdout_path=None, capture=False)
            if cleanup:
                cleanup()
            with open(report, encoding="utf-8", errors="replace") as f:
                m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
            gnu_rss = int(m.group(1)) if m else None
        res = Result(label, times, rss, outputs, gnu_rss)
        self.results[key] = res
        self.print_result(res, zantrel)
        return res

    def print_result(self, res, zantrel):
        t = sorted(res.times)
        line = f"  {res.label:<46} {res.median:9.4f} s   (min {t[0]:.4f}, max {t[-1]:.4f})"
        if zantrel:
            line += f"   max RSS {res.peak_rss_bytes / MIB:6.2f} MiB ({res.rss_source})"
        log(line)

    # ------------------------------------------------------------ the inputs

    def generated(self, name, kind, minutes, garbage_mb, spots=None):
        """Makes (or reuses) one synthetic file; returns (path, size, entries, garbage bytes)."""
        path = os.path.join(self.work, name)
        gen = os.path.join(HERE, "make_avi.py")
        with open(gen, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        params = {"kind": kind, "minutes": minutes, "garbage_mb": garbage_mb, "generator": digest}
        extra = []
        if spots is not None:
            params["spots"] = spots
            extra = ["--spots", str(spots)]
        stamp = path + ".json"
        if os.path.exists(path) and os.path.exists(stamp):
            with open(stamp) as f:
                old = json.load(f)
            if old.get("params") == params and os.path.getsize(path) == old.get("size"):
                return path, old["size"], old["entries"], old["garbage"]
        log(f"  generating {name} ...")
        out = subprocess.run(
            [sys.executable, gen, path, "--kind", kind, "--minutes", str(minutes), "--garbage-mb", str(garbage_mb)]
            + extra,
            check=True, stdout=subprocess.PIPE, text=True,
        ).stdout.split()
        size, entries, garbage = int(out[1]), int(out[2]), int(out[3])
        with open(stamp, "w") as f:
            json.dump({"params": params, "size": size, "entries": entries, "garbage": garbage}, f)
        return path, size, entries, garbage

    def ffmpeg_file(self, seconds):
        """A real AVI made by ffmpeg once and cached: MPEG-4 Visual video and PCM audio."""
        path = os.path.join(self.work, f"ffmpeg-{seconds}s.avi")
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return path
        log(f"  encoding {os.path.basename(path)} with ffmpeg (once; cached) ...")
        tmp = path + ".part.avi"
        subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-y",
             "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25",
             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
             "-t", str(seconds), "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", "-ac", "2", tmp],
            check=True,
        )
        os.rename(tmp, path)
        return path

    def odml_file(self, gib):
        """An OpenDML file made by ffmpeg once and cached: a RIFF 'AVI ' and
        'AVIX' segments of about 1 GiB each, with their ix## indexes. Grey raw
        video is the fastest way to gigabytes."""
        path = os.path.join(self.work, f"odml-{gib}gib.avi")
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return path
        log(f"  writing {os.path.basename(path)} with ffmpeg (once; cached) ...")
        tmp = path + ".part.avi"
        frame = 640 * 480
        seconds = max(1, int(gib * (1 << 30) / frame / 25))
        subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-y",
             "-f", "lavfi", "-i", "color=c=gray:size=640x480:rate=25",
             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000",
             "-t", str(seconds), "-c:v", "rawvideo", "-pix_fmt", "gray", "-c:a", "pcm_s16le", tmp],
            check=True,
        )
        os.rename(tmp, path)
        return path

    # ------------------------------------------------------------- the cases

    @staticmethod
    def packet_count(path):
        """The packets ffprobe reads from a file, about one per chunk."""
        out = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_entries", "stream=nb_read_packets",
                              "-of", "csv=p=0", path], stdout=subprocess.PIPE, text=True).stdout
        return sum(int(x) for x in out.split() if x.isdigit())

    @staticmethod
    def video_entries(path, entries):
        """The video chunks that the generator's own idx1, the last chunk of
        its file, names; None where the file ends otherwise."""
        if entries is None:
            return None
        with open(path, "rb") as f:
            f.seek(os.path.getsize(path) - 8 - 16 * entries)
            index = f.read(8 + 16 * entries)
        if index[:4] != b"idx1":
            return None
        return sum(1 for e in range(8, len(index), 16) if index[e + 2:e + 4] in (b"dc", b"db"))

    def zantrel_verify(self, expect_errors, src=None, entries=None):
        # The video frames are the video chunks; audio is counted in samples,
        # which the generator's index does not give.
        expect_video = self.video_entries(src, entries) if src else None
        def verify(text):
            m = DONE_LINE.search(text)
            ok = m is not None and int(m.group(1)) == expect_errors and (
                expect_video is None or int(m.group(2)) == expect_video)
            found = m.group(0) if m else "no Done line"
            self.checks.append((f"zantrel reported: {found}", ok))
        return verify

    def file_cases(self, tag, src, entries, expect_errors=0):
        """cat, cp and zantrel check/rebuild/in-place on one source file."""
        name = os.path.basename(src)
        dst = os.path.join(self.scratch, "copy-" + name)
        rebuilt = os.path.join(os.path.dirname(src), "Zantrel." + name)
        inplace = os.path.join(self.scratch, "inplace-" + name)
        rm_dst = lambda: remove(dst)
        rm_rebuilt = lambda: remove(rebuilt)
        rm_inplace = lambda: remove(inplace)
        remove(rebuilt)

        def fresh_copy():
            shutil.copyfile(src, inplace)
            fsync_path(inplace)

        first_rebuild = [True]

        def check_rebuilt():
            # Untimed, after the warm-up run only: a source whose idx1 already
            # describes every chunk must come back byte for byte.
            if first_rebuild[0] and expect_errors == 0 and tag == "syn":
                first_rebuild[0] = False
                same = subprocess.run(["cmp", "-s", src, rebuilt]).returncode == 0
                self.checks.append((f"rebuilt copy of {name} is identical to the source", same))
            remove(rebuilt)

        first_inplace = [True]

        def check_inplace():
            if first_inplace[0] and expect_errors == 0 and tag == "syn":
                first_inplace[0] = False
                same = subprocess.run(["cmp", "-s", src, inplace]).returncode == 0
                self.checks.append((f"in-place rebuild of {name} leaves it identical to the source", same))
            remove(inplace)

        rc_ok = (0,) if expect_errors == 0 else (1,)
        self.entries_of[tag] = entries if entries is not None else self.packet_count(src)
        v = self.zantrel_verify(expect_errors, src, entries)
        self.measure(f"{tag}.cat_null", "cat SRC > /dev/null", ["cat", src], [src], stdout_path=os.devnull)
        self.measure(f"{tag}.cat_file", "cat SRC > DST", ["cat", src], [src], setup=rm_dst, cleanup=rm_dst,
                     stdout_path=dst)
        self.measure(f"{tag}.cp", "cp SRC DST", ["cp", src, dst], [src], setup=rm_dst, cleanup=rm_dst)
        # A copy rebuild puts its copy on disk before giving it its name, so
        # its peer is a copy that is flushed too.
        self.measure(f"{tag}.cat_sync", "cat SRC > DST; sync DST", ["sh", "-c", 'cat "$1" > "$2" && sync "$2"', "sh",
                     src, dst], [src], setup=rm_dst, cleanup=rm_dst)
        self.measure(f"{tag}.check", "zantrel-cli check", [self.cli, "check", src], [src], expect_rc=rc_ok,
                     zantrel=True, verify=v)
        self.measure(f"{tag}.rebuild", "zantrel-cli rebuild (copy)", [self.cli, "rebuild", src], [src],
                     setup=rm_rebuilt, cleanup=check_rebuilt, zantrel=True, verify=v)
        self.measure(f"{tag}.inplace", "zantrel-cli rebuild --in-place (fresh copy)",
                     [self.cli, "rebuild", "--in-place", inplace], [src], setup=fresh_copy, cleanup=check_inplace,
                     zantrel=True, verify=v)

    # ------------------------------------------------------------- settings

    def settings_program(self):
        """Builds bench/settings_bench.cpp against the core library of the
        zantrel-cli build (same folder, same compiler), when it is missing or
        older than its sources; None when that library is not there."""
        build = os.path.dirname(self.cli)
        core = os.path.join(build, "libzantrel_core.a")
        source = os.path.join(HERE, "settings_bench.cpp")
        program = os.path.join(build, "zantrel-settings-bench")
        if not os.path.exists(core):
            return None
        if os.path.exists(program) and os.path.getmtime(program) >= max(os.path.getmtime(core),
                                                                         os.path.getmtime(source)):
            return program
        compiler = build_compiler(build)
        cmd = [compiler, "-std=c++20", "-O2", "-D_FILE_OFFSET_BITS=64", "-I", ROOT,
               "-I", os.path.join(build, "generated"), source, core, "-pthread", "-o", program]
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            log("  !! could not build the settings benchmark: " + " ".join(cmd))
            log("     " + done.stdout.strip().replace("\n", "\n     "))
            raise SystemExit(1)
        return program

    def print_program(self):
        """Builds bench/print_lines.cpp beside the zantrel-cli being timed, with
        the compiler of its build, when it is missing or older than its source."""
        build = os.path.dirname(self.cli)
        source = os.path.join(HERE, "print_lines.cpp")
        program = os.path.join(build, "zantrel-print-lines")
        if os.path.exists(program) and os.path.getmtime(program) >= os.path.getmtime(source):
            return program
        compiler = build_compiler(build)
        cmd = [compiler, "-std=c++20", "-O2", source, "-o", program]
        done = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            log("  !! could not build the line printer: " + " ".join(cmd))
            log("     " + done.stdout.strip().replace("\n", "\n     "))
            raise SystemExit(1)
        return program

    def print_case(self, text):
        """The time to print text's lines into a file of the scratch folder as
        the console prints a run's lines (buffered, flushed every 5 ms):
        the median of --runs writings by bench/print_lines.cpp."""
        lines = os.path.join(self.scratch, "lines.txt")
        printed = os.path.join(self.scratch, "printed.txt")
        with open(lines, "w", encoding="utf-8") as f:
            f.write(text)
        os.sync()
        with open(printed, "wb") as out:
            done = subprocess.run([self.print_program(), lines, str(self.args.runs)], stdout=out,
                                  stderr=subprocess.PIPE, text=True)
        m = re.search(r"lines (\d+) bytes (\d+) median ([\d.]+) min ([\d.]+) max ([\d.]+)", done.stderr)
        if done.returncode != 0 or not m:
            log("  !! the line printer failed: " + done.stderr.strip())
            raise SystemExit(1)
        with open(lines, "rb") as a, open(printed, "rb") as b:
            self.checks.append(("the line printer wrote the many-spots lines as given", a.read() == b.read()))
        remove(lines)
        remove(printed)
        count, median, lo, hi = int(m.group(1)), float(m.group(3)), float(m.group(4)), float(m.group(5))
        log(f"  {'print its %s lines, flushed every 5 ms' % f'{count:,}':<46} {median:9.4f} s   (min {lo:.4f}, max {hi:.4f})")
        return median

    def spots_cases(self, spots):
        """The check of a file with many tiny spots, of its undamaged twin of
        the same size, and the printing of the spots' lines alone."""
        many, many_size, many_entries, _ = self.generated(f"many-spots-{spots}.avi", "manyspots", 0, 0, spots)
        twin, twin_size, twin_entries, _ = self.generated(f"many-plain-{spots}.avi", "manyplain", 0, 0, spots)
        self.entries_of["spots"] = max(many_entries, twin_entries)
        log(f"many tiny spots ({human_bytes(many_size)}, {spots:,} corrupted spots between {many_entries:,} "
            f"chunks; its undamaged twin {human_bytes(twin_size)})")
        res = self.measure("spots.check", f"zantrel-cli check, {spots:,} spots", [self.cli, "check", many], [many],
                           expect_rc=(1,), zantrel=True, verify=self.zantrel_verify(spots, many, many_entries))
        self.measure("spots.plain", "zantrel-cli check, undamaged twin", [self.cli, "check", twin], [twin],
                     zantrel=True, verify=self.zantrel_verify(0, twin, twin_entries))
        self.spots_print = self.print_case(res.outputs[0])
        self.spots = spots

    def settings_case(self):
        """Config::Load + Config::Save on a registry file of SETTINGS_KEYS keys,
        timed inside the program (the file is put back, untimed, before each run)."""
        program = self.settings_program()
        if program is None:
            log(f"  settings load + save: skipped, no libzantrel_core.a beside {self.cli}")
            return None
        folder = os.path.join(self.scratch, "settings")
        os.makedirs(folder, exist_ok=True)
        out = subprocess.run([program, folder, str(SETTINGS_KEYS), str(self.args.runs)], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        m = re.search(r"keys (\d+) bytes (\d+) median ([\d.]+) min ([\d.]+) max ([\d.]+) replaced (\d)", out.stdout)
        if out.returncode != 0 or not m:
            log("  !! settings benchmark failed: " + out.stdout.strip())
            raise SystemExit(1)
        keys, size = int(m.group(1)), int(m.group(2))
        median, lo, hi = float(m.group(3)), float(m.group(4)), float(m.group(5))
        log(f"  {'settings load + save, %s keys (%s KB)' % (f'{keys:,}', f'{size / 1000:,.0f}'):<44} "
            f"{median:8.3f} s  (min {lo:.3f}, max {hi:.3f})")
        self.checks.append(("the settings save replaced the file (a new inode)", m.group(6) == "1"))
        return median

    def run(self):
        a = self.args
        self.start_wall = time.monotonic()
        self.start_busy = busy_cpu_seconds()
        self.start_own = own_cpu_seconds()
        os.makedirs(self.scratch, exist_ok=True)
        if a.settings_only:
            self.print_environment()
            log("")
            log(f"settings store: median of {a.runs} runs after one warm-up run, each on the file as made")
            median = self.settings_case()
            if median is not None:
                log("")
                log("targets")
                self.settings_target(median)
            log("")
            for text, ok in self.checks:
                log(f"  {'ok  ' if ok else 'FAIL'}  {text}")
            return
        for stale in os.listdir(self.work):  # left by an interrupted run
            if stale.startswith("Zantrel."):
                remove(os.path.join(self.work, stale))
        minutes = 9.0 if a.quick else 90.0
        garbage_mb = 10.0 if a.quick else 100.0
        ff_seconds = 60 if a.quick else 600

        self.print_environment()
        log("")
        log("inputs (in %s)" % self.work)
        plain, plain_size, plain_entries, _ = self.generated("film.avi", "plain", minutes, garbage_mb)
        garb, garb_size, garb_entries, garbage_bytes = self.generated("film-garbage.avi", "garbage", minutes,
                                                                     garbage_mb)
        only, only_size, _, only_garbage = self.generated("garbage-only.avi", "garbonly", minutes, garbage_mb)
        tiny, tiny_size, _, _ = self.generated("tiny.avi", "garbonly", minutes, 0)
        have_ffmpeg = not a.no_ffmpeg and shutil.which("ffmpeg") and shutil.which("ffprobe")
        ff = self.ffmpeg_file(ff_seconds) if have_ffmpeg else None
        log(f"  film.avi            {human_bytes(plain_size)}, {plain_entries:,} index entries")
        log(f"  film-garbage.avi    {human_bytes(garb_size)}, the same film with {garbage_bytes / MIB:.0f} MiB "
            f"of garbage in the middle of movi")
        log(f"  garbage-only.avi    {human_bytes(only_size)}, movi = {only_garbage / MIB:.0f} MiB of garbage + "
            f"one chunk")
        log(f"  tiny.avi            {tiny_size} bytes, one chunk (start-up cost)")
        if ff:
            log(f"  {os.path.basename(ff):<19} {human_bytes(os.path.getsize(ff))}, made by ffmpeg")
        else:
            log("  ffmpeg/ffprobe not found (or --no-ffmpeg): the ffmpeg lines are skipped")

        log("")
        log(f"timings: median of {a.runs} runs after one warm-up run, warm page cache")
        log(f"synthetic film ({human_bytes(plain_size)}, {plain_entries:,} index entries)")
        self.file_cases("syn", plain, plain_entries)
        log(f"garbage variants")
        self.entries_of.update({"garb": garb_entries, "only": 1, "tiny": 1})
        # Both files' own idx1 skips the garbage: the check names the stretch
        # but counts no error for it ("Repaired", exit 0).
        self.measure("garb.check", "zantrel-cli check, film with garbage", [self.cli, "check", garb], [garb],
                     expect_rc=(0,), zantrel=True, verify=self.zantrel_verify(0, garb, garb_entries))
        self.measure("only.check", "zantrel-cli check, garbage only", [self.cli, "check", only], [only],
                     expect_rc=(0,), zantrel=True, verify=self.zantrel_verify(0, only, 1))
        self.measure("tiny.check", "zantrel-cli check, tiny file", [self.cli, "check", tiny], [tiny],
                     zantrel=True, verify=self.zantrel_verify(0, tiny, 1))
        if ff:
            ffsize = os.path.getsize(ff)
            log(f"ffmpeg-made file ({human_bytes(ffsize)})")
            remux = os.path.join(self.scratch, "remux.avi")
            self.measure("ff.ffprobe", "ffprobe -count_packets",
                         ["ffprobe", "-v", "error", "-count_packets", "-show_entries", "stream=nb_read_packets", ff],
                         [ff])
            self.measure("ff.remux", "ffmpeg -i SRC -map 0 -c copy DST.avi",
                         ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", ff, "-map", "0", "-c", "copy", remux],
                         [ff], setup=lambda: remove(remux), cleanup=lambda: remove(remux))
            self.file_cases("ff", ff, None)
        odml = self.odml_file(1.2 if a.quick else 3) if have_ffmpeg else None
        if odml:
            log(f"OpenDML file made by ffmpeg ({human_bytes(os.path.getsize(odml))}, RIFF segments of ~1 GiB)")
            self.file_cases("odml", odml, None)
        self.odml = odml
        self.spots_cases(40000 if a.quick else 400000)
        log("settings store (the file as made put back before every run)")
        self.settings_seconds = self.settings_case()
        self.report(plain_size, plain_entries, garbage_bytes, only_garbage, ff)

    # ------------------------------------------------------------- reporting

    def print_environment(self):
        log("Zantrel benchmark" + (" (--quick: smoke test, small files)" if self.args.quick else ""))
        cpu = ""
        try:
            with open("/proc/cpuinfo") as f:
                cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
        except OSError:
            pass
        log(f"  machine   {platform.machine()}, {os.cpu_count()} CPUs {cpu}, Linux {platform.release()}, "
            f"load average {os.getloadavg()[0]:.2f}")
        fs = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "-T", self.work], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True).stdout.strip() if shutil.which("findmnt") else "?"
        log(f"  work      {self.work} ({fs or '?'})")
        ver = subprocess.run([self.cli, "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
        commit = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%h %cs"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True).stdout.strip()
        log(f"  program   {self.cli} ({ver}; tree at {commit or '?'})")
        if shutil.which("ffmpeg"):
            ffv = subprocess.run(["ffmpeg", "-version"], stdout=subprocess.PIPE, text=True).stdout.split("\n")[0]
            log(f"  ffmpeg    {ffv}")
        if self.gnu_time:
            log("  memory    peak RSS of each zantrel case from /usr/bin/time -v (one extra, untimed run)")
        else:
            log("  memory    /usr/bin/time not installed (Debian package time): peak RSS from wait4() of the")
            log("            timed runs, an upper bound that includes the Python launcher's own pages")

    def settings_target(self, median):
        text = f"settings load + save of {SETTINGS_KEYS:,} keys within {TARGET_SETTINGS_SECONDS:g} s"
        log(f"  {'pass' if median <= TARGET_SETTINGS_SECONDS else 'MISS'}  {text:<62} {median:.3f} s")

    def report(self, plain_size, plain_entries, garbage_bytes, only_garbage, ff):
        r = self.results
        lines = []  # (text, ok or None)

        def ratio(a, b):
            return r[a].median / r[b].median

        log("")
        log("ratios")
        copy_vs_cat = ratio("syn.rebuild", "syn.cat_sync")
        inplace_vs_cat = ratio("syn.inplace", "syn.cat_file")
        check_gbps = plain_size / r["syn.check"].median / 1e9
        log(f"  zantrel rebuild (copy) / cat SRC > DST; sync   {copy_vs_cat:6.2f}x   (both on disk at the end)")
        log(f"  zantrel rebuild (copy) / cat SRC > DST         {ratio('syn.rebuild', 'syn.cat_file'):6.2f}x"
            "   (cat's copy still in the page cache)")
        log(f"  zantrel rebuild --in-place / cat SRC > DST     {inplace_vs_cat:6.2f}x")
        log(f"  cp SRC DST / cat SRC > DST                     {ratio('syn.cp', 'syn.cat_file'):6.2f}x")
        log(f"  zantrel check / cat SRC > /dev/null            {ratio('syn.check', 'syn.cat_null'):6.2f}x")
        log(f"  check throughput                               {check_gbps:6.2f} GB of file per second")
        log(f"  rebuild (copy) throughput                      "
            f"{plain_size / r['syn.rebuild'].median / 1e9:6.2f} GB/s")
        # Resync: directly, over the garbage-only file less the start-up cost,
        # and estimated as the extra time the garbage adds to the film's check.
        direct_t = r["only.check"].median - r["tiny.check"].median
        est_t = r["garb.check"].median - r["syn.check"].median
        direct = only_garbage / direct_t / 1e6 if direct_t > 0 else float("inf")
        est = garbage_bytes / est_t / 1e6 if est_t > 0 else float("inf")
        log(f"  resync search, measured (garbage-only - tiny)  {direct:8.0f} MB/s")
        log(f"  resync search, estimated (garbage - plain)     {est:8.0f} MB/s")
        log(f"  start-up (check of a one-chunk file)           {r['tiny.check'].median * 1000:8.1f} ms")
        if ff:
            log(f"  ffmpeg remux / zantrel rebuild (copy)          {ratio('ff.remux', 'ff.rebuild'):6.2f}x"
                "   (ffmpeg-made file; >1: zantrel faster)")
            log(f"  ffprobe -count_packets / zantrel check         {ratio('ff.ffprobe', 'ff.check'):6.2f}x")
            log(f"  zantrel rebuild (copy) / cat SRC > DST         {ratio('ff.rebuild', 'ff.cat_file'):6.2f}x"
                "   (ffmpeg-made file)")
            log(f"  zantrel rebuild --in-place / cat SRC > DST     {ratio('ff.inplace', 'ff.cat_file'):6.2f}x"
                "   (ffmpeg-made file)")
            log(f"  check throughput                               "
                f"{os.path.getsize(ff) / r['ff.check'].median / 1e9:6.2f} GB/s   (ffmpeg-made file)")

        odml = getattr(self, "odml", None)
        if odml:
            log(f"  zantrel check / cat SRC > /dev/null            {ratio('odml.check', 'odml.cat_null'):6.2f}x"
                "   (OpenDML file)")
            log(f"  zantrel rebuild (copy) / cat SRC > DST         {ratio('odml.rebuild', 'odml.cat_file'):6.2f}x"
                "   (OpenDML file)")
            log(f"  zantrel rebuild --in-place / cat SRC > DST     {ratio('odml.inplace', 'odml.cat_file'):6.2f}x"
                "   (OpenDML file)")
            log(f"  check throughput                               "
                f"{os.path.getsize(odml) / r['odml.check'].median / 1e9:6.2f} GB/s   (OpenDML file)")

        spots_target = TARGET_SPOTS_VS_PLAIN * r["spots.plain"].median + self.spots_print
        spots_ratio = r["spots.check"].median / spots_target
        log(f"  {self.spots:,} spots / (undamaged twin; printing)     {r['spots.check'].median:8.3f} s against "
            f"{TARGET_SPOTS_VS_PLAIN:g} x {r['spots.plain'].median:.3f} s + {self.spots_print:.3f} s = "
            f"{spots_target:.3f} s: {spots_ratio:.2f}x")

        log("")
        log("peak memory of each zantrel run (budget: 16 MiB + 16 bytes per index entry)")
        mem_ok = True
        max_rss = 0
        for key, res in r.items():
            if not res.label.startswith("zantrel"):
                continue
            entries = self.entries_of.get(key.split(".")[0])
            if entries is None:
                m = [DONE_LINE.search(t) for t in res.outputs]
                entries = max((int(x.group(2)) + int(x.group(3)) for x in m if x), default=0)
            budget = MEMORY_BASE + MEMORY_PER_ENTRY * entries
            ok = res.peak_rss_bytes < budget
            mem_ok &= ok
            max_rss = max(max_rss, res.peak_rss_bytes)
            log(f"  {'pass' if ok else 'MISS'}  {key:<13} {res.label:<44} {res.peak_rss_bytes / MIB:6.2f} MiB"
                f"  < {budget / MIB:6.2f} MiB ({entries:,} entries; {res.rss_source})")

        log("")
        log("targets")
        targets = [
            (f"copy rebuild within {TARGET_COPY_VS_CAT}x of cat SRC > DST; sync DST", copy_vs_cat <= TARGET_COPY_VS_CAT,
             f"{copy_vs_cat:.2f}x"),
            (f"in-place rebuild within {TARGET_INPLACE_VS_CAT}x of cat SRC > DST",
             inplace_vs_cat <= TARGET_INPLACE_VS_CAT, f"{inplace_vs_cat:.2f}x"),
            (f"check at least {TARGET_CHECK_GBPS:g} GB of file per second", check_gbps >= TARGET_CHECK_GBPS,
             f"{check_gbps:.2f} GB/s"),
            (f"resync search at least {TARGET_RESYNC_MBPS:g} MB/s (measured)", direct >= TARGET_RESYNC_MBPS,
             f"{direct:.0f} MB/s"),
            (f"{self.spots:,} spots within {TARGET_SPOTS_VS_PLAIN:g}x the undamaged check + printing",
             spots_ratio <= 1.0, f"{r['spots.check'].median:.3f} s, {spots_ratio:.2f}x of {spots_target:.3f} s"),
            ("peak memory under 16 MiB + 16 B per index entry, every zantrel run", mem_ok,
             f"max {max_rss / MIB:.2f} MiB"),
        ]
        for text, ok, value in targets:
            log(f"  {'pass' if ok else 'MISS'}  {text:<62} {value}")
        if self.settings_seconds is not None:
            self.settings_target(self.settings_seconds)

        log("")
        wall = time.monotonic() - self.start_wall
        busy = busy_cpu_seconds()
        if busy is not None and self.start_busy is not None and wall > 0:
            others = max(0.0, (busy - self.start_busy) - (own_cpu_seconds() - self.start_own))
            log(f"other load: {others:.1f} CPU-seconds used by other processes and kernel threads over the "
                f"{wall:.0f} s of the run (on average {others / wall:.2f} of {os.cpu_count()} CPUs)")
            if others / wall > 0.25:
                log("  (a busy machine: the figures above are disturbed; run again when it is quiet)")

        log("")
        log("correctness checks made on the way (untimed)")
        for text, ok in self.checks:
            log(f"  {'ok  ' if ok else 'FAIL'}  {text}")
        if self.args.quick:
            log("")
            log("(--quick: the files are a tenth of the real size; the figures are a smoke test, not results)")


def main():
    ap = argparse.ArgumentParser(description="Zantrel benchmark (use bench/run)")
    ap.add_argument("--cli", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--no-ffmpeg", action="store_true")
    ap.add_argument("--settings-only", action="store_true")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be at least 1")
    bench = Bench(args)
    try:
        bench.run()
    finally:
        shutil.rmtree(bench.scratch, ignore_errors=True)
        for name in os.listdir(bench.work) if os.path.isdir(bench.work) else []:
            if name.startswith("Zantrel.") or name.endswith(".part.avi"):
                remove(os.path.join(bench.work, name))
    return 1 if any(not ok for _, ok in bench.checks) else 0


if __name__ == "__main__":
    sys.exit(main())
