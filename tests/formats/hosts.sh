#!/usr/bin/env bash
# hosts.sh CLAP_LIBRARY CLAP_RENDER VST3_RENDER VELMOR_HOST AUF2_DIR EFFECTS_LIST
# velmor.clap in a host we did not write, and our CLAP and VST 3 hosts held
# to a plug-in we did not write:
# - Qtractor's plug-in scanner (qtractor_plugin_scan, Debian's only CLAP
#   host) lists every plug-in of the library with two audio inputs and two
#   outputs and one parameter per item plus the bypass switch;
# - zam-plugins' ZaMaximX2, made with DPF as CLAP, VST 3 and LV2: our
#   hosts' renders of the CLAP and the VST 3 plug-in at settings that are not
#   its defaults equal lv2file's render of the LV2 twin, sample for sample.
# Exits 77 (skipped) when a tool or zam-plugins is missing.
set -euo pipefail
clap=$1 render=$2 vst3_render=$3 host=$4 auf2=$5 effects=$6
scan=$(dpkg -L qtractor 2>/dev/null | grep '/qtractor_plugin_scan$' || true)
[ -n "$scan" ] || { echo "qtractor is not installed"; exit 77; }
for tool in lv2file ffmpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
zam_vst3=/usr/lib/vst3/ZaMaximX2.vst3/Contents/x86_64-linux/ZaMaximX2.so
[ -f /usr/lib/clap/ZaMaximX2.clap ] && [ -f "$zam_vst3" ] || { echo "zam-plugins is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

listing=$(echo "CLAP:$clap" | timeout 60 "$scan" 2>/dev/null)
echo "$listing"
index=0
while read -r name slug; do
  items=$("$host" info "$auf2/$name.auf2" | grep -cE '^ +[0-9]+\. (track|select) ')
  line=$(awk -F'|' -v i="$index" '$1 == "CLAP" && $8 == i' <<<"$listing")
  if [ "$(cut -d'|' -f3 <<<"$line")" != 2:2 ] || [ "$(cut -d'|' -f5 <<<"$line")" != "$((items + 1)):0" ]; then
    echo "qtractor_plugin_scan: $name ($slug) is not listed with 2 audio ins and outs and $((items + 1)) parameters"
    failed=1
  fi
  index=$((index + 1))
done <"$effects"
[ "$(grep -c '^CLAP|' <<<"$listing")" -eq "$index" ] || { echo "qtractor_plugin_scan lists other than $index plug-ins"; failed=1; }

"$host" signal "$work/in.wav" --rate 48000 --seconds 2
ffmpeg -hide_banner -loglevel error -y -i "$work/in.wav" -f f32le "$work/in.raw"
lv2file -i "$work/in.wav" -o "$work/lv2.wav" -b 512 --ignore-clipping -p rel:60 -p ceil:-3 -p thresh:-12 \
  urn:zamaudio:ZaMaximX2 >/dev/null
ffmpeg -hide_banner -loglevel error -y -i "$work/lv2.wav" -f f32le "$work/lv2.raw"
"$render" /usr/lib/clap/ZaMaximX2.clap com.zamaudio.ZaMaximX2 "$work/in.raw" "$work/clap.raw" 48000 512 \
  Release=60 "Output Ceiling=-3" Threshold=-12
"$vst3_render" "$zam_vst3" "$work/in.raw" "$work/vst3.raw" 48000 512 Release=60 "Output Ceiling=-3" Threshold=-12
for format in clap vst3; do
  if cmp -s "$work/lv2.raw" "$work/$format.raw" && ! cmp -s "$work/in.raw" "$work/$format.raw"; then
    echo "ZaMaximX2: our $format host and lv2file give the same $(($(stat -c %s "$work/$format.raw") / 4)) samples"
  else
    echo "ZaMaximX2: our $format host DIFFERS from lv2file ($(cmp "$work/lv2.raw" "$work/$format.raw" 2>&1 | head -1))"
    failed=1
  fi
done
exit $failed
