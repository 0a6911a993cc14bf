#!/usr/bin/env bash
# The README's commands, as written: its first site on Linux and its cron
# line make a site on the sample tree (their paths substituted), which has
# feeds with an entry and a sitemap after the second run through the link;
# its nginx server block, put into sites-available and linked into
# sites-enabled as the README says, beside Debian's default site as Debian
# installs it, serves that site by its server_name: the top page at /, the
# files quillmark keeps there and the old generations refused, the files
# every page shares (the stylesheet, the script, the search data) served to
# be asked for again at each view, the pages not. nginx runs as an
# unprivileged user on a free port of 127.0.0.1. The serving is skipped,
# with a message, where nginx is missing or cannot run so.
# Usage: serve_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
tool=$1
src=$2
readme=$src/README.md

skip() {
	echo "serve_test: skipped: $*" >&2
	exit 0
}
fail() {
	echo "FAIL: $*" >&2
	exit 1
}

work=$(mktemp -d)
server=
cleanup() {
	[ -z "$server" ] || kill "$server" 2>/dev/null || true
	wait 2>/dev/null || true
	rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work" # the server's user reads the site

# The README's indented block that holds a line matching $1, unindented.
block() {
	awk -v want="$1" '
		/^    / { b = b substr($0, 5) "\n"; if ($0 ~ want) found = 1; next }
		found { exit }
		{ b = "" }
		END { if (found) printf "%s", b }' "$readme"
}
# The README's paths are the sample's: the tree, the site's directory and
# the tool with the shipped templates.
substitute() {
	sed -e "s|/srv/ports|$work/tree|g" -e "s|/var/www/quillmark|$work/www|g" \
		-e "s|^quillmark |$tool -t $src/Templates |" \
		-e "s|\(\* \* \* \* *\)quillmark |\1$tool -t $src/Templates |"
}

cp -R "$src/sample/ports" "$work/tree"
mkdir "$work/www"
first=$(block '^    quillmark .* -o ')
[ "$(grep -c '^quillmark ' <<<"$first")" -eq 2 ] && grep -q '^export UNAME_r=' <<<"$first" &&
	grep -q ' -p /srv/ports ' <<<"$first" ||
	fail "README.md has no first site on Linux with UNAME_r, -p and two runs: $first"
(cd "$work" && env -u UNAME_r bash -eu -c "$(substitute <<<"$first")") >"$work/first.log" 2>&1 ||
	fail "the README's first site failed: $(cat "$work/first.log")"

# The cron line, as cron runs it: its variables and a shell, nothing else.
crontab=$(block '^    [0-9]+ [*] [*] [*] [*] ')
vars=() command=
while IFS= read -r line; do
	case $line in
	*=*) [[ $line =~ ^[A-Za-z_]+= ]] && vars+=("$line") ;;
	*) command=$(sed -E 's/^([^ ]+ +){5}//' <<<"$line") ;;
	esac
done <<<"$crontab"
grep -q -- ' -u https://' <<<"$command" && grep -q ' -q ' <<<"$command" ||
	fail "the README's cron line has no -q or -u: $crontab"
sed -i 's/^jq-1\.7\.1|/jq-1.8.0|/' "$work/tree/INDEX-15" # an update to announce
command=$(sed -E 's/^quillmark /quillmark-as-installed /' <<<"$command" | substitute)
command=${command/quillmark-as-installed /$tool -t $src/Templates }
env -i HOME="$work" "${vars[@]}" /bin/sh -c "$command" >"$work/cron.log" 2>&1 ||
	fail "the README's cron line failed: $(cat "$work/cron.log")"
[ ! -s "$work/cron.log" ] || fail "the README's cron line would mail: $(cat "$work/cron.log")"
site=$work/www/ports
[ -L "$site" ] && [ -f "$site/.quillmark-generation" ] || fail "the site is not published through the link"
for feed in "$site/feed.atom" "$site/textproc/feed.atom"; do
	grep -qF "<title>textproc/jq updated from 1.7.1 to 1.8.0</title>" "$feed" ||
		fail "$feed has no entry for jq's update"
done
grep -qF "<loc>https://ports.example.org/textproc/jq/README.html</loc>" "$site/sitemap.xml" ||
	fail "the sitemap does not list jq's page at the README's address"
chmod -R a+rX "$work/www"

nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null) || skip "no nginx"
command -v python3 >/dev/null || skip "no python3"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# nginx as Debian lays it out: the default site enabled as installed, the
# README's block beside it.
conf=$work/nginx
mkdir -p "$conf/sites-available" "$conf/sites-enabled" "$work/html"
echo "Debian's default site" >"$work/html/index.html"
default=/etc/nginx/sites-available/default
{
	if [ -f "$default" ]; then
		cat "$default"
	else # what Debian installs there, without its comments
		printf '%s\n' 'server {' '	listen 80 default_server;' \
			'	listen [::]:80 default_server;' '	root /var/www/html;' \
			'	index index.html index.htm index.nginx-debian.html;' \
			'	server_name _;' '	location / {' '		try_files $uri $uri/ =404;' \
			'	}' '}'
	fi
} | sed -e "s|^\([[:space:]]*\)listen 80 default_server;|\1listen 127.0.0.1:$port default_server;|" \
	-e '/^[[:space:]]*listen \[::\]:80 /d' \
	-e "s|^\([[:space:]]*\)root /var/www/html;|\1root $work/html;|" >"$conf/sites-available/default"
grep -q "^[[:space:]]*listen 127.0.0.1:$port default_server;" "$conf/sites-available/default" ||
	fail "$default has no 'listen 80 default_server;'"
ln -s ../sites-available/default "$conf/sites-enabled/default"

server_block=$(block '^    server \{$')
[ -n "$server_block" ] || fail "no nginx server block in README.md"
# Requests name the host of the site's address, as a browser would.
server_name=$(sed -E -n 's|.* -u https?://([^/:]+)[:/].*|\1|p' <<<"$command")
[ -n "$server_name" ] || fail "no host in the cron line's address: $command"
sed -e "s|^\( *\)listen 80;|\1listen 127.0.0.1:$port;|" <<<"$server_block" | substitute \
	>"$conf/sites-available/quillmark"
grep -q "listen 127.0.0.1:$port;" "$conf/sites-available/quillmark" &&
	grep -q "root $site;" "$conf/sites-available/quillmark" ||
	fail "the README's server block has no 'listen 80;' or no root at the link"
enable=$(block 'sites-enabled/quillmark' | grep '^ln ')
[ -n "$enable" ] || fail "the README does not link its block into sites-enabled"
(cd "$conf" && eval "$(sed "s|/etc/nginx|$conf|g" <<<"$enable")") ||
	fail "the README's command to enable the site failed: $enable"
[ -f "$conf/sites-enabled/quillmark" ] || fail "the README's block is not enabled: $enable"

{
	echo "pid $conf/nginx.pid;"
	echo "error_log $conf/error.log;"
	echo "events {}"
	echo "http {"
	echo "    access_log off;"
	for temp in client_body proxy fastcgi uwsgi scgi; do
		echo "    ${temp}_temp_path $conf/$temp;"
	done
	echo "    types { text/html html; text/css css; text/javascript js; application/xml xml atom; }"
	echo "    include $conf/sites-enabled/*;"
	echo "}"
} >"$conf/nginx.conf"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
	command -v setpriv >/dev/null || skip "no setpriv to drop root"
	chown -R 65534 "$conf"
	as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
"${as_user[@]}" "$nginx" -p "$conf" -c "$conf/nginx.conf" \
	-g 'daemon off;' 2>"$conf/stderr" &
server=$!

generations=$(cd "$work/www" && ls -d ports.[0-9]*)
python3 - "$port" "$server_name" "$site" $generations <<'EOF' || fail "nginx: see above"
import http.client, sys, time
port, name, site, generations = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]

def get(path, host=name):
    c = http.client.HTTPConnection("127.0.0.1", int(port), timeout=10)
    c.request("GET", path, headers={"Host": host})
    r = c.getresponse()
    body = r.read()
    c.close()
    return r.status, body, r.getheader("Cache-Control")

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

def expect(path, status, body=None, host=name):
    got, data, _ = get(path, host)
    if got != status or (body is not None and data != body):
        sys.exit("FAIL: %s%s answered %d%s, not %d%s" % (
            host, path, got, "" if body is None else " with other bytes", status,
            "" if body is None else " with " + repr(body[:60])))

top = open(site + "/README.html", "rb").read()
expect("/", 200, top)
expect("/misc/", 200, open(site + "/misc/README.html", "rb").read())
expect("/feed.atom", 200)
expect("/sitemap.xml", 200)
# Debian's default site still answers for every other name.
expect("/", 200, b"Debian's default site\n", host="localhost")
# The files quillmark keeps in the site, and the generations beside the
# link, which a later run rewrites in place, are not served.
expect("/.quillmark-generation", 403)
expect("/.quillmark-feed", 403)
for old in ["ports.first"] + generations:
    expect("/%s/" % old, 404)
    expect("/%s/README.html" % old, 404)
# What every page shares is asked for again at each view, the pages not.
for path, cache in (("/site.css", "no-cache"), ("/site.js", "no-cache"),
                    ("/ports-index.js", "no-cache"), ("/misc/", None)):
    status, _, got = get(path)
    if status != 200 or got != cache:
        sys.exit("FAIL: %s answered %d with Cache-Control %r, not 200 with %r"
                 % (path, status, got, cache))
EOF
if ! kill -0 "$server" 2>/dev/null; then
	cat "$conf/stderr" "$conf/error.log" >&2 2>/dev/null || true
	skip "nginx could not run unprivileged here"
fi
