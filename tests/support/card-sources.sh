# What make-card-image.sh and make-exfat-card-image.sh share: the photos,
# other files and films a card is filled with, made once in a folder, and
# the order in which they are copied. Sourced, with set -euo pipefail on.

# make_card_sources SOURCES: fills SOURCES (made if need be) unless it holds
# the marker of the films set asked for ($films_set: two, six or scattered);
# sets src to its absolute path and done_marker.
make_card_sources() {
  src=$1
  case $films_set in
    two) done_marker=done ;;
    six) done_marker=done-six ;;
    scattered) done_marker=done-scattered ;;
    *) echo "FILMS must be six, scattered or unset, not $films_set" >&2; exit 2 ;;
  esac
  mkdir -p "$src"
  src=$(cd "$src" && pwd)
  if [ ! -e "$src/$done_marker" ]; then
    # What a camera leaves: photos, and now and then a sidecar or a log.
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=1024x768:rate=1" -frames:v 16 -q:v 3 "$src/photo%02d.jpg"
    for i in $(seq 1 16); do
      head -c $((60000 + i * 9973)) /dev/urandom >"$src/data$(printf %02d "$i").bin"
    done
    # The films as cameras make them; dates a test can check (FAT keeps even
    # seconds, exFAT the odd one too).
    ffmpeg -v error -y -f lavfi -i "testsrc=size=640x480:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=22050" \
      -t 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 1 "$src/Camera_Clip_0001.avi"
    ffmpeg -v error -y -f lavfi -i "testsrc=size=640x480:rate=25" -f lavfi -i "sine=frequency=660:sample_rate=44100" \
      -t 3 -c:v mpeg4 -q:v 3 -c:a libmp3lame -b:a 64k -ac 1 "$src/MOV0002.AVI"
    touch -d "2024-05-06 07:08:11" "$src/Camera_Clip_0001.avi"
    touch -d "2023-11-30 23:59:58" "$src/MOV0002.AVI"
    if [ "$films_set" != two ]; then
      if [ "$films_set" = six ]; then
        for i in $(seq 17 32); do
          head -c $((1200000 + i * 9973)) /dev/urandom >"$src/data$i.bin"
        done
      else
        for i in $(seq 17 176); do
          head -c $((60000 + i * 7919 % 160000)) /dev/urandom >"$src/data$i.bin"
        done
      fi
      ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x480:rate=25" -f lavfi -i "sine=frequency=550:sample_rate=32000" \
        -t 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 1 "$src/PICT0003.AVI"
      ffmpeg -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=frequency=880:sample_rate=48000" \
        -t 2 -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 "$src/HDV_0004.AVI"
      ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x480:rate=30" -f lavfi -i "sine=frequency=330:sample_rate=44100" \
        -t 3 -c:v mpeg4 -q:v 4 -c:a libmp3lame -b:a 96k "$src/DSCF0005.AVI"
      ffmpeg -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=frequency=990:sample_rate=48000" \
        -t 3 -c:v libx264 -preset ultrafast -g 25 -bf 0 -c:a libmp3lame -b:a 128k "$src/VID_0006.avi"
      touch -d "2025-01-02 03:04:06" "$src/PICT0003.AVI"
      touch -d "2025-02-03 04:05:08" "$src/HDV_0004.AVI"
      touch -d "2022-07-14 12:00:00" "$src/DSCF0005.AVI"
      touch -d "2026-03-04 05:06:10" "$src/VID_0006.avi"
    fi
    touch "$src/$done_marker"
  fi
}

# card_file_lists: sets small (the photos and other files, in copy order)
# and films for $films_set.
card_file_lists() {
  # In an order where deleting every other file takes photos and other files alike.
  small=()
  for i in $(seq 1 16); do
    n=$(printf %02d "$i")
    if ((i % 2)); then small+=("photo$n.jpg" "data$n.bin"); else small+=("data$n.bin" "photo$n.jpg"); fi
  done
  films=(Camera_Clip_0001.avi MOV0002.AVI)
  if [ "$films_set" != two ]; then
    last=32
    [ "$films_set" = scattered ] && last=176
    for i in $(seq 17 "$last"); do small+=("data$i.bin"); done
    films+=(PICT0003.AVI HDV_0004.AVI DSCF0005.AVI VID_0006.avi)
  fi
}

# chain_row NAME SIZE STATE KIND: the first fields of NAME's line in
# files.tsv (no newline), from its runs of clusters in chains.txt
# ("::/folder/name <a-b> <c>", as mshowfat lists them).
chain_row() {
  awk -v n="$1" -v size="$2" -v state="$3" -v kind="$4" '
    { sub(/.*\//, "", $1) }
    $1 == n {
      first = ""; count = 0; pieces = 0
      for (i = 2; i <= NF; i++) {
        gsub(/[<>]/, "", $i)
        if (split($i, ends, "-") == 1) ends[2] = ends[1]
        if (first == "") first = ends[1]
        count += ends[2] - ends[1] + 1; pieces++
      }
      printf "%s\t%s\t%s\t%s\t%s\t%s\t%s", n, size, state, kind, first, count, pieces
    }' chains.txt
}

# kind_and_state NAME: sets kind (photo, other, filler or film) and state
# (live or deleted at the end: the films and the names in gone are deleted).
kind_and_state() {
  case $1 in
    photo*) kind=photo ;; data*) kind=other ;; filler*) kind=filler ;; *) kind=film ;;
  esac
  state=live
  case " ${gone[*]} " in *" $1 "*) state=deleted ;; esac
  [ "$kind" = film ] && state=deleted
  return 0
}
