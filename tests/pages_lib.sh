# Shared by the scripts that look at the pages in a browser: sourced, not
# run. It sets node_dir (where .ci/install-deps.sh put the npm packages),
# and gives fail, need (commands and npm packages that must be there) and
# serve (a python3 HTTP server on a free port of the loopback address,
# stopped when the script exits, its port in $port).

node_dir=${QUILLMARK_NODE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmark-node}

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

# need COMMAND... [-- NPM-PACKAGE...]
need() {
	local npm=0 item
	for item in "$@"; do
		if [ "$item" = -- ]; then
			npm=1
		elif [ $npm = 0 ]; then
			command -v "$item" >/dev/null ||
				fail "$item is not installed (run .ci/install-deps.sh)"
		else
			[ -d "$node_dir/node_modules/$item" ] ||
				fail "no $item in $node_dir (run .ci/install-deps.sh)"
		fi
	done
}

server=
stop_server() {
	if [ -n "$server" ]; then
		kill "$server" 2>/dev/null || true
		wait "$server" 2>/dev/null || true
	fi
	server=
}

# serve DIR LOG: serves DIR, logging requests to LOG; sets port.
serve() {
	: >"$2" # read before the server may have started
	python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$1" \
		>"$2" 2>&1 &
	server=$!
	port=
	for _ in $(seq 100); do
		port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' "$2")
		[ -n "$port" ] && break
		sleep 0.1
	done
	[ -n "$port" ] || fail "the HTTP server did not start: $(cat "$2")"
}
