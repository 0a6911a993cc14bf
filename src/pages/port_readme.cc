// The README of one port, filled from its INDEX record.
//
// The caller has found the record: a category walking its ports goes on
// from where the previous port's lookup stopped, and only a port named on
// the command line selects its category itself. Nothing is opened before
// the port's line is found, so a port missing from the INDEX keeps its old
// README.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/description.h"
#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "state/pathnames.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {

std::string_view
description_of(port_page &page)
{
	if (!page.description_read) {
		page.description =
		    read_port_description(*page.port, &page.work->description);
		page.description_read = true;
	}
	return page.description;
}

constexpr std::string_view build_sentence =
    "This port requires the following ports to build:<br><br>";
constexpr std::string_view run_sentence =
    "This port requires the following ports to run:<br><br>";

// A field between before and after, or nothing at all when it is empty.
char *
append_field(char *pos, char *end, std::string_view field, tree_text what,
    std::string_view before, std::string_view after = {})
{
	if (field.empty())
		return pos;
	pos = append(pos, end, before);
	pos = insert(pos, end, what, field);
	return append(pos, end, after);
}

char *
list(char *pos, char *end, page_context &page, placeholder code)
{
	port_page &port = port_of(page);
	return append_depends_list(pos, end, *port.port,
	    static_cast<std::size_t>(code - ph_build_depends_list), page.depth,
	    &port.work->lists);
}

// The port's INDEX record.
const index_record &
record_of(page_context &page)
{
	return *port_of(page).port;
}

// The buffers of the port pages made on the run's own thread: port READMEs
// never nest inside one another, so one record serves them all.
page_work own_work;

// The room of a port page: a template without extensions has the classic
// room only.
std::size_t
port_page_room()
{
	return (templates().port_uses & extension_placeholders) != 0
	    ? port_readme_extended_size
	    : port_readme_size;
}

// A page whose lists the fixed buffer cannot hold (the dependents of a core
// port on a large tree) is made again in a buffer that doubles until the
// page fits: made->large holds it then, to be freed once written.
void
make_large_page(const char *path, port_made *made)
{
	for (std::size_t size = 2 * port_readme_extended_size;
	     size <= large_page_max; size *= 2) {
		char *out = static_cast<char *>(std::malloc(size));
		if (out == nullptr) {
			say(stderr, "%s/README.html: cannot allocate %zu bytes: %s\n",
			    path, size, std::strerror(errno));
			made->lost = true;
			return;
		}
		char *text_end =
		    expand_page(templates().port, out, out + size, made->page);
		if (text_end != nullptr || 2 * size > large_page_max) {
			made->large = out;
			made->text_end = text_end;
			made->size = size;
			return;
		}
		std::free(out);
	}
}

} // namespace

int
ready_page_work(page_work *work)
{
	if (need_buffer(&work->out, port_page_room(), "port pages") != 0)
		return -1;
	return (templates().port_uses & list_placeholders) != 0
	    ? ready_lists(&work->lists)
	    : 0;
}

void
release_page_work(page_work *work)
{
	for (run_buffer *buffer :
	     {&work->out, &work->lists, &work->description, &work->port_files})
		release_buffer(buffer);
	release_moved_query(&work->formerly);
	release_updating_query(&work->notes);
	free_choice_book(work->choices);
	work->choices = nullptr;
}

int
ready_port_readme()
{
	return ready_page_work(&own_work);
}

void
release_port_readme()
{
	release_page_work(&own_work);
}

void
expand_port_readme(const char *path, int kind, const index_record &port,
    page_work *work, port_made *made)
{
	const char *relative = skip_prefix(path, state.top_dir_slash);
	made->page = {{on_port, page_depth(relative)}, work, &port, relative,
	    false, {}, false, {}};
	made->large = nullptr;
	made->failed = false;
	made->lost = false;
	if (ready_page_work(work) != 0) {
		made->failed = true;
		return;
	}
	if (state.verbosity > 2 || (kind == kind_port && state.quiet == 0))
		say(stdout, "Making README.html for port %s\n", relative);

	made->size = port_page_room();
	char *out = work->out.data;
	made->text_end =
	    expand_page(templates().port, out, out + made->size, made->page);
	if (made->text_end == nullptr &&
	    (templates().port_uses & unbounded_placeholders) != 0)
		make_large_page(path, made);
}

int
write_port_readme(const char *path, port_made *made, int *unwritten)
{
	int result = 1;
	if (!made->failed && !made->lost) {
		const char *out = made->large != nullptr
		    ? made->large
		    : made->page.work->out.data;
		result = finish_readme(path, out, made->text_end, made->size);
	}
	if (!made->failed) {
		note_shared_files(made->page);
		note_safety(made->page);
	}
	std::free(made->large);
	made->large = nullptr;
	*unwritten += result;
	return result;
}

int
make_port_readme(
    const char *path, int kind, const index_record &port, int *unwritten)
{
	port_made made;
	expand_port_readme(path, kind, port, &own_work, &made);
	return write_port_readme(path, &made, unwritten);
}

namespace fills {

std::string_view
pkg(page_context &page)
{
	return record_of(page)[index_field::package];
}

std::string_view
port(page_context &page)
{
	return port_of(page).relative;
}

char *
descr(char *pos, char *end, page_context &page)
{
	std::string_view descr = record_of(page)[index_field::descr];
	if (descr.starts_with(path_index_ports))
		descr.remove_prefix(path_index_ports.size());
	pos = insert(pos, end, tree_text::top_dir, state.top_dir);
	return insert(pos, end, tree_text::descr_path, descr);
}

std::string_view
email(page_context &page)
{
	return record_of(page)[index_field::maintainer];
}

char *
maintainer_link(char *pos, char *end, page_context &page)
{
	return append_maintainer_page_link(pos, end,
	    record_of(page)[index_field::maintainer], page.depth);
}

char *
build_depends(char *pos, char *end, page_context &page)
{
	return append_field(pos, end, record_of(page)[index_field::build_depends],
	    tree_text::depends_field, build_sentence);
}

char *
run_depends(char *pos, char *end, page_context &page)
{
	return append_field(pos, end, record_of(page)[index_field::run_depends],
	    tree_text::depends_field, run_sentence);
}

char *
website(char *pos, char *end, page_context &page)
{
	return append_field(pos, end, record_of(page)[index_field::website],
	    tree_text::website, " or <a href=\"", "\">visit the website</a>");
}

std::string_view
top(page_context &)
{
	return state.top_dir;
}

std::string_view
descr_text(page_context &page)
{
	// Up to a NUL, as this placeholder has always read the file.
	std::string_view text = description_of(port_of(page));
	return text.substr(0, text.find('\0'));
}

char *
build_depends_links(char *pos, char *end, page_context &page)
{
	return append_depends_links(pos, end, record_of(page),
	    index_field::build_depends, build_sentence, page.depth);
}

char *
run_depends_links(char *pos, char *end, page_context &page)
{
	return append_depends_links(pos, end, record_of(page),
	    index_field::run_depends, run_sentence, page.depth);
}

char *
required_by(char *pos, char *end, page_context &page)
{
	return append_required_by(pos, end, record_of(page), page.depth);
}

std::string_view
pkgname(page_context &page)
{
	return package_base(record_of(page)[index_field::package]);
}

std::string_view
pkgversion(page_context &page)
{
	return package_version(record_of(page)[index_field::package]);
}

std::string_view
origin(page_context &page)
{
	return port_origin(record_of(page));
}

std::string_view
comment_text(page_context &page)
{
	return record_of(page)[index_field::comment];
}

char *
descr_html(char *pos, char *end, page_context &page)
{
	return render_description(pos, end, description_of(port_of(page)), nullptr);
}

char *
website_link(char *pos, char *end, page_context &page)
{
	std::string_view address = record_of(page)[index_field::website];
	if (address.empty())
		address = description_website(description_of(port_of(page)));
	return append_website_link(pos, end, address);
}

char *
also_listed(char *pos, char *end, page_context &page)
{
	return append_also_listed(pos, end, record_of(page), page.depth);
}

char *
build_depends_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_build_depends_list);
}

char *
run_depends_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_run_depends_list);
}

char *
extract_depends_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_extract_depends_list);
}

char *
patch_depends_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_patch_depends_list);
}

char *
fetch_depends_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_fetch_depends_list);
}

char *
required_by_list(char *pos, char *end, page_context &page)
{
	return list(pos, end, page, ph_required_by_list);
}

} // namespace fills
