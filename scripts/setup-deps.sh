#!/usr/bin/env bash
# Installs the system packages the build needs (GoogleTest, Google Benchmark) when missing;
# with --bench also texlive-binaries, whose ctangle builds Knuth's DLX programs from their
# CWEB sources for the benchmarks that measure against them (bench/dlx5_ratio.sh,
# bench/bench_colors.py).
set -euo pipefail
packages=(libgtest-dev libbenchmark-dev)
[ "${1:-}" = "--bench" ] && packages+=(texlive-binaries)
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "[setup-deps] installing ${missing[*]}" >&2
$SUDO apt-get update -qq >&2
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
