// Putting the tree's texts into pages and data files: HTML escaping, UTF-8
// and ISO-8859-1, JavaScript string literals, names in links. Each appends
// at pos, never at or past end, and returns the position after what it
// wrote, or null when it does not fit or pos was null.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/hash.h" // the hashes of text and their tables

// Appends text with &, < and > escaped for HTML. Null when it does not fit.
[[nodiscard]] char *html_escape(char *pos, char *end, std::string_view text);

// True when text is valid UTF-8; otherwise extension texts read it as
// ISO-8859-1.
[[nodiscard]] bool valid_utf8(std::string_view text);

// Appends text HTML-escaped (&, <, >, and " so it may stand in an attribute),
// as UTF-8: when latin1, every byte >= 0x80 becomes its two-byte UTF-8 form.
// Characters that HTML does not allow in a page are dropped: controls other
// than tab and newline (so NUL and the CR of a CRLF line end too) and
// noncharacters; when not latin1, a byte that begins no valid UTF-8 sequence
// becomes U+FFFD. Null when it does not fit (or pos was null).
[[nodiscard]] char *escape_text(
    char *pos, char *end, std::string_view text, bool latin1);

// Appends text as a double-quoted JavaScript string literal that is valid
// UTF-8 whatever its bytes: quotes, backslashes, control characters, '<'
// and the line separators U+2028 and U+2029 are escaped, and a text that is
// not valid UTF-8 is read as ISO-8859-1 throughout. Null when it does not
// fit or pos was null.
[[nodiscard]] char *append_js_string(
    char *pos, char *end, std::string_view text);
// The same without the quotes, for a literal made of several texts.
[[nodiscard]] char *append_js_text(char *pos, char *end, std::string_view text);

// What a page takes from the tree, and how each goes in. Texts of the
// classic placeholders go in as the tree holds them, but for a port's
// comment; every text an extension shows is escaped, and those of the
// later extensions are also made UTF-8; a port directory or a category
// stands in a link only when no byte of it could end or change the link.
enum class tree_text : int {
	package,	  // %%PKG%%, a port's link text on a category page
	port_path,	  // %%PORT%%
	port_comment,	  // %%COMMENT%% of a port, and on a category page
	descr_path,	  // %%DESCR%%
	maintainer,	  // %%EMAIL%%
	depends_field,	  // %%BUILD_DEPENDS%%, %%RUN_DEPENDS%%
	website,	  // %%WEBSITE%%
	top_dir,	  // %%TOP%%
	category_path,	  // %%CATEGORY%%
	category_comment, // %%COMMENT%% of a category, and on the top page
	directory_name,	  // the link of a %%SUBDIR%% line, a category's text
	description,	  // %%DESCR_TEXT%%
	link_name,	  // a dependency's link text
	link_directory,	  // a dependency's page, in its link
	port_text,	  // %%PKGNAME%%, %%PKGVERSION%%, %%ORIGIN%%,
			  // %%COMMENT_TEXT%%, the names and origins of lists
	address,	  // a web site, in a link and as its text
	category_link,	  // another category of the port, in its link
};
enum class insertion : unsigned char {
	as_is,	 // the bytes as the tree holds them
	escaped, // &, < and > escaped
	text,	 // &, <, > and " escaped; read as ISO-8859-1 when it is not
		 // valid UTF-8, and written as UTF-8
	link,	 // as is, where link_safe holds; never otherwise
	built,	 // made of several texts, each inserted as its kind says
};
inline constexpr std::array<insertion, 17> insertion_of = {
    insertion::as_is,	// package
    insertion::as_is,	// port_path
    insertion::escaped, // port_comment
    insertion::as_is,	// descr_path
    insertion::as_is,	// maintainer
    insertion::as_is,	// depends_field
    insertion::as_is,	// website
    insertion::as_is,	// top_dir
    insertion::as_is,	// category_path
    insertion::as_is,	// category_comment
    insertion::as_is,	// directory_name
    insertion::escaped, // description
    insertion::escaped, // link_name
    insertion::link,	// link_directory
    insertion::text,	// port_text
    insertion::text,	// address
    insertion::link,	// category_link
};
static_assert(insertion_of.size() ==
    static_cast<std::size_t>(tree_text::category_link) + 1);

// True when text may stand in a link as it is: no blank or control, and
// nothing that a URL or an HTML attribute would take for something else.
[[nodiscard]] bool link_safe(std::string_view text);

// Appends text as how says (insertion::built appends nothing). A link text
// that is not link_safe appends nothing; callers check link_safe first.
// Null when it does not fit.
[[nodiscard]] char *insert_as(
    char *pos, char *end, insertion how, std::string_view text);

// Appends text as the table says what goes in.
[[nodiscard]] inline char *
insert(char *pos, char *end, tree_text what, std::string_view text)
{
	return insert_as(
	    pos, end, insertion_of[static_cast<std::size_t>(what)], text);
}

// Appends text as a URL path: bytes other than letters, digits, '-', '.',
// '_', '~', '/', '@' and '+' percent-encoded, so that it stands in a URL,
// in XML and in an HTML attribute as it is.
[[nodiscard]] char *append_url_path(
    char *pos, char *end, std::string_view text);

// Appends a time, seconds since the epoch, in the form that sitemaps and
// Atom feeds take, in UTC: "2026-12-09T17:27:43Z".
[[nodiscard]] char *append_utc_time(char *pos, char *end, long long seconds);

// The 16 hexadecimal digits of h, as the files kept beside a site write a
// hash.
[[nodiscard]] constexpr std::array<char, 16>
hex_of(std::uint64_t h)
{
	std::array<char, 16> out{};
	for (std::size_t i = 0; i < out.size(); i++)
		out[i] = "0123456789abcdef"[(h >> (60 - 4 * i)) & 15];
	return out;
}

// The words of a text as the search's word index holds them: runs of
// letters and digits, which are the ASCII ones and every character from
// U+00C0 to U+FFFF but the signs of ISO-8859-1 and the punctuation blocks
// (U+2000-U+206F, U+3000-U+303F, U+FE00-U+FFFF), lowercased (A-Z, and
// U+00C0-U+00DE) and written as UTF-8.
inline constexpr std::size_t search_word_max = 40; // bytes
// The next word of text from *at into word (search_word_max bytes), read
// as ISO-8859-1 when latin1, with its number of characters in *chars. Its
// length in bytes; 0 once the text holds no more. Words longer than
// search_word_max bytes are passed over.
[[nodiscard]] std::size_t next_search_word(std::string_view text,
    std::size_t *at, bool latin1, char (&word)[search_word_max],
    std::size_t *chars);
