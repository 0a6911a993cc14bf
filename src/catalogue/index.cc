// INDEX loading, validation and grouping.
//
// The INDEX is read whole with one allocation and cut in place: every
// newline becomes a NUL, and the category groups are pointers into that
// text, never copies. Only the line being examined is copied, field by
// field, into field_text. Every line is validated before any README is
// made, so a bad INDEX ends the run before it touches the tree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "state/state.h"

// Fields 1, 2, 4, 5, 6 and 7 must be present and not empty.
static constexpr int required_fields[] = {1, 2, 4, 5, 6, 7};

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
	state.index_text = load_file(path, &size, true);
	if (state.index_text == nullptr)
		return -1;
	state.index_end = state.index_text + size;
	return 0;
}

static const char empty_field[] = "";

int
split_index_line(const char *line)
{
	for (const char *&field : state.index_fields)
		field = empty_field;
	if (*line == '\0')
		return 0;

	std::size_t length = std::strlen(line);
	if (length >= sizeof state.field_text)
		return -1;
	char *out = state.field_text;
	const char *pos = line;
	const char *const end = line + length;
	int count = 0;
	// A field begins at the line's start and after every '|' that is
	// not the line's last character.
	for (;;) {
		const char *bar = static_cast<const char *>(
		    std::memchr(pos, '|', static_cast<std::size_t>(end - pos)));
		const char *field_end = bar != nullptr ? bar : end;
		if (count == static_cast<int>(index_field_count))
			return -1;
		std::size_t n = static_cast<std::size_t>(field_end - pos);
		std::memcpy(out, pos, n);
		out[n] = '\0';
		state.index_fields[count++] = out;
		out += n + 1;
		if (bar == nullptr || bar + 1 == end)
			break;
		pos = bar + 1;
	}
	return count;
}

std::string_view
primary_category(const char *line)
{
	const char *pos = line;
	for (int bars = 0; bars < 6; bars++) {
		pos = std::strchr(pos, '|');
		if (pos == nullptr)
			return {};
		pos++;
	}
	return std::string_view(pos, std::strcspn(pos, " |"));
}

static void
report_line(long number, const char *line)
{
	std::fprintf(stderr, "Error in index file line %ld: line = \"%s\"\n",
	    number, line);
}

// Splits one line and checks its fields. True when it is a valid port line.
// Checks one line of length bytes in place, finding its fields as
// split_index_line does without copying them. True when it is a valid port
// line, with its primary category in *category.
static bool
valid_line(const char *line, std::size_t length, std::string_view *category)
{
	if (length == 0 || length >= sizeof state.field_text)
		return false;
	const char *start[index_field_count];
	std::size_t size[index_field_count];
	const char *pos = line;
	const char *const end = line + length;
	std::size_t count = 0;
	for (;;) {
		const char *bar = static_cast<const char *>(
		    std::memchr(pos, '|', static_cast<std::size_t>(end - pos)));
		const char *field_end = bar != nullptr ? bar : end;
		if (count == index_field_count)
			return false;
		start[count] = pos;
		size[count++] = static_cast<std::size_t>(field_end - pos);
		if (bar == nullptr || bar + 1 == end)
			break;
		pos = bar + 1;
	}
	for (int k : required_fields) {
		if (static_cast<std::size_t>(k) > count || size[k - 1] == 0)
			return false;
	}
	std::string_view categories(start[6], size[6]);
	*category = categories.substr(0, categories.find(' '));
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
	state.category_groups =
	    static_cast<char **>(std::calloc(lines + 1, sizeof(char *)));
	if (state.category_groups == nullptr) {
		std::perror("calloc() failure");
		return -1;
	}
	state.group_count = 0;
	if (text == end)
		return 0;

	// A NUL byte inside a line would split it in two for every later walk
	// over the lines; one scan finds the first.
	const char *nul = static_cast<const char *>(
	    std::memchr(text, '\0', static_cast<std::size_t>(end - text)));
	std::string_view group_name;
	char *last = text;
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
			state.category_groups[state.group_count++] = line;
			group_name = name;
		}
		last = line;
		line = line_end + 1;
	}
	// The fields of the last line stay split, as after any lookup.
	(void)split_index_line(last);

	char **shrunk = static_cast<char **>(std::realloc(
	    state.category_groups, (state.group_count + 1) * sizeof(char *)));
	if (shrunk != nullptr)
		state.category_groups = shrunk;
	return 0;
}
