#!/usr/bin/env bash
# Runs every fuzz target of a build: `fuzz/run.sh BUILD_DIR runs N` gives each
# target N inputs (CI), `fuzz/run.sh BUILD_DIR seconds S` S seconds each.
# Dictionaries are fuzz/dict/<target>.dict (links to one file per format).
# Inputs that crash are kept under BUILD_DIR/fuzz-findings/.
set -euo pipefail
build=$1 kind=$2 amount=$3
here=$(cd "$(dirname "$0")" && pwd)
findings="$build/fuzz-findings"
mkdir -p "$findings"
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$here/corpus/$name" ] && seeds=("$here/corpus/$name")
  dict=()
  [ -f "$here/dict/$name.dict" ] && dict=(-dict="$here/dict/$name.dict")
  if [ "$kind" = runs ]; then limit=(-runs="$amount"); else limit=(-max_total_time="$amount"); fi
  echo "fuzz: $name"
  if ! "$target" "${limit[@]}" "${dict[@]}" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$findings/$name-" -print_final_stats=1 "$corpus" "${seeds[@]}" \
      >"$build/fuzz-$name.log" 2>&1; then
    echo "fuzz: $name FAILED, see $build/fuzz-$name.log and $findings" >&2
    tail -30 "$build/fuzz-$name.log" >&2
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE|cov:' "$build/fuzz-$name.log" | tail -2
done
exit $status
