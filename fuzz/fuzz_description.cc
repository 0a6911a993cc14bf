// Fuzzes the rendering of description texts and the escaping of texts from
// the tree.
//
// Input: the whole description text. It is rendered with ample room, then
// again into a buffer cut short, whose every byte past the cut the sanitizer
// guards. The page text must be valid UTF-8 with only the characters HTML
// allows, its markup the renderer's few elements properly nested, and its
// visible characters those of the text, read as UTF-8 or else as
// ISO-8859-1, less the "WWW:" lines taken out. The escaping of the same text
// on its own is checked in both readings.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "readme/description.h"
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

// Checks the markup of a page text and returns its visible characters:
// blocks <p> and <pre> one after another, each followed by a newline, with
// text, <br> (in <p>) and <a href="..."> with text inside; only the four
// entities; no raw '<', '>' or '"' in text.
std::u32string
check_markup(const std::u32string &page)
{
	std::u32string seen, text;
	std::size_t i = 0;
	auto at = [&](std::u32string_view s) {
		return std::u32string_view(page).substr(i, s.size()) == s;
	};
	std::u32string_view block, link;
	while (i < page.size()) {
		if (block.empty()) {
			check(at(U"<p>") || at(U"<pre>"), "a block opens");
			block = at(U"<p>") ? U"</p>\n" : U"</pre>\n";
			i += block.size() - 2;
			continue;
		}
		if (at(block) && link.empty()) {
			i += block.size();
			block = {};
			continue;
		}
		if (at(U"</a>") && !link.empty()) {
			i += 4;
			link = {};
			continue;
		}
		if (at(U"<br>\n") && block == U"</p>\n" && link.empty()) {
			i += 5;
			continue;
		}
		if (at(U"<a href=\"") && link.empty()) {
			std::size_t close = page.find(U"\">", i);
			check(close != std::u32string::npos, "an href closes");
			std::u32string_view href(
			    page.data() + i + 9, close - i - 9);
			check(href.find_first_of(U"<>\"") == href.npos,
			    "href is an attribute");
			i = close + 2;
			link = U"</a>";
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
	check(block.empty() && link.empty(), "every element is closed");
	return seen;
}

} // namespace

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	init_reporting();
	return 0;
}

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
	std::u32string seen = check_markup(page_chars);

	// What was taken out is whole "WWW:" lines of the website's address.
	if (website.empty()) {
		check(seen == visible, "the visible text is kept");
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
		std::size_t taken = visible.size() - seen.size();
		std::size_t line = website.size() + 4;
		check(seen.size() < visible.size() && taken % line == 0,
		    "whole WWW lines are taken out");
		std::size_t k = 0;
		for (char32_t cp : visible)
			k += k < seen.size() && seen[k] == cp;
		check(
		    k == seen.size(), "the rest of the text is kept in order");
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
	return 0;
}
