// Fuzzes the reading of the top-level Makefile and Makefile.local into the
// category list.
//
// Input: the Makefile, then optionally a chunk separator and Makefile.local
// (absent without a separator), then optionally another separator and one
// byte that lengthens top_dir to 1000 to 1022 characters, the longest it can
// be. The list the tool builds is compared with one built by the documented
// rules: main names appended in file order, local names inserted before the
// first listed name that sorts after them, empty and unsafe names skipped,
// and the whole list within its 2048 bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "support.h"

using namespace qmfuzz;

namespace {

constexpr std::string_view subdir_prefix = "SUBDIR += ";

std::string top;

bool
unsafe(const std::string &name)
{
	return name == "." || name == ".." ||
	    name.find('/') != std::string::npos;
}

// The names one Makefile contributes, in file order.
std::vector<std::string>
makefile_names(std::string_view text)
{
	std::vector<std::string> names;
	for (const std::string &piece : fgets_pieces(text, line_size)) {
		if (piece.compare(0, subdir_prefix.size(), subdir_prefix) != 0)
			continue;
		std::string name = piece.substr(subdir_prefix.size());
		name = name.substr(0, name.find('\n'));
		if (name.empty() || unsafe(name))
			continue;
		names.push_back(name);
	}
	return names;
}

// Adds names to list as the documented rules say. False when a name would
// not fit in the list's buffer with the final empty name.
bool
add_names(std::vector<std::string> &list, std::size_t &used,
    const std::vector<std::string> &names, bool sorted)
{
	for (const std::string &name : names) {
		if (used + name.size() + 1 > category_list_size)
			return false;
		used += name.size() + 1;
		auto at = list.end();
		if (sorted) {
			for (auto it = list.begin(); it != list.end(); ++it) {
				if (name < *it) {
					at = it;
					break;
				}
			}
		}
		list.insert(at, name);
	}
	return true;
}

} // namespace

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	top = scratch_dir() + "/ports";
	check(mkdir(top.c_str(), 0755) == 0, "mkdir ports");
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string_view> chunks = split_chunks(data, size);
	std::string_view makefile = chunks[0];
	bool have_local = chunks.size() > 1;
	std::string_view local = have_local ? chunks[1] : std::string_view();

	// A long top_dir, padded with "/." steps that name the same directory,
	// up to the longest that leaves room for top_dir_slash's slash.
	std::string top_dir = top;
	if (chunks.size() > 2 && !chunks[2].empty()) {
		std::size_t want =
		    1000 + static_cast<unsigned char>(chunks[2][0]) % 23;
		if ((want - top_dir.size()) % 2 != 0)
			top_dir += "/";
		while (top_dir.size() < want)
			top_dir += "/.";
	}

	put_file(top + "/Makefile", makefile);
	if (have_local)
		put_file(top + "/Makefile.local", local);
	else
		(void)unlink((top + "/Makefile.local").c_str());

	clean_up();
	startup_state().quiet = 1;
	set_top(top_dir);
	int result = read_category_list();

	check(result == 0 || result == -1, "result is 0 or -1");
	bool overrun = false;
	std::vector<std::string> names = category_names(&overrun);
	check(!overrun, "category_list ends within its buffer");
	if (result == 0)
		check(names.size() == state.category_count,
		    "walking category_list gives category_count names");

	// What the documented rules give.
	std::vector<std::string> expect;
	std::size_t used = 1;
	bool fits = top_dir.size() + std::strlen("/Makefile") < path_size;
	bool local_fits =
	    top_dir.size() + std::strlen("/Makefile.local") < path_size;
	bool ok =
	    fits && add_names(expect, used, makefile_names(makefile), false);
	if (ok && have_local && local_fits)
		ok = add_names(expect, used, makefile_names(local), true);

	if (!fits || !ok) {
		check(result == -1, "a Makefile that does not fit is refused");
		return 0;
	}
	if (!local_fits) {
		// Too long a path for Makefile.local may end start-up or pass
		// over the optional file; either way the main names stand.
		if (result == 0)
			check(names == expect, "names of the main Makefile");
		return 0;
	}
	check(result == 0, "a list that fits is read");
	check(names == expect, "names and their order");
	return 0;
}
