// The command line as its users meet it: the options and their order, the
// choice of the tree and templates directories, PORTSDIR, and the pathname
// arguments. Every case runs the built tool and compares standard output,
// standard error, the exit status and the README files left behind, byte
// for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"

using namespace qmtest;
namespace fs = std::filesystem;

namespace {

const std::string hint =
    "Try \"quillmark -h\" or \"man quillmark\" for more information.\n";

const std::string help_text =
    "\n"
    "quillmark -- Make README.html files for the FreeBSD Ports Collection\n"
    "\n"
    "Usage: quillmark [options] [pathname-list]\n"
    "\n"
    "Options:\n"
    "-c url         Link each commit on port pages to url, where \"%s\" is its hash.\n"
    "-h             Display this help.\n"
    "-j count       Make pages on count threads (0: every online processor).\n"
    "-n             Use normal handling of relative paths, instead of making them\n"
    "               relative to ${PORTSDIR} (paths beginning with \".\" or \"..\"\n"
    "               are always treated normally).\n"
    "-o pathname    Write the README.html files below pathname instead of the tree.\n"
    "-p pathname    Use pathname as the top level of the ports tree.  Any relative\n"
    "               paths in pathname-list will be relative to this, unless \"-n\"\n"
    "               is used.  Defaults to \"/usr/ports\", or the setting of the\n"
    "               ${PORTSDIR} environment variable, if defined.\n"
    "-q             Quiet mode.  Don't display anything except error messages.\n"
    "-t pathname    Use the template files stored under pathname instead of the\n"
    "               default /usr/local/share/quillmark/Templates.\n"
    "-u url         The site's public address: write its sitemap, and its feeds\n"
    "               when publishing through a link with -o.\n"
    "-V             Display program version.\n"
    "-v             Increase verbosity.  May be repeated to display progressively\n"
    "               more detailed information about the program's progress.\n"
    "\n"
    "pathname-list is an optional whitespace-separated list of port and category\n"
    "pathnames.  If none is provided, the default is to make all of the README.html\n"
    "files for the entire ports tree (top-level, categories and ports).\n"
    "\n";

const std::string version_text = "quillmark version 1.3\n";
const std::string more_verbose = "Increasing verbosity level\n";
const std::string normal_paths = "Using normal handling of relative paths\n";
const std::string default_templates = "/usr/local/share/quillmark/Templates";

std::string
no_such(const std::string &path)
{
	return path + ": No such file or directory\n";
}

std::string
too_long(const std::string &path)
{
	return path + ": File name too long\n";
}

std::string
outside(const std::string &path)
{
	return "\"" + path + "\" is not inside the ports tree\n";
}

std::string
not_dir(const std::string &path)
{
	return path + " is not a directory\n";
}

std::string
invalid(const std::string &typed)
{
	return "Invalid pathname argument: \"" + typed + "\"\n";
}

std::string
unknown(char letter)
{
	return std::string("Unknown option: -") + letter + "\n" + hint;
}

std::string
missing(char letter)
{
	return std::string("Missing pathname argument to option \"-") + letter +
	    "\"\n" + hint;
}

std::string
setting_top(const std::string &path)
{
	return "Setting top-level directory to \"" + path + "\"\n";
}

std::string
setting_templates(const std::string &path)
{
	return "Setting templates directory to \"" + path + "\"\n";
}

std::string
changing_top(const std::string &from, const std::string &to)
{
	return "Changing top-level directory from \"" + from + "\" to \"" + to +
	    "\"\n";
}

std::string
using_portsdir(const std::string &path)
{
	return "Using PORTSDIR (\"" + path + "\") as top-level directory\n";
}

std::string
bad_portsdir(const std::string &value)
{
	return "Invalid pathname in PORTSDIR environment variable: \"" + value +
	    "\"\n";
}

std::string
port_progress(const std::string &port)
{
	return "Making README.html for port " + port + "\n";
}

const std::string misc_progress =
    "Making README.html for category misc (2 ports)\n";

std::string
top_progress(const std::string &top)
{
	return "Making top-level README.html in " + top + " (2 categories)\n"
	    "Making README.html for category archivers (1 ports)\n" +
	    misc_progress;
}

std::string
join_args(const std::vector<std::string> &args)
{
	std::string s;
	for (const auto &a : args)
		s += "[" + a + "] ";
	return s;
}

// True when nothing at all exists at path, so that a default location can
// be counted on to be missing.
bool
absent(const std::string &path)
{
	struct stat st;
	return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// Creates a directory below base whose path has exactly len characters.
std::string
make_dir_of_length(const std::string &base, std::size_t len, char fill)
{
	std::string p = base;
	while (len - p.size() > 201)
		p += "/" + std::string(150, fill);
	p += "/" + std::string(len - p.size() - 1, fill);
	fs::create_directories(p);
	return p;
}

// A small well-formed tree in ports/ with its templates in tpl/, both below
// a temporary directory whose canonical path is D.
class Tree : public ::testing::Test {
protected:
	TempDir d;
	const std::string D = fs::canonical(d.path()).string();
	const std::string top = D + "/ports";
	const std::string tpl = D + "/tpl";

	void SetUp() override
	{
		put_small_tree(d, "ports");
		put_simple_templates(d, "tpl");
	}

	// Runs the tool in cwd (the top of the tree when empty) with the
	// extra environment entries env.
	Result run(const std::vector<std::string> &args,
	    const std::string &cwd = "",
	    const std::vector<std::string> &env = {}) const
	{
		RunOptions o;
		o.cwd = cwd.empty() ? top : cwd;
		o.env.insert(o.env.end(), env.begin(), env.end());
		return run_tool(args, o);
	}

	// As run, with "-p top -t tpl" in front of args.
	Result run_in_tree(const std::vector<std::string> &args,
	    const std::string &cwd = "") const
	{
		std::vector<std::string> all = {"-p", top, "-t", tpl};
		all.insert(all.end(), args.begin(), args.end());
		return run(all, cwd);
	}

	// Every README.html below the temporary directory, relative to it.
	std::vector<std::string> readmes() const
	{
		std::vector<std::string> found;
		for (const auto &e : fs::recursive_directory_iterator(D)) {
			if (e.path().filename() == "README.html")
				found.push_back(
				    fs::relative(e.path(), D).string());
		}
		std::sort(found.begin(), found.end());
		return found;
	}

	void remove_readmes() const
	{
		for (const auto &f : readmes())
			fs::remove(D + "/" + f);
	}

	// misc/foo's page from the simple templates, in the tree at t.
	static std::string foo_page(const std::string &t)
	{
		return "port [foo-1.0] [misc/foo] [Foo &amp; Bar tools] [" + t +
		    "/misc/foo/pkg-descr] [misc@example.org] [] [] [] [" + t +
		    "]\n";
	}
};

using Strings = std::vector<std::string>;
const Strings no_readmes = {};
const Strings all_readmes = {"ports/README.html",
	"ports/archivers/README.html", "ports/archivers/zip/README.html",
	"ports/misc/README.html", "ports/misc/bar/README.html",
	"ports/misc/foo/README.html"};

class Cli : public Tree {};
class Options : public Tree {};
class Dirs : public Tree {};
class Pathname : public Tree {};
class Portsdir : public Tree {};

// ---------------------------------------------------------------------
// Help and version

TEST_F(Cli, HelpPrintsItsTextAndEndsTheRun)
{
	ASSERT_EQ(std::count(help_text.begin(), help_text.end(), '\n'), 30);
	const std::vector<Strings> cases = {
		{"-h"},
		{"-h", "-x"},
		{"-h", "-V"},
		{"-h", "-q", "-v"},
		{"-h", "-p"},
		{"-hx"},
		{"-p", top, "-t", tpl, "-h", "misc"},
		{"-n", "-q", "-h", "misc"},
	};
	for (const auto &args : cases) {
		Result r = run(args);
		EXPECT_EQ(r.out, help_text) << join_args(args);
		EXPECT_EQ(r.err, "") << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
	}
	// Options before -h have had their say.
	Result r = run({"-v", "-h"});
	EXPECT_EQ(r.out, help_text);
	EXPECT_EQ(r.err, more_verbose);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Cli, VersionPrintsOneLineAndEndsTheRun)
{
	const std::vector<Strings> cases = {
		{"-V"},
		{"-V", "-h"},
		{"-Vh"},
		{"-V", "-x"},
		{"-V", "-t"},
		{"-p", top, "-t", tpl, "-V"},
		{"-V", "misc"},
	};
	for (const auto &args : cases) {
		Result r = run(args);
		EXPECT_EQ(r.out, version_text) << join_args(args);
		EXPECT_EQ(r.err, "") << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
	}
	// At -v, what the build reads the tree's history with.
	Result r = run({"-v", "-V", "-v"});
	EXPECT_EQ(r.out, version_text +
	    (QUILLMARK_WITH_GIT
		    ? std::string("Built with libgit2 " QUILLMARK_LIBGIT2_VERSION) +
			": port pages can show their recent commits\n"
		    : std::string("Built without libgit2: port pages show no "
				  "recent commits\n")));
	EXPECT_EQ(r.err, more_verbose);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Cli, OptionErrorsBeforeHelpOrVersionAreReportedYetTheRunSucceeds)
{
	Result r = run({"-x", "-h"});
	EXPECT_EQ(r.out, help_text);
	EXPECT_EQ(r.err, unknown('x'));
	EXPECT_EQ(r.status, 0);

	r = run({"-xh"});
	EXPECT_EQ(r.out, help_text);
	EXPECT_EQ(r.err, unknown('x'));
	EXPECT_EQ(r.status, 0);

	r = run({"-q", "-v", "-y", "-h"});
	EXPECT_EQ(r.out, help_text);
	EXPECT_EQ(r.err, "option \"-v\" is incompatible with \"-q\"\n" +
	    unknown('y'));
	EXPECT_EQ(r.status, 0);

	r = run({"-x", "-V"});
	EXPECT_EQ(r.out, version_text);
	EXPECT_EQ(r.err, unknown('x'));
	EXPECT_EQ(r.status, 0);
}

TEST_F(Cli, StandardOutputIsLineBufferedAndChecked)
{
	// Progress lines and messages in one pipe keep their order.
	RunOptions o;
	o.err_to_out = true;
	Result r = run_tool({"-p", top, "-t", tpl, "misc/foo", "none", "."}, o);
	EXPECT_EQ(r.out, port_progress("misc/foo") + no_such(top + "/none") +
	    outside(fs::current_path().string()));
	EXPECT_EQ(r.status, 2);

	// Output lost on a full device fails a run that would succeed.
	const std::string lost = "standard output: write error\n";
	o = {};
	o.out_path = "/dev/full";
	const std::vector<std::tuple<Strings, std::string, int>> cases = {
		{{"-V"}, lost, 1}, {{"-x", "-h"}, unknown('x') + lost, 1},
		{{"-p", top, "-t", tpl}, lost, 1},
		{{"-p", top, "-t", tpl, "-q", "misc"}, "", 0},
		{{"-p", top, "-t", tpl, "misc/foo", "x", "y"},
		    no_such(top + "/x") + no_such(top + "/y") + lost, 2},
	};
	for (const auto &[args, err, status] : cases) {
		r = run_tool(args, o);
		EXPECT_EQ(r.err, err) << join_args(args);
		EXPECT_EQ(r.status, status) << join_args(args);
	}
	EXPECT_EQ(readmes(), all_readmes);
}

// ---------------------------------------------------------------------
// Options

TEST_F(Options, MissingPathnameIsReportedWithTheHint)
{
	Result r = run({"-p"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, missing('p'));
	EXPECT_EQ(r.status, 1);

	r = run({"-t"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, missing('t'));
	EXPECT_EQ(r.status, 1);

	r = run({"-p", top, "-t"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, missing('t'));
	EXPECT_EQ(r.status, 1);

	r = run({"-vp"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + missing('p'));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);

	// -j takes a count from 0 to 256, and a bad one is counted as any
	// other option error.
	r = run({"-j"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "Missing count argument to option \"-j\"\n" + hint);
	EXPECT_EQ(r.status, 1);
	for (std::string bad : {"x", "", "-1", "257", "2x", " 2", "+2",
		 "99999999999999999999"}) {
		r = run({"-j", bad, "-j", "1x"});
		EXPECT_EQ(r.out, "") << bad;
		std::string said;
		for (const std::string &count : {bad, std::string("1x")})
			said += "Bad count \"" + count + "\" for option \"-j\": it "
			    "must be a whole number from 0 to 256, 0 for every "
			    "online processor\n" + hint;
		EXPECT_EQ(r.err, said) << bad;
		EXPECT_EQ(r.status, 2) << bad;
	}
	EXPECT_EQ(readmes(), no_readmes);
	for (std::string good : {"0", "1", "256", "08"}) {
		r = run_in_tree({"-q", "-j", good, "misc"});
		EXPECT_EQ(r.out + r.err, "") << good;
		EXPECT_EQ(r.status, 0) << good;
	}
}

TEST_F(Options, PathnameIsTheRestOfItsArgumentOrTheNextArgument)
{
	Result r = run({"-p" + top, "-t" + tpl, "misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));

	// The next argument is the pathname even when it looks like an option.
	r = run({"-p", "-q"}, D);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such("-q") + invalid("-q"));
	EXPECT_EQ(r.status, 1);
}

TEST_F(Options, UnknownOptionsAreEachReportedAndCounted)
{
	for (const Strings &args : {Strings{"-x", "-y"}, Strings{"-xy"}}) {
		Result r = run(args);
		EXPECT_EQ(r.out, "") << join_args(args);
		EXPECT_EQ(r.err, unknown('x') + unknown('y')) << join_args(args);
		EXPECT_EQ(r.status, 2) << join_args(args);
	}
	Result r = run_in_tree({"-x", "misc"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, unknown('x'));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Options, QuietAndVerboseExcludeEachOther)
{
	const std::string q_refused = "option \"-q\" is incompatible with \"-v\"\n";
	const std::string v_refused = "option \"-v\" is incompatible with \"-q\"\n";
	struct Case {
		Strings args;
		std::string err;
		int status;
	};
	const std::vector<Case> cases = {
		{{"-v", "-q"}, more_verbose + q_refused, 1},
		{{"-vq"}, more_verbose + q_refused, 1},
		{{"-q", "-v"}, v_refused, 1},
		{{"-qv"}, v_refused, 1},
		// A refused option leaves its count as it was, so the next one
		// meets the same refusal, or none.
		{{"-q", "-v", "-v"}, v_refused + v_refused, 2},
		{{"-v", "-q", "-v"}, more_verbose + q_refused, 1},
		{{"-q", "-vn"}, v_refused, 1},
	};
	for (const auto &c : cases) {
		Strings args = c.args;
		args.push_back("misc");
		Result r = run_in_tree(args);
		EXPECT_EQ(r.out, "") << join_args(args);
		EXPECT_EQ(r.err, c.err) << join_args(args);
		EXPECT_EQ(r.status, c.status) << join_args(args);
	}
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Options, NormalPathsIsReportedOnlyAfterVerbose)
{
	struct Case {
		Strings args;
		std::string err;
	};
	const std::vector<Case> cases = {
		{{"-v", "-n"}, more_verbose + normal_paths},
		{{"-vn"}, more_verbose + normal_paths},
		{{"-v", "-n", "-n"}, more_verbose + normal_paths},
		{{"-n", "-v"}, more_verbose},
		{{"-nv"}, more_verbose},
		{{"-n"}, ""},
	};
	for (const auto &c : cases) {
		Strings args = c.args;
		args.push_back("misc/foo");	// from the working directory: top
		Result r = run_in_tree(args);
		EXPECT_EQ(r.out, port_progress("misc/foo")) << join_args(args);
		EXPECT_EQ(r.err, c.err) << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
	}
}

TEST_F(Options, EveryVerboseCounts)
{
	const std::string loading = "Loading " + top + "/INDEX-15\n"
	    "Loading " + tpl + "/README.category\n"
	    "Loading " + tpl + "/README.port\n";
	const std::string ports_too = misc_progress + port_progress("misc/bar") +
	    port_progress("misc/foo");
	struct Case {
		Strings args;
		std::string out, err;
	};
	const std::vector<Case> cases = {
		{{"-v"}, misc_progress, more_verbose},
		{{"-v", "-v"}, misc_progress, more_verbose + loading},
		{{"-vv"}, misc_progress, more_verbose + loading},
		{{"-v", "-v", "-v"}, ports_too, more_verbose + loading},
		{{"-vvv"}, ports_too, more_verbose + loading},
		{{"-v", "-vv", "-v"}, ports_too, more_verbose + loading},
	};
	for (const auto &c : cases) {
		Strings args = c.args;
		args.push_back("misc");
		Result r = run_in_tree(args);
		EXPECT_EQ(r.out, c.out) << join_args(args);
		EXPECT_EQ(r.err, c.err) << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
	}
}

TEST_F(Options, QuietSilencesProgressAndMayBeRepeated)
{
	Result r = run_in_tree({"misc"});
	EXPECT_EQ(r.out, misc_progress);
	EXPECT_EQ(r.status, 0);
	for (const Strings &q : {Strings{"-q"}, Strings{"-q", "-q"},
		 Strings{"-qq"}}) {
		remove_readmes();
		Strings args = q;
		args.push_back("misc");
		r = run_in_tree(args);
		EXPECT_EQ(r.out, "") << join_args(args);
		EXPECT_EQ(r.err, "") << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
		EXPECT_EQ(readmes(), (Strings{"ports/misc/README.html",
		    "ports/misc/bar/README.html", "ports/misc/foo/README.html"}))
		    << join_args(args);
	}
}

TEST_F(Options, OptionErrorsEndTheRunBeforeStartUp)
{
	// At verbosity 2 start-up would report loading the INDEX.
	Result r = run_in_tree({"-v", "-v", "-x", "misc"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + unknown('x'));
	EXPECT_EQ(r.status, 1);

	r = run_in_tree({"-v", "-v", "-x"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + unknown('x'));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);

	// A tree without a top-level Makefile fails start-up; an option
	// error comes first and nothing is read.
	d.mkdir("bare");
	r = run({"-p", D + "/bare", "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(D + "/bare/Makefile") +
	    "Unable to open top-level ports Makefile\n");
	EXPECT_EQ(r.status, 255);
	r = run({"-p", D + "/bare", "-t", tpl, "-x"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, unknown('x'));
	EXPECT_EQ(r.status, 1);

	// All option errors of a command line are reported and counted.
	r = run({"-v", "-q", "-x", "-t", D + "/none", "-p"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose +
	    "option \"-q\" is incompatible with \"-v\"\n" + unknown('x') +
	    no_such(D + "/none") + invalid(D + "/none") + missing('p'));
	EXPECT_EQ(r.status, 4);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Options, OptionsEndAtTheFirstPathnameOrDoubleDash)
{
	// "-q" after a pathname is a pathname, below the top.
	Result r = run_in_tree({"misc", "-q"});
	EXPECT_EQ(r.out, misc_progress);
	EXPECT_EQ(r.err, no_such(top + "/-q"));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), (Strings{"ports/misc/README.html",
	    "ports/misc/bar/README.html", "ports/misc/foo/README.html"}));

	r = run_in_tree({"misc/foo", "-x", "-h"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, no_such(top + "/-x") + no_such(top + "/-h"));
	EXPECT_EQ(r.status, 2);

	r = run_in_tree({"--", "-q"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(top + "/-q"));
	EXPECT_EQ(r.status, 1);

	remove_readmes();
	r = run_in_tree({"-q", "--", "misc/foo"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});

	// "--" alone leaves no pathname: the whole tree.
	r = run_in_tree({"-q", "--"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), all_readmes);
}

// ---------------------------------------------------------------------
// Top-level and templates directories

TEST_F(Dirs, VerboseBeforePOrTShowsTheSetting)
{
	struct Case {
		Strings args;
		std::string err;
	};
	const std::vector<Case> cases = {
		{{"-v", "-p", top, "-t", tpl},
		    more_verbose + setting_top(top) + setting_templates(tpl)},
		{{"-p", top, "-v", "-t", tpl},
		    more_verbose + setting_templates(tpl)},
		{{"-t", tpl, "-v", "-p", top},
		    more_verbose + setting_top(top)},
		{{"-p", top, "-t", tpl, "-v"}, more_verbose},
		// The settings shown are canonical.
		{{"-v", "-p", top + "/misc/..//", "-t", tpl + "/."},
		    more_verbose + setting_top(top) + setting_templates(tpl)},
	};
	for (const auto &c : cases) {
		Strings args = c.args;
		args.push_back("misc/foo");
		Result r = run(args);
		EXPECT_EQ(r.out, port_progress("misc/foo")) << join_args(args);
		EXPECT_EQ(r.err, c.err) << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
	}
}

TEST_F(Dirs, EveryLaterPReportsTheChange)
{
	put_small_tree(d, "other");
	const std::string other = D + "/other";

	Result r = run({"-p", top, "-p", other, "-t", tpl, "misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, changing_top(top, other));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"other/misc/foo/README.html"});
	EXPECT_EQ(d.get("other/misc/foo/README.html"), foo_page(other));

	// Also in quiet mode.
	r = run({"-q", "-p", top, "-p", other, "-t", tpl, "misc/foo"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, changing_top(top, other));
	EXPECT_EQ(r.status, 0);

	r = run({"-v", "-p", top, "-p", other, "-p", top, "-t", tpl,
	    "misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(top) +
	    changing_top(top, other) + setting_top(other) +
	    changing_top(other, top) + setting_top(top) +
	    setting_templates(tpl));
	EXPECT_EQ(r.status, 0);

	// Also when the new pathname then turns out unusable; the error
	// stops the run.
	remove_readmes();
	r = run({"-p", top, "-p", D + "/none", "-t", tpl, "misc/foo"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, changing_top(top, D + "/none") +
	    no_such(D + "/none") + invalid(D + "/none"));
	EXPECT_EQ(r.status, 1);

	r = run({"-q", "-p", top, "-p", top + "/Makefile", "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, changing_top(top, top + "/Makefile") +
	    not_dir(top + "/Makefile") + invalid(top + "/Makefile"));
	EXPECT_EQ(r.status, 1);

	// A first -p that fails sets nothing, so the next one changes
	// nothing.
	r = run({"-p", D + "/none", "-p", top, "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(D + "/none") + invalid(D + "/none"));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Dirs, RelativePAndTUseTheSettingsOfTheirMoment)
{
	// A second tree below a/, with a port template of its own.
	put_small_tree(d, "a/ports");
	put_simple_templates(d, "a/tpl");
	d.put("a/tpl/README.port", "B [%%PORT%%] [%%TOP%%]\n");
	const std::string a = D + "/a";

	// Before any -p: from the working directory.
	Result r = run({"-v", "-p", "ports", "-t", tpl, "misc/foo"}, D);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(top) +
	    setting_templates(tpl));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
	remove_readmes();

	// After a -p: from that top.
	r = run({"-v", "-p", "a", "-t", "tpl", "-p", "ports", "misc/foo"}, D);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(a) +
	    setting_templates(a + "/tpl") + changing_top(a, "ports") +
	    setting_top(a + "/ports"));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"a/ports/misc/foo/README.html"});
	EXPECT_EQ(d.get("a/ports/misc/foo/README.html"),
	    "B [misc/foo] [" + a + "/ports]\n");
	remove_readmes();

	// An -n between: from the working directory again.
	r = run({"-v", "-p", "a", "-n", "-p", "ports", "-t", "tpl",
	    top + "/misc/foo"}, D);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(a) + normal_paths +
	    changing_top(a, "ports") + setting_top(top) +
	    setting_templates(tpl));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
	remove_readmes();

	// "./" always from the working directory.
	r = run({"-v", "-p", "a", "-p", "./ports", "-t", "./tpl", "misc/foo"},
	    D);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(a) +
	    changing_top(a, "./ports") + setting_top(top) +
	    setting_templates(tpl));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});
	remove_readmes();

	// -t before -p: from the working directory, whatever -p says later.
	r = run({"-v", "-t", "tpl", "-p", "a/ports", "misc/foo"}, D);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
	    setting_top(a + "/ports"));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"a/ports/misc/foo/README.html"});
	EXPECT_EQ(d.get("a/ports/misc/foo/README.html"), foo_page(a + "/ports"));
	remove_readmes();

	// A name missing below the top is reported with the joined path.
	r = run({"-p", top, "-t", "nothing"}, D);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(top + "/nothing") + invalid("nothing"));
	EXPECT_EQ(r.status, 1);
}

TEST_F(Dirs, FilesAreRefusedAndLinksFollowed)
{
	Result r = run({"-p", top + "/Makefile", "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, not_dir(top + "/Makefile") + invalid(top + "/Makefile"));
	EXPECT_EQ(r.status, 1);

	r = run({"-p", top, "-t", tpl + "/README.port"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, not_dir(tpl + "/README.port") +
	    invalid(tpl + "/README.port"));
	EXPECT_EQ(r.status, 1);

	r = run({"-p", top, "-t", D + "/none"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(D + "/none") + invalid(D + "/none"));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);

	fs::create_directory_symlink("ports", D + "/link");
	fs::create_directory_symlink("tpl", D + "/tlink");
	r = run({"-v", "-p", D + "/link", "-t", D + "/tlink", "misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_top(top) +
	    setting_templates(tpl));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
}

TEST_F(Dirs, OverlongPathnamesAreRefused)
{
	// A canonical path of 1022 characters leaves room for the slash of
	// top_dir_slash; one of 1023 does not, though it serves as the
	// templates directory or a pathname argument.
	const std::string fits = make_dir_of_length(D, 1022, 'a');
	const std::string over = make_dir_of_length(D, 1023, 'b');

	Result r = run({"-v", "-p", fits, "-x"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + setting_top(fits) + unknown('x'));
	EXPECT_EQ(r.status, 1);

	r = run({"-v", "-p", over, "-x"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + too_long(over) + invalid(over) +
	    unknown('x'));
	EXPECT_EQ(r.status, 2);

	// The canonical path counts, not the pathname as typed.
	fs::create_directory_symlink(over, D + "/short");
	r = run({"-p", D + "/short", "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, too_long(over) + invalid(D + "/short"));
	EXPECT_EQ(r.status, 1);

	// No template path fits below it, which fails the first request.
	r = run({"-p", top, "-t", D + "/short"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, too_long(over + "/README.port"));
	EXPECT_EQ(r.status, 255);

	// A pathname that cannot be held in 1024 bytes is refused before it
	// is looked up.
	const std::string typed = over + "c";
	ASSERT_EQ(typed.size(), 1024u);
	r = run({"-p", typed, "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, too_long(typed) + invalid(typed));
	EXPECT_EQ(r.status, 1);

	r = run({"-p", top, "-t", typed});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, too_long(typed) + invalid(typed));
	EXPECT_EQ(r.status, 1);

	// Pathname arguments meet the same limits and count as failures.
	r = run_in_tree({typed, over, D + "/short", "misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, too_long(typed) + outside(over) + outside(over));
	EXPECT_EQ(r.status, 3);
}

TEST_F(Dirs, WorkingDirectoryBeyondTheBufferIsReported)
{
	const std::string deep = make_dir_of_length(D, 1100, 'w');
	const std::string getcwd_failed =
	    std::string("getcwd: ") + std::strerror(ERANGE) + "\n";

	Result r = run({"-p", "./x", "-t", tpl}, deep);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, getcwd_failed + invalid("./x"));
	EXPECT_EQ(r.status, 1);

	r = run_in_tree({"-n", "misc", "misc/foo"}, deep);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, getcwd_failed + getcwd_failed);
	EXPECT_EQ(r.status, 2);

	// Absolute pathnames and those below the top need no working
	// directory.
	r = run_in_tree({"misc/foo", top + "/misc/bar"}, deep);
	EXPECT_EQ(r.out, port_progress("misc/foo") + port_progress("misc/bar"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
}

// ---------------------------------------------------------------------
// PORTSDIR

TEST_F(Portsdir, UnsetWithoutTemplatesOptionNeedsTheDefaultTemplates)
{
	if (!absent(default_templates))
		GTEST_SKIP() << default_templates << " exists on this machine";

	for (const Strings &args : {Strings{}, Strings{"-p", top},
		 Strings{"-p", top, "misc"}}) {
		Result r = run(args);
		EXPECT_EQ(r.out, "") << join_args(args);
		EXPECT_EQ(r.err, no_such(default_templates)) << join_args(args);
		EXPECT_EQ(r.status, 255) << join_args(args);
	}

	Result r = run({"-v"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose +
	    "Using default top-level directory \"/usr/ports\"\n" +
	    no_such(default_templates));
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Portsdir, UnsetMeansTheDefaultTopTakenLiterally)
{
	if (!absent("/usr/ports"))
		GTEST_SKIP() << "/usr/ports exists on this machine";

	Result r = run({"-v", "-t", tpl});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
	    "Using default top-level directory \"/usr/ports\"\n" +
	    no_such("/usr/ports/Makefile") +
	    "Unable to open top-level ports Makefile\n");
	EXPECT_EQ(r.status, 255);

	r = run({"-t", tpl, "misc"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such("/usr/ports/Makefile") +
	    "Unable to open top-level ports Makefile\n");
	EXPECT_EQ(r.status, 255);

	// At a terminal, a hint names -p and PORTSDIR.
	RunOptions o;
	o.cwd = top;
	o.err_on_terminal = true;
	r = run_tool({"-t", tpl}, o);
	EXPECT_EQ(r.err, no_such("/usr/ports/Makefile") +
	    "Unable to open top-level ports Makefile\n"
	    "hint: no ports tree at /usr/ports: name its top with -p DIR or "
	    "the PORTSDIR environment variable\n");
	EXPECT_EQ(r.status, 255);
}

// The tool built with its default top below the build tree stands in for
// one whose /usr/ports is a symbolic link.
TEST_F(Portsdir, DefaultTopIsMadeCanonicalWhenItExists)
{
	const std::string link = QUILLMARK_DEFAULT_TOP_PATH;
	const std::string said = more_verbose + setting_templates(tpl) +
	    "Using default top-level directory \"/usr/ports\"\n";
	RunOptions o;
	o.binary = testing_binary_path();
	o.cwd = D;
	fs::remove(link);
	Result r = run_tool({"-v", "-t", tpl, "misc"}, o);
	EXPECT_EQ(r.err, said + no_such(link + "/Makefile") +
	    "Unable to open top-level ports Makefile\n");
	EXPECT_EQ(r.status, 255);

	fs::create_directory_symlink(top, link);
	r = run_tool({"-v", "-t", tpl, "misc/foo", link + "/misc/bar", D}, o);
	fs::remove(link);
	EXPECT_EQ(r.out, port_progress("misc/foo") + port_progress("misc/bar"));
	EXPECT_EQ(r.err, said + outside(D));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
}

TEST_F(Portsdir, NamesTheTopAndIsReportedWhenVerbose)
{
	Result r = run({"-t", tpl, "misc/foo"}, D, {"PORTSDIR=" + top});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));

	r = run({"-v", "-t", tpl, "misc/foo"}, D, {"PORTSDIR=" + top});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
	    using_portsdir(top));
	EXPECT_EQ(r.status, 0);

	// -p wins; PORTSDIR is then not looked at.
	r = run({"-p", top, "-t", tpl, "misc/foo"}, D,
	    {"PORTSDIR=" + D + "/none"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
}

TEST_F(Portsdir, RelativeValueIsTakenFromTheWorkingDirectory)
{
	put_small_tree(d, "a/ports");
	for (const std::string &value : Strings{"ports", "./ports", "a/../ports"}) {
		remove_readmes();
		Result r = run({"-v", "-t", tpl, "misc/foo"}, D,
		    {"PORTSDIR=" + value});
		EXPECT_EQ(r.out, port_progress("misc/foo")) << value;
		EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
		    using_portsdir(top)) << value;
		EXPECT_EQ(r.status, 0) << value;
		EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"})
		    << value;
	}
	// Another working directory, another tree.
	remove_readmes();
	Result r = run({"-v", "-t", tpl, "misc/foo"}, D + "/a",
	    {"PORTSDIR=ports"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
	    using_portsdir(D + "/a/ports"));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"a/ports/misc/foo/README.html"});
}

TEST_F(Portsdir, EmptyValueIsRefusedUnlessNormalPaths)
{
	Result r = run({"-t", tpl, "misc/foo"}, top, {"PORTSDIR="});
	EXPECT_EQ(r.out, "");
	// perror leaves out the colon and blank for an empty text.
	EXPECT_EQ(r.err, "No such file or directory\n" + bad_portsdir(""));
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(readmes(), no_readmes);

	// With -n the empty pathname is the working directory.
	r = run({"-v", "-n", "-t", tpl, "misc/foo"}, top, {"PORTSDIR="});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, more_verbose + normal_paths + setting_templates(tpl) +
	    using_portsdir(top));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});
}

TEST_F(Portsdir, UnusableValueFailsStartUp)
{
	struct Case {
		std::string value, cwd, err;
	};
	const std::vector<Case> cases = {
		{D + "/none", D, no_such(D + "/none") + bad_portsdir(D + "/none")},
		{"none", D, no_such("none") + bad_portsdir("none")},
		{top + "/Makefile", D,
		    not_dir(top + "/Makefile") + bad_portsdir(top + "/Makefile")},
		{"Makefile", top, not_dir(top + "/Makefile") + bad_portsdir("Makefile")},
	};
	for (const auto &c : cases) {
		Result r = run({"-t", tpl, "misc/foo"}, c.cwd,
		    {"PORTSDIR=" + c.value});
		EXPECT_EQ(r.out, "") << c.value;
		EXPECT_EQ(r.err, c.err) << c.value;
		EXPECT_EQ(r.status, 255) << c.value;
	}
	EXPECT_EQ(readmes(), no_readmes);
}

TEST_F(Portsdir, SymbolicLinkResolvesToItsTarget)
{
	fs::create_directory_symlink("ports", D + "/link");
	Result r = run({"-v", "-t", tpl, "misc/foo", D + "/link/misc/bar"}, D,
	    {"PORTSDIR=" + D + "/link"});
	EXPECT_EQ(r.out, port_progress("misc/foo") + port_progress("misc/bar"));
	EXPECT_EQ(r.err, more_verbose + setting_templates(tpl) +
	    using_portsdir(top));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), (Strings{"ports/misc/bar/README.html",
	    "ports/misc/foo/README.html"}));
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
}

// ---------------------------------------------------------------------
// Pathname arguments

TEST_F(Pathname, CategoryAndPortRequests)
{
	Result r = run_in_tree({"misc"});
	EXPECT_EQ(r.out, misc_progress);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), (Strings{"ports/misc/README.html",
	    "ports/misc/bar/README.html", "ports/misc/foo/README.html"}));
	EXPECT_EQ(d.get("ports/misc/README.html"),
	    "cat [misc] [Miscellaneous utilities (2 ports)]\n"
	    "<a href=\"bar/README.html\">bar-2.3</a>: Bar &lt;beta&gt;\n"
	    "<a href=\"foo/README.html\">foo-1.0</a>: Foo &amp; Bar tools\n"
	    "end\n");
	remove_readmes();

	r = run_in_tree({"misc/foo"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});
	EXPECT_EQ(d.get("ports/misc/foo/README.html"), foo_page(top));
	remove_readmes();

	// Spelled in other ways, the same directories; in the order given.
	r = run_in_tree({"archivers/", "./misc/foo", top + "/misc//bar/."});
	EXPECT_EQ(r.out, "Making README.html for category archivers (1 ports)\n" +
	    port_progress("misc/foo") + port_progress("misc/bar"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), (Strings{"ports/archivers/README.html",
	    "ports/archivers/zip/README.html", "ports/misc/bar/README.html",
	    "ports/misc/foo/README.html"}));
}

TEST_F(Pathname, DeeperDirectoryIsAPortRequest)
{
	d.mkdir("ports/misc/foo/files");
	Result r = run_in_tree({"misc/foo/files"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "Port misc/foo/files not found in INDEX\n");
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), no_readmes);

	d.put("ports/INDEX-15", d.get("ports/INDEX-15") +
	    "files-0.1|/usr/ports/misc/foo/files|/usr/local|Deep files|"
	    "/usr/ports/misc/foo/files/pkg-descr|misc@example.org|misc|"
	    "||||||\n");
	r = run_in_tree({"misc/foo/files"});
	EXPECT_EQ(r.out, port_progress("misc/foo/files"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/files/README.html"});
	EXPECT_EQ(d.get("ports/misc/foo/files/README.html"),
	    "port [files-0.1] [misc/foo/files] [Deep files] [" + top +
	    "/misc/foo/files/pkg-descr] [misc@example.org] [] [] [] [" + top +
	    "]\n");
}

TEST_F(Pathname, TheTopItselfIsATopRequest)
{
	const std::vector<Strings> cases = {
		{},
		{"."},
		{top},
		{top + "/"},
		{""},
		{"misc/.."},
	};
	for (const auto &args : cases) {
		remove_readmes();
		Result r = run_in_tree(args);
		EXPECT_EQ(r.out, top_progress(top)) << join_args(args);
		EXPECT_EQ(r.err, "") << join_args(args);
		EXPECT_EQ(r.status, 0) << join_args(args);
		EXPECT_EQ(readmes(), all_readmes) << join_args(args);
	}
	// Counted like any other pathname: twice over, and with a failure.
	remove_readmes();
	Result r = run_in_tree({".", "nothing", "."});
	EXPECT_EQ(r.out, top_progress(top) + top_progress(top));
	EXPECT_EQ(r.err, no_such(top + "/nothing"));
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(readmes(), all_readmes);
}

TEST_F(Pathname, OutsideTheTreeIsRefusedWithTheResolvedPath)
{
	d.mkdir("ports2");
	d.mkdir("elsewhere");
	Result r = run_in_tree({"..", "misc/foo", D + "/ports2",
	    "../elsewhere/", "/", tpl});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "\"" + D + "\" is not inside the ports tree\n"
	    "\"" + D + "/ports2\" is not inside the ports tree\n"
	    "\"" + D + "/elsewhere\" is not inside the ports tree\n"
	    "\"/\" is not inside the ports tree\n"
	    "\"" + tpl + "\" is not inside the ports tree\n");
	EXPECT_EQ(r.status, 5);
	EXPECT_EQ(readmes(), Strings{"ports/misc/foo/README.html"});

	r = run_in_tree({"misc/foo", "../tpl"});
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "\"" + tpl + "\" is not inside the ports tree\n");
	EXPECT_EQ(r.status, 1);
}

TEST_F(Pathname, FilesAndMissingDirectoriesAreRefused)
{
	Result r = run_in_tree({"misc/Makefile", "misc/nothing", D + "/nothing",
	    "misc/bar", "INDEX-15"});
	EXPECT_EQ(r.out, port_progress("misc/bar"));
	EXPECT_EQ(r.err, not_dir(top + "/misc/Makefile") +
	    no_such(top + "/misc/nothing") + no_such(D + "/nothing") +
	    not_dir(top + "/INDEX-15"));
	EXPECT_EQ(r.status, 4);
	EXPECT_EQ(readmes(), Strings{"ports/misc/bar/README.html"});
}

TEST_F(Pathname, ExitStatusCountsEveryFailedPathname)
{
	fs::remove(tpl + "/README.port");
	const std::string no_template = no_such(tpl + "/README.port");

	// One that cannot be resolved and one whose template cannot be
	// loaded.
	Result r = run_in_tree({"nothing", "misc/foo"});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(top + "/nothing") + no_template);
	EXPECT_EQ(r.status, 2);

	// Each request tries the template again.
	r = run_in_tree({"misc/foo", "misc", "."});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_template + no_template + no_template);
	EXPECT_EQ(r.status, 3);
	EXPECT_EQ(readmes(), no_readmes);

	// Without a pathname the whole-tree request's -1 is the status.
	r = run_in_tree({});
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_template);
	EXPECT_EQ(r.status, 255);

	// A failed request stops none after it.
	put_simple_templates(d, "tpl");
	d.mkdir("ports/misc/baz");
	r = run_in_tree({"misc/baz", "misc/foo", "games", "misc/bar"});
	EXPECT_EQ(r.out, port_progress("misc/foo") + port_progress("misc/bar"));
	EXPECT_EQ(r.err, "Port misc/baz not found in INDEX\n" +
	    no_such(top + "/games"));
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(readmes(), (Strings{"ports/misc/bar/README.html",
	    "ports/misc/foo/README.html"}));

	// Counts never wrap (256 to 0, 300 to 44): above 254 they are 254.
	for (int count : {254, 256, 300}) {
		Strings args;
		std::string err;
		for (int i = 0; i < count; i++) {
			args.push_back("none" + std::to_string(i));
			err += no_such(top + "/none" + std::to_string(i));
		}
		r = run_in_tree(args);
		EXPECT_EQ(r.err, err);
		EXPECT_EQ(r.status, std::min(count, 254));
		r = run(Strings(count, "-x"));
		EXPECT_EQ(r.err.size(), count * unknown('x').size());
		EXPECT_EQ(r.status, std::min(count, 254));
	}
}

TEST_F(Pathname, NormalPathsResolvesFromTheWorkingDirectory)
{
	const std::string misc = top + "/misc";

	Result r = run_in_tree({"foo"}, misc);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, no_such(top + "/foo"));
	EXPECT_EQ(r.status, 1);

	r = run_in_tree({"-n", "foo"}, misc);
	EXPECT_EQ(r.out, port_progress("misc/foo"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);

	r = run_in_tree({"./bar"}, misc);
	EXPECT_EQ(r.out, port_progress("misc/bar"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);

	r = run_in_tree({"-n", "ports/archivers/zip"}, D);
	EXPECT_EQ(r.out, port_progress("archivers/zip"));
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);

	// The empty pathname: the working directory with -n, else the top.
	remove_readmes();
	r = run_in_tree({"-n", ""}, misc);
	EXPECT_EQ(r.out, misc_progress);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readmes(), (Strings{"ports/misc/README.html",
	    "ports/misc/bar/README.html", "ports/misc/foo/README.html"}));

	r = run_in_tree({""}, misc);
	EXPECT_EQ(r.out, top_progress(top));
	EXPECT_EQ(r.status, 0);
}

}  // namespace
