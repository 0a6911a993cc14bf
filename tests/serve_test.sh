#!/usr/bin/env bash
# The README's nginx configuration serves a site published through a link as
# the README says: the directory's URL answers with the top page, the
# generation marker is refused, and the files every page shares (the
# stylesheet, the script, the search data) are served to be asked for again
# at each view, the pages not. The server block is taken from the README
# itself, so that the README stays true; nginx runs as an unprivileged user
# on a free port of 127.0.0.1. Skipped, with a message, where nginx is
# missing or cannot run so.
# Usage: serve_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
tool=$1
src=$2

skip() {
	echo "serve_test: skipped: $*" >&2
	exit 0
}
fail() {
	echo "FAIL: $*" >&2
	exit 1
}

nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null) || skip "no nginx"
command -v python3 >/dev/null || skip "no python3"

work=$(mktemp -d)
server=
cleanup() {
	[ -z "$server" ] || kill "$server" 2>/dev/null || true
	wait 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work" # the server's user reads the site

# The site as the README makes it: a first plain site, the link, a run
# through the link.
cp -R "$src/sample/ports" "$work/tree"
mkdir "$work/www"
for out in "$work/www/ports.first" "$work/www/ports"; do
	UNAME_r=15.0-RELEASE "$tool" -q -p "$work/tree" -t "$src/Templates" -o "$out" ||
		fail "quillmark -o $out failed"
	[ -L "$work/www/ports" ] || ln -s ports.first "$work/www/ports"
done
[ -f "$work/www/ports/.quillmark-generation" ] || fail "the site has no marker"
chmod -R a+rX "$work/www"

block=$(awk '/^    server \{$/ { on = 1 } on { print } on && /^    \}$/ { exit }' "$src/README.md")
[ -n "$block" ] || fail "no nginx server block in README.md"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/nginx"
{
	echo "pid $work/nginx/nginx.pid;"
	echo "error_log $work/nginx/error.log;"
	echo "events {}"
	echo "http {"
	echo "    access_log off;"
	for temp in client_body proxy fastcgi uwsgi scgi; do
		echo "    ${temp}_temp_path $work/nginx/$temp;"
	done
	echo "    types { text/html html; text/css css; text/javascript js; }"
	sed -e "s|^\( *\)listen 80;|\1listen 127.0.0.1:$port;|" \
		-e "s|^\( *\)root /var/www;|\1root $work/www;|" <<<"$block"
	echo "}"
} >"$work/nginx/nginx.conf"
grep -q "listen 127.0.0.1:$port;" "$work/nginx/nginx.conf" &&
	grep -q "root $work/www;" "$work/nginx/nginx.conf" ||
	fail "the README's server block has no 'listen 80;' or 'root /var/www;' line"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
	command -v setpriv >/dev/null || skip "no setpriv to drop root"
	chown -R 65534 "$work/nginx"
	as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" "$nginx" -p "$work/nginx" -c "$work/nginx/nginx.conf" \
	-g 'daemon off;' 2>"$work/nginx/stderr" &
server=$!

python3 - "$port" "$work/www/ports/README.html" <<'EOF' || fail "nginx: see above"
import sys, time, urllib.error, urllib.request
port, top = sys.argv[1], sys.argv[2]
base = "http://127.0.0.1:%s" % port

def get(path):
    try:
        with urllib.request.urlopen(base + path, timeout=10) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, b""

deadline = time.monotonic() + 30
while True:
    try:
        get("/")
        break
    except OSError:
        if time.monotonic() > deadline:
            print("serve_test: skipped: nginx did not start", file=sys.stderr)
            sys.exit(0)
        time.sleep(0.1)

status, body = get("/ports/")
if status != 200 or body != open(top, "rb").read():
    sys.exit("FAIL: /ports/ answered %d, not the top page" % status)
status, _ = get("/ports/misc/")
if status != 200:
    sys.exit("FAIL: /ports/misc/ answered %d" % status)
status, _ = get("/ports/.quillmark-generation")
if status != 403:
    sys.exit("FAIL: /ports/.quillmark-generation answered %d, not 403" % status)
# What every page shares is asked for again at each view, the pages not.
for path, cache in (("/ports/site.css", "no-cache"), ("/ports/site.js", "no-cache"),
                    ("/ports/ports-index.js", "no-cache"), ("/ports/misc/", None)):
    try:
        with urllib.request.urlopen(base + path, timeout=10) as r:
            status, got = r.status, r.headers.get("Cache-Control")
    except urllib.error.HTTPError as e:
        status, got = e.code, None
    if status != 200 or got != cache:
        sys.exit("FAIL: %s answered %d with Cache-Control %r, not 200 with %r"
                 % (path, status, got, cache))
EOF
if ! kill -0 "$server" 2>/dev/null; then
	cat "$work/nginx/stderr" "$work/nginx/error.log" >&2 2>/dev/null || true
	skip "nginx could not run unprivileged here"
fi
