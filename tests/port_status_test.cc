// A port's status from its Makefile: what is set at the top level, what a
// conditional or a command leaves unknown, and which files are not read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>

#include "catalogue/catalogue.h"
#include "harness.h"
#include "state/state.h"
#include "treedata/port_status.h"

using qmtest::TempDir;

namespace {

// What parse_port_status gives for each variable: its value, or "<unset>".
std::array<std::string, status_var_count>
parse(std::string text)
{
	port_status s = parse_port_status(text.data(), text.size());
	std::array<std::string, status_var_count> values;
	for (std::size_t i = 0; i < status_var_count; i++)
		values[i] = s.values[i] != nullptr ? s.values[i] : "<unset>";
	return values;
}

std::string
value(const std::string &text, status_var v)
{
	return parse(text)[static_cast<std::size_t>(v)];
}

class PortStatusFile : public ::testing::Test {
      protected:
	void SetUp() override
	{
		clean_up();
		dir.mkdir("tree");
		ASSERT_TRUE(copy_text(
		    state.top_dir, sizeof state.top_dir, dir / "tree"));
		ASSERT_TRUE(join_text(state.top_dir_slash,
		    sizeof state.top_dir_slash, {dir / "tree", "/"}));
	}
	void TearDown() override
	{
		release_port_status();
		clean_up();
	}

	// read_port_status on the port directory rel below the tree, with
	// what it says on standard error.
	int read(const std::string &rel, port_status *s, std::string *err)
	{
		testing::internal::CaptureStderr();
		int r = read_port_status((dir / ("tree/" + rel)).c_str(), s);
		*err = testing::internal::GetCapturedStderr();
		return r;
	}

	TempDir dir;
};

} // namespace

TEST(PortStatus, TopLevelAssignmentsWithEveryOperatorAndComment)
{
	auto v = parse("PORTNAME=\tmoosefs-cgi\n"
		       "LICENSE=\t\tGPLv2 # the usual one\n"
		       "\n"
		       "DEPRECATED=\t\tRenamed to ${PORTNAME:S/cgi/gui/}\n"
		       "EXPIRATION_DATE:=\t2026-12-31\n"
		       "BROKEN ?= does not build \\# at all\r\n"
		       "BROKEN ?= second default is ignored\n"
		       "FORBIDDEN=\n"
		       "IGNORE+=\tappended to nothing\n"
		       "DEPRECATED_ARCH=\tnot a status\n"
		       "BROKEN_armv7=\tnot the port's status either\n"
		       "\tDEPRECATED=a command of a target\n"
		       ".include <bsd.port.mk>");
	EXPECT_EQ(v, (std::array<std::string, status_var_count>{
			 "Renamed to ${PORTNAME:S/cgi/gui/}", "2026-12-31",
			 "does not build # at all", "", "appended to nothing",
			 "GPLv2"}));
}

TEST(PortStatus, ConditionalsAndCommandsLeaveValuesUnknown)
{
	std::string text = "BROKEN=\tfirst\n"
			   ".if ${ARCH} == i386\n"
			   "BROKEN=\tonly on i386\n"
			   "DEPRECATED=\tonly on i386\n"
			   ".  for f in a b\n"
			   "LICENSE=\t${f}\n"
			   ".  endfor\n"
			   "IGNORE?=\tdefault inside\n"
			   ".elif defined(X)\n"
			   ".else\n"
			   ".endif\n"
			   ".ifdef FOO\n"
			   ".endif\n"
			   "FORBIDDEN=\tafter the blocks\n"
			   "BROKEN?=\ta default cannot make it known\n"
			   "IGNORE=\tknown again\n"
			   "LICENSE=\tMIT\n"
			   "LICENSE+=\tBSD2CLAUSE\n"
			   "EXPIRATION_DATE!=\tdate +%F\n"
			   ".endif\n"
			   "FORBIDDEN=\tstill top level after a stray .endif\n";
	auto v = parse(text);
	EXPECT_EQ(v, (std::array<std::string, status_var_count>{"<unset>",
			 "<unset>", "<unset>",
			 "still top level after a stray .endif", "known again",
			 "<unset>"}));

	// A .for loop alone is a block too.
	EXPECT_EQ(value(".for x in a b\nBROKEN=\t${x}\n.endfor\n",
		      status_var::broken),
	    "<unset>");
	// A default in a block keeps a value set before it; .undef unsets.
	EXPECT_EQ(value("LICENSE=\tMIT\n.if 1\nLICENSE?=\tother\n.endif\n",
		      status_var::license),
	    "MIT");
	EXPECT_EQ(value("LICENSE=\tMIT\n.undef LICENSE\n", status_var::license),
	    "<unset>");
	EXPECT_EQ(value("LICENSE=\tMIT\n.if 1\n.undef LICENSE\n.endif\n"
			"LICENSE?=\tX\n",
		      status_var::license),
	    "<unset>");
}

TEST(PortStatus, ContinuationLinesJoinWithOneBlank)
{
	EXPECT_EQ(value("DEPRECATED=\tUse editors/foo \\\n"
			"\t\tinstead, \\\n"
			"    it is maintained\n",
		      status_var::deprecated),
	    "Use editors/foo instead, it is maintained");
	// An even number of backslashes ends the line; the last line may
	// end in one.
	EXPECT_EQ(parse("BROKEN=\ta\\\\\nIGNORE=\tb \\"),
	    (std::array<std::string, status_var_count>{"<unset>", "<unset>",
		"a\\\\", "<unset>", "b", "<unset>"}));
	// A comment goes on over its continuation, and a joined directive
	// still opens its block.
	EXPECT_EQ(parse("# a comment \\\nBROKEN=\tin the comment\n"
			".if defined(A) || \\\n  defined(B)\nIGNORE=\tx\n.endif\n"),
	    (std::array<std::string, status_var_count>{"<unset>", "<unset>",
		"<unset>", "<unset>", "<unset>", "<unset>"}));
}

TEST(PortStatus, SlavePortWithoutItsOwnValuesShowsNothing)
{
	auto v = parse("PORTNAME=\tpostgresql\nPORTREVISION=\t1\n"
		       "MASTERDIR=\t${.CURDIR}/../postgresql17-server\n"
		       "BUILD_DEPENDS+=\tdocbook-xml>0:textproc/docbook-xml \\\n"
		       "\t\txsltproc:textproc/libxslt\n"
		       ".include \"${MASTERDIR}/Makefile\"\n");
	for (const std::string &s : v)
		EXPECT_EQ(s, "<unset>");
}

TEST_F(PortStatusFile, ReadsARegularFileUpToItsLimitAndSaysWhyNotAtVerbose)
{
	dir.put("tree/misc/foo/Makefile", "DEPRECATED=\tgone\nLICENSE=\tMIT\n");
	port_status s;
	std::string err;
	ASSERT_EQ(read("misc/foo", &s, &err), 0);
	EXPECT_STREQ(s[status_var::deprecated], "gone");
	EXPECT_STREQ(s[status_var::license], "MIT");
	EXPECT_EQ(s[status_var::broken], nullptr);
	EXPECT_EQ(err, "");

	// The limit itself is read, a byte more is not.
	std::string at_limit(port_makefile_max, '#');
	at_limit.replace(0, 12, "BROKEN=\tyes\n");
	dir.put("tree/misc/big/Makefile", at_limit);
	ASSERT_EQ(read("misc/big", &s, &err), 0);
	EXPECT_STREQ(s[status_var::broken], "yes");
	dir.put("tree/misc/big/Makefile", at_limit + "\n");

	dir.mkdir("tree/misc/fifo");
	ASSERT_EQ(mkfifo((dir / "tree/misc/fifo/Makefile").c_str(), 0644), 0);
	dir.mkdir("tree/misc/none");
	dir.mkdir("tree/misc/out");
	dir.put("outside-Makefile", "BROKEN=\tfrom outside\n");
	ASSERT_EQ(symlink("../../../outside-Makefile",
		      (dir / "tree/misc/out/Makefile").c_str()),
	    0);

	for (int verbosity : {0, 1}) {
		state.verbosity = verbosity;
		std::string all;
		for (const char *port :
		    {"misc/big", "misc/fifo", "misc/none", "misc/out"}) {
			s.values[0] = "stale";
			EXPECT_EQ(read(port, &s, &err), 1) << port;
			for (const char *v : s.values)
				EXPECT_EQ(v, nullptr) << port;
			all += err;
		}
		std::string top = dir.path() + "/tree/misc/";
		EXPECT_EQ(all,
		    verbosity == 0
			? ""
			: top + "big/Makefile: status not read: larger "
				"than 262144 bytes\n" +
			    top + "fifo/Makefile: status not read: not a "
				  "regular file\n" +
			    top + "none/Makefile: status not read: No such "
				  "file or directory\n" +
			    top + "out/Makefile: status not read: the path "
				  "leads out of the ports tree\n");
	}
}
