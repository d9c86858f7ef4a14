#!/usr/bin/env bash
# Installs the system packages the build needs (GoogleTest, Google Benchmark) when missing.
set -euo pipefail
missing=()
for pkg in libgtest-dev libbenchmark-dev; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "[setup-deps] installing ${missing[*]}" >&2
$SUDO apt-get update -qq >&2
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >&2
