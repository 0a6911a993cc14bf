// The README of one category, with the READMEs of all its ports.
//
// The category Makefile is read once, front to back: its first
// "    COMMENT = " line gives the comment, and only the "    SUBDIR += "
// lines after it name ports. The ports' READMEs are made when the expansion
// reaches %%SUBDIR%%, each followed by its link line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/crew.h"
#include "pages/pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {

constexpr std::string_view comment_prefix = "    COMMENT = ";
constexpr std::string_view port_prefix = "    SUBDIR += ";

struct category_context : page_context {
	const char *path;    // the category directory
	const char *comment; // from its Makefile
	const char *ports;   // packed list of port names
	int port_count;
	int request; // the README kind of the request that makes it
	category_scan scan; // its INDEX group
	int *unwritten;
};

// Reads the Makefile's comment into comment (of comment_size bytes) and its
// port names into list. Returns 0, or 1 after a message when the file
// cannot be opened or read, or the names overflow the list.
int
read_category_makefile(const char *path, char *comment,
    std::size_t comment_size, char *list, std::size_t size, int *count)
{
	char makefile[path_size];
	if (!join_text(makefile, sizeof makefile, {path, "/Makefile"})) {
		report_too_long({path, "/Makefile"});
		return 1;
	}
	FILE *f = open_makefile(makefile);
	if (f == nullptr)
		return 1;

	char line[line_size];
	bool have_comment = false;
	while (!have_comment && std::fgets(line, sizeof line, f) != nullptr) {
		char *value = skip_prefix(line, comment_prefix);
		if (value == line)
			continue;
		value[std::strcspn(value, "\n")] = '\0';
		(void)copy_text(comment, comment_size, value);
		have_comment = true;
	}

	char *pos = list;
	char *const end = list + size - 1; // room for the final empty name
	int result = 0;
	while (have_comment && std::fgets(line, sizeof line, f) != nullptr) {
		const char *name = subdir_name(line, port_prefix, makefile);
		if (name == nullptr)
			continue;
		char port_path[path_size];
		if (join_text(port_path, sizeof port_path, {path, "/", name}))
			note_listed(port_path);
		pos = append(
		    pos, end, std::string_view(name, std::strlen(name) + 1));
		if (pos == nullptr) {
			say(stderr, "%s: port list exceeds its %zu-byte buffer\n",
			    makefile, size);
			result = 1;
			break;
		}
		(*count)++;
	}
	if (!close_makefile(f, makefile)) {
		// A Makefile that fails to read gives nothing, as one that
		// cannot be opened.
		comment[0] = '\0';
		return 1;
	}
	if (result == 0)
		*pos = '\0';
	// A list known whole: without its COMMENT line none was read.
	if (result == 0 && have_comment)
		note_list_read(path);
	return result;
}

// While a whole tree is published through a link, a category that the
// INDEX has no lines for still names its ports in its Makefile: the pages
// of those it no longer lists go from the site, though the category gets
// no page. Read quietly: the category has been reported.
void
note_category_list(const char *path)
{
	char makefile[path_size];
	if (!join_text(makefile, sizeof makefile, {path, "/Makefile"}))
		return;
	int fd = open_in_tree(
	    makefile, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
	struct stat st;
	if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
		close(fd);
		fd = -1;
	}
	FILE *f = fd >= 0 ? fdopen(fd, "r") : nullptr;
	if (f == nullptr) {
		if (fd >= 0)
			close(fd);
		return;
	}
	char line[line_size];
	bool have_comment = false;
	while (!have_comment && std::fgets(line, sizeof line, f) != nullptr)
		have_comment = skip_prefix(line, comment_prefix) != line;
	while (have_comment && std::fgets(line, sizeof line, f) != nullptr) {
		char *name = skip_prefix(line, port_prefix);
		if (name == line)
			continue;
		name[std::strcspn(name, "\n")] = '\0';
		char port_path[path_size];
		if (name[0] != '\0' && std::strchr(name, '/') == nullptr &&
		    join_text(port_path, sizeof port_path, {path, "/", name}))
			note_listed(port_path);
	}
	if (have_comment && std::ferror(f) == 0)
		note_list_read(path);
	std::fclose(f);
}

// A port's link line on its category's page.
char *
append_port_line(
    char *pos, char *end, const char *name, const index_record &port)
{
	pos = append(pos, end, "<a href=\"");
	pos = insert(pos, end, tree_text::directory_name, name);
	pos = append(pos, end, "/README.html\">");
	pos = insert(pos, end, tree_text::package, port[index_field::package]);
	pos = append(pos, end, "</a>: ");
	pos = insert(
	    pos, end, tree_text::port_comment, port[index_field::comment]);
	return append(pos, end, "\n");
}

// A walk whose pages are made on the run's threads: where its lines go.
struct crew_walk {
	category_context *cat;
	char *pos;
	char *end;
};

// A job of the walk, finished in order: its messages, its page and line.
void
finish_port(port_job &job, void *context)
{
	auto *walk = static_cast<crew_walk *>(context);
	show_messages(&job.log);
	if (!job.found)
		return;
	(void)write_port_readme(job.path, &job.made, walk->cat->unwritten);
	walk->pos = append_port_line(walk->pos, walk->end, job.name, job.port);
}

// port_walk on the run's threads: the same pages, lines and messages, in
// the same order.
char *
crew_port_walk(category_context &cat, char *pos, char *end)
{
	crew_walk walk = {&cat, pos, end};
	for (const char *name = cat.ports; *name != '\0';
	     name = list_next(name)) {
		port_job &job = next_job(finish_port, &walk);
		job.name = name;
		job.kind = cat.request;
		message_log *before = log_messages(&job.log);
		if (!join_text(job.path, sizeof job.path, {cat.path, "/", name})) {
			report_too_long({cat.path, "/", name});
			(*cat.unwritten)++;
		} else if (!find_port(&cat.scan, job.path, &job.port)) {
			say(stderr, "Port %s not found in INDEX\n",
			    skip_prefix(job.path, state.top_dir_slash));
		} else {
			job.found = true;
		}
		(void)log_messages(before);
		hand_over(job, finish_port, &walk);
	}
	finish_jobs(finish_port, &walk);
	return walk.pos;
}

// Makes each port's README and appends its link line.
char *
port_walk(category_context &cat, char *pos, char *end)
{
	if (crew_ready())
		return crew_port_walk(cat, pos, end);
	for (const char *name = cat.ports; *name != '\0';
	     name = list_next(name)) {
		char port_path[path_size];
		if (!join_text(
			port_path, sizeof port_path, {cat.path, "/", name})) {
			report_too_long({cat.path, "/", name});
			(*cat.unwritten)++;
			continue;
		}
		// Without its INDEX line a port has nothing true to show.
		index_record port;
		if (!find_port(&cat.scan, port_path, &port)) {
			say(stderr, "Port %s not found in INDEX\n",
			    skip_prefix(port_path, state.top_dir_slash));
			continue;
		}
		(void)make_port_readme(
		    port_path, cat.request, port, cat.unwritten);
		pos = append_port_line(pos, end, name, port);
	}
	return pos;
}

category_context &
category_of(page_context &page)
{
	return static_cast<category_context &>(page);
}

// The buffers of the category pages, the page and its port names: a
// category README nests inside the top-level one only, and never inside
// another category's, so one of each serves the run.
run_buffer category_out;
run_buffer category_ports;

} // namespace

int
ready_category_readme()
{
	return need_buffer(&category_out, category_readme_size,
		   "category pages") != 0 ||
		need_buffer(
		    &category_ports, port_list_size, "category pages") != 0
	    ? -1
	    : 0;
}

void
release_category_readme()
{
	release_buffer(&category_out);
	release_buffer(&category_ports);
}

int
make_category_readme(const char *path, int kind, char *comment,
    std::size_t comment_size, int *unwritten)
{
	if (ready_category_readme() != 0) {
		++*unwritten;
		return 1;
	}
	char *out = category_out.data;
	char *ports = category_ports.data;
	// A category that yields no comment shows none, never the comment of
	// the category made before it.
	comment[0] = '\0';
	const char *name = skip_prefix(path, state.top_dir_slash);
	category_context cat = {{on_category, depth_of_page(path)}, path,
	    comment, ports, 0, kind, {}, unwritten};
	if (select_category(name, &cat.scan) != 0) {
		if (kind == kind_top && publishing_generations())
			note_category_list(path);
		return 1;
	}
	if (read_category_makefile(path, comment, comment_size, ports,
		port_list_size, &cat.port_count) != 0)
		return 1;

	if (state.quiet == 0)
		say(stdout, "Making README.html for category %s (%d ports)\n",
		    name, cat.port_count);

	char *text_end = expand_page(
	    templates().category, out, out + category_readme_size, cat);
	note_shared_files(cat);
	int result = finish_readme(path, out, text_end, category_readme_size);
	*unwritten += result;
	return result;
}

namespace fills {

char *
comment(char *pos, char *end, page_context &page)
{
	if (page.kind == on_port)
		return insert(pos, end, tree_text::port_comment,
		    (*port_of(page).port)[index_field::comment]);
	const category_context &cat = category_of(page);
	pos = insert(pos, end, tree_text::category_comment, cat.comment);
	pos = append(pos, end, " (");
	pos = append_number(pos, end, cat.port_count);
	return append(pos, end, " ports)");
}

std::string_view
category(page_context &page)
{
	return skip_prefix(category_of(page).path, state.top_dir_slash);
}

char *
subdir(char *pos, char *end, page_context &page)
{
	if (page.kind == on_top)
		return append_category_lines(pos, end, page);
	return port_walk(category_of(page), pos, end);
}

} // namespace fills

bool
page_feed_beside(page_context &page)
{
	if (!feeds_written())
		return false;
	if (page.kind != on_category || category_of(page).request == kind_top)
		return true;
	char rel[path_size];
	if (!join_text(rel, sizeof rel, {fills::category(page), "/feed.atom"}))
		return false;
	published_file f = read_published(rel);
	std::free(f.text);
	return f.text != nullptr;
}
