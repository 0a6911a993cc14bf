// A port's b.flavors and b.options from the assignments its Makefile makes at
// the top level.
//
// The Makefile reader hands over each assignment to a variable of interest
// as it meets it; the lists are worked out when a page first asks for them,
// as make would at the end of the file for what it says unconditionally: "=" sets,
// "?=" sets what is not set, "+=" adds words, ".undef" unsets, and "!="
// sets a value that only make knows, which adds no words. The assignments
// are sorted by name, so that each variable is found by a binary search,
// however many a hostile file makes. Everything is kept in storage of this
// module that a port reuses from the one before it.
#include "treedata/port_choices.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <new>
#include <string>
#include <vector>

namespace {

struct noted {
	std::string_view name;
	std::string_view value;
	choice_op op;
	std::uint32_t order; // in the file
};

} // namespace

// What one reader of Makefiles has noted of the Makefile it read last, and
// the lists worked out of it: one for each thread that reads them.
struct choice_book {
	std::vector<noted> notes;
	std::vector<port_flavor> flavors;
	std::vector<port_option> options;
	std::vector<std::string_view> defaults; // sorted
	std::vector<std::uint32_t> positions;
	std::deque<std::string> joined; // the values of several assignments
	std::string key;
	std::uint64_t current_reading = 0;
	bool worked_out = false; // the lists of current_reading are made
};

namespace {

bool
is_blank(char c)
{
	return c == ' ' || c == '\t';
}

// The assignments that make a variable's value at the end of the file:
// from first on, the first itself when it gives words and every later
// "+=". Empty (first == last) when it is not set.
struct value_parts {
	const noted *first;
	const noted *last;
	bool set;
};

value_parts
find_value(choice_book &b, std::string_view name)
{
	struct by_name {
		bool operator()(const noted &a, std::string_view b) const
		{
			return a.name < b;
		}
		bool operator()(std::string_view a, const noted &b) const
		{
			return a < b.name;
		}
	};
	auto [lo, hi] =
	    std::equal_range(b.notes.begin(), b.notes.end(), name, by_name{});
	const noted *end = b.notes.data() + (hi - b.notes.begin());
	value_parts parts{end, end, false};
	for (const noted *n = b.notes.data() + (lo - b.notes.begin()); n != end;
	     n++) {
		switch (n->op) {
		case choice_op::set:
		case choice_op::shell:
			parts.first = n;
			parts.set = true;
			break;
		case choice_op::set_if_unset:
		case choice_op::append:
			if (!parts.set) {
				parts.first = n;
				parts.set = true;
			}
			break;
		case choice_op::undefine:
			parts.first = end;
			parts.set = false;
			break;
		}
	}
	parts.last = end;
	return parts;
}

// Whether assignment n gives words to the value that parts make.
bool
gives_words(const value_parts &parts, const noted *n)
{
	if (n == parts.first)
		return n->op != choice_op::shell && n->op != choice_op::undefine;
	return n->op == choice_op::append;
}

// The value as make would join it: its assignments' texts with a blank
// between; one assignment's text as it stands.
std::string_view
text_of(choice_book &b, const value_parts &parts)
{
	const noted *only = nullptr;
	std::size_t count = 0;
	for (const noted *n = parts.first; n != parts.last; n++) {
		if (gives_words(parts, n) && !n->value.empty()) {
			only = n;
			count++;
		}
	}
	if (count == 0)
		return {};
	if (count == 1)
		return only->value;
	std::string &text = b.joined.emplace_back();
	for (const noted *n = parts.first; n != parts.last; n++) {
		if (gives_words(parts, n) && !n->value.empty()) {
			if (!text.empty())
				text += ' ';
			text += n->value;
		}
	}
	return text;
}

// The words of text, parted at blanks outside "${...}" and "$(...)", which
// stay whole as written.
template <typename Each>
void
each_word(std::string_view text, Each each)
{
	std::size_t i = 0;
	while (i < text.size()) {
		while (i < text.size() && is_blank(text[i]))
			i++;
		std::size_t start = i;
		int depth = 0;
		while (i < text.size() && (depth > 0 || !is_blank(text[i]))) {
			char c = text[i];
			if (c == '$' && i + 1 < text.size() &&
			    (text[i + 1] == '{' || text[i + 1] == '(')) {
				depth++;
				i++;
			} else if (depth > 0 && (c == '}' || c == ')')) {
				depth--;
			}
			i++;
		}
		if (i > start)
			each(text.substr(start, i - start));
	}
}

template <typename Each>
void
each_word_of(choice_book &b, std::string_view name, Each each)
{
	value_parts parts = find_value(b, name);
	for (const noted *n = parts.first; n != parts.last; n++) {
		if (gives_words(parts, n))
			each_word(n->value, each);
	}
}

// The text of the variable named a then b, as "<OPT>_DESC".
std::string_view
text_of_joined(choice_book &b, std::string_view a, std::string_view tail)
{
	b.key.assign(a);
	b.key += tail;
	return text_of(b, find_value(b, b.key));
}

struct group_list {
	std::string_view list; // the list of the groups of a kind
	option_kind kind;
};
constexpr std::array<group_list, 4> group_lists = {{
    {"OPTIONS_SINGLE", option_kind::single},
    {"OPTIONS_RADIO", option_kind::radio},
    {"OPTIONS_MULTI", option_kind::multi},
    {"OPTIONS_GROUP", option_kind::group},
}};

void
gather_options(choice_book &b)
{
	each_word_of(b, "OPTIONS_DEFINE", [&b](std::string_view word) {
		b.options.push_back({word, {}, option_kind::plain, {}, {}, false});
	});
	for (const group_list &g : group_lists) {
		each_word_of(b, g.list, [&b, &g](std::string_view group) {
			std::string_view group_text =
			    text_of_joined(b, group, "_DESC");
			b.key.assign(g.list);
			b.key += '_';
			b.key += group;
			each_word_of(b, b.key, [&](std::string_view word) {
				b.options.push_back(
				    {word, {}, g.kind, group, group_text, false});
			});
		});
	}
	if (b.options.empty())
		return;

	// An option listed twice stays where it was listed first.
	b.positions.resize(b.options.size());
	for (std::uint32_t i = 0; i < b.positions.size(); i++)
		b.positions[i] = i;
	std::sort(b.positions.begin(), b.positions.end(),
	    [&book = b](std::uint32_t x, std::uint32_t y) {
		    return book.options[x].name != book.options[y].name
			? book.options[x].name < book.options[y].name
			: x < y;
	    });
	for (std::size_t i = 1; i < b.positions.size(); i++) {
		if (b.options[b.positions[i]].name == b.options[b.positions[i - 1]].name)
			b.options[b.positions[i]].name = {};
	}
	std::erase_if(
	    b.options, [](const port_option &o) { return o.name.empty(); });

	each_word_of(b, "OPTIONS_DEFAULT",
	    [&b](std::string_view word) { b.defaults.push_back(word); });
	std::sort(b.defaults.begin(), b.defaults.end());
	for (port_option &o : b.options) {
		o.description = text_of_joined(b, o.name, "_DESC");
		o.on = std::binary_search(b.defaults.begin(), b.defaults.end(), o.name);
	}
}

void
gather_flavors(choice_book &b)
{
	each_word_of(b, "FLAVORS", [&b](std::string_view word) {
		b.flavors.push_back({word, {}, {}, false});
	});
	for (port_flavor &f : b.flavors) {
		f.prefix = text_of_joined(b, f.name, "_PKGNAMEPREFIX");
		f.suffix = text_of_joined(b, f.name, "_PKGNAMESUFFIX");
		f.has_name = !f.prefix.empty() || !f.suffix.empty();
	}
}

} // namespace

bool
is_choice_variable(std::string_view name)
{
	if (name.find('$') != name.npos)
		return false;
	return name == "FLAVORS" || name.starts_with("OPTIONS_") ||
	    name.ends_with("_DESC") || name.ends_with("_PKGNAMEPREFIX") ||
	    name.ends_with("_PKGNAMESUFFIX");
}

std::uint64_t
begin_choices(choice_book &b)
{
	b.worked_out = false;
	b.notes.clear();
	b.flavors.clear();
	b.options.clear();
	b.defaults.clear();
	b.joined.clear();
	return ++b.current_reading;
}

void
note_choice(choice_book &b, std::string_view name, choice_op op, std::string_view value)
{
	b.notes.push_back(
	    {name, value, op, static_cast<std::uint32_t>(b.notes.size())});
}

port_choices
choices_of_reading(choice_book &b, std::uint64_t reading)
{
	if (reading == 0 || reading != b.current_reading)
		return {};
	if (!b.worked_out && !b.notes.empty()) {
		std::sort(b.notes.begin(), b.notes.end(),
		    [](const noted &x, const noted &y) {
			    return x.name != y.name ? x.name < y.name
						    : x.order < y.order;
		    });
		gather_flavors(b);
		gather_options(b);
	}
	b.worked_out = true;
	return {b.flavors, b.options};
}

choice_book *
new_choice_book()
{
	return new (std::nothrow) choice_book;
}

void
free_choice_book(choice_book *book)
{
	delete book;
}
