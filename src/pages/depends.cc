// Port page extensions: the description text, the dependencies as links to
// their ports' pages, and the ports that depend on this one.
//
// Nothing here runs for a port template without them: the template is
// examined once when it is loaded, and only a placeholder of dependencies
// builds the package index, before the first page is made. Links are
// relative to the page, so a tree works opened from disk and served below
// any URL path alike. The description is read beneath the
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
#include "io/io.h"
#include "platform/platform.h"
#include "pages/pages.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {

// Real descriptions are a few kilobytes; a larger file is no description.
constexpr std::size_t description_max = 64 * 1024;

constexpr std::string_view required_by_sentence =
    "This port is required by the following ports:<br><br>";

// Says why a description was not read, when asked to.
void
not_read(const char *path, const char *why, bool report)
{
	if (state.verbosity > 0 && report)
		say(stderr, "%s: description not read: %s\n", path, why);
}

// Reads the open file fd whole into text, at most description_max bytes,
// ends it with a NUL and gives its length in *length. false after not_read.
bool
read_description(int fd, const char *path, char *text, std::size_t *length,
    bool report)
{
	struct stat st;
	if (fstat(fd, &st) != 0) {
		not_read(path, std::strerror(errno), report);
		return false;
	}
	if (!S_ISREG(st.st_mode)) {
		not_read(path, "not a regular file", report);
		return false;
	}
	if (st.st_size > static_cast<off_t>(description_max)) {
		char too_large[64];
		std::snprintf(too_large, sizeof too_large,
		    "larger than %zu bytes", description_max);
		not_read(path, too_large, report);
		return false;
	}
	// The size fstat gave is read, no more: one read for a regular
	// file, and a file that grows meanwhile still stays in its bound.
	ssize_t got =
	    read_full(fd, text, static_cast<std::size_t>(st.st_size), 0);
	if (got < 0) {
		not_read(path, std::strerror(errno), report);
		return false;
	}
	text[got] = '\0';
	*length = static_cast<std::size_t>(got);
	return true;
}

// A link to the page in dir (empty: there is none, and the name stands
// alone), with name as its text, from a page depth directories below the
// top.
char *
compose_link(char *pos, char *end, std::string_view name, std::string_view dir,
    int depth)
{
	if (dir.empty())
		return insert(pos, end, tree_text::link_name, name);
	constexpr std::string_view up = "../../../../../../../../";
	pos = append(pos, end, "<a href=\"");
	for (int left = depth; left > 0; left -= 8)
		pos = append(pos, end,
		    up.substr(
			0, 3 * static_cast<std::size_t>(std::min(left, 8))));
	pos = insert(pos, end, tree_text::link_directory, dir);
	pos = append(pos, end, "/README.html\">");
	pos = insert(pos, end, tree_text::link_name, name);
	return append(pos, end, "</a>");
}

// Port pages lie two directories below the top: their links are made
// once per run (build_packages).
constexpr int usual_depth = 2;

// The link to the page of the port of INDEX line n, with its package name
// as its text, from a page depth directories below the top; the name alone
// when there is no page.
char *
append_link(char *pos, char *end, std::size_t n, int depth)
{
	if (depth == usual_depth) {
		std::string_view made = package_text(n, text_page_link);
		if (!made.empty())
			return append(pos, end, made);
	}
	// Without the room for them, and for pages at other depths, each
	// link reads its line.
	index_record record = package_record(n, index_field::origin);
	return compose_link(pos, end, record[index_field::package],
	    port_directory(record), depth);
}

} // namespace

std::string_view
port_origin(const index_record &record)
{
	std::string_view origin = record[index_field::origin];
	if (origin.starts_with(path_index_ports) &&
	    origin.substr(path_index_ports.size()).starts_with('/'))
		origin.remove_prefix(path_index_ports.size() + 1);
	return origin;
}

std::string_view
port_directory(const index_record &record)
{
	std::string_view dir = port_origin(record);
	if (dir.size() == record[index_field::origin].size() ||
	    !link_safe(dir))
		return {};
	// Names begin at the start and after each '/'.
	int slashes = 0;
	for (std::string_view rest = dir;; slashes++) {
		std::size_t slash = rest.find('/');
		std::string_view part = rest.substr(0, slash);
		if (part.empty() || part == "." || part == "..")
			return {};
		if (slash == std::string_view::npos)
			break;
		rest.remove_prefix(slash + 1);
	}
	return slashes >= 1 ? dir : std::string_view();
}

char *
make_port_page_link(char *pos, char *end, std::size_t n)
{
	index_record record = package_record(n, index_field::origin);
	return compose_link(pos, end, record[index_field::package],
	    port_directory(record), usual_depth);
}

std::string_view
read_port_description(
    const index_record &port, run_buffer *room, bool report)
{

	std::string_view rest = port[index_field::descr];
	if (rest.starts_with(path_index_ports))
		rest.remove_prefix(path_index_ports.size());
	char path[path_size];
	if (!join_text(path, sizeof path, {state.top_dir, rest})) {
		if (state.verbosity > 0 && report)
			report_too_long({state.top_dir, rest});
		return {};
	}
	// Without a '/' the path names a neighbour of the top, not a file
	// below it.
	if (!rest.starts_with('/')) {
		not_read(path, "the path leads out of the ports tree", report);
		return {};
	}
	// O_NONBLOCK: opening a FIFO or a device must not wait for a writer.
	if (need_buffer(room, description_max + 1, "descriptions") != 0)
		return {};
	char *text = room->data;
	int fd = open_in_tree(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0) {
		// A missing file is the tree's business, not the page's.
		if (platform_leads_out(errno))
			not_read(
			    path, "the path leads out of the ports tree", report);
		else if (errno != ENOENT && errno != ENOTDIR)
			not_read(path, std::strerror(errno), report);
		return {};
	}
	std::size_t length = 0;
	bool read = read_description(fd, path, text, &length, report);
	close(fd);
	return read ? std::string_view(text, length) : std::string_view();
}

char *
append_depends_links(char *pos, char *end, const index_record &port,
    index_field linked, std::string_view sentence, int depth)
{
	std::string_view deps = port[linked];
	if (deps.empty())
		return pos;
	// The packages that the words name were looked up once for the whole
	// INDEX, word by word as field_words gives them.
	std::span<const std::uint32_t> named;
	long self = package_number(port.line);
	if (self >= 0)
		named = package_depends(static_cast<std::size_t>(self), linked);
	pos = append(pos, end, sentence);
	// The blanks between the words are kept as the field has them.
	const char *copied = deps.data();
	field_words each(deps);
	for (std::string_view name; each.next(&name);) {
		pos = append(pos, end,
		    std::string_view(copied,
			static_cast<std::size_t>(name.data() - copied)));
		copied = name.data() + name.size();
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
				: insert(pos, end, tree_text::link_name, name);
	}
	return append(pos, end,
	    std::string_view(copied,
		static_cast<std::size_t>(deps.data() + deps.size() - copied)));
}

char *
append_required_by(char *pos, char *end, const index_record &port, int depth)
{
	long line = find_package(port[index_field::package]);
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
