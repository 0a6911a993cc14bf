// The generation marker read back as it was written, and refused whole
// when it is cut, mangled or of another version.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "site/marker.h"
#include "text/hash.h"

namespace {

const file_set files = {3, 0x0123456789abcdefULL, 0xfedcba9876543210ULL};

// A complete marker with the given changed paths ("all" when listed is
// false) and kept paths ("unknown" when kept_count is empty).
std::string
written(bool listed, const std::string &paths = "a/README.html\nb/c/x\n",
    const std::string &count = "2", const std::string &kept = "robots.txt\n",
    const std::string &kept_count = "1")
{
	char head[4096];
	char *end = format_marker_head(head, head + sizeof head, "5f.1a.2b",
	    "site.20260101T000000.000001Z", "5e.1.2 site.unpublished", files,
	    listed ? count : "");
	EXPECT_NE(end, nullptr);
	char line[64];
	char *line_end =
	    format_marker_kept(line, line + sizeof line, kept_count);
	EXPECT_NE(line_end, nullptr);
	return std::string(head, end) + (listed ? paths : "") +
	    std::string(line, line_end) + (kept_count.empty() ? "" : kept) +
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
	EXPECT_EQ(text.substr(text.find('\n') + 1, 9), "format 3\n");
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
	ASSERT_TRUE(m.kept_known);
	ASSERT_EQ(m.kept_count, 1u);
	EXPECT_STREQ(m.kept, "robots.txt");

	// Kept paths unknown, none kept, and a marker of the format before,
	// which has no kept line: read as unknown.
	std::string unknown =
	    written(true, "a/README.html\nb/c/x\n", "2", "", "");
	m = parsed(unknown);
	ASSERT_TRUE(m.complete);
	EXPECT_FALSE(m.kept_known);
	std::string none = written(false, "", "", "", "0");
	m = parsed(none);
	ASSERT_TRUE(m.complete);
	EXPECT_TRUE(m.kept_known);
	EXPECT_EQ(m.kept_count, 0u);
	std::string older = written(true);
	older.replace(older.find("format 3"), 8, "format 2");
	older.erase(older.find("kept 1\n"), 18);
	m = parsed(older);
	ASSERT_TRUE(m.complete);
	EXPECT_FALSE(m.kept_known);
	ASSERT_EQ(m.list_count, 2u);
	std::string older_with_kept = written(true);
	older_with_kept.replace(
	    older_with_kept.find("format 3"), 8, "format 2");
	EXPECT_FALSE(parsed(older_with_kept).complete);

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
	for (const char *count : {"2", "-1", "x", ""}) {
		std::string kept = written(
		    true, "a/README.html\nb/c/x\n", "2", "robots.txt\n", "1");
		kept.replace(
		    kept.find("kept 1"), 6, std::string("kept ") + count);
		EXPECT_FALSE(parsed(kept).complete) << count;
	}
}

TEST(Marker, OtherVersionsAndJunkAreNotComplete)
{
	for (const char *version :
	    {"format 1", "format 4", "format 03", "format 3 ", "format"}) {
		std::string text = written(true);
		std::size_t at = text.find("format 3\n");
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
		if (m.complete && m.kept_known) {
			EXPECT_LE(m.kept_count, 1u);
		}
	}
}

// The hashes that markers, the feed record and the maintainer pages' names
// keep on disk: a run must read what the last one wrote, so these values
// never change.
TEST(Marker, StoredHashesKeepTheirValues)
{
	static_assert(path_hash("README.html") == 0x2842e23047bd0126ULL);
	EXPECT_EQ(path_hash("devel/git/README.html"), 0x6740f5688c412600ULL);
	EXPECT_EQ(path_mix("devel/git/README.html"), 0xc0da50bfbdbf9262ULL);
	EXPECT_EQ(path_mix(""), 0x9e3779bd8ef1b1deULL);
	EXPECT_EQ(fnv1a(""), 0xcbf29ce484222325ULL);
	EXPECT_EQ(fnv1a("a"), 0xaf63dc4c8601ec8cULL);
	EXPECT_EQ(fnv1a("b", fnv1a("a")), fnv1a("ab"));
	EXPECT_EQ(fnv1a_folded("Some.Body@Example.ORG"),
	    fnv1a("some.body@example.org"));
	EXPECT_NE(fnv1a_folded("a"), fnv1a_folded("b"));
}
