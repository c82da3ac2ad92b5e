# Sourced by tests/lv2/hosts.sh and scripts/ardour-check: the items of an LV2
# plug-in by port symbol, as velmor-host and Ardour number them.

# item_indices URI SYMBOL=VALUE...: "INDEX VALUE" a line, INDEX the item's
# place (from 0) among the plug-in's control ports; fails on a symbol the
# plug-in has not.
item_indices() {
  local uri=$1 setting k found symbols
  shift
  mapfile -t symbols < <(lv2info "$uri" | awk '/Symbol:/ { print $2 }' | tail -n +5)
  for setting in "$@"; do
    found=""
    for k in "${!symbols[@]}"; do [ "${symbols[$k]}" = "${setting%%=*}" ] && found="$k ${setting#*=}"; done
    [ -n "$found" ] || { echo "$uri has no port ${setting%%=*}" >&2; return 1; }
    echo "$found"
  done
}

# render_sets URI SYMBOL=VALUE...: the array `sets` becomes velmor-host
# render's --set arguments for the same settings (items numbered from 1).
render_sets() {
  local pairs index value
  pairs=$(item_indices "$@") || return 1
  sets=()
  while read -r index value; do
    [ -n "$index" ] && sets+=(--set "$((index + 1))=$value")
  done <<<"$pairs"
}
