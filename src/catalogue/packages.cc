// The package index: every INDEX line by its package name, and for every
// line the lines whose build or run dependencies name its package.
//
// It is built once, from the INDEX already cut into lines, in a few flat
// arrays of line numbers: the offset of each line, an open-addressing hash
// table from package name to line, and the dependents of all lines in one
// array, grouped by the line they depend on. A first pass over the
// dependency fields counts each line's dependents, the counts give every
// group its place, and a second pass, from the last line back to the first,
// fills each group from its end, which leaves every group in INDEX order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "state/state.h"

namespace {

// Names are read eight bytes at a time, each word mixed in by a multiply;
// the high half of the last product spreads every byte over the slot bits.
std::uint32_t
name_hash(std::string_view name)
{
	constexpr std::uint64_t k = 0x9e3779b97f4a7c15ULL;
	std::uint64_t h = name.size() * k;
	std::size_t i = 0;
	for (; i + 8 <= name.size(); i += 8) {
		std::uint64_t word;
		std::memcpy(&word, name.data() + i, 8);
		h = (h ^ word) * k;
	}
	std::uint64_t tail = 0;
	if (i < name.size())
		std::memcpy(&tail, name.data() + i, name.size() - i);
	h = (h ^ tail) * k;
	return static_cast<std::uint32_t>(h >> 32);
}

const char *
line_at(std::size_t n)
{
	return state.index_text + state.package_lines[n];
}

// Calls visit(word) for each word of a dependency field (8 or 9) of line,
// in order: the words are the runs of characters between blanks.
template <typename Visit>
void
each_word(std::uint32_t line, Visit visit)
{
	const char *text = line_at(line);
	for (int k : {8, 9}) {
		std::string_view deps = index_line_field(text, k);
		while (!deps.empty()) {
			std::size_t skip = deps.find_first_not_of(' ');
			if (skip == std::string_view::npos)
				break;
			deps.remove_prefix(skip);
			std::size_t n = deps.find(' ');
			visit(deps.substr(0, n));
			deps.remove_prefix(
			    n == std::string_view::npos ? deps.size() : n);
		}
	}
}

// Calls visit(n) once for each line n whose package a dependency of line
// names: a package named in both fields, or twice, counts once. seen holds
// the last line that visited each line, plus one.
template <typename Visit>
void
each_dependency(std::uint32_t line, std::uint32_t *seen, Visit visit)
{
	for (std::uint32_t k = state.depends_start[line];
	     k < state.depends_start[line + 1]; k++) {
		std::uint32_t found = state.depends_lines[k];
		if (found == no_package || seen[found] == line + 1)
			continue;
		seen[found] = line + 1;
		visit(found);
	}
}

void
free_arrays()
{
	std::uint32_t **owned[] = {&state.package_lines, &state.package_slots,
	    &state.depends_start, &state.depends_lines, &state.dependent_start,
	    &state.dependent_lines, &state.link_offsets};
	for (std::uint32_t **array : owned) {
		std::free(*array);
		*array = nullptr;
	}
	std::free(state.link_text);
	state.link_text = nullptr;
	state.link_text_failed = false;
	state.package_count = 0;
	state.package_slot_mask = 0;
}

// Reported once: the run goes on without links.
int
fail(std::uint32_t *seen)
{
	std::perror("calloc() failure");
	std::free(seen);
	free_arrays();
	state.packages_built = -1;
	return -1;
}

} // namespace

std::string_view
index_line_field(const char *line, int k)
{
	const char *pos = line;
	for (int bars = 1; bars < k; bars++) {
		pos = std::strchr(pos, '|');
		if (pos == nullptr)
			return {};
		pos++;
	}
	return std::string_view(pos, std::strcspn(pos, "|"));
}

long
find_package(std::string_view name)
{
	if (state.packages_built != 1)
		return -1;
	std::uint32_t hash = name_hash(name);
	std::size_t slot = hash & state.package_slot_mask;
	for (;; slot = (slot + 1) & state.package_slot_mask) {
		std::uint32_t entry = state.package_slots[2 * slot];
		if (entry == 0)
			return -1;
		// The hash beside the line spares a visit to a line of another
		// name, most likely far away in the INDEX and out of the cache.
		if (state.package_slots[2 * slot + 1] != hash)
			continue;
		const char *line = line_at(entry - 1);
		// The line's package name ends at its first '|'.
		if (std::strncmp(line, name.data(), name.size()) == 0 &&
		    line[name.size()] == '|')
			return static_cast<long>(entry - 1);
	}
}

const char *
package_line(std::size_t n)
{
	return line_at(n);
}

int
build_packages()
{
	if (state.packages_built != 0)
		return state.packages_built == 1 ? 0 : -1;

	std::size_t lines = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1)
		lines++;
	// At most half the slots are taken, so a search soon meets a free one.
	std::size_t slots = 2;
	while (slots < 2 * lines)
		slots *= 2;

	auto *offsets = static_cast<std::uint32_t *>(
	    std::calloc(lines + 1, sizeof(std::uint32_t)));
	state.package_lines = offsets;
	state.package_slots = static_cast<std::uint32_t *>(
	    std::calloc(2 * slots, sizeof(std::uint32_t)));
	state.dependent_start = static_cast<std::uint32_t *>(
	    std::calloc(lines + 1, sizeof(std::uint32_t)));
	auto *seen = static_cast<std::uint32_t *>(
	    std::calloc(lines + 1, sizeof(std::uint32_t)));
	if (offsets == nullptr || state.package_slots == nullptr ||
	    state.dependent_start == nullptr || seen == nullptr) {
		return fail(seen);
	}
	state.package_count = lines;
	state.package_slot_mask = slots - 1;

	// Index texts are shorter than 4 GiB (load_file), so offsets fit.
	std::size_t n = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1)
		offsets[n++] =
		    static_cast<std::uint32_t>(line - state.index_text);
	// The first of several lines with one package name keeps it.
	state.packages_built = 1;
	for (std::uint32_t line = 0; line < lines; line++) {
		std::string_view name = index_line_field(line_at(line), 1);
		if (find_package(name) >= 0)
			continue;
		std::uint32_t hash = name_hash(name);
		std::size_t slot = hash & state.package_slot_mask;
		while (state.package_slots[2 * slot] != 0)
			slot = (slot + 1) & state.package_slot_mask;
		state.package_slots[2 * slot] = line + 1;
		state.package_slots[2 * slot + 1] = hash;
	}

	// Every word of the dependency fields is looked up once, here; the
	// pages and the dependents take the lines from depends_lines.
	state.depends_start = static_cast<std::uint32_t *>(
	    std::calloc(lines + 1, sizeof(std::uint32_t)));
	if (state.depends_start == nullptr)
		return fail(seen);
	std::size_t words = 0;
	for (std::uint32_t line = 0; line < lines; line++) {
		state.depends_start[line] = static_cast<std::uint32_t>(words);
		each_word(line, [&](std::string_view) { words++; });
	}
	state.depends_start[lines] = static_cast<std::uint32_t>(words);
	state.depends_lines = static_cast<std::uint32_t *>(
	    std::calloc(words + 1, sizeof(std::uint32_t)));
	if (state.depends_lines == nullptr)
		return fail(seen);
	std::uint32_t *word = state.depends_lines;
	for (std::uint32_t line = 0; line < lines; line++)
		each_word(line, [&](std::string_view name) {
			long found = find_package(name);
			*word++ = found < 0 ? no_package
					    : static_cast<std::uint32_t>(found);
		});

	// Counted, each count then becomes the end of its group.
	std::uint32_t *start = state.dependent_start;
	for (std::uint32_t line = 0; line < lines; line++)
		each_dependency(
		    line, seen, [&](std::uint32_t d) { start[d]++; });
	std::size_t total = 0;
	for (std::size_t d = 0; d < lines; d++) {
		total += start[d];
		start[d] = static_cast<std::uint32_t>(total);
	}
	start[lines] = static_cast<std::uint32_t>(total);
	state.dependent_lines = static_cast<std::uint32_t *>(
	    std::calloc(total + 1, sizeof(std::uint32_t)));
	if (state.dependent_lines == nullptr) {
		return fail(seen);
	}
	std::memset(seen, 0, (lines + 1) * sizeof(std::uint32_t));
	for (std::uint32_t line = lines; line-- > 0;)
		each_dependency(line, seen, [&](std::uint32_t d) {
			state.dependent_lines[--start[d]] = line;
		});
	std::free(seen);
	return 0;
}

std::span<const std::uint32_t>
package_depends(std::size_t n)
{
	if (state.packages_built != 1)
		return {};
	return {state.depends_lines + state.depends_start[n],
	    state.depends_lines + state.depends_start[n + 1]};
}

long
package_number(const char *line)
{
	if (state.packages_built != 1 || line < state.index_text ||
	    line >= state.index_end)
		return -1;
	auto offset = static_cast<std::uint32_t>(line - state.index_text);
	const std::uint32_t *first = state.package_lines;
	const std::uint32_t *last = first + state.package_count;
	const std::uint32_t *at = std::lower_bound(first, last, offset);
	return at != last && *at == offset ? at - first : -1;
}

std::span<const std::uint32_t>
package_dependents(std::size_t n)
{
	if (state.packages_built != 1)
		return {};
	return {state.dependent_lines + state.dependent_start[n],
	    state.dependent_lines + state.dependent_start[n + 1]};
}

void
drop_packages()
{
	free_arrays();
	state.packages_built = 0;
	state.examined_port_template = nullptr;
	state.port_template_extended = false;
}
