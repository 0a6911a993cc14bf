#!/usr/bin/env bash
# The manual page lints clean and documents exactly the options of the help
# text, each with the same argument name.
# Usage: manpage_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2
page=$src/src/cli/quillmark.1

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

command -v mandoc >/dev/null || fail "mandoc is not installed (run .ci/install-deps.sh)"
[ -f "$page" ] || fail "$page is missing"

# mandoc looks up every cross-reference in the manuals of the host. ports(7)
# is a FreeBSD manual, so elsewhere its lookup alone may fail; any other
# message is a fault of the page.
lint=$(mandoc -T lint "$page" 2>&1) || true
if ! ls /usr/share/man/man7/ports.7* >/dev/null 2>&1; then
	lint=$(grep -v 'STYLE: referenced manual not found: Xr ports 7$' <<<"$lint" || true)
fi
[ -z "$lint" ] || fail "mandoc -T lint reports:
$lint"

# man(1) formats the page with groff: at the usual widths every line of it
# can be broken.
if command -v groff >/dev/null; then
	for width in 60 78 80; do
		warnings=$(groff -mandoc -Tutf8 -rLL=${width}n -z "$page" 2>&1)
		[ -z "$warnings" ] || fail "groff at width $width warns: $warnings"
	done
fi

# Help lines that begin an option: "-p pathname    Use ...".
help=$("$bin" -h) || fail "$bin -h exited with status $?"
options=$(sed -n 's/^-\([A-Za-z]\)\( [a-z][a-z-]*\)\{0,1\}  .*/\1\2/p' <<<"$help")
[ "$(wc -l <<<"$options")" -ge 7 ] ||
	fail "expected at least 7 options in the help text, found: $options"

# The option list of the page: ".It Fl p Ar pathname".
documented=$(sed -n 's/^\.It Fl \([A-Za-z]\)\( Ar [a-z][a-z-]*\)\{0,1\}$/\1\2/p' "$page" |
	sed 's/ Ar / /')
synopsis=$(sed -n '/^\.Sh SYNOPSIS/,/^\.Sh /p' "$page")

status=0
while read -r letter arg; do
	want=$letter${arg:+ $arg}
	if ! grep -qxF -- "$want" <<<"$documented"; then
		echo "FAIL: option -$want of the help text has no \".It Fl $letter${arg:+ Ar $arg}\" in the page" >&2
		status=1
	fi
	if [ -n "$arg" ]; then
		grep -qxF ".Op Fl $letter Ar $arg" <<<"$synopsis" || {
			echo "FAIL: SYNOPSIS lacks \".Op Fl $letter Ar $arg\"" >&2
			status=1
		}
	else
		grep -q "^\.Op Fl [A-Za-z]*$letter" <<<"$synopsis" || {
			echo "FAIL: SYNOPSIS lacks -$letter" >&2
			status=1
		}
	fi
done <<<"$options"
while read -r letter arg; do
	grep -qxF -- "$letter${arg:+ $arg}" <<<"$options" || {
		echo "FAIL: the page documents -$letter${arg:+ $arg}, which the help text does not list" >&2
		status=1
	}
done <<<"$documented"
exit $status
