#!/usr/bin/env bash
# Builds quillmark and runs its main job, a whole-tree run, on a copy of the
# sample ports tree shipped in sample/ports, with the shipped templates.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
if [ ${#need[@]} -gt 0 ]; then
	echo "Installing ${need[*]}..."
	export DEBIAN_FRONTEND=noninteractive
	apt-get update -qq
	apt-get install -y -qq "${need[@]}" >/dev/null
fi

build="$repo/build-demo"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

out=${1:-/tmp/quillmark-sample}
rm -rf "$out"
mkdir -p "$out"
cp -R "$repo/sample/ports" "$out/ports"

# The sample INDEX is INDEX-15; UNAME_r names the release on any system.
UNAME_r=15.0-RELEASE "$build/quillmark" -p "$out/ports" -t "$repo/Templates"
echo
echo "Done. Open $out/ports/README.html in a browser to see the pages."
