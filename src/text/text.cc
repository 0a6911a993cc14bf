// Putting the tree's texts into pages and data files.
//
// Every text of the tree reaches a page through one of these functions, each
// a bounded append: HTML text and attribute escaping, the reading of a text
// that is not valid UTF-8 as ISO-8859-1, JavaScript string literals, and the
// check that a name may stand in a link. A text is decoded once, as it is
// escaped on its way out; nothing is copied and nothing is allocated.
#include "text/text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "state/state.h"
#include "text/bounded.h"

namespace {

// Bytes that escape_text copies as they are: printable ASCII other than the
// four it escapes, tab and newline.
constexpr std::array<bool, 256> plain_bytes = [] {
	std::array<bool, 256> plain{};
	for (int c = 0x20; c < 0x7F; c++)
		plain[static_cast<std::size_t>(c)] = true;
	for (char c : {'&', '<', '>', '"'})
		plain[static_cast<unsigned char>(c)] = false;
	plain['\t'] = plain['\n'] = true;
	return plain;
}();

// Whether the eight bytes at text are all printable ASCII other than the
// four that escape_text escapes and DEL: tested a word at a time, since
// descriptions are mostly such text.
bool
eight_plain(const char *text)
{
	constexpr std::uint64_t ones = 0x0101010101010101ULL;
	constexpr std::uint64_t highs = 0x8080808080808080ULL;
	std::uint64_t x;
	std::memcpy(&x, text, 8);
	auto zero_byte = [&](std::uint64_t v) {
		return (v - ones) & ~v & highs;
	};
	auto has = [&](unsigned char b) { return zero_byte(x ^ (ones * b)); };
	// With no high bit set, a byte below 0x20 shows as it does for a
	// zero byte.
	return (x & highs) == 0 && ((x - ones * 0x20) & ~x & highs) == 0 &&
	    has('&') == 0 && has('<') == 0 && has('>') == 0 && has('"') == 0 &&
	    has(0x7F) == 0;
}

// The length of the valid UTF-8 sequence at text[i], with its code point in
// *cp, or 0 when the bytes there are no valid sequence.
std::size_t
utf8_at(std::string_view text, std::size_t i, char32_t *cp)
{
	auto byte = [&](std::size_t k) -> unsigned {
		return i + k < text.size()
		    ? static_cast<unsigned char>(text[i + k])
		    : 0;
	};
	unsigned first = byte(0);
	std::size_t length;
	char32_t least;
	if (first < 0x80) {
		*cp = first;
		return 1;
	} else if (first >= 0xC2 && first <= 0xDF) {
		length = 2;
		least = 0x80;
		*cp = first & 0x1F;
	} else if (first >= 0xE0 && first <= 0xEF) {
		length = 3;
		least = 0x800;
		*cp = first & 0x0F;
	} else if (first >= 0xF0 && first <= 0xF4) {
		length = 4;
		least = 0x10000;
		*cp = first & 0x07;
	} else {
		return 0;
	}
	for (std::size_t k = 1; k < length; k++) {
		unsigned next = byte(k);
		if ((next & 0xC0) != 0x80)
			return 0;
		*cp = (*cp << 6) | (next & 0x3F);
	}
	if (*cp < least || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF))
		return 0;
	return length;
}

// Whether HTML allows code point cp in a page's text: no controls but tab
// and newline, no noncharacters.
bool
allowed(char32_t cp)
{
	if (cp < 0x20)
		return cp == '\t' || cp == '\n';
	if (cp >= 0x7F && cp <= 0x9F)
		return false;
	return !(cp >= 0xFDD0 && cp <= 0xFDEF) && (cp & 0xFFFE) != 0xFFFE;
}

// The two-byte UTF-8 form of the ISO-8859-1 byte c (0x80 or above), in pair.
std::string_view
latin1_as_utf8(unsigned char c, char (&pair)[2])
{
	pair[0] = static_cast<char>(0xC0 | (c >> 6));
	pair[1] = static_cast<char>(0x80 | (c & 0x3F));
	return {pair, sizeof pair};
}

// Bytes that no port directory in a link may hold: blanks and controls, and
// what a URL or an HTML attribute would take for something else.
constexpr std::array<bool, 256> unsafe_in_link = [] {
	std::array<bool, 256> table{};
	for (int c = 0; c < 256; c++)
		table[static_cast<std::size_t>(c)] = c <= ' ' || c == 0x7f ||
		    c == '"' || c == '\'' || c == '<' || c == '>' || c == '&' ||
		    c == '%' || c == '?' || c == '#' || c == '\\';
	return table;
}();

// Whether byte c of a UTF-8 text is copied into a JavaScript literal as
// it is.
bool
js_plain_byte(unsigned char c)
{
	return c >= 0x20 && c != '"' && c != '\\' && c != '<' && c != 0xE2;
}

char *
append_hex_escape(char *pos, char *end, unsigned char c)
{
	static constexpr char digits[] = "0123456789ABCDEF";
	char escape[4] = {'\\', 'x', digits[c >> 4], digits[c & 0xF]};
	return append(pos, end, std::string_view(escape, sizeof escape));
}

} // namespace

char *
html_escape(char *pos, char *end, std::string_view text)
{
	for (;;) {
		std::size_t run =
		    std::min(text.find_first_of("&<>"), text.size());
		pos = append(pos, end, text.substr(0, run));
		if (run == text.size())
			return pos;
		switch (text[run]) {
		case '&':
			pos = append(pos, end, "&amp;");
			break;
		case '<':
			pos = append(pos, end, "&lt;");
			break;
		default:
			pos = append(pos, end, "&gt;");
			break;
		}
		text.remove_prefix(run + 1);
	}
}

bool
valid_utf8(std::string_view text)
{
	for (std::size_t i = 0; i < text.size();) {
		// Descriptions are mostly ASCII: eight bytes at a time while
		// none has its high bit set.
		std::uint64_t eight;
		if (i + 8 <= text.size() &&
		    (std::memcpy(&eight, text.data() + i, 8),
			(eight & 0x8080808080808080ULL) == 0)) {
			i += 8;
			continue;
		}
		if (static_cast<unsigned char>(text[i]) < 0x80) {
			i++;
			continue;
		}
		char32_t cp;
		std::size_t n = utf8_at(text, i, &cp);
		if (n == 0)
			return false;
		i += n;
	}
	return true;
}

char *
escape_text(char *pos, char *end, std::string_view text, bool latin1)
{
	std::size_t done = 0, i = 0;
	while (i < text.size()) {
		if (i + 8 <= text.size() && eight_plain(text.data() + i)) {
			i += 8;
			continue;
		}
		unsigned char c = static_cast<unsigned char>(text[i]);
		if (plain_bytes[c]) {
			i++;
			continue;
		}
		std::string_view with; // empty: the character is dropped
		std::size_t length = 1;
		char pair[2];
		if (c < 0x80) {
			switch (c) {
			case '&':
				with = "&amp;";
				break;
			case '<':
				with = "&lt;";
				break;
			case '>':
				with = "&gt;";
				break;
			case '"':
				with = "&quot;";
				break;
			}
		} else if (latin1) {
			if (c >= 0xA0)
				with = latin1_as_utf8(c, pair);
		} else {
			char32_t cp;
			length = utf8_at(text, i, &cp);
			if (length == 0) {
				length = 1;
				with = "\xEF\xBF\xBD";
			} else if (allowed(cp)) {
				i += length;
				continue;
			}
		}
		pos = append(pos, end, text.substr(done, i - done));
		pos = append(pos, end, with);
		i += length;
		done = i;
	}
	return append(pos, end, text.substr(done));
}

char *
append_js_text(char *pos, char *end, std::string_view text)
{
	const auto *s = reinterpret_cast<const unsigned char *>(text.data());
	std::size_t n = text.size();
	bool latin1 = !valid_utf8(text);
	std::size_t i = 0;
	while (i < n) {
		std::size_t run = i;
		while (run < n && js_plain_byte(s[run]) &&
		    (s[run] < 0x80 || !latin1))
			run++;
		pos = append(pos, end, text.substr(i, run - i));
		if (run == n)
			break;
		unsigned char c = s[run];
		i = run + 1;
		if (c == '"') {
			pos = append(pos, end, "\\\"");
		} else if (c == '\\') {
			pos = append(pos, end, "\\\\");
		} else if (c < 0x80) {
			pos = append_hex_escape(pos, end, c); // '<', controls
		} else if (latin1) {
			char pair[2];
			pos = append(pos, end, latin1_as_utf8(c, pair));
		} else if (i + 1 < n && s[i] == 0x80 &&
		    (s[i + 1] == 0xA8 || s[i + 1] == 0xA9)) {
			// U+2028 and U+2029 end a line in older JavaScript.
			pos = append(
			    pos, end, s[i + 1] == 0xA8 ? "\\u2028" : "\\u2029");
			i += 2;
		} else {
			pos = append(pos, end, text.substr(run, 1));
		}
	}
	return pos;
}

char *
append_js_string(char *pos, char *end, std::string_view text)
{
	pos = append(pos, end, "\"");
	pos = append_js_text(pos, end, text);
	return append(pos, end, "\"");
}

bool
link_safe(std::string_view text)
{
	for (char c : text) {
		if (unsafe_in_link[static_cast<unsigned char>(c)])
			return false;
	}
	return true;
}

char *
insert_as(char *pos, char *end, insertion how, std::string_view text)
{
	switch (how) {
	case insertion::as_is:
		return append(pos, end, text);
	case insertion::escaped:
		return html_escape(pos, end, text);
	case insertion::text:
		return escape_text(pos, end, text, !valid_utf8(text));
	case insertion::link:
		return link_safe(text) ? append(pos, end, text) : pos;
	case insertion::built:
		break;
	}
	return pos;
}

namespace {

// Whether code point cp is a letter or digit of a search word.
bool
word_character(char32_t cp)
{
	if (cp < 0x80)
		return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') ||
		    (cp >= '0' && cp <= '9');
	if (cp < 0xC0 || cp == 0xD7 || cp == 0xF7 || cp >= 0xFE00)
		return false;
	return !(cp >= 0x2000 && cp <= 0x206F) &&
	    !(cp >= 0x3000 && cp <= 0x303F);
}

// The character at text[i] and its length, a byte of ISO-8859-1 when
// latin1; a byte that begins no valid UTF-8 sequence is no character.
std::size_t
character_at(std::string_view text, std::size_t i, bool latin1, char32_t *cp)
{
	if (latin1) {
		*cp = static_cast<unsigned char>(text[i]);
		return 1;
	}
	std::size_t length = utf8_at(text, i, cp);
	if (length == 0) {
		*cp = 0xFFFD;
		return 1;
	}
	return length;
}

// Appends cp (a word character, so below U+FE00), lowercased, to word as
// UTF-8 while it fits; the length after.
std::size_t
put_lower(char (&word)[search_word_max], std::size_t length, char32_t cp)
{
	if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE))
		cp += 0x20;
	char bytes[3];
	std::size_t n = 0;
	if (cp < 0x80) {
		bytes[n++] = static_cast<char>(cp);
	} else if (cp < 0x800) {
		bytes[n++] = static_cast<char>(0xC0 | (cp >> 6));
		bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
	} else {
		bytes[n++] = static_cast<char>(0xE0 | (cp >> 12));
		bytes[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
		bytes[n++] = static_cast<char>(0x80 | (cp & 0x3F));
	}
	// One byte past the room marks the word as too long.
	if (length + n > search_word_max)
		return search_word_max + 1;
	std::memcpy(word + length, bytes, n);
	return length + n;
}


// An ASCII byte as a search word holds it: lowercased, or 0 when it is no
// word character; 0x80 and above are looked at as characters.
constexpr std::array<char, 128> ascii_word = [] {
	std::array<char, 128> lower{};
	for (char c = '0'; c <= '9'; c++)
		lower[static_cast<unsigned char>(c)] = c;
	for (char c = 'a'; c <= 'z'; c++) {
		lower[static_cast<unsigned char>(c)] = c;
		lower[static_cast<unsigned char>(c - 'a' + 'A')] = c;
	}
	return lower;
}();

} // namespace

std::size_t
next_search_word(std::string_view text, std::size_t *at, bool latin1,
    char (&word)[search_word_max], std::size_t *chars)
{
	std::size_t i = *at;
	const std::size_t size = text.size();
	while (i < size) {
		// Most of a description is ASCII: its bytes are judged by the
		// table, one at a time, the rest as characters.
		auto b = static_cast<unsigned char>(text[i]);
		char32_t cp;
		std::size_t n = 1;
		if (b < 0x80) {
			if (ascii_word[b] == 0) {
				i++;
				continue;
			}
		} else {
			n = character_at(text, i, latin1, &cp);
			if (!word_character(cp)) {
				i += n;
				continue;
			}
		}
		std::size_t length = 0;
		*chars = 0;
		while (i < size) {
			b = static_cast<unsigned char>(text[i]);
			if (b < 0x80) {
				char lower = ascii_word[b];
				if (lower == 0)
					break;
				i++;
				if (length < search_word_max)
					word[length++] = lower;
				else
					length = search_word_max + 1;
				++*chars;
				continue;
			}
			n = character_at(text, i, latin1, &cp);
			if (!word_character(cp))
				break;
			i += n;
			if (length <= search_word_max)
				length = put_lower(word, length, cp);
			++*chars;
		}
		if (length <= search_word_max) {
			*at = i;
			return length;
		}
	}
	*at = i;
	return 0;
}

char *
append_url_path(char *pos, char *end, std::string_view text)
{
	constexpr char hex[] = "0123456789ABCDEF";
	for (char c : text) {
		bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
		    (c >= '0' && c <= '9') || c == '-' || c == '.' ||
		    c == '_' || c == '~' || c == '/' || c == '@' || c == '+';
		auto b = static_cast<unsigned char>(c);
		const char escaped[3] = {'%', hex[b >> 4], hex[b & 0xf]};
		pos = plain ? append(pos, end, std::string_view(&c, 1))
			    : append(pos, end, std::string_view(escaped, 3));
	}
	return pos;
}

char *
append_utc_time(char *pos, char *end, long long seconds)
{
	std::time_t t = static_cast<std::time_t>(seconds);
	struct tm tm;
	char buf[32];
	if (gmtime_r(&t, &tm) == nullptr ||
	    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0)
		return nullptr;
	return append(pos, end, buf);
}
