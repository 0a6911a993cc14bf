// The tree's other data files: the order of package versions aside (see
// version_test.cc), a port's status from its Makefile (what is set at the
// top level, what a conditional or a command leaves unknown, which files
// are not read) and the vulnerability database (which entries affect a
// package at a version, what is kept of an entry, and the databases that
// are refused whole).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "harness.h"
#include "state/state.h"
#include "text/bounded.h"
#include "treedata/port_status.h"
#include "treedata/vuxml.h"

using qmtest::TempDir;

namespace {

// A tree in dir/tree, set as the run's top, with room beside it for files
// outside the tree; both readers' state freed after each test.
class TreeData : public ::testing::Test {
      protected:
	void SetUp() override
	{
		clean_up();
		dir.mkdir("tree");
		ASSERT_TRUE(copy_text(
		    startup_state().top_dir, sizeof state.top_dir, dir / "tree"));
		ASSERT_TRUE(join_text(startup_state().top_dir_slash,
		    sizeof state.top_dir_slash, {dir / "tree", "/"}));
	}
	void TearDown() override
	{
		release_buffer(&files);
		release_vuxml();
		clean_up();
	}

	TempDir dir;
	run_buffer files{};
};

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

class PortStatusFile : public TreeData {
      protected:
	// read_port_status on the port directory rel below the tree, with
	// what it says on standard error.
	int read(const std::string &rel, port_status *s, std::string *err)
	{
		testing::internal::CaptureStderr();
		int r = read_port_status((dir / ("tree/" + rel)).c_str(), &files, nullptr, s);
		*err = testing::internal::GetCapturedStderr();
		return r;
	}
};



// A main file shaped like the real one: a document type with an external
// subset that must never be fetched, the year files as external entities,
// the root element referring to them.
std::string
main_file(const std::vector<std::string> &entities,
    const std::string &extra_declarations = "")
{
	std::string text =
	    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
	    "<!DOCTYPE vuxml PUBLIC \"-//vuxml.org//DTD VuXML 1.1//EN\" "
	    "\"http://www.vuxml.org/dtd/vuxml-1/vuxml-11.dtd\" [\n";
	for (std::size_t i = 0; i < entities.size(); i++)
		text += "<!ENTITY y" + std::to_string(i) + " SYSTEM \"" +
		    entities[i] + "\">\n";
	text += extra_declarations;
	text += "]>\n<!-- a comment -->\n"
		"<vuxml xmlns=\"http://www.vuxml.org/apps/vuxml-1\">\n";
	for (std::size_t i = 0; i < entities.size(); i++)
		text += "&y" + std::to_string(i) + ";\n";
	return text + "</vuxml>\n";
}

// One <vuln> entry.
std::string
entry(const std::string &vid, const std::string &topic,
    const std::string &packages, const std::string &cves = "",
    const std::string &discovery = "2026-01-02")
{
	return "  <vuln vid=\"" + vid + "\">\n    <topic>" + topic +
	    "</topic>\n    <affects>\n" + packages +
	    "    </affects>\n"
	    "    <description>\n"
	    "      <body xmlns=\"http://www.w3.org/1999/xhtml\">\n"
	    "\t<p>Not kept: <name>decoy</name></p>\n"
	    "      </body>\n    </description>\n"
	    "    <references>\n" +
	    cves + "      <url>https://example.org/</url>\n    </references>\n"
		   "    <dates>\n      <discovery>" +
	    discovery + "</discovery>\n      <entry>2026-01-03</entry>\n"
			"    </dates>\n  </vuln>\n\n";
}

class Vuxml : public TreeData {
      protected:
	void put(const std::string &rel, const std::string &text)
	{
		dir.put("tree/security/vuxml/" + rel, text);
	}

	// load_vuxml, with what it says on standard error.
	int load(std::string *err)
	{
		testing::internal::CaptureStderr();
		int r = load_vuxml();
		*err = testing::internal::GetCapturedStderr();
		return r;
	}

	// The identifiers of the entries that affect name at version.
	std::vector<std::string> affecting(
	    const std::string &name, const std::string &version)
	{
		std::vector<std::string> vids;
		vuxml_search s = vuxml_find(name, version);
		std::size_t e;
		while (vuxml_next(&s, &e))
			vids.emplace_back(vuxml_entry_at(e).vid);
		return vids;
	}

	// Loads a database that must be refused and returns the message.
	std::string refused()
	{
		std::string err;
		EXPECT_EQ(load(&err), 1);
		EXPECT_FALSE(vuxml_usable());
		EXPECT_EQ(vuxml_entry_count(), 0u);
		EXPECT_EQ(affecting("foo", "1.0"), std::vector<std::string>{});
		return err;
	}

	std::string path(const std::string &rel)
	{
		return dir.path() + "/tree/security/vuxml/" + rel;
	}
};

using vids = std::vector<std::string>;

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
			   ".ifdef WITH_GPM\n"
			   "BROKEN=\tonly with gpm\n"
			   ".endif\n"
			   ".ifndef NO_OLD\n"
			   "DEPRECATED=\tunless NO_OLD\n"
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

namespace {

// The flavors and options that parse_port_status gives, a line each:
// "flavor NAME" and, when it makes a package name, "=PREFIX|SUFFIX";
// "option NAME" with its kind and group, "on" when on by default, and
// ": DESCRIPTION" when it has one.
std::string
choices(std::string text)
{
	std::unique_ptr<choice_book, void (*)(choice_book *)> book(
	    new_choice_book(), free_choice_book);
	port_choices c = port_status_choices(
	    parse_port_status(text.data(), text.size(), book.get()),
	    book.get());
	static constexpr const char *kinds[] = {
	    "plain", "single", "radio", "multi", "group"};
	std::string out;
	for (const port_flavor &f : c.flavors) {
		out += "flavor " + std::string(f.name);
		if (f.has_name)
			out += "=" + std::string(f.prefix) + "|" +
			    std::string(f.suffix);
		out += "\n";
	}
	for (const port_option &o : c.options) {
		out += "option " + std::string(o.name) + " " +
		    kinds[static_cast<int>(o.kind)];
		if (!o.group.empty())
			out += " " + std::string(o.group) + "(" +
			    std::string(o.group_description) + ")";
		if (o.on)
			out += " on";
		if (!o.description.empty())
			out += ": " + std::string(o.description);
		out += "\n";
	}
	return out;
}

} // namespace

// The flavors and options come from the same reading as the status: the
// assignments at the top level, "+=" adding words to what "=" set, lines
// inside blocks left out (and not, as for the status, making the list
// unknown), "${...}" kept whole as written.
TEST(PortStatus, FlavorsAndOptionsFromTheTopLevel)
{
	std::string makefile =
	    "PORTNAME=\tgit\n"
	    "FLAVORS=\tdefault lite\n"
	    "FLAVORS+=\t${EXTRA_FLAVORS:S/a b/c/} tiny\n"
	    "lite_PKGNAMESUFFIX=\t-lite\n"
	    "tiny_PKGNAMEPREFIX=\tmini-\n"
	    "tiny_PKGNAMESUFFIX=\t${FLAVOR_SUFFIX}\n"
	    "LICENSE=\tGPLv2\n"
	    "OPTIONS_DEFINE+=\tLOST\n"
	    "OPTIONS_DEFINE=\tDOCS PERL\n"
	    "OPTIONS_DEFINE+=NLS \\\n\t\t${OPTIONS_COMMON}\n"
	    "OPTIONS_DEFAULT=\tPERL SSL HTTP\n"
	    "OPTIONS_DEFAULT?=\tDOCS\n"
	    "OPTIONS_SINGLE=\tSSL\n"
	    "OPTIONS_SINGLE_SSL=\tBASE PORT\n"
	    "OPTIONS_RADIO=\tPCRE\n"
	    "OPTIONS_RADIO_PCRE=\tPCRE1 PCRE2\n"
	    "OPTIONS_MULTI=\tPROTO\n"
	    "OPTIONS_MULTI_PROTO=\tHTTP MAIL\n"
	    "OPTIONS_GROUP=\tEXTRA X2\n"
	    "OPTIONS_GROUP_EXTRA=\tGUI PERL\n"
	    "OPTIONS_GROUP_X2=\n"
	    "OPTIONS_SINGLE_UNLISTED=\tNOT_AN_OPTION\n"
	    "PERL_DESC=\tPerl <scripts> & \"more\" # a comment\n"
	    "NLS_DESC=\tNative language\n"
	    "NLS_DESC+=\tsupport for ${PORTNAME}\n"
	    "SSL_DESC=\tTLS library\n"
	    "PROTO_DESC!=\techo protocols\n"
	    "GUI_DESC=\tgone\n"
	    ".undef GUI_DESC\n"
	    ".if ${ARCH} == amd64\n"
	    "OPTIONS_DEFINE+=\tSIMD\n"
	    "OPTIONS_DEFAULT=\n"
	    "FLAVORS=\n"
	    "DOCS_DESC=\tonly on amd64\n"
	    ".endif\n"
	    ".for o in A B\n"
	    "OPTIONS_DEFINE+=\t${o}\n"
	    ".endfor\n"
	    "\tOPTIONS_DEFINE+=\tCOMMAND_OF_A_TARGET\n"
	    ".include <bsd.port.mk>\n";
	EXPECT_EQ(choices(makefile),
	    "flavor default\n"
	    "flavor lite=|-lite\n"
	    "flavor ${EXTRA_FLAVORS:S/a b/c/}\n"
	    "flavor tiny=mini-|${FLAVOR_SUFFIX}\n"
	    "option DOCS plain\n"
	    "option PERL plain on: Perl <scripts> & \"more\"\n"
	    "option NLS plain: Native language support for ${PORTNAME}\n"
	    "option ${OPTIONS_COMMON} plain\n"
	    "option BASE single SSL(TLS library)\n"
	    "option PORT single SSL(TLS library)\n"
	    "option PCRE1 radio PCRE()\n"
	    "option PCRE2 radio PCRE()\n"
	    "option HTTP multi PROTO() on\n"
	    "option MAIL multi PROTO()\n"
	    "option GUI group EXTRA()\n");
	// The status is read as before in the same pass.
	EXPECT_EQ(value(makefile, status_var::license), "GPLv2");

	// Without the lists: nothing; the descriptions alone make no option.
	EXPECT_EQ(choices("PORTNAME=\tjq\nDOCS_DESC=\tdocs\n"
			  "OPTIONS_SUB=\tyes\nlite_PKGNAMESUFFIX=\t-lite\n"),
	    "");
	// An empty list, one undefined, one from a command: no words.
	EXPECT_EQ(choices("OPTIONS_DEFINE=\nFLAVORS=\ta\n.undef FLAVORS\n"
			  "OPTIONS_DEFINE!=\techo A\n"),
	    "");
	// What a command set is still added to.
	EXPECT_EQ(choices("OPTIONS_DEFINE!=\techo A\nOPTIONS_DEFINE+=\tB\n"),
	    "option B plain\n");

	// The lists are those of the last Makefile read: an earlier status
	// gives none rather than another port's.
	std::string a = "OPTIONS_DEFINE=\tA\n",
		    b = "OPTIONS_DEFINE=\tB\nFLAVORS=\tx y\n";
	std::unique_ptr<choice_book, void (*)(choice_book *)> book(
	    new_choice_book(), free_choice_book);
	port_status first = parse_port_status(a.data(), a.size(), book.get());
	port_status second = parse_port_status(b.data(), b.size(), book.get());
	EXPECT_TRUE(port_status_choices(first, book.get()).options.empty());
	ASSERT_EQ(port_status_choices(second, book.get()).options.size(), 1u);
	EXPECT_EQ(port_status_choices(second, book.get()).options[0].name, "B");
	// Asked again (a page that shows both, one made again in more
	// room): the same lists.
	EXPECT_EQ(port_status_choices(second, book.get()).flavors.size(), 2u);
	EXPECT_EQ(port_status_choices(second, book.get()).flavors.size(), 2u);
	// Without a book, none are read.
	EXPECT_TRUE(port_status_choices(
	    parse_port_status(b.data(), b.size()), nullptr).flavors.empty());
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
		startup_state().verbosity = verbosity;
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


TEST_F(Vuxml, EntriesAffectAPackageWhenANameAndARangeMatch)
{
	put("vuln.xml", main_file({"vuln/2026.xml", "vuln/2025.xml"}));
	put("vuln/2026.xml",
	    entry("e1", "foo --\n\t  remote &amp; &lt;local&gt; ",
		"<package><name>foo</name><range><lt>1.2</lt></range>"
		"</package>\n",
		"<cvename>CVE-2026-0001</cvename>\n"
		"<cvename> CVE-2026-0002 </cvename>\n") +
		entry("e2", "two names, two ranges",
		    "<package>\n<name>bar</name>\n<name>bar-devel</name>\n"
		    "<range><ge>2.0</ge><lt>2.0_3</lt></range>\n"
		    "<range><ge>1.0</ge><le>1.5</le></range>\n</package>\n") +
		entry("e3", "one package named twice",
		    "<package><name>openssl</name>"
		    "<range><lt>3.0.19,1</lt></range></package>\n"
		    "<package><name>openssl</name>"
		    "<range><lt>3.0.19</lt></range></package>\n"));
	put("vuln/2025.xml",
	    entry("e4", "versions written oddly",
		"<package><name>sudo</name><range><lt>1.9.17p1\n</lt>"
		"</range></package>\n"
		"<package><name>baz</name><range><gt>0</gt></range>"
		"</package>\n"
		"<package><name>qux</name><range><gt>3.*,1</gt></range>"
		"</package>\n"
		"<package><name>any</name></package>\n",
		"", "2025-06-30") +
		entry("e5", "an equal version",
		    "<package><name>foo</name><range><eq>1.1</eq></range>"
		    "</package>\n"));
	std::string err;
	ASSERT_EQ(load(&err), 0);
	EXPECT_EQ(err, "");
	EXPECT_TRUE(vuxml_usable());
	ASSERT_EQ(vuxml_entry_count(), 5u);

	// What a page shows of an entry: blanks collapsed, entities read.
	vuxml_entry e = vuxml_entry_at(0);
	EXPECT_EQ(e.vid, "e1");
	EXPECT_EQ(e.topic, "foo -- remote & <local>");
	EXPECT_EQ(e.discovery, "2026-01-02");
	EXPECT_EQ(e.entry, "2026-01-03");
	ASSERT_EQ(e.cve_count, 2u);
	EXPECT_EQ(vuxml_cve(0, 0), "CVE-2026-0001");
	EXPECT_EQ(vuxml_cve(0, 1), "CVE-2026-0002");
	EXPECT_EQ(vuxml_entry_at(3).discovery, "2025-06-30");
	EXPECT_EQ(vuxml_entry_at(3).cve_count, 0u);

	// Inside the range, at its edge, just outside.
	EXPECT_EQ(affecting("foo", "1.1"), (vids{"e1", "e5"}));
	EXPECT_EQ(affecting("foo", "1.1.1"), vids{"e1"});
	EXPECT_EQ(affecting("foo", "1.2"), vids{});
	EXPECT_EQ(affecting("foo", "1.2.a"), vids{"e1"});
	// Both names of one element, either range, revisions deciding.
	for (const char *name : {"bar", "bar-devel"}) {
		EXPECT_EQ(affecting(name, "2.0_2"), vids{"e2"});
		EXPECT_EQ(affecting(name, "2.0_3"), vids{});
		EXPECT_EQ(affecting(name, "1.5"), vids{"e2"});
		EXPECT_EQ(affecting(name, "1.5_1"), vids{});
		EXPECT_EQ(affecting(name, "0.9"), vids{});
	}
	EXPECT_EQ(affecting("bar-dev", "2.0"), vids{});
	// An epoch deciding; an entry named twice counts once.
	EXPECT_EQ(affecting("openssl", "3.0.18,1"), vids{"e3"});
	EXPECT_EQ(affecting("openssl", "3.0.18"), vids{"e3"});
	EXPECT_EQ(affecting("openssl", "3.0.19,1"), vids{});
	EXPECT_EQ(affecting("openssl", "3.0.25"), vids{"e3"});
	EXPECT_EQ(affecting("sudo", "1.9.17"), vids{"e4"});
	EXPECT_EQ(affecting("sudo", "1.9.17p1"), vids{});
	EXPECT_EQ(affecting("baz", "0.0.1"), vids{"e4"});
	EXPECT_EQ(affecting("qux", "3.0,1"), vids{"e4"});
	EXPECT_EQ(affecting("qux", "9.0"), vids{});
	EXPECT_EQ(affecting("any", "1"), vids{"e4"});
	// Names in the description are not packages.
	EXPECT_EQ(affecting("decoy", "1"), vids{});

	// Loading again replaces what was read.
	put("vuln/2025.xml", "");
	ASSERT_EQ(load(&err), 0);
	EXPECT_EQ(vuxml_entry_count(), 3u);
	EXPECT_EQ(affecting("foo", "1.1"), vids{"e1"});
}

TEST_F(Vuxml, MissingFilesMeanNoDataAndAreSaidAtVerbose)
{
	for (int verbosity : {0, 1}) {
		startup_state().verbosity = verbosity;
		std::string err;
		EXPECT_EQ(load(&err), 0);
		EXPECT_TRUE(vuxml_usable());
		EXPECT_EQ(vuxml_entry_count(), 0u);
		EXPECT_EQ(err,
		    verbosity == 0 ? ""
				   : path("vuln.xml") +
			    ": no such file, no vulnerability data\n");
	}
	put("vuln.xml",
	    main_file({"vuln/2026.xml", "vuln/2003.xml", "vuln/2002.xml"}));
	put("vuln/2026.xml",
	    entry("e1", "t",
		"<package><name>foo</name><range><lt>2</lt></range>"
		"</package>\n"));
	put("vuln/2002.xml",
	    entry("e2", "t",
		"<package><name>foo</name><range><lt>1</lt></range>"
		"</package>\n"));
	for (int verbosity : {0, 1}) {
		startup_state().verbosity = verbosity;
		std::string err;
		EXPECT_EQ(load(&err), 0);
		EXPECT_EQ(vuxml_entry_count(), 2u);
		EXPECT_EQ(err,
		    verbosity == 0
			? ""
			: path("vuln/2003.xml") +
			    ": no such file, read as empty\n");
	}

	// Files named and not one entry in them: no database claims that
	// nothing is vulnerable, at any verbosity. One that names no file
	// and holds nothing is an empty database.
	put("vuln.xml", main_file({"vuln/2003.xml", "vuln/2004.xml"}));
	put("vuln/2004.xml", "\n");
	for (int verbosity : {0, 1}) {
		startup_state().verbosity = verbosity;
		EXPECT_EQ(refused(),
		    (verbosity == 0 ? ""
				    : path("vuln/2003.xml") +
				  ": no such file, read as empty\n") +
			path("vuln.xml") +
			": no entry in the files it includes; vulnerabilities "
			"not shown\n");
	}
	put("vuln.xml", main_file({}));
	std::string err;
	EXPECT_EQ(load(&err), 0);
	EXPECT_EQ(err, "");
	EXPECT_TRUE(vuxml_usable());
}

TEST_F(Vuxml, MalformedFilesAreRefusedWholeWithTheFileAndLine)
{
	put("vuln.xml", main_file({"vuln/2026.xml", "vuln/2025.xml"}));
	put("vuln/2026.xml",
	    entry("e1", "t",
		"<package><name>foo</name><range><lt>2</lt></range>"
		"</package>\n"));
	put("vuln/2025.xml",
	    "  <vuln vid=\"e2\">\n    <topic>t</topic>\n  </vul>\n");
	EXPECT_EQ(refused(), path("vuln/2025.xml") +
		      ": line 3: mismatched tag; vulnerabilities not shown\n");

	put("vuln/2025.xml", "");
	put("vuln.xml", main_file({"vuln/2026.xml"}) + "<vuxml>\n");
	EXPECT_EQ(refused(),
	    path("vuln.xml") +
		": line 9: junk after document element; vulnerabilities "
		"not shown\n");

	// Cut short anywhere, the database is read or cleanly refused.
	std::string whole = main_file({}) + "";
	whole.insert(whole.rfind("</vuxml>"),
	    entry("e1", "t",
		"<package><name>foo</name><range><lt>2</lt></range>"
		"</package>\n"));
	for (std::size_t cut = 0; cut + 1 < whole.size(); cut += 7) {
		put("vuln.xml", whole.substr(0, cut));
		std::string err;
		EXPECT_EQ(load(&err), 1) << cut;
		EXPECT_EQ(err.find(path("vuln.xml") + ": "), 0u) << err;
	}

	dir.mkdir("tree/security/vuxml/vuln.d");
	put("vuln.xml", main_file({"vuln.d"}));
	EXPECT_EQ(refused(), path("vuln.d") +
		      ": not a regular file; vulnerabilities not shown\n");
}

TEST_F(Vuxml, EntitiesAreReadOnlyFromTheDatabaseDirectory)
{
	dir.put("secret.xml", "<vuln vid=\"stolen\"><topic>t</topic></vuln>");
	dir.put("tree/UPDATING", "not xml");
	for (const char *name :
	    {"/etc/passwd", "../../UPDATING", "vuln/../../../UPDATING", "..",
		"http://example.org/vuln.xml", "file:///etc/passwd",
		"vuln\\..\\x.xml"}) {
		put("vuln.xml", main_file({"vuln/2026.xml", name}));
		put("vuln/2026.xml", "");
		EXPECT_EQ(refused(),
		    path("vuln.xml") + ": line 9: entity \"" + name +
			"\" refused: only files in security/vuxml are read; "
			"vulnerabilities not shown\n")
		    << name;
	}
	// A parameter entity is never read, and the parser declares nothing
	// after a reference to one: one naming a file outside is refused
	// where it is declared, at every verbosity.
	auto before_years = [](std::string text, const std::string &what) {
		return text.insert(text.find("[\n") + 2, what);
	};
	put("vuln/2026.xml", entry("e1", "t", ""));
	for (int verbosity : {0, 1}) {
		startup_state().verbosity = verbosity;
		put("vuln.xml",
		    before_years(main_file({"vuln/2026.xml"}),
			"<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;\n"));
		EXPECT_EQ(refused(),
		    path("vuln.xml") + ": line 3: entity \"/etc/passwd\" "
				       "refused: only files in security/vuxml "
				       "are read; vulnerabilities not shown\n");
	}
	startup_state().verbosity = 0;
	// One inside the database hides the declarations after it; so does
	// a document type whose own file, never read, would declare them.
	put("vuln.xml", before_years(main_file({"vuln/2026.xml"}),
			    "<!ENTITY % p SYSTEM \"vuln/p.ent\"> %p;\n"));
	EXPECT_EQ(refused(), path("vuln.xml") +
		      ": line 8: entity \"y0\" refused: no declaration of it "
		      "was read; vulnerabilities not shown\n");
	put("vuln.xml", "<!DOCTYPE vuxml SYSTEM \"http://example.org/v.dtd\">\n"
			"<vuxml>\n&y0;\n</vuxml>\n");
	EXPECT_EQ(refused(), path("vuln.xml") +
		      ": line 3: entity \"y0\" refused: no declaration of it "
		      "was read; vulnerabilities not shown\n");
	// After the declarations it hides nothing.
	put("vuln.xml", main_file({"vuln/2026.xml"},
			    "<!ENTITY % p SYSTEM \"vuln/p.ent\"> %p;\n"));
	std::string err;
	ASSERT_EQ(load(&err), 0) << err;
	EXPECT_EQ(vuxml_entry_count(), 1u);

	// A link that leads out of the tree is refused as it is opened.
	ASSERT_EQ(symlink("../../../secret.xml",
		      (dir / "tree/security/vuxml/linked.xml").c_str()),
	    0);
	put("vuln.xml", main_file({"linked.xml"}));
	EXPECT_EQ(refused(), path("linked.xml") +
		      ": the path leads out of the ports tree; "
		      "vulnerabilities not shown\n");

	// A year file's own entities are relative to its directory, and
	// files may nest only so deep.
	std::string chain;
	for (int k = 2; k <= 6; k++)
		chain += "<!ENTITY f" + std::to_string(k) + " SYSTEM \"f" +
		    std::to_string(k) + ".xml\">\n";
	put("vuln.xml", main_file({"vuln/f1.xml"}, chain));
	put("vuln/f1.xml", "&f2;");
	put("vuln/f2.xml", "&f3;");
	put("vuln/f3.xml", entry("in-f3", "t", ""));
	ASSERT_EQ(load(&err), 0) << err;
	ASSERT_EQ(vuxml_entry_count(), 1u);
	EXPECT_EQ(vuxml_entry_at(0).vid, "in-f3");
	put("vuln/f3.xml", "&f4;");
	put("vuln/f4.xml", "\n&f5;");
	put("vuln/f5.xml", "");
	EXPECT_EQ(refused(), path("vuln/f4.xml") +
		      ": line 2: too many files included; vulnerabilities "
		      "not shown\n");
}

TEST_F(Vuxml, EntityExpansionIsBounded)
{
	// Six levels of ten: 3 MB from a file of a kilobyte, which expat
	// would allow by default (8 MiB). It is refused where its first
	// entity is declared, as is any entity with a text of its own.
	std::string bomb = "<!ENTITY l0 \"lol\">\n";
	for (int i = 1; i <= 6; i++) {
		bomb += "<!ENTITY l" + std::to_string(i) + " \"";
		for (int k = 0; k < 10; k++)
			bomb += "&l" + std::to_string(i - 1) + ";";
		bomb += "\">\n";
	}
	std::string text = main_file({}, bomb);
	text.insert(text.rfind("</vuxml>"),
	    "<vuln vid=\"b\"><topic>&l6;</topic></vuln>");
	put("vuln.xml", text);
	EXPECT_EQ(refused(), path("vuln.xml") +
		      ": line 3: entity \"l0\" refused: only entities naming "
		      "files are read; vulnerabilities not shown\n");
	put("vuln.xml", main_file({"vuln/a.xml"}, "<!ENTITY os \"FreeBSD\">\n"));
	put("vuln/a.xml", "");
	EXPECT_EQ(refused(), path("vuln.xml") +
		      ": line 4: entity \"os\" refused: only entities naming "
		      "files are read; vulnerabilities not shown\n");

	// A file is included once: under another name too.
	put("vuln.xml", main_file({"vuln/a.xml", "vuln/./a.xml"}));
	put("vuln/a.xml", entry("a", "t", ""));
	EXPECT_EQ(refused(), path("vuln/./a.xml") +
		      ": included twice; vulnerabilities not shown\n");

	// Year files of real size are no expansion: 9 MiB in all, above
	// where expat would stop by default.
	std::string year;
	while (year.size() < (3 << 20))
		year += entry("v" + std::to_string(year.size()),
		    "a topic of real length -- remote code execution",
		    "<package><name>foo</name><range><lt>1.0</lt></range>"
		    "</package>\n",
		    "<cvename>CVE-2026-12345</cvename>\n");
	put("vuln.xml",
	    main_file({"vuln/2026.xml", "vuln/2025.xml", "vuln/2024.xml"}));
	for (const char *y : {"2026", "2025", "2024"})
		put("vuln/" + std::string(y) + ".xml", year);
	std::string err;
	ASSERT_EQ(load(&err), 0) << err;
	EXPECT_GT(vuxml_entry_count(), 3000u);
	EXPECT_EQ(affecting("foo", "0.9").size(), vuxml_entry_count());
}
