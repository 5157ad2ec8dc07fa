#!/usr/bin/env bash
# Builds exFAT memory card images as make-card-image.sh builds FAT ones, with
# the same photos, other files and films in the same order: formatted by
# mkfs.exfat, filled through exfat-fuse, every other small file deleted, the
# rest of the card taken by one large file, then the films copied in, so
# that they land in the holes in pieces; last the films are deleted
# (deleted.img), or, on a copy, the FAT, the allocation bitmap and the root
# directory are zeroed (zeroed.img).
#
#   make-exfat-card-image.sh CLUSTER_BYTES IMAGE_MIB SOURCES FOLDER
#
# FILMS and SOURCES as for make-card-image.sh. exfat-fuse writes the files,
# through a loop device (run as root it wants a block device); the mount
# runs at UTC+02:00, which exFAT records beside each time. FOLDER receives
# the images and what the tools say of the card, in make-card-image.sh's
# forms where they match:
#   geometry.tsv  key<TAB>value lines from dump.exfat
#   files.tsv     name, size, state at the end of deleted.img, kind, first
#                 cluster, cluster count, pieces, (no 8.3 name), the time
#                 as the mount showed it at UTC+02:00 ("2024-05-06 9:08"),
#                 and its mtime in seconds since the epoch, with its fraction
#   chains.txt    each file's clusters, found by locate-clusters.py from its
#                 bytes alone, before any file was deleted
#   free.txt      the bytes free on deleted.img, from dump.exfat's free clusters
#   fsck.txt      fsck.exfat -n's verdict on deleted.img
# Exits 77, with the reason on stderr, where it cannot mount: not root, no
# /dev/fuse, no free loop device, or a tool missing (exfatprogs, exfat-fuse).
set -euo pipefail

cluster=$1 mib=$2 src=$3 out=$4
films_set=${FILMS:-two}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/card-sources.sh"

skip() { echo "$*" >&2; exit 77; }
[ "$(id -u)" = 0 ] || skip "not root (exfat-fuse mounts through a loop device)"
[ -c /dev/fuse ] || skip "no /dev/fuse"
for tool in mkfs.exfat dump.exfat fsck.exfat mount.exfat-fuse losetup python3 ffmpeg; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs exfatprogs and exfat-fuse)"
done
make_card_sources "$src"
card_file_lists
export TZ=UTC-2
cd "$out"
out=$(pwd)
img=deleted.img
rm -f "$img" zeroed.img
truncate -s "${mib}M" "$img"
mkfs.exfat -c "$cluster" -L CARD "$img" >/dev/null

mnt=$out/mnt dev=
mkdir -p "$mnt"
unmount() {
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
  if [ -n "$dev" ]; then losetup -d "$dev" || true; fi
  dev=
}
trap unmount EXIT
mount_card() {
  dev=$(losetup -f --show "$img") || skip "no free loop device"
  mount.exfat-fuse "$dev" "$mnt" >/dev/null 2>&1 || skip "mount.exfat-fuse failed on $dev"
}

mount_card
photos=$mnt/DCIM/100PHOTO videos=$mnt/DCIM/101VIDEO
mkdir -p "$photos" "$videos"
for name in "${small[@]}"; do cp --preserve=timestamps "$src/$name" "$photos/"; done
# The rest of the card in one file but a cluster; each of its clusters is
# stamped with its number, so that its bytes can be found again.
free=$(stat -f -c '%a * %S' "$mnt")
python3 - "$((free - cluster))" "$cluster" >filler.bin <<'PY'
import sys
n, unit = int(sys.argv[1]), int(sys.argv[2])
out = sys.stdout.buffer
for i in range(0, n, unit):
    out.write((b"filler %012d " % i).ljust(min(unit, n - i), b"."))
PY
cp filler.bin "$mnt/"
unmount

geometry() { dump.exfat "$img" 2>/dev/null | awk -F': *' -v k="$1" '$1 ~ k { gsub(/[ \t]/, "", $2); print $2; exit }'; }
heap_sectors=$(geometry "^Cluster Heap Offset") sector_bits=$(geometry "^Sector Size Bits")
count=$(geometry "^Cluster Count")
{
  printf 'sector size\t%s\n' $((1 << sector_bits))
  printf 'cluster bytes\t%s\n' $(((1 << sector_bits) << $(geometry "^Sector per Cluster bits")))
  printf 'fat offset\t%s\n' "$(geometry "^FAT Offset")"
  printf 'fat length\t%s\n' "$(geometry "^FAT Length")"
  printf 'heap offset\t%s\n' "$heap_sectors"
  printf 'cluster count\t%s\n' "$count"
  printf 'root cluster\t%s\n' "$(geometry "^Root Cluster")"
  printf 'volume sectors\t%s\n' "$(geometry "^Volume Length")"
  printf 'bitmap cluster\t%s\n' "$(geometry "^Bitmap start cluster")"
  printf 'bitmap bytes\t%s\n' "$(geometry "^Bitmap size")"
} >geometry.tsv
get() { awk -F'\t' -v k="$1" '$1 == k { print $2 }' geometry.tsv; }
[ "$(get "cluster bytes")" = "$cluster" ]
# Where each file's bytes lie, found from the bytes alone, before any is
# deleted; the filler's are in filler.bin, the others' in SOURCES.
locate() { python3 "$here/locate-clusters.py" "$img" $((heap_sectors << sector_bits)) "$cluster" "$count" "$@"; }
specs=()
for name in "${small[@]}"; do specs+=("::/DCIM/100PHOTO/$name=$src/$name"); done
locate "${specs[@]}" "::/filler.bin=$out/filler.bin" >chains.txt
rm filler.bin

mount_card
gone=()
for ((i = 0; i < ${#small[@]}; i += 2)); do gone+=("${small[i]}"); done
for name in "${gone[@]}"; do rm "$photos/$name"; done
for name in "${films[@]}"; do cp --preserve=timestamps "$src/$name" "$videos/"; done
# What the mount shows of the films before they are deleted.
for name in "${films[@]}"; do
  stat -c "%n	%s	%.9Y" "$videos/$name"
done | sed "s|^$videos/||" >mtimes.tsv
unmount
specs=()
for name in "${films[@]}"; do specs+=("::/DCIM/101VIDEO/$name=$src/$name"); done
locate "${specs[@]}" >>chains.txt

for name in "${small[@]}" filler.bin "${films[@]}"; do
  kind_and_state "$name"
  if [ "$kind" = filler ]; then size=$((free - cluster)); else size=$(stat -c %s "$src/$name"); fi
  chain_row "$name" "$size" "$state" "$kind"
  mtime=$(awk -F'\t' -v n="$name" '$1 == n { print $3 }' mtimes.tsv)
  if [ -n "$mtime" ]; then
    printf '\t\t%s\t%s\n' "$(date -d "@${mtime%.*}" '+%Y-%m-%d %-H:%M')" "$mtime"
  else
    printf '\t\t\t\n'
  fi
done >files.tsv

# The copy whose FAT, bitmap and root directory are zeroed, the boot region left.
cp --sparse=always "$img" zeroed.img
zero() { dd if=/dev/zero of=zeroed.img bs=512 seek="$1" count="$2" conv=notrunc status=none; }
zero $(($(get "fat offset") << (sector_bits - 9))) $(($(get "fat length") << (sector_bits - 9)))
heap512=$((heap_sectors << (sector_bits - 9)))
zero $((heap512 + ($(get "root cluster") - 2) * cluster / 512)) $((cluster / 512))
bitmap_clusters=$((($(get "bitmap bytes") + cluster - 1) / cluster))
zero $((heap512 + ($(get "bitmap cluster") - 2) * cluster / 512)) $((bitmap_clusters * cluster / 512))

mount_card
for name in "${films[@]}"; do rm "$videos/$name"; done
unmount
free_clusters=$(dump.exfat "$img" 2>/dev/null | awk -F': *' '/^Free Clusters/ { gsub(/[ \t]/, "", $2); print $2 }')
echo $((free_clusters * cluster)) >free.txt
fsck.exfat -n "$img" >fsck.txt 2>&1
rm -f mtimes.tsv
rmdir "$mnt"
