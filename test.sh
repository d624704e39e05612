#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests run offscreen).
#   --sanitize  also builds ./build-sanitize with AddressSanitizer and UndefinedBehaviorSanitizer
#               and runs the whole suite there
#   --fuzz      also builds ./build-fuzz with clang's libFuzzer and runs each fuzz target in
#               FUZZ_TARGETS for FUZZ_SECONDS (default 20) from its corpus in tests/fuzz/corpus
# Under CI=true both run.
set -euo pipefail
cd "$(dirname "$0")"
sanitize=false
fuzz=false
[ "${CI:-}" = true ] && sanitize=true && fuzz=true
for argument in "$@"; do
    case "$argument" in
    --sanitize) sanitize=true ;;
    --fuzz) fuzz=true ;;
    *) echo "unknown option: $argument" >&2; exit 2 ;;
    esac
done

tools/setup.sh
(cd build && ctest --output-on-failure -j "$(nproc)")

if $sanitize; then
    echo "== The suite again, with AddressSanitizer and UndefinedBehaviorSanitizer"
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBORVANE_SANITIZE=ON \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
    cmake --build build-sanitize -j "$(nproc)"
    # Qt and the font libraries keep caches until the process ends, which the leak check
    # would report; memory errors and undefined behaviour still end the test.
    (cd build-sanitize && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j "$(nproc)")
fi

if $fuzz; then
    if ! command -v clang++ >/dev/null; then
        echo "== No clang++: the fuzz targets are not built"
    else
        echo "== Fuzz targets, ${FUZZ_SECONDS:-20} s each"
        cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DBORVANE_FUZZ=ON \
            -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
        cmake --build build-fuzz -j "$(nproc)"
        for name in ${FUZZ_TARGETS:-slicedfile numbers rowscans layerindex layerpieces heatshrink meatpack bgcode threemf}; do
            target=tests/fuzz/corpus/$name
            found=$(mktemp -d)
            log=$(mktemp)
            # New inputs go to a scratch folder; the corpus in the repository is only read.
            if ! LC_ALL=C.UTF-8 build-fuzz/tests/fuzz/"fuzz_$name" -max_total_time="${FUZZ_SECONDS:-20}" \
                "$found" "$target" >"$log" 2>&1; then
                tail -n 80 "$log"
                echo "fuzz_$name failed; the input that failed is named in the lines above" >&2
                exit 1
            fi
            echo "fuzz_$name: $(grep -E '^Done [0-9]+ runs' "$log")"
            rm -rf "$found" "$log"
        done
    fi
fi
