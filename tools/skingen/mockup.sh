#!/bin/sh
# Composes a picture of the recorder window from the skin's BMP files, the way the program lays
# them out, so the skin can be judged without running the program. Needs ImageMagick.
#   tools/skingen/mockup.sh BMP_FOLDER OUT.png [idle|recording|exit]
set -eu
bmp=$1
out=$2
state=${3:-idle}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

key() { convert "$1" -transparent 'rgb(2,1,255)' "$2"; }        # window and button key
glyphkey() { convert "$1" -transparent 'rgb(5,5,5)' "$2"; }     # display key

# The display: digits laid into the pane, then the microphone, then the pause symbol and bars.
glyphkey "$bmp/bigletters.bmp" "$tmp/digits.png"
if [ "$state" = recording ]; then
  clock=103742 date=140624 counter=00012734 volume=137 mic=microphoneOn.bmp
else
  clock=103742 date=140624 counter=00000000 volume=000 mic=microphone.bmp
fi
put() {  # put DIGITS Y X1 X2 ...: one glyph cell per digit
  digits=$1 y=$2
  shift 2
  i=1
  for x in "$@"; do
    d=$(echo "$digits" | cut -c$i)
    cmds="$cmds ( $tmp/digits.png -crop 13x17+$((13 * d))+0 +repage ) -geometry +$x+$y -composite"
    i=$((i + 1))
  done
}
cmds=""
put $clock 32 3 18 37 52 71 86
put $date 85 3 18 43 58 83 98
put $counter 32 142 157 176 191 210 225 244 259
put $volume 85 142 155 169
glyphkey "$bmp/$mic" "$tmp/mic.png"
# shellcheck disable=SC2086
convert "$bmp/pane.bmp" $cmds "$tmp/mic.png" -geometry +290+13 -composite "$tmp/pane.png"
if [ "$state" = recording ]; then
  bars=""
  k=0
  while [ $k -lt 60 ]; do
    v=$(((k * 7 + k * k) % 13 - 6))
    bars="$bars line $((340 - 2 * k)),$((84 - v)) $((340 - 2 * k)),$((95 + v))"
    k=$((k + 1))
  done
  convert "$tmp/pane.png" -fill 'rgb(207,221,39)' -stroke 'rgb(207,221,39)' -draw "$bars" \
    "$tmp/pane.png"
fi

# The window: background, source list, radios, sliders, display and buttons.
key "$bmp/voxtape.bmp" "$tmp/bg.png"
if [ "$state" = recording ]; then
  rec=stoprecordingover.bmp play=playsoundover.bmp pause=pauseover.bmp
else
  rec=startrecordingover.bmp play=playsound.bmp pause=pauseover.bmp
fi
for f in $rec $play $pause savesoundover.bmp helpover.bmp closeover.bmp; do key "$bmp/$f" "$tmp/$f.png"; done
radio() {  # radio X Y checked
  if [ "$3" = 1 ]; then
    echo "rectangle $1,$2 $(($1 + 13)),$(($2 + 14)) "
  else
    echo "fill none rectangle $1,$2 $(($1 + 13)),$(($2 + 14)) fill rgb(207,221,39) "
  fi
}
radios="$(radio 29 298 0)$(radio 29 320 0)$(radio 29 343 0)$(radio 29 364 1)"
radios="$radios$(radio 165 298 0)$(radio 165 320 1)$(radio 285 299 0)$(radio 285 320 1)"
slider() {  # slider X Y W THUMBX
  echo "stroke rgb(90,90,90) fill rgb(60,60,60) rectangle $(($1 + 8)),$(($2 + 6)) $(($1 + $3 - 8)),$(($2 + 9)) "
  echo "fill rgb(255,0,0) stroke black roundrectangle $4,$(($2 + 2)) $(($4 + 10)),$(($2 + 20)) 2,2 "
  echo "fill rgb(100,100,100) rectangle $(($4 + 1)),$(($2 + 5)) $(($4 + 9)),$(($2 + 17)) "
}
convert -size 440x640 xc:'rgb(58,74,92)' \
  "$tmp/bg.png" -geometry +20+20 -composite \
  "$bmp/recorderoptions.bmp" -geometry +43+87 -composite \
  -fill 'rgb(207,221,39)' -stroke 'rgb(207,221,39)' \
  -draw "translate 20,20 $radios rectangle 28,70 41,84 fill none rectangle 28,89 41,103 rectangle 28,108 41,122" \
  -draw "translate 20,20 $(slider 16 237 367 240) $(slider 164 546 219 268)" \
  -stroke none -fill white -font DejaVu-Sans -pointsize 11 \
  -draw "text 66,101 'Monitor of Speakers' text 66,120 'Wave Out Mix' text 66,139 'Line In'" \
  "$tmp/pane.png" -geometry +43+407 -composite \
  "$tmp/$rec.png" -geometry +43+520 -composite \
  "$tmp/$play.png" -geometry +43+562 -composite \
  "$tmp/$pause.png" -geometry +183+520 -composite \
  "$tmp/savesoundover.bmp.png" -geometry +286+520 -composite \
  "$tmp/helpover.bmp.png" -geometry +313+20 -composite \
  "$tmp/closeover.bmp.png" -geometry +355+20 -composite \
  "$tmp/window.png"
if [ "$state" = exit ]; then
  for f in okmessage.bmp cancelmessage.bmp; do key "$bmp/$f" "$tmp/$f.png"; done
  convert "$bmp/exitconfirm.bmp" "$tmp/cancelmessage.bmp.png" -geometry +62+62 -composite \
    "$tmp/okmessage.bmp.png" -geometry +191+62 -composite "$tmp/exit.png"
  convert "$tmp/window.png" \( "$tmp/exit.png" -alpha set -channel A -evaluate set 94% +channel \) \
    -geometry +43+87 -composite "$tmp/window.png"
fi
cp "$tmp/window.png" "$out"
echo "$out"
