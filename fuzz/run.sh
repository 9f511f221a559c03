#!/usr/bin/env bash
# Runs every fuzz target of a TEMPIKON_FUZZ build for a fixed number of
# inputs, starting from the seed corpora; fails on the first finding.
#   fuzz/run.sh BUILD_DIR [RUNS] [TARGET...]
# New inputs go to a scratch folder, never into fuzz/corpus; a finding is
# kept as BUILD_DIR/fuzz/findings/<target>/crash-*.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR [RUNS] [TARGET...]}
runs=${2:-20000}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(time_text server_list number_text stored_settings reply ntp_packet nts_ke nts_fields history)

scratch=$(mktemp -d /tmp/tempikon-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
status=0
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "missing $exe (configure with -DTEMPIKON_FUZZ=ON)" >&2; exit 2; }
  findings="$build/fuzz/findings/$t"
  mkdir -p "$scratch/$t" "$findings"
  start=$SECONDS
  if "$exe" -runs="$runs" -seed=1 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/" "$scratch/$t" "$here/corpus/$t" \
       >"$scratch/$t.log" 2>&1; then
    echo "fuzz $t: $runs runs, no finding ($((SECONDS - start)) s)"
  else
    echo "fuzz $t: FINDING" >&2
    tail -n 40 "$scratch/$t.log" >&2
    status=1
  fi
done
exit $status
