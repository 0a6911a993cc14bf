// The feed record read back as it was written, and refused whole when it
// is cut anywhere, altered by a byte, or not a record; a record of the
// format before is still read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sitefiles/feed_record.h"
#include "text/text.h"

namespace {

// A record with a port of each kind of text, moves, notes and entries.
std::string
written()
{
	port_version ports[] = {{"misc/a b", "1.0", "joe@example.org"},
	    {"misc/tab", "2.0_1,1", "Ann\t<ann@example.org>"}};
	std::uint64_t moves[] = {0x0123456789abcdefULL};
	std::uint64_t notes[] = {0xfedcba9876543210ULL, 7};
	feed_entry entries[] = {
	    {1772971200, "2026-03-08", "note", "20260308-0123abcd",
		"users of misc/a", {}, "Do \\this\n\tthen\r that.", 0, false},
	    {1772971200, "2026-03-08", "updated", "misc/tab", "1.0", "2.0_1,1",
		"ann@example.org", 0, false, "S\tfix <it>\nS\tsecond\n"},
	    {1772884800, "2026-03-07", "unlisted", "misc/old", "2026-03-01",
		"", "Gone", 0, false}};
	feed_record r;
	r.start = 1772798400;
	r.ports = ports;
	r.moves = moves;
	r.notes = notes;
	r.moves_known = r.notes_known = true;
	r.entries = entries;
	std::string text(feed_record_bound(r), '\0');
	char *end = format_feed_record(text.data(), text.data() + text.size(), r);
	EXPECT_NE(end, nullptr);
	text.resize(end == nullptr ? 0 : static_cast<std::size_t>(end - text.data()));
	return text;
}

// Room for a parse of text, and the parse.
struct parsed {
	std::vector<port_version> ports;
	std::vector<std::uint64_t> moves, notes;
	std::vector<feed_entry> entries;
	feed_record r;
	bool whole;
	explicit parsed(const std::string &text)
	    : ports(feed_record_lines(text)), moves(ports.size()),
	      notes(ports.size()), entries(ports.size())
	{
		r.ports = ports;
		r.moves = moves;
		r.notes = notes;
		r.entries = entries;
		whole = parse_feed_record(text, &r);
	}
};

} // namespace

TEST(FeedRecord, WrittenRecordReadsBackAsWritten)
{
	const std::string text = written();
	EXPECT_EQ(text.substr(0, 28), "quillmark-feed 2 1772798400\n");
	EXPECT_EQ(text.substr(text.find("\nP\t") + 1, 72),
	    "P\tmisc/a b\t1.0\tjoe@example.org\n"
	    "P\tmisc/tab\t2.0_1,1\tAnn <ann@example.org>\n");
	EXPECT_NE(text.find("\nHM\nM\t0123456789abcdef\nHU\n"
			    "U\tfedcba9876543210\nU\t0000000000000007\nE\t"),
	    std::string::npos);
	EXPECT_NE(text.find("\tDo \\\\this\\n\\tthen\\r that.\n"), std::string::npos);
	EXPECT_NE(text.find("\t2.0_1,1\tann@example.org\nS\tfix <it>\nS\tsecond\nE\t"),
	    std::string::npos);
	// The end line: the bytes before it and their sum.
	std::size_t last = text.rfind('\n', text.size() - 2) + 1;
	EXPECT_EQ(text.substr(last, 4 + std::to_string(last).size() + 1),
	    "end " + std::to_string(last) + " ");
	EXPECT_EQ(text.size() - last, 4 + std::to_string(last).size() + 18);

	parsed p(text);
	ASSERT_TRUE(p.whole);
	EXPECT_EQ(p.r.version, 2);
	EXPECT_EQ(p.r.start, 1772798400);
	ASSERT_EQ(p.r.ports.size(), 2u);
	EXPECT_EQ(p.r.ports[1].maintainer, "Ann <ann@example.org>");
	ASSERT_EQ(p.r.moves.size(), 1u);
	EXPECT_EQ(p.r.moves[0], 0x0123456789abcdefULL);
	ASSERT_EQ(p.r.notes.size(), 2u);
	EXPECT_EQ(p.r.notes[1], 7u);
	EXPECT_TRUE(p.r.moves_known && p.r.notes_known);
	ASSERT_EQ(p.r.entries.size(), 3u);
	const feed_entry &note = p.r.entries[0];
	EXPECT_EQ(note.kind, "note");
	EXPECT_TRUE(note.escaped);
	EXPECT_EQ(note.maintainer, "Do \\\\this\\n\\tthen\\r that.");
	EXPECT_EQ(p.r.entries[1].time, 1772971200);
	EXPECT_EQ(p.r.entries[1].commits, "S\tfix <it>\nS\tsecond\n");
	EXPECT_EQ(p.r.entries[2].commits, "");
	EXPECT_EQ(p.r.entries[2].new_version, "");
	EXPECT_EQ(p.r.entries[2].maintainer, "Gone");

	// Written again as read: the same bytes, the note's escapes kept.
	std::string again(feed_record_bound(p.r), '\0');
	char *end = format_feed_record(again.data(), again.data() + again.size(), p.r);
	ASSERT_NE(end, nullptr);
	again.resize(static_cast<std::size_t>(end - again.data()));
	EXPECT_EQ(again, text);
	// Too small a room: null.
	EXPECT_EQ(format_feed_record(again.data(), again.data() + text.size() - 1, p.r),
	    nullptr);
}

TEST(FeedRecord, CutOrAlteredRecordIsNotWhole)
{
	const std::string text = written();
	// Cut after any byte, the end line too.
	for (std::size_t n = 0; n < text.size(); n++)
		EXPECT_FALSE(parsed(text.substr(0, n)).whole) << "cut at " << n;
	// Any byte altered, in the body or in the end line, or one added.
	for (std::size_t i = 0; i < text.size(); i++) {
		std::string altered = text;
		altered[i] = static_cast<char>(altered[i] ^ 0x20);
		EXPECT_FALSE(parsed(altered).whole) << "altered at " << i;
	}
	EXPECT_FALSE(parsed(text + "\n").whole);
	EXPECT_FALSE(parsed(text + text).whole);
	// Lines of another kind, summed as the writer would: not a record.
	for (std::string line : {"X\tfoo\n", "P\ta\tb\n", "M\t123\n",
		 "E\t1\t2026-01-01\tgone\ta\tb\tc\td\n", "HM\tx\n", "HM\n",
		 "S\tnot after an update\n"}) {
		std::string body =
		    text.substr(0, text.rfind('\n', text.size() - 2) + 1) + line;
		std::array<char, 16> sum = hex_of(fnv1a(body));
		std::string forged = body + "end " + std::to_string(body.size()) +
		    " " + std::string(sum.data(), 16) + "\n";
		// Summed so, a line it knows is whole.
		EXPECT_EQ(parsed(forged).whole, line == "HM\n") << line;
	}
	EXPECT_FALSE(parsed("").whole);
	EXPECT_FALSE(parsed("quillmark-feed 3 1\nend 19 0000000000000000\n").whole);
}

// Format 1, without the end line: read when every line is whole, so that a
// site of the version before keeps its feeds; a line cut off is refused.
TEST(FeedRecord, RecordOfFormatOneIsRead)
{
	const std::string v1 = "quillmark-feed 1 1772798400\n"
			       "P\tmisc/a\t1.0\tjoe@example.org\n"
			       "HU\nU\tfedcba9876543210\n"
			       "E\t1772971200\t2026-03-08\tadded\tmisc/a\t\t1.0\tjoe@example.org\n";
	parsed p(v1);
	ASSERT_TRUE(p.whole);
	EXPECT_EQ(p.r.version, 1);
	EXPECT_EQ(p.r.start, 1772798400);
	EXPECT_EQ(p.r.ports.size(), 1u);
	EXPECT_FALSE(p.r.moves_known);
	EXPECT_TRUE(p.r.notes_known);
	ASSERT_EQ(p.r.entries.size(), 1u);
	EXPECT_EQ(p.r.entries[0].new_version, "1.0");
	EXPECT_FALSE(parsed(v1.substr(0, v1.size() - 1)).whole);
	EXPECT_FALSE(parsed(v1.substr(0, v1.size() - 9)).whole);
	EXPECT_FALSE(parsed(v1 + "junk\n").whole);
}
