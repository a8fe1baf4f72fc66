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
TEXT
    exit 2
}

[ $# -eq 1 ] || usage
cd "$(dirname "$0")"

packages=(g++ cmake make qt6-base-dev qt6-image-formats-plugins qt6-wayland libgtest-dev libgmock-dev
          libbenchmark-dev fonts-dejavu-core pkg-config libgraphicsmagick1-dev
          libpng-dev libisal-dev libjpeg62-turbo-dev libtiff-dev libgif-dev
          zlib1g-dev)

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
*)
    usage
    ;;
esac
