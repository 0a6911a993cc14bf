#!/usr/bin/env bash
# The site's script (Templates/site.js) passes ESLint with the rules of
# tests/node/eslint.config.cjs; and those rules do catch faults: copies of
# the script with a misspelt function, a variable never declared, a window
# global used for a missing declaration and an unused variable each fail.
# The npm packages come from .ci/install-deps.sh (QUILLMARK_NODE_DIR).
# Usage: lint_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$2
. "$src/tests/pages_lib.sh"
need node -- eslint @eslint/js globals

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLMARK_NODE_DIR=$node_dir

# lint: ESLint's report on the script on standard input, read as
# Templates/site.js. A file that the configuration does not cover is
# reported with a warning, which fails too.
lint() {
	(cd "$src" && node "$node_dir/node_modules/eslint/bin/eslint.js" --max-warnings 0 \
		--config tests/node/eslint.config.cjs --stdin --stdin-filename Templates/site.js)
}

lint <"$src/Templates/site.js" >"$work/out" 2>&1 || fail "ESLint finds faults in Templates/site.js:
$(cat "$work/out")"

# broken WHAT RULE SED-SCRIPT: the script changed by SED-SCRIPT fails for
# RULE.
status=0
broken() {
	local copy=$work/site.js
	sed "$3" "$src/Templates/site.js" >"$copy"
	cmp -s "$copy" "$src/Templates/site.js" && fail "$1: the change to site.js did not apply"
	if lint <"$copy" >"$work/out" 2>&1; then
		echo "FAIL: ESLint passes site.js with $1" >&2
		status=1
	elif ! grep -q " $2\$" "$work/out"; then
		echo "FAIL: ESLint does not report $2 for $1:" >&2
		cat "$work/out" >&2
		status=1
	fi
}
broken "a misspelt function" no-undef 's/wordsOf(c)/wordOf(c)/'
broken "a variable never declared" no-undef 's/var from = last/from = last/'
broken "the window's status for a lost declaration" no-restricted-globals \
	'/var status = document.getElementById("status");/d'
broken "an unused variable" no-unused-vars 's/var q = pending;/var q = pending, was = q;/'
exit $status
