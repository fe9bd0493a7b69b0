#!/usr/bin/env bash
# vrexa: one entry point for building, testing and the demo.
#   ./run.sh test   install what is missing, build, run the whole suite
#   ./run.sh install  install what is missing (with CXX=clang++: clang too)
#   ./run.sh build  install what is missing and build
#   ./run.sh demo   run the updater against a local demo network
#   ./run.sh fuzz [SECONDS]  build the fuzz targets with clang, run each SECONDS (60)
#   ./run.sh fuzz-ci         the same, a fixed number of inputs each (CI)
#   ./run.sh bench-e2e [ARGS]  install aria2, build vrexa, run tools/bench/e2e/e2e_bench.py ARGS
#   ./run.sh bench-delta [ARGS] install zsync, build, run the reuse scan bench and tools/bench/reuse/delta_bench.py ARGS
#   ./run.sh package  build, make the Debian package (build/package/) and check it with lintian
#   ./run.sh sim [ARGS]  build and run the fleet simulation of the node choice, plot it
#                        (figures on stdout, files in $BUILD_DIR/sim; ARGS go to vrexa-fleet-sim)
# Environment: BUILD_DIR (default build), VREXA_SANITIZE (address|thread),
# JOBS (parallel build jobs, default: all cores), CC/CXX (compiler, first
# configure only), CMAKE_ARGS (more cmake options), FUZZ_BUILD_DIR (build-fuzz;
# may name a clang build configured with -DVREXA_FUZZ=ON, whose targets are reused).
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  g++ cmake ninja-build pkg-config make
  libboost1.74-dev libboost-thread1.74-dev libboost-filesystem1.74-dev
  libboost-locale1.74-dev libboost-random1.74-dev libboost-system1.74-dev
  libcurl4-openssl-dev libpoco-dev libisal-dev libgtk-3-dev libx11-dev gettext desktop-file-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  nginx-light python3 curl xvfb ccache
  libsodium-dev libssl-dev minisign clang-format flake8 openssl
)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "run.sh: installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# A clang build (CXX=clang++) needs clang and its sanitizer runtimes.
case "${CXX:-}" in *clang*) PACKAGES+=(clang libclang-rt-14-dev) ;; esac

BUILD_DIR=${BUILD_DIR:-build}
JOBS=${JOBS:-$(nproc)}

build() {
  install_packages
  cmake -S . -B "$BUILD_DIR" -G Ninja -DVREXA_SANITIZE="${VREXA_SANITIZE:-}" ${CMAKE_ARGS:-} >/dev/null
  cmake --build "$BUILD_DIR" -j "$JOBS"
}

fuzz_build() {
  PACKAGES+=(clang libclang-rt-14-dev)
  install_packages
  CC=clang CXX=clang++ cmake -S . -B "${FUZZ_BUILD_DIR:-build-fuzz}" -G Ninja -DVREXA_FUZZ=ON \
    -DVREXA_BENCHMARKS=OFF ${CMAKE_ARGS:-} >/dev/null
  cmake --build "${FUZZ_BUILD_DIR:-build-fuzz}" -j "$JOBS" --target fuzz_all
}

case "${1:-test}" in
  install) install_packages ;;
  build) build ;;
  test)
    build
    ctest --test-dir "$BUILD_DIR" -j "$JOBS" --output-on-failure --timeout 300
    ;;
  demo)
    build
    if [ -x tests/support/demo.sh ]; then
      exec tests/support/demo.sh "$BUILD_DIR"
    fi
    echo "run.sh: the updater and its demo network are not built yet" >&2
    exit 1
    ;;
  fuzz)
    fuzz_build
    exec fuzz/run.sh "${FUZZ_BUILD_DIR:-build-fuzz}" seconds "${2:-60}"
    ;;
  fuzz-ci)
    fuzz_build
    exec fuzz/run.sh "${FUZZ_BUILD_DIR:-build-fuzz}" runs "${FUZZ_RUNS:-20000}"
    ;;
  bench-e2e)
    # aria2c is the yardstick of this benchmark only; the tests never need it.
    PACKAGES+=(aria2 time util-linux)
    install_packages
    # Measured without sanitizers, whatever the build folder was configured with before.
    cmake -S . -B "$BUILD_DIR" -G Ninja -DVREXA_SANITIZE= ${CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR" -j "$JOBS" --target vrexa vrexa-publish
    shift
    exec python3 tools/bench/e2e/e2e_bench.py --build-dir "$BUILD_DIR" "$@"
    ;;
  bench-delta)
    # zsync is the yardstick of this benchmark only; the tests never need it.
    PACKAGES+=(zsync)
    install_packages
    cmake -S . -B "$BUILD_DIR" -G Ninja -DVREXA_SANITIZE= ${CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR" -j "$JOBS" --target vrexa vrexa-publish vrexa_reuse_bench
    shift
    "$BUILD_DIR/tools/bench/reuse/vrexa_reuse_bench"
    exec python3 tools/bench/reuse/delta_bench.py --build-dir "$BUILD_DIR" "$@"
    ;;
  package)
    # lintian checks the package; neither the build nor the tests need it.
    PACKAGES+=(lintian dpkg-dev fakeroot)
    build
    mkdir -p "$BUILD_DIR/package"
    python3 tests/install/test_install.py --build-dir "$BUILD_DIR" --package-dir "$BUILD_DIR/package" \
      --version "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")" PackageTest
    ls "$BUILD_DIR"/package/*.deb
    ;;
  sim)
    # matplotlib draws the simulation's plot; nothing else needs it.
    PACKAGES+=(python3-matplotlib)
    install_packages
    cmake -S . -B "$BUILD_DIR" -G Ninja -DVREXA_SANITIZE= ${CMAKE_ARGS:-} >/dev/null
    cmake --build "$BUILD_DIR" -j "$JOBS" --target vrexa-fleet-sim
    shift
    mkdir -p "$BUILD_DIR/sim"
    "$BUILD_DIR/tools/sim/vrexa-fleet-sim" --out "$BUILD_DIR/sim" "$@"
    # The system's interpreter, which the Debian package serves, even where
    # another python3 comes first on PATH.
    plot_python=/usr/bin/python3
    [ -x "$plot_python" ] || plot_python=python3
    exec "$plot_python" tools/sim/plot.py "$BUILD_DIR/sim"
    ;;
  *)
    echo "usage: $0 [test|install|build|demo|fuzz [SECONDS]|fuzz-ci|bench-e2e [ARGS]|bench-delta [ARGS]|package|sim [ARGS]]" >&2
    exit 2
    ;;
esac
