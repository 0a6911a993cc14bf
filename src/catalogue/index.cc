// INDEX loading, validation and grouping.
//
// The INDEX is read whole with one allocation and cut in place: every
// newline becomes a NUL, and the category groups are pointers into that
// text, never copies. A line is split into its fields by one routine,
// which gives views into the line, so that every reader (validation,
// grouping, lookup, the package index, the pages) sees the same fields.
// Every line is validated before any README is made, so a bad INDEX ends
// the run before it touches the tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "state/state.h"
#include "text/bounded.h"

int
load_index()
{
	char release[256];
	if (platform_release(release, sizeof release) != 0)
		return -1;
	release[std::strspn(release, "0123456789")] = '\0';

	char path[path_size];
	if (!join_text(
		path, sizeof path, {state.top_dir, "/INDEX-", release})) {
		report_too_long({state.top_dir, "/INDEX-", release});
		return -1;
	}
	std::size_t size = 0;
	startup_state().index_text = load_file(path, &size, true);
	if (state.index_text == nullptr)
		return -1;
	startup_state().index_end = state.index_text + size;
	return 0;
}

bool
split_index_line(const char *line, index_record *record, index_field last)
{
	*record = index_record{};
	record->line = line;
	if (*line == '\0')
		return true;
	const std::size_t wanted = static_cast<std::size_t>(last) + 1;
	const char *pos = line;
	for (;;) {
		const char *bar = std::strchr(pos, '|');
		std::size_t n = bar != nullptr
		    ? static_cast<std::size_t>(bar - pos)
		    : std::strlen(pos);
		if (record->count == index_field_count)
			return false;
		record->fields[record->count++] = std::string_view(pos, n);
		if (bar == nullptr || bar[1] == '\0')
			return true;
		// A line split in full must show whether it has a field more
		// than the record holds.
		if (record->count == wanted && wanted < index_field_count)
			return true;
		pos = bar + 1;
	}
}

std::string_view
primary_category(const index_record &record)
{
	std::string_view categories = record[index_field::categories];
	return categories.substr(0, categories.find(' '));
}

bool
field_words::next(std::string_view *word)
{
	std::size_t skip = rest_.find_first_not_of(' ');
	if (skip == std::string_view::npos) {
		rest_ = {};
		return false;
	}
	rest_.remove_prefix(skip);
	*word = rest_.substr(0, rest_.find(' '));
	rest_.remove_prefix(word->size());
	return true;
}

static void
report_line(long number, const char *line)
{
	std::fprintf(stderr, "Error in index file line %ld: line = \"%s\"\n",
	    number, line);
}

// The fields that every port line must have, not empty.
static constexpr index_field required_fields[] = {index_field::package,
    index_field::origin, index_field::comment, index_field::descr,
    index_field::maintainer, index_field::categories};

// Checks one NUL-terminated line of length bytes. True when it is a valid
// port line, with its primary category in *category.
static bool
valid_line(const char *line, std::size_t length, std::string_view *category)
{
	index_record record;
	if (length == 0 || length > index_line_max ||
	    !split_index_line(line, &record))
		return false;
	for (index_field k : required_fields) {
		if (record[k].empty())
			return false;
	}
	*category = primary_category(record);
	return category->size() <= primary_category_max;
}

int
group_index()
{
	char *text = state.index_text;
	char *const end = state.index_end;

	// At most one group per line: count the lines for the array's bound,
	// then give back what the groups did not use.
	std::size_t lines = 1;
	for (char *nl = text;
	     (nl = static_cast<char *>(std::memchr(
		  nl, '\n', static_cast<std::size_t>(end - nl)))) != nullptr;
	     nl++)
		lines++;
	startup_state().category_groups =
	    static_cast<char **>(std::calloc(lines + 1, sizeof(char *)));
	if (state.category_groups == nullptr) {
		std::perror("calloc() failure");
		return -1;
	}
	startup_state().group_count = 0;
	startup_state().index_lines = 0;
	if (text == end)
		return 0;

	// A NUL byte inside a line would split it in two for every later walk
	// over the lines; one scan finds the first.
	const char *nul = static_cast<const char *>(
	    std::memchr(text, '\0', static_cast<std::size_t>(end - text)));
	std::string_view group_name;
	long number = 0;
	for (char *line = text; line < end;) {
		number++;
		char *nl = static_cast<char *>(std::memchr(
		    line, '\n', static_cast<std::size_t>(end - line)));
		char *line_end = nl != nullptr ? nl : end;
		*line_end = '\0';
		std::string_view name;
		if ((nul != nullptr && nul < line_end) ||
		    !valid_line(line, static_cast<std::size_t>(line_end - line),
			&name)) {
			report_line(number, line);
			return -1;
		}
		if (state.group_count == 0 || name != group_name) {
			run_state &loading = startup_state();
			loading.category_groups[loading.group_count++] = line;
			group_name = name;
		}
		line = line_end + 1;
	}
	startup_state().index_lines = static_cast<std::size_t>(number);
	char **shrunk = static_cast<char **>(std::realloc(
	    state.category_groups, (state.group_count + 1) * sizeof(char *)));
	if (shrunk != nullptr)
		startup_state().category_groups = shrunk;
	return 0;
}
