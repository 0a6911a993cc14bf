// The top-level README, with the READMEs of every category and port.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "sitefiles/search_index.h"
#include "sitefiles/search_words.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {

// The top page in the making.
struct top_page : page_context {
	int *unwritten;
};

} // namespace

// Makes each category's README and appends its link line, also for a
// category whose README failed.
char *
append_category_lines(char *pos, char *end, page_context &page)
{
	int *unwritten = static_cast<top_page &>(page).unwritten;
	for (const char *name = state.category_list; *name != '\0';
	     name = list_next(name)) {
		char category_path[path_size];
		char comment[category_comment_size] = "";
		if (join_text(category_path, sizeof category_path,
			{state.top_dir_slash, name}))
			(void)make_category_readme(category_path, kind_top,
			    comment, sizeof comment, unwritten);
		else {
			report_too_long({state.top_dir_slash, name});
			(*unwritten)++;
		}
		pos = append(pos, end, "<a href=\"");
		pos = insert(pos, end, tree_text::directory_name, name);
		pos = append(pos, end, "/README.html\">");
		pos = insert(pos, end, tree_text::directory_name, name);
		pos = append(pos, end, "</a>: ");
		pos = insert(pos, end, tree_text::category_comment, comment);
		pos = append(pos, end, "\n");
	}
	return pos;
}

namespace fills {

std::string_view
search_index(page_context &)
{
	return search_index_name;
}

std::string_view
vulnerable_page(page_context &)
{
	return vulnerable_page_name;
}

std::string_view
expiring_page(page_context &)
{
	return expiring_page_name;
}

std::string_view
search_words(page_context &)
{
	return search_words_name;
}

} // namespace fills

namespace {

// The buffer of the top-level page: there is only ever one in the making.
run_buffer top_out;

} // namespace

int
ready_top_readme()
{
	return need_buffer(&top_out, top_readme_size, "top page");
}

void
release_top_readme()
{
	release_buffer(&top_out);
}

int
make_top_readme(const char *path, int *unwritten)
{
	if (ready_top_readme() != 0) {
		++*unwritten;
		return 1;
	}
	char *out = top_out.data;
	// Where the page goes: with -o the output root as named (through a
	// link, where the site is read once it is switched).
	if (state.quiet == 0)
		say(stdout, "Making top-level README.html in %s (%" PRIu64
			    " categories)\n",
		    state.out_dir[0] != '\0' ? state.out_dir : state.top_dir,
		    state.category_count);

	sitemap_begin();
	// The search data first: without room for it no page is written.
	// The word index comes before the package index that the search data
	// builds for the pages, so that the two are never held at once; its
	// files are counted in *unwritten one by one.
	int words = 0;
	if (top_template_searches_words()) {
		words = write_search_words(path, unwritten);
		if (words < 0)
			return -1;
	}
	int search = 0;
	if (top_template_searches()) {
		search = write_search_index(path);
		if (search < 0)
			return -1;
	}
	// The maintainer pages are the tree's as its categories are: a page
	// that fails keeps the site from switching, not the top page.
	(void)make_maintainer_pages(unwritten);
	(void)make_feeds(unwritten);
	// The pages of the ports at risk note each port as its page is made.
	ready_safety_pages();
	top_page page = {{on_top, depth_of_page(path)}, unwritten};
	char *text_end =
	    expand_page(templates().top, out, out + top_readme_size, page);
	note_shared_files(page);
	int at_risk = write_safety_pages(path);
	int result = finish_readme(path, out, text_end, top_readme_size);
	// The search data, the pages of the ports at risk and the sitemap
	// are files the run set out to write, as its pages; the word files
	// are counted already.
	*unwritten += result + search + at_risk;
	// The pages of moved ports count their own failures.
	(void)make_moved_readmes(unwritten);
	// The sitemap comes last, so that it lists the pages of moved ports.
	int sitemap = write_sitemap();
	*unwritten += sitemap;
	if (result != 0 || search != 0)
		return result != 0 ? result : search;
	return at_risk != 0 || words != 0 || sitemap != 0 ? 1 : 0;
}
