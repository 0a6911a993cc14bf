// The tree's MOVED list, its UPDATING notes and a port's pkg-message, read
// from made-up texts shaped like the real files.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/state.h"
#include "treedata/moved.h"
#include "treedata/pkg_message.h"
#include "treedata/updating.h"

namespace {

// Runs build at verbosity v and returns what it wrote to standard error.
template <typename Build>
std::string
stderr_of(int v, Build build)
{
	int saved = state.verbosity;
	startup_state().verbosity = v;
	testing::internal::CaptureStderr();
	build();
	startup_state().verbosity = saved;
	return testing::internal::GetCapturedStderr();
}

std::string
moved_text(std::uint32_t e)
{
	const moved_entry &m = moved_at(e);
	return std::string(m.old_origin) + "|" + std::string(m.new_origin) +
	    "|" + std::string(m.date) + "|" + std::string(m.reason) + "@" +
	    std::to_string(m.line);
}

// The earlier names of origin as "old date" words.
std::vector<std::string>
formerly(std::string_view origin)
{
	std::uint32_t found[16];
	moved_query query;
	std::size_t n =
	    moved_formerly(origin, found, std::size(found), &query);
	release_moved_query(&query);
	std::vector<std::string> names;
	for (std::size_t i = 0; i < n && i < std::size(found); i++)
		names.push_back(std::string(moved_at(found[i]).old_origin) +
		    " " + std::string(moved_at(found[i]).date));
	return names;
}

std::string
destination(std::string_view origin)
{
	std::uint32_t e = moved_find(origin);
	if (e == no_moved_entry)
		return "<not moved>";
	std::string_view to = moved_destination(e);
	return to.empty() ? "<removed>" : std::string(to);
}

struct Moved : testing::Test {
	void TearDown() override { moved_release(); }
	void build(const std::string &text)
	{
		kept = text;
		ASSERT_EQ(moved_build(kept, "/ports/MOVED"), 0);
	}
	std::string kept;
};

} // namespace

TEST_F(Moved, ChainsLeadToTheirLastOriginAndEveryCycleEnds)
{
	build("# Port|Moved to|Date|Why\n"
	      "\n"
	      "misc/a|misc/b|2020-01-01|Renamed\n"
	      "net/gone||2020-02-01|Removed: broken\n"
	      "misc/b|devel/c|2021-03-04|Moved to devel\n"
	      "net/x|net/gone|2021-05-05|Use net/gone\n"
	      "misc/x|www/p|2021-06-01|Merged\n"
	      "www/p|www/q|2022-01-01|Renamed\n"
	      "www/q|www/p|2023-01-01|Renamed back\n"
	      "devel/c|devel/d|2024-02-29|Renamed again\n");
	ASSERT_EQ(moved_count(), 8u);
	EXPECT_EQ(moved_text(0), "misc/a|misc/b|2020-01-01|Renamed@3");
	EXPECT_EQ(moved_text(7), "devel/c|devel/d|2024-02-29|Renamed again@10");
	EXPECT_EQ(moved_skipped(), 0u);

	// A chain leads straight to its last origin, or to the removal.
	EXPECT_EQ(destination("misc/a"), "devel/d");
	EXPECT_EQ(destination("misc/b"), "devel/d");
	EXPECT_EQ(destination("devel/c"), "devel/d");
	EXPECT_EQ(destination("net/gone"), "<removed>");
	// net/gone was removed before net/x was moved to it: that removal
	// is not where net/x went.
	EXPECT_EQ(destination("net/x"), "net/gone");
	EXPECT_EQ(destination("devel/d"), "<not moved>");
	// Moved away and back: the chain ends where it began.
	EXPECT_EQ(destination("www/p"), "www/p");
	EXPECT_EQ(destination("www/q"), "www/p");
	EXPECT_EQ(destination("misc/x"), "www/p");

	// Every earlier name along the chains, in MOVED's order, once, and
	// never the port itself.
	EXPECT_EQ(formerly("devel/d"),
	    (std::vector<std::string>{"misc/a 2020-01-01", "misc/b 2021-03-04",
		"devel/c 2024-02-29"}));
	EXPECT_EQ(formerly("devel/c"),
	    (std::vector<std::string>{
		"misc/a 2020-01-01", "misc/b 2021-03-04"}));
	EXPECT_EQ(formerly("www/p"),
	    (std::vector<std::string>{"misc/x 2021-06-01", "www/q 2023-01-01"}));
	EXPECT_EQ(formerly("www/q"),
	    (std::vector<std::string>{"misc/x 2021-06-01", "www/p 2022-01-01"}));
	EXPECT_EQ(formerly("net/gone"),
	    (std::vector<std::string>{"net/x 2021-05-05"}));
	EXPECT_EQ(formerly("misc/a"), std::vector<std::string>{});
	EXPECT_EQ(formerly("lang/unknown"), std::vector<std::string>{});

	// The count is whole even when out has less room.
	std::uint32_t one;
	moved_query query;
	EXPECT_EQ(moved_formerly("devel/d", &one, 1, &query), 3u);
	EXPECT_EQ(one, 0u);
	release_moved_query(&query);
}

TEST_F(Moved, FlavorsNameNoPortAndTheLastLineForAnOriginHolds)
{
	build("graphics/converseen@qt6|graphics/converseen|2025-11-14|"
	      "Unflavorize port\n"
	      "deskutils/fet@qt5|deskutils/fet-qt5|2025-11-16|Split\r\n"
	      "misc/a|misc/b|2020-01-01|First | with a bar\n"
	      "misc/a|misc/c@py311|2021-01-01|Second  \n");
	// A port moved to itself without its flavor has no earlier name.
	EXPECT_EQ(formerly("graphics/converseen"), std::vector<std::string>{});
	EXPECT_EQ(destination("graphics/converseen"), "<not moved>");
	ASSERT_EQ(moved_count(), 2u);
	EXPECT_EQ(moved_text(0), "deskutils/fet|deskutils/fet-qt5|2025-11-16|"
				 "Split@2");
	EXPECT_EQ(moved_text(1), "misc/a|misc/c|2021-01-01|Second@4");
	EXPECT_EQ(formerly("misc/b"), std::vector<std::string>{});
	EXPECT_EQ(formerly("misc/c"),
	    (std::vector<std::string>{"misc/a 2021-01-01"}));

	build("misc/a|misc/b|2020-01-01|First | with a bar\n");
	EXPECT_EQ(moved_text(0), "misc/a|misc/b|2020-01-01|First | with a bar@1");
}

TEST_F(Moved, MalformedLinesAreReportedOnceEachAtVerboseAndSkipped)
{
	const std::string text = "misc/a|misc/b|2020-01-01|Fine\n"
				 "misc/c|misc/d|2020-13-01|Month 13\n"
				 "misc/c|misc/d|2021-02-29|Not a leap year\n"
				 "misc/c|misc/d|2020-02-29|Leap year\n"
				 "misc/e|misc/f\n"
				 "../x|misc/f|2020-01-01|Leaves the tree\n"
				 "misc/g|misc/h/i|2020-01-01|Two slashes\n"
				 "misc|misc/f|2020-01-01|No name\n"
				 "misc/<b>|misc/f|2020-01-01|Markup\n"
				 "misc/g@|misc/h|2020-01-01|Empty flavor\n"
				 "misc/k|misc/l|2020-1-01|Short month";
	std::string err = stderr_of(1, [&] { build(text); });
	EXPECT_EQ(err, "Skipping /ports/MOVED line 2: not a date\n"
		       "Skipping /ports/MOVED line 3: not a date\n"
		       "Skipping /ports/MOVED line 5: not "
		       "old|new|YYYY-MM-DD|reason\n"
		       "Skipping /ports/MOVED line 6: not a port origin\n"
		       "Skipping /ports/MOVED line 7: not a port origin\n"
		       "Skipping /ports/MOVED line 8: not a port origin\n"
		       "Skipping /ports/MOVED line 9: not a port origin\n"
		       "Skipping /ports/MOVED line 10: not a port origin\n"
		       "Skipping /ports/MOVED line 11: not a date\n");
	EXPECT_EQ(moved_count(), 2u);
	EXPECT_EQ(moved_skipped(), 9u);
	EXPECT_EQ(destination("misc/c"), "misc/d");
	EXPECT_EQ(stderr_of(0, [&] { build(text); }), "");

	// A name longer than a directory's can be, as old origin or as new,
	// makes no page: the line is skipped, and its message does not echo
	// it. At the limit it is an origin like any other.
	const std::string n255(255, 'n'), n256(256, 'n');
	const std::string long_names =
	    "misc/" + n256 + "|misc/b|2020-01-01|Long name\n" +
	    n256 + "/a|misc/b|2020-01-01|Long category\n"
		   "misc/a|misc/" +
	    n256 + "|2020-01-01|Long destination\n" + n255 + "/" + n255 +
	    "@" + n256 + "|misc/" + n255 + "|2020-01-01|At the limit\n";
	err = stderr_of(1, [&] { build(long_names); });
	EXPECT_EQ(err,
	    "Skipping /ports/MOVED line 1: not a port origin: a name longer "
	    "than 255 bytes\n"
	    "Skipping /ports/MOVED line 2: not a port origin: a name longer "
	    "than 255 bytes\n"
	    "Skipping /ports/MOVED line 3: not a port origin: a name longer "
	    "than 255 bytes\n");
	EXPECT_EQ(moved_skipped(), 3u);
	ASSERT_EQ(moved_count(), 1u);
	EXPECT_EQ(destination(n255 + "/" + n255), "misc/" + n255);
	EXPECT_EQ(destination("misc/a"), "<not moved>");
	EXPECT_EQ(formerly("misc/b"), std::vector<std::string>{});

	// Nothing at all is no error.
	build("");
	EXPECT_EQ(moved_count(), 0u);
	EXPECT_EQ(formerly("misc/a"), std::vector<std::string>{});
}

namespace {

struct Updating : testing::Test {
	void TearDown() override { updating_release(); }
	void build(const std::string &text)
	{
		kept = text;
		ASSERT_EQ(updating_build(kept, "/ports/UPDATING"), 0);
	}
	// The dates of the notes that name origin, newest first.
	std::vector<std::string> notes_for(std::string_view origin)
	{
		std::uint32_t found[32];
		updating_query query;
		std::size_t n = updating_notes_for(
		    origin, found, std::size(found), &query);
		release_updating_query(&query);
		std::vector<std::string> dates;
		for (std::size_t i = 0; i < n; i++) {
			dates.emplace_back(updating_at(found[i]).date);
			EXPECT_TRUE(updating_note_names(found[i], origin));
		}
		// The index answers what asking every note would.
		std::size_t asked = 0;
		for (std::size_t i = 0; i < updating_count(); i++)
			asked += updating_note_names(i, origin);
		EXPECT_EQ(asked, n) << origin;
		return dates;
	}
	std::string kept;
};

using Dates = std::vector<std::string>;

} // namespace

TEST_F(Updating, NotesAreReadNewestFirstWithTheirHeaderAndBody)
{
	build("This file documents some of the problems you may encounter\n"
	      "when upgrading your ports.\n"
	      "\n"
	      "20160510:\n"
	      "  AFFECTS: Users of biology/seqan\n"
	      "  AUTHOR: someone@example.org\n"
	      "\n"
	      "  The port has been split.\n"
	      "\n"
	      "    # pkg install seqan-apps\n"
	      "\n"
	      "\n"
	      "20160511:\n"
	      "  AFFECTS: users of lang/ruby21 and\n"
	      "\t   ports depending on www/node\n"
	      "  AUTHORS: one@example.org,\n"
	      "\t   two@example.org\r\n"
	      "\r\n"
	      "  Body <b>&amp;</b>\r\n"
	      "20160510:\n"
	      "  AFFECTS: mail/dspam\n"
	      "  SEE: mail/other\n"
	      "  AUTHOR: a@example.org\n");
	ASSERT_EQ(updating_count(), 3u);
	const updating_note &first = updating_at(0);
	EXPECT_EQ(first.date, "20160511");
	EXPECT_EQ(first.line, 13u);
	EXPECT_EQ(first.affects,
	    "users of lang/ruby21 and\n\t   ports depending on www/node");
	EXPECT_EQ(first.author, "one@example.org,\n\t   two@example.org");
	EXPECT_EQ(first.body, "  Body <b>&amp;</b>");
	// Notes of one date stay in the file's order.
	EXPECT_EQ(updating_at(1).line, 4u);
	EXPECT_EQ(updating_at(1).author, "someone@example.org");
	EXPECT_EQ(updating_at(1).body,
	    "  The port has been split.\n\n    # pkg install seqan-apps");
	EXPECT_EQ(updating_at(2).line, 20u);
	EXPECT_EQ(updating_at(2).body, "");
	EXPECT_EQ(updating_skipped(), 0u);
	// A continuation line of AFFECTS names origins too.
	EXPECT_EQ(notes_for("www/node"), Dates{"20160511"});
	EXPECT_EQ(notes_for("mail/dspam"), Dates{"20160510"});
	// A line of another key ends the AFFECTS text.
	EXPECT_EQ(notes_for("mail/other"), Dates{});
}

TEST_F(Updating, AffectsNamesOriginsByEveryFormUsersWrite)
{
	build("20240105:\n  AFFECTS: www/nginx\n\n  exact\n"
	      "20240104:\n  AFFECTS: Users of net/samba42 and net/samba/43\n"
	      "20240103:\n  AFFECTS: All users of lang/python3* or "
	      "lang/py-?\n"
	      "20240102:\n  AFFECTS: print/cups-base, print/cups-client,"
	      "print/cups-image.\n"
	      "20240101:\n  AFFECTS: databases/postgresql?\?-(server|client)\n"
	      "20231231:\n  AFFECTS: x11/{kde,gnome}-{base,apps}\n"
	      "20231230:\n  AFFECTS: everyone\n"
	      "20231229:\n  AFFECTS: Users if databases/influxdb (and "
	      "devel/gettext-*)\n"
	      "20231228:\n  AFFECTS: \"lang/gcc[0-9]\", "
	      "lang/gcc1[!0-3], */py-setuptools\n"
	      "20231227:\n  AFFECTS: https://example.org/x, /usr/local/etc "
	      "and www/nginx\n");
	EXPECT_EQ(notes_for("www/nginx"), (Dates{"20240105", "20231227"}));
	EXPECT_EQ(notes_for("www/nginx-devel"), Dates{});
	EXPECT_EQ(notes_for("net/samba42"), Dates{"20240104"});
	EXPECT_EQ(notes_for("net/samba43"), Dates{});
	// An origin has one '/': the form with two names no port.
	EXPECT_EQ(notes_for("net/samba/43"), Dates{});
	// '*' and '?' stop at the '/' that ends a category.
	EXPECT_EQ(notes_for("lang/python311"), Dates{"20240103"});
	EXPECT_EQ(notes_for("lang/python3"), Dates{"20240103"});
	EXPECT_EQ(notes_for("lang/python2"), Dates{});
	EXPECT_EQ(notes_for("lang/py-a"), Dates{"20240103"});
	EXPECT_EQ(notes_for("lang/py-ab"), Dates{});
	EXPECT_EQ(notes_for("print/cups-base"), Dates{"20240102"});
	EXPECT_EQ(notes_for("print/cups-client"), Dates{"20240102"});
	EXPECT_EQ(notes_for("print/cups-image"), Dates{"20240102"});
	EXPECT_EQ(notes_for("databases/postgresql17-client"),
	    Dates{"20240101"});
	EXPECT_EQ(notes_for("databases/postgresql16-server"),
	    Dates{"20240101"});
	EXPECT_EQ(notes_for("databases/postgresql16-contrib"), Dates{});
	EXPECT_EQ(notes_for("x11/gnome-apps"), Dates{"20231231"});
	EXPECT_EQ(notes_for("x11/kde-base"), Dates{"20231231"});
	EXPECT_EQ(notes_for("x11/kde-gnome"), Dates{});
	EXPECT_EQ(notes_for("databases/influxdb"), Dates{"20231229"});
	EXPECT_EQ(notes_for("devel/gettext-runtime"), Dates{"20231229"});
	EXPECT_EQ(notes_for("lang/gcc9"), Dates{"20231228"});
	EXPECT_EQ(notes_for("lang/gcc14"), Dates{"20231228"});
	EXPECT_EQ(notes_for("lang/gcc13"), Dates{});
	EXPECT_EQ(notes_for("lang/gcc"), Dates{});
	EXPECT_EQ(notes_for("devel/py-setuptools"), Dates{"20231228"});
	EXPECT_EQ(notes_for("everyone"), Dates{});
	EXPECT_EQ(notes_for("usr/local"), Dates{});

	// What was asked marks the notes and forms that answered.
	std::string unmatched;
	for (std::size_t i = 0; i < updating_form_count(); i++)
		if (!updating_form_at(i).matched)
			unmatched += std::string(updating_form_at(i).text) + " ";
	EXPECT_EQ(unmatched, "net/samba/43 ");
	std::string silent;
	for (std::size_t i = 0; i < updating_count(); i++)
		if (!updating_at(i).matched)
			silent += std::string(updating_at(i).date) + " ";
	EXPECT_EQ(silent, "20231230 ");
}

TEST_F(Updating, MalformedNotesAreReportedOnceEachAtVerboseAndSkipped)
{
	const std::string text = "20240101:\n"
				 "  AFFECTS: misc/a\n"
				 "20241301:\n"
				 "  AFFECTS: misc/b\n"
				 "2024010:\n"
				 "  AFFECTS: misc/c\n"
				 "20240102:\n"
				 "  AUTHOR: nobody@example.org\n"
				 "\n"
				 "  AFFECTS: misc/d, as the body says\n"
				 "20240103: \n"
				 "  AFFECTS: misc/{a,b}{c,d}{e,f}{g,h}{i,j}"
				 "{k,l}{m,n} and misc/e\n";
	std::string err = stderr_of(1, [&] { build(text); });
	EXPECT_EQ(err, "Skipping /ports/UPDATING line 3: not a YYYYMMDD: "
		       "line\n"
		       "Skipping /ports/UPDATING line 5: not a YYYYMMDD: "
		       "line\n"
		       "Skipping /ports/UPDATING line 7: no AFFECTS line\n"
		       "Skipping /ports/UPDATING line 12: AFFECTS spells too "
		       "many patterns\n");
	EXPECT_EQ(updating_skipped(), 4u);
	ASSERT_EQ(updating_count(), 2u);
	EXPECT_EQ(notes_for("misc/a"), Dates{"20240101"});
	EXPECT_EQ(notes_for("misc/b"), Dates{});
	EXPECT_EQ(notes_for("misc/d"), Dates{});
	EXPECT_EQ(notes_for("misc/e"), Dates{"20240103"});
	EXPECT_EQ(notes_for("misc/acegikm"), Dates{});
	EXPECT_EQ(stderr_of(0, [&] { build(text); }), "");

	build("");
	EXPECT_EQ(updating_count(), 0u);
	EXPECT_EQ(notes_for("misc/a"), Dates{});
}

TEST(OriginGlob, MatchesAsShellGlobsMatchPathNames)
{
	struct Case {
		std::string_view pattern, origin;
		bool match;
	};
	const Case cases[] = {
	    {"www/nginx", "www/nginx", true},
	    {"www/nginx", "www/nginx2", false},
	    {"www/*", "www/nginx", true},
	    {"*", "www/nginx", false},
	    {"*/*", "www/nginx", true},
	    {"w*w/n*x", "www/nginx", true},
	    {"www/n*x*", "www/nginx", true},
	    {"www/*x*x", "www/nginx", false},
	    {"www/ngin?", "www/nginx", true},
	    {"www?nginx", "www/nginx", false},
	    {"www/[a-m]ginx", "www/nginx", false},
	    {"www/[m-o]ginx", "www/nginx", true},
	    {"www/[!n]ginx", "www/nginx", false},
	    {"www/[^a]ginx", "www/nginx", true},
	    {"www/[]n]ginx", "www/nginx", true},
	    {"www/[n-]ginx", "www/-ginx", true},
	    {"www/[nginx", "www/[nginx", true},
	    {"www/[nginx", "www/nginx", false},
	    {"www/\xc3\xa9[\xc3-\xc3]*", "www/\xc3\xa9\xc3\xa8", true},
	    {"", "", true},
	    {"*", "", true},
	};
	for (const Case &c : cases)
		EXPECT_EQ(origin_glob_matches(c.pattern, c.origin), c.match)
		    << c.pattern << " " << c.origin;
}

TEST(SpellPatterns, BracesAndAlternationsAreSpelledOutInOrder)
{
	auto spelled = [](std::string_view word, bool *ok) {
		std::vector<std::string> out;
		*ok = spell_patterns(
		    word,
		    [](std::string_view p, void *to) {
			    static_cast<std::vector<std::string> *>(to)
				->emplace_back(p);
		    },
		    &out);
		return out;
	};
	bool ok;
	using Words = std::vector<std::string>;
	EXPECT_EQ(spelled("a/{b,c(d|e)}f", &ok),
	    (Words{"a/bf", "a/cdf", "a/cef"}));
	EXPECT_TRUE(ok);
	EXPECT_EQ(spelled("a/{b,}", &ok), (Words{"a/b", "a/"}));
	EXPECT_EQ(spelled("a/{b,{c,d}}", &ok), (Words{"a/b", "a/c", "a/d"}));
	// Openers without their closers stand for themselves.
	EXPECT_EQ(spelled("a/(b{c,d}", &ok), (Words{"a/(bc", "a/(bd"}));
	EXPECT_EQ(spelled("a/{b|c}", &ok), (Words{"a/b|c"}));
	EXPECT_EQ(spelled("a/(b,c)", &ok), (Words{"a/b,c"}));
	// 2^6 patterns fit, 2^7 do not; nor does a word of 256 bytes.
	EXPECT_EQ(spelled("{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}", &ok).size(), 64u);
	EXPECT_TRUE(ok);
	(void)spelled("{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}{a,b}", &ok);
	EXPECT_FALSE(ok);
	EXPECT_EQ(spelled(std::string(255, 'a'), &ok).size(), 1u);
	EXPECT_TRUE(ok);
	EXPECT_EQ(spelled(std::string(256, 'a'), &ok).size(), 0u);
	EXPECT_FALSE(ok);
}

namespace {

struct Message {
	int result = -1;
	pkg_message msg = {};
	std::string err;
	std::string text;
	std::vector<char> room;

	explicit Message(std::string t) : text(std::move(t)), room(text.size())
	{
		err = stderr_of(1, [&] {
			result = read_pkg_message(
			    text, room.data(), "/ports/misc/a/pkg-message", &msg);
		});
	}
	// Each part as "kind [min,max] text".
	std::vector<std::string> parts() const
	{
		constexpr std::string_view kinds[] = {
		    "always", "install", "upgrade", "remove"};
		std::vector<std::string> out;
		for (std::size_t i = 0; i < msg.count; i++) {
			const message_part &p = msg.parts[i];
			out.push_back(std::string(kinds[static_cast<int>(p.kind)]) +
			    " [" + std::string(p.minimum_version) + "," +
			    std::string(p.maximum_version) + "] " +
			    std::string(p.text));
		}
		return out;
	}
};

using Parts = std::vector<std::string>;

} // namespace

TEST(PkgMessage, ListsOfObjectsAreReadWithTheirVersionBounds)
{
	Message m("[\n"
		  "# the messages\n"
		  "{ type: install\n"
		  "  message: <<EOM\n"
		  "Add foo_enable=\"YES\" to /etc/rc.conf.\n"
		  "\n"
		  "  EOM is not the end here\n"
		  "EOM\n"
		  "},\n"
		  "{\n"
		  "  \"type\" = \"upgrade\";\n"
		  "  minimum_version: 1.0\n"
		  "  maximum_version = \"2.0_1\",\n"
		  "  message: \"Tab\\there, \\\"quoted\\\", \\u00e9\\ud83d\\ude00"
		  "\\ud800, \\q\"\n"
		  "  extra: { nested: [1, 2, {x: y}] } /* passed over */\n"
		  "}\n"
		  "{ type: remove, message: 'it\\'s \\gone' // done\n"
		  "}\n"
		  "{ message: <<EOD\r\n"
		  "EOD\n"
		  "}\n"
		  "{ type: reinstall, message: bare }\n"
		  "]\n");
	EXPECT_EQ(m.result, 0);
	EXPECT_EQ(m.err, "");
	EXPECT_EQ(m.msg.form, message_form::ucl);
	EXPECT_EQ(m.parts(),
	    (Parts{"install [,] Add foo_enable=\"YES\" to /etc/rc.conf.\n\n"
		   "  EOM is not the end here",
		"upgrade [1.0,2.0_1] Tab\there, \"quoted\", \xc3\xa9"
		"\xf0\x9f\x98\x80\xef\xbf\xbd, q",
		"remove [,] it's \\gone", "always [,] ", "always [,] bare"}));

	// One object alone is read as a list of one.
	Message one("  { type: install, message: \"hi\" }\n");
	EXPECT_EQ(one.result, 0);
	EXPECT_EQ(one.parts(), Parts{"install [,] hi"});
}

TEST(PkgMessage, PlainTextIsAnInstallMessage)
{
	const std::string text = "Run foo --init as root.\n<b>Really</b>\n";
	Message m(text);
	EXPECT_EQ(m.result, 0);
	EXPECT_EQ(m.msg.form, message_form::plain);
	EXPECT_EQ(m.parts(), Parts{"install [,] " + text});
	Message blank(" \n\t\n");
	EXPECT_EQ(blank.result, 0);
	EXPECT_EQ(blank.msg.count, 0u);
}

TEST(PkgMessage, WhatDoesNotParseIsShownWholeAsTextWithANote)
{
	struct Case {
		std::string text, note;
	};
	std::string many = "[";
	for (int i = 0; i <= 16; i++)
		many += "{message: m}\n";
	many += "]";
	std::string deep = "[{message: m, x: ";
	for (int i = 0; i < 17; i++)
		deep += "[";
	const Case cases[] = {
	    {"[\n{ type: install }\n]", "line 2: an object without a message"},
	    {"[{message: <<EOM\ntext\nEOMX\n}]",
		"line 1: a \"<<\" text without its terminator"},
	    {"[{message: <<eom\ntext\neom\n}]",
		"line 1: \"<<\" not followed by a terminator and a newline"},
	    {"[{message: \"open\n}]",
		"line 2: a string without its closing quote"},
	    {"[{message: m}] trailing", "line 1: text after the messages"},
	    {"[{message: m}", "line 1: a list without its closing ']'"},
	    {"[{message: m", "line 1: an object without its closing '}'"},
	    {"[{message: }]", "line 1: a value missing"},
	    {"[\"m\"]", "line 1: a message object expected"},
	    {"[/* open", "line 1: a comment without its end"},
	    {many, "line 17: more messages than can be shown"},
	    {deep, "line 1: values nested too deep"},
	};
	for (const Case &c : cases) {
		Message m(c.text);
		EXPECT_EQ(m.result, 1) << c.text;
		EXPECT_EQ(m.msg.form, message_form::unparsed);
		EXPECT_EQ(m.parts(), Parts{"install [,] " + c.text});
		EXPECT_EQ(m.err, "Showing /ports/misc/a/pkg-message as text: " +
			c.note + "\n");
	}
	std::string quiet = stderr_of(0, [] {
		char room[8];
		pkg_message msg;
		EXPECT_EQ(read_pkg_message("[{]", room, "x", &msg), 1);
	});
	EXPECT_EQ(quiet, "");
}
