#!/bin/sh
# scripts/demo.py's story end to end against a built tree, on a private X
# server: it ends with status 0 and leaves its screenshot of the on-screen display.
#   demo_story.sh SOURCE_DIR BUILD_DIR
set -e
out=$2/demo-story
rm -rf "$out"
/usr/bin/python3 "$1/scripts/demo.py" --build "$2" --out "$out" --private-display
test -s "$out/osd-profile2.png"
