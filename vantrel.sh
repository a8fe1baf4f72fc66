#!/usr/bin/env bash
# Sets up, builds, runs and tests Vantrel on Debian 12.
#   ./vantrel.sh run    install what is missing, build, start the app
#   ./vantrel.sh test   install what is missing, build, run every test
#                       (then again under AddressSanitizer and UBSan)
#   ./vantrel.sh bench  build in release mode and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

packages=(g++ cmake make qt6-base-dev qt6-image-formats-plugins libgtest-dev libgmock-dev
          libbenchmark-dev fonts-dejavu-core pkg-config libgraphicsmagick1-dev
          libpng-dev libisal-dev libjpeg62-turbo-dev libtiff-dev libgif-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() { # build-dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir.configure.log" 2>&1 \
        || { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing
    build build
    if [ -x build/vantrel ]; then
        exec build/vantrel
    else
        echo "Built the libraries and tests; the app window is not part of the build yet."
    fi
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
    build build-release -DCMAKE_BUILD_TYPE=Release
    for b in build-release/bench/*_bench; do "$b"; done
    ;;
*)
    sed -n '2,7p' "$0"
    exit 2
    ;;
esac
