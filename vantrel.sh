#!/usr/bin/env bash
# Sets up, builds, runs and tests Vantrel on Debian 12; usage() lists the commands.
set -euo pipefail

usage() {
    cat >&2 <<'TEXT'
Usage: ./vantrel.sh COMMAND
  run    install what is missing (apt-get), build, and start Vantrel
  test   install what is missing, build, and run every test, then all of
         them again under AddressSanitizer, UBSan and LeakSanitizer
  bench  install what is missing, build in release mode, run the benchmarks
  fuzz [SECONDS]
         install what is missing (clang too), build the picture readers'
         fuzz targets under AddressSanitizer and UBSan, and run each for
         SECONDS (default 60), several at once; inputs that crash, hang or
         take too much memory are kept in tests/fuzz-regressions/READER/
TEXT
    exit 2
}

[ $# -eq 1 ] || { [ $# -eq 2 ] && [ "$1" = fuzz ] && [[ $2 =~ ^[1-9][0-9]*$ ]]; } || usage
cd "$(dirname "$0")"

packages=(g++ cmake make qt6-base-dev qt6-image-formats-plugins qt6-wayland libgtest-dev libgmock-dev
          libbenchmark-dev fonts-dejavu-core pkg-config libgraphicsmagick1-dev
          libpng-dev libisal-dev libjpeg62-turbo-dev libtiff-dev libgif-dev
          zlib1g-dev)

# Only the fuzz command builds with clang.
fuzz_packages=(clang libclang-rt-14-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "These Debian packages are missing: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}), or install sudo, then run this again." >&2
            exit 1
        fi
        as_root=(sudo)
    fi
    # env passes the setting through sudo, which would otherwise drop it.
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() { # build-dir, cmake options...
    local dir=$1; shift
    mkdir -p "$dir"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir/configure.log" 2>&1 \
        || { cat "$dir/configure.log"; exit 1; }
    cmake --build "$dir" -j"$(nproc)"
}

# The readers' fuzz targets, and the test fixture that seeds each.
declare -A fixture_of=([png]=pattern.png [jpeg]=pattern.jpg [gif]=pattern.gif [tiff]=pattern.tif
                       [bmp]=pattern.bmp [pict]=pattern.pct [targa]=pattern.tga)
readers=(png jpeg gif tiff bmp pict targa)

# Runs a fuzz target with the sanitizers' settings.
fuzz_env() { # command...
    ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$PWD/tests/support/lsan.supp" "$@"
}

# Runs one reader's fuzz target for the given seconds, seeded with its
# fixture, its committed corpus and the inputs found before. A damaged file
# of a few KB settles within a second and 64 MiB in the program; under the
# sanitizers (about half the speed, some 80 MB of their own) that is a
# timeout of 2 s, and 320 MB leaves room for the largest picture that the
# targets decode (see fuzz/FixedReader.h). Findings do not end the run.
fuzz_one() { # reader, seconds
    local reader=$1 seconds=$2 out=build-fuzz/runs
    mkdir -p "$out/corpus/$reader" "$out/findings/$reader"
    cp "tests/fixtures/${fixture_of[$reader]}" "$out/corpus/$reader/"
    local seeds=("fuzz/corpus/$reader")
    [ -d "tests/fuzz-regressions/$reader" ] && seeds+=("tests/fuzz-regressions/$reader")
    fuzz_env "build-fuzz/fuzz/${reader}_fuzzer" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -max_len=65536 -timeout=2 -rss_limit_mb=320 \
        -dict="fuzz/dictionaries/$reader.dict" -artifact_prefix="$out/findings/$reader/" \
        "$out/corpus/$reader" "${seeds[@]}" > "$out/$reader.log" 2>&1 || true
}

# Runs the targets, as many at once as there are cores, then tells for each
# how far it came and keeps what it found as regression cases. The corpus
# that a run grows is kept in build-fuzz for the next run to go on from.
fuzz_all() { # seconds
    rm -rf build-fuzz/runs/findings build-fuzz/runs/*.log
    local running=0
    for reader in "${readers[@]}"; do
        if [ "$running" -ge "$(nproc)" ]; then
            wait -n || true
            running=$((running - 1))
        fi
        fuzz_one "$reader" "$1" &
        running=$((running + 1))
    done
    wait
    local found=0
    for reader in "${readers[@]}"; do
        local last findings
        last=$(grep -E '^#[0-9]+' "build-fuzz/runs/$reader.log" | tail -n 1)
        findings=$(find "build-fuzz/runs/findings/$reader" -type f)
        echo "$reader: ${last:-no run, see build-fuzz/runs/$reader.log}"
        for finding in $findings; do
            # With every core busy a quick input can run out of time: a
            # timeout counts only if the input is slow on its own too.
            if [[ $(basename "$finding") == timeout-* ]] && fuzz_env "build-fuzz/fuzz/${reader}_fuzzer" -timeout=2 "$finding" >/dev/null 2>&1; then
                echo "  $(basename "$finding") timed out only under load; passed over"
                continue
            fi
            mkdir -p "tests/fuzz-regressions/$reader"
            cp "$finding" "tests/fuzz-regressions/$reader/"
            echo "  found $(basename "$finding"), kept in tests/fuzz-regressions/$reader/"
            found=1
        done
    done
    return $found
}

case "$1" in
run)
    install_missing
    build build
    exec build/vantrel
    ;;
test)
    install_missing
    build build
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
    build build-sanitize -DVANTREL_SANITIZE=ON -DVANTREL_BENCHMARKS=OFF
    (cd build-sanitize && QT_QPA_PLATFORM=offscreen \
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=suppressions="$PWD/../tests/support/lsan.supp" \
        ctest --output-on-failure -j"$(nproc)")
    ;;
bench)
    install_missing
    # The benchmark programs and what they use; no tests.
    build build-release -DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF
    # Qt wants a runtime folder of the user's own, which a shell outside a
    # desktop session lacks: the run gets a private one.
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
    cat <<'TEXT'

Each line is one case: its wall-clock time (where the case runs several
times, the median, then the runs' coefficient of variation after "±"), then
what else it measured. MiB = 2^20 bytes; "x" marks a ratio.
TEXT
    for b in build-release/bench/*_bench; do "$b"; done
    ;;
fuzz)
    packages+=("${fuzz_packages[@]}")
    install_missing
    build build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON
    fuzz_all "${2:-60}"
    ;;
*)
    usage
    ;;
esac
