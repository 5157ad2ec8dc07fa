#!/usr/bin/env python3
"""Makes the benchmark's synthetic AVI files (Python 3 standard library only).

The layout is that of a typical 90-minute, 25 fps film with interleaved
compressed audio: RIFF 'AVI ' with LIST hdrl (avih, one strl with strh/strf per
stream), a JUNK pad, LIST movi holding '00dc' video chunks of a few KiB and
'01wb' audio chunks of under 1 KiB in timestamp order, then an idx1 with one
16-byte entry per chunk (flags 0x10, offset from the position of the four bytes
"movi"). Payloads are random; odd-sized chunks are padded to even.

Kinds of file (--kind):
  plain     the film as described
  garbage   the same film, with --garbage-mb MiB of random bytes holding no
            chunk code the resynchronisation search stops at, inserted in the
            middle of movi at a chunk boundary (idx1 still describes the chunks,
            with their shifted offsets)
  garbonly  header, movi holding only the garbage followed by one video chunk,
            then idx1: checking it is almost nothing but the search
  spots     the film with --spots short runs of garbage (16 to 64 bytes, even,
            holding no resynchronisation code) spread evenly over movi at chunk
            boundaries: every run is one corrupted spot, two Messages Center
            lines ("Corrupted data found...", "Resuming...")
  manyspots --spots + 1 tiny '00dc' chunks (74 to 198 bytes of data) with a
            run of garbage as in 'spots' before every chunk but the first:
            the many-spots case, 400,000 spots in 80 MB. One stream only: a
            chunk of a stream not walked yet, followed by more garbage, is
            taken for part of the damage, and each run would not be one spot
  manyplain its undamaged twin of the same size: the same chunks, each
            chunk that a run of garbage follows in 'manyspots' longer by
            that run, so the same chunk count, no spot, the same file size

The same --seed gives byte-identical chunks in 'plain' and 'garbage'.
Prints one line: path, size in bytes, number of index entries, garbage bytes,
file offset of the garbage.
"""

import argparse
import os
import random
import re
import struct
import sys

FPS = 25
POOL_SIZE = 8 * 1024 * 1024

# Every code the resynchronisation search may stop at: a stream chunk id (two
# hexadecimal digits, then db/dc/pc/wb), idx1, REC and JUNK.
RESYNC_CODE = re.compile(rb"[0-9a-fA-F]{2}(?:db|dc|pc|wb)|idx1|REC |JUNK")


def chunk(code, data):
    out = code + struct.pack("<I", len(data)) + data
    if len(data) & 1:
        out += b"\0"
    return out


def list_(kind, body):
    return b"LIST" + struct.pack("<I", 4 + len(body)) + kind + body


def make_garbage(n, rng):
    """n random bytes in which no resynchronisation code occurs."""
    buf = bytearray(rng.randbytes(n))
    while True:
        hits = [m.start() for m in RESYNC_CODE.finditer(buf)]
        if not hits:
            return bytes(buf)
        for at in hits:
            buf[at + 3] = 0  # no code has a zero byte


def plan_chunks(video_count, audio_count, rng):
    """(code, size) of every movi chunk, in interleaved timestamp order."""
    seconds = video_count / FPS
    audio_step = seconds / audio_count if audio_count else 0.0
    # Compressed video: a key frame of ~24 KiB every 10 s, else 1.5-7.2 KiB
    # (a mean of ~4.4 KiB, about 600 MB for 135,000 frames).
    video = [rng.randint(20000, 28000) if i % 250 == 0 else rng.randint(1500, 7350) for i in range(video_count)]
    # 128 kbit/s audio, about 864 bytes per chunk; about one chunk in six odd-sized.
    audio = [864 + rng.choice((0, 0, 0, 0, 0, 1, -2, 2, 4, -4, -1, 3)) for _ in range(audio_count)]
    chunks = []
    vi = ai = 0
    while vi < video_count or ai < audio_count:
        if ai >= audio_count or (vi < video_count and vi / FPS <= ai * audio_step):
            chunks.append((b"00dc", video[vi]))
            vi += 1
        else:
            chunks.append((b"01wb", audio[ai]))
            ai += 1
    return chunks, sum(audio)


def plan_tiny_chunks(spot_count, rng):
    """(code, size) of the spot_count + 1 chunks of 'manyspots' and
    'manyplain', and the lengths of the runs of garbage between them."""
    chunks = [(b"00dc", rng.randint(74, 198)) for _ in range(spot_count + 1)]
    runs = [rng.randrange(16, 66, 2) for _ in range(spot_count)]
    return chunks, runs


def headers(video_count, audio_count, audio_bytes, width, height, max_video, movi_total):
    seconds = video_count / FPS
    avg_bytes = int(movi_total / seconds) if seconds else 0
    avih = struct.pack(
        "<10I4I",
        1000000 // FPS,  # microseconds per frame
        avg_bytes,  # max bytes per second
        0,  # padding granularity
        0x10 | 0x100,  # AVIF_HASINDEX | AVIF_ISINTERLEAVED
        video_count,
        0,
        2,  # streams
        max_video + 8,  # suggested buffer size
        width,
        height,
        0, 0, 0, 0,
    )
    vstrh = b"vids" + b"XVID" + struct.pack(
        "<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, FPS, 0, video_count, max_video + 8, 0xFFFFFFFF, 0, 0, 0, width, height
    )
    vstrf = struct.pack("<IiiHH4sIiiII", 40, width, height, 1, 24, b"XVID", width * height * 3, 0, 0, 0, 0)
    # CBR MPEG layer 3 as a byte stream: dwScale 1, dwRate = bytes per second.
    abps = int(audio_bytes / seconds) if seconds else 16000
    astrh = b"auds" + b"\0\0\0\0" + struct.pack(
        "<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, abps, 0, audio_bytes, 4096, 0xFFFFFFFF, 1, 0, 0, 0, 0
    )
    # MPEGLAYER3WAVEFORMAT: WAVEFORMATEX with 12 extra bytes.
    astrf = struct.pack("<HHIIHHH", 0x55, 2, 48000, abps, 1, 0, 12) + struct.pack("<HIHHH", 1, 2, 864, 1, 1393)
    hdrl = list_(
        b"hdrl",
        chunk(b"avih", avih)
        + list_(b"strl", chunk(b"strh", vstrh) + chunk(b"strf", vstrf))
        + list_(b"strl", chunk(b"strh", astrh) + chunk(b"strf", astrf)),
    )
    return hdrl


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("output")
    ap.add_argument("--kind", choices=("plain", "garbage", "garbonly", "spots", "manyspots", "manyplain"),
                    default="plain")
    ap.add_argument("--minutes", type=float, default=90.0, help="length of the film (default 90)")
    ap.add_argument("--audio-chunks", type=int, default=None, help="default: 100,000 per 90 minutes")
    ap.add_argument("--garbage-mb", type=float, default=100.0, help="MiB of garbage (default 100)")
    ap.add_argument("--spots", type=int, default=13613, help="runs of garbage for --kind spots, manyspots and manyplain (default 13,613)")
    ap.add_argument("--seed", type=int, default=20260)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    video_count = int(round(args.minutes * 60 * FPS))
    audio_count = args.audio_chunks if args.audio_chunks is not None else int(round(100000 * args.minutes / 90))
    garbage_len = int(args.garbage_mb * 1024 * 1024) & ~1 if args.kind in ("garbage", "garbonly") else 0
    if args.kind == "garbonly":
        video_count, audio_count = 1, 0
    tiny = args.kind in ("manyspots", "manyplain")
    if tiny:
        chunks, runs = plan_tiny_chunks(args.spots, rng)
        if args.kind == "manyplain":
            # The run before chunk k + 1 becomes part of chunk k.
            chunks = [(c, s + (runs[k] if k < len(runs) else 0)) for k, (c, s) in enumerate(chunks)]
        video_count = sum(1 for c, _ in chunks if c == b"00dc")
        audio_count = len(chunks) - video_count
        audio_bytes = sum(s for c, s in chunks if c == b"01wb")
    else:
        chunks, audio_bytes = plan_chunks(video_count, audio_count, rng)
    garbage = make_garbage(garbage_len, random.Random(args.seed + 1)) if garbage_len else b""
    pool = random.Random(args.seed + 2).randbytes(POOL_SIZE)
    pool_view = memoryview(pool)

    insert_at = 0 if args.kind == "garbonly" else len(chunks) // 2  # garbage goes before this chunk
    # --kind spots: chunk number -> the short run of garbage written before it.
    spots = {}
    if args.kind == "spots":
        spot_rng = random.Random(args.seed + 3)
        count = min(args.spots, len(chunks) - 1)
        for k in range(count):
            spots[1 + k * (len(chunks) - 1) // count] = make_garbage(spot_rng.randrange(16, 66, 2), spot_rng)
    elif args.kind == "manyspots":
        spot_rng = random.Random(args.seed + 3)
        spots = {k + 1: make_garbage(n, spot_rng) for k, n in enumerate(runs)}
    movi_body = sum(8 + s + (s & 1) for _, s in chunks) + len(garbage) + sum(len(g) for g in spots.values())
    max_video = max((s for c, s in chunks if c == b"00dc"), default=0)
    hdrl = headers(video_count, audio_count, audio_bytes, 720, 304, max_video, movi_body)

    # A JUNK pad so that the movi list starts on a 2 KiB boundary, as muxers do.
    before_movi = 12 + len(hdrl)
    pad = (-(before_movi + 8 + 12)) % 2048
    junk = chunk(b"JUNK", b"\0" * pad)
    movi_pos = before_movi + len(junk)  # position of the LIST header of movi
    movi_fourcc = movi_pos + 8  # position of the four bytes "movi"
    idx1_size = 16 * len(chunks)
    riff_size = 4 + len(hdrl) + len(junk) + 12 + movi_body + 8 + idx1_size
    entries = bytearray()
    garbage_offset = None

    with open(args.output, "wb", buffering=4 * 1024 * 1024) as f:
        f.write(b"RIFF" + struct.pack("<I", riff_size) + b"AVI ")
        f.write(hdrl)
        f.write(junk)
        f.write(b"LIST" + struct.pack("<I", 4 + movi_body) + b"movi")
        pos = movi_fourcc + 4
        for n, (code, size) in enumerate(chunks):
            if n == insert_at and garbage:
                garbage_offset = pos
                f.write(garbage)
                pos += len(garbage)
            if n in spots:
                f.write(spots[n])
                pos += len(spots[n])
            entries += struct.pack("<4sIII", code, 0x10, pos - movi_fourcc, size)
            start = rng.randrange(POOL_SIZE - size)
            f.write(code + struct.pack("<I", size))
            f.write(pool_view[start : start + size])
            if size & 1:
                f.write(b"\0")
            pos += 8 + size + (size & 1)
        f.write(b"idx1" + struct.pack("<I", idx1_size))
        f.write(entries)
        pos += 8 + idx1_size
    assert pos == os.path.getsize(args.output) == riff_size + 8, (pos, riff_size)
    garbage_bytes = len(garbage) + sum(len(g) for g in spots.values())
    print(args.output, pos, len(chunks), garbage_bytes, garbage_offset if garbage_offset is not None else -1)


if __name__ == "__main__":
    sys.exit(main())
