#!/usr/bin/env bash
# Installs with apt-get what building and testing quillmark needs beyond a
# shell: the build tools, expat (the XML parser that reads the tree's
# vulnerability database), libgit2 with pkgconf (which read a tree's git
# history) and git (with which the tests make histories), GoogleTest, and the programs the script tests run
# (mandoc and groff for the manual page, tidy and chromium for the generated pages,
# python3 to serve them over HTTP, nginx to serve a published site as the
# README says, node and a Java runtime for the npm
# packages of tests/node: puppeteer-core, which drives chromium in the
# browser and search tests, the Nu HTML checker, Lighthouse, which
# rates the pages, and ESLint, which checks the site's script).
# Silent and quick when everything is present; apt-get update runs only when
# something has to be installed. The npm packages are installed with npm ci
# from tests/node's lock file into a cache directory (QUILLMARK_NODE_DIR,
# default ~/.cache/quillmark-node), again only when the lock file changed.
set -euo pipefail

# A package counts as present when dpkg has it installed.
have_package() {
	[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

wanted=(cmake ninja-build make g++ clang libclang-rt-14-dev libexpat1-dev libgit2-dev pkgconf git libgtest-dev libgmock-dev mandoc groff-base tidy chromium python3 nginx)
missing=()
for package in "${wanted[@]}"; do
	have_package "$package" || missing+=("$package")
done
# node and npm may come from another package than Debian's (one nodejs
# with npm inside), and Java from any JRE: the commands count.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
command -v java >/dev/null || missing+=(default-jre-headless)

if [ ${#missing[@]} -gt 0 ]; then
	if [ "$(id -u)" -ne 0 ]; then
		echo "install-deps: missing ${missing[*]}; run this script as root to install them" >&2
		exit 1
	fi
	echo "Installing ${missing[*]}..."
	export DEBIAN_FRONTEND=noninteractive
	apt-get update -qq
	apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
		2> >(grep -v '^debconf: delaying package configuration' >&2)
fi

# The npm packages, from the lock file as it is.
lock_dir=$(cd "$(dirname "$0")/../tests/node" && pwd)
node_dir=${QUILLMARK_NODE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmark-node}
if ! cmp -s "$lock_dir/package-lock.json" "$node_dir/package-lock.json" ||
	[ ! -d "$node_dir/node_modules" ]; then
	echo "Installing the npm packages of tests/node into $node_dir..."
	mkdir -p "$node_dir"
	cp "$lock_dir/package.json" "$lock_dir/package-lock.json" "$node_dir/"
	(cd "$node_dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
fi
