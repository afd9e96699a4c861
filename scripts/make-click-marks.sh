#!/usr/bin/env bash
# Draws the five click marks (resources/*click.png) that exported movies show at the
# pointer while a button is down: a mouse whose pressed buttons are coloured, 32x40 RGBA.
# The PNGs are committed; run this only to change the artwork.
set -euo pipefail
out=${1:-$(cd "$(dirname "$0")/.." && pwd)/resources}
W=32 H=40
body="roundrectangle 5,2 26,37 10,10"
mark() {  # name, then "x0,y0 x1,y1 colour" areas laid over a white body, then extra draw
    local name=$1 areas=$2 extra=${3:-}
    local fills=(-fill white -draw "rectangle 0,0 $W,$H")
    for a in $areas; do
        IFS=: read -r r c <<<"$a"
        fills+=(-fill "$c" -draw "rectangle ${r/-/ }")
    done
    convert -size ${W}x$H xc:none "${fills[@]}" \
        \( -size ${W}x$H xc:none -fill white -draw "$body" \) -compose DstIn -composite \
        -compose Over -fill none -stroke '#202020' -strokewidth 1.5 -draw "$body" \
        -draw "line 5.5,15 25.5,15" -draw "line 15.5,2.5 15.5,15" \
        ${extra:+-draw "$extra"} \
        -define png:color-type=6 -strip "PNG32:$out/$name.png"
}
L="0,0-15.5,15:#e53935"
R="15.5,0-32,15:#1e88e5"
mark lclick "$L"
mark rclick "$R"
mark lrclick "$L $R"
mark oclick "" "fill #43a047 roundrectangle 13,4 18,12 2,2"
mark ldclick "0,0-15.5,15:#fb8c00" "fill #fb8c00 stroke none font DejaVu-Sans-Bold font-size 15 text 10,33 '2'"
