#!/usr/bin/env bash
# Fuzzes every target for SECONDS each, one after the other, and prints per target the
# executions, executions per second and coverage. Not part of CI; for long runs, e.g.
#   nice -n 10 fuzz/long-fuzz.sh 600
# Logs and failing inputs stay in build-fuzz/work/TARGET/.
source "$(dirname "$0")/../scripts/common.sh"
source "$ROOT/scripts/fuzz.sh"
if [ $# -ne 1 ] || ! [[ "$1" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 SECONDS   (fuzzing time per target)" >&2
    exit 2
fi
mapfile -t targets < <(fuzz_targets)
fuzz_build "${targets[@]}" >/dev/null
echo "fuzzing ${#targets[@]} targets for $1 s each, from $(date -u +%H:%M) UTC"
fuzz_report_header
failed=0
for target in "${targets[@]}"; do
    if fuzz_run "$target" "$1"; then
        fuzz_report "$target"
    else
        fuzz_report "$target"
        fuzz_failure "$target" >&2
        failed=1
    fi
done
exit $failed
