// Fuzzes INDEX validation and grouping, the splitting of INDEX lines, and the
// lookup of categories and ports.
//
// Input: the whole INDEX text. Every line is first split on its own and its
// fields compared with a plain model. Then the text is loaded as load_index
// leaves it and grouped; the verdict and the groups are compared with the
// model. When it is accepted, every category named by a primary category of
// the text (plus names that have no group, and names taken from field 1) is
// selected, and ports are looked up in and against the INDEX's order, along
// with paths outside the tree and keys too long for the lookup's buffer.
// Each answer, the scan cursor and the record found are checked.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "support.h"

using namespace qmfuzz;

namespace {

// A top_dir that differs from the "/usr/ports" written in field 2, as on a
// user's own tree.
const std::string top = "/home/me/ports";

constexpr std::size_t longest_line = index_line_max;

struct line_model {
	std::size_t start;     // offset in the text
	std::string_view text; // up to its newline or the text's end
	std::vector<std::string_view> fields;
	bool valid;
	std::string_view primary;
	std::string_view port_dir; // field 2, empty when absent
};

std::vector<std::string_view>
model_fields(std::string_view line)
{
	std::vector<std::string_view> fields;
	if (line.empty())
		return fields;
	for (;;) {
		std::size_t bar = line.find('|');
		fields.push_back(line.substr(0, bar));
		if (bar == std::string_view::npos || bar + 1 == line.size())
			return fields;
		line.remove_prefix(bar + 1);
	}
}

std::string_view
model_primary(std::string_view line)
{
	for (int bars = 0; bars < 6; bars++) {
		std::size_t bar = line.find('|');
		if (bar == std::string_view::npos)
			return {};
		line.remove_prefix(bar + 1);
	}
	return line.substr(0, line.find_first_of(" |"));
}

line_model
model_line(std::string_view text, std::size_t start)
{
	line_model m;
	m.start = start;
	m.text = text;
	m.fields = model_fields(text);
	m.primary = model_primary(text);
	m.port_dir = m.fields.size() >= 2 ? m.fields[1] : std::string_view();
	m.valid = !text.empty() && text.find('\0') == std::string_view::npos &&
	    text.size() <= longest_line &&
	    m.fields.size() <= index_field_count &&
	    m.primary.size() <= primary_category_max;
	for (int k : {1, 2, 4, 5, 6, 7}) {
		if (m.fields.size() < static_cast<std::size_t>(k) ||
		    m.fields[k - 1].empty())
			m.valid = false;
	}
	return m;
}

// The lines of an INDEX text: a final newline ends the last line, it does
// not begin another.
std::vector<line_model>
model_lines(std::string_view text)
{
	std::vector<line_model> lines;
	std::size_t start = 0;
	while (start < text.size()) {
		std::size_t nl = text.find('\n', start);
		std::size_t end =
		    nl == std::string_view::npos ? text.size() : nl;
		lines.push_back(
		    model_line(text.substr(start, end - start), start));
		start = end + 1;
	}
	return lines;
}

bool
fields_are(
    const index_record &record, const std::vector<std::string_view> &fields)
{
	for (std::size_t k = 0; k < index_field_count; k++) {
		std::string_view want = k < fields.size() ? fields[k] : "";
		if (want != record.fields[k])
			return false;
	}
	return true;
}

// Splits one line on its own, as find_port and group_index do, in full and
// up to each field.
void
check_split(std::string_view line)
{
	std::string copy(line.substr(0, line.find('\0')));
	std::vector<std::string_view> fields = model_fields(copy);
	index_record record;
	bool split = split_index_line(copy.c_str(), &record);
	if (fields.size() > index_field_count) {
		check(!split, "split refuses a line too wide");
		return;
	}
	check(split, "split takes a line that is not too wide");
	check(record.count == fields.size(), "split counts the fields");
	check(fields_are(record, fields),
	    "split gives the fields, the rest empty");
	for (std::size_t last = 0; last + 1 < index_field_count; last++) {
		index_record part;
		(void)split_index_line(
		    copy.c_str(), &part, static_cast<index_field>(last));
		std::vector<std::string_view> wanted(fields.begin(),
		    fields.begin() +
			static_cast<std::ptrdiff_t>(
			    std::min(fields.size(), last + 1)));
		check(fields_are(part, wanted),
		    "a partial split gives the fields up to its last");
	}
}

struct lookup_model {
	const std::vector<line_model> *lines;
	std::size_t first, last; // the group's lines: [first, last)
	std::size_t cursor;	 // a line number in [first, last]
	category_scan scan;	 // what select_category gave
	index_record found;	 // what the last lookup found
};

// The key find_port builds for path, or empty when it does not fit.
std::string
model_key(const std::string &path)
{
	std::string rest = path.compare(0, top.size(), top) == 0
	    ? path.substr(top.size())
	    : path;
	std::string key = std::string(path_index_ports) + rest;
	return key.size() < path_size ? key : std::string();
}

void
check_find(lookup_model &m, char *text, const std::string &path)
{
	const std::vector<line_model> &lines = *m.lines;
	std::string key = model_key(path);
	std::size_t found = m.last;
	if (!key.empty()) {
		for (std::size_t i = m.cursor; i < m.last && found == m.last;
		     i++) {
			if (lines[i].port_dir == key)
				found = i;
		}
		for (std::size_t i = m.first; i < m.cursor && found == m.last;
		     i++) {
			if (lines[i].port_dir == key)
				found = i;
		}
	}
	index_record before = m.found;
	char *cursor_before = m.scan.cursor;

	bool result = find_port(&m.scan, path.c_str(), &m.found);

	if (found == m.last) {
		check(!result, "find_port misses a port not in the group");
		check(
		    m.scan.cursor == cursor_before, "a miss leaves the cursor");
		check(m.found.line == before.line &&
			m.found.fields == before.fields,
		    "a miss leaves the record");
		return;
	}
	check(result, "find_port finds a port in the group");
	m.cursor = found + 1;
	char *want = m.cursor < m.last ? text + lines[m.cursor].start
	    : m.scan.end != nullptr    ? m.scan.end
				       : state.index_end;
	check(m.scan.cursor == want, "the cursor stands behind the line found");
	check(m.found.line == text + lines[found].start &&
		fields_are(m.found, lines[found].fields),
	    "the line found is split");
}

std::vector<std::string>
listed_names(const std::vector<line_model> &lines)
{
	std::vector<std::string> names;
	std::size_t used = 1;
	for (const line_model &l : lines) {
		std::string name(l.primary);
		if (!l.valid || name.empty())
			continue;
		bool seen = false;
		for (const std::string &n : names)
			seen = seen || n == name;
		if (seen || names.size() == 32)
			continue;
		names.push_back(name);
		used += name.size() + 1;
	}
	// Listed, with no group; and the name of a line-less category.
	for (const char *extra : {"nonesuch", "zz-empty"}) {
		if (used + std::strlen(extra) + 1 <= category_list_size)
			names.push_back(extra);
		used += std::strlen(extra) + 1;
	}
	return names;
}

std::string
port_path(const line_model &l)
{
	std::string dir(l.port_dir);
	if (dir.compare(0, path_index_ports.size(), path_index_ports) == 0)
		return top + dir.substr(path_index_ports.size());
	return dir;
}

void
check_lookups(const std::vector<line_model> &lines,
    const std::vector<std::size_t> &groups,
    const std::vector<std::string> &names)
{
	char *text = state.index_text;
	std::size_t selects = 0;
	std::vector<std::string> tries(names);
	for (const line_model &l : lines) {
		if (tries.size() >= names.size() + 4)
			break;
		tries.emplace_back(
		    l.fields.empty() ? std::string_view() : l.fields[0]);
	}
	for (const std::string &name : tries) {
		if (++selects > 12)
			break;
		bool listed = false;
		for (const std::string &n : names)
			listed = listed || n == name;
		std::size_t g = 0;
		while (g < groups.size() && lines[groups[g]].primary != name)
			g++;
		category_scan scan;
		char marker = 0;
		scan.end = &marker;

		int result = select_category(name.c_str(), &scan);

		if (!listed || g == groups.size()) {
			check(result == 1,
			    "select_category refuses a name without a group");
			check(scan.end == &marker, "a refusal leaves the scan");
			continue;
		}
		check(result == 0, "select_category selects a listed group");
		lookup_model m = {&lines, groups[g],
		    g + 1 < groups.size() ? groups[g + 1] : lines.size(),
		    groups[g], scan, {}};
		check(scan.cursor == text + lines[m.first].start,
		    "the cursor starts at the group's first line");
		check(scan.end ==
			(m.last < lines.size() ? text + lines[m.last].start
					       : nullptr),
		    "scan_end is the next group's first line");

		// Forwards, then backwards, over at most 24 lines each way.
		std::size_t n = std::min<std::size_t>(lines.size(), 24);
		for (std::size_t i = 0; i < n; i++)
			check_find(m, text, port_path(lines[i]));
		for (std::size_t i = n; i-- > 0;)
			check_find(
			    m, text, port_path(lines[lines.size() - n + i]));
		// Paths that no INDEX line names, or that do not fit the key.
		check_find(m, text, top);
		check_find(m, text, top + "/" + name);
		check_find(m, text, "/usr/ports/" + name);
		check_find(m, text, top + "/" + std::string(1100, 'x'));
		check_find(m, text,
		    std::string(path_size - path_index_ports.size() - 1, '/'));
		check_find(m, text,
		    std::string(path_size - path_index_ports.size(), '/'));
	}
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string_view input(reinterpret_cast<const char *>(data), size);
	std::vector<line_model> lines = model_lines(input);

	clean_up();
	startup_state().quiet = 1;
	set_top(top);

	std::size_t splits = 0;
	for (const line_model &l : lines) {
		if (++splits > 64)
			break;
		check_split(l.text);
	}
	check_split("");
	check_split("|");
	check_split(input);

	std::vector<std::string> names = listed_names(lines);
	set_category_list(names);

	// As load_index leaves it: the file's bytes, then a NUL.
	startup_state().index_text = static_cast<char *>(std::malloc(size + 1));
	check(state.index_text != nullptr, "malloc");
	std::memcpy(state.index_text, data, size);
	state.index_text[size] = '\0';
	startup_state().index_end = state.index_text + size;

	int result = group_index();

	bool valid = true;
	std::vector<std::size_t> groups;
	for (std::size_t i = 0; i < lines.size() && valid; i++) {
		valid = lines[i].valid;
		if (valid &&
		    (i == 0 || lines[i].primary != lines[i - 1].primary))
			groups.push_back(i);
	}
	if (!valid) {
		check(result == -1, "a bad line is refused");
		clean_up();
		return 0;
	}
	check(result == 0, "a good INDEX is grouped");
	check(state.category_groups != nullptr, "the group array exists");
	check(state.group_count == groups.size(), "the number of groups");
	for (std::size_t g = 0; g < groups.size(); g++)
		check(state.category_groups[g] ==
			state.index_text + lines[groups[g]].start,
		    "group start");
	check(state.category_groups[groups.size()] == nullptr,
	    "the group array ends with null");
	for (const line_model &l : lines) {
		check(std::strlen(state.index_text + l.start) == l.text.size(),
		    "each line is cut at its newline");
	}

	check_lookups(lines, groups, names);
	clean_up();
	return 0;
}
