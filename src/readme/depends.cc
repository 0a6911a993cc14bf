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
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

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

// Reads the open file fd whole into text, at most description_max bytes,
// and ends it with a NUL. false after not_read.
bool
read_description(int fd, const char *path, char *text)
{
	struct stat st;
	if (fstat(fd, &st) != 0) {
		not_read(path, std::strerror(errno));
		return false;
	}
	if (!S_ISREG(st.st_mode)) {
		not_read(path, "not a regular file");
		return false;
	}
	if (st.st_size > static_cast<off_t>(description_max)) {
		char too_large[64];
		std::snprintf(too_large, sizeof too_large,
		    "larger than %zu bytes", description_max);
		not_read(path, too_large);
		return false;
	}
	// The size fstat gave is read, no more: one read for a regular
	// file, and a file that grows meanwhile still stays in its bound.
	auto size = static_cast<std::size_t>(st.st_size);
	std::size_t got = 0;
	while (got < size) {
		ssize_t n = read_direct(
		    fd, text + got, size - got, static_cast<off_t>(got));
		if (n < 0) {
			not_read(path, std::strerror(errno));
			return false;
		}
		if (n == 0)
			break;
		got += static_cast<std::size_t>(n);
	}
	text[got] = '\0';
	return true;
}

// Bytes that no port directory in a link may hold: blanks and controls, and
// what a URL or an HTML attribute would take for something else.
constexpr std::array<bool, 256> unsafe_in_link = [] {
	std::array<bool, 256> table{};
	for (int c = 0; c < 256; c++)
		table[static_cast<std::size_t>(c)] = c <= ' ' || c == 0x7f ||
		    c == '"' || c == '\'' || c == '<' || c == '>' || c == '&' ||
		    c == '%' || c == '?' || c == '#' || c == '\\';
	return table;
}();

// The directory of a line's port below the top ("devel/gmake"), or nothing
// when field 2 names no port directory that a link can point to as it
// stands: at least two names, none of them empty, "." or "..", and no byte
// that a URL or an HTML attribute would take for something else. name: the
// line's package name, which field 2 follows.
std::string_view
port_directory(const char *line, std::string_view name)
{
	const char *dir = line + name.size() + 1;
	if (std::strncmp(
		dir, path_index_ports.data(), path_index_ports.size()) != 0 ||
	    dir[path_index_ports.size()] != '/')
		return {};
	dir += path_index_ports.size() + 1;
	// Names begin at the start and after each '/'; the field ends at a
	// '|' or the line's end.
	int names = 0;
	const char *begin = dir;
	const char *pos = dir;
	for (;; pos++) {
		char c = *pos;
		if (c != '/' && c != '|' && c != '\0') {
			if (unsafe_in_link[static_cast<unsigned char>(c)])
				return {};
			continue;
		}
		std::string_view part(
		    begin, static_cast<std::size_t>(pos - begin));
		if (part.empty() || part == "." || part == "..")
			return {};
		names++;
		if (c != '/')
			break;
		begin = pos + 1;
	}
	return names >= 2
	    ? std::string_view(dir, static_cast<std::size_t>(pos - dir))
	    : std::string_view();
}

// A link to the page in dir (empty: there is none, and the name stands
// alone), with name as its text, from a page depth directories below the
// top.
char *
compose_link(char *pos, char *end, std::string_view name, std::string_view dir,
    int depth)
{
	if (dir.empty())
		return html_escape(pos, end, name);
	constexpr std::string_view up = "../../../../../../../../";
	pos = append(pos, end, "<a href=\"");
	for (int left = depth; left > 0; left -= 8)
		pos = append(pos, end,
		    up.substr(
			0, 3 * static_cast<std::size_t>(std::min(left, 8))));
	pos = append(pos, end, dir);
	pos = append(pos, end, "/README.html\">");
	pos = html_escape(pos, end, name);
	return append(pos, end, "</a>");
}

// The package name of line n and the directory of its page ("devel/gmake",
// empty when it has none).
void
link_parts(std::size_t n, std::string_view *name, std::string_view *dir)
{
	const char *line = package_line(n);
	*name = std::string_view(line, std::strcspn(line, "|"));
	*dir = port_directory(line, *name);
}

// Port pages lie two directories below the top, and popular ports are
// linked from thousands of them, from lines all over the INDEX: the link of
// every line as such a page shows it is made once, into one small text.
constexpr int usual_depth = 2;

bool
make_usual_links()
{
	std::size_t lines = state.package_count;
	auto *at = static_cast<std::uint32_t *>(
	    std::malloc((lines + 1) * sizeof(std::uint32_t)));
	if (at == nullptr)
		return false;
	std::size_t total = 0;
	for (std::size_t i = 0; i < lines; i++) {
		std::string_view name;
		std::string_view dir;
		link_parts(i, &name, &dir);
		at[i] = static_cast<std::uint32_t>(total);
		// Made once to learn its size; a link too long for the
		// scratch (or for 32-bit offsets) leaves every link to be
		// made from its line.
		static char scratch[64 * 1024];
		char *made = compose_link(
		    scratch, scratch + sizeof scratch, name, dir, usual_depth);
		total += made != nullptr ? made - scratch : UINT32_MAX;
		if (total >= UINT32_MAX) {
			std::free(at);
			return false;
		}
	}
	at[lines] = static_cast<std::uint32_t>(total);
	char *text = static_cast<char *>(std::malloc(total + 1));
	if (text == nullptr) {
		std::free(at);
		return false;
	}
	for (std::size_t i = 0; i < lines; i++) {
		std::string_view name;
		std::string_view dir;
		link_parts(i, &name, &dir);
		(void)compose_link(
		    text + at[i], text + at[i + 1], name, dir, usual_depth);
	}
	state.link_text = text;
	state.link_offsets = at;
	return true;
}

// The link to the page of the port of INDEX line n, with its package name
// as its text, from a page depth directories below the top; the name alone
// when there is no page.
char *
append_link(char *pos, char *end, std::size_t n, int depth)
{
	if (depth == usual_depth && state.link_offsets == nullptr &&
	    !state.link_text_failed)
		state.link_text_failed = !make_usual_links();
	if (depth == usual_depth && state.link_offsets != nullptr) {
		const std::uint32_t *at = state.link_offsets;
		return append(pos, end,
		    std::string_view(
			state.link_text + at[n], at[n + 1] - at[n]));
	}
	// Without the room for them, and for pages at other depths, each
	// link reads its line.
	std::string_view name;
	std::string_view dir;
	link_parts(n, &name, &dir);
	return compose_link(pos, end, name, dir, depth);
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
	// Static: port READMEs never nest inside one another.
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
	// O_NONBLOCK: opening a FIFO or a device must not wait for a writer.
	int fd = open_in_tree(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
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

// The number of words (runs of characters between blanks) of text.
std::size_t
word_count(std::string_view text)
{
	std::size_t words = 0;
	for (std::size_t i = 0; i < text.size(); i++)
		words += text[i] != ' ' && (i == 0 || text[i - 1] == ' ');
	return words;
}

char *
append_depends_links(char *pos, char *end, const char *deps,
    std::string_view sentence, int depth, bool run)
{
	if (*deps == '\0')
		return pos;
	// The packages that the words name were looked up once for the
	// whole INDEX: the build field's words come first, then the run
	// field's.
	std::span<const std::uint32_t> named;
	long self = package_number(state.found_line);
	if (self >= 0) {
		named = package_depends(static_cast<std::size_t>(self));
		std::size_t skip = run ? word_count(state.index_fields[7]) : 0;
		named = named.subspan(std::min(skip, named.size()));
	}
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
		long line;
		if (!named.empty()) {
			line = named.front() == no_package
			    ? -1
			    : static_cast<long>(named.front());
			named = named.subspan(1);
		} else {
			line = find_package(name);
		}
		pos = line >= 0 ? append_link(pos, end,
				      static_cast<std::size_t>(line), depth)
				: html_escape(pos, end, name);
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
		pos = append(pos, end, separator);
		pos = append_link(pos, end, n, depth);
		separator = " ";
	}
	return pos;
}
