// The generation marker read back as it was written, and refused whole
// when it is cut, mangled or of another version.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "site/marker.h"

namespace {

const file_set files = {3, 0x0123456789abcdefULL, 0xfedcba9876543210ULL};

// A complete marker with the given changed paths ("all" when listed is
// false).
std::string
written(bool listed, const std::string &paths = "a/README.html\nb/c/x\n",
    const std::string &count = "2")
{
	char head[4096];
	char *end = format_marker_head(head, head + sizeof head, "5f.1a.2b",
	    "site.20260101T000000.000001Z", "5e.1.2 site.unpublished", files,
	    listed ? count : "");
	EXPECT_NE(end, nullptr);
	return std::string(head, end) + (listed ? paths : "") +
	    std::string(marker_end);
}

generation_marker
parsed(std::string &text, bool whole = true)
{
	return parse_marker(text.data(), text.size(), whole);
}

} // namespace

TEST(Marker, WrittenMarkerReadsBackAsWritten)
{
	std::string text = written(true);
	EXPECT_EQ(text.substr(text.find('\n') + 1, 9), "format 2\n");
	generation_marker m = parsed(text);
	ASSERT_TRUE(m.complete);
	EXPECT_EQ(m.id, "5f.1a.2b site.20260101T000000.000001Z");
	EXPECT_EQ(marker_id_name(m.id), "site.20260101T000000.000001Z");
	EXPECT_EQ(m.after, "5e.1.2 site.unpublished");
	EXPECT_EQ(m.files, files);
	ASSERT_TRUE(m.listed);
	ASSERT_EQ(m.list_count, 2u);
	EXPECT_STREQ(m.list, "a/README.html");
	EXPECT_STREQ(m.list + 14, "b/c/x");

	std::string all = written(false);
	m = parsed(all);
	ASSERT_TRUE(m.complete);
	EXPECT_FALSE(m.listed);
	EXPECT_EQ(m.files, files);

	// The head alone is enough to compare generations by.
	std::string head = written(true);
	m = parsed(head, false);
	EXPECT_TRUE(m.complete);
	EXPECT_FALSE(m.listed);
	EXPECT_EQ(m.after, "5e.1.2 site.unpublished");

	// A marker of a generation being written: its first line alone.
	std::string first(marker_text);
	EXPECT_FALSE(parsed(first).complete);
	EXPECT_FALSE(parsed(first, false).complete);
}

TEST(Marker, CutShortAtAnyLengthIsNotComplete)
{
	const std::string text = written(true);
	for (std::size_t n = 0; n < text.size(); n++) {
		std::string cut = text.substr(0, n);
		EXPECT_FALSE(parsed(cut).complete) << n;
	}
	// More after the end, or fewer paths than counted, is no marker of
	// this tool's either.
	std::string longer = text + "x\n";
	EXPECT_FALSE(parsed(longer).complete);
	std::string fewer = written(true, "a/README.html\n", "2");
	EXPECT_FALSE(parsed(fewer).complete);
}

TEST(Marker, OtherVersionsAndJunkAreNotComplete)
{
	for (const char *version : {"format 1", "format 3", "format 02",
		 "format 2 ", "format"}) {
		std::string text = written(true);
		std::size_t at = text.find("format 2\n");
		text.replace(at, 8, version);
		EXPECT_FALSE(parsed(text).complete) << version;
		text = written(true);
		text.replace(at, 8, version);
		EXPECT_FALSE(parsed(text, false).complete) << version;
	}
	for (const char *bad : {"files 3 0123 zz", "files x 1 2", "files 3 1 2 9"}) {
		std::string text = written(true);
		std::size_t at = text.find("files ");
		text.replace(at, text.find('\n', at) - at, bad);
		EXPECT_FALSE(parsed(text).complete) << bad;
	}
	std::mt19937 random(25);
	const std::string text = written(true);
	for (int round = 0; round < 2000; round++) {
		std::string junk = text;
		for (int k = 0; k < 3; k++)
			junk[random() % junk.size()] =
			    static_cast<char>(random() % 256);
		generation_marker m = parsed(junk);
		// Either refused or read within its text.
		if (m.complete && m.listed) {
			EXPECT_LE(m.list_count, 2u);
		}
	}
}
