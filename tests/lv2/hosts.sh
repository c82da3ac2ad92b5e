#!/usr/bin/env bash
# hosts.sh BUNDLE VELMOR_HOST AUF2_DIR JACK_IO JACK_GATE
# The LV2 bundle in hosts we did not write: lv2_validate passes on it, lv2ls
# lists all seven plug-ins, and for every plug-in, at settings that are not
# the defaults and at 48000 Hz, ffmpeg's lv2 filter, lv2apply, GStreamer's
# LV2 bridge, lv2file and jalv render samples that are those of
# velmor-host render through the AviUtl2 plug-in with the same blocks
# (ffmpeg and GStreamer run 1024 samples a block, as asetnsamples and
# audiobuffersplit cut them, lv2file 512, lv2apply one sample, jalv the
# 1024-frame periods of a JACK dummy server that this script starts and
# stops). jalv runs its plug-in from the moment it is active, on silence
# until something is connected; JACK_GATE holds jalv's process callback until
# its inputs are connected, and JACK_IO starts playing in that same cycle, so
# the plug-in's first run() is the file's first frame. The modulator's first block
# divides by 44100 Hz and later ones by the scene's rate, so at 48000 Hz its
# output shows whether the blocks are the same. Exits 77 (skipped) when a
# host is not installed.
set -euo pipefail
source "$(dirname "$0")/items.sh"
bundle=$1 host=$2 auf2=$3
jack_io=${4:-} jack_gate=${5:-}
for tool in lv2_validate sord_validate lv2ls lv2info lv2apply ffmpeg gst-launch-1.0 lv2file jalv jackd jack_wait; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
[ -n "$jack_gate" ] || { echo "the JACK player and gate were not built (no libjack headers)"; exit 77; }
work=$(mktemp -d)
jackd_pid="" jalv_pid=""
stop() {
  [ -z "$jalv_pid" ] || kill "$jalv_pid" 2>/dev/null || true
  [ -z "$jackd_pid" ] || { kill "$jackd_pid" 2>/dev/null; wait "$jackd_pid" 2>/dev/null; } || true
  rm -rf "$work"
}
trap stop EXIT
mkdir "$work/lv2"
ln -s "$(cd "$bundle" && pwd)" "$work/lv2/velmor.lv2"
export LV2_PATH="$work/lv2"
export GST_REGISTRY="$work/gst-registry.bin"

lv2_validate "$bundle"/*.ttl >"$work/validate.log" 2>&1 || { cat "$work/validate.log"; echo "lv2_validate failed"; exit 1; }
grep -q 'Found 0 errors' "$work/validate.log" || { cat "$work/validate.log"; exit 1; }
echo "lv2_validate: $(tail -1 "$work/validate.log")"

# The build's list of effects ("Name slug" per line), and a case for each.
effects=$(cd "$bundle/../.." && pwd)/effects.txt
count=$(wc -l <"$effects")
listed=$(lv2ls | grep -c '^urn:velmor:' || true)
[ "$listed" -eq "$count" ] || { lv2ls; echo "lv2ls lists $listed Velmor plug-ins, not $count"; exit 1; }
echo "lv2ls: $count plug-ins"
while read -r name slug; do
  grep -q "^$name $slug " "$(dirname "$0")/cases.txt" ||
    { echo "tests/lv2/cases.txt has no settings for $name: add a line '$name $slug symbol=value...'"; exit 1; }
done <"$effects"

"$host" signal "$work/in.wav" --rate 48000 --seconds 2
raw() { ffmpeg -hide_banner -loglevel error -y -i "$1" -f f32le "$2"; }
raw "$work/in.wav" "$work/in.raw"

export JACK_DEFAULT_SERVER=velmor-test-$$ JACK_NO_AUDIO_RESERVATION=1
jackd --no-realtime --name "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 1024 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
jack_wait --wait --timeout 20 >/dev/null || { cat "$work/jackd.log"; echo "the JACK dummy server did not start"; exit 1; }
mkfifo "$work/jalv.in"
exec 3<>"$work/jalv.in"
# jalv_render URI OUT.raw -c SYMBOL=VALUE...: jalv's output for in.raw.
jalv_render() {
  local uri=$1 out=$2 client=velmor_jalv_$$
  shift 2
  # jalv reads commands from its standard input and stops at its end: a
  # pipe that this script holds open.
  LD_PRELOAD=$jack_gate jalv -x -n "$client" "$@" "$uri" <&3 >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  "$jack_io" "$work/in.raw" "$out" "$client:" || { cat "$work/jalv.log"; return 1; }
  kill "$jalv_pid" 2>/dev/null; wait "$jalv_pid" 2>/dev/null || true
  jalv_pid=""
}

mapfile -t cases < <(grep -v '^#' "$(dirname "$0")/cases.txt")
failed=0
for entry in "${cases[@]}"; do
  read -r name slug settings <<<"$entry"
  uri="urn:velmor:$slug"
  # shellcheck disable=SC2086
  render_sets "$uri" $settings || exit 1
  ffcontrols="" lv2controls=() gstprops=() lv2fileparams=() jalvcontrols=()
  for setting in $settings; do
    symbol=${setting%%=*} value=${setting#*=}
    ffcontrols+="${ffcontrols:+|}$symbol=$value"
    lv2controls+=(-c "$symbol" "$value")
    gstprops+=("${symbol//_/-}=$value")
    lv2fileparams+=(-p "$symbol:$value")
    jalvcontrols+=(-c "$symbol=$value")
  done
  ffmpeg -hide_banner -loglevel error -y -i "$work/in.wav" \
    -af "asetnsamples=n=1024:p=0,lv2=p=urn\\\\:velmor\\\\:$slug:c=$ffcontrols" -c:a pcm_f32le "$work/ffmpeg.wav"
  lv2apply -i "$work/in.wav" -o "$work/lv2apply.wav" "${lv2controls[@]}" "$uri" >/dev/null
  gst-launch-1.0 -q filesrc location="$work/in.wav" ! wavparse ! audioconvert \
    ! audio/x-raw,format=F32LE,channels=2,layout=interleaved ! audiobuffersplit output-buffer-duration=1024/48000 \
    ! "urn-velmor-${slug//_/-}" "${gstprops[@]}" ! wavenc ! filesink location="$work/gstreamer.wav"
  lv2file -i "$work/in.wav" -o "$work/lv2file.wav" -b 512 --ignore-clipping "${lv2fileparams[@]}" "$uri" >/dev/null
  jalv_render "$uri" "$work/jalv.raw" "${jalvcontrols[@]}"
  "$host" render "$auf2/$name.auf2" "$work/in.wav" "$work/ref512.wav" --block 512 --quiet "${sets[@]}"
  "$host" render "$auf2/$name.auf2" "$work/in.wav" "$work/ref1024.wav" --block 1024 --quiet "${sets[@]}"
  "$host" render "$auf2/$name.auf2" "$work/in.wav" "$work/ref1.wav" --block 1 --quiet "${sets[@]}"
  for f in ffmpeg lv2apply gstreamer lv2file ref1024 ref512 ref1; do raw "$work/$f.wav" "$work/$f.raw"; done
  for pair in "ffmpeg ref1024" "lv2apply ref1" "gstreamer ref1024" "lv2file ref512" "jalv ref1024"; do
    read -r got want <<<"$pair"
    bytes=$(stat -c %s "$work/$want.raw")
    if [ "$bytes" -gt 0 ] && cmp -s "$work/$got.raw" "$work/$want.raw"; then
      printf '%-20s %-9s identical, %d samples\n' "$name" "$got" $((bytes / 4))
    else
      printf '%-20s %-9s DIFFERS from velmor-host render (%s)\n' "$name" "$got" "$(cmp "$work/$got.raw" "$work/$want.raw" 2>&1 | head -1)"
      failed=1
    fi
  done
done
# Factory presets, loaded by lv2file by their label (the others are listed
# by lv2info and validated above).
presets=(
  "VelmorDelay delay Ping-pong echo|type=1 time=250 feedback=0.6"
  "VelmorPitchShifter pitch_shifter Octave down with the dry sound|pitch=-12 dry=50 wet=70"
)
for entry in "${presets[@]}"; do
  read -r name slug label <<<"${entry%%|*}"
  uri="urn:velmor:$slug"
  # shellcheck disable=SC2086
  render_sets "$uri" ${entry#*|} || exit 1
  lv2file -i "$work/in.wav" -o "$work/preset.wav" -b 512 --ignore-clipping -P "$label" "$uri" >/dev/null
  "$host" render "$auf2/$name.auf2" "$work/in.wav" "$work/preset-ref.wav" --block 512 --quiet "${sets[@]}"
  raw "$work/preset.wav" "$work/preset.raw"
  raw "$work/preset-ref.wav" "$work/preset-ref.raw"
  if cmp -s "$work/preset.raw" "$work/preset-ref.raw"; then
    printf '%-20s preset "%s": identical\n' "$name" "$label"
  else
    printf '%-20s preset "%s": DIFFERS\n' "$name" "$label"
    failed=1
  fi
done
exit $failed
