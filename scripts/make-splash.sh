#!/usr/bin/env bash
# Renders the launcher's splash picture, resources/splash.png (480 x 300, 8-bit palette):
# the title over a dusky sky with a moon, a castle on the moor and the mere below it, and a
# black band from row 204 down for the status lines and the progress bar.
# Needs ImageMagick's convert and the URW base fonts (fonts-urw-base35). Run it by hand after
# changing the picture; the build only embeds the PNG that is kept in the repository.
set -euo pipefail

out="${1:-$(cd "$(dirname "$0")/.." && pwd)/resources/splash.png}"
font="${SPLASH_FONT:-C059-Bold}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

W=480
HORIZON=152 # where the moor meets the mere
BAND=204    # first row of the black band

# Sky: night at the top, violet in the middle, the last glow of the sun at the horizon.
convert -size ${W}x96 gradient:'#07081f-#3b1f55' \
        -size ${W}x$((HORIZON - 96)) gradient:'#3b1f55-#d87a48' \
        -append "$work/sky.png"

# A few stars in the dark part of the sky.
stars=""
for p in 22,18 61,40 97,12 143,31 188,9 214,44 246,22 287,15 309,38 333,8 \
         421,20 447,44 468,11 12,71 52,88 176,64 232,78 452,86 401,102 30,110; do
    stars+="point $p "
done

# The moon with a soft glow, and a faint veil of cloud across it.
convert "$work/sky.png" \
        -fill '#fff6d8' -draw "$stars" \
        \( -size ${W}x${HORIZON} xc:none -fill '#ffe9b0' -draw 'circle 418,76 418,108' \
           -channel A -evaluate multiply 0.35 +channel -blur 0x14 \) -composite \
        -fill '#f4e7c4' -draw 'circle 418,76 418,96' \
        -fill '#d9c9a2' -draw 'circle 411,70 411,74' -draw 'circle 426,84 426,87' \
        -draw 'circle 421,67 421,69' \
        \( -size ${W}x${HORIZON} xc:none -fill '#6b3f66' \
           -draw 'ellipse 370,92 90,5 0,360' -draw 'ellipse 450,104 60,4 0,360' \
           -channel A -evaluate multiply 0.55 +channel -blur 0x3 \) -composite \
        "$work/sky-moon.png"

# Far hills on the right, then the castle hill with its keep, towers and walls.
land_far='#2b1a36'
land='#0c0814'
castle="translate -28,16
  rectangle 100,60 140,112
  rectangle 100,54 106,60 rectangle 111,54 117,60 rectangle 123,54 129,60 rectangle 134,54 140,60
  rectangle 72,80 90,114 polygon 67,80 81,50 95,80
  rectangle 150,70 167,112 polygon 145,70 158.5,42 172,70
  rectangle 88,92 152,114 rectangle 88,87 93,92 rectangle 142,87 147,92
  rectangle 176,96 186,112 polygon 173,96 181,80 189,96
  rectangle 118,34 119,54 polygon 120,34 131,38 120,42"
windows="translate -28,16
  rectangle 117,72 121,80 rectangle 79,92 82,98 rectangle 156,80 159,87
  rectangle 108,96 111,101 rectangle 180,101 182,105"
convert "$work/sky-moon.png" \
        -fill "$land_far" \
        -draw "polygon 190,$HORIZON 230,140 268,134 310,128 352,136 392,130 430,137 462,133 479,138 479,$HORIZON" \
        -fill "$land" \
        -draw "polygon 0,$HORIZON 0,128 24,124 50,121 80,122 130,124 170,129 206,136 238,144 262,$HORIZON" \
        -draw "$castle" -fill '#ffb456' -draw "$windows" \
        "$work/land.png"

# The mere: the land and sky mirrored, darkened and cooled, with ripples and the moon's path.
mere_h=$((BAND - HORIZON))
convert "$work/land.png" -crop ${W}x${HORIZON}+0+0 +repage -flip \
        -crop ${W}x${mere_h}+0+0 +repage \
        -modulate 55,70,100 -fill '#0d1a3a' -colorize 30% \
        -fill '#8f7a86' \
        -draw 'line 22,7 58,7 line 96,5 118,5 line 150,11 196,11 line 236,8 262,8 line 60,16 84,16' \
        -draw 'line 270,15 318,15 line 128,22 150,22 line 210,27 244,27 line 300,31 322,31' \
        -fill '#f4e2b8' \
        -draw 'line 402,3 434,3 line 406,8 430,8 line 398,13 438,13 line 409,18 427,18' \
        -draw 'line 403,23 433,23 line 411,28 425,28 line 406,33 430,33' \
        "$work/mere.png"

# The near shore: a dark bank with reeds, fading into the black band.
convert -size ${W}x${mere_h} xc:none -fill '#050308' \
        -draw "polygon 0,$mere_h 0,30 40,33 90,36 150,38 220,37 300,39 380,36 440,34 479,31 479,$mere_h" \
        -stroke '#050308' -strokewidth 1.4 \
        -draw 'line 34,33 30,14 line 38,33 40,10 line 43,34 49,17 line 47,34 46,21' \
        -draw 'line 410,35 405,18 line 415,35 417,12 line 420,35 426,20 line 424,35 424,24' \
        -draw 'line 292,39 289,27 line 296,39 299,25' \
        "$work/shore.png"

# Everything together, the title on top, then the black band and the palette.
convert "$work/land.png" \( "$work/mere.png" "$work/shore.png" -composite \) -append \
        \( -size ${W}x${BAND} gradient:none-none \
           -size ${W}x14 gradient:'rgba(0,0,0,0)-black' -gravity south -composite +gravity \) \
        -composite \
        -size ${W}x$((300 - BAND)) xc:black -append \
        -gravity north -font "$font" -pointsize 44 \
        -fill '#00000090' -annotate +3+9 'Duskmere' \
        -stroke '#2a1408' -strokewidth 3 -fill '#2a1408' -annotate +0+6 'Duskmere' \
        -stroke none -fill '#f3d892' -annotate +0+6 'Duskmere' \
        -gravity northwest -fill black -draw "rectangle 0,$BAND 479,299" \
        -strip -colors 255 -define png:exclude-chunks=date,time "PNG8:$work/splash.png"
mv "$work/splash.png" "$out"
echo "wrote $out"
