// Start-up, clean-up and the category list.
//
// The category list is a packed string list in a fixed buffer. The main
// Makefile's names are appended in file order; Makefile.local's are each
// inserted before the first listed name that sorts after them, which keeps
// a sorted list sorted and puts a repeated name after its twin.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue.h"
#include "history/history.h"
#include "platform/platform.h"
#include "pages/pages.h"
#include "site/site.h"
#include "state/state.h"
#include "text/bounded.h"
#include "treedata/moved.h"
#include "treedata/port_status.h"
#include "treedata/updating.h"
#include "treedata/vuxml.h"

static constexpr std::string_view subdir_prefix = "SUBDIR += ";

// Whether NAME is missing from the directory DIR (not merely unreadable).
static bool
missing(const char *dir, const char *name)
{
	char path[path_size];
	struct stat st;
	return join_text(path, sizeof path, {dir, "/", name}) &&
	    stat(path, &st) != 0 && errno == ENOENT;
}

// After a missing INDEX: the release the name came from, the INDEX files
// the tree has, and the two ways to the right one.
static void
hint_missing_index()
{
	char release[256];
	if (!hints_wanted() || platform_release(release, sizeof release) != 0)
		return;
	char wanted[sizeof release + 8];
	std::snprintf(wanted, sizeof wanted, "INDEX-%.*s",
	    static_cast<int>(std::strspn(release, "0123456789")), release);
	if (!missing(state.top_dir, wanted))
		return;
	std::fprintf(stderr, "hint: %s is named for the release %s (%s)\n",
	    wanted, release,
	    std::getenv("UNAME_r") != nullptr ? "UNAME_r" : "uname -r");

	// The tree's INDEX files, in the order of their releases: those of
	// releases 1 to 99 are looked for by name.
	char found[8][24];
	std::size_t count = 0;
	for (int release_number = 1;
	     release_number < 100 && count < std::size(found);
	     release_number++) {
		std::snprintf(found[count], sizeof found[count], "INDEX-%d",
		    release_number);
		char path[path_size];
		struct stat st;
		if (join_text(path, sizeof path,
			{state.top_dir, "/", found[count]}) &&
		    stat(path, &st) == 0 && S_ISREG(st.st_mode))
			count++;
	}
	if (count == 0) {
		std::fputs("hint: the tree has no INDEX file\n", stderr);
	} else {
		std::fputs("hint: the tree has", stderr);
		for (std::size_t i = 0; i < count; i++)
			std::fprintf(stderr, "%s %s",
			    i == 0 ? "" : (i + 1 == count ? " and" : ","),
			    found[i]);
		std::fputs("\n", stderr);
	}
	const char *example = count != 0 ? found[count - 1] + 6 : "15";
	std::fprintf(stderr,
	    "hint: for a tree made for another release, set UNAME_r: "
	    "UNAME_r=%s.0-RELEASE reads INDEX-%s\n",
	    example, example);
	std::fprintf(stderr,
	    "hint: on FreeBSD, make the running release's INDEX as root in "
	    "%s: make fetchindex\n",
	    state.top_dir);
}

void
clean_up()
{
	release_packages();
	release_lookup();
	release_readmes();
	release_vuxml();
	moved_release();
	updating_release();
	site_release();
	history_release();
	release_tree_fd();
	std::free(state.index_text);
	std::free(state.category_groups);
	startup_state() = run_state{};
}

// The end of category_list's names: the position of its final empty name.
static char *
list_end()
{
	char *name = startup_state().category_list;
	while (*name != '\0')
		name = const_cast<char *>(list_next(name));
	return name;
}

// Reads one Makefile's "SUBDIR += " names into the list: appended, or
// inserted in sorted position when sorted is set. Returns 0; -1 after a
// message when the list's buffer is full.
static int
read_names(FILE *f, const char *path, bool sorted)
{
	char line[line_size];
	char *const limit = startup_state().category_list + sizeof state.category_list;

	while (std::fgets(line, sizeof line, f) != nullptr) {
		const char *name = subdir_name(line, subdir_prefix, path);
		if (name == nullptr)
			continue;
		std::size_t need = std::strlen(name) + 1;
		char *end = list_end();
		// The names, the new one and the final empty name must fit.
		if (need > static_cast<std::size_t>(limit - end - 1)) {
			std::fprintf(stderr,
			    "%s: too many categories for the category list "
			    "(%zu bytes)\n",
			    path, sizeof state.category_list);
			return -1;
		}
		char *at = end;
		if (sorted) {
			for (char *listed = startup_state().category_list;
			     *listed != '\0';
			     listed = const_cast<char *>(list_next(listed))) {
				if (std::strcmp(name, listed) < 0) {
					at = listed;
					break;
				}
			}
		}
		std::memmove(
		    at + need, at, static_cast<std::size_t>(end + 1 - at));
		std::memcpy(at, name, need);
		startup_state().category_count++;
	}
	return 0;
}

int
read_category_list()
{
	char path[path_size];
	startup_state().category_list[0] = '\0';

	if (!join_text(path, sizeof path, {state.top_dir, "/Makefile"})) {
		report_too_long({state.top_dir, "/Makefile"});
		std::fputs("Unable to open top-level ports Makefile\n", stderr);
		return -1;
	}
	FILE *f = open_makefile(path);
	int result = f != nullptr ? read_names(f, path, false) : -1;
	if (f == nullptr || !close_makefile(f, path)) {
		std::fputs("Unable to open top-level ports Makefile\n", stderr);
		if (f == nullptr && state.top_by_default && hints_wanted() &&
		    missing(state.top_dir, "Makefile"))
			std::fprintf(stderr,
			    "hint: no ports tree at %s: name its top with "
			    "-p DIR or the PORTSDIR environment variable\n",
			    state.top_dir);
		return -1;
	}
	if (result != 0)
		return -1;

	if (!join_text(path, sizeof path, {state.top_dir, "/Makefile.local"})) {
		report_too_long({state.top_dir, "/Makefile.local"});
		return -1;
	}
	f = open_makefile(path, true);
	if (f == nullptr)
		return 0; // Makefile.local is optional
	// A Makefile.local that fails to read counts as one that could not
	// be opened: none of its names are taken.
	char before[sizeof state.category_list];
	std::uint64_t count_before = state.category_count;
	std::memcpy(before, state.category_list, sizeof before);
	result = read_names(f, path, true);
	if (!close_makefile(f, path)) {
		std::memcpy(startup_state().category_list, before, sizeof before);
		startup_state().category_count = count_before;
	}
	return result;
}

int
start_up()
{
	if (getuid() == 0)
		platform_raise_priority();

	if (std::atexit(clean_up) != 0) {
		std::perror("atexit() register of cleanup routine failed");
		return -1;
	}
	// Every file of the tree is read and written beneath the top as it is
	// now: a top swapped for a link later is not followed. A top that
	// cannot be opened shows when its Makefile cannot be.
	(void)tree_fd();
	if (read_category_list() != 0)
		return -1;
	if (load_index() != 0) {
		std::fputs("Unable to load the index file!\n", stderr);
		hint_missing_index();
		return -1;
	}
	return group_index();
}
