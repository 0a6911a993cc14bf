// Fuzzes the rendering of description texts and the escaping of texts from
// the tree.
//
// Input: the whole description text. It is rendered with ample room, then
// again into a buffer cut short, whose every byte past the cut the sanitizer
// guards. The page text must be valid UTF-8 with only the characters HTML
// allows, its markup the renderer's few elements properly nested (no <pre>
// or list inside a <p>), and its visible characters those of the text, read
// as UTF-8 or else as ISO-8859-1, each shown once, less the "WWW:" lines
// taken out and the markers of list items, which the browser draws. The
// escaping of the same text on its own is checked in both readings, and so
// are its words for the search: UTF-8 of letters and digits that need no
// escaping in a JavaScript literal, each after the one before.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pages/description.h"
#include "support.h"

using namespace qmfuzz;

namespace {

// The code points of text as UTF-8, or none and false when it is not.
bool
decode_utf8(std::string_view text, std::u32string *out)
{
	out->clear();
	for (std::size_t i = 0; i < text.size();) {
		unsigned char c = static_cast<unsigned char>(text[i]);
		int more = c < 0x80 ? 0
		    : c >= 0xF8	    ? -1
		    : c >= 0xF0	    ? 3
		    : c >= 0xE0	    ? 2
		    : c >= 0xC0	    ? 1
				    : -1;
		if (more < 0 ||
		    (more > 0 &&
			i + static_cast<std::size_t>(more) >= text.size()))
			return false;
		char32_t cp = more == 0 ? c : c & (0x3F >> more);
		for (int k = 1; k <= more; k++) {
			unsigned char d =
			    static_cast<unsigned char>(text[i + k]);
			if ((d & 0xC0) != 0x80)
				return false;
			cp = cp << 6 | (d & 0x3F);
		}
		static constexpr char32_t least[] = {0, 0x80, 0x800, 0x10000};
		if (cp < least[more] || cp > 0x10FFFF ||
		    (cp >= 0xD800 && cp < 0xE000))
			return false;
		out->push_back(cp);
		i += static_cast<std::size_t>(more) + 1;
	}
	return true;
}

bool
allowed_in_html(char32_t cp)
{
	if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
		return cp == '\t' || cp == '\n';
	return !(cp >= 0xFDD0 && cp <= 0xFDEF) && (cp & 0xFFFE) != 0xFFFE;
}

// The characters a reader sees: allowed, not blank.
void
add_visible(std::u32string *to, char32_t cp)
{
	if (allowed_in_html(cp) && cp != ' ' && cp != '\t' && cp != '\n')
		to->push_back(cp);
}

// Stands in the visible text for the marker of a list item, which the page
// leaves to the browser: never a character of a page.
constexpr char32_t item_mark = 0xFFFF;

// The length of the decimal number at page[i], at most three digits; 0 when
// there is none.
std::size_t
number_at(const std::u32string &page, std::size_t i)
{
	std::size_t n = 0;
	while (i + n < page.size() && n < 4 && page[i + n] >= '0' &&
	    page[i + n] <= '9')
		n++;
	return n <= 3 ? n : 0;
}

// Checks the markup of a page text and returns its visible characters,
// with item_mark where an item begins: blocks <p>, <pre>, <ul> and <ol>
// (<ol start="N">) one after another, each tag followed by a newline; <li>
// items (<li value="N"> in <ol>) in lists, a list nested in an item; text,
// <br> (in <p> and <li>) and <a href="..."> with text inside; no <pre> or
// list inside <p>; only the four entities; no raw '<', '>' or '"' in text.
// Between blocks, a heading <h3> of text or a rule <hr>: *ruled is set
// then, for the lines of a rule or an underline are left out.
std::u32string
check_markup(const std::u32string &page, bool *ruled)
{
	std::u32string seen;
	std::size_t i = 0;
	auto at = [&](std::u32string_view s) {
		return std::u32string_view(page).substr(i, s.size()) == s;
	};
	// What is open, outermost first: 'p', 'r' (pre), 'u', 'o', 'l' (li),
	// 'a'.
	std::string open;
	auto top = [&] { return open.empty() ? '\0' : open.back(); };
	// A list opening at page[i] after lead: its length, or 0.
	auto list_at = [&](std::u32string_view lead, char *kind) -> std::size_t {
		if (!at(lead))
			return 0;
		std::size_t from = i;
		i += lead.size();
		std::size_t n = 0;
		if (at(U"<ul>\n")) {
			*kind = 'u';
			n = lead.size() + 5;
		} else if (at(U"<ol>\n")) {
			*kind = 'o';
			n = lead.size() + 5;
		} else if (at(U"<ol start=\"")) {
			std::size_t digits = number_at(page, i + 11);
			i += 11 + digits;
			if (digits > 0 && at(U"\">\n")) {
				*kind = 'o';
				n = i + 3 - from;
			}
		}
		i = from;
		return n;
	};
	bool after_list = false; // a nested list has just closed
	while (i < page.size()) {
		char t = top();
		char kind = 0;
		std::size_t n;
		bool nested = t == 'l' && !after_list;
		after_list = false;
		if (t == '\0' || t == 'l') {
			if ((n = list_at(nested ? U"\n" : U"", &kind)) > 0) {
				open += kind;
				i += n;
				continue;
			}
		}
		if (t == '\0' && at(U"<hr>\n")) {
			*ruled = true;
			i += 5;
			continue;
		}
		if (t == '\0' && at(U"<h3>")) {
			*ruled = true;
			open += 'h';
			i += 4;
			continue;
		}
		if (t == '\0') {
			check(at(U"<p>") || at(U"<pre>"), "a block opens");
			open += at(U"<p>") ? 'p' : 'r';
			i += at(U"<p>") ? 3 : 5;
			continue;
		}
		if (t == 'u' || t == 'o') {
			if (at(t == 'u' ? U"</ul>\n" : U"</ol>\n")) {
				open.pop_back();
				i += 6;
				after_list = top() == 'l';
				char next_kind;
				check(!after_list || at(U"</li>\n") ||
					list_at(U"", &next_kind) > 0,
				    "a nested list ends its item or another "
				    "follows");
				continue;
			}
			seen += item_mark;
			open += 'l';
			if (at(U"<li>")) {
				i += 4;
				continue;
			}
			check(t == 'o' && at(U"<li value=\""),
			    "a list holds items");
			i += 11;
			std::size_t digits = number_at(page, i);
			i += digits;
			check(digits > 0 && at(U"\">"), "an item's value");
			i += 2;
			continue;
		}
		std::u32string_view close = t == 'p' ? U"</p>\n"
		    : t == 'h'			     ? U"</h3>\n"
		    : t == 'r'			     ? U"</pre>\n"
		    : t == 'l'			     ? U"</li>\n"
						     : U"</a>";
		if (at(close)) {
			i += close.size();
			open.pop_back();
			continue;
		}
		if (at(U"<br>\n") && (t == 'p' || t == 'l')) {
			i += 5;
			continue;
		}
		if (at(U"<a href=\"") && t != 'a') {
			std::size_t end = page.find(U"\">", i);
			check(end != std::u32string::npos, "an href closes");
			std::u32string_view href(
			    page.data() + i + 9, end - i - 9);
			check(href.find_first_of(U"<>\"") == href.npos,
			    "href is an attribute");
			i = end + 2;
			open += 'a';
			continue;
		}
		char32_t c = page[i];
		check(
		    c != '<' && c != '>' && c != '"', "no raw markup in text");
		if (c == '&') {
			static constexpr std::u32string_view entities[] = {
			    U"&amp;", U"&lt;", U"&gt;", U"&quot;"};
			static constexpr char32_t chars[] = {
			    '&', '<', '>', '"'};
			bool known = false;
			for (std::size_t e = 0; e < 4 && !known; e++) {
				if (at(entities[e])) {
					known = true;
					add_visible(&seen, chars[e]);
					i += entities[e].size();
				}
			}
			check(known, "only the four entities");
			continue;
		}
		check(allowed_in_html(c), "only characters HTML allows");
		add_visible(&seen, c);
		i++;
	}
	check(open.empty(), "every element is closed");
	return seen;
}

// The length of the list item marker at visible[i] ("-", "*", "+", a
// bullet, or up to three digits with '.' or ')'), or 0.
std::size_t
marker_at(const std::u32string &visible, std::size_t i)
{
	if (i >= visible.size())
		return 0;
	char32_t c = visible[i];
	if (c == '-' || c == '*' || c == '+' || c == 0x2022)
		return 1;
	std::size_t n = 0;
	while (i + n < visible.size() && n < 4 && visible[i + n] >= '0' &&
	    visible[i + n] <= '9')
		n++;
	return n > 0 && n <= 3 && i + n < visible.size() &&
		(visible[i + n] == '.' || visible[i + n] == ')')
	    ? n + 1
	    : 0;
}

// Whether seen is visible with an item marker taken out at each item_mark,
// exactly, or, when some, as a subsequence.
bool
shows(const std::u32string &seen, const std::u32string &visible, bool some)
{
	std::size_t i = 0;
	for (char32_t c : seen) {
		if (c == item_mark) {
			std::size_t n = marker_at(visible, i);
			if (n == 0 && !some)
				return false;
			i += n;
			continue;
		}
		while (some && i < visible.size() && visible[i] != c)
			i++;
		if (i >= visible.size() || visible[i] != c)
			return false;
		i++;
	}
	return some || i == visible.size();
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::string_view text(reinterpret_cast<const char *>(data), size);
	std::u32string decoded;
	bool utf8 = decode_utf8(text, &decoded);
	check(utf8 == valid_utf8(text), "valid_utf8 tells UTF-8");
	if (!utf8) {
		decoded.clear();
		for (char c : text)
			decoded.push_back(static_cast<unsigned char>(c));
	}
	std::u32string visible;
	for (char32_t cp : decoded)
		add_visible(&visible, cp);

	// Every byte becomes at most "&amp;" twice in a link, and a line of
	// one byte gets a block's tags.
	std::vector<char> room(16 * size + 64);
	std::string_view website = "unset";
	char *end = render_description(
	    room.data(), room.data() + room.size(), text, &website);
	check(end != nullptr, "rendering fits sixteen times the text");
	std::string page(room.data(), end);
	std::u32string page_chars;
	check(decode_utf8(page, &page_chars), "the page text is UTF-8");
	bool ruled = false;
	std::u32string seen = check_markup(page_chars, &ruled);

	// What was taken out is whole "WWW:" lines of the website's address,
	// and the lines of a rule or of a heading's underline.
	if (website.empty()) {
		check(shows(seen, visible, ruled),
		    "the visible text is kept, less item markers");
	} else {
		check(text.find(website) != text.npos,
		    "the website is in the text");
		bool linkable = website.starts_with("http://") ||
		    website.starts_with("https://") ||
		    website.starts_with("ftp://");
		check(linkable, "the website is an address");
		for (char c : website)
			check(c > ' ' && c < 0x7F,
			    "the website is printable ASCII");
		check(seen.size() < visible.size() &&
			shows(seen, visible, true),
		    "the rest of the text is kept in order");
	}

	// Cut short: null, and not a byte written past the cut.
	std::size_t cut = page.size() / 2 + size % 7;
	if (cut < page.size()) {
		auto buf = std::make_unique<char[]>(cut);
		check(render_description(
			  buf.get(), buf.get() + cut, text, nullptr) == nullptr,
		    "a page too long for its buffer is refused");
	}

	for (bool latin1 : {false, true}) {
		std::vector<char> out(6 * size + 1);
		char *e = escape_text(
		    out.data(), out.data() + out.size(), text, latin1);
		check(e != nullptr, "escaping fits six times the text");
		std::u32string chars;
		check(decode_utf8(std::string_view(out.data(), e), &chars),
		    "escaped text is UTF-8");
		for (char32_t c : chars)
			check(allowed_in_html(c) && c != '<' && c != '>' &&
				c != '"',
			    "escaped text is safe in an attribute");
	}

	for (bool latin1 : {false, true}) {
		char word[search_word_max];
		std::size_t at = 0, before = 0, chars = 0, length;
		while ((length = next_search_word(
			    text, &at, latin1, word, &chars)) != 0) {
			check(length <= search_word_max && at > before &&
				at <= text.size() && chars > 0 &&
				chars <= length,
			    "a word lies after the one before");
			before = at;
			std::u32string cps;
			check(decode_utf8(std::string_view(word, length), &cps) &&
				cps.size() == chars,
			    "a word is UTF-8 of its characters");
			for (char32_t c : cps)
				check((c >= 'a' && c <= 'z') ||
					(c >= '0' && c <= '9') ||
					(c > 0xDE && c < 0x2000 &&
					    c != 0xF7) ||
					(c > 0x206F && c < 0xFE00 &&
					    !(c >= 0x3000 && c <= 0x303F)),
				    "a word is lowercase letters and digits");
		}
	}
	return 0;
}
