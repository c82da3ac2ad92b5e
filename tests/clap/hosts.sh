#!/usr/bin/env bash
# hosts.sh CLAP_LIBRARY CLAP_RENDER VELMOR_HOST AUF2_DIR EFFECTS_LIST
# velmor.clap in a host we did not write, and our CLAP host held to a
# plug-in we did not write:
# - Qtractor's plug-in scanner (qtractor_plugin_scan, Debian's only CLAP
#   host) lists every plug-in of the library with two audio inputs and two
#   outputs and one parameter per item plus the bypass switch;
# - zam-plugins' ZaMaximX2, made with DPF as CLAP and as LV2: our host's
#   render of the CLAP plug-in at settings that are not its defaults equals
#   lv2file's render of the LV2 twin, sample for sample.
# Exits 77 (skipped) when a tool or zam-plugins is missing.
set -euo pipefail
clap=$1 render=$2 host=$3 auf2=$4 effects=$5
scan=$(dpkg -L qtractor 2>/dev/null | grep '/qtractor_plugin_scan$' || true)
[ -n "$scan" ] || { echo "qtractor is not installed"; exit 77; }
for tool in lv2file ffmpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
[ -f /usr/lib/clap/ZaMaximX2.clap ] || { echo "zam-plugins is not installed"; exit 77; }
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
if cmp -s "$work/lv2.raw" "$work/clap.raw" && ! cmp -s "$work/in.raw" "$work/clap.raw"; then
  echo "ZaMaximX2: our CLAP host and lv2file give the same $(($(stat -c %s "$work/clap.raw") / 4)) samples"
else
  echo "ZaMaximX2: our CLAP host DIFFERS from lv2file ($(cmp "$work/lv2.raw" "$work/clap.raw" 2>&1 | head -1))"
  failed=1
fi
exit $failed
