// Hostile and broken input, end to end: INDEX files, Makefiles and templates
// that are malformed or oversized, READMEs that cannot or must not be
// written, and pathnames that lead out of the tree or past the path buffers.
// Every case checks the exit status, the message that names the problem and
// which files exist afterwards, byte for byte.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

using namespace qmtest;

namespace {

const std::string nul(1, '\0');
const std::string missing = "<missing>";

const std::string build_sentence =
    "This port requires the following ports to build:<br><br>";
const std::string run_sentence =
    "This port requires the following ports to run:<br><br>";

// Deterministic bytes of every value, newlines and NULs included.
std::string
junk(std::size_t n, std::uint32_t seed)
{
	std::string s;
	s.reserve(n);
	for (std::size_t i = 0; i < n; i++) {
		seed = seed * 1103515245u + 12345u;
		s += static_cast<char>(seed >> 16);
	}
	return s;
}

// A relative path of exactly n characters, in components of at most 200.
std::string
path_of_length(std::size_t n, char fill)
{
	std::string p;
	while (p.size() < n) {
		if (!p.empty())
			p += '/';
		std::size_t left = n - p.size();
		std::size_t take = left > 200 ? 200 : left;
		// Leave room for a "/" and at least one more character.
		if (left > 200 && left - 200 < 2)
			take = left - 2;
		p += std::string(take, fill);
	}
	return p;
}

// A dependency list of exactly n characters.
std::string
deps_of_length(std::size_t n)
{
	std::string s;
	while (s.size() < n)
		s += "lib" + std::to_string(s.size()) + "-1.0 ";
	s.resize(n);
	return s;
}

std::vector<std::string>
split_lines(const std::string &text)
{
	std::vector<std::string> lines;
	std::istringstream in(text);
	for (std::string line; std::getline(in, line);)
		lines.push_back(line);
	return lines;
}

// True when err holds exactly one line, and it begins with path and ": ".
::testing::AssertionResult
one_line_naming(const std::string &err, const std::string &path)
{
	if (err.rfind(path + ": ", 0) != 0)
		return ::testing::AssertionFailure()
		    << "message does not begin with \"" << path
		    << ": \": " << err.substr(0, 300);
	if (err.find('\n') != err.size() - 1)
		return ::testing::AssertionFailure()
		    << "not exactly one line: " << err.substr(0, 300);
	return ::testing::AssertionSuccess();
}

bool
contains(const std::string &text, const std::string &part)
{
	return text.find(part) != std::string::npos;
}

std::string
link_target(const std::string &path)
{
	char buf[4096];
	ssize_t n = readlink(path.c_str(), buf, sizeof buf);
	return n < 0 ? missing : std::string(buf, static_cast<std::size_t>(n));
}

// Every name below root, with its type and mode, and the bytes of a file or
// the target of a link; directories listed in skip are not entered.
std::string
snapshot(const std::string &root, const std::vector<std::string> &skip,
    const std::string &rel = "")
{
	std::string dir = rel.empty() ? root : root + "/" + rel;
	std::vector<std::string> names;
	if (DIR *dp = opendir(dir.c_str())) {
		while (struct dirent *e = readdir(dp)) {
			std::string name = e->d_name;
			if (name != "." && name != "..")
				names.push_back(name);
		}
		closedir(dp);
	}
	std::sort(names.begin(), names.end());
	std::string out;
	for (const std::string &name : names) {
		std::string r = rel.empty() ? name : rel + "/" + name;
		std::string path = root + "/" + r;
		struct stat st;
		if (lstat(path.c_str(), &st) != 0)
			continue;
		char mode[16];
		std::snprintf(mode, sizeof mode, "%06o", st.st_mode);
		out += r + " " + mode;
		if (S_ISREG(st.st_mode))
			out += " [" + read_file(path) + "]";
		else if (S_ISLNK(st.st_mode))
			out += " -> " + link_target(path);
		out += "\n";
		if (S_ISDIR(st.st_mode) &&
		    std::find(skip.begin(), skip.end(), r) == skip.end())
			out += snapshot(root, skip, r);
	}
	return out;
}

// Gives others read access to everything below root (and search access to
// its directories), so that a run as an unprivileged user can read the tree.
void
open_to_others(const std::string &root, mode_t dir_mode = 0755)
{
	chmod(root.c_str(), dir_mode);
	if (DIR *dp = opendir(root.c_str())) {
		while (struct dirent *e = readdir(dp)) {
			std::string name = e->d_name;
			if (name == "." || name == "..")
				continue;
			std::string path = root + "/" + name;
			struct stat st;
			if (lstat(path.c_str(), &st) != 0)
				continue;
			if (S_ISDIR(st.st_mode))
				open_to_others(path, dir_mode);
			else if (S_ISREG(st.st_mode))
				chmod(path.c_str(), 0644);
		}
		closedir(dp);
	}
}

// The small tree of the harness with its simple templates, and the bytes of
// every README that a clean run writes into it.
class SmallTree : public ::testing::Test {
      protected:
	TempDir d;
	const std::string top = d / "ports";
	const std::string tpl = d / "tpl";
	std::string zip_line, bar_line, foo_line; // INDEX lines, no newline

	void SetUp() override
	{
		put_small_tree(d, "ports");
		put_simple_templates(d, "tpl");
		std::vector<std::string> lines =
		    split_lines(d.get("ports/INDEX-15"));
		ASSERT_EQ(lines.size(), 3u);
		zip_line = lines[0];
		bar_line = lines[1];
		foo_line = lines[2];
	}

	Result run(
	    const std::vector<std::string> &args, const RunOptions &o = {})
	{
		std::vector<std::string> all = {"-p", top, "-t", tpl};
		all.insert(all.end(), args.begin(), args.end());
		return run_tool(all, o);
	}

	void put_index(const std::vector<std::string> &lines,
	    const std::string &end = "\n")
	{
		std::string text;
		for (const std::string &line : lines)
			text += line + end;
		d.put("ports/INDEX-15", text);
	}

	std::string port_page(const std::string &pkg, const std::string &port,
	    const std::string &comment, const std::string &descr,
	    const std::string &email, const std::string &build = "",
	    const std::string &run_deps = "", const std::string &web = "") const
	{
		return "port [" + pkg + "] [" + port + "] [" + comment + "] [" +
		    descr + "] [" + email + "] [" + build + "] [" + run_deps +
		    "] [" + web + "] [" + top + "]\n";
	}
	std::string zip_page() const
	{
		return port_page("zip-3.0", "archivers/zip",
		    "Create zip archives", top + "/archivers/zip/pkg-descr",
		    "arch@example.org", "", "",
		    " or <a href=\"https://zip.example.org/\">visit the "
		    "website</a>");
	}
	std::string bar_page(const std::string &build = "gmake-4.4",
	    const std::string &run_deps = "zip-3.0 foo-1.0") const
	{
		return port_page("bar-2.3", "misc/bar", "Bar &lt;beta&gt;",
		    top + "/misc/bar/pkg-descr", "misc@example.org",
		    build.empty() ? "" : build_sentence + build,
		    run_deps.empty() ? "" : run_sentence + run_deps);
	}
	std::string foo_page() const
	{
		return port_page("foo-1.0", "misc/foo", "Foo &amp; Bar tools",
		    top + "/misc/foo/pkg-descr", "misc@example.org");
	}
	static std::string zip_link()
	{
		return "<a href=\"zip/README.html\">zip-3.0</a>: Create zip "
		       "archives\n";
	}
	static std::string bar_link()
	{
		return "<a href=\"bar/README.html\">bar-2.3</a>: Bar "
		       "&lt;beta&gt;\n";
	}
	static std::string foo_link()
	{
		return "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar "
		       "tools\n";
	}
	static std::string archivers_page()
	{
		return "cat [archivers] [Archivers & compression (1 ports)]\n" +
		    zip_link() + "end\n";
	}
	static std::string misc_page(
	    const std::string &comment = "Miscellaneous utilities",
	    int count = 2)
	{
		return "cat [misc] [" + comment + " (" + std::to_string(count) +
		    " ports)]\n" + bar_link() + foo_link() + "end\n";
	}
	static std::string top_links(
	    const std::string &misc_comment = "Miscellaneous utilities")
	{
		return "<a href=\"archivers/README.html\">archivers</a>: "
		       "Archivers & compression\n"
		       "<a href=\"misc/README.html\">misc</a>: " +
		    misc_comment + "\n";
	}
	static std::string top_page(
	    const std::string &misc_comment = "Miscellaneous utilities")
	{
		return "top\n" + top_links(misc_comment) + "end\n";
	}

	// Every README of the tree, by its path below d, as a clean whole-tree
	// run writes it.
	std::map<std::string, std::string> clean_pages() const
	{
		return {
		    {"ports/README.html", top_page()},
		    {"ports/archivers/README.html", archivers_page()},
		    {"ports/archivers/zip/README.html", zip_page()},
		    {"ports/misc/README.html", misc_page()},
		    {"ports/misc/bar/README.html", bar_page()},
		    {"ports/misc/foo/README.html", foo_page()},
		};
	}
	std::map<std::string, std::string> no_pages() const
	{
		std::map<std::string, std::string> pages = clean_pages();
		for (auto &page : pages)
			page.second = missing;
		return pages;
	}

	// Each file holds exactly its bytes; missing means it does not exist.
	void expect_files(const std::map<std::string, std::string> &want) const
	{
		for (const auto &[rel, bytes] : want) {
			if (bytes == missing)
				EXPECT_FALSE(d.exists(rel)) << rel << " exists";
			else
				EXPECT_EQ(d.get(rel), bytes) << rel;
		}
	}
};

class BadIndex : public SmallTree {};
class BadMakefile : public SmallTree {};
class BadTemplate : public SmallTree {};
class BadOutput : public SmallTree {};

// INDEX files.

TEST_F(BadIndex, NulByteInsideALineIsRejectedWithItsNumber)
{
	struct Case {
		std::string index;
		std::string message;
	};
	std::string bar_head = bar_line.substr(0, bar_line.find(" <beta>"));
	std::vector<Case> cases = {
	    {zip_line + "\n" + bar_head + nul + " <beta>" +
		    bar_line.substr(bar_head.size() + 7) + "\n" + foo_line +
		    "\n",
		"Error in index file line 2: line = \"" + bar_head + "\"\n"},
	    {zip_line + "\n" + bar_line + "\n" + nul + foo_line,
		"Error in index file line 3: line = \"\"\n"},
	    {zip_line + "\n" + bar_line + nul + "\n" + foo_line + "\n",
		"Error in index file line 2: line = \"" + bar_line + "\"\n"},
	    {zip_line + "\n" + bar_line + "\n" + foo_line + "\n" + nul,
		"Error in index file line 4: line = \"\"\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		d.put("ports/INDEX-15", c.index);
		Result r = run({});
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.err, c.message);
		EXPECT_EQ(r.out, "");
		expect_files(no_pages());
	}
}

TEST_F(BadIndex, CrlfLineEndsKeepTheCarriageReturnInTheLine)
{
	// On full lines the CR becomes a fourteenth field that nothing reads.
	put_index({zip_line, bar_line, foo_line}, "\r\n");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	expect_files(clean_pages());

	// After a last field of categories it joins the primary category, so
	// the line forms a group of its own that misc does not select.
	put_index({zip_line, bar_line,
		      "foo-1.0|/usr/ports/misc/foo|/usr/local|Foo|"
		      "/usr/ports/misc/foo/pkg-descr|m@x|misc"},
	    "\r\n");
	d.put("ports/misc/foo/README.html", "old");
	r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "Port misc/foo not found in INDEX\n");
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    "cat [misc] [Miscellaneous utilities (2 ports)]\n" + bar_link() +
		"end\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "old");
}

TEST_F(BadIndex, LinesUpToTheFieldBufferAreAccepted)
{
	const std::string head =
	    bar_line.substr(0, bar_line.find("|gmake-4.4") + 1);

	// 40,000 characters: the port's README holds them all.
	std::string deps = deps_of_length(40000 - head.size());
	put_index({zip_line, head + deps, foo_line});
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/bar/README.html"] = bar_page(deps, "");
	expect_files(pages);

	// 1,048,575 characters: still an INDEX line, but the port's README
	// would not fit its buffer, so only that README is not written.
	std::string longest = head + deps_of_length(1048575 - head.size());
	put_index({zip_line, longest, foo_line});
	d.put("ports/misc/bar/README.html", "old");
	r = run({"-q", "misc/bar", "misc/foo"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/bar/README.html"));
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), "old");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());

	// In a whole-tree run the failed port still gets its link line, and
	// counts.
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/bar/README.html"));
	pages["ports/misc/bar/README.html"] = "old";
	expect_files(pages);
}

TEST_F(BadIndex, LineBeyondTheFieldBufferIsRejectedWithItsNumber)
{
	const std::string head =
	    bar_line.substr(0, bar_line.find("|gmake-4.4") + 1);
	for (std::size_t length :
	    {std::size_t{1048576}, std::size_t{3u << 20}}) {
		SCOPED_TRACE(length);
		std::string line = head + deps_of_length(length - head.size());
		put_index({zip_line, line, foo_line});
		Result r = run({"-q"});
		EXPECT_EQ(r.status, 255);
		EXPECT_TRUE(r.err ==
		    "Error in index file line 2: line = \"" + line + "\"\n")
		    << r.err.substr(0, 200);
		EXPECT_EQ(r.out, "");
		expect_files(no_pages());
	}
}

TEST_F(BadIndex, MoreThanFourteenFieldsAreRejected)
{
	const std::string head =
	    bar_line.substr(0, bar_line.find("|gmake-4.4") + 1);
	const std::string fourteen = head + "gmake-4.4|zip-3.0 foo-1.0|||||x";
	put_index({zip_line, fourteen, foo_line});
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	expect_files(clean_pages());

	std::string fifteen = fourteen + "|y";
	std::string twenty = "foo-1.0|/usr/ports/misc/foo|/usr/local|Foo|"
			     "/usr/ports/misc/foo/pkg-descr|m@x|misc";
	for (int field = 8; field <= 20; field++)
		twenty += "|f" + std::to_string(field);
	for (const std::string &bad : {fifteen, twenty}) {
		SCOPED_TRACE(bad);
		put_index({zip_line, bar_line, bad});
		for (auto &page : clean_pages())
			std::remove((d / page.first).c_str());
		r = run({});
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.err,
		    "Error in index file line 3: line = \"" + bad + "\"\n");
		EXPECT_EQ(r.out, "");
		expect_files(no_pages());
	}
}

TEST_F(BadIndex, EmptyLineIsRejectedWithItsNumber)
{
	struct Case {
		std::string index;
		int line;
	};
	std::string good = zip_line + "\n" + bar_line + "\n" + foo_line + "\n";
	std::vector<Case> cases = {
	    {zip_line + "\n\n" + bar_line + "\n" + foo_line + "\n", 2},
	    {"\n" + good, 1},
	    {good + "\n", 4},
	    {good + "\n\n", 4},
	    {"\n", 1},
	    {"\n\n\n\n", 1},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.index);
		d.put("ports/INDEX-15", c.index);
		Result r = run({});
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.err,
		    "Error in index file line " + std::to_string(c.line) +
			": line = \"\"\n");
		EXPECT_EQ(r.out, "");
		expect_files(no_pages());
	}
}

TEST_F(BadIndex, MissingFinalNewlineChangesNothing)
{
	d.put("ports/INDEX-15", zip_line + "\n" + bar_line + "\n" + foo_line);
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	expect_files(clean_pages());
}

TEST_F(BadIndex, EmptyFileHasNoCategories)
{
	d.put("ports/INDEX-15", "");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(
	    r.err, "No such category: archivers\nNo such category: misc\n");
	std::map<std::string, std::string> pages = no_pages();
	pages["ports/README.html"] =
	    "top\n"
	    "<a href=\"archivers/README.html\">archivers</a>: \n"
	    "<a href=\"misc/README.html\">misc</a>: \n"
	    "end\n";
	expect_files(pages);

	r = run({"-q", "misc/foo", "archivers"});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(
	    r.err, "No such category: misc\nNo such category: archivers\n");
}

TEST_F(BadIndex, DirectoryNamedLikeTheIndexIsRefused)
{
	std::remove((d / "ports/INDEX-15").c_str());
	d.put("ports/INDEX-15/" + zip_line.substr(0, 7), zip_line + "\n");
	Result r = run({});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err,
	    top + "/INDEX-15: " + std::strerror(EISDIR) +
		"\nUnable to load the index file!\n");
	EXPECT_EQ(r.out, "");
	expect_files(no_pages());
}

TEST_F(BadIndex, UnreadableIndexIsReportedToTheUser)
{
	if (!running_as_root())
		GTEST_SKIP() << "needs root to run the tool as uid 65534";
	open_to_others(d.path());
	chmod((d / "ports/INDEX-15").c_str(), 0);
	RunOptions o;
	o.as_nobody = true;
	Result r = run({}, o);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err,
	    top + "/INDEX-15: " + std::strerror(EACCES) +
		"\nUnable to load the index file!\n");
	EXPECT_EQ(r.out, "");
	expect_files(no_pages());
}

// Makefiles.

TEST_F(BadMakefile, InputsThatCannotBeReadSafelyAreRefusedAtOnce)
{
	// A FIFO in place of any input must not hang the run; a read error
	// counts as a failed open; and nothing outside the tree is read.
	auto fifo = [](const std::string &path) {
		std::remove(path.c_str());
		ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
	};
	const std::string no_misc_err = top + "/misc/Makefile: ";
	struct Case {
		std::function<void()> sabotage;
		int status;
		std::string err;
		bool misc_fails; // else every page or none is written
	} cases[] = {
	    {[&] { fifo(top + "/INDEX-15"); }, 255,
		top + "/INDEX-15: not a regular file\n"
		      "Unable to load the index file!\n", false},
	    {[&] { fifo(top + "/Makefile"); }, 255,
		top + "/Makefile: not a regular file\n"
		      "Unable to open top-level ports Makefile\n", false},
	    {[&] { fifo(tpl + "/README.port"); }, 255,
		tpl + "/README.port: not a regular file\n", false},
	    {[&] { fifo(top + "/Makefile.local"); }, 0,
		top + "/Makefile.local: not a regular file\n", false},
	    {[&] { fifo(top + "/misc/Makefile"); }, 0,
		no_misc_err + "not a regular file\n", true},
	    {[&] {
		     std::remove((top + "/misc/Makefile").c_str());
		     d.mkdir("ports/misc/Makefile");
	     },
		0, no_misc_err + std::strerror(EISDIR) + "\n", true},
	    {[&] {
		     d.put("outside/Makefile",
			 "    COMMENT = Outside secret\n    SUBDIR += bar\n");
		     std::filesystem::remove_all(top + "/misc");
		     ASSERT_EQ(symlink((d / "outside").c_str(),
				   (top + "/misc").c_str()),
			 0);
	     },
		0,
		no_misc_err + "not read: the path leads out of the ports tree\n",
		true},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.err);
		std::filesystem::remove_all(top);
		std::filesystem::remove_all(tpl);
		put_small_tree(d, "ports");
		put_simple_templates(d, "tpl");
		c.sabotage();
		Result r = run({"-q"});
		EXPECT_EQ(r.status, c.status);
		EXPECT_EQ(r.err, c.err);
		EXPECT_EQ(r.out, "");
		std::map<std::string, std::string> pages =
		    c.status == 0 ? clean_pages() : no_pages();
		if (c.misc_fails) {
			pages["ports/README.html"] = top_page("");
			pages["ports/misc/README.html"] = missing;
			pages["ports/misc/bar/README.html"] = missing;
			pages["ports/misc/foo/README.html"] = missing;
		}
		expect_files(pages);
	}
}

TEST_F(BadMakefile, LongLinesAreReadInPieces)
{
	// A line longer than 2047 characters is read as pieces of at most
	// 2047, each a line of its own: the first piece of a long COMMENT
	// gives the first 2033 characters of the comment; the first piece of
	// a long SUBDIR line gives a name whose path does not fit.
	const std::string comment(5000 - 14, 'C');
	const std::string name(5000 - 14, 'p');
	d.put("ports/Makefile",
	    "# " + std::string(4998, 'x') + "\n" + d.get("ports/Makefile"));
	d.put("ports/misc/Makefile",
	    "    COMMENT = " + comment +
		"\n"
		"    SUBDIR += bar\n"
		"    SUBDIR += " +
		name +
		"\n"
		"    SUBDIR += foo\n");
	// The port whose path is too long is a page not written.
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err,
	    top + "/misc/" + name.substr(0, 2033) + ": " +
		std::strerror(ENAMETOOLONG) + "\n");
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/README.html"] = top_page(comment.substr(0, 2033));
	pages["ports/misc/README.html"] = misc_page(comment.substr(0, 2033), 3);
	expect_files(pages);
}

TEST_F(BadMakefile, CategoryListOverItsBufferEndsStartUp)
{
	// archivers and misc take 15 of the 2048 bytes, the list's end one
	// more: a third name of 2031 characters fills it exactly.
	const std::string listed = "SUBDIR += archivers\nSUBDIR += misc\n";
	d.put("ports/Makefile",
	    listed + "SUBDIR += " + std::string(2031, 'n') + "\n");
	Result r = run({"-q", "misc/foo"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
	std::remove((d / "ports/misc/foo/README.html").c_str());

	struct Case {
		std::string makefile, local, named;
	};
	std::string many;
	for (int i = 0; i < 300; i++)
		many += "SUBDIR += category" + std::to_string(i) + "\n";
	std::vector<Case> cases = {
	    {listed + "SUBDIR += " + std::string(2032, 'n') + "\n", "",
		top + "/Makefile"},
	    {listed + "SUBDIR += " + std::string(4990, 'n') + "\n", "",
		top + "/Makefile"},
	    {listed + many, "", top + "/Makefile"},
	    {listed, many, top + "/Makefile.local"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.named);
		d.put("ports/Makefile", c.makefile);
		if (c.local.empty())
			std::remove((d / "ports/Makefile.local").c_str());
		else
			d.put("ports/Makefile.local", c.local);
		r = run({"misc/foo"});
		EXPECT_EQ(r.status, 255);
		EXPECT_TRUE(one_line_naming(r.err, c.named));
		EXPECT_EQ(r.out, "");
		expect_files(no_pages());
	}
}

TEST_F(BadMakefile, PortListOverItsBufferFailsOnlyThatCategory)
{
	// bar and foo take 8 bytes and the list's end one: 1163 names of 900
	// characters and one of 703 fill the other 1,048,567 exactly.
	const std::string head = "    COMMENT = Miscellaneous utilities\n"
				 "    SUBDIR += bar\n"
				 "    SUBDIR += foo\n";
	std::string fill;
	for (int i = 0; i < 1163; i++)
		fill += "    SUBDIR += " + std::string(900, 'f') + "\n";
	d.put("ports/misc/Makefile",
	    head + fill + "    SUBDIR += " + std::string(703, 'f') + "\n");
	Result r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(split_lines(r.err).size(), 1164u);
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    misc_page("Miscellaneous utilities", 1166));
	for (auto &page : clean_pages())
		std::remove((d / page.first).c_str());

	// One byte more.
	d.put("ports/misc/Makefile",
	    head + fill + "    SUBDIR += " + std::string(704, 'f') + "\n");
	r = run({"misc"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/Makefile"));
	EXPECT_EQ(r.out, "");
	expect_files(no_pages());

	// The whole tree is made around it.
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/Makefile"));
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/README.html"] = missing;
	pages["ports/misc/bar/README.html"] = missing;
	pages["ports/misc/foo/README.html"] = missing;
	expect_files(pages);
}

TEST_F(BadMakefile, UnsafeAndEmptyNamesAreSkipped)
{
	// Traps that each unsafe name would reach if it were taken: INDEX
	// lines that find them and Makefiles that make them categories.
	d.put("ports/Makefile",
	    "SUBDIR += archivers\n"
	    "SUBDIR += ..\n"
	    "SUBDIR += ../../x\n"
	    "SUBDIR += a/b\n"
	    "SUBDIR += .\n"
	    "SUBDIR += \n"
	    "SUBDIR += misc\n");
	d.put("ports/misc/Makefile",
	    "    COMMENT = Miscellaneous utilities\n"
	    "    SUBDIR += ..\n"
	    "    SUBDIR += ../../x\n"
	    "    SUBDIR += bar\n"
	    "    SUBDIR += a/b\n"
	    "    SUBDIR += .\n"
	    "    SUBDIR += \n"
	    "    SUBDIR += foo\n");
	const std::string tail = "|/usr/local|Trap|/usr/ports/t/pkg-descr|t@x|";
	put_index({zip_line, bar_line, foo_line,
	    "up-1|/usr/ports/misc/.." + tail + "misc",
	    "x-1|/usr/ports/misc/../../x" + tail + "misc",
	    "ab-1|/usr/ports/misc/a/b" + tail + "misc",
	    "dot-1|/usr/ports/misc/." + tail + "misc",
	    "cat-1|/usr/ports/../y" + tail + "..",
	    "cat-2|/usr/ports/../../x/y" + tail + "../../x",
	    "cat-3|/usr/ports/a/b/y" + tail + "a/b",
	    "cat-4|/usr/ports/./y" + tail + "."});
	const std::string trap_makefile =
	    "    COMMENT = Trap\n    SUBDIR += y\n";
	d.put("Makefile", trap_makefile);
	d.put("x/Makefile", trap_makefile);
	d.put("ports/a/b/Makefile", trap_makefile);
	d.mkdir("ports/misc/a/b");
	d.mkdir("y");
	std::vector<std::string> traps = {"README.html", "x/README.html",
	    "y/README.html", "ports/a/b/README.html", "ports/a/b/y/README.html",
	    "ports/misc/a/b/README.html", "ports/y/README.html"};

	const std::string top_mk = top + "/Makefile";
	const std::string misc_mk = top + "/misc/Makefile";
	// The category list is read at start-up, whatever the request.
	const std::string top_skips = "Skipping unsafe name \"..\" in " +
	    top_mk +
	    "\n"
	    "Skipping unsafe name \"../../x\" in " +
	    top_mk +
	    "\n"
	    "Skipping unsafe name \"a/b\" in " +
	    top_mk +
	    "\n"
	    "Skipping unsafe name \".\" in " +
	    top_mk + "\n";
	const std::string misc_skips = "Skipping unsafe name \"..\" in " +
	    misc_mk +
	    "\n"
	    "Skipping unsafe name \"../../x\" in " +
	    misc_mk +
	    "\n"
	    "Skipping unsafe name \"a/b\" in " +
	    misc_mk +
	    "\n"
	    "Skipping unsafe name \".\" in " +
	    misc_mk + "\n";
	Result r = run({"misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, top_skips + misc_skips);
	EXPECT_EQ(r.out, "Making README.html for category misc (2 ports)\n");
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/README.html"] = missing;
	pages["ports/archivers/README.html"] = missing;
	pages["ports/archivers/zip/README.html"] = missing;
	for (const std::string &trap : traps)
		pages[trap] = missing;
	expect_files(pages);

	r = run({});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, top_skips + misc_skips);
	EXPECT_EQ(r.out,
	    "Making top-level README.html in " + top +
		" (2 categories)\n"
		"Making README.html for category archivers (1 ports)\n"
		"Making README.html for category misc (2 ports)\n");
	pages = clean_pages();
	for (const std::string &trap : traps)
		pages[trap] = missing;
	expect_files(pages);
}

TEST_F(BadMakefile, CommentAfterTheSubdirLinesTakesOnlyTheLinesAfterIt)
{
	d.put("ports/misc/Makefile",
	    "    SUBDIR += bar\n    SUBDIR += foo\n    COMMENT = Late\n");
	Result r = run({"misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, "Making README.html for category misc (0 ports)\n");
	std::map<std::string, std::string> pages = no_pages();
	pages["ports/misc/README.html"] = "cat [misc] [Late (0 ports)]\nend\n";
	expect_files(pages);

	d.put("ports/misc/Makefile",
	    "    SUBDIR += bar\n    COMMENT = Late\n    SUBDIR += foo\n");
	r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	pages["ports/misc/README.html"] =
	    "cat [misc] [Late (1 ports)]\n" + foo_link() + "end\n";
	pages["ports/misc/foo/README.html"] = foo_page();
	expect_files(pages);
}

TEST_F(BadMakefile, BinaryJunkIsIgnoredAndNulEndsAValue)
{
	d.put("ports/Makefile",
	    junk(4096, 1) + "\nSUBDIR += archivers\n" + junk(4096, 2) +
		"\nSUBDIR += misc" + nul + junk(64, 3) + "\n" + junk(4096, 4));
	d.put("ports/misc/Makefile",
	    junk(4096, 5) + "\n    COMMENT = Miscellaneous utilities" + nul +
		junk(64, 6) + "\n" + junk(4096, 7) + "\n    SUBDIR += bar\n" +
		junk(4096, 8) + "\n    SUBDIR += foo" + nul + "/../..\n" +
		junk(4096, 9));
	d.put("ports/archivers/Makefile",
	    "    COMMENT = Archivers & compression\n" + junk(4096, 10) +
		"\n    SUBDIR += zip\n" + junk(4096, 11));
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	expect_files(clean_pages());
}

// Templates.

TEST_F(BadTemplate, ExpansionPastEachBufferWritesNothingForThatReadme)
{
	// Port: 256 KiB. foo-1.0 is 7 bytes.
	const std::size_t port_size = 256 * 1024;
	d.put("tpl/README.port", std::string(port_size - 7, 'x') + "%%PKG%%");
	Result r = run({"-q", "misc/foo"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"),
	    std::string(port_size - 7, 'x') + "foo-1.0");

	d.put("tpl/README.port", std::string(port_size - 6, 'x') + "%%PKG%%");
	d.put("ports/misc/foo/README.html", "old");
	r = run({"-q", "misc/foo"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/foo/README.html"));
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "old");

	// In a category the port still gets its link line; the category's
	// request fails with it.
	r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 1);
	std::vector<std::string> err = split_lines(r.err);
	ASSERT_EQ(err.size(), 2u) << r.err;
	EXPECT_TRUE(
	    one_line_naming(err[0] + "\n", top + "/misc/bar/README.html"));
	EXPECT_TRUE(
	    one_line_naming(err[1] + "\n", top + "/misc/foo/README.html"));
	EXPECT_EQ(d.get("ports/misc/README.html"), misc_page());
	EXPECT_FALSE(d.exists("ports/misc/bar/README.html"));
	put_simple_templates(d, "tpl");

	// Category: 8 MiB. The ports below it are made all the same.
	d.put("tpl/README.category",
	    "%%SUBDIR%%" + std::string(8 * 1024 * 1024, 'y'));
	d.put("ports/misc/README.html", "old");
	r = run({"-q", "misc"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/misc/README.html"));
	EXPECT_EQ(d.get("ports/misc/README.html"), "old");
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), bar_page());
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
	put_simple_templates(d, "tpl");
	for (auto &page : clean_pages())
		std::remove((d / page.first).c_str());

	// Top: 64 KiB, filled exactly, then one byte more.
	const std::size_t top_size = 64 * 1024;
	std::string links = top_links();
	d.put("tpl/README.top",
	    "%%SUBDIR%%" + std::string(top_size - links.size(), 'z'));
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/README.html"] =
	    links + std::string(top_size - links.size(), 'z');
	expect_files(pages);

	d.put("tpl/README.top",
	    "%%SUBDIR%%" + std::string(top_size - links.size() + 1, 'z'));
	d.put("ports/README.html", "old");
	for (auto &page : clean_pages())
		if (page.first != "ports/README.html")
			std::remove((d / page.first).c_str());
	r = run({"-q"});
	EXPECT_EQ(r.status, 1);
	EXPECT_TRUE(one_line_naming(r.err, top + "/README.html"));
	pages = clean_pages();
	pages["ports/README.html"] = "old";
	expect_files(pages);
}

TEST_F(BadTemplate, NulByteEndsTheTemplate)
{
	d.put("tpl/README.port", "port [%%PKG%%]\n" + nul + "[%%PORT%%]\n");
	d.put("tpl/README.category",
	    "cat [%%CATEGORY%%]\n%%SUBDIR%%" + nul + "%%SUBDIR%%%%SUBDIR%%");
	d.put("tpl/README.top", "top\n%%SUBDIR%%end\n" + nul + "%%SUBDIR%%");
	Result r = run({"-vvv"});
	EXPECT_EQ(r.status, 0);
	// Nothing after the NUL is expanded: every README is made once.
	EXPECT_EQ(r.out,
	    "Making top-level README.html in " + top +
		" (2 categories)\n"
		"Making README.html for category archivers (1 ports)\n"
		"Making README.html for port archivers/zip\n"
		"Making README.html for category misc (2 ports)\n"
		"Making README.html for port misc/bar\n"
		"Making README.html for port misc/foo\n");
	expect_files({
	    {"ports/README.html", top_page()},
	    {"ports/archivers/README.html", "cat [archivers]\n" + zip_link()},
	    {"ports/archivers/zip/README.html", "port [zip-3.0]\n"},
	    {"ports/misc/README.html",
		"cat [misc]\n" + bar_link() + foo_link()},
	    {"ports/misc/bar/README.html", "port [bar-2.3]\n"},
	    {"ports/misc/foo/README.html", "port [foo-1.0]\n"},
	});

	// A template that begins with a NUL makes an empty README.
	d.put("tpl/README.port", nul + "port [%%PKG%%]\n");
	r = run({"-q", "misc/foo"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), "");
}

TEST_F(BadTemplate, MissingTemplateFailsEveryRequestThatNeedsIt)
{
	struct Case {
		std::string kind;
		std::string args;
		int status;
		std::vector<std::string> written;
	};
	// With a template missing: what each request returns and writes.
	std::vector<Case> cases = {
	    {"port", "misc/foo", 1, {}},
	    {"port", "misc", 1, {}},
	    {"port", "", 255, {}},
	    {"category", "misc/foo", 0, {"ports/misc/foo/README.html"}},
	    {"category", "misc", 1, {}},
	    {"category", "", 255, {}},
	    {"top", "misc/foo", 0, {"ports/misc/foo/README.html"}},
	    {"top", "misc", 0,
		{"ports/misc/README.html", "ports/misc/bar/README.html",
		    "ports/misc/foo/README.html"}},
	    {"top", "", 255, {}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE("README." + c.kind + " missing, request \"" +
		    c.args + "\"");
		put_simple_templates(d, "tpl");
		for (auto &page : clean_pages())
			std::remove((d / page.first).c_str());
		std::string path = tpl + "/README." + c.kind;
		std::remove(path.c_str());
		std::vector<std::string> args = {"-q"};
		if (!c.args.empty())
			args.push_back(c.args);
		Result r = run(args);
		EXPECT_EQ(r.status, c.status);
		if (c.status == 0)
			EXPECT_EQ(r.err, "");
		else
			EXPECT_EQ(
			    r.err, path + ": No such file or directory\n");
		std::map<std::string, std::string> pages = clean_pages();
		for (auto &page : pages) {
			if (std::find(c.written.begin(), c.written.end(),
				page.first) == c.written.end())
				page.second = missing;
		}
		expect_files(pages);
	}

	// A directory in place of a template is no template either.
	put_simple_templates(d, "tpl");
	std::remove((tpl + "/README.top").c_str());
	d.put("tpl/README.top/x", "top\n");
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, tpl + "/README.top: " + std::strerror(EISDIR) + "\n");
	expect_files(no_pages());
}

// Output.

TEST_F(BadOutput, ReadmeThatIsASymbolicLinkIsRefusedAndItsTargetKept)
{
	d.put("victim", "precious\n");
	ASSERT_EQ(
	    symlink((d / "victim").c_str(), (top + "/README.html").c_str()), 0);
	ASSERT_EQ(symlink((d / "victim").c_str(),
		      (top + "/misc/foo/README.html").c_str()),
	    0);
	// A dangling link must not create its target either.
	ASSERT_EQ(symlink((d / "ghost").c_str(),
		      (top + "/archivers/zip/README.html").c_str()),
	    0);

	const std::string loop = ": not written: it is a symbolic link\n";
	Result r = run({"-q"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err,
	    top + "/archivers/zip/README.html" + loop + top +
		"/misc/foo/README.html" + loop + top + "/README.html" + loop);
	std::map<std::string, std::string> pages = clean_pages();
	pages.erase("ports/README.html");
	pages.erase("ports/misc/foo/README.html");
	pages.erase("ports/archivers/zip/README.html");
	expect_files(pages);

	r = run({"-q", "misc/foo", "misc/bar"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, top + "/misc/foo/README.html" + loop);

	EXPECT_EQ(link_target(top + "/README.html"), d / "victim");
	EXPECT_EQ(link_target(top + "/misc/foo/README.html"), d / "victim");
	EXPECT_EQ(link_target(top + "/archivers/zip/README.html"), d / "ghost");
	EXPECT_EQ(d.get("victim"), "precious\n");
	EXPECT_FALSE(d.exists("ghost"));
}

TEST_F(BadOutput, DirectoryWithoutWritePermission)
{
	if (!running_as_root())
		GTEST_SKIP() << "needs root to run the tool as uid 65534";
	open_to_others(d.path());
	open_to_others(top, 0777);
	chmod((top + "/misc/bar").c_str(), 0555);
	RunOptions o;
	o.as_nobody = true;
	const std::string denied =
	    top + "/misc/bar/README.html: " + std::strerror(EACCES) + "\n";

	Result r = run({"-q", "misc/bar", "misc/foo"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, denied);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());

	// Writing below a directory needs no permission to list it.
	std::remove((top + "/misc/foo/README.html").c_str());
	chmod(top.c_str(), 0333);
	r = run({"-q", "misc/foo"}, o);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
	chmod(top.c_str(), 0777);

	// The port's link line is still written; the page counts.
	r = run({"-q"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, denied);
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/bar/README.html"] = missing;
	expect_files(pages);

	// The top-level README counts like any other.
	std::remove((top + "/README.html").c_str());
	chmod(top.c_str(), 0555);
	r = run({"-q"}, o);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err,
	    denied + top + "/README.html: " + std::strerror(EACCES) + "\n");
	pages["ports/README.html"] = missing;
	expect_files(pages);

	// A page that may be written but not read is written without being
	// compared, and cut to its length.
	const std::string foo_readme = top + "/misc/foo/README.html";
	d.put("ports/misc/foo/README.html", std::string(9000, 'x'));
	ASSERT_EQ(chown(foo_readme.c_str(), 65534, 65534), 0);
	chmod(foo_readme.c_str(), 0200);
	r = run({"-q", "misc/foo"}, o);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
}

TEST_F(BadOutput, EveryPageFailingAlikeIsSummedUpAfterAHundred)
{
	if (!running_as_root())
		GTEST_SKIP() << "needs root to run the tool as uid 65534";
	// 130 ports in misc besides the small tree's, in a tree that uid
	// 65534 may read but not write: every page fails alike.
	std::string makefile = "    COMMENT = Miscellaneous utilities\n\n"
			       "    SUBDIR += bar\n    SUBDIR += foo\n";
	std::string index = zip_line + "\n" + bar_line + "\n" + foo_line + "\n";
	for (int i = 0; i < 130; i++) {
		std::string port = "p" + std::to_string(1000 + i);
		makefile += "    SUBDIR += " + port + "\n";
		d.mkdir("ports/misc/" + port);
		index += port + "-1.0|/usr/ports/misc/" + port +
		    "|/usr/local|A port|/usr/ports/misc/" + port +
		    "/pkg-descr|misc@example.org|misc||||||\n";
	}
	d.put("ports/misc/Makefile", makefile);
	d.put("ports/INDEX-15", index);
	open_to_others(d.path(), 0555);
	chmod(d.path().c_str(), 0755);
	RunOptions o;
	o.as_nobody = true;
	auto denied = [&](const std::string &dir) {
		return top + dir + "/README.html: " + std::strerror(EACCES) + "\n";
	};
	std::vector<std::string> lines; // in the order the run makes them
	lines.push_back(denied("/archivers/zip"));
	lines.push_back(denied("/archivers"));
	lines.push_back(denied("/misc/bar"));
	lines.push_back(denied("/misc/foo"));
	for (int i = 0; i < 130; i++)
		lines.push_back(denied("/misc/p" + std::to_string(1000 + i)));
	lines.push_back(denied("/misc"));
	lines.push_back(denied(""));
	ASSERT_EQ(lines.size(), 136u);
	std::string first_hundred;
	for (std::size_t i = 0; i < 100; i++)
		first_hundred += lines[i];
	const std::string summary =
	    "... and 36 more README.html files not written: " +
	    std::string(std::strerror(EACCES)) + "\n";

	// The first hundred are shown, the rest summed up at the end; the
	// status counts every one.
	Result r = run({"-q"}, o);
	EXPECT_EQ(r.status, 136);
	EXPECT_EQ(r.err, first_hundred + summary);

	// -v shows every one, and no summary.
	r = run({"-v"}, o);
	EXPECT_EQ(r.status, 136);
	std::string all;
	for (const std::string &line : lines)
		all += line;
	EXPECT_NE(r.err.find(all), std::string::npos) << r.err;
	EXPECT_EQ(r.err.find("... and"), std::string::npos);

	// At a terminal, a run that could write no page in place is shown
	// the way out: -o.
	o.err_on_terminal = true;
	r = run({"-q", "misc"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err.substr(r.err.find("... and")),
	    "... and 33 more README.html files not written: " +
	    std::string(std::strerror(EACCES)) + "\n" +
	    "hint: this user may not write the tree's pages; write them "
	    "below a directory of its own with -o DIR\n");
}

TEST_F(BadOutput, MissingPortDirectoryIsReportedNotCounted)
{
	// A port the category and the INDEX list but the tree lacks is tree
	// data, as a stale INDEX is: in place, with or without pathnames.
	std::filesystem::remove_all(top + "/misc/bar");
	const std::string gone =
	    top + "/misc/bar/README.html: " + std::strerror(ENOENT) + "\n";
	for (const std::vector<std::string> &args :
	    {std::vector<std::string>{"-q"},
		std::vector<std::string>{"-q", "misc"},
		std::vector<std::string>{"-q", "misc/foo", "misc"}}) {
		Result r = run(args);
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err, gone);
	}
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/bar/README.html"] = missing;
	expect_files(pages);
	EXPECT_FALSE(std::filesystem::exists(top + "/misc/bar"));

	// Below an output root the page is made, directories and all.
	Result r = run({"-q", "-o", d / "site"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_TRUE(d.exists("site/misc/bar/README.html"));
}

TEST_F(BadOutput, FailedWriteIsReportedAndCounted)
{
	// bar's and foo's READMEs outgrow the file size limit; zip's fits.
	const std::string head =
	    bar_line.substr(0, bar_line.find("|gmake-4.4") + 1);
	const std::string foo_head = foo_line.substr(0, foo_line.find("|||"));
	const std::string deps = deps_of_length(6000);
	put_index({zip_line, head + deps, foo_head + "|" + deps});
	const std::string big_bar = bar_page(deps, "");
	const std::string big_foo = port_page("foo-1.0", "misc/foo",
	    "Foo &amp; Bar tools", top + "/misc/foo/pkg-descr",
	    "misc@example.org", build_sentence + deps);
	const std::size_t limit = 4096;
	ASSERT_GT(big_bar.size(), limit);
	ASSERT_GT(big_foo.size(), limit);
	RunOptions o;
	o.fsize_limit = limit;
	const std::string too_large =
	    std::string(": ") + std::strerror(EFBIG) + "\n";

	// bar has an old page, which must stay whole; foo has none, and none
	// is left behind, neither empty nor cut.
	d.put("ports/misc/bar/README.html", "old bar\n");
	Result r = run({"misc/bar", "archivers/zip", "misc/foo"}, o);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.out,
	    "Making README.html for port misc/bar\n"
	    "Making README.html for port archivers/zip\n"
	    "Making README.html for port misc/foo\n");
	EXPECT_EQ(r.err,
	    top + "/misc/bar/README.html" + too_large + top +
		"/misc/foo/README.html" + too_large);
	EXPECT_EQ(d.get("ports/archivers/zip/README.html"), zip_page());
	EXPECT_EQ(d.get("ports/misc/bar/README.html"), "old bar\n");
	EXPECT_FALSE(d.exists("ports/misc/foo/README.html"));

	// A whole-tree run counts both pages.
	r = run({"-q"}, o);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err,
	    top + "/misc/bar/README.html" + too_large + top +
		"/misc/foo/README.html" + too_large);
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/bar/README.html"] = "old bar\n";
	pages["ports/misc/foo/README.html"] = missing;
	expect_files(pages);

	// A write error that only close() reports (a full disk, NFS) fails
	// the README all the same: here one of the tests' own build, whose
	// close fails with EIO for the README named.
	put_index({zip_line, bar_line, foo_line});
	RunOptions c;
	c.binary = testing_binary_path();
	auto failing_close = [&](const std::string &readme) {
		c.env = base_env();
		c.env.push_back("QUILLMARK_TEST_FAIL_CLOSE=" +
		    std::to_string(EIO) + ":" + readme);
		return readme + ": " + std::strerror(EIO) + "\n";
	};
	std::string failed = failing_close(top + "/misc/foo/README.html");
	r = run({"-q", "misc/bar", "misc/foo", "archivers/zip"}, c);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	failed = failing_close(top + "/misc/README.html");
	r = run({"-q", "archivers", "misc"}, c);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	failed = failing_close(top + "/README.html");
	r = run({"-q"}, c);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	failed = failing_close(top + "/misc/bar/README.html");
	r = run({"-q"}, c);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
}

// A file system that keeps what posix_fallocate took before it ran out
// (ext4, here a small image that the test makes and mounts): the old page
// is cut back to its own bytes, not left with the room after it.
TEST_F(BadOutput, FullFileSystemThatKeepsAPartialAllocation)
{
	if (!running_as_root())
		GTEST_SKIP() << "needs root to mount an ext4 image";
	const std::string image = d / "ext4.img";
	const std::string mnt = d / "mnt";
	d.mkdir("mnt");
	if (std::system(("truncate -s 8M '" + image +
		"' && mke2fs -q -t ext4 -m 0 -F '" + image +
		"' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + mnt +
		"' 2>/dev/null")
			.c_str()) != 0)
		GTEST_SKIP() << "cannot make and mount an ext4 image here";
	struct Unmount {
		std::string at;
		~Unmount()
		{
			(void)std::system(("umount '" + at + "' || umount -l '" +
			    at + "'").c_str());
		}
	} unmount{mnt};
	d.put("mnt/out/misc/bar/README.html", "old bar\n");
	// All but 64 KiB taken; the new pages need 200 KiB each.
	struct statvfs vfs;
	ASSERT_EQ(statvfs(mnt.c_str(), &vfs), 0);
	const off_t room = static_cast<off_t>(vfs.f_bavail * vfs.f_frsize);
	ASSERT_GT(room, 1 << 20);
	int fill = open((mnt + "/fill").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
	ASSERT_GE(fill, 0);
	EXPECT_EQ(posix_fallocate(fill, 0, room - (64 << 10)), 0);
	close(fill);
	d.put("tpl/README.port", std::string(200 << 10, 'x') + "%%PKG%%\n");

	Result r = run({"-q", "-o", mnt + "/out", "misc/bar", "misc/foo"});
	EXPECT_EQ(r.status, 2);
	const std::string full = std::string(": ") + std::strerror(ENOSPC) + "\n";
	EXPECT_EQ(r.err, mnt + "/out/misc/bar/README.html" + full + mnt +
		"/out/misc/foo/README.html" + full);
	EXPECT_EQ(d.get("mnt/out/misc/bar/README.html"), "old bar\n");
	EXPECT_FALSE(d.exists("mnt/out/misc/foo/README.html"));
}

TEST_F(BadOutput, PackageIndexThatCannotBeAllocatedStopsTheRunFirst)
{
	// Pages without the links their template asks for would look whole.
	d.put("tpl/README.port", "%%PKG%%\n%%REQUIRED_BY%%\n");
	Result r = run({"-q"});
	ASSERT_EQ(r.status, 0);
	const std::string before = snapshot(d / "ports", {});
	d.put("tpl/README.port", "%%PKG%%:\n%%REQUIRED_BY%%\n");
	RunOptions o;
	o.binary = testing_binary_path();
	o.env.push_back("QUILLMARK_TEST_FAIL_ALLOC=2");
	for (const std::vector<std::string> &args :
	    {std::vector<std::string>{}, {"misc/foo", "misc"}}) {
		r = run(args, o);
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.out, "");
		EXPECT_TRUE(r.err.starts_with("package index: cannot allocate "))
		    << r.err;
		EXPECT_TRUE(r.err.ends_with(
		    " bytes: " + std::string(std::strerror(ENOMEM)) + "\n"))
		    << r.err;
		EXPECT_EQ(snapshot(d / "ports", {}), before);
	}
}

TEST_F(BadOutput, BuilderMemoryThatCannotBeAllocatedStopsTheRunFirst)
{
	// The builders' buffers are had before the first page, or no page is
	// made: a run that fails halfway would leave a site half new.
	Result r = run({"-q"});
	ASSERT_EQ(r.status, 0);
	const std::string before = snapshot(d / "ports", {});
	struct Case {
		std::string port_template;
		std::vector<std::string> args;
		int failing; // the allocation that fails, counted from 1
		std::string message;
	};
	const std::string classic = "%%PKG%%:\n";
	const std::string extended = "%%PKG%%:%%PKGNAME%%\n";
	const std::vector<Case> cases = {
	    {classic, {}, 1, "port pages: cannot allocate 262144 bytes: "},
	    {classic, {}, 2, "category pages: cannot allocate 8388608 bytes: "},
	    {classic, {}, 3, "category pages: cannot allocate 1048576 bytes: "},
	    {classic, {}, 4, "top page: cannot allocate 65536 bytes: "},
	    {classic, {"misc"}, 2,
		"category pages: cannot allocate 8388608 bytes: "},
	    {classic, {"misc/foo"}, 1,
		"port pages: cannot allocate 262144 bytes: "},
	    {extended, {"misc/foo"}, 1,
		"port pages: cannot allocate 4194304 bytes: "},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.message);
		d.put("tpl/README.port", c.port_template);
		RunOptions o;
		o.binary = testing_binary_path();
		o.env.push_back(
		    "QUILLMARK_TEST_FAIL_ALLOC=" + std::to_string(c.failing));
		r = run(c.args, o);
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err,
		    c.message + std::string(std::strerror(ENOMEM)) + "\n");
		EXPECT_EQ(snapshot(d / "ports", {}), before);
	}
}

TEST_F(BadOutput, ClosedStandardOutputIsReportedOnceAndEveryPageWritten)
{
	RunOptions o;
	o.out_closed = true;
	Result r = run({}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "standard output: write error\n");
	expect_files(clean_pages());
}

TEST_F(BadOutput, OnlyARegularFileOfItsOwnIsWrittenAndInPlace)
{
	// A FIFO must not hang the run, a hard link must not carry the page
	// to a file outside the tree, and a device must not receive it.
	d.put("victim", "precious\n");
	ASSERT_EQ(mkfifo((top + "/misc/foo/README.html").c_str(), 0644), 0);
	ASSERT_EQ(link((d / "victim").c_str(),
		      (top + "/misc/bar/README.html").c_str()),
	    0);
	// Linux's /dev/null, made anew; FreeBSD makes devices in devfs only.
#ifdef __linux__
	const bool device = running_as_root();
#else
	const bool device = false;
#endif
	if (device) {
		ASSERT_EQ(mknod((top + "/archivers/zip/README.html").c_str(),
			      S_IFCHR | 0644, makedev(1, 3)),
		    0);
	}
	// An old page longer than the new one is cut to the new length.
	d.put("ports/archivers/README.html", std::string(5000, 'x'));

	const std::string linked =
	    top + "/misc/bar/README.html: not written: the file has other "
		  "hard links\n";
	const std::string fifo =
	    top + "/misc/foo/README.html: not written: not a regular file\n";
	Result r = run({"-q"});
	EXPECT_EQ(r.status, device ? 3 : 2);
	EXPECT_EQ(r.err,
	    (device ? top + "/archivers/zip/README.html: not written: not a "
			    "regular file\n"
		    : "") +
		linked + fifo);
	std::map<std::string, std::string> pages = clean_pages();
	pages.erase("ports/misc/foo/README.html");
	pages.erase("ports/misc/bar/README.html");
	if (device)
		pages.erase("ports/archivers/zip/README.html");
	expect_files(pages);

	r = run({"misc/bar", "misc/foo"});
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err, linked + fifo);
	EXPECT_EQ(d.get("victim"), "precious\n");
	struct stat st;
	ASSERT_EQ(lstat((top + "/misc/foo/README.html").c_str(), &st), 0);
	EXPECT_TRUE(S_ISFIFO(st.st_mode));
	ASSERT_EQ(lstat((top + "/archivers/zip/README.html").c_str(), &st), 0);
	EXPECT_EQ(S_ISCHR(st.st_mode), device);
}

TEST_F(BadOutput, AnUnchangedPageIsLeftUntouched)
{
	Result r = run({"-q"});
	ASSERT_EQ(r.status, 0);
	// Old times, so that any write would show.
	std::map<std::string, ino_t> inode;
	for (const auto &page : clean_pages()) {
		const struct timespec old[2] = {{1000000000, 5}, {1000000000, 5}};
		ASSERT_EQ(utimensat(AT_FDCWD, (d / page.first).c_str(), old, 0), 0);
		struct stat st;
		ASSERT_EQ(stat((d / page.first).c_str(), &st), 0);
		inode[page.first] = st.st_ino;
	}
	auto rewritten = [&](const std::string &rel) {
		struct stat st;
		EXPECT_EQ(stat((d / rel).c_str(), &st), 0);
		EXPECT_EQ(st.st_ino, inode[rel]) << rel << " was replaced";
		return st.st_mtim.tv_sec != 1000000000 ||
		    st.st_mtim.tv_nsec != 5;
	};

	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	for (const auto &page : clean_pages())
		EXPECT_FALSE(rewritten(page.first)) << page.first;

	// A changed comment changes the port's page and its category's.
	std::string changed = foo_line;
	changed.replace(changed.find("Foo & Bar tools"), 15, "Foo tools");
	put_index({zip_line, bar_line, changed});
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/misc/foo/README.html"] = port_page("foo-1.0", "misc/foo",
	    "Foo tools", top + "/misc/foo/pkg-descr", "misc@example.org");
	std::string misc = misc_page();
	misc.replace(misc.find("Foo &amp; Bar tools"), 19, "Foo tools");
	pages["ports/misc/README.html"] = misc;
	expect_files(pages);
	for (const auto &page : pages)
		EXPECT_EQ(rewritten(page.first),
		    page.first == "ports/misc/foo/README.html" ||
			page.first == "ports/misc/README.html")
		    << page.first;

	// A page of the same size that differs in its last byte alone is
	// compared to its end and written.
	std::string zip = pages["ports/archivers/zip/README.html"];
	d.put("ports/archivers/zip/README.html",
	    zip.substr(0, zip.size() - 1) + "#");
	r = run({"-q"});
	EXPECT_EQ(r.status, 0);
	expect_files(pages);
}

TEST_F(BadOutput, PortDirectoryPathOverTheReadmePathBuffer)
{
	// A README path holds at most 1023 characters: its directory at most
	// 1011.
	const std::string prefix = top + "/misc/";
	const std::string fits = path_of_length(1011 - prefix.size(), 'k');
	const std::string too_long = path_of_length(1012 - prefix.size(), 'j');
	ASSERT_EQ((prefix + fits).size(), 1011u);
	ASSERT_EQ((prefix + too_long).size(), 1012u);
	d.mkdir("ports/misc/" + fits);
	d.mkdir("ports/misc/" + too_long);
	const std::string tail =
	    "|/usr/local|Deep|/usr/ports/misc/deep/pkg-descr|d@x|misc";
	put_index({zip_line, bar_line, foo_line,
	    "fits-1|/usr/ports/misc/" + fits + tail,
	    "long-1|/usr/ports/misc/" + too_long + tail});

	Result r = run({"-q", "misc/" + fits, "misc/" + too_long});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err,
	    prefix + too_long + "/README.html: " + std::strerror(ENAMETOOLONG) +
		"\n");
	EXPECT_EQ(d.get("ports/misc/" + fits + "/README.html"),
	    port_page("fits-1", "misc/" + fits, "Deep",
		top + "/misc/deep/pkg-descr", "d@x"));
	EXPECT_FALSE(d.exists("ports/misc/" + too_long + "/README.html"));
}

// Pathnames.

// A port directory misc/evil and a category directory evilcat (with its port
// p) that are symbolic links out of the tree, each with its INDEX line, and
// evilcat listed in the top-level Makefile.
class BadPath : public SmallTree {
      protected:
	// Runs as on a kernel without openat2 (error ENOSYS) or in a sandbox
	// that refuses it (EPERM), where the path is walked name by name: the
	// tests' own build of the tool, told so.
	static RunOptions without_openat2(int error)
	{
		RunOptions o;
		o.binary = testing_binary_path();
		o.env.push_back(
		    "QUILLMARK_TEST_NO_OPENAT2=" + std::to_string(error));
		return o;
	}

	void plant_links_out()
	{
		d.mkdir("outside/port");
		d.put("outside/cat/Makefile",
		    "    COMMENT = Out\n    SUBDIR += p\n");
		d.mkdir("outside/cat/p");
		ASSERT_EQ(symlink((d / "outside/port").c_str(),
			      (top + "/misc/evil").c_str()),
		    0);
		ASSERT_EQ(
		    symlink("../outside/cat", (top + "/evilcat").c_str()), 0);
		const std::string tail =
		    "|/usr/local|Evil|/usr/ports/e/pkg-descr|e@x|";
		put_index({zip_line, bar_line, foo_line,
		    "evil-1|/usr/ports/misc/evil" + tail + "misc",
		    "p-1|/usr/ports/evilcat/p" + tail + "evilcat"});
		d.put("ports/Makefile",
		    d.get("ports/Makefile") + "SUBDIR += evilcat\n");
	}
};

TEST_F(BadPath, SymbolicLinkOutOfTheTreeIsNotInsideIt)
{
	plant_links_out();
	const std::string outside = snapshot(d / "outside", {});

	Result r = run({"-q", "misc/evil", "evilcat", "evilcat/p", "misc/foo"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err,
	    "\"" + d / "outside/port" +
		"\" is not inside the ports tree\n"
		"\"" +
		d / "outside/cat" +
		"\" is not inside the ports tree\n"
		"\"" +
		d / "outside/cat/p" + "\" is not inside the ports tree\n");
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
	EXPECT_EQ(snapshot(d / "outside", {}), outside);
}

TEST_F(BadPath, WalkNeverFollowsALinkOutOfTheTree)
{
	// The same links met by a whole-tree run, through the Makefiles; and
	// absolute links, a port's and a category's, into a neighbour whose
	// name merely begins with the top's.
	plant_links_out();
	d.mkdir("ports.old/misc/foo");
	d.put("ports.old/misc/Makefile", "    COMMENT = Old\n    SUBDIR += foo\n");
	ASSERT_EQ(symlink((d / "ports.old/misc/foo").c_str(),
		      (top + "/misc/oldfoo").c_str()),
	    0);
	ASSERT_EQ(symlink((d / "ports.old/misc").c_str(),
		      (top + "/oldmisc").c_str()),
	    0);
	d.put("ports/misc/Makefile",
	    d.get("ports/misc/Makefile") +
		"    SUBDIR += evil\n    SUBDIR += oldfoo\n");
	d.put("ports/Makefile", d.get("ports/Makefile") + "SUBDIR += oldmisc\n");
	std::vector<std::string> lines = split_lines(d.get("ports/INDEX-15"));
	const std::string tail = "|/usr/local|Old|/usr/ports/o/pkg-descr|o@x|";
	lines.insert(lines.begin() + 4,
	    "oldfoo-1|/usr/ports/misc/oldfoo" + tail + "misc");
	lines.push_back("foo-0|/usr/ports/oldmisc/foo" + tail + "oldmisc");
	put_index(lines);
	const std::string outside = snapshot(d / "outside", {});
	const std::string old = snapshot(d / "ports.old", {});

	for (const RunOptions &o : {RunOptions{}, without_openat2(ENOSYS),
		 without_openat2(EPERM)}) {
		// The two README.html files refused count; the Makefiles
		// not read keep their categories from being made at all.
		Result r = run({"-q"}, o);
		EXPECT_EQ(r.status, 2);
		EXPECT_EQ(snapshot(d / "outside", {}), outside);
		EXPECT_EQ(snapshot(d / "ports.old", {}), old);
		const std::string out = ": the path leads out of the ports tree\n";
		EXPECT_EQ(r.err,
		    top + "/misc/evil/README.html: not written" + out + top +
			"/misc/oldfoo/README.html: not written" + out + top +
			"/evilcat/Makefile: not read" + out + top +
			"/oldmisc/Makefile: not read" + out);
		std::map<std::string, std::string> pages = clean_pages();
		// A port found in the INDEX keeps its link line, a category
		// its line without a comment.
		pages["ports/misc/README.html"] =
		    "cat [misc] [Miscellaneous utilities (4 ports)]\n" +
		    bar_link() + foo_link() +
		    "<a href=\"evil/README.html\">evil-1</a>: Evil\n"
		    "<a href=\"oldfoo/README.html\">oldfoo-1</a>: Old\nend\n";
		pages["ports/README.html"] = "top\n" + top_links() +
		    "<a href=\"evilcat/README.html\">evilcat</a>: \n"
		    "<a href=\"oldmisc/README.html\">oldmisc</a>: \nend\n";
		expect_files(pages);
	}
}

TEST_F(BadPath, AbsoluteLinksThatStayInsideTheTreeAreFollowed)
{
	// A category and a port moved aside and reached through absolute
	// links, as a tree assembled from several places may have them.
	std::filesystem::rename(top + "/archivers", top + "/archivers.d");
	std::filesystem::rename(top + "/misc/foo", top + "/misc/foo.d");
	ASSERT_EQ(symlink((top + "/archivers.d").c_str(),
		      (top + "/archivers").c_str()),
	    0);
	ASSERT_EQ(symlink((top + "/misc/foo.d").c_str(),
		      (top + "/misc/foo").c_str()),
	    0);

	for (const RunOptions &o : {RunOptions{}, without_openat2(ENOSYS),
		 without_openat2(EPERM)}) {
		std::filesystem::remove(top + "/misc/foo.d/README.html");
		Result r = run({"-q"}, o);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		expect_files(clean_pages());
		EXPECT_EQ(d.get("ports/archivers.d/zip/README.html"), zip_page());
		EXPECT_EQ(d.get("ports/misc/foo.d/README.html"), foo_page());
	}
}

TEST_F(BadPath, PathLongerThanThePathBufferIsRefused)
{
	const std::string too_long =
	    std::string(": ") + std::strerror(ENAMETOOLONG) + "\n";
	// A real directory inside the tree whose path has 1030 characters.
	const std::string prefix = top + "/misc/";
	const std::string deep = path_of_length(1030 - prefix.size(), 'q');
	d.mkdir("ports/misc/" + deep);
	ASSERT_EQ(
	    symlink((prefix + deep).c_str(), (top + "/misc/short").c_str()), 0);

	// Joined with the top, given whole, or reached through a link.
	Result r = run(
	    {"-q", "misc/" + deep, prefix + deep, "misc/short", "misc/foo"});
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(r.err,
	    "misc/" + deep + too_long + prefix + deep + too_long + prefix +
		deep + too_long);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page());
	EXPECT_FALSE(d.exists("ports/misc/" + deep + "/README.html"));

	// "." from a working directory whose path does not fit.
	RunOptions o;
	o.cwd = prefix + deep;
	r = run({"-q", "."}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(
	    r.err, std::string("getcwd: ") + std::strerror(ERANGE) + "\n");
	EXPECT_FALSE(d.exists("ports/misc/" + deep + "/README.html"));
}

TEST_F(BadPath, TrailingAndDoubledSlashesResolve)
{
	Result r = run({"-q", "misc/foo/", "archivers//", "misc//bar//"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	std::map<std::string, std::string> pages = clean_pages();
	pages["ports/README.html"] = missing;
	pages["ports/misc/README.html"] = missing;
	expect_files(pages);

	r = run({"-q", top + "/"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	expect_files(clean_pages());
}

TEST_F(BadPath, DotAndDotDotFromInsideAPortDirectory)
{
	RunOptions o;
	o.cwd = top + "/misc/foo";
	Result r = run({"."}, o);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Making README.html for port misc/foo\n");
	std::map<std::string, std::string> pages = no_pages();
	pages["ports/misc/foo/README.html"] = foo_page();
	expect_files(pages);

	r = run({".."}, o);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "Making README.html for category misc (2 ports)\n");
	pages["ports/misc/README.html"] = misc_page();
	pages["ports/misc/bar/README.html"] = bar_page();
	expect_files(pages);

	r = run({"-q", "../.."}, o);
	EXPECT_EQ(r.status, 0);
	expect_files(clean_pages());

	r = run({"-q", "../../..", "../../../ports/.."}, o);
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(r.err,
	    "\"" + d.path() +
		"\" is not inside the ports tree\n"
		"\"" +
		d.path() + "\" is not inside the ports tree\n");
	EXPECT_FALSE(d.exists("README.html"));
}

// All of the above at once, in a tree whose neighbours are watched: nothing
// outside the tree is ever created, changed or removed.
TEST(BadTree, NothingIsWrittenOutsideTheTree)
{
	TempDir w;
	const std::string top = w / "box/ports";

	// The neighbours: targets of links, of unsafe names and of ".." paths.
	w.put("victim", "precious\n");
	w.put("README.html", "one level up\n");
	w.put("box/README.html", "the tree's parent\n");
	w.put("box/Makefile", "    COMMENT = Parent\n    SUBDIR += ports\n");
	w.put("box/notes.txt", "next door\n");
	w.put("x/Makefile", "    COMMENT = X\n    SUBDIR += y\n");
	w.mkdir("x/y");
	w.mkdir("box/x/y");
	w.put("outside_cat/Makefile", "    COMMENT = Out\n    SUBDIR += p\n");
	w.mkdir("outside_cat/p");
	w.put("outside_port/keep", "keep\n");
	chmod((w / "box/notes.txt").c_str(), 0600);
	put_simple_templates(w, "tpl");
	w.put("tpl/README.category",
	    "cat [%%CATEGORY%%] [%%COMMENT%%]\n"
	    "%%SUBDIR%%end\n" +
		nul + "%%SUBDIR%%");

	// The tree.
	put_small_tree(w, "box/ports");
	std::vector<std::string> index =
	    split_lines(w.get("box/ports/INDEX-15"));
	const std::string tail = "|/usr/local|Trap|/usr/ports/t/pkg-descr|t@x|";
	const std::string head =
	    index[1].substr(0, index[1].find("|gmake-4.4") + 1);
	w.put("box/ports/INDEX-15",
	    index[0] + "\r\n" + head + deps_of_length(40000) + "\n" + index[2] +
		"\n"
		"up-1|/usr/ports/misc/.." +
		tail +
		"misc\n"
		"x-1|/usr/ports/misc/../../x" +
		tail +
		"misc\n"
		"ab-1|/usr/ports/misc/a/b" +
		tail +
		"misc\n"
		"dot-1|/usr/ports/misc/." +
		tail +
		"misc\n"
		"evil-1|/usr/ports/misc/evil" +
		tail +
		"misc\n"
		"p-1|/usr/ports/evilcat/p" +
		tail +
		"evilcat\n"
		"y-1|/usr/ports/../y" +
		tail +
		"..\n"
		"y-2|/usr/ports/../../x/y" +
		tail +
		"../../x\n"
		"y-3|/usr/ports/../x/y" +
		tail + "../x");
	w.put("box/ports/Makefile",
	    junk(2048, 21) + "\n# " + std::string(4998, 'x') +
		"\n"
		"SUBDIR += archivers\n"
		"SUBDIR += ..\n"
		"SUBDIR += ../../x\n"
		"SUBDIR += a/b\n"
		"SUBDIR += .\n"
		"SUBDIR += \n"
		"SUBDIR += misc\n"
		"SUBDIR += evilcat\n"
		"SUBDIR += gone\n" +
		junk(2048, 22));
	w.put("box/ports/Makefile.local", "SUBDIR += ../x\nSUBDIR += ..\n");
	w.put("box/ports/misc/Makefile",
	    "    SUBDIR += ../..\n" + junk(1024, 23) +
		"\n    COMMENT = Misc\n"
		"    SUBDIR += ..\n"
		"    SUBDIR += ../../x\n"
		"    SUBDIR += a/b\n"
		"    SUBDIR += .\n"
		"    SUBDIR += \n"
		"    SUBDIR += bar\n"
		"    SUBDIR += foo\n"
		"    SUBDIR += evil\n"
		"    SUBDIR += " +
		std::string(4986, 'p') + "\n" + junk(2048, 24));
	ASSERT_EQ(
	    symlink((w / "outside_port").c_str(), (top + "/misc/evil").c_str()),
	    0);
	ASSERT_EQ(symlink("../../outside_cat", (top + "/evilcat").c_str()), 0);
	ASSERT_EQ(
	    symlink((w / "victim").c_str(), (top + "/README.html").c_str()), 0);
	ASSERT_EQ(symlink((w / "victim").c_str(),
		      (top + "/misc/foo/README.html").c_str()),
	    0);
	ASSERT_EQ(symlink((w / "ghost").c_str(),
		      (top + "/archivers/zip/README.html").c_str()),
	    0);

	const std::vector<std::string> tree = {"box/ports"};
	const std::string before = snapshot(w.path(), tree);
	ASSERT_TRUE(contains(before, "victim"));

	// The whole tree: five of its README.html files are links, lead out
	// or have too long a path, so the run fails with their count.
	Result r = run_tool({"-q", "-p", top, "-t", w / "tpl"});
	EXPECT_EQ(r.status, 5);
	EXPECT_TRUE(contains(
	    r.err, top + "/README.html: not written: it is a symbolic link\n"))
	    << r.err;
	EXPECT_TRUE(contains(r.err,
	    "Skipping unsafe name \"..\" in " + top + "/misc/Makefile\n"))
	    << r.err;
	EXPECT_TRUE(w.exists("box/ports/misc/bar/README.html"));
	EXPECT_EQ(snapshot(w.path(), tree), before);

	// Every pathname that leads out, from inside the tree.
	RunOptions o;
	o.cwd = top;
	r = run_tool({"-q", "-p", top, "-t", w / "tpl", "..", "../..",
			 "misc/evil", "evilcat", "evilcat/p", "misc/../..",
			 top + "/../..", "misc/foo", "/", "."},
	    o);
	EXPECT_EQ(r.status, 10);
	EXPECT_EQ(snapshot(w.path(), tree), before);
	EXPECT_EQ(w.get("victim"), "precious\n");
	EXPECT_FALSE(w.exists("ghost"));
}

} // namespace
