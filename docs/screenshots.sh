#!/usr/bin/env bash
# Makes docs/top.png and docs/category.png: the top-level page and one
# category page of the sample tree, as headless chromium shows them in a
# 1000x700 window. Then port pages, each whole in a window as tall as it
# is: docs/port.png and docs/port-phone.png, a description with ASCII art
# and a table on a desktop (1000 px wide) and a phone (390 px);
# docs/port-deps.png and docs/port-deps-phone.png, the sample's longest
# dependency lists (the phone's cut after the first); and
# docs/port-list-phone.png, a description with a justified paragraph and a
# list whose items go on over indented lines, on a phone. Then
# the search: docs/search.png, a query on the top-level page (1000x700),
# docs/search-phone.png, the same on a phone, and docs/category-filter.png,
# a category page filtered; each arrives with ?q= in the address, which
# runs the search as the page loads.
# Usage: docs/screenshots.sh [QUILLMARK_BIN]
# Without QUILLMARK_BIN the tool is built in build-docs/ first.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
category=www

command -v chromium >/dev/null || {
	echo "chromium is not installed (run .ci/install-deps.sh)" >&2
	exit 1
}
if [ $# -ge 1 ]; then
	bin=$1
else
	cmake -S "$repo" -B "$repo/build-docs" -DCMAKE_BUILD_TYPE=Release \
		-DQUILLMARK_TESTS=OFF >/dev/null
	cmake --build "$repo/build-docs" -j2 --target quillmark >/dev/null
	bin=$repo/build-docs/quillmark
fi

# The port page shows the tree's path, so the tree stands at a short,
# fixed place rather than at a random temporary one. The pages are
# published below an output root, as a site is, so that the top page links
# the maintainers' pages.
work=/tmp/quillmark-screenshots
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cp -R "$repo/sample/ports" "$work/ports"
UNAME_r=15.0-RELEASE "$bin" -q -p "$work/ports" -t "$repo/Templates" \
	-o "$work/site"

shoot() { # page below the tree, PNG file[, window size]
	local profile
	profile=$(mktemp -d "$work/profile.XXXXXX")
	timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic \
		--no-first-run --disable-background-networking \
		--disable-component-update --disable-sync --hide-scrollbars \
		--force-device-scale-factor=1 --user-data-dir="$profile" \
		--virtual-time-budget=5000 \
		--window-size="${3:-1000,700}" --screenshot="$2" \
		"file://$work/site/$1" >/dev/null 2>"$work/chromium.err" || {
		echo "chromium failed on $1:" >&2
		tail -n 5 "$work/chromium.err" >&2
		exit 1
	}
	[ -s "$2" ] || {
		echo "chromium made no screenshot of $1" >&2
		exit 1
	}
	echo "$2"
}
shoot README.html "$repo/docs/top.png"
shoot "$category/README.html" "$repo/docs/category.png"
shoot misc/figlet/README.html "$repo/docs/port.png" 1000,955
shoot misc/figlet/README.html "$repo/docs/port-phone.png" 390,1245
shoot www/firefox/README.html "$repo/docs/port-deps.png" 1000,1630
shoot www/firefox/README.html "$repo/docs/port-deps-phone.png" 390,1560
shoot misc/mc/README.html "$repo/docs/port-list-phone.png" 390,1615
shoot "README.html?q=lib" "$repo/docs/search.png"
shoot "README.html?q=lib" "$repo/docs/search-phone.png" 390,844
shoot "$category/README.html?q=browser" "$repo/docs/category-filter.png"
