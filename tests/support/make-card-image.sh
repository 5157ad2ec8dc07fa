#!/usr/bin/env bash
# Builds memory card images the way a camera's card gets them: formatted,
# filled with photos and other files, every other one deleted, the rest of
# the card taken by one large file, then films copied in. The card is full
# after the filler, so the allocator wraps into the holes the deletions left
# and each film lands in several pieces. Last, the films are deleted
# (deleted.img), or, on a copy, the FATs and the root directory are zeroed
# (zeroed.img: a card that "needs formatting").
#
#   make-card-image.sh BITS CLUSTER_BYTES IMAGE_MIB SOURCES FOLDER
#
# With FILMS=six in the environment the card gets four more films, as other
# cameras make them (MJPEG and PCM at 640x480 and at 1280x720, MPEG-4 and
# MP3, H.264 and MP3), and sixteen larger other files whose deleted half
# leaves the holes those films need; SOURCES then keeps its own marker, so a
# folder filled for two films is filled again for six. FILMS=scattered
# makes the same six films lie in many more pieces: the holes come from 160
# more files of 60 to 220 KB instead.
#
# SOURCES holds the photos and films, made there by the first call and
# taken as they are by the next ones. FOLDER (which must exist) receives the
# two images and what mtools itself says of the card, for the tests to hold
# a reader against:
#   geometry.tsv  key<TAB>value lines from minfo
#   files.tsv     name (photos and other files in /DCIM/100PHOTO, films in
#                 /DCIM/101VIDEO, the filler in the root), size, state at the end of deleted.img (live|deleted),
#                 kind (photo|other|filler|film), first cluster, cluster count
#                 and pieces as mshowfat listed them before the file was
#                 deleted, the 8.3 name as mdir showed it, and its date and
#                 time as mdir showed them
#   chains.txt    mshowfat's lines, "::/folder/name <a-b> <c>"
#   free.txt      mdir's "bytes free" on deleted.img
# Needs mkfs.fat (dosfstools), mcopy, mdel, mdir, minfo, mshowfat (mtools)
# and ffmpeg; no mounting, no root.
set -euo pipefail

bits=$1 cluster=$2 mib=$3 src=$4 out=$5
export MTOOLS_SKIP_CHECK=1
sector=512
films_set=${FILMS:-two}
. "$(dirname "${BASH_SOURCE[0]}")/card-sources.sh"
make_card_sources "$src"

cd "$out"
img=deleted.img
rm -f "$img" zeroed.img
truncate -s "${mib}M" "$img"
mkfs.fat -F "$bits" -S "$sector" -s $((cluster / sector)) -n CARD "$img" >/dev/null 2>&1

card_file_lists
# Photos in one folder and films in another, as cameras keep them: a film's
# entry never takes the slot of a deleted photo's.
photos=::DCIM/100PHOTO videos=::DCIM/101VIDEO
mmd -i "$img" ::DCIM "$photos" "$videos"
mcopy -m -i "$img" "${small[@]/#/$src/}" "$photos"
# The rest of the card in one file but a cluster, which the films' first
# piece then takes before the allocator wraps.
free=$(mdir -i "$img" :: | awk '/bytes free/ { gsub(/[^0-9]/, "", $0); print }')
truncate -s $((free - cluster)) filler.bin
mcopy -i "$img" filler.bin ::
rm filler.bin

# Where each file lies, as mshowfat says, before any is deleted: "::/name <a-b> <c-d>".
mshowfat -i "$img" "${small[@]/#/$photos/}" ::filler.bin >chains.txt
gone=()
for ((i = 0; i < ${#small[@]}; i += 2)); do gone+=("${small[i]}"); done
mdel -i "$img" "${gone[@]/#/$photos/}"
mcopy -m -i "$img" "${films[@]/#/$src/}" "$videos"
mshowfat -i "$img" "${films[@]/#/$videos/}" >>chains.txt
# mdir's lines: short name, extension, size, date, time, then the long name if any.
mdir -a -i "$img" :: "$photos" "$videos" >listing.txt

for name in "${small[@]}" filler.bin "${films[@]}"; do
  kind_and_state "$name"
  size=$(awk -v n="$name" '$NF == n || ($1 "." $2) == n { print $3; exit }' listing.txt)
  [ -n "$size" ] || size=$(stat -c %s "$src/$name")
  chain_row "$name" "$size" "$state" "$kind"
  # The 8.3 name and the date mdir shows (files deleted before the listing
  # have none).
  awk -v n="$name" 'BEGIN { IGNORECASE = 1 } $3 ~ /^[0-9]+$/ && ($NF == n || ($1 "." $2) == n) {
      printf "\t%s.%s\t%s %s", $1, $2, $4, $5; found = 1; exit }
    END { if (!found) printf "\t\t"; print "" }' listing.txt
done >files.tsv

{
  printf 'bits\t%s\n' "$bits"
  minfo -i "$img" :: | awk -F': *|=' '
    /^sector size/ { split($2, a, " "); print "sector size\t" a[1] }
    /^cluster size/ { split($2, a, " "); print "cluster sectors\t" a[1] }
    /^reserved \(boot\) sectors/ { print "reserved\t" $2 }
    /^fats/ { print "fats\t" $2 }
    /^max available root directory slots/ { print "root slots\t" $2 }
    /^sectors per fat/ { print "fat sectors16\t" $2 }
    /^Big fatlen/ { print "fat sectors32\t" $2 }
    /^small size/ { split($2, a, " "); print "small size\t" a[1] }
    /^big size/ { split($2, a, " "); print "big size\t" a[1] }
    /^rootCluster/ { print "root cluster\t" $2 }'
} >geometry.tsv

# The copy whose FATs and root directory are zeroed, the boot sector left.
cp --sparse=always "$img" zeroed.img
get() { awk -F'\t' -v k="$1" '$1 == k { print $2 }' geometry.tsv; }
reserved=$(get reserved) fats=$(get fats) slots=$(get "root slots") fatlen=$(get "fat sectors16")
[ "$fatlen" = 0 ] && fatlen=$(get "fat sectors32")
root_start=$((reserved + fats * fatlen))
root_sectors=$(((slots * 32 + sector - 1) / sector))
zero() { dd if=/dev/zero of=zeroed.img bs="$sector" seek="$1" count="$2" conv=notrunc status=none; }
zero "$reserved" $((fats * fatlen))
if [ "$bits" = 32 ]; then
  zero $((root_start + root_sectors + ($(get "root cluster") - 2) * cluster / sector)) $((cluster / sector))
else
  zero "$root_start" "$root_sectors"
fi

mdel -i "$img" "${films[@]/#/$videos/}"
mdir -i "$img" :: | awk '/bytes free/ { gsub(/[^0-9]/, "", $0); print }' >free.txt
