// Port page extensions: the description text, the dependencies as links to
// their ports' pages, and the ports that depend on this one.
//
// Nothing here runs for a port template without them: the template is
// examined once, and only a dependency placeholder builds the package
// index. Links are relative to the page, so a tree works opened from disk
// and served below any URL path alike. The description is read beneath the
// top directory, as README.html is written, so that an INDEX line cannot
// bring a file from outside the tree into a page.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "readme/readme.h"
#include "state/pathnames.h"
#include "state/state.h"

namespace {

// Real descriptions are a few kilobytes; a larger file is no description.
constexpr std::size_t description_max = 64 * 1024;

constexpr std::string_view required_by_sentence =
    "This port is required by the following ports:<br><br>";

constexpr unsigned
bit(int code)
{
	return 1u << code;
}
constexpr unsigned link_codes = bit(ph_build_depends_links) |
    bit(ph_run_depends_links) | bit(ph_required_by);

char *
note_code(int code, char *pos, char *, void *context)
{
	*static_cast<unsigned *>(context) |= bit(code);
	return pos;
}

void
not_read(const char *path, const char *why)
{
	if (state.verbosity > 0)
		std::fprintf(
		    stderr, "%s: description not read: %s\n", path, why);
}

// The top directory, opened on first need and kept for every README. -1.
int
top_directory()
{
	if (!state.top_fd_open) {
		int fd = open(state.top_dir, platform_dir_flags());
		if (fd < 0)
			return -1;
		state.top_fd = fd;
		state.top_fd_open = true;
	}
	return state.top_fd;
}

// Reads the open file fd whole into text, at most description_max bytes,
// and ends it with a NUL. false after not_read.
bool
read_description(int fd, const char *path, char *text)
{
	struct stat st;
	char too_large[64];
	std::snprintf(too_large, sizeof too_large, "larger than %zu bytes",
	    description_max);
	if (fstat(fd, &st) != 0) {
		not_read(path, std::strerror(errno));
		return false;
	}
	if (!S_ISREG(st.st_mode)) {
		not_read(path, "not a regular file");
		return false;
	}
	if (st.st_size > static_cast<off_t>(description_max)) {
		not_read(path, too_large);
		return false;
	}
	// Reading up to one byte past the bound catches a file that grew.
	std::size_t got = 0;
	while (got <= description_max) {
		ssize_t n = read(fd, text + got, description_max + 1 - got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			not_read(path, std::strerror(errno));
			return false;
		}
		if (n == 0)
			break;
		got += static_cast<std::size_t>(n);
	}
	if (got > description_max) {
		not_read(path, too_large);
		return false;
	}
	text[got] = '\0';
	return true;
}

char *
escape_text(char *pos, char *end, std::string_view text)
{
	for (;;) {
		std::size_t run = text.find_first_of("&<>");
		pos = append(pos, end, text.substr(0, run));
		if (run == std::string_view::npos)
			return pos;
		pos = append(pos, end,
		    text[run] == '&'	   ? "&amp;"
			: text[run] == '<' ? "&lt;"
					   : "&gt;");
		text.remove_prefix(run + 1);
	}
}

// The directory of a line's port below the top ("devel/gmake"), or nothing
// when field 2 names no port directory that a link can point to as it
// stands: at least two names, none of them empty, "." or "..", and no byte
// that a URL or an HTML attribute would take for something else.
std::string_view
port_directory(const char *line)
{
	std::string_view dir = index_line_field(line, 2);
	if (!dir.starts_with(path_index_ports) ||
	    dir.substr(path_index_ports.size(), 1) != "/")
		return {};
	dir.remove_prefix(path_index_ports.size() + 1);
	int names = 0;
	for (std::string_view rest = dir;;) {
		std::size_t slash = rest.find('/');
		std::string_view name = rest.substr(0, slash);
		if (name.empty() || name == "." || name == "..")
			return {};
		for (char c : name) {
			auto byte = static_cast<unsigned char>(c);
			if (byte <= ' ' || byte == 0x7f ||
			    std::strchr("\"'<>&%?#\\", c) != nullptr)
				return {};
		}
		names++;
		if (slash == std::string_view::npos)
			break;
		rest.remove_prefix(slash + 1);
	}
	return names >= 2 ? dir : std::string_view();
}

// A link to the page of line's port with text as its words, from a page
// depth directories below the top; the text alone when there is no page.
char *
append_link(
    char *pos, char *end, const char *line, std::string_view text, int depth)
{
	std::string_view dir = port_directory(line);
	if (dir.empty())
		return escape_text(pos, end, text);
	pos = append(pos, end, "<a href=\"");
	for (int i = 0; i < depth; i++)
		pos = append(pos, end, "../");
	pos = append(pos, end, dir);
	pos = append(pos, end, "/README.html\">");
	pos = escape_text(pos, end, text);
	return append(pos, end, "</a>");
}

} // namespace

bool
port_template_extended()
{
	if (state.examined_port_template == state.port_template)
		return state.port_template_extended;
	// A walk without room finds every placeholder as the expansion does.
	unsigned used = 0;
	(void)expand_template(
	    state.port_template, nullptr, nullptr, note_code, &used);
	state.examined_port_template = state.port_template;
	state.port_template_extended = used >= bit(ph_descr_text);
	if ((used & link_codes) != 0)
		(void)build_packages();
	return state.port_template_extended;
}

char *
append_description(char *pos, char *end, const char *descr)
{
	// Static: port READMEs never nest inside one another. One byte past
	// the bound shows a file that grew.
	static char text[description_max + 1];

	const char *rest = skip_prefix(descr, path_index_ports);
	char path[path_size];
	if (!join_text(path, sizeof path, {state.top_dir, rest})) {
		if (state.verbosity > 0)
			report_too_long({state.top_dir, rest});
		return pos;
	}
	// Without a '/' the path names a neighbour of the top, not a file
	// below it.
	if (rest[0] != '/') {
		not_read(path, "the path leads out of the ports tree");
		return pos;
	}
	const char *below = rest + std::strspn(rest, "/");
	int top = top_directory();
	if (top < 0) {
		not_read(path, std::strerror(errno));
		return pos;
	}
	// O_NONBLOCK: opening a FIFO or a device must not wait for a writer.
	int fd = platform_open_beneath(top, *below != '\0' ? below : ".",
	    O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0) {
		// A missing file is the tree's business, not the page's.
		if (platform_leads_out(errno))
			not_read(path, "the path leads out of the ports tree");
		else if (errno != ENOENT && errno != ENOTDIR)
			not_read(path, std::strerror(errno));
		return pos;
	}
	bool read = read_description(fd, path, text);
	close(fd);
	return read ? html_escape(pos, end, text) : pos;
}

char *
append_depends_links(char *pos, char *end, const char *deps,
    std::string_view sentence, int depth)
{
	if (*deps == '\0')
		return pos;
	pos = append(pos, end, sentence);
	std::string_view rest = deps;
	while (!rest.empty()) {
		std::size_t blanks =
		    std::min(rest.find_first_not_of(' '), rest.size());
		pos = append(pos, end, rest.substr(0, blanks));
		rest.remove_prefix(blanks);
		if (rest.empty())
			break;
		std::string_view name = rest.substr(0, rest.find(' '));
		rest.remove_prefix(name.size());
		long line = find_package(name);
		pos = line >= 0
		    ? append_link(pos, end,
			  package_line(static_cast<std::size_t>(line)), name,
			  depth)
		    : escape_text(pos, end, name);
	}
	return pos;
}

char *
append_required_by(char *pos, char *end, const char *package, int depth)
{
	long line = find_package(package);
	if (line < 0)
		return pos;
	std::span<const std::uint32_t> dependents =
	    package_dependents(static_cast<std::size_t>(line));
	if (dependents.empty())
		return pos;
	pos = append(pos, end, required_by_sentence);
	const char *separator = "";
	for (std::uint32_t n : dependents) {
		const char *text = package_line(n);
		pos = append(pos, end, separator);
		pos = append_link(
		    pos, end, text, index_line_field(text, 1), depth);
		separator = " ";
	}
	return pos;
}
