// Description texts rendered for reading, from texts shaped like real
// description files, compared byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "pages/description.h"

namespace {

struct Rendered {
	std::string html;
	std::string website;
};

Rendered
render(std::string_view text)
{
	char buf[4096];
	std::string_view website = "unset";
	char *end = render_description(buf, buf + sizeof buf, text, &website);
	EXPECT_NE(end, nullptr);
	if (end == nullptr)
		return {};
	return {std::string(buf, end), std::string(website)};
}

std::string
html(std::string_view text)
{
	return render(text).html;
}

} // namespace

TEST(Description, MarginIsNoIndentAndLayoutKeepsItsShape)
{
	// The margin every line shares is no indentation; an indented first
	// line followed by prose is a paragraph's indent.
	EXPECT_EQ(html("  A library that reads foo files and writes bar files\n"
		       "  for bar.  It is fast.\n\n"
		       "  Example:\n      int x;\n"
		       "\n    Second paragraph, which goes on for a while,\n"
		       "  indented.\n"),
	    "<p>A library that reads foo files and writes bar files\n"
	    "for bar.  It is fast.</p>\n<p>Example:</p>\n<pre>    int x;</pre>\n"
	    "<p>  Second paragraph, which goes on for a while,\nindented.</p>\n");
	// An art banner, then text.
	EXPECT_EQ(html(" _____ ___   ___\n"
		       "|_   _/ _ \\ / _ \\\n"
		       "  | || (_) | (_) |\n"
		       "  |_| \\___/ \\___/\n"
		       "\n"
		       "Too is a game <for> two.\n"),
	    "<pre> _____ ___   ___\n"
	    "|_   _/ _ \\ / _ \\\n"
	    "  | || (_) | (_) |\n"
	    "  |_| \\___/ \\___/</pre>\n"
	    "<p>Too is a game &lt;for&gt; two.</p>\n");
	// A tab-indented list, aligned columns, the tabs as they are.
	EXPECT_EQ(html("Features:\n"
		       "\t- fast\n"
		       "\t- small\n"
		       "\n"
		       "Option\tMeaning\n"
		       "-v      verbose\n"
		       "\n"
		       "That is all.\n"),
	    "<p>Features:</p>\n<ul>\n<li>fast</li>\n<li>small</li>\n</ul>\n"
	    "<pre>Option\tMeaning\n-v      verbose</pre>\n"
	    "<p>That is all.</p>\n");
	// An item between a list's indent and its nested list's begins a
	// list of its own in the item before; the other kind of item, too.
	EXPECT_EQ(html("- a\n    - deep\n  - mid\n  1. one\n"),
	    "<ul>\n<li>a\n<ul>\n<li>deep</li>\n</ul>\n<ul>\n<li>mid</li>\n"
	    "</ul>\n<ol>\n<li>one</li>\n</ol>\n</li>\n</ul>\n");
	// A margin of a tab, art made of few characters.
	EXPECT_EQ(html("\tA tool that draws\n\tboxes:\n\t+-+\n\t|(_)|\n"),
	    "<p>A tool that draws<br>\nboxes:</p>\n<pre>+-+\n|(_)|</pre>\n");
	// Code that ends right before the prose after it.
	EXPECT_EQ(html("Example:\n    int x;\n    int y;\nThat is it.\n"),
	    "<p>Example:</p>\n<pre>    int x;\n    int y;</pre>\n"
	    "<p>That is it.</p>\n");
	EXPECT_EQ(html("\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90\n"
		       "Fine.\n"),
	    "<pre>\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90</pre>\n<p>Fine.</p>\n");
}

TEST(Description, AddressesBecomeLinks)
{
	EXPECT_EQ(html("See https://example.org/a_(b) and (http://x.example/y),"
		       "\nor ftp://f.example/pub. Not http:// alone.\n"
		       "Query: https://e.example/?a=1&b=2\"x\"\n"),
	    "<p>See <a href=\"https://example.org/a_(b)\">"
	    "https://example.org/a_(b)</a> and (<a href=\"http://x.example/y\">"
	    "http://x.example/y</a>),\n"
	    "or <a href=\"ftp://f.example/pub\">ftp://f.example/pub</a>. "
	    "Not http:// alone.\n"
	    "Query: <a href=\"https://e.example/?a=1&amp;b=2\">"
	    "https://e.example/?a=1&amp;b=2</a>&quot;x&quot;</p>\n");
}

TEST(Description, TrailingWwwLinesAreTakenOut)
{
	Rendered one = render("Tool for X.\n\nWWW: https://x.example/\n\n");
	EXPECT_EQ(one.html, "<p>Tool for X.</p>\n");
	EXPECT_EQ(one.website, "https://x.example/");

	// A second address stays, unless it repeats the first.
	Rendered two = render("Tool for X.\nWWW:\thttp://a.example/\n"
			      "WWW: http://a.example/\nWWW: http://b.example/\n");
	EXPECT_EQ(two.html, "<p>Tool for X.</p>\n<p>WWW: <a href=\"http://b.example/\">"
			    "http://b.example/</a></p>\n");
	EXPECT_EQ(two.website, "http://a.example/");

	// Only at the end, and only a whole address; one inside the text
	// ends its paragraph.
	Rendered inside = render("WWW: http://a.example/\nmore\nWWW: a.example\n");
	EXPECT_EQ(inside.html, "<p>WWW: <a href=\"http://a.example/\">"
			       "http://a.example/</a></p>\n<p>more<br>\nWWW: a.example</p>\n");
	EXPECT_EQ(inside.website, "");

	Rendered only = render("\nWWW: https://x.example/\n");
	EXPECT_EQ(only.html, "");
	EXPECT_EQ(only.website, "https://x.example/");
	EXPECT_EQ(html(""), "");
	EXPECT_EQ(html("\n \t\n\r\n"), "");
}

TEST(Description, TextIsDecodedAndCleanedForAUtf8Page)
{
	// Not UTF-8 as a whole: every byte is ISO-8859-1; a UTF-8 text is
	// kept as it is.
	EXPECT_EQ(html("Caf\xE9 au lait, cr\xE8me \"br\xFBl\xE9\xE9\"\r\n"
		       "na\xC3\xAFve\n"),
	    "<p>Caf\xC3\xA9 au lait, cr\xC3\xA8me &quot;br\xC3\xBBl\xC3\xA9"
	    "\xC3\xA9&quot;<br>\nna\xC3\x83\xC2\xAFve</p>\n");
	EXPECT_EQ(html("na\xC3\xAFve \xE2\x82\xAC\n"), "<p>na\xC3\xAFve \xE2\x82\xAC</p>\n");
	// Controls HTML does not allow go, in both readings.
	constexpr char controls[] = "a\0b\x01\x7F\xC2\x85" "c\xEF\xB7\x90\n";
	EXPECT_EQ(html(std::string_view(controls, sizeof controls - 1)),
	    "<p>abc</p>\n");
	EXPECT_EQ(html("x\x85y\x1B\xFF\n"), "<p>xy\xC3\xBF</p>\n");

	EXPECT_TRUE(valid_utf8("\xF4\x8F\xBF\xBF"));
	EXPECT_FALSE(valid_utf8("\xF4\x90\x80\x80")); // past U+10FFFF
	EXPECT_FALSE(valid_utf8("\xC0\xAF"));	      // overlong
	EXPECT_FALSE(valid_utf8("\xED\xA0\x80"));     // surrogate
	EXPECT_FALSE(valid_utf8("\xE2\x82"));	      // cut short

	char buf[64];
	char *end = escape_text(buf, buf + sizeof buf, "\xE2\x82<\xC3\xA9", false);
	ASSERT_NE(end, nullptr);
	EXPECT_EQ(std::string(buf, end), "\xEF\xBF\xBD\xEF\xBF\xBD&lt;\xC3\xA9");
}

TEST(Description, NeverWritesPastItsBound)
{
	std::string_view text = "Caf\xE9 <x>\n\thttp://a.example/\n\nWWW: http://w/\n";
	std::string whole = html(text);
	ASSERT_FALSE(whole.empty());
	std::string buf(whole.size() + 1, '#');
	for (std::size_t room = 0; room <= whole.size(); room++) {
		std::string_view website;
		char *end = render_description(
		    buf.data(), buf.data() + room, text, &website);
		EXPECT_EQ(end == nullptr, room < whole.size()) << room;
		EXPECT_EQ(buf[room], '#') << room;
	}
	EXPECT_EQ(render_description(nullptr, nullptr, text, nullptr), nullptr);
}
