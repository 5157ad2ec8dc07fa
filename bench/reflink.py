#!/usr/bin/env python3
"""Zantrel benchmark on a file system that shares blocks between files.

Makes an image of XFS with reflink (or btrfs), mounts it through a loop device
in a temporary folder, puts the benchmark's film in it and times
`zantrel-cli rebuild` (copy) against `cp --reflink=always` and against
`zantrel-cli check` of the same film, then measures how much used space one
copy of each kind adds. Prints medians, ratios and pass/miss lines against the
targets; the image is unmounted and deleted at the end, whatever happens.

Needs root, mkfs.xfs (Debian package xfsprogs; mkfs.btrfs from btrfs-progs
for --fs btrfs), a free loop device and a built zantrel-cli. Python 3
standard library only; shares bench.py's timing and inputs (see README.md).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import Bench, fsync_path, human_bytes, log, remove, warm  # noqa: E402

TARGET_REBUILD_VS_CHECK = 1.5  # copy rebuild time / check time, at most
TARGET_SPACE_FRACTION = 0.01  # used space a copy rebuild adds / film size, below


def used_bytes(path):
    """Used space of the file system holding path, once everything is written
    and the blocks of deleted files are free again: XFS frees them a moment
    after the deletion, so the figure is read until it holds still."""
    def now():
        os.sync()
        st = os.statvfs(path)
        return (st.f_blocks - st.f_bfree) * st.f_frsize
    last = now()
    for _ in range(50):
        time.sleep(0.2)
        current = now()
        if current == last:
            break
        last = current
    return last


class LoopImage:
    """An image of fs_type, size bytes, mounted in a temporary folder under parent."""

    def __init__(self, parent, fs_type, size):
        self.folder = tempfile.mkdtemp(prefix="zantrel-reflink-", dir=parent)
        self.image = os.path.join(self.folder, fs_type + ".img")
        self.mount = os.path.join(self.folder, "mnt")
        self.mounted = False
        try:
            os.mkdir(self.mount)
            with open(self.image, "wb") as f:
                f.truncate(size)
            mkfs = ["mkfs.xfs", "-q", "-m", "reflink=1"] if fs_type == "xfs" else ["mkfs.btrfs", "-q"]
            subprocess.run(mkfs + [self.image], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["mount", "-o", "loop", self.image, self.mount], check=True)
            self.mounted = True
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.mounted and subprocess.run(["umount", self.mount]).returncode != 0:
            subprocess.run(["umount", "-l", self.mount])
        shutil.rmtree(self.folder, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description="Zantrel copy rebuild on a file system that shares blocks")
    ap.add_argument("--cli", default=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                                  "build-bench", "zantrel-cli"))
    ap.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "zantrel-bench"),
                    help="work folder: the film is cached there as by bench/run, the image made there")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="the 9-minute film (~70 MB) instead of the 90-minute one")
    ap.add_argument("--fs", choices=("xfs", "btrfs"), default="xfs")
    args = ap.parse_args()
    args.no_ffmpeg = True
    if args.runs < 1:
        ap.error("--runs must be at least 1")
    missing = [what for what, ok in [
        ("root", os.geteuid() == 0),
        (f"mkfs.{args.fs}", shutil.which(f"mkfs.{args.fs}") is not None),
        ("a loop device", os.path.exists("/dev/loop-control")),
        (f"zantrel-cli at {args.cli}", os.access(args.cli, os.X_OK)),
    ] if not ok]
    if missing:
        print("bench/reflink.py: needs " + ", ".join(missing), file=sys.stderr)
        return 2

    bench = Bench(args)
    os.makedirs(bench.scratch, exist_ok=True)
    # The parameters bench/run gives the same film, so that it is made once for both.
    minutes, garbage_mb = (9.0, 10.0) if args.quick else (90.0, 100.0)
    film, size, entries, _ = bench.generated("film.avi", "plain", minutes, garbage_mb)

    # Room for the film, a full copy should sharing fail, and the log.
    image = LoopImage(bench.work, args.fs, 2 * size + 512 * 1024 * 1024)
    try:
        src = os.path.join(image.mount, "film.avi")
        rebuilt = os.path.join(image.mount, "Zantrel.film.avi")
        clone = os.path.join(image.mount, "clone.avi")
        shutil.copyfile(film, src)
        fsync_path(src)
        log(f"Zantrel benchmark on {args.fs} with shared blocks"
            + (" (--quick: smoke test, small film)" if args.quick else ""))
        log(f"  image     {image.image}, mounted at {image.mount}")
        log(f"  film      {human_bytes(size)}, {entries:,} index entries")
        log("")
        log(f"timings: median of {args.runs} runs taken in turn after one warm-up round, warm page cache")

        # The three cases are run in turn, so that load from elsewhere on a
        # shared machine falls on all of them alike: their ratio is the figure.
        cases = [
            ("check", "zantrel-cli check", [bench.cli, "check", src], None),
            ("reflink", "cp --reflink=always SRC DST", ["cp", "--reflink=always", src, clone], clone),
            ("rebuild", "zantrel-cli rebuild (copy)", [bench.cli, "rebuild", src], rebuilt),
        ]
        times = {key: [] for key, _, _, _ in cases}
        os.sync()
        warm([src])
        for i in range(args.runs + 1):
            for key, label, argv, made in cases:
                if made:
                    remove(made)
                os.sync()
                dt, rc, _, text = bench.run_once(argv, capture=argv[0] == bench.cli)
                if rc != 0:
                    log(f"  !! {label}: exit status {rc}\n     " + text.strip().replace("\n", "\n     "))
                    raise SystemExit(1)
                if i == 0 and argv[0] == bench.cli:
                    bench.zantrel_verify(0, entries)(text)
                if made:
                    remove(made)
                if i > 0:  # the first round warms up
                    times[key].append(dt)
        for key, label, _, _ in cases:
            t = sorted(times[key])
            log(f"  {label:<46} {statistics.median(t):9.4f} s   (min {t[0]:.4f}, max {t[-1]:.4f})")

        # Space, untimed: what one copy of each kind adds to the used blocks.
        space = {}
        for key, argv, made in [("reflink", ["cp", "--reflink=always", src, clone], clone),
                                ("rebuild", [bench.cli, "rebuild", src], rebuilt)]:
            remove(made)
            before = used_bytes(image.mount)
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
            space[key] = used_bytes(image.mount) - before
            if key == "rebuild":
                same = subprocess.run(["cmp", "-s", src, rebuilt]).returncode == 0
                bench.checks.append(("rebuilt copy is identical to the source (its idx1 already describes "
                                     "every chunk)", same))
            remove(made)

        median = {key: statistics.median(t) for key, t in times.items()}
        vs_check = median["rebuild"] / median["check"]
        vs_reflink = median["rebuild"] / median["reflink"]
        fraction = space["rebuild"] / size
        log("")
        log("ratios and space")
        log(f"  zantrel rebuild (copy) / zantrel check         {vs_check:8.2f}x")
        log(f"  zantrel rebuild (copy) / cp --reflink=always   {vs_reflink:8.2f}x")
        log(f"  used space added by cp --reflink=always        {space['reflink'] / 1e6:8.2f} MB")
        log(f"  used space added by zantrel rebuild (copy)     {space['rebuild'] / 1e6:8.2f} MB"
            f"   ({100 * fraction:.2f}% of the film)")
        log("")
        log("targets")
        for text, ok, value in [
            (f"copy rebuild within {TARGET_REBUILD_VS_CHECK}x of check", vs_check <= TARGET_REBUILD_VS_CHECK,
             f"{vs_check:.2f}x"),
            (f"copy rebuild adds under {100 * TARGET_SPACE_FRACTION:g}% of the film in used space",
             fraction < TARGET_SPACE_FRACTION, f"{100 * fraction:.2f}%"),
        ]:
            log(f"  {'pass' if ok else 'MISS'}  {text:<62} {value}")
        log("")
        log("correctness checks made on the way (untimed)")
        for text, ok in bench.checks:
            log(f"  {'ok  ' if ok else 'FAIL'}  {text}")
    finally:
        image.close()
        shutil.rmtree(bench.scratch, ignore_errors=True)
    return 1 if any(not ok for _, ok in bench.checks) else 0


if __name__ == "__main__":
    sys.exit(main())
