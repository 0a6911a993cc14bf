// The recent commits of the port pages, read from a git repository that
// each test makes in its own directory with git's command line, with set
// dates and authors: what the pages show, what -v says, the record beside
// the site and how a later run goes on from it.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/text.h"

#include "harness.h"
#include "history/history_record.h"

using namespace qmtest;

namespace {

const std::string no_git_tree = " is not a git work tree: the port pages "
				"show no commits\n";

class History : public ::testing::Test {
protected:
	TempDir dir;
	std::string top = dir / "tree";
	std::string tpl = dir / "tpl";

	void SetUp() override
	{
		if (!QUILLMARK_WITH_GIT)
			GTEST_SKIP() << "built without libgit2";
		put_small_tree(dir, "tree");
		put_simple_templates(dir, "tpl");
		dir.put("tpl/README.port",
		    "port [%%ORIGIN%%]\n%%LAST_CHANGED%%%%RECENT_COMMITS%%end\n");
	}

	// Runs git in the tree (or in where) with author and date set; its
	// output.
	std::string git(const std::string &args, const std::string &date = "",
	    const std::string &author = "Ann Example",
	    const std::string &where = "")
	{
		std::string env = "GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null "
				  "GIT_AUTHOR_NAME='" + author + "' "
				  "GIT_AUTHOR_EMAIL=a@example.org "
				  "GIT_COMMITTER_NAME=Committer "
				  "GIT_COMMITTER_EMAIL=c@example.org ";
		if (!date.empty())
			env += "GIT_AUTHOR_DATE=" + date + "T12:00:00Z "
			    "GIT_COMMITTER_DATE=" + date + "T12:00:00Z ";
		std::string cmd = "cd '" + (where.empty() ? top : where) +
		    "' && " + env + "git " + args + " 2>&1";
		std::string out;
		FILE *p = popen(cmd.c_str(), "r");
		if (p == nullptr)
			ADD_FAILURE() << "cannot run " << cmd;
		char buf[4096];
		std::size_t n;
		while (p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
			out.append(buf, n);
		if (p != nullptr && pclose(p) != 0)
			ADD_FAILURE() << cmd << ":\n" << out;
		return out;
	}

	// A commit of everything in the tree, with subject and date.
	std::string commit(const std::string &subject, const std::string &date,
	    const std::string &author = "Ann Example")
	{
		git("add -A");
		git("commit -q --allow-empty -m '" + subject + "'", date, author);
		return git("rev-parse HEAD").substr(0, 40);
	}

	void touch(const std::string &rel, const std::string &line)
	{
		std::string text = dir.get("tree/" + rel);
		dir.put("tree/" + rel,
		    (text == "<missing>" ? std::string() : text) + line + "\n");
	}

	Result run(std::vector<std::string> more = {},
	    const std::string &where = "")
	{
		std::vector<std::string> args = {"-p", where.empty() ? top : where,
		    "-t", tpl};
		args.insert(args.end(), more.begin(), more.end());
		return run_tool(args);
	}

	// A page's commit line.
	static std::string line(const std::string &date, const std::string &author,
	    const std::string &subject, const std::string &hash,
	    const std::string &url = "")
	{
		std::string code = url.empty()
		    ? hash.substr(0, 12)
		    : "<a href=\"" + url + hash + "\">" + hash.substr(0, 12) + "</a>";
		return "<li><time datetime=\"" + date + "\">" + date +
		    "</time> <span class=\"author\">" + author +
		    "</span> <span class=\"subject\">" + subject +
		    "</span> <code>" + code + "</code></li>\n";
	}

	static std::string page(const std::string &origin,
	    const std::string &lines = "", const std::string &last = "")
	{
		if (lines.empty())
			return "port [" + origin + "]\nend\n";
		return "port [" + origin + "]\n<dt>Last changed</dt>\n<dd><time "
		       "datetime=\"" + last + "\">" + last + "</time></dd>\n"
		       "<section class=\"commits\">\n<h2>Recent commits</h2>\n"
		       "<ol>\n" + lines + "</ol>\n</section>\nend\n";
	}

	std::string readme(const std::string &port)
	{
		return dir.get("tree/" + port + "/README.html");
	}

	// The history of the tests below: an import, a commit of two ports,
	// one of a category's Makefile only, a port directory renamed, a
	// branch merged. Returns the hashes by name.
	std::map<std::string, std::string> make_history()
	{
		git("init -q -b main");
		// The pages a run writes into the tree are not the tree's.
		dir.put("tree/.gitignore", "README.html\n.quillmark-history\n");
		touch("archivers/zip/Makefile", "PORTNAME= zip");
		touch("misc/foo/Makefile", "PORTNAME= foo");
		touch("misc/bar-old/Makefile", "PORTNAME= bar");
		std::map<std::string, std::string> h;
		h["import"] = commit("Import <script>alert(1)</script> & more",
		    "2026-01-01", "Zoë Ünicode");
		touch("archivers/zip/Makefile", "PORTREVISION= 1");
		touch("misc/foo/Makefile", "PORTREVISION= 1");
		h["two"] = commit("Two ports at once", "2026-01-02");
		touch("misc/Makefile", "# a comment");
		h["category"] = commit("misc: the category only", "2026-01-03");
		git("mv misc/bar-old misc/bar");
		h["rename"] = commit("misc/bar-old: renamed to misc/bar", "2026-01-04");
		git("checkout -q -b side");
		touch("misc/bar/distinfo", "SIZE= 1");
		h["side"] = commit("misc/bar: on a branch", "2026-01-05");
		git("checkout -q main");
		touch("misc/foo/Makefile", "PORTREVISION= 2");
		h["main"] = commit("misc/foo: on main", "2026-01-06");
		git("merge -q --no-ff -m 'Merge branch side' side", "2026-01-07");
		h["merge"] = git("rev-parse HEAD").substr(0, 40);
		return h;
	}
};

TEST_F(History, PortPagesShowTheCommitsThatChangedThemNewestFirst)
{
	auto h = make_history();
	const std::string url = "https://git.example.org/commit/";
	Result r = run({"-v", "-c", url + "%s?x=1&y=2"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Reading the history: 7 commits (a first run reads "
			     "back 12 months, at most 50000 commits)\n"),
	    std::string::npos)
	    << r.err;
	// The merge changed no port from both its parents, the category's
	// Makefile no port; a renamed directory starts a history of its own;
	// every text is escaped, the author's name made UTF-8 as it is.
	const std::string link = url;
	auto linked = [&](const std::string &date, const std::string &author,
			  const std::string &subject, const std::string &hash) {
		std::string l = line(date, author, subject, hash, "x");
		std::string from = "<a href=\"x" + hash + "\">";
		l.replace(l.find(from), from.size(),
		    "<a href=\"" + url + hash + "?x=1&amp;y=2\">");
		return l;
	};
	const std::string import_line = linked("2026-01-01", "Zoë Ünicode",
	    "Import &lt;script&gt;alert(1)&lt;/script&gt; &amp; more", h["import"]);
	EXPECT_EQ(readme("misc/foo"),
	    page("misc/foo",
		linked("2026-01-06", "Ann Example", "misc/foo: on main", h["main"]) +
		    linked("2026-01-02", "Ann Example", "Two ports at once", h["two"]) +
		    import_line,
		"2026-01-06"));
	EXPECT_EQ(readme("archivers/zip"),
	    page("archivers/zip",
		linked("2026-01-02", "Ann Example", "Two ports at once", h["two"]) +
		    import_line,
		"2026-01-02"));
	EXPECT_EQ(readme("misc/bar"),
	    page("misc/bar",
		linked("2026-01-05", "Ann Example", "misc/bar: on a branch", h["side"]) +
		    linked("2026-01-04", "Ann Example",
			"misc/bar-old: renamed to misc/bar", h["rename"]),
		"2026-01-05"));
	std::string record = dir.get("tree/.quillmark-history");
	EXPECT_EQ(record.substr(0, 61), "quillmark-history 1 " + h["merge"] + "\n");

	// Without -c the hash is text.
	r = run({"misc/bar"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(readme("misc/bar"),
	    page("misc/bar",
		line("2026-01-05", "Ann Example", "misc/bar: on a branch", h["side"]) +
		    line("2026-01-04", "Ann Example",
			"misc/bar-old: renamed to misc/bar", h["rename"]),
		"2026-01-05"));
}

TEST_F(History, ALaterRunReadsOnlyTheNewCommitsAndEndsWhereAWholeReadingEnds)
{
	auto h = make_history();
	ASSERT_EQ(run().status, 0);
	std::string first_record = dir.get("tree/.quillmark-history");
	for (int i = 1; i <= 8; i++) {
		touch("misc/foo/Makefile", "PORTREVISION= " + std::to_string(2 + i));
		h["new" + std::to_string(i)] = commit(
		    "misc/foo: update " + std::to_string(i), "2026-02-0" + std::to_string(i));
	}
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Reading the history: 8 commits since the last run\n"),
	    std::string::npos)
	    << r.err;
	std::string later = readme("misc/foo");
	// Eleven commits changed it: the page shows the newest ten.
	std::size_t items = 0;
	for (std::size_t at = 0; (at = later.find("<li>", at)) != std::string::npos; at++)
		items++;
	EXPECT_EQ(items, 10u);
	EXPECT_NE(later.find(h["two"].substr(0, 12)), std::string::npos);
	EXPECT_EQ(later.find(h["import"].substr(0, 12)), std::string::npos);
	std::string record = dir.get("tree/.quillmark-history");
	EXPECT_NE(record, first_record);
	EXPECT_EQ(later.substr(0, later.find("</li>")),
	    ("port [misc/foo]\n<dt>Last changed</dt>\n<dd><time "
	     "datetime=\"2026-02-08\">2026-02-08</time></dd>\n<section "
	     "class=\"commits\">\n<h2>Recent commits</h2>\n<ol>\n" +
		line("2026-02-08", "Ann Example", "misc/foo: update 8", h["new8"]))
		.substr(0, later.find("</li>")));

	// Read again from nothing, the pages and the record are the same.
	std::remove((top + "/.quillmark-history").c_str());
	r = run({"-v"});
	EXPECT_NE(r.err.find("Reading the history: 15 commits (a first run"),
	    std::string::npos)
	    << r.err;
	EXPECT_EQ(readme("misc/foo"), later);
	EXPECT_EQ(dir.get("tree/.quillmark-history"), record);

	// Nothing new: nothing read, nothing changed.
	r = run({"-v"});
	EXPECT_NE(r.err.find("Reading the history: 0 commits since the last run\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_EQ(dir.get("tree/.quillmark-history"), record);
}

TEST_F(History, ARewrittenHistoryOrADamagedRecordIsReadAnew)
{
	auto h = make_history();
	ASSERT_EQ(run().status, 0);
	// A forced rewrite: the last two commits replaced by another.
	git("reset -q --hard HEAD~2");
	touch("misc/foo/Makefile", "PORTREVISION= 9");
	std::string rewritten = commit("misc/foo: rewritten", "2026-01-08");
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find(top + ": the history was rewritten since the last "
				   "run (it no longer leads to commit " +
		      h["merge"].substr(0, 12) + "): it is read anew\n"
		      "Reading the history: 5 commits (a first run"),
	    std::string::npos)
	    << r.err;
	std::string foo = readme("misc/foo");
	EXPECT_NE(foo.find(rewritten.substr(0, 12)), std::string::npos);
	EXPECT_EQ(foo.find(h["main"].substr(0, 12)), std::string::npos);
	EXPECT_EQ(readme("misc/bar"),
	    page("misc/bar",
		line("2026-01-04", "Ann Example",
		    "misc/bar-old: renamed to misc/bar", h["rename"]),
		"2026-01-04"));

	// A record altered by one byte is named, even without -v, never
	// trusted, and written whole again.
	std::string record = dir.get("tree/.quillmark-history");
	std::string altered = record;
	altered[record.find("Two ports")] = 't';
	dir.put("tree/.quillmark-history", altered);
	r = run();
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, top + "/.quillmark-history: not a whole record of the "
			       "history (cut short or altered): it is read anew\n");
	EXPECT_EQ(dir.get("tree/.quillmark-history"), record);
	EXPECT_EQ(readme("misc/foo"), foo);
}

TEST_F(History, AShallowCloneShowsWhatItHas)
{
	auto h = make_history();
	std::string clone = dir / "clone";
	git("clone -q --depth 3 file://" + top + " " + clone);
	Result r = run({"-v"}, clone);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Reading the history: the repository is a shallow "
			     "clone, read as far as it goes\n"),
	    std::string::npos)
	    << r.err;
	// The commits at the clone's edge changed what cannot be told: the
	// rename is passed over.
	EXPECT_EQ(dir.get("clone/misc/bar/README.html"),
	    page("misc/bar",
		line("2026-01-05", "Ann Example", "misc/bar: on a branch", h["side"]),
		"2026-01-05"));
	EXPECT_EQ(dir.get("clone/misc/foo/README.html"),
	    page("misc/foo",
		line("2026-01-06", "Ann Example", "misc/foo: on main", h["main"]),
		"2026-01-06"));
	EXPECT_EQ(dir.get("clone/archivers/zip/README.html"), page("archivers/zip"));
}

TEST_F(History, WithoutARepositoryOrThePlaceholdersNothingChanges)
{
	// No .git: one message at -v, pages without commits, no record.
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find(top + no_git_tree), std::string::npos) << r.err;
	EXPECT_EQ(readme("misc/foo"), page("misc/foo"));
	EXPECT_FALSE(dir.exists("tree/.quillmark-history"));

	// A .git that no repository is: the same, with the library's reason.
	dir.put("tree/.git", "gitdir: /nonexistent\n");
	r = run({"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find(top + ": the git repository cannot be read ("),
	    std::string::npos)
	    << r.err;
	EXPECT_EQ(readme("misc/foo"), page("misc/foo"));
	EXPECT_FALSE(dir.exists("tree/.quillmark-history"));
	std::remove((top + "/.git").c_str());

	// Templates without the placeholders: the history is not read, no
	// record is kept, and -v says nothing of it.
	make_history();
	put_simple_templates(dir, "tpl");
	r = run({"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err.find("history"), std::string::npos) << r.err;
	EXPECT_FALSE(dir.exists("tree/.quillmark-history"));
}

TEST_F(History, AnUpdateInTheFeedsCarriesTheCommitsSinceTheRunBefore)
{
	make_history();
	std::string site = dir / "site";
	dir.mkdir("first");
	ASSERT_EQ(symlink("first", site.c_str()), 0);
	auto publish = [&](long long now) {
		RunOptions opt;
		opt.binary = testing_binary_path();
		opt.env.push_back("QUILLMARK_TEST_NOW=" + std::to_string(now));
		return run_tool({"-q", "-p", top, "-t", tpl, "-u",
				    "https://ports.example.org/", "-o", site},
		    opt);
	};
	Result r = publish(1780000000);
	ASSERT_EQ(r.status, 0) << r.err;
	// foo's version goes up over two commits; zip changes, its version
	// does not.
	std::string index = dir.get("tree/INDEX-15");
	index.replace(index.find("\nfoo-1.0|"), 9, "\nfoo-1.1|");
	dir.put("tree/INDEX-15", index);
	touch("misc/foo/Makefile", "DISTVERSION= 1.1");
	commit("misc/foo: update to 1.1 <b>", "2026-02-01");
	touch("misc/foo/distinfo", "SIZE= 2");
	touch("archivers/zip/Makefile", "# a comment");
	commit("misc/foo, archivers/zip: fix the checksum", "2026-02-02");
	r = publish(1780086400);
	ASSERT_EQ(r.status, 0) << r.err;

	const std::string content =
	    "<content type=\"text\">misc/foo (misc@example.org) updated\n"
	    "misc/foo, archivers/zip: fix the checksum\n"
	    "misc/foo: update to 1.1 &lt;b&gt;</content>";
	std::string feed = dir.get("site/feed.atom");
	EXPECT_NE(feed.find(content), std::string::npos) << feed;
	EXPECT_EQ(feed.find("archivers/zip (arch"), std::string::npos) << feed;
	std::string record = dir.get("site/.quillmark-feed");
	EXPECT_NE(record.find("\tmisc/foo\t1.0\t1.1\tmisc@example.org\n"
			      "S\tmisc/foo, archivers/zip: fix the checksum\n"
			      "S\tmisc/foo: update to 1.1 <b>\nend "),
	    std::string::npos)
	    << record;

	// The next run keeps the entry with its commits, from the record.
	r = publish(1780172800);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(dir.get("site/feed.atom"), feed);
	EXPECT_EQ(dir.get("site/misc/feed.atom").find(content) != std::string::npos, true);
}

// The record read back as written; refused when cut, altered or when a
// port lists a commit it does not hold.
TEST(HistoryRecord, ReadsBackAsWrittenAndRefusesWhatIsNotWhole)
{
	const std::string h1(40, 'a'), h2(40, 'b');
	history_commit commits[] = {{h1, 1772971200, "Zoë\tÜ", "fix <it>\nnow"},
	    {h2, 1772884800, "", "first"}};
	const std::uint32_t foo[] = {0, 1}, bar[] = {1};
	history_port ports[] = {{"misc/bar", bar}, {"misc/foo", foo}};
	history_record r = {h1, commits, ports};
	std::string text(history_record_bound(r), '\0');
	char *end = format_history_record(text.data(), text.data() + text.size(), r);
	ASSERT_NE(end, nullptr);
	text.resize(static_cast<std::size_t>(end - text.data()));
	const std::string body = "quillmark-history 1 " + h1 + "\n"
	    "C\t" + h1 + "\t1772971200\tZoë Ü\tfix <it> now\n"
	    "C\t" + h2 + "\t1772884800\t\tfirst\n"
	    "P\tmisc/bar\t1\nP\tmisc/foo\t0 1\n";
	EXPECT_EQ(text.substr(0, body.size()), body);
	EXPECT_EQ(text.substr(body.size(), 4 + std::to_string(body.size()).size() + 1),
	    "end " + std::to_string(body.size()) + " ");

	auto parse = [](const std::string &t, history_record *out) {
		static std::vector<history_commit> c;
		static std::vector<history_port> p;
		static std::vector<std::uint32_t> n;
		c.assign(history_record_lines(t) + 1, {});
		p.assign(c.size(), {});
		n.assign(history_record_numbers(t), 0);
		out->commits = c;
		out->ports = p;
		return parse_history_record(t, out, n.data());
	};
	history_record back;
	ASSERT_TRUE(parse(text, &back));
	EXPECT_EQ(back.head, h1);
	ASSERT_EQ(back.commits.size(), 2u);
	EXPECT_EQ(back.commits[0].subject, "fix <it> now");
	EXPECT_EQ(back.commits[1].author, "");
	ASSERT_EQ(back.ports.size(), 2u);
	EXPECT_EQ(back.ports[1].commits.size(), 2u);
	std::string again(history_record_bound(back), '\0');
	end = format_history_record(again.data(), again.data() + again.size(), back);
	ASSERT_NE(end, nullptr);
	EXPECT_EQ(again.substr(0, static_cast<std::size_t>(end - again.data())), text);
	EXPECT_EQ(format_history_record(again.data(), again.data() + text.size() - 1, back),
	    nullptr);

	for (std::size_t n = 0; n < text.size(); n++)
		EXPECT_FALSE(parse(text.substr(0, n), &back)) << "cut at " << n;
	for (std::size_t i = 0; i < text.size(); i++) {
		std::string altered = text;
		altered[i] = static_cast<char>(altered[i] ^ 0x20);
		EXPECT_FALSE(parse(altered, &back)) << "altered at " << i;
	}
	// Summed as the writer sums: a commit number out of range is refused.
	for (std::string line : {"P\tmisc/baz\t2\n", "P\tmisc/baz\t\n",
		 "C\tshort\t1\ta\tb\n", "P\tmisc/baz\t0\n"}) {
		std::string forged_body = body + line;
		std::array<char, 16> sum = hex_of(fnv1a(forged_body));
		std::string forged = forged_body + "end " +
		    std::to_string(forged_body.size()) + " " +
		    std::string(sum.data(), 16) + "\n";
		EXPECT_EQ(parse(forged, &back), line == "P\tmisc/baz\t0\n") << line;
	}
}

TEST_F(History, CommitLinkOption)
{
	for (const std::string bad : {"https://git.example.org/commit/",
		 "ftp://git.example.org/%s", "https://git.example.org/%s/%s",
		 "https://git.example.org/\"%s"}) {
		Result r = run({"-c", bad});
		EXPECT_EQ(r.status, 1) << bad;
		EXPECT_EQ(r.err,
		    "Bad URL \"" + bad + "\" for option \"-c\": it must be an "
		    "absolute http or https URL with one \"%s\" where a commit's "
		    "hash goes, such as \"https://git.example.org/commit/%s\"\n"
		    "Try \"quillmark -h\" or \"man quillmark\" for more "
		    "information.\n");
	}
	Result r = run({"-c"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
	    "Missing URL argument to option \"-c\"\n");
}

} // namespace
