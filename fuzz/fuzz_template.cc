// Fuzzes template expansion and the three README builders against their
// buffer limits.
//
// Input: chunks separated by the chunk separator, each optional:
//   0  README.port (also README.category and README.top when they are absent)
//   1  README.category
//   2  README.top
//   3  the port's INDEX fields, '|'-separated
//   4  the category's comment
//   5  one byte b: the port's comment and dependency fields are repeated
//      2^(b % 12) times, so that small inputs reach the buffer limits
//   6  the port's description file, misc/foo/pkg-descr
// A second INDEX line, of a port bar that no Makefile lists, depends on the
// fuzzed port's package, on itself and on a package missing from the INDEX,
// so that the dependency links and dependents have something to show.
// A tiny tree (top Makefile, one category, one port, an INDEX) lives in a
// private scratch directory; each input rewrites its INDEX and category
// Makefile, and the builders write their README.html files there. Every
// file is compared byte for byte with the documented substitutions, and a
// README too large for its buffer must be reported and not written.
//
// expand_template is also run on its own with a substitution of this file's
// and output buffers cut at and around the text's exact length, and
// html_escape likewise.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "pages/pages.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "support.h"
#include "text/bounded.h"

using namespace qmfuzz;

namespace {

std::string top;	  // the ports tree
std::string category_dir; // top/misc
std::string port_dir;	  // top/misc/foo

constexpr std::string_view default_fields =
    "foo-1.0|/usr/ports/misc/foo|/usr/local|Foo & <bar> tools|"
    "/usr/ports/misc/foo/pkg-descr|me@example.org|misc devel|"
    "libx-1.0 liby-2.0|libz-3.1|https://example.org/foo/";
constexpr std::string_view default_comment = "Miscellaneous utilities & <more>";
constexpr std::string_view default_description =
    "Foo makes <bar> & baz.\n\nWWW: https://example.org/foo/\n";
constexpr std::size_t description_max = 64 * 1024;
// Repeated fields stop growing at this length of their INDEX line: a few
// placeholders then outgrow the port README's buffer, a few dozen link lines
// the category README's, and every input stays cheap.
constexpr std::size_t line_budget = 64 * 1024;

std::string
readme(const std::string &dir)
{
	return dir + "/README.html";
}

void
remove_readmes()
{
	for (const std::string *dir : {&top, &category_dir, &port_dir})
		(void)unlink(readme(*dir).c_str());
}

// The README at dir: the expected text when it fits its buffer, otherwise
// no file at all.
void
check_readme(const std::string &dir, const expansion &want,
    std::size_t buffer_size, const char *what)
{
	std::string got;
	bool exists = get_file(readme(dir), &got);
	if (want.length > buffer_size) {
		check(!exists, what);
		return;
	}
	check(exists && got == want.text, what);
}

std::string
clean_text(std::string_view text)
{
	std::string out(text);
	for (char &c : out) {
		if (c == '\n' || c == '\0')
			c = ' ';
	}
	return out;
}

std::string
repeat(const std::string &text, unsigned times)
{
	std::string out;
	out.reserve(text.size() * times);
	for (unsigned i = 0; i < times; i++)
		out += text;
	return out;
}

// The port's INDEX fields from the input, made into a line that the INDEX
// accepts and that names the tree's one port in its one category.
std::vector<std::string>
port_fields(std::string_view text, unsigned amplify)
{
	std::vector<std::string> fields;
	for (;;) {
		std::size_t bar = text.find('|');
		fields.push_back(clean_text(text.substr(0, bar)));
		if (bar == std::string_view::npos ||
		    fields.size() == index_field_count)
			break;
		text.remove_prefix(bar + 1);
	}
	fields.resize(std::max<std::size_t>(fields.size(), 10));
	fields[1] = "/usr/ports/misc/foo";
	// Paths that climb, or name a README that the run itself rewrites,
	// would make the description a moving target.
	if (fields[4].find("..") != std::string::npos ||
	    fields[4].find("README") != std::string::npos)
		fields[4] = "/usr/ports/misc/foo/pkg-descr";
	fields[6] = fields[6].empty() ? "misc" : "misc " + fields[6];
	for (int k : {1, 4, 5, 6}) {
		if (fields[k - 1].empty())
			fields[k - 1] = "x";
	}
	std::size_t total = 0;
	for (const std::string &f : fields)
		total += f.size() + 1;
	std::size_t grown =
	    fields[3].size() + fields[7].size() + fields[8].size();
	while (amplify > 1 && total + grown * (amplify - 1) > line_budget)
		amplify /= 2;
	for (int k : {4, 8, 9})
		fields[k - 1] = repeat(fields[k - 1], amplify);
	return fields;
}

// What each placeholder gives in each kind of README, worked out once per
// input; an empty text where a kind gives nothing.
using pieces = std::array<std::string, placeholders.size()>;

struct model {
	std::vector<std::string> fields; // from 1, at index 0
	std::vector<std::string> bar;	 // the second line's fields
	std::string comment;		 // what the Makefile yields
	pieces port, category, top;
};

std::vector<std::string_view>
words(std::string_view field)
{
	std::vector<std::string_view> out;
	while (!field.empty()) {
		std::size_t n = std::min(field.find(' '), field.size());
		if (n > 0)
			out.push_back(field.substr(0, n));
		field.remove_prefix(std::min(n + 1, field.size()));
	}
	return out;
}

// The description as the port README shows it: the file that field 5 names
// below the top, when it is a regular file of at most description_max
// bytes, up to its first NUL and escaped.
std::string
description(const std::string &field5)
{
	std::string rest = field5.compare(0, path_index_ports.size(),
				path_index_ports) == 0
	    ? field5.substr(path_index_ports.size())
	    : field5;
	if (rest.empty() || rest[0] != '/' ||
	    top.size() + rest.size() >= path_size)
		return "";
	struct stat st;
	std::string text;
	if (stat((top + rest).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
	    st.st_size > static_cast<off_t>(description_max) ||
	    !get_file(top + rest, &text))
		return "";
	return escape(text.substr(0, text.find('\0')));
}

model
make_model(std::vector<std::string> fields, std::vector<std::string> bar,
    const std::string &comment)
{
	model m;
	m.fields = std::move(fields);
	m.bar = std::move(bar);
	m.comment = comment;
	auto field = [&](int k) -> const std::string & {
		return m.fields[k - 1];
	};

	m.port[ph_pkg] = field(1);
	m.port[ph_port] = "misc/foo";
	m.port[ph_comment] = escape(field(4));
	m.port[ph_descr] = top +
	    (field(5).compare(0, path_index_ports.size(), path_index_ports) == 0
		    ? field(5).substr(path_index_ports.size())
		    : field(5));
	m.port[ph_email] = field(6);
	if (!field(8).empty())
		m.port[ph_build_depends] =
		    "This port requires the following ports to build:<br><br>" +
		    field(8);
	if (!field(9).empty())
		m.port[ph_run_depends] =
		    "This port requires the following ports to run:<br><br>" +
		    field(9);
	if (!field(10).empty())
		m.port[ph_website] =
		    " or <a href=\"" + field(10) + "\">visit the website</a>";
	m.port[ph_top] = top;

	// Dependencies: each name resolves to the first line that bears it.
	std::vector<const std::vector<std::string> *> lines = {&m.fields, &m.bar};
	auto line_of = [&](std::string_view name) -> int {
		for (std::size_t i = 0; i < lines.size(); i++) {
			if ((*lines[i])[0] == name)
				return static_cast<int>(i);
		}
		return -1;
	};
	auto link = [&](int line, std::string_view text) {
		const std::string &dir = (*lines[static_cast<std::size_t>(line)])[1];
		return "<a href=\"../.." + dir.substr(path_index_ports.size()) +
		    "/README.html\">" + escape(text) + "</a>";
	};
	auto links = [&](const std::string &deps, const char *sentence) {
		if (deps.empty())
			return std::string();
		std::string out = sentence;
		for (std::size_t i = 0; i < deps.size();) {
			std::size_t n = deps[i] == ' '
			    ? deps.find_first_not_of(' ', i)
			    : deps.find(' ', i);
			n = std::min(n, deps.size()) - i;
			std::string_view piece(deps.data() + i, n);
			int line = piece[0] == ' ' ? -1 : line_of(piece);
			out += line >= 0 ? link(line, piece) : escape(piece);
			i += n;
		}
		return out;
	};
	m.port[ph_descr_text] = description(field(5));
	m.port[ph_build_depends_links] = links(field(8),
	    "This port requires the following ports to build:<br><br>");
	m.port[ph_run_depends_links] = links(
	    field(9), "This port requires the following ports to run:<br><br>");
	int self = line_of(field(1));
	std::string required;
	for (std::size_t i = 0; i < lines.size(); i++) {
		bool names = false;
		for (int k : {8, 9}) {
			for (std::string_view w : words((*lines[i])[k - 1]))
				names = names || line_of(w) == self;
		}
		if (names)
			required += (required.empty() ? "" : " ") +
			    link(static_cast<int>(i), (*lines[i])[0]);
	}
	if (!required.empty())
		m.port[ph_required_by] =
		    "This port is required by the following ports:<br><br>" +
		    required;

	m.category[ph_comment] = m.comment + " (1 ports)";
	m.category[ph_category] = "misc";
	m.category[ph_subdir] = "<a href=\"foo/README.html\">" + field(1) +
	    "</a>: " + escape(field(4)) + "\n";

	m.top[ph_subdir] =
	    "<a href=\"misc/README.html\">misc</a>: " + m.comment + "\n";
	return m;
}

expansion
fill(const std::string &tmpl, const pieces &p, std::size_t cap)
{
	return expand(
	    tmpl,
	    [&](int code) -> const std::string & {
		    return p[static_cast<std::size_t>(code)];
	    },
	    cap);
}

std::size_t
count_subdirs(const std::string &tmpl)
{
	std::size_t n = 0;
	(void)expand(
	    tmpl,
	    [&](int code) {
		    n += code == ph_subdir;
		    return std::string_view();
	    },
	    0);
	return n;
}

// A substitution of this file's for expand_template on its own.
struct direct_context {
	const std::vector<std::string> *texts;
	char *out, *end;
	std::size_t calls;
};

char *
direct_substitution(int code, char *pos, char *end, void *context)
{
	auto *c = static_cast<direct_context *>(context);
	check(code >= 0 && code < static_cast<int>(placeholders.size()),
	    "a placeholder code");
	check(end == c->end, "the substitution gets the buffer's end");
	check(pos == nullptr || (pos >= c->out && pos <= c->end),
	    "the substitution gets a position in the buffer");
	c->calls++;
	const std::string &text =
	    (*c->texts)[static_cast<std::size_t>(code) % c->texts->size()];
	return append(pos, end, text);
}

void
check_expand(const std::string &tmpl, const std::vector<std::string> &texts)
{
	// Buffers of up to a megabyte: enough to see every edge.
	constexpr std::size_t biggest = 1 << 20;
	expansion want = expand(
	    tmpl,
	    [&](int code) -> const std::string & {
		    return texts[static_cast<std::size_t>(code) % texts.size()];
	    },
	    biggest + 1);
	std::size_t sizes[] = {
	    0, 16, want.length - 1, want.length, want.length + 1};
	for (std::size_t size : sizes) {
		if (size > want.length + 1 || size > biggest)
			continue; // want.length - 1 of an empty text
		// Exactly size bytes, so that a write past the end is caught.
		std::unique_ptr<char[]> buf(new char[size]);
		direct_context c = {&texts, buf.get(), buf.get() + size, 0};
		char *end = expand_template(tmpl.c_str(), buf.get(),
		    buf.get() + size, direct_substitution, &c);
		check(c.calls == want.calls,
		    "every placeholder is substituted, "
		    "also once the text has outgrown the buffer");
		if (want.length > size) {
			check(end == nullptr, "a text too long for its buffer");
			continue;
		}
		check(end != nullptr &&
			std::string_view(buf.get(),
			    static_cast<std::size_t>(end - buf.get())) ==
			    want.text,
		    "the expanded text");
	}
}

void
check_escape(const std::string &text)
{
	std::string plain = text.substr(0, text.find('\0'));
	std::string want = escape(plain);
	std::size_t sizes[] = {0, 7, want.size() - 1, want.size()};
	for (std::size_t size : sizes) {
		if (size > want.size())
			continue;
		std::unique_ptr<char[]> buf(new char[size]);
		char *end =
		    html_escape(buf.get(), buf.get() + size, plain.c_str());
		if (want.size() > size) {
			check(end == nullptr,
			    "an escape too long for its buffer");
			continue;
		}
		check(end != nullptr &&
			std::string_view(buf.get(),
			    static_cast<std::size_t>(end - buf.get())) == want,
		    "the escaped text");
	}
}

char *
owned(const std::string &text)
{
	char *copy = static_cast<char *>(std::malloc(text.size() + 1));
	check(copy != nullptr, "malloc");
	std::memcpy(copy, text.c_str(), text.size() + 1);
	return copy;
}

} // namespace

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	top = scratch_dir() + "/root/ports";
	category_dir = top + "/misc";
	port_dir = category_dir + "/foo";
	for (const std::string &dir :
	    {scratch_dir() + "/root", top, category_dir, port_dir})
		check(mkdir(dir.c_str(), 0755) == 0, "mkdir");
	put_file(top + "/Makefile", "SUBDIR += misc\n");
	setenv("UNAME_r", "15.0-RELEASE", 1);
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string_view> chunks = split_chunks(data, size);
	auto chunk = [&](std::size_t i, std::string_view fallback) {
		return std::string(i < chunks.size() ? chunks[i] : fallback);
	};
	std::string port_tmpl = unmodelled_out(chunk(0, ""));
	std::string category_tmpl = unmodelled_out(chunk(1, port_tmpl));
	std::string top_tmpl = unmodelled_out(chunk(2, port_tmpl));
	std::string amplify = chunk(5, "");
	unsigned times = amplify.empty()
	    ? 1u
	    : 1u << (static_cast<unsigned char>(amplify[0]) % 12);

	// One Makefile line that the reader takes whole; what it yields ends
	// at a NUL. Longer lines are the category Makefile target's business.
	std::string comment = chunk(4, default_comment);
	std::replace(comment.begin(), comment.end(), '\n', ' ');
	comment.resize(std::min(
	    comment.size(), line_size - 1 - std::strlen("    COMMENT = ")));
	std::vector<std::string> fields =
	    port_fields(chunk(3, default_fields), times);
	std::vector<std::string> bar = {"bar-2.0", "/usr/ports/misc/bar",
	    "/usr/local", "Bar", "/usr/ports/misc/bar/pkg-descr", "b@x", "misc",
	    fields[0] + " missing-1.0", "bar-2.0", ""};

	std::string index;
	for (const auto *line : {&fields, &bar}) {
		for (const std::string &f : *line)
			index += f + "|";
		index.back() = '\n';
	}
	put_file(top + "/INDEX-15", index);
	put_file(port_dir + "/pkg-descr", chunk(6, default_description));
	put_file(category_dir + "/Makefile",
	    "# Fuzzed category\n    COMMENT = " + comment +
		"\n\n    SUBDIR += foo\n");
	// After the files: a description may name any of them.
	model m = make_model(std::move(fields), std::move(bar),
	    comment.substr(0, comment.find('\0')));

	clean_up();
	startup_state().quiet = 1;
	set_top(top);
	int unwritten = 0;
	check(read_category_list() == 0, "the tree's category list");
	check(load_index() == 0, "the tree's INDEX loads");
	check(group_index() == 0, "the tree's INDEX is grouped");
	supply_templates(
	    owned(top_tmpl), owned(category_tmpl), owned(port_tmpl));

	// A port request. A port template with an extension has more room.
	bool extended = false;
	(void)expand(
	    port_tmpl,
	    [&](int code) {
		    extended = extended || code >= ph_descr_text;
		    return std::string_view();
	    },
	    0);
	std::size_t port_readme_limit =
	    extended ? port_readme_extended_size : port_readme_size;
	remove_readmes();
	expansion port = fill(port_tmpl, m.port, port_readme_limit);
	int result = make_readme(port_dir.c_str(), kind_port, &unwritten);
	check(result == (port.length > port_readme_limit ? 1 : 0),
	    "port README result");
	check_readme(port_dir, port, port_readme_limit, "port README");

	// A category request, which makes the port's README at each %%SUBDIR%%,
	// unless that would write tens of megabytes.
	std::size_t category_subdirs = count_subdirs(category_tmpl);
	if (category_subdirs * std::min(port.length + 1, port_readme_limit) <=
	    32 * 1024 * 1024) {
		remove_readmes();
		expansion category =
		    fill(category_tmpl, m.category, category_readme_size);
		result = make_readme(category_dir.c_str(), kind_category, &unwritten);
		check(
		    result == (category.length > category_readme_size ? 1 : 0),
		    "category README result");
		check_readme(category_dir, category, category_readme_size,
		    "category README");
		if (category_subdirs > 0)
			check_readme(port_dir, port, port_readme_limit,
			    "port README made by its category");
		else
			check(access(readme(port_dir).c_str(), F_OK) != 0,
			    "no port README without %%SUBDIR%%");

		// The whole tree, unless the nested %%SUBDIR%%s make it slow.
		std::size_t top_subdirs = count_subdirs(top_tmpl);
		if (top_subdirs * (category_subdirs + 1) <= 256) {
			remove_readmes();
			expansion text = fill(top_tmpl, m.top, top_readme_size);
			result = make_readme(top.c_str(), kind_top, &unwritten);
			check(result == (text.length > top_readme_size ? 1 : 0),
			    "top README result");
			check_readme(top, text, top_readme_size, "top README");
			if (top_subdirs > 0)
				check_readme(category_dir, category,
				    category_readme_size,
				    "category README made by the top");
		}
	}

	check(make_readme(top.c_str(), 0, &unwritten) == -1, "kind 0 is refused");
	check(make_readme(top.c_str(), 3, &unwritten) == -1, "kind 3 is refused");

	check_expand(port_tmpl, m.fields);
	check_expand(category_tmpl, {"", "%%TOP%%", "&<>"});
	for (const std::string &f : m.fields)
		check_escape(f);
	check_escape(m.comment);

	remove_readmes();
	clean_up();
	return 0;
}
