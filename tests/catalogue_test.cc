// The catalogue: category list, INDEX loading and grouping, port lookup.
// Parsers are tested in process on small inputs; start-up failures by
// running the binary.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "harness.h"
#include "state/state.h"
#include "text/bounded.h"

using namespace qmtest;

namespace {

// Resets the run state before and frees what a test loaded after.
class Catalogue : public ::testing::Test {
protected:
	void SetUp() override { clean_up(); }
	void TearDown() override { clean_up(); }

	// Reads dir's Makefiles as start-up does and returns the names.
	std::vector<std::string> categories(const TempDir &dir)
	{
		EXPECT_TRUE(copy_text(
		    startup_state().top_dir, sizeof state.top_dir, dir.path()));
		EXPECT_EQ(read_category_list(), 0);
		std::vector<std::string> names;
		for (const char *n = state.category_list; *n; n = list_next(n))
			names.push_back(n);
		EXPECT_EQ(state.category_count, names.size());
		return names;
	}

	// Loads text as the INDEX and groups it.
	int group(const std::string &text,
	    std::vector<std::string> listed = {"archivers", "devel", "misc"})
	{
		run_state &setting = startup_state();
		char *p = setting.category_list;
		for (auto &n : listed) {
			std::memcpy(p, n.c_str(), n.size() + 1);
			p += n.size() + 1;
			setting.category_count++;
		}
		*p = '\0';
		setting.index_text =
		    static_cast<char *>(std::malloc(text.size() + 1));
		std::memcpy(setting.index_text, text.data(), text.size());
		setting.index_text[text.size()] = '\0';
		setting.index_end = setting.index_text + text.size();
		return group_index();
	}
};

std::string
line(const std::string &dir, const std::string &cats = "",
    const std::string &rest = "||||||")
{
	std::string c = cats.empty() ? dir.substr(0, dir.find('/')) : cats;
	std::string name = dir.substr(dir.find('/') + 1);
	return name + "-1.0|/usr/ports/" + dir + "|/usr/local|" + name +
	    " comment|/usr/ports/" + dir + "/pkg-descr|m@example.org|" + c + rest +
	    "\n";
}

TEST_F(Catalogue, TopMakefileTakesOnlyExactSubdirLines)
{
	TempDir d;
	d.put("Makefile",
	    "SUBDIR += archivers\n#SUBDIR += games\nSUBDIR+=audio\n"
	    "  SUBDIR += devel\nSUBDIR += \nSUBDIR += x11 # window systems\n"
	    "SUBDIR += last");
	EXPECT_EQ(categories(d),
	    (std::vector<std::string>{"archivers", "x11 # window systems", "last"}));
}

TEST_F(Catalogue, LocalMakefileInsertsBeforeFirstLaterName)
{
	TempDir d;
	d.put("Makefile", "SUBDIR += astro\nSUBDIR += devel\nSUBDIR += net\n");
	d.put("Makefile.local", "SUBDIR += games\nSUBDIR += zoo\nSUBDIR += astro\n");
	EXPECT_EQ(categories(d), (std::vector<std::string>{
	    "astro", "astro", "devel", "games", "net", "zoo"}));

	TempDir u;
	u.put("Makefile", "SUBDIR += net\nSUBDIR += devel\n");
	u.put("Makefile.local", "SUBDIR += misc\n");
	clean_up();
	EXPECT_EQ(categories(u), (std::vector<std::string>{"misc", "net", "devel"}));

	TempDir only;
	only.put("Makefile", "# nothing here\n");
	only.put("Makefile.local", "SUBDIR += local\n");
	clean_up();
	EXPECT_EQ(categories(only), (std::vector<std::string>{"local"}));
}

TEST_F(Catalogue, SplitCountsFieldsAndReadsMissingOnesEmpty)
{
	index_record r;
	ASSERT_TRUE(split_index_line("a||b", &r));
	EXPECT_EQ(r.count, 3u);
	EXPECT_EQ(r[index_field::origin], "");
	EXPECT_EQ(r[index_field::prefix], "b");
	EXPECT_TRUE(split_index_line("x|y|", &r));
	EXPECT_EQ(r.count, 2u);
	EXPECT_EQ(r[index_field::origin], "y");
	EXPECT_EQ(r[index_field::prefix], "");
	EXPECT_EQ(r[index_field::website], "");
	EXPECT_TRUE(split_index_line("1|2|3|4|5|6|7|8|9|10|11|12|13|14", &r));
	EXPECT_EQ(r[index_field::fetch_depends], "13");
	EXPECT_EQ(r[index_field::extra], "14");
	EXPECT_FALSE(split_index_line("1|2|3|4|5|6|7|8|9|10|11|12|13|14|15", &r));
	// Only as far as asked.
	EXPECT_TRUE(split_index_line("a|b|c|d", &r, index_field::origin));
	EXPECT_EQ(r[index_field::origin], "b");
	EXPECT_EQ(r[index_field::prefix], "");

	std::vector<std::string> words;
	field_words each("  gmake-4.3 perl5-5.36  x ");
	for (std::string_view w; each.next(&w);)
		words.emplace_back(w);
	EXPECT_EQ(words, (std::vector<std::string>{"gmake-4.3", "perl5-5.36", "x"}));
}

TEST_F(Catalogue, GroupsFollowPrimaryCategoryRuns)
{
	std::string text = line("devel/a") + line("devel/b", "devel lang") +
	    line("misc/c", "misc devel") + line("devel/d");
	ASSERT_EQ(group(text), 0);
	ASSERT_EQ(state.group_count, 3u);
	for (auto [g, name] : {std::pair{0, "devel"}, {1, "misc"}, {2, "devel"}}) {
		index_record r;
		ASSERT_TRUE(split_index_line(state.category_groups[g], &r));
		EXPECT_EQ(primary_category(r), name);
	}
	EXPECT_EQ(state.category_groups[3], nullptr);
}

TEST_F(Catalogue, MoreGroupsThanCategoriesIsNoError)
{
	std::string text = line("archivers/a") + line("devel/b") + line("misc/c") +
	    line("net/d") + line("www/e");
	ASSERT_EQ(group(text, {}), 0);
	EXPECT_EQ(state.group_count, 5u);
}

TEST_F(Catalogue, FinalNewlineMakesNoDifference)
{
	std::string text = line("devel/a") + line("misc/b");
	ASSERT_EQ(group(text.substr(0, text.size() - 1)), 0);
	EXPECT_EQ(state.group_count, 2u);
	EXPECT_STREQ(state.category_groups[1], line("misc/b").substr(0,
	    line("misc/b").size() - 1).c_str());
}

TEST_F(Catalogue, EmptyIndexHasNoGroups)
{
	ASSERT_EQ(group(""), 0);
	EXPECT_EQ(state.category_groups[0], nullptr);
	testing::internal::CaptureStderr();
	category_scan scan;
	EXPECT_EQ(select_category("devel", &scan), 1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "No such category: devel\n");
}

TEST_F(Catalogue, BadLinesAreRejectedWithTheirNumber)
{
	struct Case {
		std::string text;
		std::string message;
	};
	std::string good = line("devel/a");
	std::string long_cat(32, 'c');
	std::vector<Case> cases = {
	    {good + "x|/usr/ports/devel/x|p|comment||m|devel\n",
		"Error in index file line 2: line = \"x|/usr/ports/devel/x|p|comment||m|devel\"\n"},
	    {good + "x|/usr/ports/devel/x|p||d|m|devel\n",
		"Error in index file line 2: line = \"x|/usr/ports/devel/x|p||d|m|devel\"\n"},
	    {"x|y|z|c|d|m\n", "Error in index file line 1: line = \"x|y|z|c|d|m\"\n"},
	    {good + "\n" + good, "Error in index file line 2: line = \"\"\n"},
	    {"\n" + good, "Error in index file line 1: line = \"\"\n"},
	    {good + "\n", "Error in index file line 2: line = \"\"\n"},
	    {"a|b|c|d|e|f|" + long_cat + "\n",
		"Error in index file line 1: line = \"a|b|c|d|e|f|" + long_cat + "\"\n"},
	    {"a|b|c|d|e|f|g|8|9|10|11|12|13|14|15\n",
		"Error in index file line 1: line = \"a|b|c|d|e|f|g|8|9|10|11|12|13|14|15\"\n"},
	    {std::string("a|b|c|d|e|f|g\0h\n", 16),
		"Error in index file line 1: line = \"a|b|c|d|e|f|g\"\n"},
	};
	for (auto &c : cases) {
		TearDown();
		SetUp();
		testing::internal::CaptureStderr();
		EXPECT_EQ(group(c.text), -1) << c.message;
		EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
	}
}

TEST_F(Catalogue, LongestLineThatFitsIsAccepted)
{
	std::string head = "a|/usr/ports/devel/a|p|c|d|m|devel|";
	std::string fits = head + std::string(index_line_max - head.size(), 'x');
	ASSERT_EQ(group(fits + "\n"), 0);
	TearDown();
	SetUp();
	testing::internal::CaptureStderr();
	EXPECT_EQ(group(fits + "x\n"), -1);
	EXPECT_NE(testing::internal::GetCapturedStderr().find("line 1:"),
	    std::string::npos);
}

TEST_F(Catalogue, CategoriesSelectTheirGroupByName)
{
	// devel has no INDEX lines: misc must still get misc's group.
	ASSERT_EQ(group(line("archivers/a") + line("misc/b") + line("misc/c")), 0);
	strcpy(startup_state().top_dir, "/usr/ports");
	category_scan scan;
	index_record r;
	ASSERT_EQ(select_category("misc", &scan), 0);
	EXPECT_TRUE(find_port(&scan, "/usr/ports/misc/b", &r));
	EXPECT_EQ(r[index_field::package], "b-1.0");
	testing::internal::CaptureStderr();
	EXPECT_EQ(select_category("devel", &scan), 1);
	EXPECT_EQ(select_category("www", &scan), 1);	// not listed
	EXPECT_EQ(testing::internal::GetCapturedStderr(),
	    "No such category: devel\nNo such category: www\n");
}

TEST_F(Catalogue, UnlistedGroupIsNotSelectable)
{
	ASSERT_EQ(group(line("net/a")), 0);
	testing::internal::CaptureStderr();
	category_scan scan;
	EXPECT_EQ(select_category("net", &scan), 1);
	EXPECT_EQ(testing::internal::GetCapturedStderr(), "No such category: net\n");
}

TEST_F(Catalogue, LookupMovesForwardAndFindsOutOfOrderPorts)
{
	ASSERT_EQ(group(line("archivers/z") + line("devel/a") + line("devel/b") +
	    line("devel/c") + line("misc/m")), 0);
	strcpy(startup_state().top_dir, "/home/me/ports");
	category_scan scan;
	index_record r;
	ASSERT_EQ(select_category("devel", &scan), 0);
	EXPECT_TRUE(find_port(&scan, "/home/me/ports/devel/b", &r));
	EXPECT_EQ(scan.cursor, state.category_groups[1] +
	    line("devel/a").size() + line("devel/b").size());
	// a stands before the cursor: found by the second pass.
	EXPECT_TRUE(find_port(&scan, "/home/me/ports/devel/a", &r));
	EXPECT_EQ(r[index_field::package], "a-1.0");
	EXPECT_TRUE(find_port(&scan, "/home/me/ports/devel/c", &r));
	// Not in this group, nor a prefix match; nothing changes.
	char *cursor = scan.cursor;
	EXPECT_FALSE(find_port(&scan, "/home/me/ports/misc/m", &r));
	EXPECT_FALSE(find_port(&scan, "/home/me/ports/devel/a-devel", &r));
	EXPECT_FALSE(find_port(&scan, "/home/me/ports/devel", &r));
	EXPECT_EQ(scan.cursor, cursor);
	EXPECT_EQ(r[index_field::package], "c-1.0");
}

TEST_F(Catalogue, LastGroupRunsToTheEndOfTheText)
{
	ASSERT_EQ(group(line("devel/a") + line("misc/b") + line("misc/c")), 0);
	strcpy(startup_state().top_dir, "/usr/ports");
	category_scan scan;
	index_record r;
	ASSERT_EQ(select_category("misc", &scan), 0);
	EXPECT_EQ(scan.end, nullptr);
	EXPECT_TRUE(find_port(&scan, "/usr/ports/misc/c", &r));
	EXPECT_FALSE(find_port(&scan, "/usr/ports/misc/x", &r));
	EXPECT_TRUE(find_port(&scan, "/usr/ports/misc/b", &r));
	EXPECT_TRUE(find_port(&scan, "/usr/ports/misc/c", &r));
}

// Start-up failures, as a user meets them: messages and status 255.
class StartUp : public ::testing::Test {
protected:
	TempDir d;
	void SetUp() override
	{
		put_small_tree(d, "ports");
		put_simple_templates(d, "tpl");
	}
	Result run(std::vector<std::string> extra = {}, RunOptions o = {})
	{
		std::vector<std::string> args = {"-p", d / "ports", "-t", d / "tpl"};
		args.insert(args.end(), extra.begin(), extra.end());
		return run_tool(args, o);
	}
};

TEST_F(StartUp, MissingTopMakefile)
{
	std::remove((d / "ports/Makefile").c_str());
	Result r = run();
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, d / "ports/Makefile" +
	    ": No such file or directory\nUnable to open top-level ports Makefile\n");
	EXPECT_EQ(r.out, "");
	EXPECT_FALSE(d.exists("ports/README.html"));

	// A top named with -p needs no hint at a terminal either.
	RunOptions o;
	o.err_on_terminal = true;
	EXPECT_EQ(run({}, o).err, d / "ports/Makefile" +
	    ": No such file or directory\nUnable to open top-level ports Makefile\n");
}

TEST_F(StartUp, MissingIndexNamedForTheRelease)
{
	RunOptions o;
	o.env = {"PATH=/usr/bin:/bin", "UNAME_r=9.3-STABLE"};
	Result r = run({"-vv"}, o);
	EXPECT_EQ(r.status, 255);
	std::string index = d / "ports/INDEX-9";
	EXPECT_NE(r.err.find(index + ": No such file or directory\n"
	    "Unable to load the index file!\n"), std::string::npos) << r.err;

	o.env = {"PATH=/usr/bin:/bin", "UNAME_r=CURRENT"};
	r = run({}, o);
	EXPECT_EQ(r.err, d / "ports/INDEX-" +
	    ": No such file or directory\nUnable to load the index file!\n");

	// At a terminal, hints follow: the release the name came from, the
	// INDEX files the tree has (in release order, nothing else named
	// so), and the remedies. Not at a terminal, as above: none.
	d.put("ports/INDEX-14", "x\n");
	d.put("ports/INDEX-15.old", "");
	d.put("ports/INDEX-", "");
	o.env = {"PATH=/usr/bin:/bin", "UNAME_r=9.3-STABLE"};
	o.err_on_terminal = true;
	r = run({}, o);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, index + ": No such file or directory\n"
	    "Unable to load the index file!\n"
	    "hint: INDEX-9 is named for the release 9.3-STABLE (UNAME_r)\n"
	    "hint: the tree has INDEX-14 and INDEX-15\n"
	    "hint: for a tree made for another release, set UNAME_r: "
	    "UNAME_r=15.0-RELEASE reads INDEX-15\n"
	    "hint: on FreeBSD, make the running release's INDEX as root in " +
	    d / "ports" + ": make fetchindex\n");

	// A bad INDEX is no missing one: no hint.
	o.env = {"PATH=/usr/bin:/bin", "UNAME_r=14.1-RELEASE"};
	r = run({}, o);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err.find("hint:"), std::string::npos) << r.err;
}

TEST_F(StartUp, LoadingIsReportedAtVerbosityTwo)
{
	Result r = run_tool({"-vv", "-p", d / "ports", "-t", d / "tpl", "misc/foo"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Increasing verbosity level\n"
	    "Setting top-level directory to \"" + d / "ports" + "\"\n"
	    "Setting templates directory to \"" + d / "tpl" + "\"\n"
	    "Loading " + d / "ports/INDEX-15" + "\n"
	    "Loading " + d / "tpl/README.port" + "\n");
	r = run_tool({"-v", "-p", d / "ports", "-t", d / "tpl", "misc/foo"});
	EXPECT_EQ(r.err.find("Loading"), std::string::npos);
}

TEST_F(StartUp, BadIndexLineEndsTheRunBeforeAnyReadme)
{
	std::string index = d.get("ports/INDEX-15");
	d.put("ports/INDEX-15", index + "broken|/usr/ports/misc/broken\n");
	Result r = run();
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, "Error in index file line 4: line = "
	    "\"broken|/usr/ports/misc/broken\"\n");
	EXPECT_FALSE(d.exists("ports/README.html"));
	EXPECT_FALSE(d.exists("ports/misc/foo/README.html"));
}

TEST_F(StartUp, UnsafeAndOverlongCategoryNames)
{
	d.put("ports/Makefile.local",
	    "SUBDIR += ..\nSUBDIR += .\nSUBDIR += a/b\nSUBDIR += \n");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	std::string mk = d / "ports/Makefile.local";
	EXPECT_EQ(r.err, "Skipping unsafe name \"..\" in " + mk + "\n"
	    "Skipping unsafe name \".\" in " + mk + "\n"
	    "Skipping unsafe name \"a/b\" in " + mk + "\n");

	std::string many;
	for (int i = 0; i < 300; i++)
		many += "SUBDIR += category" + std::to_string(i) + "\n";
	d.put("ports/Makefile", many);
	std::remove((d / "ports/README.html").c_str());
	r = run({"-q"});
	EXPECT_EQ(r.status, 255);
	EXPECT_NE(r.err.find(d / "ports/Makefile:"), std::string::npos) << r.err;
	EXPECT_FALSE(d.exists("ports/README.html"));
}

TEST_F(StartUp, UnusableTemplatesDirectory)
{
	d.put("file", "x");
	Result r = run_tool({"-p", d / "ports", "-t", d / "file"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, d / "file is not a directory\nInvalid pathname argument: \"" +
	    d / "file" + "\"\n");
}

}  // namespace
