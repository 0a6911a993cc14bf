// README generation as a user meets it: whole-tree, category and port
// requests on small trees, compared byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace qmtest;

namespace {

class Readme : public ::testing::Test {
protected:
	TempDir d;
	std::string top = d / "ports";

	void SetUp() override
	{
		put_small_tree(d, "ports");
		put_simple_templates(d, "tpl");
	}
	Result run(std::vector<std::string> args, RunOptions o = {})
	{
		std::vector<std::string> all = {"-p", top, "-t", d / "tpl"};
		all.insert(all.end(), args.begin(), args.end());
		return run_tool(all, o);
	}
	// foo's page from a port template of its description alone, made by
	// a quiet run for the port.
	std::string described(const std::string &text)
	{
		d.put("ports/misc/foo/pkg-descr", text);
		d.put("tpl/README.port", "%%DESCR_HTML%%");
		Result r = run({"-q", "misc/foo"});
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out + r.err, "");
		return d.get("ports/misc/foo/README.html");
	}
	std::string port_line(const std::string &pkg, const std::string &port,
	    const std::string &comment, const std::string &descr,
	    const std::string &email, const std::string &build = "",
	    const std::string &run_deps = "", const std::string &web = "")
	{
		return "port [" + pkg + "] [" + port + "] [" + comment + "] [" +
		    descr + "] [" + email + "] [" + build + "] [" + run_deps + "] [" +
		    web + "] [" + top + "]\n";
	}
};

TEST_F(Readme, WholeTreeWritesEveryPageAndProgressLines)
{
	Result r = run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, "Making top-level README.html in " + top + " (2 categories)\n"
	    "Making README.html for category archivers (1 ports)\n"
	    "Making README.html for category misc (2 ports)\n");
	EXPECT_EQ(d.get("ports/README.html"), "top\n"
	    "<a href=\"archivers/README.html\">archivers</a>: Archivers & compression\n"
	    "<a href=\"misc/README.html\">misc</a>: Miscellaneous utilities\n"
	    "end\n");
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    "cat [misc] [Miscellaneous utilities (2 ports)]\n"
	    "<a href=\"bar/README.html\">bar-2.3</a>: Bar &lt;beta&gt;\n"
	    "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar tools\n"
	    "end\n");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    port_line("zip-3.0", "archivers/zip", "Create zip archives",
		top + "/archivers/zip/pkg-descr", "arch@example.org", "", "",
		" or <a href=\"https://zip.example.org/\">visit the website</a>"));
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    port_line("bar-2.3", "misc/bar", "Bar &lt;beta&gt;",
		top + "/misc/bar/pkg-descr", "misc@example.org",
		"This port requires the following ports to build:<br><br>gmake-4.4",
		"This port requires the following ports to run:<br><br>zip-3.0 foo-1.0"));

	// "." from the top is a top request too, counted like any pathname.
	RunOptions o;
	o.cwd = top;
	r = run({"-q", "."}, o);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
}

TEST_F(Readme, PortProgressLinesDependOnKindAndVerbosity)
{
	EXPECT_EQ(run({"misc/foo"}).out, "Making README.html for port misc/foo\n");
	EXPECT_EQ(run({"-q", "misc/foo"}).out, "");
	EXPECT_EQ(run({"-vv", "misc"}).out,
	    "Making README.html for category misc (2 ports)\n");
	EXPECT_EQ(run({"-vvv", "misc"}).out,
	    "Making README.html for category misc (2 ports)\n"
	    "Making README.html for port misc/bar\n"
	    "Making README.html for port misc/foo\n");
	EXPECT_EQ(run({"-vvv"}).out,
	    "Making top-level README.html in " + top + " (2 categories)\n"
	    "Making README.html for category archivers (1 ports)\n"
	    "Making README.html for port archivers/zip\n"
	    "Making README.html for category misc (2 ports)\n"
	    "Making README.html for port misc/bar\n"
	    "Making README.html for port misc/foo\n");
	Result r = run({"-q"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.status, 0);
}

TEST_F(Readme, PortFieldsAsTheIndexHoldsThem)
{
	// Descriptions outside /usr/ports get the top in front all the same;
	// the test is a plain text prefix. Only the comment is escaped.
	d.put("ports/INDEX-15",
	    "a-1|/usr/ports/misc/a|/usr/local|A & <b>|/opt/x/pkg-descr|m&<@x|misc|"
	    "x<y|%%TOP%%|http://a/?q=1&r=<2>\n"
	    "b-1|/usr/ports/misc/b|/usr/local|B|/usr/ports2/x|m@x|misc\n");
	d.put("ports/misc/Makefile", "    COMMENT = M\n    SUBDIR += a\n    SUBDIR += b\n");
	d.mkdir("ports/misc/a");
	d.mkdir("ports/misc/b");
	Result r = run({"-q", "misc/a", "misc/b"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/misc/a/README.html"),
	    port_line("a-1", "misc/a", "A &amp; &lt;b&gt;", top + "/opt/x/pkg-descr",
		"m&<@x", "This port requires the following ports to build:<br><br>x<y",
		"This port requires the following ports to run:<br><br>%%TOP%%",
		" or <a href=\"http://a/?q=1&r=<2>\">visit the website</a>"));
	// Fields 8 to 10 are absent from b's line: they read as empty.
	EXPECT_EQ(d.get("ports/misc/b/README.html"),
	    port_line("b-1", "misc/b", "B", top + "2/x", "m@x"));
}

TEST_F(Readme, PortRequestFailuresTouchNothing)
{
	d.mkdir("ports/misc/gone");
	d.put("ports/misc/gone/README.html", "old");
	d.mkdir("ports/nocat/x");
	// Field 2 ends at its '|': the line of misc/a is no line of "a|b".
	d.put("ports/INDEX-15", d.get("ports/INDEX-15") +
	    "a-1|/usr/ports/misc/a|b|A|/usr/ports/misc/a/pkg-descr|a@x|misc\n");
	d.mkdir("ports/misc/a|b");
	Result r = run({"misc/gone", "nocat/x", "misc/a|b"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "Port misc/gone not found in INDEX\nNo such category: nocat\n"
	    "Port misc/a|b not found in INDEX\n");
	EXPECT_EQ(d.get("ports/misc/gone/README.html"), "old");
	EXPECT_FALSE(d.exists("ports/nocat/x/README.html"));
	EXPECT_FALSE(d.exists("ports/misc/a|b/README.html"));
}

TEST_F(Readme, DeepPortPathIsLookedUpWhole)
{
	std::string index = d.get("ports/INDEX-15");
	d.put("ports/INDEX-15", index +
	    "deep-1|/usr/ports/misc/sub/deep|/usr/local|Deep|/usr/ports/misc/sub/deep/pkg-descr|d@x|misc\n");
	d.mkdir("ports/misc/sub/deep");
	Result r = run({"misc/sub/deep"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "Making README.html for port misc/sub/deep\n");
	EXPECT_EQ(d.get("ports/misc/sub/deep/README.html"),
	    port_line("deep-1", "misc/sub/deep", "Deep",
		top + "/misc/sub/deep/pkg-descr", "d@x"));
}

TEST_F(Readme, CategoryMakefileLines)
{
	// Only "    SUBDIR += " lines after the first "    COMMENT = " count,
	// indented by exactly four spaces; values keep every byte but the
	// newline.
	d.put("ports/misc/Makefile",
	    "    SUBDIR += early\n"
	    "\tCOMMENT = tabbed\n"
	    "   COMMENT = three\n"
	    "    COMMENT = Misc & more \r\n"
	    "    COMMENT = second\n"
	    "\tSUBDIR += tabbed\n"
	    "     SUBDIR += five\n"
	    "    SUBDIR += bar\n"
	    "    SUBDIR += \n"
	    "    SUBDIR += foo");
	Result r = run({"misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Making README.html for category misc (2 ports)\n");
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    "cat [misc] [Misc & more \r (2 ports)]\n"
	    "<a href=\"bar/README.html\">bar-2.3</a>: Bar &lt;beta&gt;\n"
	    "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar tools\n"
	    "end\n");
}

TEST_F(Readme, CategoryWithoutCommentHasNoPortsAndNoBorrowedComment)
{
	d.put("ports/misc/Makefile", "    SUBDIR += bar\n    SUBDIR += foo\n");
	Result r = run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Making top-level README.html in " + top + " (2 categories)\n"
	    "Making README.html for category archivers (1 ports)\n"
	    "Making README.html for category misc (0 ports)\n");
	EXPECT_EQ(d.get("ports/misc/README.html"), "cat [misc] [ (0 ports)]\nend\n");
	EXPECT_EQ(d.get("ports/README.html"), "top\n"
	    "<a href=\"archivers/README.html\">archivers</a>: Archivers & compression\n"
	    "<a href=\"misc/README.html\">misc</a>: \n"
	    "end\n");
	EXPECT_FALSE(d.exists("ports/misc/foo/README.html"));
}

TEST_F(Readme, PortMissingFromIndexCountsButGetsNoLinkLine)
{
	d.put("ports/misc/Makefile",
	    "    COMMENT = M\n    SUBDIR += gone\n    SUBDIR += foo\n    SUBDIR += bar\n");
	d.mkdir("ports/misc/gone");
	Result r = run({"misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Port misc/gone not found in INDEX\n");
	// foo comes before bar here although its INDEX line comes after: both
	// are found.
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    "cat [misc] [M (3 ports)]\n"
	    "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar tools\n"
	    "<a href=\"bar/README.html\">bar-2.3</a>: Bar &lt;beta&gt;\n"
	    "end\n");
	EXPECT_FALSE(d.exists("ports/misc/gone/README.html"));
	EXPECT_TRUE(d.exists("ports/misc/bar/README.html"));

	// Each lookup takes the first line from behind the last one found to
	// the group's end, else the first from its head, in any order.
	std::string index;
	for (std::string p : {"a-1", "b-1", "c-1", "b-2", "d-1"})
		index += p + "|/usr/ports/misc/" + p[0] + "|/|C|D|E|misc\n";
	d.put("ports/INDEX-15", index);
	d.put("ports/misc/Makefile", "    COMMENT = M\n");
	std::string links;
	for (std::string p :
	    {"b-1", "b-2", "d-1", "c-1", "x", "b-2", "a-1", "b-1"}) {
		d.put("ports/misc/Makefile", d.get("ports/misc/Makefile") +
		    "    SUBDIR += " + p[0] + "\n");
		d.mkdir("ports/misc/" + p.substr(0, 1));
		if (p != "x")
			links += "<a href=\"" + p.substr(0, 1) + "/README.html\">" +
			    p + "</a>: C\n";
	}
	d.put("tpl/README.category", "%%SUBDIR%%");
	r = run({"misc"});
	EXPECT_EQ(r.err, "Port misc/x not found in INDEX\n");
	EXPECT_EQ(d.get("ports/misc/README.html"), links);

	// A group of 8, 16, 32 or 64 lines, as many as the lookup may ever
	// index in a table of that many slots, asked for a port it lacks:
	// the lookup ends all the same. A run that hangs is killed and fails.
	RunOptions guard;
	guard.timeout_seconds = 30;
	for (int n : {8, 16, 32, 64}) {
		std::string makefile = "    COMMENT = M\n";
		index.clear();
		links.clear();
		for (int i = 0; i < n; i++) {
			std::string p = "p" + std::to_string(i);
			index += p + "-1|/usr/ports/misc/" + p + "|/|C|D|E|misc\n";
			makefile += "    SUBDIR += " + p + "\n";
			d.mkdir("ports/misc/" + p);
			links += "<a href=\"" + p + "/README.html\">" + p + "-1</a>: C\n";
		}
		d.put("ports/INDEX-15", index);
		d.put("ports/misc/Makefile", makefile + "    SUBDIR += x\n");
		r = run({"misc"}, guard);
		EXPECT_EQ(r.status, 0) << n;
		EXPECT_EQ(r.out, "Making README.html for category misc (" +
		    std::to_string(n + 1) + " ports)\n") << n;
		EXPECT_EQ(r.err, "Port misc/x not found in INDEX\n") << n;
		EXPECT_EQ(d.get("ports/misc/README.html"), links) << n;
		if (HasFailure())
			break; // one hang is enough
	}
}

TEST_F(Readme, CategoryFailuresStillGetTopLinkLines)
{
	std::remove((d / "ports/archivers/Makefile").c_str());
	d.put("ports/Makefile", "SUBDIR += archivers\nSUBDIR += misc\nSUBDIR += empty\n");
	d.mkdir("ports/empty");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, d / "ports/archivers/Makefile: No such file or directory\n"
	    "No such category: empty\n");
	EXPECT_EQ(d.get("ports/README.html"), "top\n"
	    "<a href=\"archivers/README.html\">archivers</a>: \n"
	    "<a href=\"misc/README.html\">misc</a>: Miscellaneous utilities\n"
	    "<a href=\"empty/README.html\">empty</a>: \n"
	    "end\n");
	EXPECT_FALSE(d.exists("ports/archivers/README.html"));
	EXPECT_FALSE(d.exists("ports/empty/README.html"));
	// A category request that fails counts one.
	r = run({"-q", "archivers", "misc"});
	EXPECT_EQ(r.status, 1);
}

TEST_F(Readme, TemplateExpansionEdgeCases)
{
	d.put("tpl/README.port",
	    "100% %% %%PKG% %%pkg%% %%%PKG%% %%PREFIX%%%%CATEGORY%%%%SUBDIR%%|%%PKG%%");
	d.put("tpl/README.category", "%%PKG%%%%PORT%%%%TOP%%%%PREFIX%%[%%CATEGORY%%]%%SUBDIR%%");
	d.put("tpl/README.top", "%%SUBDIR%%");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "100% %% %%PKG% %%pkg%% %foo-1.0 |foo-1.0");
	EXPECT_EQ(d.get("ports/misc/README.html"), "[misc]"
	    "<a href=\"bar/README.html\">bar-2.3</a>: Bar &lt;beta&gt;\n"
	    "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar tools\n");
	// An empty template makes an empty file.
	d.put("tpl/README.top", "");
	EXPECT_EQ(run({"-q"}).status, 0);
	EXPECT_EQ(d.get("ports/README.html"), "");
}

TEST_F(Readme, TemplatesWithoutSubdirMakeNothingBelow)
{
	d.put("tpl/README.top", "%%TOP%%%%COMMENT%%%%CATEGORY%%only");
	Result r = run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Making top-level README.html in " + top + " (2 categories)\n");
	EXPECT_EQ(d.get("ports/README.html"), "only");
	EXPECT_FALSE(d.exists("ports/misc/README.html"));

	d.put("tpl/README.category", "no ports");
	r = run({"misc"});
	EXPECT_EQ(d.get("ports/misc/README.html"), "no ports");
	EXPECT_FALSE(d.exists("ports/misc/foo/README.html"));
}

TEST_F(Readme, SubdirTwiceMakesEverythingTwice)
{
	d.put("tpl/README.category", "%%SUBDIR%%--\n%%SUBDIR%%");
	Result r = run({"-vvv", "archivers"});
	EXPECT_EQ(r.out, "Making README.html for category archivers (1 ports)\n"
	    "Making README.html for port archivers/zip\n"
	    "Making README.html for port archivers/zip\n");
	EXPECT_EQ(d.get("ports/archivers/README.html"),
	    "<a href=\"zip/README.html\">zip-3.0</a>: Create zip archives\n--\n"
	    "<a href=\"zip/README.html\">zip-3.0</a>: Create zip archives\n");
}

TEST_F(Readme, TemplatesLoadInEachKindsOrderAndReload)
{
	std::remove((d / "tpl/README.port").c_str());
	// A port request needs README.port only; each request tries again.
	Result r = run({"-vv", "misc/foo", "misc/bar"});
	EXPECT_EQ(r.status, 2);
	std::string port = d / "tpl/README.port";
	std::string msg = port + ": No such file or directory\n";
	EXPECT_EQ(r.err, "Increasing verbosity level\nLoading " + d / "ports/INDEX-15" +
	    "\n" + msg + msg);

	// A whole-tree request stops at README.port, before the others.
	r = run({});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, port + ": No such file or directory\n");
	EXPECT_EQ(r.out, "");

	// With README.port back, a port request needs nothing else.
	put_simple_templates(d, "tpl");
	std::remove((d / "tpl/README.category").c_str());
	std::remove((d / "tpl/README.top").c_str());
	EXPECT_EQ(run({"-q", "misc/foo"}).status, 0);
	r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, d / "tpl/README.category: No such file or directory\n");
	r = run({"-q"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, d / "tpl/README.category: No such file or directory\n");
}

TEST_F(Readme, ExistingReadmeIsTruncatedKeepingItsMode)
{
	d.put("ports/misc/foo/README.html", std::string(10000, 'x'));
	chmod((d / "ports/misc/foo/README.html").c_str(), 0600);
	ASSERT_EQ(run({"-q", "misc/foo"}).status, 0);
	struct stat st;
	ASSERT_EQ(stat((d / "ports/misc/foo/README.html").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0600u);
	EXPECT_EQ(d.get("ports/misc/foo/README.html").size(),
	    port_line("foo-1.0", "misc/foo", "Foo &amp; Bar tools",
		top + "/misc/foo/pkg-descr", "misc@example.org").size());
	ASSERT_EQ(stat((d / "ports/misc/bar").c_str(), &st), 0);
	ASSERT_EQ(run({"-q", "misc/bar"}).status, 0);
	ASSERT_EQ(stat((d / "ports/misc/bar/README.html").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 0777, 0644u & ~0022u);
}

TEST_F(Readme, ExtensionsShowDescriptionsDependencyLinksAndDependents)
{
	// zip is required by three ports, bar by none; gmake and x<y are not
	// in the INDEX. zip's description is a FIFO, bar's and deep's lead
	// out of the tree, the first by "..", the second by a link.
	d.put("ports/INDEX-15", d.get("ports/INDEX-15") +
	    "deep-1|/usr/ports/misc/sub/deep|/usr/local|Deep|"
	    "/usr/ports/misc/sub/deep/pkg-descr|d@x|misc|zip-3.0  foo-1.0\n");
	std::string index = d.get("ports/INDEX-15");
	index.replace(index.find("/usr/ports/misc/bar/pkg-descr"), 29, "/usr/ports/../secret");
	index.replace(index.find("gmake-4.4"), 9, "gmake-4.4 x<y");
	index.replace(index.find("sysutils||"), 10, "sysutils|zip-3.0|");
	d.put("ports/INDEX-15", index);
	d.put("secret", "SECRET");
	d.put("ports/misc/foo/pkg-descr", "Foo & <more>\n\n  line three\n");
	ASSERT_EQ(mkfifo((d / "ports/archivers/zip/pkg-descr").c_str(), 0644), 0);
	d.mkdir("ports/misc/sub/deep");
	ASSERT_EQ(symlink("../../../../secret", (d / "ports/misc/sub/deep/pkg-descr").c_str()), 0);
	d.put("tpl/README.port", "[%%DESCR_TEXT%%][%%BUILD_DEPENDS_LINKS%%]"
	    "[%%RUN_DEPENDS_LINKS%%][%%REQUIRED_BY%%]");

	Result r = run({"-v"});
	Result deep = run({"-v", "misc/sub/deep"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Increasing verbosity level\n" + top +
	    "/archivers/zip/pkg-descr: description not read: not a regular file\n" +
	    top + "/../secret: description not read: the path leads out of the ports tree\n");
	EXPECT_EQ(deep.status, 0);
	EXPECT_EQ(deep.err, "Increasing verbosity level\n" + top +
	    "/misc/sub/deep/pkg-descr: description not read: the path leads out of the ports tree\n");
	// The same where the kernel lacks openat2 and the path is walked name
	// by name: the link that is the description's own name is not
	// followed either (the page is checked below).
	RunOptions walked;
	walked.binary = testing_binary_path();
	walked.env.push_back("QUILLMARK_TEST_NO_OPENAT2=" + std::to_string(ENOSYS));
	Result deep_walked = run({"-v", "misc/sub/deep"}, walked);
	EXPECT_EQ(deep_walked.status, 0);
	EXPECT_EQ(deep_walked.err, deep.err);
	const std::string build = "This port requires the following ports to build:<br><br>";
	const std::string run_deps = "This port requires the following ports to run:<br><br>";
	const std::string by = "This port is required by the following ports:<br><br>";
	auto link = [](const std::string &up, const std::string &dir, const std::string &pkg) {
		return "<a href=\"" + up + dir + "/README.html\">" + pkg + "</a>";
	};
	const std::string zip_by = by + link("../../", "misc/bar", "bar-2.3") + " " +
	    link("../../", "misc/foo", "foo-1.0") + " " + link("../../", "misc/sub/deep", "deep-1");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), "[][][][" + zip_by + "]");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), "[][" + build + "gmake-4.4 x&lt;y][" +
	    run_deps + link("../../", "archivers/zip", "zip-3.0") + " " +
	    link("../../", "misc/foo", "foo-1.0") + "][]");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "[Foo &amp; &lt;more&gt;\n\n  line three\n]"
	    "[" + build + link("../../", "archivers/zip", "zip-3.0") + "][][" + by +
	    link("../../", "misc/bar", "bar-2.3") + " " + link("../../", "misc/sub/deep", "deep-1") + "]");
	EXPECT_EQ(d.get("ports/misc/sub/deep/README.html"), "[][" + build +
	    link("../../../", "archivers/zip", "zip-3.0") + "  " +
	    link("../../../", "misc/foo", "foo-1.0") + "][][]");

	// foo now names zip in both of its fields, and in its run field deep
	// and ports whose directories hold a byte that cannot stand in a link,
	// which stay plain text. Pages below a port's and port pages, made in
	// one run, each get the links of their own depth.
	const std::string unsafe = std::string("\"'<>&%?#\\ \t\x7f") + '\x01';
	std::string odd_names;
	for (std::size_t i = 0; i < unsafe.size(); i++) {
		std::string name = "odd" + std::to_string(i) + "-1";
		index += name + "|/usr/ports/misc/a" + unsafe[i] +
		    "b|/usr/local|Odd|/usr/ports/misc/odd/pkg-descr|o@x|misc\n";
		odd_names += " " + name;
	}
	index.replace(index.find("sysutils|zip-3.0|"), 17,
	    "sysutils|zip-3.0|zip-3.0 deep-1" + odd_names + "|");
	// A later line with zip's package name: the first line keeps the name.
	index += "zip-3.0|/usr/ports/misc/zip2|/usr/local|Zip again|"
	    "/usr/ports/misc/zip2/pkg-descr|z@x|misc\n";
	d.put("ports/INDEX-15", index);
	r = run({"-q", "misc/foo", "misc/sub/deep", "archivers/zip"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "[Foo &amp; &lt;more&gt;\n\n  line three\n]"
	    "[" + build + link("../../", "archivers/zip", "zip-3.0") + "][" + run_deps +
	    link("../../", "archivers/zip", "zip-3.0") + " " +
	    link("../../", "misc/sub/deep", "deep-1") + odd_names + "][" + by +
	    link("../../", "misc/bar", "bar-2.3") + " " + link("../../", "misc/sub/deep", "deep-1") + "]");
	EXPECT_EQ(d.get("ports/misc/sub/deep/README.html"), "[][" + build +
	    link("../../../", "archivers/zip", "zip-3.0") + "  " +
	    link("../../../", "misc/foo", "foo-1.0") + "][][" + by +
	    link("../../../", "misc/foo", "foo-1.0") + "]");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), "[][][][" + zip_by + "]");

	// Nothing is said without -v; a missing description is not worth a
	// word even with it.
	std::remove((d / "ports/misc/foo/pkg-descr").c_str());
	r = run({"-q", "misc/foo"});
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(run({"-v", "misc/foo"}).err, "Increasing verbosity level\n");
	d.put("ports/misc/foo/pkg-descr", std::string(65537, 'x'));
	EXPECT_EQ(run({"-v", "misc/foo"}).err, "Increasing verbosity level\n" + top +
	    "/misc/foo/pkg-descr: description not read: larger than 65536 bytes\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html").substr(0, 3), "[][");
	// A port page with an extension has more room than the classic one.
	d.put("tpl/README.port", std::string(300 * 1024, 'x') + "%%REQUIRED_BY%%");
	EXPECT_EQ(run({"-q", "archivers/zip"}).status, 0);
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), std::string(300 * 1024, 'x') + zip_by);

	// Without the extensions the same tree gives the classic pages.
	put_simple_templates(d, "tpl");
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    port_line("bar-2.3", "misc/bar", "Bar &lt;beta&gt;", top + "/../secret",
		"misc@example.org", build + "gmake-4.4 x<y", run_deps + "zip-3.0 foo-1.0"));
	for (const char *page : {"archivers/zip", "misc/bar", "misc/foo", "misc/sub/deep", "misc", ""})
		EXPECT_EQ(d.get("ports/" + std::string(page) + "/README.html").find("SECRET"),
		    std::string::npos) << page;
}

// %%SEARCH_INDEX%% in the top template: the file's name in the top page,
// the file beside it with every INDEX line escaped, written by the runs that
// make the top page and through the pages' write path.
TEST_F(Readme, SearchIndexBesideTheTopPage)
{
	d.put("ports/INDEX-15",
	    "zip-3.0|/usr/ports/archivers/zip|/usr/local|Create zip archives|"
	    "/usr/ports/archivers/zip/pkg-descr|arch@example.org|archivers|||||\n"
	    "bar-2.3|/usr/ports/misc/bar|/usr/local|Says \"hi\" \\ </script> <!-- x"
	    "\xe2\x80\xa8\xe2\x80\xa9\t\x1f\xc3\xa9\x7f|/usr/ports/misc/bar/pkg-descr|"
	    "misc@example.org|misc|||||\n"
	    "py311-foo-1.0|/usr/ports/misc/foo|/usr/local|Caf\xe9 \xe2\x80\xa8|"
	    "/usr/ports/misc/foo/pkg-descr|misc@example.org|misc|zip-3.0||||\n");
	d.put("tpl/README.top", "top [%%SEARCH_INDEX%%]\n%%SUBDIR%%end\n");
	d.put("tpl/README.category", "cat [%%SEARCH_INDEX%%]\n");
	const std::string js =
	    "// The ports of this tree, for the search of README.html.\n"
	    "window.quillmarkPorts={version:2,ports:[\n"
	    "\"zip|3.0|archivers||arch@example.org|1|Create zip archives\",\n"
	    "\"bar|2.3|misc||misc@example.org||Says \\\"hi\\\" \\\\ \\x3C/script> \\x3C!-- x"
	    "\\u2028\\u2029\\x09\\x1F\xc3\xa9\x7f\",\n"
	    "\"py311-foo|1.0||foo|||Caf\xc3\xa9 \xc3\xa2\xc2\x80\xc2\xa8\",\n"
	    "]};\n";
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/ports-index.js"), js);
	EXPECT_EQ(d.get("ports/README.html"),
	    "top [ports-index.js]\n"
	    "<a href=\"archivers/README.html\">archivers</a>: Archivers & compression\n"
	    "<a href=\"misc/README.html\">misc</a>: Miscellaneous utilities\nend\n");
	EXPECT_EQ(d.get("ports/misc/README.html"), "cat []\n");

	// Unchanged: left untouched. A category run leaves it as it is; the top
	// as a pathname writes it.
	struct stat before, after;
	const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
	ASSERT_EQ(utimensat(AT_FDCWD, (d / "ports/ports-index.js").c_str(),
	    old_times, 0), 0);
	ASSERT_EQ(stat((d / "ports/ports-index.js").c_str(), &before), 0);
	EXPECT_EQ(run({"-q"}).status, 0);
	ASSERT_EQ(stat((d / "ports/ports-index.js").c_str(), &after), 0);
	EXPECT_EQ(after.st_mtime, before.st_mtime);
	std::remove((d / "ports/ports-index.js").c_str());
	EXPECT_EQ(run({"-q", "misc"}).status, 0);
	EXPECT_FALSE(d.exists("ports/ports-index.js"));
	EXPECT_EQ(run({"-q", top}).status, 0);
	EXPECT_EQ(d.get("ports/ports-index.js"), js);

	// A link in its place is refused and what it leads to kept.
	std::remove((d / "ports/ports-index.js").c_str());
	d.put("outside", "kept");
	ASSERT_EQ(symlink((d / "outside").c_str(),
	    (d / "ports/ports-index.js").c_str()), 0);
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, top + "/ports-index.js: not written: it is a symbolic link\n");
	EXPECT_EQ(d.get("outside"), "kept");
	EXPECT_EQ(d.get("ports/README.html").substr(0, 21), "top [ports-index.js]\n");

	// A comment and a maintainer of nothing but '<', each written as four
	// bytes: the room is sized for the worst a text can grow.
	std::remove((d / "ports/ports-index.js").c_str());
	std::string escaped;
	for (int i = 0; i < 4000; i++)
		escaped += "\\x3C";
	d.put("ports/INDEX-15", d.get("ports/INDEX-15") +
	    "lt-1|/usr/ports/misc/lt|/usr/local|" + std::string(4000, '<') +
	    "|/usr/ports/misc/lt/pkg-descr|" + std::string(4000, '<') + "|misc|||||\n");
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/ports-index.js"),
	    js.substr(0, js.size() - 4) + "\"lt|1|||" + escaped + "||" + escaped +
		"\",\n]};\n");

	// Without the placeholder: no file.
	std::remove((d / "ports/ports-index.js").c_str());
	d.put("tpl/README.top", "top\n%%SUBDIR%%end\n");
	EXPECT_EQ(run({"-q"}).status, 0);
	EXPECT_FALSE(d.exists("ports/ports-index.js"));
}

// %%STYLESHEET%% and %%SCRIPT%%: each page gets the shared file's URL from
// where it stands, and the run copies the files its pages asked for from
// the templates directory to beside the top page, once every page is made.
TEST_F(Readme, PagesShareAStylesheetAndScriptBesideTheTopPage)
{
	// Templates that name no shared file write none, even where the
	// templates directory has them.
	d.put("tpl/site.css", "body { color: #222 }\n");
	d.put("tpl/site.js", "// every page\n");
	EXPECT_EQ(run({"-q"}).status, 0);
	EXPECT_FALSE(d.exists("ports/site.css"));
	EXPECT_FALSE(d.exists("ports/site.js"));

	// The stylesheet on every page, the script on the ports' alone.
	d.put("tpl/README.top", "top [%%STYLESHEET%%]\n%%SUBDIR%%end\n");
	d.put("tpl/README.category", "cat [%%STYLESHEET%%]\n%%SUBDIR%%");
	d.put("tpl/README.port", "port [%%STYLESHEET%%] [%%SCRIPT%%]\n");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(d.get("ports/site.css"), "body { color: #222 }\n");
	EXPECT_EQ(d.get("ports/site.js"), "// every page\n");
	EXPECT_EQ(d.get("ports/README.html").substr(0, 15), "top [site.css]\n");
	EXPECT_EQ(d.get("ports/misc/README.html").substr(0, 18),
	    "cat [../site.css]\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "port [../../site.css] [../../site.js]\n");

	// A pathname run writes what its pages ask for: a port of a tree
	// that never had a whole run, and a category after the script
	// changed; the stylesheet it does not ask for stays as it was.
	std::remove((d / "ports/site.css").c_str());
	std::remove((d / "ports/site.js").c_str());
	r = run({"-q", "misc/bar"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(d.get("ports/site.css"), "body { color: #222 }\n");
	EXPECT_EQ(d.get("ports/site.js"), "// every page\n");
	d.put("tpl/site.js", "// changed\n");
	d.put("tpl/site.css", "body { color: #000 }\n");
	d.put("tpl/README.category", "cat\n%%SUBDIR%%");
	d.put("tpl/README.port", "port [%%SCRIPT%%]\n");
	EXPECT_EQ(run({"-q", "misc"}).status, 0);
	EXPECT_EQ(d.get("ports/site.js"), "// changed\n");
	EXPECT_EQ(d.get("ports/site.css"), "body { color: #222 }\n");

	// A templates directory without the file: the pages are still made,
	// linking to it, and the run says which file it lacks and fails.
	std::remove((d / "tpl/site.js").c_str());
	std::remove((d / "ports/site.js").c_str());
	d.put("tpl/README.port", "port [%%SCRIPT%%] [%%SCRIPT%%]\n");
	r = run({"-q", "misc/foo", "archivers/zip"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, d / "tpl/site.js: No such file or directory\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "port [../../site.js] [../../site.js]\n");
	EXPECT_FALSE(d.exists("ports/site.js"));
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, d / "tpl/site.js: No such file or directory\n");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    "port [../../site.js] [../../site.js]\n");

	// A link where the file goes is refused, what it leads to kept, and
	// the file counted with the pages not written.
	d.put("tpl/site.js", "// back\n");
	d.put("outside", "kept");
	ASSERT_EQ(symlink((d / "outside").c_str(), (d / "ports/site.js").c_str()),
	    0);
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, top + "/site.js: not written: it is a symbolic link\n");
	EXPECT_EQ(d.get("outside"), "kept");

	// A user who may write only a port's directory remakes its page: the
	// shared files, already right, are only read and keep their time; one
	// that differs is written, so for that user it fails and counts.
	if (!running_as_root())
		GTEST_SKIP() << "needs root to run the tool as uid 65534";
	ASSERT_EQ(std::remove((d / "ports/site.js").c_str()), 0);
	d.put("tpl/README.port", "port [%%STYLESHEET%%] [%%SCRIPT%%]\n");
	ASSERT_EQ(run({"-q", "misc"}).status, 0);
	const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
	for (const char *name : {"ports/site.css", "ports/site.js"})
		ASSERT_EQ(utimensat(AT_FDCWD, (d / name).c_str(), old_times, 0), 0);
	auto mtime = [&](const std::string &rel) {
		struct stat st;
		return stat((d / rel).c_str(), &st) == 0 ? st.st_mtime : -1;
	};
	ASSERT_EQ(std::remove((d / "ports/misc/foo/README.html").c_str()), 0);
	ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
	ASSERT_EQ(chown((d / "ports/misc/foo").c_str(), 65534, 65534), 0);
	RunOptions nobody;
	nobody.as_nobody = true;
	r = run({"-q", "misc/foo"}, nobody);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "port [../../site.css] [../../site.js]\n");
	EXPECT_EQ(mtime("ports/site.css"), 1000000000);
	EXPECT_EQ(mtime("ports/site.js"), 1000000000);

	d.put("tpl/site.js", "// BACK\n");
	r = run({"-q", "misc/foo"}, nobody);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, top + "/site.js: " + std::strerror(EACCES) + "\n");
	EXPECT_EQ(d.get("ports/site.js"), "// back\n");
	EXPECT_EQ(mtime("ports/site.css"), 1000000000);
}

// %%SEARCH_WORDS%% in the top template: the list of word files in the top
// page, and beside it the words of every description as its page reads it
// (ISO-8859-1 when not UTF-8, the trailing WWW: line left out), each with
// the numbers of its ports; a failed write counts as an unwritten page.
TEST_F(Readme, SearchWordsBesideTheTopPage)
{
	d.put("ports/INDEX-15",
	    "zip-3.0|/usr/ports/archivers/zip|/usr/local|Zip|"
	    "/usr/ports/archivers/zip/pkg-descr|arch@example.org|archivers|||||\n"
	    "bar-2.3|/usr/ports/misc/bar|/usr/local|Bar|/usr/ports/misc/bar/pkg-descr|"
	    "misc@example.org|misc|||||\n"
	    "foo-1.0|/usr/ports/misc/foo|/usr/local|Foo|"
	    "/usr/ports/misc/foo/pkg-descr|misc@example.org|misc|||||\n");
	d.put("ports/archivers/zip/pkg-descr",
	    "Zip makes ZIP archives.\n\nWWW: https://example.org/wwwword/\n");
	d.put("ports/misc/bar/pkg-descr",
	    "Caf\xe9 </script> \"quoted\" \xc0la Stra\xdf" "e \xdeorn x1 ab\n");
	d.put("ports/misc/foo/pkg-descr", "Zip\xe2\x80\xa8zap");
	d.put("tpl/README.top", "top [%%SEARCH_WORDS%%]\n");
	const std::string head =
	    "(window.quillmarkWordFiles=window.quillmarkWordFiles||[]).push([";
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/README.html"), "top [ports-words.js]\n");
	EXPECT_EQ(d.get("ports/ports-words.js"),
	    "// The word files of the search of README.html.\n"
	    "window.quillmarkWords={version:1,ports:3,starts:\"archives\"};\n");
	EXPECT_EQ(d.get("ports/ports-words-0.js"), head +
	    "0,\"archivesAcaf\xc3\xa9" "BmakesAquotedBscriptBstra\xc3\x9f" "eBzapCzipAB"
	    "\xc3\xa0laB\xc3\xbeornB\"]);\n");
	EXPECT_FALSE(d.exists("ports/ports-index.js"));

	// A link in place of a word file is refused, and counted.
	std::remove((d / "ports/ports-words-0.js").c_str());
	d.put("outside", "kept");
	ASSERT_EQ(symlink((d / "outside").c_str(),
	    (d / "ports/ports-words-0.js").c_str()), 0);
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, top + "/ports-words-0.js: not written: it is a symbolic link\n");
	EXPECT_EQ(d.get("outside"), "kept");
	EXPECT_EQ(d.get("ports/README.html"), "top [ports-words.js]\n");
	std::remove((d / "ports/ports-words-0.js").c_str());

	// A thousand ports: the word every one holds is left out, and the
	// others, some 16 KB, go into two files. Every port number reads back.
	std::string index;
	for (int n = 0; n < 1000; n++) {
		std::string name = "w" + std::to_string(n);
		std::string word = "widg";
		for (char c : std::to_string(1000 + n).substr(1))
			word += static_cast<char>('a' + (c - '0'));
		word += "etsmith";
		index += name + "-1|/usr/ports/misc/" + name + "|/usr/local|W|/usr/ports/misc/" +
		    name + "/pkg-descr|m@example.org|misc|||||\n";
		d.put("ports/misc/" + name + "/pkg-descr", "Common " + word + "\n");
	}
	d.put("ports/INDEX-15", index);
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string list = d.get("ports/ports-words.js");
	const std::string starts =
	    "// The word files of the search of README.html.\n"
	    "window.quillmarkWords={version:1,ports:1000,starts:\"widgaaaetsmith widg";
	ASSERT_EQ(list.substr(0, starts.size()), starts);
	EXPECT_EQ(list.substr(starts.size() + 3), "etsmith\"};\n");
	const std::string more = "()*+,-./:;=>?@[]^_`{|}~", last = "ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&'";
	int seen = 0;
	for (std::string file : {"0", "1"}) {
		std::string text = d.get("ports/ports-words-" + file + ".js");
		ASSERT_EQ(text.substr(0, head.size() + 3), head + file + ",\"");
		ASSERT_LE(text.size(), 12u * 1024 + 100);
		text = text.substr(head.size() + 3);
		text = text.substr(0, text.size() - 5);
		std::size_t i = 0;
		while (i < text.size()) {
			std::size_t from = i;
			while (i < text.size() && std::islower(static_cast<unsigned char>(text[i])))
				i++;
			std::string word = text.substr(from, i - from);
			long number = 0;
			while (more.find(text[i]) != std::string::npos)
				number = number * 23 + static_cast<long>(more.find(text[i++]));
			ASSERT_NE(last.find(text[i]), std::string::npos) << word;
			number = number * 32 + static_cast<long>(last.find(text[i++]));
			long expected = 0;
			for (char c : word.substr(4, 3))
				expected = expected * 10 + (c - 'a');
			EXPECT_EQ(number, expected) << word;
			seen++;
		}
	}
	EXPECT_EQ(seen, 1000);
}

TEST_F(Readme, PortDetailsAndListsReadWellOnRealPorts)
{
	// foo: a description with a banner, a list and trailing WWW: lines,
	// in ISO-8859-1; no web site of its own; other categories, one of
	// them in the tree and one the beginning of a listed name; a comment with a quote; dependencies in no order,
	// one twice, one in two cases, one missing from the INDEX. bar needs
	// foo to build and to run, and is listed once among foo's dependents.
	std::string index = d.get("ports/INDEX-15");
	index.replace(index.find("|Foo & Bar tools|"), 17, "|Foo \"&\" B\xe4r|");
	index.replace(index.find("misc sysutils||||||"), 19,
	    "misc archivers sysutils arch|zip-3.0 Zap-1 gmake-4.4 zip-3.0 bar-2.3||"
	    "|xz-5.6|||");
	index.replace(index.find("gmake-4.4|zip-3.0 foo-1.0"), 25,
	    "foo-1.0|zip-3.0 foo-1.0");
	index += "Zap-1|/usr/ports/misc/zap|/usr/local|Zap|/usr/ports/misc/zap/"
	    "pkg-descr|z@x|misc\n";
	d.put("ports/INDEX-15", index);
	d.put("ports/misc/foo/pkg-descr",
	    "Foo draws \xab" "banners\xbb:\n\n"
	    "   _  _\n  | || |\n  |_||_|\n\n"
	    "Features:\n- fast\n- small, see https://foo.example/x.\n\n"
	    "WWW: https://foo.example/\nWWW: https://foo.example/\n");
	d.put("tpl/README.port",
	    "[%%PKGNAME%%][%%PKGVERSION%%][%%ORIGIN%%][%%COMMENT_TEXT%%]\n"
	    "%%WEBSITE_LINK%%%%ALSO_LISTED%%%%DESCR_HTML%%"
	    "%%BUILD_DEPENDS_LIST%%%%RUN_DEPENDS_LIST%%%%EXTRACT_DEPENDS_LIST%%"
	    "%%PATCH_DEPENDS_LIST%%%%FETCH_DEPENDS_LIST%%%%REQUIRED_BY_LIST%%");

	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	auto item = [](const std::string &dir, const std::string &pkg) {
		return "<li><a href=\"../../" + dir + "/README.html\">" + pkg +
		    "</a> <span class=\"origin\">" + dir + "</span></li>\n";
	};
	auto list = [](const std::string &heading, const std::string &items) {
		return "<section class=\"deps\">\n<h2>" + heading +
		    "</h2>\n<ul>\n" + items + "</ul>\n</section>\n";
	};
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "[foo][1.0][misc/foo][Foo &quot;&amp;&quot; B\xc3\xa4r]\n"
	    "<dt>Web site</dt>\n<dd><a href=\"https://foo.example/\">"
	    "https://foo.example/</a></dd>\n"
	    "<dt>Also listed in</dt>\n<dd><a href=\"../../archivers/README.html\">"
	    "archivers</a>, sysutils, arch</dd>\n"
	    "<p>Foo draws \xc2\xab" "banners\xc2\xbb:</p>\n"
	    "<pre>   _  _\n  | || |\n  |_||_|</pre>\n"
	    "<p>Features:</p>\n<ul>\n<li>fast</li>\n<li>small, see "
	    "<a href=\"https://foo.example/x\">https://foo.example/x</a>.</li>\n"
	    "</ul>\n" +
	    list("Build dependencies", item("misc/bar", "bar-2.3") +
		"<li>gmake-4.4</li>\n" + item("misc/zap", "Zap-1") +
		item("archivers/zip", "zip-3.0")) +
	    list("Extract dependencies", "<li>xz-5.6</li>\n") +
	    list("Required by", item("misc/bar", "bar-2.3")));
	// No description and a web site of its own; no lists.
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    "[zip][3.0][archivers/zip][Create zip archives]\n"
	    "<dt>Web site</dt>\n<dd><a href=\"https://zip.example.org/\">"
	    "https://zip.example.org/</a></dd>\n" +
	    list("Required by", item("misc/bar", "bar-2.3") +
		item("misc/foo", "foo-1.0")));

	// A core port needed by more ports than the classic room holds is
	// still written whole, by a template of that list alone.
	d.put("tpl/README.port", "%%REQUIRED_BY_LIST%%");
	std::string many;
	for (int i = 0; i < 50000; i++)
		many += "p" + std::to_string(i) + "-1|/usr/ports/misc/p" +
		    std::to_string(i) + "|/usr/local|P|/usr/ports/misc/p/pkg-descr|"
		    "p@x|misc|zip-3.0\n";
	d.put("ports/INDEX-15", index + many);
	r = run({"-q", "archivers/zip"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string zip = d.get("ports/archivers/zip/README.html");
	EXPECT_GT(zip.size(), std::size_t{4} << 20);
	EXPECT_EQ(zip.rfind("<section class=\"deps\">\n<h2>Required by</h2>\n"
			    "<ul>\n" + item("misc/bar", "bar-2.3"), 0), 0u);
	EXPECT_NE(zip.find(item("misc/p9999", "p9999-1") + "</ul>"),
	    std::string::npos);
}

TEST_F(Readme, ShippedTemplatesFillTheSampleTree)
{
	TempDir s;
	std::string tree = s / "ports";
	ASSERT_EQ(std::system(("cp -R '" + source_dir() + "/sample/ports' '" + tree +
	    "'").c_str()), 0);
	Result r = run_tool({"-q", "-p", tree, "-t", source_dir() + "/Templates"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::string page = s.get("ports/README.html");
	EXPECT_EQ(page.find("%%"), std::string::npos);
	EXPECT_NE(page.find("<a href=\"www/README.html\">www</a>"), std::string::npos);

	// Every port page lists each package that a dependency field of its
	// INDEX line names, once: as many entries as distinct words, each
	// shown by its name (firefox alone has 48).
	const std::vector<std::pair<int, std::string>> lists = {
	    {7, "Build dependencies"}, {8, "Run dependencies"},
	    {10, "Extract dependencies"}, {11, "Patch dependencies"},
	    {12, "Fetch dependencies"}};
	std::istringstream index(s.get("ports/INDEX-15"));
	std::size_t pages = 0, entries = 0;
	for (std::string line; std::getline(index, line);) {
		std::vector<std::string> fields;
		std::istringstream split(line);
		for (std::string field; std::getline(split, field, '|');)
			fields.push_back(field);
		fields.resize(13);
		const std::string origin = fields[1].substr(fields[1].find("/ports/") + 7);
		std::string port = s.get("ports/" + origin + "/README.html");
		if (port == "<missing>")
			continue;
		pages++;
		for (const auto &[field, heading] : lists) {
			std::set<std::string> words;
			std::istringstream each(fields[field]);
			for (std::string word; each >> word;)
				words.insert(word);
			std::size_t at = port.find("<h2>" + heading + "</h2>");
			if (words.empty()) {
				EXPECT_EQ(at, std::string::npos) << origin << " " << heading;
				continue;
			}
			ASSERT_NE(at, std::string::npos) << origin << " " << heading;
			std::string section = port.substr(at, port.find("</ul>", at) - at);
			std::size_t items = 0;
			for (std::size_t p = section.find("<li>"); p != std::string::npos;
			     p = section.find("<li>", p + 1))
				items++;
			EXPECT_EQ(items, words.size()) << origin << " " << heading;
			for (const std::string &word : words)
				EXPECT_NE(section.find(">" + word + "<"), std::string::npos)
				    << origin << " " << heading << " " << word;
			entries += items;
		}
	}
	EXPECT_EQ(pages, 20u);
	EXPECT_GE(entries, 48u);

	// The flavors and options of the sample's Makefiles: git's flavors
	// make package names of their own, py-tqdm's default prefix is not
	// doubled, mc's option of one architecture is left out, nginx's
	// description with markup is text, and jq, which lists none, shows
	// neither.
	std::string git = s.get("ports/devel/git/README.html");
	EXPECT_NE(git.find("<li><code>lite</code>: package <code>git-lite</code></li>"),
	    std::string::npos);
	EXPECT_NE(git.find("<code>GREP</code> Regular expressions for git grep "
			   "<span class=\"kind\">choose at most one</span>"),
	    std::string::npos);
	EXPECT_NE(s.get("ports/misc/py-tqdm/README.html")
		      .find("<li><code>py312</code>: package <code>py312-tqdm</code>"),
	    std::string::npos);
	std::string mc = s.get("ports/misc/mc/README.html");
	EXPECT_NE(mc.find("<tr><td><code>SLANG</code></td><td></td>"
			  "<td class=\"on\">on</td></tr>"),
	    std::string::npos);
	EXPECT_EQ(mc.find("ASPELL"), std::string::npos);
	EXPECT_NE(s.get("ports/www/nginx/README.html")
		      .find("<td>Log &lt;debug&gt; &amp; trace lines "
			    "(&quot;debug&quot; level)</td>"),
	    std::string::npos);
	std::string jq = s.get("ports/textproc/jq/README.html");
	EXPECT_EQ(jq.find("Flavors"), std::string::npos);
	EXPECT_EQ(jq.find("class=\"options\""), std::string::npos);
}

// Every file below dir, by its path below it, with its bytes; the
// modification times that a sitemap shows are masked.
std::map<std::string, std::string>
site_files(const std::string &dir)
{
	std::map<std::string, std::string> files;
	for (const auto &entry :
	     std::filesystem::recursive_directory_iterator(dir)) {
		if (!entry.is_regular_file())
			continue;
		std::string text = read_file(entry.path());
		for (std::size_t at = text.find("<lastmod>");
		     at != std::string::npos; at = text.find("<lastmod>", at + 1))
			text.replace(at, text.find("</lastmod>", at) - at, "<lastmod>");
		files[entry.path().lexically_relative(dir)] = text;
	}
	return files;
}

TEST_F(Readme, EveryThreadCountMakesTheSameSiteAndMessages)
{
	// The sample tree, with what makes a port walk talk: a port the INDEX
	// lacks, an unsafe name, a description and a Makefile that cannot be
	// read.
	TempDir s;
	std::string tree = s / "ports";
	ASSERT_EQ(std::system(("cp -R '" + source_dir() + "/sample/ports' '" +
	    tree + "'").c_str()), 0);
	std::string www = s.get("ports/www/Makefile");
	std::size_t at = www.find("    SUBDIR += lynx");
	ASSERT_NE(at, std::string::npos);
	www.insert(at, "    SUBDIR += gone\n    SUBDIR += ..\n");
	s.put("ports/www/Makefile", www);
	s.mkdir("ports/www/gone");
	std::filesystem::remove(tree + "/www/lynx/pkg-descr");
	s.mkdir("ports/www/lynx/pkg-descr");
	std::filesystem::remove(tree + "/www/nginx/Makefile");
	s.mkdir("ports/www/nginx/Makefile");
	std::filesystem::remove_all(tree + "/misc");

	std::map<std::string, std::string> first_files, first_out;
	Result first;
	for (std::string count : {"1", "2", "8", "0"}) {
		std::string copy = s / ("tree-" + count);
		ASSERT_EQ(std::system(("cp -R '" + tree + "' '" + copy +
		    "'").c_str()), 0);
		RunOptions o;
		o.err_to_out = true;
		Result r = run_tool({"-v", "-v", "-v", "-j", count, "-p", copy,
		    "-t", source_dir() + "/Templates", "-o", s / ("out-" + count),
		    "-u", "https://ports.example.org/"}, o);
		std::string said = r.out;
		for (std::size_t p = said.find(copy); p != std::string::npos;
		     p = said.find(copy))
			said.replace(p, copy.size(), "TREE");
		for (std::size_t p = said.find(s / ("out-" + count));
		     p != std::string::npos;
		     p = said.find(s / ("out-" + count)))
			said.replace(p, (s / ("out-" + count)).size(), "OUT");
		std::map<std::string, std::string> out =
		    site_files(s / ("out-" + count));
		if (count == "1") {
			first = r;
			first.out = said;
			first_out = out;
			// The walk had something to say, and pages to make.
			EXPECT_NE(said.find("Port www/gone not found in INDEX"),
			    std::string::npos);
			EXPECT_NE(said.find("Skipping unsafe name"),
			    std::string::npos);
			EXPECT_NE(said.find("lynx/pkg-descr"), std::string::npos);
			EXPECT_NE(said.find("nginx/Makefile: status not read"),
			    std::string::npos);
			EXPECT_GT(out.size(), 20u);
			continue;
		}
		EXPECT_EQ(said, first.out) << "-j " << count;
		EXPECT_EQ(r.status, first.status) << "-j " << count;
		EXPECT_TRUE(out == first_out) << "-j " << count;
		for (const auto &[name, text] : first_out)
			EXPECT_EQ(out[name], text) << "-j " << count << " " << name;
		EXPECT_EQ(out.size(), first_out.size()) << "-j " << count;
	}

	// In place, a category request, and the pages it leaves are the same.
	for (std::string count : {"1", "3"}) {
		Result r = run_tool({"-q", "-j", count, "-p", tree, "-t",
		    source_dir() + "/Templates", "www"});
		EXPECT_EQ(r.out, "") << count;
		EXPECT_EQ(r.err, "Skipping unsafe name \"..\" in " + tree +
				 "/www/Makefile\nPort www/gone not found in "
				 "INDEX\n") << count;
		EXPECT_EQ(r.status, 0) << count;
		if (count == "1")
			first_files = site_files(tree + "/www");
		else
			EXPECT_TRUE(site_files(tree + "/www") == first_files);
	}
}

}  // namespace

TEST_F(Readme, DescriptionListItemsAreWhole)
{
	EXPECT_EQ(described("Foo does the following:\n"
			    "- Simple and fast: compresses at ten times the speed of\n"
			    "  older tools, on any hardware.\n"
			    "\n"
			    "- Small: one file.\n"
			    "  * nested, with a continuation line that\n"
			    "    goes on here\n"
			    "  * second nested\n"
			    "- Back out.\n"
			    "\n"
			    "Steps:\n"
			    "3. Unpack\n"
			    "4) Build\n"
			    "9. Install\n"
			    "\n"
			    "Then:\n"
			    "\t* tab-indented, long enough to go on over\n"
			    "\tthe next line at the marker's own indent\n"),
	    "<p>Foo does the following:</p>\n"
	    "<ul>\n<li>Simple and fast: compresses at ten times the speed of\n"
	    "older tools, on any hardware.</li>\n"
	    "<li>Small: one file.\n"
	    "<ul>\n<li>nested, with a continuation line that\ngoes on here</li>\n"
	    "<li>second nested</li>\n</ul>\n</li>\n"
	    "<li>Back out.</li>\n</ul>\n"
	    "<p>Steps:</p>\n"
	    "<ol start=\"3\">\n<li>Unpack</li>\n<li>Build</li>\n"
	    "<li value=\"9\">Install</li>\n</ol>\n"
	    "<p>Then:</p>\n<ul>\n<li>tab-indented, long enough to go on over\n"
	    "the next line at the marker's own indent</li>\n</ul>\n");
	// No list: marks without a blank after them, four digits, and a lone
	// marked line right above a plain one, as a signature.
	EXPECT_EQ(described("-v is verbose, and the line that follows it goes on\n"
			    "2022. was a year, and this line goes on long enough\n"
			    "\n"
			    "- Jane Doe\n"
			    "jane@example.org\n"),
	    "<p>-v is verbose, and the line that follows it goes on\n"
	    "2022. was a year, and this line goes on long enough</p>\n"
	    "<p>- Jane Doe<br>\n"
	    "<a href=\"mailto:jane@example.org\">jane@example.org</a></p>\n");
	// A signature: one marked line at the end, its address under it at
	// the indent that would go on with an item, or nothing after it.
	const std::string prose =
	    "Foo is a tool that reads files hard-wrapped at about seventy columns.\n\n";
	EXPECT_EQ(described(prose + "- Jane Doe\n  <jane@example.org>\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<p>- Jane Doe<br>\n"
	    "  &lt;<a href=\"mailto:jane@example.org\">jane@example.org</a>&gt;</p>\n");
	EXPECT_EQ(described(prose + "- Joe\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<p>- Joe</p>\n");
	// Still lists: two marked lines at the end, one after a ':', one
	// longer than a name, one with more than an address after it.
	EXPECT_EQ(described(prose + "- Jane Doe\n- Joe Bloggs\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<ul>\n<li>Jane Doe</li>\n<li>Joe Bloggs</li>\n</ul>\n");
	EXPECT_EQ(described("Written by:\n- Joe\n"),
	    "<p>Written by:</p>\n<ul>\n<li>Joe</li>\n</ul>\n");
	EXPECT_EQ(described(prose + "- Reads every record format the foo tools wrote\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<ul>\n<li>Reads every record format the foo tools wrote</li>\n</ul>\n");
	EXPECT_EQ(described(prose + "- Jane Doe\n  jane@example.org\n  and friends\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<ul>\n<li>Jane Doe<br>\n"
	    "<a href=\"mailto:jane@example.org\">jane@example.org</a><br>\n"
	    "and friends</li>\n</ul>\n");
}

TEST_F(Readme, DescriptionProseStaysProseWhateverItsSpacing)
{
	EXPECT_EQ(described(
		      "html2text is  a command  line utility, written  in C++,  that converts\n"
		      "HTML documents (HTML 3.2) into plain  text (ISO 8859-1).  Each  HTML\n"
		      "document is loaded from  a location indicated by  an URI or  read\n"
		      "\n"
		      "This line has one gap,  and it lines up with one gap of the next\n"
		      "three gaps,  which are  set at other  places in it, as in prose\n"
		      "\n"
		      "  An indented first line,  with two spaces in it, and then\n"
		      "the rest of the paragraph at the margin.\n"
		      "\n"
		      "Name    Size  Use\n"
		      "foo     12    reads\n"
		      "barbaz  3     writes\n"
		      "\n"
		      "A lone\tline with a tab inside prose goes on and on\n"
		      "as prose.\n"),
	    "<p>html2text is  a command  line utility, written  in C++,  that converts\n"
	    "HTML documents (HTML 3.2) into plain  text (ISO 8859-1).  Each  HTML\n"
	    "document is loaded from  a location indicated by  an URI or  read</p>\n"
	    "<p>This line has one gap,  and it lines up with one gap of the next\n"
	    "three gaps,  which are  set at other  places in it, as in prose</p>\n"
	    "<p>  An indented first line,  with two spaces in it, and then\n"
	    "the rest of the paragraph at the margin.</p>\n"
	    "<pre>Name    Size  Use\nfoo     12    reads\nbarbaz  3     writes</pre>\n"
	    "<p>A lone\tline with a tab inside prose goes on and on\n"
	    "as prose.</p>\n");
	// Prose that names a setting or an equation is no code: a sentence
	// ends in its lines, or its '=' follows no name that begins it.
	EXPECT_EQ(described("FOO_HOME=/var/db/foo is where the records are kept, unless you set\n"
			    "it elsewhere with the -d option, or in the file that the manual\n"
			    "names.\n"
			    "\n"
			    "With 1 + 1 = 2 and n = 4 it reads four records at a time\n"),
	    "<p>FOO_HOME=/var/db/foo is where the records are kept, unless you set\n"
	    "it elsewhere with the -d option, or in the file that the manual\n"
	    "names.</p>\n"
	    "<p>With 1 + 1 = 2 and n = 4 it reads four records at a time</p>\n");
}

TEST_F(Readme, DescriptionIndentedBlockIsOneBlock)
{
	EXPECT_EQ(described("Use it so, and read the manual page for the rest:\n"
			    "    foo -x file\n"
			    "    which reads the file\n"
			    "\n"
			    "    foo -y\n"
			    "Run it as root.\n"
			    "\n"
			    "Configuration goes in one place:\n"
			    "\n"
			    "  /usr/local/etc/foo.conf\n"
			    "\n"
			    "A Python sample at the margin of the text around it:\n"
			    ">>> import foo\n"
			    "class C(object):\n"
			    ">>> C()\n"),
	    "<p>Use it so, and read the manual page for the rest:</p>\n"
	    "<pre>    foo -x file\n    which reads the file\n\n    foo -y</pre>\n"
	    "<p>Run it as root.</p>\n"
	    "<p>Configuration goes in one place:</p>\n"
	    "<pre>  /usr/local/etc/foo.conf</pre>\n"
	    "<p>A Python sample at the margin of the text around it:</p>\n"
	    "<pre>&gt;&gt;&gt; import foo\nclass C(object):\n&gt;&gt;&gt; C()</pre>\n");
	// Not a block: a lone indented line after no ':', a paragraph's own
	// indent.
	EXPECT_EQ(described("Foo reads the files that the rest of the tools\n"
			    "write.\n"
			    "\n"
			    "  /usr/local/etc/foo.conf\n"
			    "\n"
			    "  KAKASI is a language processing filter that converts\n"
			    "Kanji characters to Hiragana.\n"),
	    "<p>Foo reads the files that the rest of the tools\nwrite.</p>\n"
	    "<p>  /usr/local/etc/foo.conf</p>\n"
	    "<p>  KAKASI is a language processing filter that converts\n"
	    "Kanji characters to Hiragana.</p>\n");
	// Paragraphs begun indented under an underlined title, one of them
	// after code at its own indent: prose. Code whose first line alone
	// is indented stays code when it holds braces, an assignment or a
	// line that ends in '\\'; a line of '-' alone is a rule.
	EXPECT_EQ(described("Foo Reader\n"
			    "~~~~~~~~~~\n"
			    "\n"
			    "  Foo Reader opens the files that the foo tools write, checks them and\n"
			    "shows their records one to a line, in the order the tools wrote them.\n"
			    "Its filter is set in one place:\n"
			    "\n"
			    "    filter {\n"
			    "        level = 2;\n"
			    "    }\n"
			    "\n"
			    "    foo-reader --filter /usr/local/etc/foo.conf --every-field /var/db/foo |\n"
			    "sort -u\n"
			    "\n"
			    "    The second paragraph begins four spaces in, as the code above does,\n"
			    "and goes on at the margin for a line of the usual width, ending here.\n"
			    "\n"
			    "  perl -MFoo -e 'print foo_version(), \"\\n\"' | sort | uniq -c | head \\\n"
			    "-n 3\n"
			    "\n"
			    "The same in C.\n"
			    "\n"
			    "  if (foo_open(name) == 0) {\n"
			    "return foo_read_all_the_records_of_the_file(name, &records, 0);\n"
			    "\n"
			    "The same from the shell.\n"
			    "\n"
			    "  FOO_HOME=/var/db/foo foo-reader --records --every-field\n"
			    "and a second line of the command\n"
			    "\n"
			    "----\n"
			    "\n"
			    "That is all.\n"),
	    "<h3>Foo Reader</h3>\n"
	    "<p>  Foo Reader opens the files that the foo tools write, checks them and\n"
	    "shows their records one to a line, in the order the tools wrote them.\n"
	    "Its filter is set in one place:</p>\n"
	    "<pre>    filter {\n        level = 2;\n    }\n\n"
	    "    foo-reader --filter /usr/local/etc/foo.conf --every-field /var/db/foo |\n"
	    "sort -u</pre>\n"
	    "<p>    The second paragraph begins four spaces in, as the code above does,\n"
	    "and goes on at the margin for a line of the usual width, ending here.</p>\n"
	    "<pre>  perl -MFoo -e 'print foo_version(), &quot;\\n&quot;' | sort | uniq -c | head \\\n"
	    "-n 3</pre>\n"
	    "<p>The same in C.</p>\n"
	    "<pre>  if (foo_open(name) == 0) {\n"
	    "return foo_read_all_the_records_of_the_file(name, &amp;records, 0);</pre>\n"
	    "<p>The same from the shell.</p>\n"
	    "<pre>  FOO_HOME=/var/db/foo foo-reader --records --every-field\n"
	    "and a second line of the command</pre>\n"
	    "<hr>\n"
	    "<p>That is all.</p>\n");
}

TEST_F(Readme, DescriptionArtNeedsEvidence)
{
	EXPECT_EQ(described("Because \"dd\" --> \"-d\" in this encoding, C++ && C :-)\n"
			    "work, and so do <=> and -> in the middle of a sentence.\n"
			    "\n"
			    "Title\n"
			    "=====\n"
			    "~~~~~\n"
			    "+--+--+\n"
			    "|  |  |\n"
			    "\xE2\x94\x82 a \xE2\x94\x82\n"),
	    "<p>Because &quot;dd&quot; --&gt; &quot;-d&quot; in this encoding, C++ &amp;&amp; C :-)\n"
	    "work, and so do &lt;=&gt; and -&gt; in the middle of a sentence.</p>\n"
	    "<h3>Title</h3>\n"
	    "<pre>~~~~~\n+--+--+\n|  |  |\n\xE2\x94\x82 a \xE2\x94\x82</pre>\n");
}

TEST_F(Readme, DescriptionShortLinesKeepTheirBreaks)
{
	EXPECT_EQ(described("Foo is a tool that reads files hard-wrapped at about seventy\n"
			    "columns, and the lines of such a paragraph reflow on a phone\n"
			    "the way a reader expects them to.\n"
			    "Short title\n"
			    "and its text, long enough to be an ordinary line of prose.\n"
			    "\n"
			    "Roses are red,\n"
			    "violets are blue.\n"
			    "\n"
			    "-- Jane\n"
			    "jane@example.org\n"
			    "\n"
			    "--\n"
			    "Joe\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy\n"
	    "columns, and the lines of such a paragraph reflow on a phone\n"
	    "the way a reader expects them to.\n"
	    "Short title<br>\n"
	    "and its text, long enough to be an ordinary line of prose.</p>\n"
	    "<p>Roses are red,<br>\nviolets are blue.</p>\n"
	    "<p>-- Jane<br>\n"
	    "<a href=\"mailto:jane@example.org\">jane@example.org</a></p>\n"
	    "<p>--<br>\nJoe</p>\n");
	// A "WWW:" line inside the text stands on a line of its own, and
	// so does a line between blank lines, before a paragraph begun
	// indented; "WWW:" without an address is prose.
	EXPECT_EQ(described("Foo is a tool that reads files hard-wrapped at about seventy columns,\n"
			    "and this is its home, where the manual and the sources are kept:\n"
			    "WWW: https://foo.example/projects/foo/index.html?lang=en\n"
			    "Foo is a tool that reads files hard-wrapped at about seventy columns.\n"
			    "\n"
			    "[ excerpt from the project's README ]\n"
			    "\n"
			    "    Foo reads what the tools write, checks each record and shows\n"
			    "it on a line of its own, as the text of the usual width does.\n"
			    "WWW: its home page, which the manual names in the usual way,\n"
			    "is linked from every page of the manual.\n"),
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns,\n"
	    "and this is its home, where the manual and the sources are kept:<br>\n"
	    "WWW: <a href=\"https://foo.example/projects/foo/index.html?lang=en\">"
	    "https://foo.example/projects/foo/index.html?lang=en</a></p>\n"
	    "<p>Foo is a tool that reads files hard-wrapped at about seventy columns.</p>\n"
	    "<p>[ excerpt from the project's README ]</p>\n"
	    "<p>    Foo reads what the tools write, checks each record and shows\n"
	    "it on a line of its own, as the text of the usual width does.\n"
	    "WWW: its home page, which the manual names in the usual way,\n"
	    "is linked from every page of the manual.</p>\n");
}

TEST_F(Readme, DescriptionEmailAddressesBecomeLinks)
{
	EXPECT_EQ(described("Mail jane.doe+ports@example.org, or <bob@mail.example.com>.\n"
			    "Not a@b, x@y.z1, user@.example.org or @example.org.\n"
			    "See <URL:http://example.org/a> and http://u@host.example/x.\n"),
	    "<p>Mail <a href=\"mailto:jane.doe+ports@example.org\">"
	    "jane.doe+ports@example.org</a>, or &lt;<a href=\"mailto:bob@mail.example.com\">"
	    "bob@mail.example.com</a>&gt;.\n"
	    "Not a@b, x@y.z1, user@.example.org or @example.org.\n"
	    "See &lt;URL:<a href=\"http://example.org/a\">http://example.org/a</a>&gt; and "
	    "<a href=\"http://u@host.example/x\">http://u@host.example/x</a>.</p>\n");
}

TEST_F(Readme, StatusLicenceAndVulnerabilitiesOnlyForTemplatesThatAsk)
{
	// zip: deprecated and expiring, its licence, affected through its
	// revision; flavors (the default's prefix taken off the INDEX name
	// for the others), plain options and a group, a description with
	// markup in it. bar: broken and deprecated only inside conditionals
	// of each kind, a licence over a continuation line, its version just
	// outside a range, an option only inside a conditional. foo: no
	// Makefile values of its own (a slave port), affected through an
	// epoch by an entry that names it twice.
	d.put("ports/archivers/zip/Makefile",
	    "PORTNAME=\tzip\nLICENSE=\tBSD3CLAUSE\n"
	    "DEPRECATED=\tUse archivers/7-zip <instead>\n"
	    "EXPIRATION_DATE=\t2026-12-31\n"
	    "FLAVORS=\tdefault x11 nox\n"
	    "default_PKGNAMEPREFIX=\tzi\nx11_PKGNAMEPREFIX=\tzi\n"
	    "x11_PKGNAMESUFFIX=\t-x11\n"
	    "OPTIONS_DEFINE=\tDOCS BZIP2\nOPTIONS_DEFAULT=\tBZIP2 ZSTD\n"
	    "OPTIONS_RADIO=\tCRYPT\nOPTIONS_RADIO_CRYPT=\tAES ZSTD\n"
	    "BZIP2_DESC=\t<script>alert(\"x\")</script> & ${PORTNAME}\n"
	    "CRYPT_DESC=\tEncryption\n"
	    ".include <bsd.port.mk>\n");
	d.put("ports/misc/bar/Makefile",
	    "PORTNAME=\tbar\nLICENSE=\tGPLv2 \\\n\t\tMIT\n"
	    ".if ${ARCH} == i386\nBROKEN=\tno\nOPTIONS_DEFINE=\tSSE\n.endif\n"
	    ".ifdef WITH_GPM\nBROKEN=\tneeds gpm\n.endif\n"
	    ".ifndef NO_OLD\nDEPRECATED=\told\n.endif\n");
	d.put("ports/misc/foo/Makefile",
	    "MASTERDIR=\t${.CURDIR}/../foo-server\n"
	    ".include \"${MASTERDIR}/Makefile\"\n");
	d.put("ports/security/vuxml/vuln.xml",
	    "<?xml version=\"1.0\"?>\n<!DOCTYPE vuxml [\n"
	    "<!ENTITY y2026 SYSTEM \"vuln/2026.xml\">\n"
	    "<!ENTITY y2025 SYSTEM \"vuln/2025.xml\">\n]>\n"
	    "<vuxml>\n&y2026;\n&y2025;\n</vuxml>\n");
	std::string year =
	    "<vuln vid=\"aa-1\"><topic>zip -- <![CDATA[<b>]]> overflow</topic>"
	    "<affects><package><name>zip</name><range><lt>3.0_1</lt></range>"
	    "</package></affects><references><cvename>CVE-2026-1</cvename>"
	    "<cvename>CVE-2026-2</cvename></references><dates><discovery>"
	    "2026-01-05</discovery></dates></vuln>\n"
	    "<vuln vid=\"bb-2\"><topic>bar -- fixed</topic><affects><package>"
	    "<name>bar</name><range><ge>2.0</ge><lt>2.3</lt></range>"
	    "</package></affects></vuln>\n"
	    "<vuln vid=\"cc 3\"><topic>foo &amp; zip</topic><affects>"
	    "<package><name>foo</name><range><lt>1.0,1</lt></range></package>"
	    "<package><name>foo</name><range><gt>0</gt></range></package>"
	    "</affects><dates><discovery>2025-13-01</discovery></dates>"
	    "</vuln>\n";
	d.put("ports/security/vuxml/vuln/2026.xml", year);
	d.put("tpl/README.port", "[%%PKG%%]\n%%PORT_STATUS%%%%LICENSE%%"
				 "%%FLAVORS%%%%OPTIONS%%%%VULNERABILITIES%%");

	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	const std::string unconditional =
	    "As the Makefile lists them outside its conditional parts.";
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    "[zip-3.0]\n"
	    "<p class=\"status deprecated\"><strong>Deprecated:</strong> Use "
	    "archivers/7-zip &lt;instead&gt;</p>\n"
	    "<p class=\"status expiring\"><strong>To be removed on</strong> "
	    "<time datetime=\"2026-12-31\">2026-12-31</time></p>\n"
	    "<dt>License</dt>\n<dd>BSD3CLAUSE</dd>\n"
	    "<dt>Flavors</dt>\n<dd><ul class=\"flavors\">\n"
	    "<li><code>default</code> <em>(default)</em>: package "
	    "<code>zip</code></li>\n"
	    "<li><code>x11</code>: package <code>zip-x11</code></li>\n"
	    "<li><code>nox</code></li>\n</ul>\n"
	    "<small class=\"note\">" + unconditional + "</small></dd>\n"
	    "<section class=\"options\">\n<h2>Options</h2>\n<table>\n"
	    "<thead><tr><th scope=\"col\">Option</th><th scope=\"col\">"
	    "Description</th><th scope=\"col\">Default</th></tr></thead>\n"
	    "<tbody>\n"
	    "<tr><td><code>DOCS</code></td><td></td>"
	    "<td class=\"off\">off</td></tr>\n"
	    "<tr><td><code>BZIP2</code></td><td>&lt;script&gt;alert(&quot;x"
	    "&quot;)&lt;/script&gt; &amp; ${PORTNAME}</td>"
	    "<td class=\"on\">on</td></tr>\n"
	    "</tbody>\n<tbody>\n<tr class=\"group\"><th colspan=\"3\" "
	    "scope=\"rowgroup\"><code>CRYPT</code> Encryption "
	    "<span class=\"kind\">choose at most one</span></th></tr>\n"
	    "<tr><td><code>AES</code></td><td></td>"
	    "<td class=\"off\">off</td></tr>\n"
	    "<tr><td><code>ZSTD</code></td><td></td>"
	    "<td class=\"on\">on</td></tr>\n"
	    "</tbody>\n</table>\n<p class=\"note\">" + unconditional +
	    " The ports framework's own descriptions of its standard options "
	    "are not shown.</p>\n</section>\n"
	    "<section class=\"vulnerabilities\">\n<h2>Known vulnerabilities</h2>\n"
	    "<ul>\n<li><a href=\"https://vuxml.freebsd.org/freebsd/aa-1.html\">"
	    "zip -- &lt;b&gt; overflow</a> (discovered <time datetime="
	    "\"2026-01-05\">2026-01-05</time>): CVE-2026-1, CVE-2026-2</li>\n"
	    "</ul>\n</section>\n");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    "[bar-2.3]\n<dt>License</dt>\n<dd>GPLv2 MIT</dd>\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "[foo-1.0]\n<section class=\"vulnerabilities\">\n"
	    "<h2>Known vulnerabilities</h2>\n<ul>\n"
	    "<li>foo &amp; zip (discovered 2025-13-01)</li>\n</ul>\n</section>\n");

	// A malformed database: one message, no section on any page, the
	// rest of the run as before and its status unchanged.
	std::string broken = year;
	broken.replace(broken.find("</topic>"), 8, "</topc>");
	d.put("ports/security/vuxml/vuln/2026.xml", broken);
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, top + "/security/vuxml/vuln/2026.xml: line 1: "
				"mismatched tag; vulnerabilities not shown\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "[foo-1.0]\n");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    "[bar-2.3]\n<dt>License</dt>\n<dd>GPLv2 MIT</dd>\n");

	// A parameter entity naming a file outside the database, before the
	// year files' entities (which the parser would then not declare):
	// refused as any file outside is, even without -v, rather than read
	// as a database without entries.
	d.put("ports/security/vuxml/vuln/2026.xml", year);
	d.put("ports/security/vuxml/vuln.xml",
	    "<?xml version=\"1.0\"?>\n<!DOCTYPE vuxml [\n"
	    "<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;\n"
	    "<!ENTITY y2026 SYSTEM \"vuln/2026.xml\">\n]>\n"
	    "<vuxml>\n&y2026;\n</vuxml>\n");
	r = run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, top + "/security/vuxml/vuln.xml: line 3: entity "
				"\"/etc/passwd\" refused: only files in "
				"security/vuxml are read; vulnerabilities "
				"not shown\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "[foo-1.0]\n");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html").find("vulnerab"),
	    std::string::npos);

	// Templates without them read neither file: a Makefile that cannot be
	// read and the malformed database go unmentioned even at -v, and the
	// pages are those of the simple templates.
	put_simple_templates(d, "tpl");
	ASSERT_EQ(std::remove((top + "/misc/bar/Makefile").c_str()), 0);
	ASSERT_EQ(mkfifo((top + "/misc/bar/Makefile").c_str(), 0644), 0);
	r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err.find("vuxml"), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find("Makefile: status"), std::string::npos) << r.err;
	// The same pages as from a tree without the files at all.
	std::string zip = d.get("ports/archivers/zip/README.html");
	std::string bar = d.get("ports/misc/bar/README.html");
	EXPECT_EQ(bar.rfind("port [bar-2.3] [misc/bar] [Bar &lt;beta&gt;]", 0), 0u);
	ASSERT_EQ(std::remove((top + "/archivers/zip/Makefile").c_str()), 0);
	ASSERT_EQ(std::remove((top + "/security/vuxml/vuln.xml").c_str()), 0);
	EXPECT_EQ(run({"-q"}).status, 0);
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), zip);
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), bar);
	d.put("tpl/README.port", "%%PORT_STATUS%%");
	r = run({"-v", "misc/bar"});
	EXPECT_NE(r.err.find(top + "/misc/bar/Makefile: status not read: not "
				   "a regular file\n"),
	    std::string::npos)
	    << r.err;
}

TEST_F(Readme, PagesOfPortsAtRiskBesideTheTopPageWhenItLinksThem)
{
	// bar: expiring first, affected by two entries, one of them the
	// newest. zip: expiring later, affected by the older entry through
	// its revision. foo: deprecated without a date, broken, and its
	// version just outside the range of an entry newer than both.
	d.put("ports/archivers/zip/Makefile",
	    "DEPRECATED=\tUse archivers/7-zip <instead>\n"
	    "EXPIRATION_DATE=\t2026-12-31\n");
	d.put("ports/misc/bar/Makefile",
	    "DEPRECATED=\tunmaintained\nEXPIRATION_DATE?=\t2026-06-01\n");
	d.put("ports/misc/foo/Makefile", "BROKEN=\tno\nDEPRECATED=\n");
	d.put("ports/security/vuxml/vuln.xml",
	    "<?xml version=\"1.0\"?>\n<vuxml>\n"
	    "<vuln vid=\"out-3\"><topic>foo -- fixed</topic><affects><package>"
	    "<name>foo</name><range><lt>1.0</lt></range></package></affects>"
	    "<dates><entry>2026-05-01</entry></dates></vuln>\n"
	    "<vuln vid=\"old-2\"><topic>zip &amp; bar</topic><affects><package>"
	    "<name>zip</name><range><lt>3.0_1</lt></range></package><package>"
	    "<name>bar</name><range><ge>2.3</ge></range></package></affects>"
	    "<references><cvename>CVE-2025-9</cvename></references><dates>"
	    "<discovery>2024-12-01</discovery><entry>2025-01-01</entry>"
	    "</dates></vuln>\n"
	    "<vuln vid=\"new-1\"><topic>bar -- new</topic><affects><package>"
	    "<name>bar</name><range><lt>2.4</lt></range></package></affects>"
	    "<dates><discovery>2026-03-01</discovery><entry>2026-03-01</entry>"
	    "</dates></vuln>\n</vuxml>\n");
	d.put("tpl/README.vulnerable", "V\n%%VULNERABLE_PORTS%%%%EXPIRING_PORTS%%end\n");
	d.put("tpl/README.expiring", "E\n%%EXPIRING_PORTS%%end\n");

	// Templates of their own, but a top template that links neither:
	// nothing is read or written, and the pages are as before.
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Increasing verbosity level\n");
	EXPECT_EQ(d.get("ports/README.html"), "top\n"
	    "<a href=\"archivers/README.html\">archivers</a>: Archivers & compression\n"
	    "<a href=\"misc/README.html\">misc</a>: Miscellaneous utilities\n"
	    "end\n");
	EXPECT_FALSE(d.exists("ports/vulnerable.html"));
	EXPECT_FALSE(d.exists("ports/expiring.html"));

	d.put("tpl/README.top",
	    "top\n%%SUBDIR%%[%%VULNERABLE_PAGE%%] [%%EXPIRING_PAGE%%]\n");
	r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err,
	    "Increasing verbosity level\n"
	    "Vulnerabilities: 3 entries read, 2 of 3 ports affected\n"
	    "Port status: 3 deprecated, 2 expiring, 1 broken, 0 forbidden, "
	    "0 ignored of 3 ports\n");
	EXPECT_NE(d.get("ports/README.html")
		      .find("[vulnerable.html] [expiring.html]\n"),
	    std::string::npos);
	const std::string vulnerable =
	    "V\n<ul class=\"ports-at-risk\">\n"
	    "<li><a href=\"misc/bar/README.html\">bar-2.3</a> "
	    "<span class=\"origin\">misc/bar</span>\n<ul>\n"
	    "<li><a href=\"https://vuxml.freebsd.org/freebsd/new-1.html\">"
	    "bar -- new</a> (entered <time datetime=\"2026-03-01\">2026-03-01"
	    "</time>)</li>\n"
	    "<li><a href=\"https://vuxml.freebsd.org/freebsd/old-2.html\">"
	    "zip &amp; bar</a> (entered <time datetime=\"2025-01-01\">"
	    "2025-01-01</time>, discovered <time datetime=\"2024-12-01\">"
	    "2024-12-01</time>): CVE-2025-9</li>\n</ul></li>\n"
	    "<li><a href=\"archivers/zip/README.html\">zip-3.0</a> "
	    "<span class=\"origin\">archivers/zip</span>\n<ul>\n"
	    "<li><a href=\"https://vuxml.freebsd.org/freebsd/old-2.html\">"
	    "zip &amp; bar</a> (entered <time datetime=\"2025-01-01\">"
	    "2025-01-01</time>, discovered <time datetime=\"2024-12-01\">"
	    "2024-12-01</time>): CVE-2025-9</li>\n</ul></li>\n</ul>\nend\n";
	EXPECT_EQ(d.get("ports/vulnerable.html"), vulnerable);
	const std::string expiring =
	    "E\n<ul class=\"ports-at-risk\">\n"
	    "<li><a href=\"misc/bar/README.html\">bar-2.3</a> "
	    "<span class=\"origin\">misc/bar</span><br>\n"
	    "<strong>To be removed on</strong> <time datetime=\"2026-06-01\">"
	    "2026-06-01</time><br>\n<strong>Deprecated:</strong> unmaintained"
	    "</li>\n"
	    "<li><a href=\"archivers/zip/README.html\">zip-3.0</a> "
	    "<span class=\"origin\">archivers/zip</span><br>\n"
	    "<strong>To be removed on</strong> <time datetime=\"2026-12-31\">"
	    "2026-12-31</time><br>\n<strong>Deprecated:</strong> Use "
	    "archivers/7-zip &lt;instead&gt;</li>\n"
	    "<li><a href=\"misc/foo/README.html\">foo-1.0</a> "
	    "<span class=\"origin\">misc/foo</span><br>\n"
	    "<strong>Deprecated</strong></li>\n</ul>\nend\n";
	EXPECT_EQ(d.get("ports/expiring.html"), expiring);

	// A category template that makes its ports' pages twice: each port
	// is listed and counted once.
	const std::string err = r.err;
	d.put("tpl/README.category", "cat\n%%SUBDIR%%%%SUBDIR%%end\n");
	r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, err);
	EXPECT_EQ(d.get("ports/vulnerable.html"), vulnerable);
	EXPECT_EQ(d.get("ports/expiring.html"), expiring);

	// A run for some pages leaves them as the last whole-tree run did.
	d.put("ports/misc/bar/Makefile", "PORTNAME=\tbar\n");
	r = run({"-q", "misc", "archivers/zip"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/vulnerable.html"), vulnerable);
	EXPECT_NE(d.get("ports/expiring.html").find("unmaintained"),
	    std::string::npos);

	// A date that no calendar has is the Makefile's text, and its port
	// comes after the dated ones, among those without a date.
	d.put("ports/archivers/zip/Makefile",
	    "DEPRECATED=\tUse archivers/7-zip <instead>\n"
	    "EXPIRATION_DATE=\t2026-02-30\n");
	d.put("ports/misc/bar/Makefile",
	    "DEPRECATED=\tunmaintained\nEXPIRATION_DATE?=\t2026-06-01\n");
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/expiring.html"),
	    "E\n<ul class=\"ports-at-risk\">\n"
	    "<li><a href=\"misc/bar/README.html\">bar-2.3</a> "
	    "<span class=\"origin\">misc/bar</span><br>\n"
	    "<strong>To be removed on</strong> <time datetime=\"2026-06-01\">"
	    "2026-06-01</time><br>\n<strong>Deprecated:</strong> unmaintained"
	    "</li>\n"
	    "<li><a href=\"misc/foo/README.html\">foo-1.0</a> "
	    "<span class=\"origin\">misc/foo</span><br>\n"
	    "<strong>Deprecated</strong></li>\n"
	    "<li><a href=\"archivers/zip/README.html\">zip-3.0</a> "
	    "<span class=\"origin\">archivers/zip</span><br>\n"
	    "<strong>To be removed on</strong> 2026-02-30<br>\n"
	    "<strong>Deprecated:</strong> Use archivers/7-zip &lt;instead&gt;"
	    "</li>\n</ul>\nend\n");

	// A template missing: that page is not written and counts, the
	// other is. A malformed database: its page says so.
	ASSERT_EQ(std::remove((d / "tpl/README.expiring").c_str()), 0);
	d.put("ports/security/vuxml/vuln.xml", "<vuxml><vuln></vuxml>\n");
	const std::string not_read =
	    d / "tpl/README.expiring" + ": No such file or directory\n" + top +
	    "/security/vuxml/vuln.xml: line 1: mismatched tag; "
	    "vulnerabilities not shown\n";
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, not_read + top + "/expiring.html: not written\n");
	// Below an output root, the page is named where it would go.
	r = run({"-q", "-o", d / "out"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, not_read + d / "out/expiring.html: not written\n");
	EXPECT_EQ(d.get("ports/vulnerable.html"),
	    "V\n<p class=\"none\">The tree's vulnerability database could not "
	    "be read.</p>\nend\n");
	// A page that cannot be written counts as a page does.
	ASSERT_EQ(std::remove((top + "/vulnerable.html").c_str()), 0);
	ASSERT_EQ(symlink("README.html", (top + "/vulnerable.html").c_str()), 0);
	d.put("tpl/README.expiring", "E\n%%EXPIRING_PORTS%%end\n");
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_NE(r.err.find(top + "/vulnerable.html: not written: it is a "
				   "symbolic link\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_NE(d.get("ports/expiring.html").find("archivers/7-zip"),
	    std::string::npos);
}

namespace {

// What a run made and left, listed for comparison: every file below dir
// with its bytes.
std::string files_below(const std::string &dir)
{
	std::string all;
	std::vector<std::string> paths;
	for (auto &e : std::filesystem::recursive_directory_iterator(dir))
		if (e.is_regular_file())
			paths.push_back(e.path().string().substr(dir.size()));
	std::sort(paths.begin(), paths.end());
	for (const std::string &p : paths)
		all += p + ":\n" + read_file(dir + p);
	return all;
}

}  // namespace

TEST_F(Readme, MovedPortsHaveEarlierNamesAndPagesWhereTheyWere)
{
	// A chain to misc/foo (old1, then old2), a cycle (x and y), a flavor
	// dropped (bar to itself), a flavored origin moved (zip@nox), a
	// removal whose reason holds markup, a line moved back to the tree
	// (misc/bar was once gone), and a malformed line.
	d.put("ports/MOVED",
	    "# moved and removed\n"
	    "misc/bar||2019-01-01|Gone for a while\n"
	    "misc/old1|misc/old2|2020-01-02|Renamed\n"
	    "misc/x|misc/y|2020-02-03|There\n"
	    "misc/y|misc/x|2020-02-04|And back\n"
	    "misc/old2|misc/foo|2021-03-04|Renamed again\n"
	    "misc/bar@py|misc/bar|2022-05-06|Flavor dropped\n"
	    "archivers/zip@nox|misc/foo|2022-07-08|Merged\n"
	    "archivers/gone||2023-09-10|Use <b>zip</b> & more\n"
	    "not a line\n");
	d.put("tpl/README.port", "[%%PKG%%] %%FORMERLY%%|\n");
	d.put("tpl/README.moved",
	    "[%%MOVED_FROM%%] [%%MOVED_TO%%] [%%MOVED_DATE%%] "
	    "[%%MOVED_REASON%%] [%%PKG%%]\n");

	Result r = run({"-v", "-o", d / "out"});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("Skipping " + top + "/MOVED line 10: not "
			     "old|new|YYYY-MM-DD|reason\n"),
	    std::string::npos)
	    << r.err;
	std::string out = files_below(d / "out");
	EXPECT_EQ(out.substr(out.find("/archivers/gone/")),
	    "/archivers/gone/README.html:\n"
	    "[archivers/gone] [removed] [<time datetime=\"2023-09-10\">"
	    "2023-09-10</time>] [Use &lt;b&gt;zip&lt;/b&gt; &amp; more] []\n"
	    "/archivers/zip/README.html:\n[zip-3.0] |\n"
	    "/misc/README.html:\n" +
		d.get("out/misc/README.html") +
		"/misc/bar/README.html:\n[bar-2.3] |\n"
		"/misc/foo/README.html:\n[foo-1.0] <dt>Formerly</dt>\n<dd>"
		"<code>misc/old1</code> (until <time datetime=\"2020-01-02\">"
		"2020-01-02</time>), <code>misc/old2</code> (until <time "
		"datetime=\"2021-03-04\">2021-03-04</time>), <code>archivers/zip"
		"</code> (until <time datetime=\"2022-07-08\">2022-07-08</time>)"
		"</dd>\n|\n"
		"/misc/old1/README.html:\n[misc/old1] [<a href=\"../../misc/foo/"
		"README.html\">misc/foo</a>] [<time datetime=\"2020-01-02\">"
		"2020-01-02</time>] [Renamed] []\n"
		"/misc/old2/README.html:\n[misc/old2] [<a href=\"../../misc/foo/"
		"README.html\">misc/foo</a>] [<time datetime=\"2021-03-04\">"
		"2021-03-04</time>] [Renamed again] []\n"
		"/misc/x/README.html:\n[misc/x] [misc/y] [<time datetime=\""
		"2020-02-03\">2020-02-03</time>] [There] []\n"
		"/misc/y/README.html:\n[misc/y] [misc/x] [<time datetime=\""
		"2020-02-04\">2020-02-04</time>] [And back] []\n");

	// In place no directory is made: a page goes only where a port's
	// directory still stands without its Makefile, and none where the
	// tree still has the port.
	d.mkdir("ports/misc/x");
	d.put("ports/misc/old2/Makefile", "PORTNAME=\told2\n");
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(d.get("ports/misc/x/README.html"),
	    "[misc/x] [misc/y] [<time datetime=\"2020-02-03\">2020-02-03</time>]"
	    " [There] []\n");
	EXPECT_FALSE(d.exists("ports/misc/old2/README.html"));
	EXPECT_FALSE(d.exists("ports/misc/old1"));
	EXPECT_FALSE(d.exists("ports/misc/y"));
	EXPECT_FALSE(d.exists("ports/archivers/gone"));
	// A pathname run leaves them as they are.
	d.put("ports/misc/x/README.html", "old\n");
	EXPECT_EQ(run({"-q", "misc"}).status, 0);
	EXPECT_EQ(d.get("ports/misc/x/README.html"), "old\n");

	// Without README.moved and %%FORMERLY%%, MOVED is not read: not even
	// its malformed line is mentioned.
	put_simple_templates(d, "tpl");
	ASSERT_EQ(std::remove((d / "tpl/README.moved").c_str()), 0);
	r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err.find("MOVED"), std::string::npos) << r.err;
	EXPECT_EQ(d.get("ports/misc/x/README.html"), "old\n");
}

TEST_F(Readme, UpdatingNotesOnThePortsTheirAffectsLinesName)
{
	// Each AFFECTS form: exact with "users of", a glob, braces, an
	// alternation, an "and" list, a note for everyone; foo has five
	// notes, the older two folded.
	d.put("ports/UPDATING",
	    "Notes for upgrading.\n\n"
	    "20240105:\n  AFFECTS: users of misc/foo\n  AUTHOR: a@example.org\n\n"
	    "  foo 2.0 reads its configuration from /usr/local/etc/foo/foo.conf, no\n"
	    "  longer from /usr/local/etc/foo.conf; https://foo.example/2.0.html\n"
	    "  lists the other changes.  Run <this> & that:\n\n"
	    "  # pkg upgrade foo\n\n"
	    "20240301:\n  AFFECTS: misc/f*\n\n  Glob.\n\n"
	    "20230101:\n  AFFECTS: everyone\n\n  Nobody's port.\n\n"
	    "20240105:\n  AFFECTS: archivers/{zip,unzip}\n\n  Braces.\n\n"
	    "20220202:\n  AFFECTS: misc/(foo|bar)\n\n  Alternation.\n\n"
	    "20210303:\n  AFFECTS: Users of archivers/zip and misc/foo\n\n"
	    "  A list.\n\n"
	    "2021013:\n  AFFECTS: misc/bar\n\n  Broken date.\n");
	d.put("tpl/README.port", "[%%PKG%%]\n%%UPDATING%%");
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("Skipping " + top + "/UPDATING line 38: not a YYYYMMDD: line\n"), std::string::npos) << r.err;
	// The bodies as descriptions are: prose, an address as a link, a
	// command after its prompt as code.
	auto note = [](const std::string &date, const std::string &affects,
			const std::string &body) {
		return "<h3><time datetime=\"" + date + "\">" + date +
		    "</time></h3>\n<p class=\"affects\">Affects: " + affects +
		    "</p>\n<div class=\"note\">" + body + "</div>\n";
	};
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "[foo-1.0]\n<section class=\"updating\">\n<h2>Before upgrading</h2>\n" +
		note("2024-03-01", "misc/f*", "<p>Glob.</p>\n") +
		note("2024-01-05", "users of misc/foo",
		    "<p>foo 2.0 reads its configuration from /usr/local/etc/foo/foo.conf, no\n"
		    "longer from /usr/local/etc/foo.conf; <a href=\"https://foo.example/2.0.html\">"
		    "https://foo.example/2.0.html</a>\n"
		    "lists the other changes.  Run &lt;this&gt; &amp; that:</p>\n"
		    "<pre># pkg upgrade foo</pre>\n") +
		note("2022-02-02", "misc/(foo|bar)", "<p>Alternation.</p>\n") +
		"<details>\n<summary>1 earlier note</summary>\n" +
		note("2021-03-03", "Users of archivers/zip and misc/foo",
		    "<p>A list.</p>\n") +
		"</details>\n</section>\n");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    "[zip-3.0]\n<section class=\"updating\">\n<h2>Before upgrading</h2>\n" +
		note("2024-01-05", "archivers/{zip,unzip}", "<p>Braces.</p>\n") +
		note("2021-03-03", "Users of archivers/zip and misc/foo",
		    "<p>A list.</p>\n") +
		"</section>\n");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    "[bar-2.3]\n<section class=\"updating\">\n<h2>Before upgrading</h2>\n" +
		note("2022-02-02", "misc/(foo|bar)", "<p>Alternation.</p>\n") +
		"</section>\n");

	// Without UPDATING the pages have no section, and nothing is said.
	ASSERT_EQ(std::remove((top + "/UPDATING").c_str()), 0);
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), "[bar-2.3]\n");
}

TEST_F(Readme, PkgMessagesInEveryFormTheyAreWrittenIn)
{
	// foo: several objects, a heredoc of commands alone, quoted strings
	// with escapes, version bounds, a message without a type over two
	// lines, a blank one. zip: plain text, prose with configuration and a
	// block of a server's configuration after a ':'. bar:
	// broken, shown whole as it stands. Each as a description is.
	d.put("ports/misc/foo/pkg-message",
	    "[\n# comment\n{ type: install\n  message: <<EOM\n"
	    "sysrc foo_enable=YES\nservice foo start\n"
	    "EOM\n}\n{ type: upgrade, minimum_version: \"1.0\",\n"
	    "  maximum_version = 2.0, message: \"Check \\\"conf\\\".\" }\n"
	    "{ type: upgrade; maximum_version: 0.9; message: \"Old.\" }\n"
	    "{ message: \"Always.\\nEvery time.\" }\n"
	    "{ type: install, message: \"\" }\n{ type: upgrade, minimum_version: 3.0, message: \" \\n\" }\n"
	    "{ type: remove, message: \"Bye & thanks.\" }\n]\n");
	d.put("ports/archivers/zip/pkg-message",
	    "zip keeps its <settings> in /usr/local/etc/zip.conf.  To run it at\n"
	    "boot, add this line to /etc/rc.conf:\n"
	    "zip_enable=\"YES\"\n"
	    "\n"
	    "See https://zip.example/ for the rest.\n"
	    "\n"
	    "To serve the archives, add to httpd.conf:\n"
	    "\n"
	    "LoadModule zip_module libexec/apache24/mod_zip.so\n"
	    "AddType application/zip .zip\n"
	    "<IfModule zip_module>\n"
	    "    ZipRoot /var/db/zip\n"
	    "</IfModule>\n"
	    "\n"
	    "Then restart the server.\n");
	d.put("ports/misc/bar/pkg-message", "[ { type: install message: \"x }\n");
	d.put("tpl/README.port", "[%%PKG%%]\n%%PKG_MESSAGE%%");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	const std::string head =
	    "<section class=\"pkg-message\">\n<h2>Messages of the package</h2>\n";
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    "[foo-1.0]\n" + head +
		"<h3>After installing</h3>\n"
		"<div class=\"note\"><pre>sysrc foo_enable=YES\nservice foo start</pre>\n</div>\n"
		"<div class=\"note\"><p>Always.<br>\nEvery time.</p>\n</div>\n"
		"<h3>When upgrading from a version after 1.0 and before 2.0</h3>\n"
		"<div class=\"note\"><p>Check &quot;conf&quot;.</p>\n</div>\n"
		"<h3>When upgrading from a version before 0.9</h3>\n"
		"<div class=\"note\"><p>Old.</p>\n</div>\n"
		"<h3>Before removing</h3>\n"
		"<div class=\"note\"><p>Bye &amp; thanks.</p>\n</div>\n"
		"</section>\n");
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"),
	    "[zip-3.0]\n" + head +
		"<h3>After installing</h3>\n<div class=\"note\">"
		"<p>zip keeps its &lt;settings&gt; in /usr/local/etc/zip.conf.  To run it at\n"
		"boot, add this line to /etc/rc.conf:</p>\n"
		"<pre>zip_enable=&quot;YES&quot;</pre>\n"
		"<p>See <a href=\"https://zip.example/\">https://zip.example/</a> for the rest.</p>\n"
		"<p>To serve the archives, add to httpd.conf:</p>\n"
		"<pre>LoadModule zip_module libexec/apache24/mod_zip.so\n"
		"AddType application/zip .zip\n"
		"&lt;IfModule zip_module&gt;\n    ZipRoot /var/db/zip\n&lt;/IfModule&gt;</pre>\n"
		"<p>Then restart the server.</p>\n"
		"</div>\n</section>\n");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"),
	    "[bar-2.3]\n" + head +
		"<h3>After installing</h3>\n<div class=\"note\"><pre>[ { type: install message: "
		"&quot;x }\n</pre>\n</div>\n</section>\n");

	// At -v: the broken one is named; a missing one is no news; one that
	// is too large or no regular file is named and not shown.
	d.put("ports/archivers/zip/pkg-message", std::string(64 * 1024 + 1, 'x'));
	ASSERT_EQ(std::remove((top + "/misc/foo/pkg-message").c_str()), 0);
	r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("Showing " + top + "/misc/bar/pkg-message as text: line 2: "),
	    std::string::npos)
	    << r.err;
	EXPECT_NE(r.err.find(top + "/archivers/zip/pkg-message: message not "
				   "read: larger than 65536 bytes\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_EQ(r.err.find("misc/foo/pkg-message"), std::string::npos)
	    << r.err;
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), "[zip-3.0]\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "[foo-1.0]\n");
}
