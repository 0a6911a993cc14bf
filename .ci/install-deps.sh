#!/usr/bin/env bash
# Installs with apt-get what building and testing quillmark needs beyond a
# shell: the build tools, GoogleTest, and the programs the script tests run
# (mandoc for the manual page, tidy and chromium for the generated pages,
# python3 to serve them over HTTP).
# Silent and quick when everything is present; apt-get update runs only when
# something has to be installed.
set -euo pipefail

# A package counts as present when dpkg has it installed.
have_package() {
	[ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

wanted=(cmake ninja-build make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev mandoc tidy chromium python3)
missing=()
for package in "${wanted[@]}"; do
	have_package "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
	echo "install-deps: missing ${missing[*]}; run this script as root to install them" >&2
	exit 1
fi
echo "Installing ${missing[*]}..."
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null \
	2> >(grep -v '^debconf: delaying package configuration' >&2)
