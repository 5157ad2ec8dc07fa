#!/usr/bin/env python3
"""Where each file's bytes lie in a card image, cluster by cluster, found by
their contents alone: no file system structure is read, so what it says is
an oracle for a reader of that structure.

  locate-clusters.py IMAGE HEAP_OFFSET CLUSTER_BYTES CLUSTER_COUNT NAME=PATH...

Prints one line per file, in the form mshowfat uses, "NAME <a-b> <c>": its
clusters (numbered from 2 at HEAP_OFFSET) in order. Each cluster-sized block
of a file must match exactly one cluster of the image not already taken,
but a block that also matches the cluster after the file's previous one
(zeros, say) is taken there; a block matching nowhere, or in several places
with none of them following on, is an error."""
import collections
import sys

KEY = 64  # bytes of a block that index it


def main():
    image, heap, unit, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    with open(image, "rb") as f:
        f.seek(heap)
        data = f.read(unit * count)
    count = len(data) // unit
    index = collections.defaultdict(list)
    for c in range(count):
        index[data[c * unit:c * unit + KEY]].append(c)
    taken = set()
    for pair in sys.argv[5:]:
        name, path = pair.split("=", 1)
        with open(path, "rb") as f:
            content = f.read()
        chain = []
        for at in range(0, len(content), unit):
            block = content[at:at + unit]
            matches = [c for c in index.get(block[:KEY], []) if data[c * unit:c * unit + len(block)] == block] \
                if len(block) >= KEY else [c for c in range(count) if data[c * unit:c * unit + len(block)] == block]
            free = [c for c in matches if c not in taken]
            if chain and chain[-1] + 1 in free:
                c = chain[-1] + 1
            elif len(free) == 1:
                c = free[0]
            else:
                sys.exit(f"{name}: block at {at} found in {len(free)} free clusters")
            chain.append(c)
            taken.add(c)
        runs = []
        for c in chain:
            if runs and runs[-1][1] + 1 == c:
                runs[-1][1] = c
            else:
                runs.append([c, c])
        text = " ".join(f"<{a + 2}-{b + 2}>" if a != b else f"<{a + 2}>" for a, b in runs)
        print(f"{name} {text}")


main()
