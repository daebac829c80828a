#!/usr/bin/env bash
# Makes the small untagged MP3 files the tests copy and tag. Needs sox and
# lame; the results are committed, so tests do not need either.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# 1 s of a 440 Hz tone, stereo, 44.1 kHz: MPEG-1 Layer III, 128 kbit/s.
sox -n -r 44100 -c 2 -b 16 "$tmp/s44.wav" synth 1 sine 440 sine 660
lame --quiet -b 128 --noreplaygain -t "$tmp/s44.wav" stereo-mpeg1.mp3
# 1 s, mono, 44.1 kHz: MPEG-1 Layer III, 64 kbit/s.
sox -n -r 44100 -c 1 -b 16 "$tmp/m44.wav" synth 1 sine 440
lame --quiet -b 64 --noreplaygain -t "$tmp/m44.wav" mono-mpeg1.mp3
# 1 s, stereo, 22.05 kHz: MPEG-2 Layer III, 64 kbit/s.
sox -n -r 22050 -c 2 -b 16 "$tmp/s22.wav" synth 1 sine 440 sine 550
lame --quiet -b 64 --noreplaygain -t "$tmp/s22.wav" stereo-mpeg2.mp3
# 3 s of stereo noise at 320 kbit/s: a larger file for rewrite tests.
sox -n -r 44100 -c 2 -b 16 "$tmp/n.wav" synth 3 pinknoise
lame --quiet -b 320 --noreplaygain -t "$tmp/n.wav" stereo-noise-3s.mp3
ls -l *.mp3
