// Maintainer pages and the site's address (-u): the built binary on small
// trees, compared byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harness.h"

namespace fs = std::filesystem;
using namespace qmtest;

namespace {

// An INDEX line of port cat/dir, package pkg, maintained by who.
std::string
index_line(const std::string &cat, const std::string &dir,
    const std::string &pkg, const std::string &who,
    const std::string &comment = "A port")
{
	return pkg + "|/usr/ports/" + cat + "/" + dir + "|/usr/local|" +
	    comment + "|/usr/ports/" + cat + "/" + dir + "/pkg-descr|" + who +
	    "|" + cat + "||||||\n";
}

// The modification time of every file below root, by relative path.
std::map<std::string, long long>
mtimes_below(const std::string &root)
{
	std::map<std::string, long long> times;
	for (auto &e : fs::recursive_directory_iterator(root)) {
		struct stat st;
		if (e.is_regular_file() && stat(e.path().c_str(), &st) == 0)
			times[fs::relative(e.path(), root).string()] =
			    st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
	}
	return times;
}

std::set<std::string>
names_in(const std::string &dir)
{
	std::set<std::string> names;
	for (auto &e : fs::directory_iterator(dir))
		names.insert(e.path().filename().string());
	return names;
}

class Maintainers : public ::testing::Test {
protected:
	TempDir d;
	std::string top = d / "ports";
	std::string index;

	void SetUp() override
	{
		d.put("tpl/README.port", "port [%%MAINTAINER_LINK%%]\n");
		d.put("tpl/README.category", "cat\n%%SUBDIR%%end\n");
		d.put("tpl/README.top", "top\n%%SUBDIR%%%%MAINTAINERS_LINK%%end\n");
		d.put("tpl/README.maintainer",
		    "m [%%MAINTAINER%%] [%%MAINTAINER_PORT_COUNT%%]\n"
		    "%%MAINTAINER_PORTS%%end\n");
		d.put("tpl/README.maintainers",
		    "ms [%%MAINTAINER_COUNT%%]\n%%MAINTAINER_LIST%%end\n");
	}
	// A tree of the categories listed, with the ports of misc listed in
	// its Makefile; the INDEX is index.
	void put_tree(const std::vector<std::string> &categories,
	    const std::vector<std::string> &misc_ports)
	{
		std::string top_makefile;
		for (const auto &c : categories)
			top_makefile += "SUBDIR += " + c + "\n";
		d.put("ports/Makefile", top_makefile);
		std::string misc = "    COMMENT = Misc\n";
		for (const auto &p : misc_ports) {
			misc += "    SUBDIR += " + p + "\n";
			d.mkdir("ports/misc/" + p);
		}
		for (const auto &c : categories)
			d.put("ports/" + c + "/Makefile",
			    c == "misc" ? misc : "    COMMENT = Other\n");
		d.put("ports/INDEX-15", index);
	}
	Result run(std::vector<std::string> args)
	{
		std::vector<std::string> all = {"-p", top, "-t", d / "tpl"};
		all.insert(all.end(), args.begin(), args.end());
		return run_tool(all);
	}
};

} // namespace

// Any address gives a safe name: no '/', no leading '.', bounded, lower
// case so that a case-insensitive file system keeps them apart; addresses
// that differ in case are one maintainer; one maintainer of 5,000 ports
// gets them all, sorted by name; a second run rewrites no page.
TEST_F(Maintainers, SafeNamesCaseFoldingAndLargePages)
{
	const std::string long_a(300, 'x');
	const std::string long_b = long_a + "y";
	const std::vector<std::string> hostile = {"../../etc/passwd",
	    ".hidden", "a/b", "<script>\"&'", "README.html", long_a, long_b,
	    "ports@FreeBSD.org", "\xc3\xa9lodie@example.org", "a b@c",
	    "Joe@Example.ORG", "joe@example.org", "x%2fy", "tab\there"};
	for (std::size_t n = 0; n < hostile.size(); n++)
		index += index_line("misc", "p" + std::to_string(n),
		    "p" + std::to_string(n + 1) + "-1.0", hostile[n]);
	// The bulk maintainer's ports, in an order their names do not have.
	std::string bulk;
	for (int i = 4999; i >= 0; i--)
		bulk += index_line("net", "b" + std::to_string(i),
		    "b" + std::to_string(i) + "-2." + std::to_string(i),
		    "Bulk@Example.org", "Bulk <" + std::to_string(i) + ">");
	index += bulk;
	put_tree({"misc", "net"}, {"p0", "p10", "p11"});

	Result r = run({"-q", "-o", d / "out"});
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.out, "");
	ASSERT_EQ(r.status, 0);

	std::set<std::string> names = names_in(d / "out/maintainer");
	std::set<std::string> folded;
	for (const auto &name : names) {
		if (name == "README.html")
			continue;
		EXPECT_LE(name.size(), 64u) << name;
		EXPECT_EQ(name.find('/'), std::string::npos) << name;
		EXPECT_NE(name[0], '.') << name;
		std::string lower = name;
		std::transform(lower.begin(), lower.end(), lower.begin(),
		    [](unsigned char c) { return std::tolower(c); });
		EXPECT_EQ(lower, name);
		folded.insert(lower);
	}
	EXPECT_EQ(folded.size() + 1, names.size());
	// Joe's two spellings are one; the rest each their own; the index.
	EXPECT_EQ(names.size(), hostile.size() - 1 + 1 + 1);
	for (const char *expected : {"README.html", "_2e._2f.._2fetc_2fpasswd",
		 "_2ehidden", "a_2fb", "_3cscript_3e_22_26_27",
		 "_72eadme.html", "ports@freebsd.org",
		 "_c3_a9lodie@example.org", "a_20b@c", "joe@example.org",
		 "x_252fy", "tab_09here", "bulk@example.org"})
		EXPECT_EQ(names.count(expected), 1u) << expected;
	// The two long ones are cut, and told apart by their hash.
	int cut = 0;
	for (const auto &name : names) {
		if (name.starts_with(std::string(47, 'x') + "~")) {
			EXPECT_EQ(name.size(), 64u);
			cut++;
		}
	}
	EXPECT_EQ(cut, 2);

	EXPECT_EQ(d.get("out/maintainer/joe@example.org/README.html"),
	    "m [Joe@Example.ORG] [2]\n<ul class=\"maintained\">\n"
	    "<li><a href=\"../../misc/p10/README.html\">p11</a> <span "
	    "class=\"version\">1.0</span> <code>misc/p10</code>: A "
	    "port</li>\n"
	    "<li><a href=\"../../misc/p11/README.html\">p12</a> <span "
	    "class=\"version\">1.0</span> <code>misc/p11</code>: A "
	    "port</li>\n"
	    "</ul>\nend\n");
	EXPECT_EQ(d.get("out/maintainer/ports@freebsd.org/README.html").substr(0, 34),
	    "m [ports without a maintainer] [1]");
	std::string hostile_page =
	    d.get("out/maintainer/_3cscript_3e_22_26_27/README.html");
	EXPECT_EQ(hostile_page.substr(0, hostile_page.find('\n')),
	    "m [&lt;script&gt;&quot;&amp;'] [1]");

	std::string bulk_page = d.get("out/maintainer/bulk@example.org/README.html");
	std::size_t items = 0;
	for (std::size_t at = 0; (at = bulk_page.find("<li>", at)) != std::string::npos; at++)
		items++;
	EXPECT_EQ(items, 5000u);
	EXPECT_EQ(bulk_page.substr(0, 26), "m [Bulk@Example.org] [5000");
	// By name: b0, b1, b10, b100, ...
	EXPECT_LT(bulk_page.find(">b0<"), bulk_page.find(">b1<"));
	EXPECT_LT(bulk_page.find(">b1<"), bulk_page.find(">b10<"));
	EXPECT_LT(bulk_page.find(">b10<"), bulk_page.find(">b100<"));
	EXPECT_NE(bulk_page.find("Bulk &lt;17&gt;"), std::string::npos);

	std::string index_page = d.get("out/maintainer/README.html");
	EXPECT_EQ(index_page.substr(0, 9), "ms [14]\n<");
	EXPECT_NE(index_page.find("<li><a href=\"joe@example.org/README.html\">"
				  "Joe@Example.ORG</a> (2 ports)</li>\n"),
	    std::string::npos);
	EXPECT_NE(index_page.find("<li><a href=\"ports@freebsd.org/README.html\">"
				  "ports without a maintainer</a> (1 port)</li>\n"),
	    std::string::npos);
	EXPECT_EQ(d.get("out/README.html"),
	    "top\n<a href=\"misc/README.html\">misc</a>: Misc\n"
	    "<a href=\"net/README.html\">net</a>: Other\n"
	    "<p><a href=\"maintainer/README.html\">Ports by maintainer</a></p>\n"
	    "end\n");
	EXPECT_EQ(d.get("out/misc/p0/README.html"),
	    "port [<a href=\"../../maintainer/_2e._2f.._2fetc_2fpasswd/"
	    "README.html\">../../etc/passwd</a>]\n");
	EXPECT_EQ(d.get("out/misc/p10/README.html"),
	    "port [<a href=\"../../maintainer/joe@example.org/"
	    "README.html\">Joe@Example.ORG</a>]\n");

	// Nothing changed: no page is written again.
	auto before = mtimes_below(d / "out");
	r = run({"-q", "-o", d / "out"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(mtimes_below(d / "out"), before);
}

// In place, no folder is made in the tree and the port page keeps a mail
// link (-v says why); a category named like the folder, in any case, keeps
// the pages from being made, and says so.
TEST_F(Maintainers, OnlyBelowAnOutputRootAndWhereNoCategoryIs)
{
	index = index_line("misc", "p0", "p0-1.0", "joe@example.org");
	put_tree({"misc"}, {"p0"});
	Result r = run({"-v"});
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("Not making maintainer pages: they are made only "
			     "below an output root (-o)\n"),
	    std::string::npos);
	EXPECT_FALSE(d.exists("ports/maintainer"));
	EXPECT_EQ(d.get("ports/misc/p0/README.html"),
	    "port [<a href=\"mailto:joe@example.org\">joe@example.org</a>]\n");
	EXPECT_EQ(d.get("ports/README.html"),
	    "top\n<a href=\"misc/README.html\">misc</a>: Misc\nend\n");

	// A port alone, with -o, links to the page a whole run makes.
	r = run({"-q", "-o", d / "out", "misc/p0"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("out/misc/p0/README.html"),
	    "port [<a href=\"../../maintainer/joe@example.org/"
	    "README.html\">joe@example.org</a>]\n");

	// Their pages find the shared stylesheet from where they stand. The
	// progress lines name where the pages go, not the tree.
	d.put("tpl/site.css", "p {}\n");
	d.put("tpl/README.maintainer", "m [%%STYLESHEET%%]\n");
	d.put("tpl/README.maintainers", "ms [%%STYLESHEET%%]\n");
	r = run({"-o", d / "out"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out,
	    "Making top-level README.html in " + d / "out" +
		" (1 categories)\nMaking 1 maintainer pages in " +
		d / "out/maintainer" +
		"\nMaking README.html for category misc (1 ports)\n");
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(d.get("out/maintainer/README.html"), "ms [../site.css]\n");
	EXPECT_EQ(d.get("out/maintainer/joe@example.org/README.html"),
	    "m [../../site.css]\n");
	EXPECT_EQ(d.get("out/site.css"), "p {}\n");

	index = index_line("Maintainer", "p0", "p0-1.0", "joe@example.org");
	put_tree({"Maintainer"}, {});
	r = run({"-q", "-o", d / "out2"});
	EXPECT_EQ(r.err, "Category \"maintainer\" takes the place of the "
			 "maintainer pages; they are not made\n");
	EXPECT_EQ(r.status, 0);
	EXPECT_FALSE(d.exists("out2/maintainer"));
	EXPECT_EQ(d.get("out2/README.html"),
	    "top\n<a href=\"Maintainer/README.html\">Maintainer</a>: Other\n"
	    "end\n");
}

// -u takes an absolute http or https URL of a directory; anything else is
// refused as an option error, with the hint.
TEST_F(Maintainers, SiteUrlIsChecked)
{
	index = index_line("misc", "p0", "p0-1.0", "joe@example.org");
	put_tree({"misc"}, {"p0"});
	const std::string hint =
	    "Try \"quillmark -h\" or \"man quillmark\" for more information.\n";
	for (const std::string bad : {"", "ports.example.org/",
		 "ftp://ports.example.org/", "https://ports.example.org",
		 "https:///", "https://user@ports.example.org/",
		 "https://ports.example.org/ports",
		 "https://ports.example.org/a b/", "https://ports.example.org/?q=/",
		 "https://ports.example.org/#x/", "https://ports.example.org/\"/",
		 "https://:80/", "/ports/"}) {
		Result r = run({"-q", "-u", bad});
		EXPECT_EQ(r.err, "Bad URL \"" + bad + "\" for option \"-u\": it "
		    "must be an absolute http or https URL that ends in \"/\", "
		    "such as \"https://ports.example.org/\"\n" + hint) << bad;
		EXPECT_EQ(r.status, 1) << bad;
		EXPECT_FALSE(d.exists("ports/README.html")) << bad;
	}
	Result r = run({"-q", "-u"});
	EXPECT_EQ(r.err, "Missing URL argument to option \"-u\"\n" + hint);
	EXPECT_EQ(r.status, 1);
	for (const std::string good : {"https://ports.example.org/",
		 "http://[::1]:8080/ports/", "HTTPS://Ports.Example.org/a/%7Eb/"}) {
		r = run({"-q", "-u", good});
		EXPECT_EQ(r.out + r.err, "") << good;
		EXPECT_EQ(r.status, 0) << good;
	}
}

namespace {

// Whether text is a well-formed XML document, by expat; the names of its
// elements in order into names.
bool
well_formed(const std::string &text, std::vector<std::string> *names)
{
	XML_Parser parser = XML_ParserCreate("UTF-8");
	XML_SetUserData(parser, names);
	XML_SetStartElementHandler(parser,
	    [](void *data, const XML_Char *name, const XML_Char **) {
		    static_cast<std::vector<std::string> *>(data)->push_back(name);
	    });
	bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()),
		      1) == XML_STATUS_OK;
	XML_ParserFree(parser);
	return ok;
}

std::string
w3c_time(const std::string &path)
{
	struct stat st;
	if (stat(path.c_str(), &st) != 0)
		return "<no time>";
	char buf[32];
	struct tm tm;
	gmtime_r(&st.st_mtime, &tm);
	strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
	return buf;
}

} // namespace

// With -u, a run that makes the top page lists every page it made in
// sitemap.xml with the page's time; an unchanged run leaves it as it was;
// without -u there is none.
TEST_F(Maintainers, SitemapListsEveryPageWithItsTime)
{
	index = index_line("misc", "p0", "p0-1.0", "joe@example.org") +
	    index_line("misc", "p 1", "p1-1.0", "joe@example.org");
	put_tree({"misc"}, {"p0", "p 1"});
	Result r = run({"-q", "-o", d / "out"});
	EXPECT_EQ(r.status, 0);
	EXPECT_FALSE(d.exists("out/sitemap.xml"));

	r = run({"-q", "-o", d / "out", "-u", "https://ports.example.org/x/"});
	EXPECT_EQ(r.out + r.err, "");
	EXPECT_EQ(r.status, 0);
	auto expected = [&] {
		std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
		    "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
		for (const char *page : {"maintainer/joe@example.org/README.html",
			 "maintainer/README.html", "misc/p0/README.html",
			 "misc/p 1/README.html", "misc/README.html", "README.html"}) {
			std::string loc = page;
			if (loc.find(' ') != std::string::npos)
				loc.replace(loc.find(' '), 1, "%20");
			text += "<url><loc>https://ports.example.org/x/" + loc +
			    "</loc><lastmod>" +
			    w3c_time(d / ("out/" + std::string(page))) +
			    "</lastmod></url>\n";
		}
		return text + "</urlset>\n";
	};
	std::string sitemap = d.get("out/sitemap.xml");
	EXPECT_EQ(sitemap, expected());
	std::vector<std::string> names;
	EXPECT_TRUE(well_formed(sitemap, &names));

	auto before = mtimes_below(d / "out");
	r = run({"-q", "-o", d / "out", "-u", "https://ports.example.org/x/"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(mtimes_below(d / "out"), before);

	// A category template that makes its ports' pages twice: the sitemap
	// names each page once, in the order they were first made.
	d.put("tpl/README.category", "cat\n%%SUBDIR%%%%SUBDIR%%end\n");
	r = run({"-q", "-o", d / "out", "-u", "https://ports.example.org/x/"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(d.get("out/sitemap.xml"), expected());
}

// Above 50,000 pages the sitemap is an index of parts of 50,000 at most.
TEST_F(Maintainers, SitemapAboveFiftyThousandPagesIsAnIndex)
{
	// A maintainer page each: 50,100 of them, their index, the category
	// and the top page.
	for (int i = 0; i < 50100; i++)
		index += index_line("misc", "p" + std::to_string(i),
		    "p" + std::to_string(i) + "-1", "m" + std::to_string(i) + "@x");
	put_tree({"misc"}, {});
	// Fifty thousand files: in memory where the system has a file system
	// there, so that a busy disk does not slow the test down.
	std::string out = d / "out";
	char shm[] = "/dev/shm/quillmark-test.XXXXXX";
	bool in_memory = mkdtemp(shm) != nullptr;
	if (in_memory)
		out = std::string(shm) + "/out";
	Result r = run({"-q", "-o", out, "-u", "http://example.org/"});
	EXPECT_EQ(r.out + r.err, "");
	std::vector<std::string> names;
	std::string index_text = read_file(out + "/sitemap.xml");
	EXPECT_TRUE(well_formed(index_text, &names));
	EXPECT_EQ(names, (std::vector<std::string>{"sitemapindex", "sitemap",
			     "loc", "lastmod", "sitemap", "loc", "lastmod"}));
	EXPECT_NE(index_text.find("<sitemap><loc>http://example.org/"
				  "sitemap-2.xml</loc><lastmod>"),
	    std::string::npos);
	std::size_t urls = 0;
	for (const char *part : {"/sitemap-1.xml", "/sitemap-2.xml"}) {
		names.clear();
		EXPECT_TRUE(well_formed(read_file(out + part), &names)) << part;
		std::size_t n = std::count(names.begin(), names.end(), "url");
		EXPECT_LE(n, 50000u) << part;
		urls += n;
	}
	EXPECT_EQ(urls, 50103u);
	EXPECT_FALSE(fs::exists(out + "/sitemap-3.xml"));
	EXPECT_EQ(r.status, 0);
	if (in_memory)
		fs::remove_all(shm);
}

namespace {

// The checks of an Atom 1.0 document that its schema makes: well-formed
// XML whose root is an Atom feed with one id, title and updated; each
// entry with one id, title and updated, and a link or content; no two
// entries with one id. The entries' ids, in order, into ids; "" when it
// holds.
struct atom_reader {
	std::vector<std::string> path;
	std::map<std::string, int> feed_children, entry_children;
	std::vector<std::string> ids;
	std::string fault, text;
	bool in_entry = false;
};

std::string
atom_fault(const std::string &doc, std::vector<std::string> *ids)
{
	atom_reader reader;
	XML_Parser parser = XML_ParserCreateNS("UTF-8", ' ');
	XML_SetUserData(parser, &reader);
	XML_SetElementHandler(parser,
	    [](void *data, const XML_Char *name, const XML_Char **) {
		    auto &r = *static_cast<atom_reader *>(data);
		    std::string n = name;
		    const std::string ns = "http://www.w3.org/2005/Atom ";
		    if (!n.starts_with(ns))
			    r.fault = "an element outside Atom: " + n;
		    n = n.substr(ns.size() < n.size() ? ns.size() : 0);
		    if (r.path.empty() && n != "feed")
			    r.fault = "the root is " + n;
		    if (r.path.size() == 1) {
			    r.feed_children[n]++;
			    if (n == "entry") {
				    r.in_entry = true;
				    r.entry_children.clear();
			    }
		    }
		    if (r.path.size() == 2 && r.in_entry)
			    r.entry_children[n]++;
		    r.path.push_back(n);
		    r.text.clear();
	    },
	    [](void *data, const XML_Char *) {
		    auto &r = *static_cast<atom_reader *>(data);
		    if (r.path.size() == 3 && r.in_entry && r.path.back() == "id")
			    r.ids.push_back(r.text);
		    if (r.path.size() == 2 && r.path.back() == "entry") {
			    for (const char *one : {"id", "title", "updated"})
				    if (r.entry_children[one] != 1)
					    r.fault = std::string("an entry without one ") + one;
			    if (r.entry_children["link"] + r.entry_children["content"] == 0)
				    r.fault = "an entry without link or content";
			    r.in_entry = false;
		    }
		    r.path.pop_back();
	    });
	XML_SetCharacterDataHandler(parser, [](void *data, const XML_Char *s, int len) {
		static_cast<atom_reader *>(data)->text.append(s, len);
	});
	if (XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) !=
	    XML_STATUS_OK)
		reader.fault = XML_ErrorString(XML_GetErrorCode(parser));
	XML_ParserFree(parser);
	for (const char *one : {"id", "title", "updated"})
		if (reader.fault.empty() && reader.feed_children[one] != 1)
			reader.fault = std::string("a feed without one ") + one;
	std::set<std::string> unique(reader.ids.begin(), reader.ids.end());
	if (reader.fault.empty() && unique.size() != reader.ids.size())
		reader.fault = "two entries with one id";
	*ids = reader.ids;
	return reader.fault;
}

} // namespace

// Published through a link with -u: each run's feeds hold the ports added,
// updated and removed since the generation before, newest first, with ids
// that do not change; a run where nothing changed leaves them untouched,
// and a failed run changes nothing.
TEST_F(Maintainers, FeedsAcrossRuns)
{
	auto line = [](const std::string &dir, const std::string &version,
			const std::string &who) {
		return index_line("misc", dir, dir + "-" + version, who);
	};
	// zed's port never changes.
	const std::string zed = line("p3", "1.0", "zed@example.org");
	index = line("p0", "1.0", "joe@example.org") +
	    line("p1", "1.0", "ann@example.org") + zed;
	put_tree({"misc"}, {"p0", "p1", "p2", "p3"});
	d.mkdir("site.first");
	fs::create_directory_symlink("site.first", d / "site");
	const std::vector<std::string> args = {
	    "-q", "-o", d / "site", "-u", "https://ports.example.org/"};
	auto feed_ids = [&](const std::string &rel) {
		std::vector<std::string> ids;
		std::string fault = atom_fault(d.get("site/" + rel), &ids);
		EXPECT_EQ(fault, "") << rel;
		for (auto &id : ids) // the day of the run is left out
			id = id.substr(0, id.find(',') + 1) +
			    id.substr(id.find(':', id.find(',')));
		return ids;
	};
	using ids = std::vector<std::string>;

	Result r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(feed_ids("feed.atom"), ids{});

	index = line("p0", "1.1", "joe@example.org") +
	    line("p1", "1.0", "ann@example.org") +
	    line("p2", "1.0", "Joe@Example.org") + zed;
	d.put("ports/INDEX-15", index);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	const ids second = {"tag:ports.example.org,:misc/p0/1.1",
	    "tag:ports.example.org,:misc/p2/1.0"};
	EXPECT_EQ(feed_ids("feed.atom"), second);
	EXPECT_EQ(feed_ids("misc/feed.atom"), second);
	EXPECT_EQ(feed_ids("maintainer/joe@example.org/feed.atom"), second);
	EXPECT_EQ(feed_ids("maintainer/ann@example.org/feed.atom"), ids{});
	EXPECT_NE(d.get("site/feed.atom").find(
		      "<title>misc/p0 updated from 1.0 to 1.1</title>"),
	    std::string::npos);

	index = line("p0", "1.1", "joe@example.org") +
	    line("p2", "1.0", "Joe@Example.org") + zed;
	d.put("ports/INDEX-15", index);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	ids third = {"tag:ports.example.org,:misc/p1/1.0/removed"};
	third.insert(third.end(), second.begin(), second.end());
	EXPECT_EQ(feed_ids("feed.atom"), third);
	EXPECT_EQ(feed_ids("maintainer/zed@example.org/feed.atom"), ids{});
	const std::string published = d.get("site/feed.atom");

	// Nothing changed: the feeds are not written again, also when the
	// clock has moved on.
	auto before = mtimes_below(d / "site/");
	sleep(1);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(d.get("site/feed.atom"), published);
	auto after = mtimes_below(d / "site/");
	for (const char *feed : {"feed.atom", "misc/feed.atom",
		 "maintainer/joe@example.org/feed.atom",
		 "maintainer/zed@example.org/feed.atom"})
		EXPECT_EQ(after[feed], before[feed]) << feed;

	// A failed run switches nothing: the feed is as it was, and the next
	// run is the first to see the change.
	d.put("ports/INDEX-15", line("p0", "2.0", "joe@example.org") +
		line("p2", "1.0", "Joe@Example.org") + zed);
	d.put("big/README.top", "top\n%%SUBDIR%%end\n");
	d.put("big/README.category", "cat\n%%SUBDIR%%end\n");
	d.put("big/README.port", std::string(6000, 'x') + "\n");
	RunOptions limited;
	limited.fsize_limit = 4096;
	r = run_tool({"-q", "-p", top, "-t", d / "big", "-o", d / "site", "-u",
			 "https://ports.example.org/"},
	    limited);
	EXPECT_NE(r.status, 0);
	EXPECT_EQ(d.get("site/feed.atom"), published);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	ids fifth = {"tag:ports.example.org,:misc/p0/2.0"};
	fifth.insert(fifth.end(), third.begin(), third.end());
	EXPECT_EQ(feed_ids("feed.atom"), fifth);

	// MOVED and UPDATING: the record of the run before knew none of
	// them, so this run only records what they hold.
	d.put("ports/MOVED", "# moves\nmisc/old|misc/p0|2026-11-01|Renamed\n");
	const std::string old_note =
	    "20261101:\n  AFFECTS: users of misc/p0\n\n  Old news.\n\n";
	d.put("ports/UPDATING", old_note);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(feed_ids("feed.atom"), fifth);

	// A new move to a listed port, a removal, a new note: entries of the
	// whole feed, the moves also of their old category's.
	d.put("ports/MOVED", "# moves\nmisc/old|misc/p0|2026-11-01|Renamed\n"
			     "misc/gone||2026-12-01|Abandoned by J\xc3\xbcrgen\n"
			     "misc/p9|misc/p2|2026-12-02|\n");
	d.put("ports/UPDATING",
	    "20261205:\n  AFFECTS: users of misc/p2\n  AUTHOR: joe@example.org\n"
	    "\n  Do <this> & that, caf\xc3\xa9\"\"\n\tthen this.\n\n" +
		old_note);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	ids sixth = feed_ids("feed.atom");
	ASSERT_EQ(sixth.size(), fifth.size() + 3);
	EXPECT_EQ(sixth[0], "tag:ports.example.org,:moved/misc/p9");
	EXPECT_EQ(sixth[1], "tag:ports.example.org,:moved/misc/gone");
	EXPECT_EQ(sixth[2].substr(0, 41),
	    "tag:ports.example.org,:updating/20261205-");
	EXPECT_EQ(sixth[2].size(), 49u) << sixth[2];
	EXPECT_EQ(ids(sixth.begin() + 3, sixth.end()), fifth);
	ids misc = {sixth[0], sixth[1]};
	misc.insert(misc.end(), fifth.begin(), fifth.end());
	EXPECT_EQ(feed_ids("misc/feed.atom"), misc);
	EXPECT_EQ(feed_ids("maintainer/joe@example.org/feed.atom")[0],
	    "tag:ports.example.org,:misc/p0/2.0");
	const std::string feed = d.get("site/feed.atom");
	for (const char *part :
	    {"<title>misc/p9 moved to misc/p2</title>\n<updated>",
		"</updated>\n<link "
		"href=\"https://ports.example.org/misc/p2/README.html\"/>\n"
		"<content type=\"text\">2026-12-02</content>",
		"<title>misc/gone removed</title>",
		"<content type=\"text\">2026-12-01: Abandoned by J\xc3\xbcrgen</content>",
		"<title>20261205: users of misc/p2</title>",
		"<content type=\"text\">  Do &lt;this&gt; &amp; that, caf\xc3\xa9&quot;&quot;\n\tthen "
		"this.</content>"})
		EXPECT_NE(feed.find(part), std::string::npos) << part;

	// Once more unchanged: the notes' text read back from the record
	// gives the same bytes, and nothing is written.
	before = mtimes_below(d / "site/");
	sleep(1);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(d.get("site/feed.atom"), feed);
	after = mtimes_below(d / "site/");
	for (const char *file : {"feed.atom", "misc/feed.atom"})
		EXPECT_EQ(after[file], before[file]) << file;

	// Ports whose lines leave the INDEX in the run that sees them moved:
	// one entry each, the move's, none of their maintainer's. p2 leaves
	// no Makefile, so the page left where it was is made and linked; p0's
	// Makefile stands, so no such page: the new port's page is linked.
	d.put("tpl/README.moved", "moved [%%MOVED_FROM%%] [%%MOVED_TO%%]\n");
	d.put("ports/misc/p0/Makefile", "PORTNAME=\tp0\n");
	d.put("ports/MOVED", d.get("ports/MOVED") +
	    "misc/p2|misc/p3|2026-12-06|Merged\n"
	    "misc/p0|misc/p3|2026-12-07|Merged too\n");
	d.put("ports/INDEX-15", zed);
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	ids seventh = {"tag:ports.example.org,:moved/misc/p0",
	    "tag:ports.example.org,:moved/misc/p2"};
	seventh.insert(seventh.end(), sixth.begin(), sixth.end());
	EXPECT_EQ(feed_ids("feed.atom"), seventh);
	EXPECT_EQ(feed_ids("misc/feed.atom")[1], seventh[1]);
	EXPECT_EQ(feed_ids("maintainer/joe@example.org/feed.atom")[0],
	    "tag:ports.example.org,:misc/p0/2.0");
	const std::string moved = d.get("site/feed.atom");
	for (const char *part :
	    {"<title>misc/p0 moved to misc/p3</title>\n<updated>",
		"</updated>\n<link "
		"href=\"https://ports.example.org/misc/p3/README.html\"/>\n"
		"<content type=\"text\">2026-12-07: Merged too</content>",
		"<title>misc/p2 moved to misc/p3</title>\n<updated>",
		"</updated>\n<link "
		"href=\"https://ports.example.org/misc/p2/README.html\"/>\n"
		"<content type=\"text\">2026-12-06: Merged</content>"})
		EXPECT_NE(moved.find(part), std::string::npos) << part;
	EXPECT_EQ(d.get("site/misc/p2/README.html").rfind("moved [misc/p2]", 0),
	    0u);
	EXPECT_EQ(d.get("site/misc/p0/README.html").rfind("moved", 0),
	    std::string::npos);
	// The record keeps which page each links, and so do the feeds where
	// the record is gone.
	before = mtimes_below(d / "site/");
	r = run(args);
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(d.get("site/feed.atom"), moved);
	EXPECT_EQ(mtimes_below(d / "site/")["feed.atom"], before["feed.atom"]);
	fs::remove(d / "site/.quillmark-feed");
	r = run(args);
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(r.err.find("not a whole record of the feeds (missing): the "
			     "feeds keep their " +
		      std::to_string(seventh.size()) + " entries"),
	    std::string::npos)
	    << r.err;
	// (Runs of one second are one run to the feeds read back: only the
	// order within a second may differ.)
	ids read_back = feed_ids("feed.atom");
	EXPECT_EQ(ids(read_back.begin(), read_back.begin() + 2),
	    ids(seventh.begin(), seventh.begin() + 2));
	std::sort(read_back.begin(), read_back.end());
	std::sort(seventh.begin(), seventh.end());
	EXPECT_EQ(read_back, seventh);
	for (const char *link : {"misc/p3/README.html\"/>\n<content type=\"text\">"
				 "2026-12-07: Merged too<",
		 "misc/p2/README.html\"/>\n<content type=\"text\">2026-12-06: "
		 "Merged<"})
		EXPECT_NE(d.get("site/feed.atom").find(link), std::string::npos)
		    << link;

	// A README.moved that cannot be read, first looked for by the feeds:
	// said once, and the run that needs it switches nothing.
	const std::string published_feed = d.get("site/feed.atom");
	fs::remove(d / "tpl/README.moved");
	d.mkdir("tpl/README.moved");
	d.put("ports/MOVED", d.get("ports/MOVED") + "misc/p3||2026-12-08|Gone\n");
	d.put("ports/INDEX-15", "");
	r = run(args);
	EXPECT_NE(r.status, 0);
	EXPECT_EQ(r.err.find("README.moved"), r.err.rfind("README.moved")) << r.err;
	EXPECT_NE(r.err.find("README.moved"), std::string::npos) << r.err;
	EXPECT_EQ(d.get("site/feed.atom"), published_feed);
}

// The top, category and maintainer pages link their own feed, in the head
// and in the page, only where the feed is there: with -u through a link,
// and on a category's page made by a run for some pathnames where the
// published generation has the category's feed. Nothing in place, with -o
// to a directory, without -u, or before the first whole run: then the pages
// are those of templates without the placeholders, byte for byte.
TEST_F(Maintainers, FeedsLinkedWhereTheyAreWritten)
{
	index = index_line("misc", "p0", "p0-1.0", "Joe <joe@example.org>") +
	    index_line("misc", "p1", "p1-1.0", "ann@example.org");
	put_tree({"misc"}, {"p0", "p1"});
	const std::string with = "%%FEED_ALTERNATE%%[%%SUBDIR%%]%%FEED_LINK%%end\n";
	const std::string without = "[%%SUBDIR%%]end\n";
	auto use = [&](const std::string &tmpl) {
		d.put("tpl/README.top", "top\n" + tmpl + "%%MAINTAINERS_LINK%%");
		d.put("tpl/README.category", "cat\n" + tmpl);
		d.put("tpl/README.maintainer",
		    tmpl == with
			? "m\n%%FEED_ALTERNATE%%%%MAINTAINER%%%%FEED_LINK%%end\n"
			: "m\n%%MAINTAINER%%end\n");
	};
	use(without);
	d.mkdir("plain");
	ASSERT_EQ(run({"-q", "-o", d / "plain", "-u", "https://x.example/"}).status, 0);
	const std::string top_page = d.get("plain/README.html");
	const std::string misc_page = d.get("plain/misc/README.html");
	const std::string joe = "maintainer/joe_20_3cjoe@example.org_3e/README.html";
	ASSERT_TRUE(d.exists("plain/" + joe));

	use(with);
	d.mkdir("site.first");
	fs::create_directory_symlink("site.first", d / "site");
	const std::vector<std::string> publish = {
	    "-q", "-o", d / "site", "-u", "https://x.example/"};
	std::vector<std::string> some = publish;
	some.push_back(top + "/misc");
	// Before any whole run the published generation has no feed.
	ASSERT_EQ(run(some).status, 0);
	EXPECT_EQ(d.get("site/misc/README.html"), misc_page);
	for (const auto &args :
	    {std::vector<std::string>{"-q", "-o", d / "plain"},
		std::vector<std::string>{"-q", "-o", d / "plain", "-u",
		    "https://x.example/"}}) {
		ASSERT_EQ(run(args).status, 0);
		EXPECT_EQ(d.get("plain/README.html"), top_page);
		EXPECT_EQ(d.get("plain/misc/README.html"), misc_page);
		EXPECT_FALSE(d.exists("plain/feed.atom"));
	}
	ASSERT_EQ(run({"-q"}).status, 0);
	EXPECT_EQ(d.get("ports/README.html"),
	    top_page.substr(0, top_page.find("end\n") + 4));

	ASSERT_EQ(run(publish).status, 0);
	const std::string head = "<link rel=\"alternate\" "
				 "type=\"application/atom+xml\" title=\"FreeBSD "
				 "ports: changes";
	const std::string tail =
	    "\" href=\"feed.atom\">\n";
	const std::string link = "<p class=\"feed\"><a href=\"feed.atom\" "
				 "type=\"application/atom+xml\">Changes to ";
	EXPECT_EQ(d.get("site/README.html"),
	    "top\n" + head + tail + top_page.substr(4, top_page.find("end\n") - 4) +
		link + "the collection</a> (Atom feed)</p>\nend\n" +
		top_page.substr(top_page.find("end\n") + 4));
	const std::string misc = head + " in misc" + tail +
	    misc_page.substr(4, misc_page.find("end\n") - 4) + link +
	    "this category</a> (Atom feed)</p>\nend\n";
	EXPECT_EQ(d.get("site/misc/README.html"), "cat\n" + misc);
	EXPECT_EQ(d.get("site/" + joe),
	    "m\n" + head + " of Joe &lt;joe@example.org&gt;" + tail +
		"Joe &lt;joe@example.org&gt;" + link +
		"these ports</a> (Atom feed)</p>\nend\n");
	for (const char *feed : {"feed.atom", "misc/feed.atom",
		 "maintainer/joe_20_3cjoe@example.org_3e/feed.atom"})
		EXPECT_TRUE(d.exists(std::string("site/") + feed)) << feed;
	// A run for the category alone: its feed is kept, and linked.
	ASSERT_EQ(run(some).status, 0);
	EXPECT_EQ(d.get("site/misc/README.html"), "cat\n" + misc);
	EXPECT_TRUE(d.exists("site/misc/feed.atom"));
}

// Runs on days of their own: an entry keeps the id and time of the day that
// first saw it. A feed record that is not whole (junk, empty, a FIFO, a
// symbolic link, gone, cut anywhere, altered by a byte) is named at every
// verbosity, no entry is made from it, the run still publishes (status 0),
// and the feeds keep their entries: read back from them, with their days,
// into a record that is whole again. A record of the format before is read
// and rewritten in this one.
TEST_F(Maintainers, FeedRecordDamagedOrOldAcrossDays)
{
	auto line = [](const std::string &dir, const std::string &version,
			const std::string &who) {
		return index_line("misc", dir, dir + "-" + version, who);
	};
	const std::string zed = line("p3", "1.0", "zed@example.org");
	index = line("p0", "1.0", "joe@example.org") +
	    line("p1", "1.0", "ann@example.org") + zed;
	put_tree({"misc"}, {"p0", "p1", "p3"});
	d.mkdir("site.first");
	fs::create_directory_symlink("site.first", d / "site");
	const long long day = 86400, first = 1772798400; // 2026-03-06 12:00Z
	auto run_on = [&](long long when, const std::string &quiet = "-q") {
		RunOptions o;
		o.binary = testing_binary_path();
		o.env.push_back("QUILLMARK_TEST_NOW=" + std::to_string(when));
		return run_tool({quiet, "-p", top, "-t", d / "tpl", "-o",
				    d / "site", "-u", "https://ports.example.org/"},
		    o);
	};
	auto ids_of = [&](const std::string &rel) {
		std::vector<std::string> ids;
		EXPECT_EQ(atom_fault(d.get("site/" + rel), &ids), "") << rel;
		return ids;
	};
	using ids = std::vector<std::string>;
	ASSERT_EQ(run_on(first).status, 0);
	d.put("ports/INDEX-15", index = line("p0", "1.1", "joe@example.org") +
		    line("p1", "1.0", "ann@example.org") + zed);
	ASSERT_EQ(run_on(first + day).status, 0);
	d.put("ports/INDEX-15", index = line("p0", "1.1", "joe@example.org") +
		    line("p1", "2.0", "ann@example.org") + zed);
	Result r = run_on(first + 2 * day);
	ASSERT_EQ(r.status, 0) << r.err;
	const ids two = {"tag:ports.example.org,2026-03-08:misc/p1/2.0",
	    "tag:ports.example.org,2026-03-07:misc/p0/1.1"};
	EXPECT_EQ(ids_of("feed.atom"), two);
	EXPECT_NE(d.get("site/feed.atom").find("<title>misc/p0 updated from 1.0 "
					       "to 1.1</title>\n<updated>"
					       "2026-03-07T12:00:00Z</updated>"),
	    std::string::npos);
	const std::vector<std::string> feeds = {"feed.atom", "misc/feed.atom",
	    "maintainer/joe@example.org/feed.atom",
	    "maintainer/ann@example.org/feed.atom",
	    "maintainer/zed@example.org/feed.atom"};
	std::map<std::string, std::string> published;
	for (const auto &f : feeds)
		published[f] = d.get("site/" + f);
	const std::string record = d.get("site/.quillmark-feed");
	ASSERT_EQ(record.substr(0, 28), "quillmark-feed 2 1772798400\n");
	const std::size_t size = record.size();

	struct damage {
		std::string what, why;
	};
	std::vector<damage> damages = {{"junk", "cut short or altered"},
	    {"empty", "cut short or altered"}, {"fifo", "not a regular file"},
	    {"symlink", "not a regular file"}, {"gone", "missing"},
	    {"byte", "cut short or altered"}};
	for (std::size_t cut : {std::size_t{1}, std::size_t{28}, size / 2,
		 record.find("\nE\t") + 1, record.rfind("end "), size - 1})
		damages.push_back({"cut " + std::to_string(cut),
		    "cut short or altered"});
	long long when = first + 3 * day;
	int changes = 0;
	for (const auto &[what, why] : damages) {
		SCOPED_TRACE(what);
		std::string path = fs::read_symlink(d / "site");
		std::string file = d / (path + "/.quillmark-feed");
		fs::remove(file);
		if (what == "fifo")
			ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
		else if (what == "symlink")
			fs::create_symlink(d / "ports/INDEX-15", file);
		else if (what != "gone") {
			std::string text = what == "junk" ? std::string(size, 'j')
			    : what == "empty"		   ? std::string()
			    : what == "byte" ? std::string(record).replace(
						   record.find("\t1.1\t"), 5, "\t1.2\t")
					     : record.substr(0, std::stoul(what.substr(4)));
			write_file(file, text);
		}
		// A change on the day of the damage: not announced.
		d.put("ports/INDEX-15", index = line("p0", "1.1", "joe@example.org") +
			    line("p1", "2.0", "ann@example.org") +
			    line("p3", ++changes % 2 ? "1.1" : "1.2", "zed@example.org"));
		r = run_on(when += day);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, file +
			": not a whole record of the feeds (" + why +
			"): the feeds keep their 2 entries, and this run adds "
			"none\n");
		EXPECT_NE(fs::read_symlink(d / "site").string(), path);
		for (const auto &f : feeds)
			EXPECT_EQ(d.get("site/" + f), published[f]) << f;
		// Whole again: the next run compares with it, and finds
		// nothing. It writes into the generation that held the damaged
		// record: a FIFO or a symbolic link there is the run's to
		// replace, not to write through nor to stop at.
		r = run_on(when);
		EXPECT_EQ(r.status, 0);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(ids_of("feed.atom"), two);
		EXPECT_EQ(d.get("ports/INDEX-15"), index);
	}

	// The format before: read without a word, and rewritten in this one.
	std::string path = fs::read_symlink(d / "site");
	std::string v1 = d.get("site/.quillmark-feed");
	v1 = "quillmark-feed 1" + v1.substr(16, v1.rfind("end ") - 16);
	write_file(d / (path + "/.quillmark-feed"), v1);
	d.put("ports/INDEX-15", index = line("p0", "1.1", "joe@example.org") +
		    line("p1", "2.0", "ann@example.org") + line("p3", "2.0", "zed@example.org"));
	r = run_on(when += day, "-v");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err.find("record of the feeds"), std::string::npos) << r.err;
	ids three = {"tag:ports.example.org,2026-03-" + std::to_string(8 + damages.size() + 2) +
	    ":misc/p3/2.0"};
	three.insert(three.end(), two.begin(), two.end());
	EXPECT_EQ(ids_of("feed.atom"), three);
	EXPECT_EQ(ids_of("maintainer/zed@example.org/feed.atom"), ids(three.begin(), three.begin() + 1));
	EXPECT_EQ(d.get("site/.quillmark-feed").substr(0, 28),
	    "quillmark-feed 2 1772798400\n");
}
