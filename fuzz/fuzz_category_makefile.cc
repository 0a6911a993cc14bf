// Fuzzes the reading of a category Makefile and the making of the category's
// README with its ports.
//
// Input: chunks separated by the chunk separator:
//   0  the category's Makefile
//   1  optional control bytes: the first byte's bit 0 lists the ports in the
//      INDEX in reverse order, bit 1 leaves out the INDEX line of a port no
//      Makefile lists; each bit of the later bytes leaves out the INDEX line
//      of one listed port, in Makefile order
//   2  optional README.category (a small default otherwise)
// The tree is as start-up leaves it: a category list holding the category,
// an INDEX with a group for it between two other categories, both templates
// loaded. The README written, the port READMEs and the category comment are
// compared with what the documented Makefile rules give.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "state/state.h"
#include "support.h"

using namespace qmfuzz;

namespace {

std::string top;
std::string category_dir;

constexpr std::string_view comment_prefix = "    COMMENT = ";
constexpr std::string_view port_prefix = "    SUBDIR += ";
constexpr std::string_view default_template =
    "<h1>%%CATEGORY%%</h1>\n<p>%%COMMENT%%</p>\n<ul>\n%%SUBDIR%%</ul>\n";
constexpr std::string_view port_template = "%%PKG%%: %%COMMENT%%\n";
// A port that no Makefile is likely to list, which keeps the category's
// group in the INDEX when every listed port is left out.
const std::string unlisted = "~unlisted";
// Port directories made per input, to keep an input cheap.
constexpr std::size_t most_dirs = 64;

bool
unsafe(const std::string &name)
{
	return name == "." || name == ".." ||
	    name.find('/') != std::string::npos;
}

struct makefile_model {
	bool have_comment = false;
	std::string comment;
	std::vector<std::string> ports;
	bool overflow = false;
};

makefile_model
read_model(std::string_view text)
{
	makefile_model m;
	std::vector<std::string> pieces = fgets_pieces(text, line_size);
	std::size_t i = 0;
	for (; i < pieces.size() && !m.have_comment; i++) {
		if (pieces[i].compare(
			0, comment_prefix.size(), comment_prefix) != 0)
			continue;
		m.comment = pieces[i].substr(comment_prefix.size());
		m.comment = m.comment.substr(0, m.comment.find('\n'));
		m.have_comment = true;
	}
	std::size_t used = 1;
	for (; i < pieces.size() && m.have_comment; i++) {
		if (pieces[i].compare(0, port_prefix.size(), port_prefix) != 0)
			continue;
		std::string name = pieces[i].substr(port_prefix.size());
		name = name.substr(0, name.find('\n'));
		if (name.empty() || unsafe(name))
			continue;
		used += name.size() + 1;
		if (used > port_list_size) {
			m.overflow = true;
			break;
		}
		m.ports.push_back(name);
	}
	return m;
}

std::string
package(const std::string &name)
{
	return name + "-1.0";
}

std::string
port_comment(const std::string &name)
{
	return "The " + name + " port & <more>";
}

std::string
index_line(const std::string &category, const std::string &name)
{
	return package(name) + "|/usr/ports/" + category + "/" + name +
	    "|/usr/local|" + port_comment(name) + "|/usr/ports/" + category +
	    "/" + name + "/pkg-descr|me@example.org|" + category + " misc|||\n";
}

char *
owned(std::string_view text)
{
	char *copy = static_cast<char *>(std::malloc(text.size() + 1));
	check(copy != nullptr, "malloc");
	std::memcpy(copy, text.data(), text.size());
	copy[text.size()] = '\0';
	return copy;
}

} // namespace

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	top = scratch_dir() + "/root/ports";
	category_dir = top + "/misc";
	for (const std::string &dir : {scratch_dir() + "/root", top})
		check(mkdir(dir.c_str(), 0755) == 0, "mkdir");
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string_view> chunks = split_chunks(data, size);
	std::string_view makefile = chunks[0];
	std::string_view control = chunks.size() > 1 ? chunks[1] : "";
	unsigned flags =
	    control.empty() ? 0 : static_cast<unsigned char>(control[0]);
	std::string tmpl = unmodelled_out(
	    std::string(chunks.size() > 2 ? chunks[2] : default_template));

	makefile_model m = read_model(makefile);

	// The INDEX: the listed ports that are not left out, once each.
	std::vector<std::string> indexed;
	std::set<std::string> in_index;
	for (std::size_t i = 0; i < m.ports.size(); i++) {
		const std::string &name = m.ports[i];
		std::size_t byte = 1 + i / 8;
		bool left_out = byte < control.size() &&
		    (static_cast<unsigned char>(control[byte]) >> (i % 8) &
			1) != 0;
		if (left_out || name.find('|') != std::string::npos ||
		    in_index.count(name) != 0)
			continue;
		indexed.push_back(name);
		in_index.insert(name);
	}
	if ((flags & 2) == 0 && in_index.count(unlisted) == 0) {
		indexed.push_back(unlisted);
		in_index.insert(unlisted);
	}
	if ((flags & 1) != 0)
		std::reverse(indexed.begin(), indexed.end());

	// Each %%SUBDIR%% makes every port's README again: keep it cheap.
	auto count_subdirs = [](const std::string &t) {
		std::size_t n = 0;
		(void)expand(
		    t,
		    [&](int code) {
			    n += code == ph_subdir;
			    return std::string_view();
		    },
		    0);
		return n;
	};
	std::size_t subdirs = count_subdirs(tmpl);
	if (subdirs * (m.ports.size() + 1) > 512) {
		tmpl = default_template;
		subdirs = count_subdirs(tmpl);
	}

	// The tree.
	remove_tree(category_dir);
	check(mkdir(category_dir.c_str(), 0755) == 0, "mkdir category");
	put_file(category_dir + "/Makefile", makefile);
	std::set<std::string> dirs;
	for (const std::string &name : m.ports) {
		if (dirs.size() == most_dirs || name == "Makefile" ||
		    name == "README.html")
			continue;
		if (mkdir((category_dir + "/" + name).c_str(), 0755) == 0)
			dirs.insert(name);
	}

	std::string index = index_line("archivers", "zip");
	for (const std::string &name : indexed)
		index += index_line("misc", name);
	index += index_line("www", "httpd");

	clean_up();
	startup_state().quiet = 1;
	set_top(top);
	set_category_list({"archivers", "misc", "www"});
	startup_state().index_text = owned(index);
	startup_state().index_end = state.index_text + index.size();
	check(group_index() == 0, "the INDEX is grouped");
	supply_templates(nullptr, owned(tmpl), owned(port_template));

	char comment[category_comment_size];
	int unwritten = 0;
	int result = make_category_readme(category_dir.c_str(), kind_category,
	    comment, sizeof comment, &unwritten);

	std::string readme;
	bool written = get_file(category_dir + "/README.html", &readme);
	if (indexed.empty()) {
		check(result == 1 && !written, "a category without a group");
		check(comment[0] == '\0', "no comment without a group");
		clean_up();
		return 0;
	}
	if (m.overflow) {
		check(result == 1 && !written, "a port list too long");
		clean_up();
		return 0;
	}
	check(comment == m.comment, "the category comment");

	std::string links;
	for (const std::string &name : m.ports) {
		std::string port_path = category_dir + "/" + name;
		bool fits = port_path.size() < path_size;
		bool found = fits && in_index.count(name) != 0;
		if (found)
			links += "<a href=\"" + name + "/README.html\">" +
			    package(name) +
			    "</a>: " + escape(port_comment(name)) + "\n";
		if (dirs.count(name) == 0)
			continue;
		std::string port_readme;
		bool made = get_file(port_path + "/README.html", &port_readme);
		bool can = found && subdirs > 0 &&
		    port_path.size() + std::strlen("/README.html") < path_size;
		check(made == can, "a port's README is made when it can be");
		if (made)
			check(port_readme ==
				package(name) + ": " +
				    escape(port_comment(name)) + "\n",
			    "a port's README");
	}
	std::string count =
	    m.comment + " (" + std::to_string(m.ports.size()) + " ports)";
	expansion want = expand(
	    tmpl,
	    [&](int code) -> std::string_view {
		    switch (code) {
		    case ph_comment:
			    return count;
		    case ph_category:
			    return "misc";
		    case ph_subdir:
			    return links;
		    default:
			    return "";
		    }
	    },
	    category_readme_size);
	if (want.length > category_readme_size) {
		check(result == 1 && !written,
		    "a README too large is not written");
	} else {
		check(result == 0, "the category README is written");
		check(written && readme == want.text, "the category README");
	}
	clean_up();
	return 0;
}
