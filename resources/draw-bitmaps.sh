#!/usr/bin/env bash
# Draws every bitmap and the icon of the program with ImageMagick, into
# resources/bitmaps/. The drawn files are committed; run this again after
# changing the artwork.
#
#   skin.bmp                 527x338, 8 bits per pixel, magenta (FF00FF) outside the outline
#   picture_*.bmp            42x40, 24 bits per pixel (question dialog pictures 152-155)
#   <caption>_<state>.bmp    button faces, 24 bits per pixel, at the buttons' sizes
#   program.ico              16, 32 and 48 pixels
#   ../tests/e2e/hand.cur    the end-to-end tests' stand-in for the system's hand cursor
#
# Colours to keep in mind: the banner's text cells are RGB(2,77,246) and the
# skin behind the banner uses exactly that; the question dialog is
# RGB(207,233,254). Pure greys 128, 192 and 223 are avoided everywhere,
# because bitmaps are loaded with the platform's 3-D colour mapping.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out="$here/bitmaps"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The real ImageMagick, when a wrapper stands in front of it.
IM=${CONVERT:-convert}
[ -x /usr/bin/convert-im6.q16 ] && IM=/usr/bin/convert-im6.q16

BOLD=DejaVu-Sans-Bold
SANS=DejaVu-Sans

BANNER_BLUE="rgb(2,77,246)"
DIALOG_BLUE="rgb(207,233,254)"
BAND="rgb(236,242,252)"
BAND_LINE="rgb(210,222,240)"
FOOTER="rgb(241,244,249)"
INK="rgb(22,44,86)"
# The maker's name in the skin's footer, spelled as the window's notice line
# spells it (NOTICE_LINE in ui/main_dialog.h).
MAKER="Kelvora Software"

# Writes a 24-bit Windows bitmap, nudging the three greys that the 3-D colour
# mapping would replace.
save24() { # in.png out.bmp
    "$IM" "$1" -alpha off \
        -fill "rgb(129,129,129)" -opaque "rgb(128,128,128)" \
        -fill "rgb(193,193,193)" -opaque "rgb(192,192,192)" \
        -fill "rgb(224,224,224)" -opaque "rgb(223,223,223)" \
        -type TrueColor -compress None BMP3:"$2"
}

# A rounded, shaded button face.
#   face W H BG TOP BOTTOM BORDER RADIUS OUT
face() {
    local w=$1 h=$2 bg=$3 top=$4 bottom=$5 border=$6 r=$7 dst=$8
    "$IM" -size "${w}x${h}" xc:"$bg" \
        \( -size "${w}x${h}" gradient:"$top"-"$bottom" \
        \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $r,$r" \) \
        -alpha off -compose CopyOpacity -composite \) \
        -compose Over -composite \
        -fill "rgba(255,255,255,0.16)" -stroke none \
        -draw "roundrectangle 2,2 $((w - 3)),$((h / 2)) $((r - 1)),$((r - 1))" \
        -fill none -stroke "$border" -strokewidth 1 \
        -draw "roundrectangle 0.5,0.5 $((w - 1)).5,$((h - 1)).5 $r,$r" \
        "$dst"
}

# Text centred on an image, with an optional offset and a soft shadow.
#   caption IN OUT FONT SIZE COLOUR SHADOW DX TEXT
caption() {
    local src=$1 dst=$2 font=$3 size=$4 colour=$5 shadow=$6 dx=$7 text=$8
    local args=()
    if [ "$shadow" != none ]; then
        args+=(-fill "$shadow" -annotate "+$((dx + 1))+1" "$text")
    fi
    "$IM" "$src" -gravity center -font "$font" -pointsize "$size" "${args[@]}" \
        -fill "$colour" -annotate "+${dx}+0" "$text" "$dst"
}

# ---- SCAN and DOWNLOAD: 180x33, on the tool band ----

magnifier() { # in out colour x y
    "$IM" "$1" -fill none -stroke "$3" -strokewidth 2.4 \
        -draw "circle $4,$5 $(($4 + 6)),$5" \
        -strokewidth 3.2 -draw "line $(($4 + 5)),$(($5 + 5)) $(($4 + 10)),$(($5 + 10))" "$2"
}

downarrow() { # in out colour x y
    local x=$4 y=$5
    "$IM" "$1" -fill "$3" -stroke none \
        -draw "rectangle $((x - 2)),$((y - 9)) $((x + 2)),$((y + 1))" \
        -draw "polygon $((x - 7)),$((y)) $((x + 7)),$((y)) $x,$((y + 7))" \
        -draw "rectangle $((x - 8)),$((y + 9)) $((x + 8)),$((y + 10))" "$2"
}

big_button() { # name caption icon
    local name=$1 text=$2 icon=$3
    local states=("focus" "notfocus" "disable")
    for state in "${states[@]}"; do
        local f="$work/$name-$state.png"
        case $state in
        notfocus)
            face 180 33 "$BAND" "rgb(38,122,250)" "rgb(6,72,214)" "rgb(4,52,160)" 6 "$f"
            ink=white shadow="rgba(0,20,70,0.55)"
            ;;
        focus)
            face 180 33 "$BAND" "rgb(84,160,255)" "rgb(20,100,240)" "rgb(255,170,30)" 6 "$f"
            "$IM" "$f" -fill none -stroke "rgb(255,186,60)" -strokewidth 1 \
                -draw "roundrectangle 1.5,1.5 177.5,30.5 5,5" "$f"
            ink=white shadow="rgba(0,20,70,0.55)"
            ;;
        disable)
            face 180 33 "$BAND" "rgb(222,226,232)" "rgb(200,205,213)" "rgb(172,178,188)" 6 "$f"
            ink="rgb(146,152,162)" shadow="rgba(255,255,255,0.8)"
            ;;
        esac
        "$icon" "$f" "$f" "$ink" 40 15
        caption "$f" "$f" "$BOLD" 14 "$ink" "$shadow" 12 "$text"
        save24 "$f" "$out/${name}_${state}.bmp"
    done
}

big_button scan SCAN magnifier
big_button download DOWNLOAD downarrow

# ---- OK, CANCEL, YES, NO: 92x24, on the footer and on the question dialog ----

small_button() { # name caption
    local name=$1 text=$2
    local f="$work/$name-notfocus.png"
    face 92 24 "rgb(224,236,250)" "rgb(250,252,255)" "rgb(218,229,245)" "rgb(90,120,170)" 4 "$f"
    caption "$f" "$f" "$BOLD" 10 "$INK" none 0 "$text"
    save24 "$f" "$out/${name}_notfocus.bmp"
    f="$work/$name-focus.png"
    face 92 24 "rgb(224,236,250)" "rgb(60,140,252)" "rgb(10,84,226)" "rgb(255,170,30)" 4 "$f"
    caption "$f" "$f" "$BOLD" 10 white "rgba(0,20,70,0.5)" 0 "$text"
    save24 "$f" "$out/${name}_focus.bmp"
}

small_button ok OK
small_button cancel CANCEL
small_button yes YES
small_button no NO

# ---- X: 21x21 close box on the banner blue ----

f="$work/x-notfocus.png"
face 21 21 "$BANNER_BLUE" "rgb(46,118,250)" "rgb(10,70,220)" "rgb(150,190,255)" 4 "$f"
"$IM" "$f" -stroke white -strokewidth 2 -draw "line 6.5,6.5 14.5,14.5" -draw "line 14.5,6.5 6.5,14.5" "$f"
save24 "$f" "$out/x_notfocus.bmp"
f="$work/x-focus.png"
face 21 21 "$BANNER_BLUE" "rgb(240,90,80)" "rgb(200,40,36)" "rgb(255,200,190)" 4 "$f"
"$IM" "$f" -stroke white -strokewidth 2 -draw "line 6.5,6.5 14.5,14.5" -draw "line 14.5,6.5 6.5,14.5" "$f"
save24 "$f" "$out/x_focus.bmp"

# ---- DLINK: 313x43 on the white body; ULINK: 244x28 on the footer ----

link() { # name w h bg title subtitle state
    local name=$1 w=$2 h=$3 bg=$4 title=$5 sub=$6 state=$7
    local f="$work/$name-$state.png" colour="rgb(10,84,214)" deco=()
    if [ "$state" = focus ]; then
        colour="rgb(220,110,0)"
    fi
    if [ -n "$sub" ]; then
        "$IM" -size "${w}x${h}" xc:"$bg" \
            -fill "$colour" -stroke none -draw "circle 16,21 16,9" \
            -fill white -draw "rectangle 14,13 18,23" -draw "polygon 9,21 23,21 16,29" \
            -gravity northwest -font "$BOLD" -pointsize 13 -fill "$colour" \
            -annotate +36+5 "$title" \
            -font "$SANS" -pointsize 10 -fill "rgb(90,100,120)" -annotate +36+24 "$sub" "$f"
        if [ "$state" = focus ]; then
            "$IM" "$f" -fill "$colour" -draw "rectangle 36,21 $((w - 8)),21" "$f"
        fi
    else
        "$IM" -size "${w}x${h}" xc:"$bg" \
            -gravity west -font "$BOLD" -pointsize 11 -fill "$colour" \
            -annotate +4+0 "$title" "$f"
        if [ "$state" = focus ]; then
            "$IM" "$f" -fill "$colour" -draw "rectangle 4,20 $((w - 10)),20" "$f"
        fi
    fi
    save24 "$f" "$out/${name}_${state}.bmp"
}

for s in focus notfocus; do
    link dlink 313 43 white "Get Sentravix Antivirus" "Complete protection against backdoors and spyware" $s
    link ulink 244 28 "$FOOTER" "More free removal tools  >>" "" $s
done

# ---- The maker's logo: 38x36 on the footer ----

logo() { # state colour
    local f="$work/logo-$1.png"
    "$IM" -size 38x36 xc:"$FOOTER" \
        -fill "$2" -stroke none -draw "roundrectangle 3,2 34,33 7,7" \
        -fill white -draw "polygon 11,8 16,8 16,16 23,8 29,8 20,18 29,28 23,28 16,20 16,28 11,28" \
        "$f"
    save24 "$f" "$out/kelvoralogo_$1.bmp"
}
logo notfocus "rgb(12,60,150)"
logo focus "rgb(24,96,220)"

# ---- Question pictures: 42x40 on the dialog's light blue ----

picture() { # out draw...
    local dst=$1
    shift
    "$IM" -size 42x40 xc:"$DIALOG_BLUE" "$@" "$work/p.png"
    save24 "$work/p.png" "$out/$dst"
}

picture picture_information.bmp \
    -fill "rgb(8,52,170)" -draw "circle 19,20 19,4" \
    -fill "rgb(30,110,245)" -draw "circle 19,19 19,4" \
    -fill white -draw "circle 19,11 19,8.6" -draw "roundrectangle 16.5,15 21.5,29 1,1"
picture picture_question.bmp \
    -fill "rgb(8,52,170)" -draw "circle 19,20 19,4" \
    -fill "rgb(30,110,245)" -draw "circle 19,19 19,4" \
    -fill white -font "$BOLD" -pointsize 22 -gravity northwest -annotate +12+5 "?"
picture picture_exclamation.bmp \
    -fill "rgb(170,110,0)" -draw "polygon 19,3 37,35 1,35" \
    -fill "rgb(255,196,30)" -draw "polygon 19,5 35,33 3,33" \
    -fill "rgb(40,30,10)" -draw "roundrectangle 17,13 21,26 1,1" -draw "circle 19,29.5 19,27.5"
picture picture_stop.bmp \
    -fill "rgb(150,16,16)" -draw "circle 19,20 19,4" \
    -fill "rgb(226,44,40)" -draw "circle 19,19 19,4" \
    -stroke white -strokewidth 3.4 -draw "line 13,13 25,25" -draw "line 25,13 13,25"

# ---- The skin: 527x338, 8 bits per pixel ----

W=527 H=338
shape="roundrectangle 0,0 $((W - 1)),$((H - 1)) 16,16"
# Shield glyph of the header.
shield="path 'M 34,9 L 52,15 L 52,30 C 52,41 44,49 34,53 C 24,49 16,41 16,30 L 16,15 Z'"

"$IM" -size ${W}x${H} xc:white \
    \( -size ${W}x38 gradient:"rgb(44,124,253)"-"$BANNER_BLUE" \) -geometry +0+0 -composite \
    -fill "$BANNER_BLUE" -draw "rectangle 0,38 $((W - 1)),61" \
    -fill "rgb(1,52,170)" -draw "rectangle 0,62 $((W - 1)),63" \
    -fill "$BAND" -draw "rectangle 0,64 $((W - 1)),103" \
    -fill "$BAND_LINE" -draw "rectangle 0,104 $((W - 1)),104" \
    -fill "$FOOTER" -draw "rectangle 0,277 $((W - 1)),$((H - 1))" \
    -fill "$BAND_LINE" -draw "rectangle 0,276 $((W - 1)),276" \
    -fill white -draw "$shield" \
    -fill none -stroke "rgb(190,214,255)" -strokewidth 1 \
    -draw "path 'M 34,13 L 48.5,18 L 48.5,30 C 48.5,39 42,45.5 34,49 C 26,45.5 19.5,39 19.5,30 L 19.5,18 Z'" \
    -stroke "$BANNER_BLUE" -strokewidth 4 \
    -draw "stroke-linecap round stroke-linejoin round polyline 25,30.5 31.5,37 43,24.5" -stroke none \
    -font "$BOLD" -pointsize 19 -fill white -gravity north -annotate +0+9 "CleanPhantaxis" \
    -gravity northwest -font "$SANS" -pointsize 9 -fill "rgb(120,132,150)" \
    -annotate +18+318 "$MAKER" \
    -fill none -stroke "rgb(10,44,120)" -strokewidth 2 -draw "roundrectangle 1,1 $((W - 2)),$((H - 2)) 15,15" \
    "$work/skin-art.png"

# The outline: hard-edged, so that the cut-out colour stays exact.
"$IM" -size ${W}x${H} xc:black +antialias -fill white -draw "$shape" "$work/skin-mask.png"
"$IM" "$work/skin-art.png" "$work/skin-mask.png" -alpha off -compose CopyOpacity -composite \
    -background "rgb(255,0,255)" -alpha remove -alpha off "$work/skin-cut.png"

# 8 bits per pixel: a palette of the artwork's own colours plus the exact
# colours that must survive (the key, the banner blue, white), mapped without
# dithering so that flat areas keep their exact colour.
"$IM" "$work/skin-cut.png" +dither -colors 240 -unique-colors "$work/pal-art.png"
"$IM" -size 1x1 xc:"rgb(255,0,255)" xc:"$BANNER_BLUE" xc:white xc:"$BAND" xc:"$FOOTER" \
    xc:"$BAND_LINE" +append "$work/pal-fixed.png"
"$IM" "$work/pal-art.png" "$work/pal-fixed.png" +append -unique-colors \
    -fill "rgb(129,129,129)" -opaque "rgb(128,128,128)" \
    -fill "rgb(193,193,193)" -opaque "rgb(192,192,192)" \
    -fill "rgb(224,224,224)" -opaque "rgb(223,223,223)" "$work/palette.png"
"$IM" "$work/skin-cut.png" +dither -remap "$work/palette.png" -type Palette -compress None BMP3:"$out/skin.bmp"

# ---- The program icon ----

"$IM" -size 48x48 xc:none \
    -fill "rgb(6,52,160)" -draw "path 'M 24,2 L 44,9 L 44,24 C 44,36 35,43 24,47 C 13,43 4,36 4,24 L 4,9 Z'" \
    -fill "rgb(30,110,245)" -draw "path 'M 24,5 L 41,11 L 41,24 C 41,34 33,40 24,44 C 15,40 7,34 7,24 L 7,11 Z'" \
    -fill none -stroke white -strokewidth 5 -draw "polyline 14,24 21,31 34,16" \
    "$work/icon48.png"
"$IM" "$work/icon48.png" -resize 32x32 "$work/icon32.png"
"$IM" "$work/icon48.png" -resize 16x16 "$work/icon16.png"
"$IM" "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" "$out/program.ico"

# ---- A hand cursor for the end-to-end tests ----
# They give their Wine prefix a winhlp32.exe that carries it as cursor 106,
# the system's hand cursor that the main window's buttons borrow.

"$IM" -size 32x32 xc:none -fill white -stroke black -strokewidth 1 \
    -draw "roundrectangle 9,1 14,18 2.5,2.5" \
    -draw "roundrectangle 7,12 25,30 5,5" \
    -draw "line 15,13 15,19" -draw "line 19,13 19,19" -draw "line 23,14 23,19" \
    CUR:"$work/hand.cur"
# ImageMagick writes an icon header: make it a cursor (type 2) with its
# hot spot at the fingertip (11,1).
printf '\x02\x00' | dd of="$work/hand.cur" bs=1 seek=2 conv=notrunc status=none
printf '\x0b\x00\x01\x00' | dd of="$work/hand.cur" bs=1 seek=10 conv=notrunc status=none
cp "$work/hand.cur" "$here/../tests/e2e/hand.cur"

echo "draw-bitmaps: wrote $(ls "$out" | wc -l) files to $out"
