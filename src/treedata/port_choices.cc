// A port's flavors and options from the assignments its Makefile makes at
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
#include <string>
#include <vector>

namespace {

struct noted {
	std::string_view name;
	std::string_view value;
	choice_op op;
	std::uint32_t order; // in the file
};

std::vector<noted> notes;
std::vector<port_flavor> flavors;
std::vector<port_option> options;
std::vector<std::string_view> defaults; // sorted
std::vector<std::uint32_t> positions;
std::deque<std::string> joined; // the values of several assignments
std::string key;
std::uint64_t current_reading;
bool worked_out; // the lists of current_reading are made

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
find_value(std::string_view name)
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
	    std::equal_range(notes.begin(), notes.end(), name, by_name{});
	const noted *end = notes.data() + (hi - notes.begin());
	value_parts parts{end, end, false};
	for (const noted *n = notes.data() + (lo - notes.begin()); n != end;
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
text_of(const value_parts &parts)
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
	std::string &text = joined.emplace_back();
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
each_word_of(std::string_view name, Each each)
{
	value_parts parts = find_value(name);
	for (const noted *n = parts.first; n != parts.last; n++) {
		if (gives_words(parts, n))
			each_word(n->value, each);
	}
}

// The text of the variable named a then b, as "<OPT>_DESC".
std::string_view
text_of_joined(std::string_view a, std::string_view b)
{
	key.assign(a);
	key += b;
	return text_of(find_value(key));
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
gather_options()
{
	each_word_of("OPTIONS_DEFINE", [](std::string_view word) {
		options.push_back({word, {}, option_kind::plain, {}, {}, false});
	});
	for (const group_list &g : group_lists) {
		each_word_of(g.list, [&g](std::string_view group) {
			std::string_view group_text =
			    text_of_joined(group, "_DESC");
			key.assign(g.list);
			key += '_';
			key += group;
			each_word_of(key, [&](std::string_view word) {
				options.push_back(
				    {word, {}, g.kind, group, group_text, false});
			});
		});
	}
	if (options.empty())
		return;

	// An option listed twice stays where it was listed first.
	positions.resize(options.size());
	for (std::uint32_t i = 0; i < positions.size(); i++)
		positions[i] = i;
	std::sort(positions.begin(), positions.end(),
	    [](std::uint32_t a, std::uint32_t b) {
		    return options[a].name != options[b].name
			? options[a].name < options[b].name
			: a < b;
	    });
	for (std::size_t i = 1; i < positions.size(); i++) {
		if (options[positions[i]].name == options[positions[i - 1]].name)
			options[positions[i]].name = {};
	}
	std::erase_if(
	    options, [](const port_option &o) { return o.name.empty(); });

	each_word_of("OPTIONS_DEFAULT",
	    [](std::string_view word) { defaults.push_back(word); });
	std::sort(defaults.begin(), defaults.end());
	for (port_option &o : options) {
		o.description = text_of_joined(o.name, "_DESC");
		o.on = std::binary_search(defaults.begin(), defaults.end(), o.name);
	}
}

void
gather_flavors()
{
	each_word_of("FLAVORS", [](std::string_view word) {
		flavors.push_back({word, {}, {}, false});
	});
	for (port_flavor &f : flavors) {
		f.prefix = text_of_joined(f.name, "_PKGNAMEPREFIX");
		f.suffix = text_of_joined(f.name, "_PKGNAMESUFFIX");
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
begin_choices()
{
	worked_out = false;
	notes.clear();
	flavors.clear();
	options.clear();
	defaults.clear();
	joined.clear();
	return ++current_reading;
}

void
note_choice(std::string_view name, choice_op op, std::string_view value)
{
	notes.push_back(
	    {name, value, op, static_cast<std::uint32_t>(notes.size())});
}

port_choices
choices_of_reading(std::uint64_t reading)
{
	if (reading == 0 || reading != current_reading)
		return {};
	if (!worked_out && !notes.empty()) {
		std::sort(notes.begin(), notes.end(),
		    [](const noted &a, const noted &b) {
			    return a.name != b.name ? a.name < b.name
						    : a.order < b.order;
		    });
		gather_flavors();
		gather_options();
	}
	worked_out = true;
	return {flavors, options};
}
