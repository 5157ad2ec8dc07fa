#!/usr/bin/env python3
"""Measures how well `zantrel-cli recover` brings films back from memory card
images, beside PhotoRec, judged by decoding rather than by anything either
program says of itself.

Card images come from tests/support/make-card-image.sh with FILMS=six (six
films from four kinds of camera, each in several pieces between photos and
other files) for FAT32 with 4 KiB clusters and FAT16 with 32 KiB clusters,
and from tests/support/make-exfat-card-image.sh for exFAT with 4 KiB
clusters (where it can mount: as root, with FUSE; else that layout is left
out and said so), each as deleted.img (the films deleted) and zeroed.img
(FATs and root directory zeroed; on exFAT the allocation bitmap too), and a
third the oracle makes from zeroed.img, bare.img, whose folders' clusters
are zeroed as well (on exFAT: every cluster that holds no file's bytes): no
directory entry is left to say where a film starts or how long it is, so
only carving finds them.
Every image is recovered by both programs into its own
folder; then every original film and every recovered file is decoded with
ffmpeg into one MD5 per video frame, and per image and program the table
gives:

  frames    the original films' frames whose hash some recovered file holds
            (each original frame counted once), out of all of them
  whole     films of which one recovered file holds every frame, in order
            and with nothing between them
  foreign   decoded frames of the recovered files that are no frame of any
            original film (garbage decoded, or a frame damaged by a wrong
            piece)
  audio     films of which one recovered file decodes to the very same
            audio samples (one MD5 over all of them, so a different cutting
            into chunks does not count against it)
  identical films of which one recovered file is the original byte for byte
            (more than a rebuilt index needs, so informative only)
  files     files the program wrote
  seconds   wall time of the program's run
  image     whether the image's SHA-256 is the same after the run

Below the table, each film that is not whole is listed with its missing
frames and the recovered file that holds most of it, and each recovered file
with foreign frames with where they lie.

  scripts/recover-oracle.py [--cli PATH] [--photorec PATH] [--films six|scattered] [--keep DIR]

Needs ffmpeg, mtools, dosfstools and photorec (the testdisk package), and
for exFAT exfatprogs and exfat-fuse (scripts/setup.sh installs them all).
Images and outputs go to a temporary folder that is removed at the end, or
to DIR with --keep (outside the repository).
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAKE_CARD = os.path.join(REPO, "tests", "support", "make-card-image.sh")
MAKE_EXFAT_CARD = os.path.join(REPO, "tests", "support", "make-exfat-card-image.sh")

# name, then make-card-image.sh's BITS CLUSTER_BYTES IMAGE_MIB ("exfat" for
# make-exfat-card-image.sh's CLUSTER_BYTES IMAGE_MIB)
LAYOUTS = [
    ("fat32-4k", "32", "4096", "288"),
    ("fat16-32k", "16", "32768", "136"),
    ("exfat-4k", "exfat", "4096", "288"),
]
IMAGES = ["deleted.img", "zeroed.img", "bare.img"]
FOLDERS = ["::DCIM", "::DCIM/100PHOTO", "::DCIM/101VIDEO"]
TOOLS = ["zantrel", "photorec"]


def read_geometry(folder):
    """The image builder's geometry.tsv: key -> number."""
    geometry = {}
    with open(os.path.join(folder, "geometry.tsv")) as f:
        for line in f:
            key, _tab, value = line.rstrip("\n").partition("\t")
            geometry[key] = int(value)
    return geometry


def make_bare(folder):
    """bare.img: zeroed.img with the clusters of the card's folders zeroed
    too, found with mshowfat on deleted.img, whose FAT still holds them."""
    geometry = read_geometry(folder)
    sector = geometry["sector size"]
    fatlen = geometry["fat sectors16"] or geometry["fat sectors32"]
    root_sectors = (geometry["root slots"] * 32 + sector - 1) // sector
    data_start = geometry["reserved"] + geometry["fats"] * fatlen + root_sectors
    cluster = geometry["cluster sectors"] * sector
    listing = subprocess.run(
        ["mshowfat", "-i", os.path.join(folder, "deleted.img")] + FOLDERS,
        env=dict(os.environ, MTOOLS_SKIP_CHECK="1"), stdout=subprocess.PIPE,
        check=True).stdout.decode()
    clusters = []
    for line in listing.splitlines():
        for piece in line.split()[1:]:
            ends = piece.strip("<>").split("-")
            clusters.extend(range(int(ends[0]), int(ends[-1]) + 1))
    if len(clusters) < len(FOLDERS):
        sys.exit("mshowfat gave no clusters for the folders: %r" % listing)
    bare = os.path.join(folder, "bare.img")
    shutil.copyfile(os.path.join(folder, "zeroed.img"), bare)
    with open(bare, "r+b") as f:
        for c in clusters:
            f.seek(data_start * sector + (c - 2) * cluster)
            f.write(bytes(cluster))


def make_exfat_bare(folder):
    """bare.img on exFAT: zeroed.img with every cluster of the heap zeroed
    that holds no file's bytes as chains.txt found them, the folders' among
    them."""
    geometry = read_geometry(folder)
    sector = geometry["sector size"]
    cluster = geometry["cluster bytes"]
    files = set()
    with open(os.path.join(folder, "chains.txt")) as f:
        for line in f:
            for piece in line.split()[1:]:
                ends = piece.strip("<>").split("-")
                files.update(range(int(ends[0]), int(ends[-1]) + 1))
    if not files:
        sys.exit("chains.txt lists no clusters in %s" % folder)
    bare = os.path.join(folder, "bare.img")
    shutil.copyfile(os.path.join(folder, "zeroed.img"), bare)
    with open(bare, "r+b") as f:
        for c in range(2, geometry["cluster count"] + 2):
            if c not in files:
                f.seek(geometry["heap offset"] * sector + (c - 2) * cluster)
                f.write(bytes(cluster))


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def frame_hashes(path):
    """The MD5 of each decoded video frame, in decoding order; [] where
    ffmpeg finds no video stream at all."""
    try:
        run = subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v",
             "-f", "framemd5", "-"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300)
    except subprocess.TimeoutExpired:
        return []
    hashes = []
    for line in run.stdout.decode("ascii", "replace").splitlines():
        if not line or line.startswith("#"):
            continue
        fields = [f.strip() for f in line.split(",")]
        if len(fields) >= 6:
            hashes.append(fields[-1])
    return hashes


def audio_hash(path):
    """One MD5 over all decoded samples of the first audio stream, or None."""
    try:
        run = subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0",
             "-f", "md5", "-"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300)
    except subprocess.TimeoutExpired:
        return None
    text = run.stdout.decode("ascii", "replace").strip()
    return text if run.returncode == 0 and text.startswith("MD5=") else None


def ranges(indices, keep_order=False):
    """[0, 1, 2, 5, 7, 8] -> "0-2,5,7-8"; in the order given with keep_order,
    so that frames out of order or twice show as such."""
    out = []
    if not keep_order:
        indices = sorted(indices)
    i = 0
    while i < len(indices):
        j = i
        while j + 1 < len(indices) and indices[j + 1] == indices[j] + 1:
            j += 1
        out.append(str(indices[i]) if i == j else "%d-%d" % (indices[i], indices[j]))
        i = j + 1
    return ",".join(out)


def contains_run(seq, run):
    """Whether run appears in seq as consecutive items."""
    n = len(run)
    if n == 0:
        return True
    first = run[0]
    for start in range(len(seq) - n + 1):
        if seq[start] == first and seq[start:start + n] == run:
            return True
    return False


def recovered_files(folder):
    found = []
    for root, _dirs, names in os.walk(folder):
        for name in names:
            if name.endswith(".log") or name == "report.xml":
                continue
            found.append(os.path.join(root, name))
    return sorted(found)


def run_zantrel(cli, image, out):
    os.makedirs(out)
    start = time.monotonic()
    with open(os.path.join(out, "..", os.path.basename(out) + ".log"), "wb") as log:
        rc = subprocess.run([cli, "recover", image, out], stdin=subprocess.DEVNULL,
                            stdout=log, stderr=subprocess.STDOUT, timeout=1800).returncode
    return rc, time.monotonic() - start


def run_photorec(photorec, image, out):
    # PhotoRec writes photorec.log into its working folder and its files into
    # recup_dir.1, recup_dir.2, ...; the whole image as one "partition" of a
    # card without a partition table, every sector searched, AVI (riff) only.
    os.makedirs(out)
    start = time.monotonic()
    with open(os.path.join(out, "photorec.screen"), "wb") as screen:
        rc = subprocess.run(
            [photorec, "/log", "/d", os.path.join(out, "recup"), "/cmd", image,
             "partition_none,fileopt,everything,disable,riff,enable,wholespace,search"],
            cwd=out, stdin=subprocess.DEVNULL, stdout=screen, stderr=subprocess.STDOUT,
            timeout=1800).returncode
    return rc, time.monotonic() - start


def judge(originals, files, sums):
    """originals: {film: [hash...]}; files: {path: [hash...]}; sums: the
    audio hashes and SHA-256 of originals and files, {path or film: (audio, sha)}."""
    owner = {}
    for film, hashes in originals.items():
        for h in hashes:
            owner.setdefault(h, film)
    everywhere = set()
    for hashes in files.values():
        everywhere.update(hashes)
    total = sum(len(h) for h in originals.values())
    got = sum(1 for hashes in originals.values() for h in hashes if h in everywhere)
    whole = []
    lacking = {}
    for film, hashes in originals.items():
        if any(contains_run(seq, hashes) for seq in files.values()):
            whole.append(film)
            continue
        missing = [i for i, h in enumerate(hashes) if h not in everywhere]
        own = set(hashes)
        best = max(files, key=lambda p: sum(1 for h in files[p] if h in own), default=None)
        best_count = sum(1 for h in files[best] if h in own) if best else 0
        lacking[film] = (missing, best if best_count else None, best_count)
    foreign = {}
    for path, hashes in files.items():
        at = [i for i, h in enumerate(hashes) if h not in owner]
        if at:
            foreign[path] = at
    audio = [film for film in originals
             if sums[film][0] and any(sums[p][0] == sums[film][0] for p in files)]
    identical = [film for film in originals
                 if any(sums[p][1] == sums[film][1] for p in files)]
    return {
        "audio": audio, "identical": identical,
        "total": total, "got": got, "whole": whole, "lacking": lacking,
        "foreign": foreign, "foreign_count": sum(len(a) for a in foreign.values()),
    }


def describe_file(path, hashes, originals, owner_index):
    """Which original frames a recovered file holds, as film[ranges]."""
    parts = []
    run_film, run_idx = None, []
    for h in hashes:
        hit = owner_index.get(h)
        film = hit[0] if hit else "foreign"
        idx = hit[1] if hit else None
        if film != run_film and run_film is not None:
            parts.append((run_film, run_idx))
            run_idx = []
        run_film = film
        run_idx.append(idx)
    if run_film is not None:
        parts.append((run_film, run_idx))
    text = []
    for film, idx in parts:
        if film == "foreign":
            text.append("%d foreign" % len(idx))
        else:
            text.append("%s[%s]" % (film, ranges(idx, keep_order=True)))
    return " + ".join(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", default=os.path.join(REPO, "build", "zantrel-cli"))
    parser.add_argument("--photorec", default=shutil.which("photorec") or "photorec")
    parser.add_argument("--films", choices=["six", "scattered"], default="six",
                        help="the card layout: six films in a few pieces each, or in many (scattered)")
    parser.add_argument("--keep", metavar="DIR",
                        help="build the images and outputs in DIR and leave them there")
    args = parser.parse_args()

    cli = os.path.abspath(args.cli)
    if not os.access(cli, os.X_OK):
        sys.exit("no zantrel-cli at %s (build it, or give --cli)" % cli)
    for tool in ("ffmpeg", "mcopy", "mkfs.fat"):
        if not shutil.which(tool):
            sys.exit("%s is missing: run scripts/setup.sh" % tool)
    if not shutil.which(args.photorec) and not os.access(args.photorec, os.X_OK):
        sys.exit("photorec is missing: run scripts/setup.sh (package testdisk)")

    if args.keep:
        work = os.path.abspath(args.keep)
        if os.path.commonpath([work, REPO]) == REPO:
            sys.exit("--keep must be outside the repository")
        os.makedirs(work, exist_ok=True)
    else:
        work = tempfile.mkdtemp(prefix="recover-oracle-")
    try:
        return oracle(cli, args.photorec, work, args.films)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("\nImages and outputs kept in %s" % work)


def oracle(cli, photorec, work, films_set):
    sources = os.path.join(work, "sources")
    rows = []
    details = []
    originals = None
    owner_index = {}
    for layout, bits, cluster, mib in LAYOUTS:
        folder = os.path.join(work, layout)
        os.makedirs(folder, exist_ok=True)
        env = dict(os.environ, FILMS=films_set)
        if bits == "exfat":
            made = subprocess.run(["bash", MAKE_EXFAT_CARD, cluster, mib, sources, folder],
                                  env=env, stderr=subprocess.PIPE)
            if made.returncode == 77:
                print("%s left out: %s" % (layout, made.stderr.decode().strip()))
                continue
            if made.returncode != 0:
                sys.exit("make-exfat-card-image.sh failed: %s" % made.stderr.decode())
            make_exfat_bare(folder)
        else:
            subprocess.run(["bash", MAKE_CARD, bits, cluster, mib, sources, folder],
                           env=env, check=True)
            make_bare(folder)
        if originals is None:
            films = []
            with open(os.path.join(folder, "files.tsv")) as f:
                for line in f:
                    cols = line.rstrip("\n").split("\t")
                    if len(cols) > 3 and cols[3] == "film":
                        films.append(cols[0])
            originals = {film: frame_hashes(os.path.join(sources, film)) for film in films}
            sums = {film: (audio_hash(os.path.join(sources, film)),
                           sha256(os.path.join(sources, film))) for film in films}
            for film, hashes in originals.items():
                if not hashes:
                    sys.exit("ffmpeg decodes no frame of %s" % film)
                for i, h in enumerate(hashes):
                    owner_index.setdefault(h, (film, i))
        for image_name in IMAGES:
            image = os.path.join(folder, image_name)
            before = sha256(image)
            for tool in TOOLS:
                out = os.path.join(folder, "%s-%s" % (os.path.splitext(image_name)[0], tool))
                if os.path.exists(out):
                    shutil.rmtree(out)
                if tool == "zantrel":
                    rc, seconds = run_zantrel(cli, image, out)
                else:
                    rc, seconds = run_photorec(photorec, image, out)
                unchanged = sha256(image) == before
                files = {p: frame_hashes(p) for p in recovered_files(out)}
                for p in files:
                    sums[p] = (audio_hash(p), sha256(p))
                verdict = judge(originals, files, sums)
                label = "%s %s" % (layout, image_name)
                rows.append((label, tool, rc, verdict, len(files), seconds, unchanged))
                details.append((label, tool, out, files, verdict))
    print_table(rows, originals)
    print_details(details, originals, owner_index)
    return 0


def print_table(rows, originals):
    nfilms = len(originals)
    print("| image | tool | exit | frames | whole | foreign | audio | identical | files | seconds | image unchanged |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    totals = {}
    for label, tool, rc, v, nfiles, seconds, unchanged in rows:
        print("| %s | %s | %d | %d/%d (%.1f%%) | %d/%d | %d | %d/%d | %d/%d | %d | %.2f | %s |" % (
            label, tool, rc, v["got"], v["total"], 100.0 * v["got"] / v["total"],
            len(v["whole"]), nfilms, v["foreign_count"], len(v["audio"]), nfilms,
            len(v["identical"]), nfilms, nfiles, seconds, "yes" if unchanged else "NO"))
        t = totals.setdefault(tool, [0, 0, 0, 0, 0, 0.0, 0, 0, 0, 0])
        t[0] += v["got"]; t[1] += v["total"]; t[2] += len(v["whole"]); t[3] += nfilms
        t[4] += v["foreign_count"]; t[5] += seconds; t[6] += unchanged; t[7] += 1
        t[8] += len(v["audio"]); t[9] += len(v["identical"])
    for tool, t in totals.items():
        print("| **total** | %s | | %d/%d (%.1f%%) | %d/%d | %d | %d/%d | %d/%d | | %.2f | %d/%d |" % (
            tool, t[0], t[1], 100.0 * t[0] / t[1], t[2], t[3], t[4], t[8], t[3], t[9], t[3],
            t[5], t[6], t[7]))


def print_details(details, originals, owner_index):
    print("\nFilms (frames per film: %s)" % ", ".join(
        "%s %d" % (film, len(h)) for film, h in originals.items()))
    for label, tool, out, files, v in details:
        lines = []
        for film, (missing, best, count) in v["lacking"].items():
            where = ("most in %s (%d of %d frames), which holds %s" % (
                os.path.relpath(best, out), count, len(originals[film]),
                describe_file(best, files[best], originals, owner_index))
                     if best else "in no recovered file")
            lines.append("  %s not whole: missing frames [%s], %s" % (
                film, ranges(missing) if missing else "none (all present but not in one run)",
                where))
        for path, at in v["foreign"].items():
            lines.append("  %s: %d foreign frames at [%s] of %d; holds %s" % (
                os.path.relpath(path, out), len(at), ranges(at), len(files[path]),
                describe_file(path, files[path], originals, owner_index)))
        if lines:
            print("\n%s, %s:" % (label, tool))
            print("\n".join(lines))


if __name__ == "__main__":
    sys.exit(main())
