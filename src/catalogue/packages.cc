// The package index: every INDEX line by its package name, the lines that
// the words of each line's dependency fields name, for every line the lines
// whose build or run dependencies name its package, and the link to every
// line's page.
//
// It is built once, from the INDEX already cut into lines, in a few flat
// arrays of line numbers: the offset of each line, an open-addressing hash
// table from package name to line, the resolved dependency words of all
// lines, and the dependents of all lines in one array, grouped by the line
// they depend on. A first pass over the dependency words counts each line's
// dependents, the counts give every group its place, and a second pass,
// from the last line back to the first, fills each group from its end,
// which leaves every group in INDEX order. Port pages lie two directories
// below the top, and popular ports are linked from thousands of them, from
// lines all over the INDEX: the link of every line as such a page shows it,
// and its entry in a list, are made once, into one small text each.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "state/state.h"
#include "text/text.h"

namespace {

constexpr std::size_t linked_count = linked_fields.size();
// A line is split only as far as the last field the index reads.
constexpr index_field linked_last = index_field::run_depends;
static_assert(linked_fields.back() == linked_last);

struct package_index {
	bool built;	       // all arrays below are there
	bool failed;	       // building failed once: never again
	std::size_t count;     // INDEX lines
	std::uint32_t *lines;  // offset of each line in index_text
	std::uint32_t *slots;  // hash table: line + 1 (or 0), hash
	std::size_t slot_mask; // slots - 1, slots a power of two
	// The words of line n's linked field k: from depends_start[n *
	// linked_count + k] up to the next start.
	std::uint32_t *depends_start;
	std::uint32_t *depends_lines;	// each word: its line, or no_package
	std::uint32_t *dependent_start; // line n's dependents: [n], [n + 1]
	std::uint32_t *dependent_lines; // in INDEX order for each line
	// The texts made once for every line, of each kind: where each line's
	// begins in text, one more number the text's end. Null when the kind
	// is not asked for or there was no room for them.
	struct line_texts {
		std::uint32_t *offsets;
		char *text;
	};
	std::array<line_texts, line_text_kinds> texts;
	// Each line's place in the order of package names, or null.
	std::uint32_t *rank;
};

package_index packages;

const char *
line_at(std::size_t n)
{
	return state.index_text + packages.lines[n];
}

// The slot of name: the one that holds its first line, or the free one
// where it goes.
std::size_t
name_slot(std::string_view name, std::uint32_t hash)
{
	for (std::size_t slot = hash & packages.slot_mask;;
	     slot = (slot + 1) & packages.slot_mask) {
		std::uint32_t entry = packages.slots[2 * slot];
		if (entry == 0)
			return slot;
		// The hash beside the line spares a visit to a line of another
		// name, most likely far away in the INDEX and out of the cache.
		if (packages.slots[2 * slot + 1] != hash)
			continue;
		const char *line = line_at(entry - 1);
		// The line's package name ends at its first '|'.
		if (std::strncmp(line, name.data(), name.size()) == 0 &&
		    line[name.size()] == '|')
			return slot;
	}
}

// Calls visit(n) once for each line n whose package a dependency of line
// names: a package named in both fields, or twice, counts once. seen holds
// the last line that visited each line, plus one.
template <typename Visit>
void
each_dependency(std::uint32_t line, std::uint32_t *seen, Visit visit)
{
	for (std::uint32_t k = packages.depends_start[line * linked_count];
	     k < packages.depends_start[(line + 1) * linked_count]; k++) {
		std::uint32_t found = packages.depends_lines[k];
		if (found == no_package || seen[found] == line + 1)
			continue;
		seen[found] = line + 1;
		visit(found);
	}
}

// Every line's text of one kind, made by make_link: false, with none kept,
// when they do not fit 32-bit offsets or memory.
bool
make_line_texts(link_maker make_link, package_index::line_texts *made_texts)
{
	std::size_t lines = packages.count;
	auto *at = static_cast<std::uint32_t *>(
	    std::malloc((lines + 1) * sizeof(std::uint32_t)));
	if (at == nullptr)
		return false;
	std::size_t total = 0;
	for (std::size_t i = 0; i < lines; i++) {
		at[i] = static_cast<std::uint32_t>(total);
		// Made once to learn its size; a link too long for the
		// scratch leaves every link to be made from its line.
		static char scratch[64 * 1024];
		char *made = make_link(scratch, scratch + sizeof scratch, i);
		total += made != nullptr ? made - scratch : UINT32_MAX;
		if (total >= UINT32_MAX) {
			std::free(at);
			return false;
		}
	}
	at[lines] = static_cast<std::uint32_t>(total);
	char *text = static_cast<char *>(std::malloc(total + 1));
	if (text == nullptr) {
		std::free(at);
		return false;
	}
	for (std::size_t i = 0; i < lines; i++)
		(void)make_link(text + at[i], text + at[i + 1], i);
	made_texts->text = text;
	made_texts->offsets = at;
	return true;
}

// count zeroed numbers, or null after saying how much could not be had.
std::uint32_t *
allocate(std::size_t count)
{
	return static_cast<std::uint32_t *>(
	    allocate_reported(count * sizeof(std::uint32_t), "package index"));
}

// After allocate's report; later builds fail without a message.
int
fail(std::uint32_t *seen)
{
	std::free(seen);
	release_packages();
	packages.failed = true;
	return -1;
}

// The place of every line in the order of package names: one sort of the
// whole INDEX, so that a list is put in order by comparing numbers. False
// when memory runs out; lists then compare names.
bool
make_ranks()
{
	struct named {
		const char *name;
		std::uint32_t size;
		std::uint32_t line;
	};
	std::size_t lines = packages.count;
	auto *order = static_cast<named *>(std::malloc(lines * sizeof(named)));
	auto *rank = static_cast<std::uint32_t *>(
	    std::malloc(lines * sizeof(std::uint32_t)));
	if (order == nullptr || rank == nullptr) {
		std::free(order);
		std::free(rank);
		return false;
	}
	for (std::size_t n = 0; n < lines; n++) {
		std::string_view name = package_name(n);
		order[n] = {name.data(), static_cast<std::uint32_t>(name.size()),
		    static_cast<std::uint32_t>(n)};
	}
	std::sort(order, order + lines, [](const named &a, const named &b) {
		int names = compare_package_names(
		    {a.name, a.size}, {b.name, b.size});
		return names != 0 ? names < 0 : a.line < b.line;
	});
	for (std::size_t place = 0; place < lines; place++)
		rank[order[place].line] = static_cast<std::uint32_t>(place);
	std::free(order);
	packages.rank = rank;
	return true;
}

} // namespace

long
find_package(std::string_view name)
{
	if (!packages.built)
		return -1;
	std::uint32_t entry =
	    packages.slots[2 * name_slot(name, name_hash(name))];
	return entry == 0 ? -1 : static_cast<long>(entry - 1);
}

index_record
package_record(std::size_t n, index_field last)
{
	index_record record;
	(void)split_index_line(line_at(n), &record, last);
	return record;
}

int
compare_package_names(std::string_view a, std::string_view b)
{
	std::size_t n = std::min(a.size(), b.size());
	for (std::size_t i = 0; i < n; i++) {
		unsigned char x = static_cast<unsigned char>(a[i]);
		unsigned char y = static_cast<unsigned char>(b[i]);
		if (x == y)
			continue;
		if (x >= 'A' && x <= 'Z')
			x = static_cast<unsigned char>(x - 'A' + 'a');
		if (y >= 'A' && y <= 'Z')
			y = static_cast<unsigned char>(y - 'A' + 'a');
		if (x != y)
			return x < y ? -1 : 1;
	}
	if (a.size() != b.size())
		return a.size() < b.size() ? -1 : 1;
	int bytes = a.compare(b);
	return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}

std::uint32_t
package_rank(std::size_t n)
{
	return packages.rank != nullptr ? packages.rank[n] : UINT32_MAX;
}

int
build_packages(
    std::span<const link_maker, line_text_kinds> makers, bool name_order)
{
	if (packages.built || packages.failed)
		return packages.built ? 0 : -1;

	std::size_t lines = state.index_lines;
	// At most half the slots are taken, so a search soon meets a free one.
	std::size_t slots = 2;
	while (slots < 2 * lines)
		slots *= 2;

	std::uint32_t *seen = nullptr;
	if ((packages.lines = allocate(lines + 1)) == nullptr ||
	    (packages.slots = allocate(2 * slots)) == nullptr ||
	    (packages.dependent_start = allocate(lines + 1)) == nullptr ||
	    (packages.depends_start = allocate(lines * linked_count + 1)) ==
		nullptr ||
	    (seen = allocate(lines + 1)) == nullptr)
		return fail(seen);
	packages.count = lines;
	packages.slot_mask = slots - 1;

	// Index texts are shorter than 4 GiB (load_file), so offsets fit. The
	// first of several lines with one package name keeps it. The words of
	// the linked fields are counted on the way.
	std::size_t n = 0;
	std::size_t words = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1, n++) {
		packages.lines[n] =
		    static_cast<std::uint32_t>(line - state.index_text);
		index_record record;
		(void)split_index_line(line, &record, linked_last);
		std::string_view name = record[index_field::package];
		std::uint32_t hash = name_hash(name);
		std::size_t slot = name_slot(name, hash);
		if (packages.slots[2 * slot] == 0) {
			packages.slots[2 * slot] =
			    static_cast<std::uint32_t>(n + 1);
			packages.slots[2 * slot + 1] = hash;
		}
		for (std::size_t k = 0; k < linked_count; k++) {
			packages.depends_start[n * linked_count + k] =
			    static_cast<std::uint32_t>(words);
			field_words each(record[linked_fields[k]]);
			for (std::string_view word; each.next(&word);)
				words++;
		}
	}
	packages.depends_start[lines * linked_count] =
	    static_cast<std::uint32_t>(words);
	packages.built = true;

	// Every word of the linked fields is looked up once, here; the pages
	// and the dependents take the lines from depends_lines.
	packages.depends_lines = allocate(words + 1);
	if (packages.depends_lines == nullptr)
		return fail(seen);
	std::uint32_t *word_line = packages.depends_lines;
	for (std::size_t line = 0; line < lines; line++) {
		index_record record =
		    package_record(line, linked_last);
		for (index_field linked : linked_fields) {
			field_words each(record[linked]);
			for (std::string_view word; each.next(&word);) {
				long found = find_package(word);
				*word_line++ = found < 0
				    ? no_package
				    : static_cast<std::uint32_t>(found);
			}
		}
	}

	// Counted, each count then becomes the end of its group.
	std::uint32_t *start = packages.dependent_start;
	for (std::uint32_t line = 0; line < lines; line++)
		each_dependency(
		    line, seen, [&](std::uint32_t d) { start[d]++; });
	std::size_t total = 0;
	for (std::size_t d = 0; d < lines; d++) {
		total += start[d];
		start[d] = static_cast<std::uint32_t>(total);
	}
	start[lines] = static_cast<std::uint32_t>(total);
	packages.dependent_lines = allocate(total + 1);
	if (packages.dependent_lines == nullptr)
		return fail(seen);
	std::memset(seen, 0, (lines + 1) * sizeof(std::uint32_t));
	for (std::uint32_t line = static_cast<std::uint32_t>(lines);
	     line-- > 0;)
		each_dependency(line, seen, [&](std::uint32_t d) {
			packages.dependent_lines[--start[d]] = line;
		});
	std::free(seen);

	// Without the room for them, each is made from its line, and lists
	// compare names.
	for (std::size_t k = 0; k < line_text_kinds; k++) {
		if (makers[k] != nullptr)
			(void)make_line_texts(makers[k], &packages.texts[k]);
	}
	if (name_order)
		(void)make_ranks();
	return 0;
}

bool
package_index_failed()
{
	return packages.failed;
}

void
release_packages()
{
	std::uint32_t *owned[] = {packages.lines, packages.slots,
	    packages.depends_start, packages.depends_lines,
	    packages.dependent_start, packages.dependent_lines};
	for (std::uint32_t *array : owned)
		std::free(array);
	for (const package_index::line_texts &made : packages.texts) {
		std::free(made.offsets);
		std::free(made.text);
	}
	std::free(packages.rank);
	packages = {};
}

long
package_number(const char *line)
{
	if (!packages.built || line < state.index_text ||
	    line >= state.index_end)
		return -1;
	auto offset = static_cast<std::uint32_t>(line - state.index_text);
	const std::uint32_t *first = packages.lines;
	const std::uint32_t *last = first + packages.count;
	const std::uint32_t *at = std::lower_bound(first, last, offset);
	return at != last && *at == offset ? at - first : -1;
}

std::span<const std::uint32_t>
package_depends(std::size_t n, index_field linked)
{
	if (!packages.built)
		return {};
	std::size_t k = 0;
	while (k < linked_count && linked_fields[k] != linked)
		k++;
	if (k == linked_count)
		return {};
	const std::uint32_t *starts =
	    packages.depends_start + n * linked_count + k;
	return {packages.depends_lines + starts[0],
	    packages.depends_lines + starts[1]};
}

std::span<const std::uint32_t>
package_dependents(std::size_t n)
{
	if (!packages.built)
		return {};
	return {packages.dependent_lines + packages.dependent_start[n],
	    packages.dependent_lines + packages.dependent_start[n + 1]};
}

std::string_view
package_text(std::size_t n, std::size_t kind)
{
	const package_index::line_texts &made = packages.texts[kind];
	if (made.offsets == nullptr)
		return {};
	const std::uint32_t *at = made.offsets;
	return {made.text + at[n], at[n + 1] - at[n]};
}

std::string_view
package_name(std::size_t n)
{
	index_record record;
	(void)split_index_line(line_at(n), &record, index_field::package);
	return record[index_field::package];
}
