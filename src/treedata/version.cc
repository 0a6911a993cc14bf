// Version order.
//
// A version is cut into blocks at '+', and each block into components, and
// the two versions are compared component by component with the shorter one
// padded with zeros: "10" is "10.0.0". A component is a number, then
// perhaps a letter and a second number ("10b2"). Numbers are compared as
// the digit strings they are written as, leading zeros dropped, so that no
// length of number can overflow. Every byte is either part of a component
// or a separator, which makes the order total: any two texts compare, and
// comparing works on the texts as they are, with nothing allocated.
#include "treedata/version.h"

#include <array>
#include <cstddef>

namespace {

bool
is_digit(char c)
{
	return c >= '0' && c <= '9';
}

bool
is_letter(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char
lower(char c)
{
	return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A separator is any byte that is neither a letter nor a digit nor '*';
// '+' does not reach here, as it cuts the blocks.
bool
is_separator(char c)
{
	return !is_digit(c) && !is_letter(c) && c != '*';
}

// What a component begins with, in their order: '*' is below every
// component, a component that begins with a letter has the number -1, and
// a number is above both.
enum class lead : int { star, letter, number };

// The letter of a component: none sorts before "pl", which sorts before
// every letter a to z.
constexpr int no_letter = 0;
constexpr int pl_letter = 1;

int
letter_rank(char c)
{
	return 2 + (lower(c) - 'a');
}

struct component {
	lead kind = lead::number;
	std::string_view number; // digits without leading zeros
	int letter = no_letter;
	std::string_view letter_number; // the same, after the letter
};

// Words that make a component of their own, ranked as their letter (pl
// before all letters).
struct stage {
	std::string_view word;
	int rank;
};
constexpr std::array<stage, 5> stages = {{
    {"pl", pl_letter},
    {"alpha", 2 + ('a' - 'a')},
    {"beta", 2 + ('b' - 'a')},
    {"pre", 2 + ('p' - 'a')},
    {"rc", 2 + ('r' - 'a')},
}};

// The stage word at the start of text, case ignored, and not followed by a
// further letter; null when there is none.
const stage *
stage_at(std::string_view text)
{
	for (const stage &s : stages) {
		if (text.size() < s.word.size())
			continue;
		bool same = true;
		for (std::size_t i = 0; i < s.word.size() && same; i++)
			same = lower(text[i]) == s.word[i];
		if (same &&
		    (text.size() == s.word.size() ||
			!is_letter(text[s.word.size()])))
			return &s;
	}
	return nullptr;
}

// Takes the digits at the start of *text off it; returns them without
// their leading zeros (empty for zero or for no digits at all).
std::string_view
take_number(std::string_view *text)
{
	std::size_t n = 0;
	while (n < text->size() && is_digit((*text)[n]))
		n++;
	std::string_view digits = text->substr(0, n);
	*text = text->substr(n);
	std::size_t zeros = 0;
	while (zeros < digits.size() && digits[zeros] == '0')
		zeros++;
	return digits.substr(zeros);
}

int
compare_numbers(std::string_view a, std::string_view b)
{
	if (a.size() != b.size())
		return a.size() < b.size() ? -1 : 1;
	int c = a.compare(b);
	return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void
skip_separators(std::string_view *text)
{
	std::size_t n = 0;
	while (n < text->size() && is_separator((*text)[n]))
		n++;
	*text = text->substr(n);
}

// Takes the next component off the front of *text, which does not begin
// with a separator; an empty text gives the zero component. Every call on
// a text that is not empty takes at least one byte.
component
take_component(std::string_view *text)
{
	component c;
	if (text->empty())
		return c;
	char first = (*text)[0];
	if (first == '*') {
		c.kind = lead::star;
		*text = text->substr(1);
		return c;
	}
	if (is_digit(first)) {
		c.number = take_number(text);
		// A stage word after the number begins the next component.
		if (text->empty() || !is_letter((*text)[0]) ||
		    stage_at(*text) != nullptr)
			return c;
	} else {
		c.kind = lead::letter;
	}
	if (const stage *s = stage_at(*text)) {
		c.letter = s->rank;
		*text = text->substr(s->word.size());
	} else {
		// Only the first letter of a word counts.
		c.letter = letter_rank((*text)[0]);
		std::size_t n = 1;
		while (n < text->size() && is_letter((*text)[n]))
			n++;
		*text = text->substr(n);
	}
	c.letter_number = take_number(text);
	return c;
}

int
compare_components(const component &a, const component &b)
{
	if (a.kind != b.kind)
		return a.kind < b.kind ? -1 : 1;
	if (int c = compare_numbers(a.number, b.number); c != 0)
		return c;
	if (a.letter != b.letter)
		return a.letter < b.letter ? -1 : 1;
	return compare_numbers(a.letter_number, b.letter_number);
}

// Compares two blocks (texts without '+'), the shorter padded with zero
// components.
int
compare_blocks(std::string_view a, std::string_view b)
{
	for (;;) {
		skip_separators(&a);
		skip_separators(&b);
		if (a.empty() && b.empty())
			return 0;
		component ca = take_component(&a);
		component cb = take_component(&b);
		if (int c = compare_components(ca, cb); c != 0)
			return c;
	}
}

// Takes the text up to the next '+' off *text, and the '+'.
std::string_view
take_block(std::string_view *text)
{
	std::size_t plus = text->find('+');
	std::string_view block = text->substr(0, plus);
	*text =
	    plus == text->npos ? std::string_view() : text->substr(plus + 1);
	return block;
}

struct version_parts {
	std::string_view version;
	std::string_view revision; // digits, no leading zeros
	std::string_view epoch;	   // the same
};

// The epoch follows the last ',', the revision the last '_' before it;
// each is the number its text begins with (none: 0).
version_parts
split_version(std::string_view text)
{
	version_parts parts;
	std::size_t comma = text.rfind(',');
	if (comma != text.npos) {
		std::string_view epoch = text.substr(comma + 1);
		parts.epoch = take_number(&epoch);
		text = text.substr(0, comma);
	}
	std::size_t underscore = text.rfind('_');
	if (underscore != text.npos) {
		std::string_view revision = text.substr(underscore + 1);
		parts.revision = take_number(&revision);
		text = text.substr(0, underscore);
	}
	parts.version = text;
	return parts;
}

} // namespace

int
compare_versions(std::string_view a, std::string_view b)
{
	version_parts pa = split_version(a);
	version_parts pb = split_version(b);
	if (int c = compare_numbers(pa.epoch, pb.epoch); c != 0)
		return c;
	std::string_view va = pa.version;
	std::string_view vb = pb.version;
	while (!va.empty() || !vb.empty()) {
		std::string_view block_a = take_block(&va);
		std::string_view block_b = take_block(&vb);
		if (int c = compare_blocks(block_a, block_b); c != 0)
			return c;
	}
	return compare_numbers(pa.revision, pb.revision);
}

void
split_package(
    std::string_view package, std::string_view *name, std::string_view *version)
{
	std::size_t dash = package.rfind('-');
	if (dash == package.npos) {
		*name = package;
		*version = {};
		return;
	}
	*name = package.substr(0, dash);
	*version = package.substr(dash + 1);
}
