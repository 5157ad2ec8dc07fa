#!/usr/bin/env bash
# How demo/damaged.avi was made (kept for reference; the file itself is
# committed so that the demo needs neither ffmpeg nor Python):
#  - 6 s of ffmpeg's test picture (MPEG-4 Visual) with a 440 Hz tone (PCM);
#  - its idx1 index removed, as when a download stops before the end;
#  - 3 KiB of random bytes written over three chunks in the middle;
#  - a zero-filled tail of 40 KiB, as a pre-allocating download leaves it.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/damaged.avi"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc=size=192x144:rate=25 -f lavfi -i sine=frequency=440:sample_rate=22050 \
  -t 6 -c:v mpeg4 -q:v 6 -c:a pcm_s16le -fflags +bitexact "$tmp/clean.avi"
python3 - "$tmp/clean.avi" "$out" <<'PY'
import random, struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
idx1 = data.rfind(b'idx1')
movi = data.find(b'movi') - 8
del data[idx1:]
# chunk headers inside movi
pos, chunks = movi + 12, []
while pos + 8 <= len(data):
    size = struct.unpack_from('<I', data, pos + 4)[0]
    chunks.append(pos)
    pos += 8 + size + (size & 1)
start = chunks[len(chunks) // 2]
rnd = random.Random(20261208)
for i in range(start, start + 3072):
    data[i] = rnd.randrange(256)
data += bytes(40960)
open(sys.argv[2], 'wb').write(data)
PY
echo "wrote $out"
