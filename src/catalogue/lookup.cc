// Port lookup.
//
// A category's group is found by its name, so a listed category without
// INDEX lines shifts no other category onto the wrong group. Category
// Makefiles list their ports in INDEX order, so each lookup starts where the
// previous one stopped and a category costs one forward pass; a port listed
// out of order is still found by a second pass over the group's head.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/pathnames.h"
#include "state/state.h"

static bool
listed_category(const char *name)
{
	for (const char *listed = state.category_list; *listed != '\0';
	     listed = list_next(listed)) {
		if (std::strcmp(listed, name) == 0)
			return true;
	}
	return false;
}

int
select_category(const char *name)
{
	if (listed_category(name)) {
		for (std::size_t g = 0; g < state.group_count; g++) {
			if (primary_category(state.category_groups[g]) != name)
				continue;
			state.scan_group = state.category_groups[g];
			state.scan_cursor = state.scan_group;
			state.scan_end = state.category_groups[g + 1];
			return 0;
		}
	}
	std::fprintf(stderr, "No such category: %s\n", name);
	return 1;
}

// The line after line: past its NUL.
static char *
next_line(char *line)
{
	return line + std::strlen(line) + 1;
}

// The first line from `from` up to `to` whose field 2 is key, or null.
static char *
scan(char *from, char *to, std::string_view key)
{
	for (char *line = from; line < to; line = next_line(line)) {
		const char *bar = std::strchr(line, '|');
		if (bar == nullptr)
			continue;
		const char *field = bar + 1;
		// strncmp stops at the line's NUL, so a short line is never
		// read past.
		if (std::strncmp(field, key.data(), key.size()) == 0 &&
		    (field[key.size()] == '|' || field[key.size()] == '\0'))
			return line;
	}
	return nullptr;
}

int
find_port(const char *path)
{
	char key[path_size];
	if (!join_text(key, sizeof key,
		{path_index_ports, skip_prefix(path, state.top_dir)}))
		return 0;
	// Field 2 ends at the next '|', so a directory name holding one
	// matches no line (not field 2 and the start of field 3).
	if (std::strchr(key, '|') != nullptr)
		return 0;

	char *window_end =
	    state.scan_end != nullptr ? state.scan_end : state.index_end;
	char *line = scan(state.scan_cursor, window_end, key);
	if (line == nullptr)
		line = scan(state.scan_group, state.scan_cursor, key);
	if (line == nullptr)
		return 0;
	(void)split_index_line(line);
	char *after = next_line(line);
	state.scan_cursor = after < window_end ? after : window_end;
	return 1;
}
