// Templates, expansion and output.
//
// Every README is built whole in its builder's fixed buffer and written with
// one open, the writes and one close. Templates are loaded on first need,
// all that a request's kind can need before any building starts, since the
// builders nest without coming back here.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "readme/readme.h"
#include "state/state.h"

int
placeholder_code(const char *text)
{
	// Every placeholder begins "%%", and their third bytes tell most of
	// them apart, so a '%' costs at most a few comparisons.
	if (text[1] != '%')
		return -1;
	for (std::size_t code = 0; code < placeholders.size(); code++) {
		if (placeholders[code][2] != text[2])
			continue;
		// strncmp stops at the first difference or the template's NUL.
		if (std::strncmp(text, placeholders[code].data(),
			placeholders[code].size()) == 0)
			return static_cast<int>(code);
	}
	return -1;
}

char *
expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context)
{
	char *pos = out;
	const char *walk = tmpl;
	for (;;) {
		// Copy the run of plain bytes up to the next '%' or the NUL.
		const char *sign = std::strchr(walk, '%');
		std::size_t run = sign != nullptr
		    ? static_cast<std::size_t>(sign - walk)
		    : std::strlen(walk);
		pos = append(pos, end, std::string_view(walk, run));
		walk += run;
		if (*walk == '\0')
			return pos;
		int code = placeholder_code(walk);
		if (code < 0) {
			pos = append(pos, end, "%");
			walk++;
		} else {
			pos = substitute(code, pos, end, context);
			walk +=
			    placeholders[static_cast<std::size_t>(code)].size();
		}
	}
}

char *
html_escape(char *pos, char *end, const char *text)
{
	for (;;) {
		std::size_t run = std::strcspn(text, "&<>");
		pos = append(pos, end, std::string_view(text, run));
		text += run;
		switch (*text++) {
		case '&':
			pos = append(pos, end, "&amp;");
			break;
		case '<':
			pos = append(pos, end, "&lt;");
			break;
		case '>':
			pos = append(pos, end, "&gt;");
			break;
		default:
			return pos;
		}
	}
}

// A directory below the top reached through an absolute symbolic link is
// refused by the resolution below the top even when the link stays inside
// the tree. Such a directory is made canonical; when it then lies below
// the top, README.html is opened there by its canonical path, again below
// the top, so a link swapped in meanwhile is still refused. -1 with errno
// as the first refusal left it when the directory lies outside.
static int
open_canonical(const char *dir, int flags)
{
	int refused = errno;
	char top[PATH_MAX];
	char real[PATH_MAX];
	char below[path_size];
	if (realpath(state.top_dir, top) == nullptr ||
	    realpath(dir, real) == nullptr) {
		errno = refused;
		return -1;
	}
	std::size_t n = std::strlen(top);
	const char *rel = real + n;
	if (std::strncmp(real, top, n) != 0 || rel[0] != '/' ||
	    !join_text(below, sizeof below, {rel + 1, "/README.html"})) {
		errno = refused;
		return -1;
	}
	return platform_open_beneath(state.top_fd, below, flags, 0644);
}

// Opens dir/README.html (path) for writing, dir being the top or a
// directory below it. The path is resolved below the top directory, so that
// a category or port directory planted as a symbolic link out of the tree is
// refused, and O_NOFOLLOW refuses a README.html planted as a link: a run by
// the superuser never writes outside the tree. -1 after the report.
static int
open_readme(const char *dir, const char *path)
{
	if (!state.top_fd_open) {
		state.top_fd = open(state.top_dir, platform_dir_flags());
		if (state.top_fd < 0) {
			std::perror(path);
			return -1;
		}
		state.top_fd_open = true;
	}
	const char *below = std::strcmp(dir, state.top_dir) == 0
	    ? "README.html"
	    : skip_prefix(path, state.top_dir_slash);
	int flags =
	    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | platform_direct_flag();
	int fd = below == path
	    ? open(path, flags, 0644)
	    : platform_open_beneath(state.top_fd, below, flags, 0644);
	if (fd < 0 && below != path && platform_leads_out(errno))
		fd = open_canonical(dir, flags);
	if (fd < 0) {
		if (platform_leads_out(errno))
			std::fprintf(stderr,
			    "%s: not written: the path leads out of the ports "
			    "tree\n",
			    path);
		else
			std::perror(path);
	}
	return fd;
}

int
write_readme(const char *dir, const char *text, std::size_t length)
{
	char path[path_size];
	if (!join_text(path, sizeof path, {dir, "/README.html"})) {
		report_too_long({dir, "/README.html"});
		return 1;
	}
	int fd = open_readme(dir, path);
	if (fd < 0)
		return 1;
	while (length > 0) {
		ssize_t n = write(fd, text, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			std::perror(path);
			close(fd);
			return 1;
		}
		text += n;
		length -= static_cast<std::size_t>(n);
	}
	// A delayed write error (a full disk, NFS) shows only here.
	if (close(fd) != 0) {
		std::perror(path);
		return 1;
	}
	return 0;
}

int
finish_readme(const char *dir, const char *out, const char *text_end,
    std::size_t buffer_size)
{
	if (text_end == nullptr) {
		std::fprintf(stderr,
		    "%s/README.html: text would exceed its %zu-byte buffer; "
		    "not written\n",
		    dir, buffer_size);
		return 1;
	}
	return write_readme(dir, out, static_cast<std::size_t>(text_end - out));
}

// Makes sure *field holds the template README.<word>. 0, or -1 after
// load_file's report (the field stays null, so the next request tries again).
static int
need_template(char **field, const char *word)
{
	if (*field != nullptr)
		return 0;
	char path[path_size];
	if (!join_text(
		path, sizeof path, {state.templates_dir, "/README.", word})) {
		report_too_long({state.templates_dir, "/README.", word});
		return -1;
	}
	*field = load_file(path);
	return *field != nullptr ? 0 : -1;
}

int
make_readme(const char *path, int kind)
{
	switch (kind) {
	case kind_port:
		if (need_template(&state.port_template, "port") != 0)
			return -1;
		return make_port_readme(path, kind_port);
	case kind_category:
		if (need_template(&state.category_template, "category") != 0 ||
		    need_template(&state.port_template, "port") != 0)
			return -1;
		return make_category_readme(path, kind_category);
	case kind_top:
		if (need_template(&state.port_template, "port") != 0 ||
		    need_template(&state.category_template, "category") != 0 ||
		    need_template(&state.top_template, "top") != 0)
			return -1;
		return make_top_readme(path);
	default:
		return -1;
	}
}
