#!/usr/bin/env bash
# check_exports.sh elf NM FILE [SYMBOL...] | pe OBJDUMP FILE
# Fails unless FILE defines exactly the given symbols (by default the three
# AviUtl2 entry points) in its dynamic symbol table (ELF) or export table
# (PE); a PE file may moreover import only system DLLs.
set -euo pipefail
kind=$1 tool=$2 file=$3
shift 3
if [ $# -gt 0 ]; then
  expected=$(printf '%s\n' "$@" | sort)
else
  expected=$'GetFilterPluginTable\nInitializePlugin\nUninitializePlugin'
fi
if [ "$kind" = elf ]; then
  exports=$("$tool" -D --defined-only "$file" | awk 'NF >= 3 { print $3 }' | sort)
else
  dump=$("$tool" -p "$file")
  grep -q 'PE32+' <<<"$dump" || { echo "$file: not a PE32+ image"; exit 1; }
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^[ \t]*\[/ { print $NF; next } on { on = 0 }' <<<"$dump" | sort)
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$dump" | sort -u)
  bad=$(grep -viE '^(KERNEL32\.dll|msvcrt\.dll|api-ms-win-crt-[a-z0-9-]+\.dll)$' <<<"$imports" || true)
  if [ -n "$bad" ]; then
    echo "$file imports non-system DLLs:"; echo "$bad"; exit 1
  fi
  echo "imports: $(tr '\n' ' ' <<<"$imports")"
fi
if [ "$exports" != "$expected" ]; then
  echo "$file exports:"; echo "$exports"; echo "expected exactly:"; echo "$expected"; exit 1
fi
echo "$file exports exactly: $(tr '\n' ' ' <<<"$exports")"
