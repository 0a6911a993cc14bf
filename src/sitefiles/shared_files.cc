// The files that the pages share: a stylesheet and a script, kept in the
// templates directory and written once beside the top-level README.html,
// so that a browser fetches each once for the whole site rather than with
// every page.
//
// A page asks for one by its placeholder, which gives the file's URL
// relative to that page. Only a file that some page of the run asked for
// is written, and at the end of the run, when every page has been made: a
// run whose templates name neither writes exactly what it always has.
#include <array>
#include <cstdlib>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

// Their names, in the templates directory and beside the top: the
// stylesheet, then the script.
constexpr std::array<std::string_view, 2> shared_files = {
    shared_stylesheet_name, shared_script_name};

// Which of them a page of this run asked for: noted by the run's own
// thread as each page is made.
std::array<bool, shared_files.size()> wanted;

// The URL of shared file i from page, noting in the page that the run must
// write the file.
char *
append_url(char *pos, char *end, std::size_t i, page_context &page)
{
	page.shared_asked =
	    static_cast<unsigned char>(page.shared_asked | 1u << i);
	for (int up = 0; up < page.depth; up++)
		pos = append(pos, end, "../");
	return append(pos, end, shared_files[i]);
}

} // namespace

namespace fills {

char *
stylesheet(char *pos, char *end, page_context &page)
{
	return append_url(pos, end, 0, page);
}

char *
script(char *pos, char *end, page_context &page)
{
	return append_url(pos, end, 1, page);
}

} // namespace fills

void
note_shared_files(const page_context &page)
{
	for (std::size_t i = 0; i < shared_files.size(); i++)
		if ((page.shared_asked & 1u << i) != 0)
			wanted[i] = true;
}

int
write_shared_files(int *unwritten)
{
	int failed = 0;
	for (std::size_t i = 0; i < shared_files.size(); i++) {
		if (!wanted[i])
			continue;
		// The pages link to the file whether or not it can be had:
		// without it they still read, only plainer, and the run says
		// which file the templates directory lacks.
		char path[path_size];
		char *text = nullptr;
		std::size_t size = 0;
		if (join_text(path, sizeof path,
			{state.templates_dir, "/", shared_files[i]}))
			text = load_file(path, &size);
		else
			report_too_long(
			    {state.templates_dir, "/", shared_files[i]});
		// One already right is only read: a run for a port may come
		// from a user who may write that port's directory alone.
		if (text == nullptr ||
		    (!output_holds(state.top_dir, shared_files[i], text,
			 size) &&
			write_file(state.top_dir, shared_files[i], text,
			    size) != 0))
			failed++;
		std::free(text);
	}
	*unwritten += failed;
	return failed != 0 ? 1 : 0;
}

void
release_shared_files()
{
	wanted = {};
}
