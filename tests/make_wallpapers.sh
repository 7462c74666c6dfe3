#!/usr/bin/env bash
# Writes the wallpapers the tests set, into folder $1, with ImageMagick: a 480x360 grid of
# twelve colours in 120-pixel cells as a 24-bit bitmap, a JPEG, a PNG and a GIF (and the JPEG
# once more without an extension, as Windows keeps the wallpaper in use), a 1920x1080 JPEG of
# a photograph's kind, a 45-megapixel JPEG, and files that only look like pictures.
set -euo pipefail
out=$1
mkdir -p "$out"
cd "$out"
row() { convert -size 120x120 "xc:$1" "xc:$2" "xc:$3" "xc:$4" +append "$5"; }
row '#c81e1e' '#1ec81e' '#1e1ec8' '#dcdc28' row0.png
row '#28dcdc' '#dc28dc' '#808080' '#fafafa' row1.png
row '#5a3c0a' '#0a5a3c' '#3c0a5a' '#aa6e32' row2.png
convert row0.png row1.png row2.png -append -type TrueColor BMP3:grid.bmp
rm -f row0.png row1.png row2.png
convert grid.bmp -quality 92 grid.jpg
convert grid.bmp grid.png
convert grid.bmp grid.gif
cp grid.jpg TranscodedWallpaper
convert -size 1920x1080 -seed 7 plasma:navy-orange -blur 0x2 -quality 90 photo1080.jpg
# A 45-megapixel photograph's size (8000x5625), a gradient: a few seconds to write.
convert -size 8000x5625 gradient:navy-orange -quality 90 large45.jpg
# Cut in the middle of its picture data.
head -c "$(($(stat -c %s grid.jpg) / 2))" grid.jpg >truncated.jpg
head -c "$(($(stat -c %s grid.bmp) / 2))" grid.bmp >truncated.bmp
echo "This is not a picture, whatever its name says." >text.jpg
: >empty.jpg
mkdir -p folder.jpg
