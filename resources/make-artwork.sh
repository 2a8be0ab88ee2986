#!/usr/bin/env bash
# Redraws the button pictures and the program icon (ImageMagick and DejaVu fonts).
set -euo pipefail
cd "$(dirname "$0")"
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

word() {  # file width height text pointsize
  convert -size "$2x$3" xc:black -font "$bold" -pointsize "$5" -fill white -gravity center \
    -annotate +0+0 "$4" "PNG24:$1"
}
word command3.png 78 35 $'Отключить\nинет' 10
word command3@2x.png 156 70 $'Отключить\nинет' 20
word command1.png 53 29 'Выход' 10
word command1@2x.png 106 58 'Выход' 20
word command2.png 53 29 'Скрыть' 10
word command2@2x.png 106 58 'Скрыть' 20

for s in 16 24 32 48 64 72 96 128 256; do
  r=$((s / 8)) fs=$((s * 38 / 100))
  bar() { echo "rectangle $((s * $1 / 100)),$((s * $2 / 100)),$((s * $3 / 100)),$((s * 88 / 100))"; }
  convert -size "${s}x${s}" xc:none -fill black \
    -draw "roundrectangle 0,0,$((s - 1)),$((s - 1)),$r,$r" -fill '#7AF477' \
    -draw "$(bar 15 70 28)" -draw "$(bar 33 58 46)" -draw "$(bar 51 64 64)" -draw "$(bar 69 48 82)" \
    -font "$bold" -pointsize "$fs" -fill white -gravity north -annotate +0+$((s * 6 / 100)) 'Мб' \
    "PNG32:icon-$s.png"
done
convert icon-16.png icon-24.png icon-32.png icon-48.png icon-64.png icon-72.png icon-96.png icon-128.png \
  icon-256.png kvotomer.ico
