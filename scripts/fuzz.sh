# Fuzzing, shared by .ci/run and fuzz/long-fuzz.sh; sourced after scripts/common.sh.
# Each target starts from a scratch copy of its seed corpus (new inputs land there, never
# in the committed one) plus its regression inputs.
FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"
FUZZ_WORK="$ROOT/$FUZZ_BUILD_DIR/work"

# The targets: one seed corpus folder each (the build refuses a target without one).
fuzz_targets() {
    local dir
    for dir in "$ROOT"/fuzz/corpus/*/; do basename "$dir"; done
}

# fuzz_build [TARGET...]: the clang build with libFuzzer and the sanitizers; only the
# targets named, or everything.
fuzz_build() {
    install_missing "${FUZZ_PACKAGES[@]}"
    cmake -S "$ROOT" -B "$ROOT/$FUZZ_BUILD_DIR" -G Ninja -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DPARLEN_FUZZ=ON -DPARLEN_TESTS=OFF -DPARLEN_SANITIZE=ON \
        -DCMAKE_BUILD_TYPE=Debug >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$ROOT/$FUZZ_BUILD_DIR" -j"$(nproc)" --target "$@"
    else
        cmake --build "$ROOT/$FUZZ_BUILD_DIR" -j"$(nproc)"
    fi
}

# fuzz_run TARGET SECONDS: fuzzes for that long; the log is $FUZZ_WORK/TARGET/log and an
# input that fails is saved beside it as crash-*, leak-*, timeout-* or oom-*.
fuzz_run() {
    local target="$1" seconds="$2" work="$FUZZ_WORK/$1"
    local inputs=("$work/corpus")
    rm -rf "$work"
    mkdir -p "$work"
    cp -r "$ROOT/fuzz/corpus/$target" "$work/corpus"
    [ -d "$ROOT/fuzz/regressions/$target" ] && inputs+=("$ROOT/fuzz/regressions/$target")
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:suppressions=$ROOT/fuzz/asan.supp}" \
        "$ROOT/$FUZZ_BUILD_DIR/bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "${inputs[@]}" >/dev/null 2>"$work/log"
}

# fuzz_report TARGET: one line of figures from the log: executions, executions per
# second, and the coverage libFuzzer counts (cov: edges, ft: features) with the corpus
# size at the end.
fuzz_report() {
    local log="$FUZZ_WORK/$1/log"
    local execs rate last
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
    printf '%-22s %12s %10s %8s %8s %8s\n' "$1" "${execs:-?}" "${rate:-?}" \
        "$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")" \
        "$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")" \
        "$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")"
}

fuzz_report_header() {
    printf '%-22s %12s %10s %8s %8s %8s\n' target execs execs/s cov ft corpus
}

# fuzz_failure TARGET: what went wrong and where the input is that shows it.
fuzz_failure() {
    local work="$FUZZ_WORK/$1" input
    tail -50 "$work/log"
    for input in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
        [ -e "$input" ] || continue
        echo "$1 failed on $input; once fixed, keep the input in fuzz/regressions/$1/"
    done
}
