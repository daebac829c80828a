#!/usr/bin/env bash
# Makes the small untagged MP3 files the tests copy and tag (needs sox and lame;
# the results are committed, so the tests need neither).
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
mp3() { # NAME RATE CHANNELS KBITS SYNTH...
    sox -n -r "$2" -c "$3" -b 16 "$tmp/x.wav" synth "${@:5}"
    lame --quiet -b "$4" --noreplaygain -t "$tmp/x.wav" "$1"
}
mp3 stereo-mpeg1.mp3 44100 2 128 1 sine 440 sine 660   # MPEG-1 Layer III
mp3 mono-mpeg1.mp3 44100 1 64 1 sine 440
mp3 stereo-mpeg2.mp3 22050 2 64 1 sine 440 sine 550    # MPEG-2 Layer III
mp3 stereo-noise-3s.mp3 44100 2 320 3 pinknoise        # a larger file for rewrite tests
ls -l *.mp3
