#!/usr/bin/env bash
# tiko render against the ffmpeg program on the same jobs: decode a clip,
# lay one moving sprite over it, encode H.264 (x264 "fast", CRF 20) with AAC
# sound; and numbered PNG pictures of the same frames. Prints each pair's
# wall-clock seconds, best of the runs, and the ratio ffmpeg / tiko (1.0 or
# more: tiko is at least as fast); for the videos also against ffmpeg doing
# the same colour conversions as tiko.
#
#   bench/render_vs_ffmpeg.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
tiko="$build/tools/tiko/tiko"
[ -x "$tiko" ] || { echo "render_vs_ffmpeg: build $tiko first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "render_vs_ffmpeg: ffmpeg is not installed; nothing to compare with" >&2; exit 0; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quiet=(-hide_banner -loglevel error -y)

# The sprite: a 96 x 96 disc, and a package that moves it across the frame.
ffmpeg "${quiet[@]}" -f lavfi -i "color=c=orange:s=96x96,format=rgba,geq=r=255:g=140:b=0:a='255*lt(hypot(X-48,Y-48),46)'" \
  -frames:v 1 "$work/sprite.png"
cat >"$work/sprite.json" <<'EOF'
{"pictures": [{"name": "sprite", "file": "sprite.png"}],
 "actors": [{"name": "sprite", "steps": [
   {"picture": "sprite", "width": {"set": 500}, "height": "proportional", "x": {"set": 0}, "y": {"set": 3000}},
   {"x": {"wrap": 80}, "advance": {"jump": 1}}]}]}
EOF
"$tiko" pack "$work/sprite.json" -o "$work/sprite.tiko"

seconds() {  # wall-clock seconds of one run of the command
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

lower() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

report() {  # name tiko-seconds peer-seconds [peer name]
  printf '%-34s tiko %6.2f s   %-10s %6.2f s   ratio %s\n' "$1" "$2" "${4:-ffmpeg}" "$3" \
    "$(echo "scale=2; $3 / $2" | bc -l)"
}

overlay="[0:v][1:v]overlay=x='mod(t*400,main_w)':y=main_h/3[v]"
# ffmpeg's overlay works on the YUV frames as they are decoded; "ffmpeg BGR"
# is the same job with the frames taken to BGR24 for the overlay and back, as
# the player takes them: the same work as tiko's. The runs take turns, so that
# a busy moment of the machine falls on all three alike.
bgr="[0:v]format=bgr24[b];[b][1:v]overlay=x='mod(t*400,main_w)':y=main_h/3:format=rgb[v]"
for size in 1920x1080 640x480; do
  clip="$work/clip-$size.mp4"
  ffmpeg "${quiet[@]}" -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
    -t 10 -c:v libx264 -preset fast -crf 20 -pix_fmt yuv420p -c:a aac -shortest "$clip"
  t="" f="" b=""
  for _ in $(seq "$runs"); do
    t=$(lower "$t" "$(seconds "$tiko" render "$work/sprite.tiko" -i "$clip" -o "$work/tiko-$size.mp4" --eyes none -q)")
    for graph in "$overlay" "$bgr"; do
      took=$(seconds ffmpeg "${quiet[@]}" -i "$clip" -i "$work/sprite.png" -filter_complex "$graph" -map '[v]' \
        -map 0:a -c:v libx264 -preset fast -crf 20 -pix_fmt yuv420p -c:a aac "$work/ffmpeg-$size.mp4")
      if [ "$graph" = "$overlay" ]; then f=$(lower "$f" "$took"); else b=$(lower "$b" "$took"); fi
    done
  done
  report "video $size (250 frames)" "$t" "$f"
  report "video $size (250 frames)" "$t" "$b" "ffmpeg BGR"
done

clip="$work/clip-1280x720.mp4"
ffmpeg "${quiet[@]}" -f lavfi -i "testsrc2=size=1280x720:rate=25" -t 6 -c:v libx264 -preset fast -crf 20 -pix_fmt yuv420p "$clip"
t="" f=""
for _ in $(seq "$runs"); do
  t=$(lower "$t" "$(seconds "$tiko" render "$work/sprite.tiko" -i "$clip" -o "$work/t_%04d.png" --frames 150 --eyes none -q)")
  f=$(lower "$f" "$(seconds ffmpeg "${quiet[@]}" -i "$clip" -i "$work/sprite.png" -filter_complex "$overlay" \
    -map '[v]' -frames:v 150 "$work/f_%04d.png")")
done
report "PNG pictures 1280x720 (150)" "$t" "$f"
