// -o: pages below an output root, published through a link, one run at a
// time.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <thread>

#include "harness.h"

namespace fs = std::filesystem;
using namespace qmtest;

namespace {

// Every regular file below root by its relative path, with its bytes (the
// generation marker left out).
std::map<std::string, std::string>
files_below(const std::string &root)
{
	std::map<std::string, std::string> files;
	for (auto &e : fs::recursive_directory_iterator(root)) {
		std::string rel = fs::relative(e.path(), root).string();
		if (e.is_regular_file() && rel != ".quillmark-generation")
			files[rel] = read_file(e.path().string());
	}
	return files;
}

// Size and modification time of each file below root.
std::map<std::string, std::pair<off_t, long long>>
stamps_below(const std::string &root)
{
	std::map<std::string, std::pair<off_t, long long>> stamps;
	for (auto &e : fs::recursive_directory_iterator(root)) {
		struct stat st;
		if (e.is_regular_file() && stat(e.path().c_str(), &st) == 0)
			stamps[fs::relative(e.path(), root).string()] = {st.st_size,
			    st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
	}
	return stamps;
}

// A small tree and two template sets below dir, all of it readable by
// everyone and, when run as root, owned by uid 65534 so that the runs can
// go as that user (who takes no real-time priority, so a reader beside
// the tool is not starved).
struct Site {
	TempDir dir;
	RunOptions opt;
	Site()
	{
		put_small_tree(dir, "tree");
		put_simple_templates(dir, "a");
		put_simple_templates(dir, "b");
		// The sets differ in their port pages only.
		dir.put("b/README.port", "port B [%%PKG%%] [%%COMMENT%%]\n");
		chmod(dir.path().c_str(), 0755);
		opt.as_nobody = running_as_root();
		if (opt.as_nobody) {
			for (auto &e : fs::recursive_directory_iterator(dir.path()))
				(void)lchown(e.path().c_str(), 65534, 65534);
		}
		(void)chown(dir.path().c_str(), 65534, 65534);
	}
	// A quiet run, or with "-v" first in more a verbose one.
	Result run(const std::string &set, const std::string &out,
	    std::vector<std::string> more = {}) const
	{
		bool verbose = !more.empty() && more[0] == "-v";
		if (verbose)
			more.erase(more.begin());
		std::vector<std::string> args = {verbose ? "-v" : "-q", "-p",
		    dir / "tree", "-t", dir / set, "-o", dir / out};
		args.insert(args.end(), more.begin(), more.end());
		return run_tool(args, opt);
	}
	// A run whose port pages exceed a file size limit (standing in for a
	// full disk), while its top and category pages are written.
	Result run_failing(const std::string &out) const
	{
		dir.put("big/README.top", "top\n%%SUBDIR%%end\n");
		dir.put("big/README.category", "cat\n%%SUBDIR%%end\n");
		dir.put("big/README.port", std::string(6000, 'x') + "%%PKG%%\n");
		for (auto &e : fs::recursive_directory_iterator(dir / "big"))
			(void)lchown(e.path().c_str(), 65534, 65534);
		RunOptions limited = opt;
		limited.fsize_limit = 4096;
		return run_tool({"-q", "-p", dir / "tree", "-t", dir / "big",
				    "-o", dir / out},
		    limited);
	}
	std::string target(const std::string &link) const
	{
		return fs::read_symlink(dir / link).string();
	}
	// The shipped templates, copied to dir/shipped (a run as another
	// user may not reach the checkout): pages, stylesheet, script,
	// search data and maintainer pages.
	void put_shipped() const
	{
		fs::copy(source_dir() + "/Templates", dir / "shipped");
		for (auto &e : fs::recursive_directory_iterator(dir / "shipped"))
			(void)lchown(e.path().c_str(), 65534, 65534);
		(void)lchown((dir / "shipped").c_str(), 65534, 65534);
	}
	// The directory below dir that holds a site, writable by the runs.
	void mkdir_site(const std::string &rel) const
	{
		dir.mkdir(rel);
		(void)lchown((dir / rel).c_str(), 65534, 65534);
	}
};

// The relative links of the pages below root that lead to no file there.
std::vector<std::string>
broken_links(const std::string &root)
{
	std::vector<std::string> broken;
	for (auto &[rel, text] : files_below(root)) {
		if (!rel.ends_with(".html"))
			continue;
		fs::path from = fs::path(rel).parent_path();
		for (std::size_t at = text.find("href=\"");
		     at != std::string::npos; at = text.find("href=\"", at + 1)) {
			std::size_t start = at + 6;
			std::string link =
			    text.substr(start, text.find_first_of("\"#?", start) - start);
			if (link.empty() || link.find(':') != std::string::npos ||
			    link[0] == '/')
				continue;
			if (!fs::exists(fs::path(root) / from / link))
				broken.push_back(rel + " -> " + link);
		}
	}
	return broken;
}

#ifdef F_SETPIPE_SZ
// A run held up writing its progress lines into a pipe of one page that
// nobody reads until drain(): it names misc/foo so often that its lines
// fill the pipe twice, and holds its lock meanwhile.
struct HeldRun {
	static constexpr std::string_view line =
	    "Making README.html for port misc/foo\n";
	int reader = -1;
	int requests = 0;
	std::atomic<bool> finished{false};
	Result result;
	std::thread writer;

	// Starts the tool with args (and as opt says) on the FIFO made at
	// fifo; true when the run is held with a full pipe.
	bool start(const std::string &fifo, std::vector<std::string> args,
	    RunOptions opt)
	{
		if (mkfifo(fifo.c_str(), 0666) != 0)
			return false;
		reader = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
		const int capacity =
		    reader < 0 ? -1 : fcntl(reader, F_SETPIPE_SZ, 4096);
		if (capacity <= 0)
			return false;
		requests = 2 * capacity / static_cast<int>(line.size());
		for (int i = 0; i < requests; i++)
			args.push_back("misc/foo");
		opt.out_path = fifo;
		writer = std::thread([this, args, opt] {
			result = run_tool(args, opt);
			finished = true;
		});
		// As long as it takes (the harness ends a hung run after a
		// minute).
		int queued = 0;
		for (int i = 0; i < 6000 && !finished &&
		     ioctl(reader, FIONREAD, &queued) == 0 &&
		     queued + static_cast<int>(line.size()) <= capacity;
		     i++)
			usleep(10000);
		return !finished;
	}
	// Reads the pipe until the run has ended: its progress lines.
	std::string drain()
	{
		std::string progress;
		char piece[4096];
		for (;;) {
			bool done = finished;
			ssize_t n;
			while ((n = read(reader, piece, sizeof piece)) > 0)
				progress.append(piece, static_cast<std::size_t>(n));
			if (done)
				break;
			usleep(1000);
		}
		writer.join();
		return progress;
	}
	// The lines of a run that made every page asked for.
	std::string expected() const
	{
		std::string lines;
		for (int i = 0; i < requests; i++)
			lines += line;
		return lines;
	}
	~HeldRun()
	{
		if (writer.joinable())
			(void)drain();
		if (reader >= 0)
			close(reader);
	}
};
#endif

} // namespace

// A tree that its user cannot write, owned by root, published by another
// user: the pages below OUT are the in-place run's, and the tree is left
// as it was.
TEST(Publish, ReadOnlyTreeOwnedByAnother)
{
	if (!running_as_root())
		GTEST_SKIP() << "needs root to own the tree and switch users";
	TempDir dir;
	put_small_tree(dir, "tree");
	put_simple_templates(dir, "tpl");
	dir.mkdir("out");
	chmod(dir.path().c_str(), 0755);
	chown((dir / "out").c_str(), 65534, 65534);
	auto before = files_below(dir / "tree");
	for (auto &e : fs::recursive_directory_iterator(dir / "tree"))
		chmod(e.path().c_str(), e.is_directory() ? 0555 : 0444);
	chmod((dir / "tree").c_str(), 0555);
	RunOptions nobody;
	nobody.as_nobody = true;
	Result r = run_tool({"-p", dir / "tree", "-t", dir / "tpl", "-o",
			       dir / "out/site"},
	    nobody);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(files_below(dir / "tree"), before);

	chmod((dir / "tree").c_str(), 0755);
	for (auto &e : fs::recursive_directory_iterator(dir / "tree"))
		chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
	Result in_place = run_tool({"-p", dir / "tree", "-t", dir / "tpl"});
	ASSERT_EQ(in_place.status, 0) << in_place.err;
	// The progress lines name where the pages go.
	auto progress = [](const std::string &where) {
		return "Making top-level README.html in " + where +
		    " (2 categories)\n"
		    "Making README.html for category archivers (1 ports)\n"
		    "Making README.html for category misc (2 ports)\n";
	};
	EXPECT_EQ(in_place.out, progress(dir / "tree"));
	EXPECT_EQ(r.out, progress(dir / "out/site"));
	std::map<std::string, std::string> pages;
	for (auto &[rel, text] : files_below(dir / "tree")) {
		if (rel.ends_with("README.html"))
			pages[rel] = text;
	}
	EXPECT_EQ(pages.size(), 6u);
	EXPECT_EQ(files_below(dir / "out/site"), pages);

	// Published through a link in a directory that user may not write:
	// nothing is written, and the message says what the run needs.
	dir.mkdir("www");
	chmod((dir / "www").c_str(), 0755);
	ASSERT_EQ(symlink((dir / "out/site").c_str(),
		      (dir / "www/ports").c_str()), 0);
	r = run_tool({"-q", "-p", dir / "tree", "-t", dir / "tpl", "-o",
			 dir / "www/ports"},
	    nobody);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, dir / "www/ports.unpublished: " +
	    std::strerror(EACCES) + "\n" + dir / "www" +
	    ": publishing through the link " + dir / "www/ports" +
	    " makes the next generation here: this directory must be "
	    "writable by the user running quillmark\n");
	EXPECT_EQ(files_below(dir / "out/site"), pages);

	// So does a switch that the directory refuses, once generations
	// made while it was writable stand beside the link.
	// The link is named, not the generation the pages go into.
	chmod((dir / "www").c_str(), 0777);
	for (int i = 0; i < 2; i++) {
		r = run_tool({"-p", dir / "tree", "-t", dir / "tpl", "-o",
				 dir / "www/ports"},
		    nobody);
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.out, progress(dir / "www/ports"));
	}
	chmod((dir / "www").c_str(), 0755);
	std::string linked = fs::read_symlink(dir / "www/ports").string();
	r = run_tool({"-q", "-p", dir / "tree", "-t", dir / "tpl", "-o",
			 dir / "www/ports"},
	    nobody);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, dir / "www/ports: not switched: " +
	    std::strerror(EACCES) + "\n" + dir / "www" +
	    ": publishing through the link " + dir / "www/ports" +
	    " makes the next generation here: this directory must be "
	    "writable by the user running quillmark\n");
	EXPECT_EQ(fs::read_symlink(dir / "www/ports").string(), linked);
}

// Pathname arguments name the tree's directories; their pages, and only
// theirs, go below OUT, where the refusals of the tree hold too.
TEST(Publish, PathnamesBelowOutput)
{
	Site s;
	Result r = s.run("a", "out", {"misc/foo", "archivers"});
	EXPECT_EQ(r.status, 0) << r.err;
	auto out = files_below(s.dir / "out");
	EXPECT_EQ(out.size(), 3u);
	EXPECT_TRUE(out.count("misc/foo/README.html"));
	EXPECT_TRUE(out.count("archivers/zip/README.html"));
	EXPECT_FALSE(s.dir.exists("tree/misc/foo/README.html"));

	fs::remove(s.dir / "out/misc/foo/README.html");
	fs::create_symlink(s.dir / "elsewhere", s.dir / "out/misc/foo/README.html");
	r = s.run("b", "out", {"misc/foo"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, s.dir / "out/misc/foo/README.html" +
		": not written: it is a symbolic link\n");
	EXPECT_FALSE(s.dir.exists("elsewhere"));
}

// Twenty runs through a link, alternating two template sets, while a
// reader reads pages through it: every read is a whole page of one set,
// after each run the site is wholly that run's set, and the pages that
// no set changes keep their size and modification time.
TEST(Publish, LinkSwitchesWholeSites)
{
	Site s;
	ASSERT_EQ(s.run("a", "ref-a").status, 0);
	ASSERT_EQ(s.run("b", "ref-b").status, 0);
	auto ref_a = files_below(s.dir / "ref-a");
	auto ref_b = files_below(s.dir / "ref-b");
	ASSERT_NE(ref_a, ref_b);
	ASSERT_EQ(s.run("a", "first").status, 0);
	fs::create_directory_symlink("first", s.dir / "site");

	const std::vector<std::string> watched = {"README.html",
	    "misc/README.html", "misc/foo/README.html", "archivers/zip/README.html"};
	std::atomic<bool> done{false};
	std::atomic<int> reads{0}, torn{0};
	std::thread reader([&] {
		while (!done) {
			for (auto &rel : watched) {
				std::string got = read_file(s.dir / "site/" + rel);
				if (got != ref_a[rel] && got != ref_b[rel])
					torn++;
				reads++;
			}
		}
	});
	std::map<std::string, std::pair<off_t, long long>> unchanged, changed;
	for (int i = 0; i < 20; i++) {
		bool b = i % 2 == 0;
		Result r = s.run(b ? "b" : "a", "site");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(files_below(s.dir / "site/"), b ? ref_b : ref_a) << i;
		auto stamps = stamps_below(s.dir / "site/");
		stamps.erase(".quillmark-generation");
		// A changed page is never older than the one it replaces.
		for (auto &[rel, text] : ref_a) {
			if (ref_b[rel] == text)
				continue;
			EXPECT_GE(stamps[rel].second, changed[rel].second) << rel;
			changed[rel] = stamps[rel];
			stamps.erase(rel);
		}
		if (i > 0) {
			EXPECT_EQ(stamps, unchanged) << i;
		}
		unchanged = stamps;
	}
	done = true;
	reader.join();
	EXPECT_EQ(torn, 0) << "of " << reads << " reads";
	EXPECT_EQ(unchanged.size(), 3u);
	// The current generation, the one before, and the first, which this
	// tool did not make.
	int dirs = 0;
	for (auto &e : fs::directory_iterator(s.dir.path()))
		dirs += e.path().filename().string().starts_with("site.");
	EXPECT_EQ(dirs, 2);
	EXPECT_TRUE(s.dir.exists("first/README.html"));
	EXPECT_TRUE(s.target("site").starts_with("site.2"));
}

// What the generations' markers spare a run holds to the pages: a page
// changed in one run keeps that run's time through the unchanged runs that
// follow; a port gone from the INDEX keeps the current generation's page;
// a marker cut short leaves the run to compare the pages as before.
TEST(Publish, MarkersKeepPagesExact)
{
	Site s;
	ASSERT_EQ(s.run("a", "ref-a").status, 0);
	ASSERT_EQ(s.run("b", "ref-b").status, 0);
	auto ref_a = files_below(s.dir / "ref-a");
	auto ref_b = files_below(s.dir / "ref-b");
	ASSERT_EQ(s.run("a", "first").status, 0);
	fs::create_directory_symlink("first", s.dir / "site");
	auto run = [&](const char *set) {
		Result r = s.run(set, "site");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(files_below(s.dir / "site/").size(), 6u);
		auto stamps = stamps_below(s.dir / "site/");
		stamps.erase(".quillmark-generation");
		return stamps;
	};
	(void)run("a");
	(void)run("a");
	auto changed = run("b");
	EXPECT_EQ(run("b"), changed);
	EXPECT_EQ(run("b"), changed);
	EXPECT_EQ(files_below(s.dir / "site/"), ref_b);
	// A failed run has changed the spare generation: not as its marker
	// described it any more.
	EXPECT_EQ(s.run_failing("site").status, 3);
	EXPECT_EQ(run("b"), changed);

	const std::string zip = "archivers/zip/README.html";
	auto stamps = run("a");
	std::string index = read_file(s.dir / "tree/INDEX-15");
	s.dir.put("tree/INDEX-15", index.substr(index.find('\n') + 1));
	auto dropped = run("b");
	EXPECT_EQ(read_file(s.dir / "site/" + zip), ref_a[zip]);
	EXPECT_EQ(dropped[zip], stamps[zip]);

	// The spare generation's pages an hour old: a run that took the cut
	// list for the whole would keep that time for the pages it lacks.
	std::string marker = read_file(s.dir / "site/.quillmark-generation");
	write_file(s.dir / "site/.quillmark-generation",
	    marker.substr(0, marker.find("README.html\n") + 12));
	std::string spare;
	for (auto &e : fs::directory_iterator(s.dir.path())) {
		std::string name = e.path().filename().string();
		if (name.starts_with("site.") && name != s.target("site"))
			spare = e.path().string();
	}
	struct timespec old[2] = {{0, UTIME_OMIT}, {time(nullptr) - 3600, 0}};
	for (auto &[rel, text] : ref_a) {
		if (ref_b[rel] != text)
			utimensat(AT_FDCWD, (spare + "/" + rel).c_str(), old, 0);
	}
	auto after = run("a");
	for (auto &[rel, text] : ref_a) {
		if (ref_b[rel] != text && rel != zip) {
			EXPECT_GE(after[rel].second, dropped[rel].second) << rel;
		}
	}
}

// A page that cannot be written (a file size limit standing in for a full
// disk) stops the switch: the link and the generation it points to stay
// as they were. Pages that the run does not make are carried over.
TEST(Publish, FailedWriteSwitchesNothing)
{
	Site s;
	ASSERT_EQ(s.run("a", "first", {"misc"}).status, 0);
	fs::create_directory_symlink("first", s.dir / "site");
	ASSERT_EQ(s.run("a", "site").status, 0);
	std::string current = s.target("site");
	auto files = files_below(s.dir / "site/");
	EXPECT_EQ(files.size(), 6u);
	auto stamps = stamps_below(s.dir / "site/");

	// The spare generation that the failed run began goes again, with
	// all it wrote: the directory holds what it held before the run.
	auto names = [&] {
		std::set<std::string> found;
		for (auto &e : fs::directory_iterator(s.dir.path()))
			found.insert(e.path().filename().string());
		return found;
	};
	const auto before = names();
	const std::string big = std::strerror(EFBIG);
	std::string unwritten;
	for (const char *port : {"archivers/zip", "misc/bar", "misc/foo"})
		unwritten += s.dir / "site.unpublished/" + port +
		    "/README.html: " + big + "\n";
	Result r = s.run_failing("site");
	EXPECT_EQ(r.status, 3) << r.err;
	EXPECT_EQ(r.err, unwritten + s.dir / "site: not switched: 3 pages "
	    "not written; it still points to \"" + current + "\"\n");
	EXPECT_EQ(s.target("site"), current);
	EXPECT_EQ(files_below(s.dir / "site/"), files);
	EXPECT_EQ(stamps_below(s.dir / "site/"), stamps);
	auto after = names();
	after.erase("big"); // the templates of the failing run
	EXPECT_EQ(after, before);
	// A spare generation that was there before stays, for the next run
	// to bring up to date; the message says how to get its space back.
	ASSERT_EQ(s.run("a", "site").status, 0);
	const std::string spare = current;
	current = s.target("site");
	files = files_below(s.dir / "site/");
	r = s.run_failing("site");
	EXPECT_EQ(r.status, 3) << r.err;
	EXPECT_TRUE(r.err.ends_with(s.dir / "site: not switched: 3 pages not "
	    "written; it still points to \"" + current + "\"\n" + s.dir /
	    spare + ": left as it is for the next run; remove it (rm -r) to "
	    "get its space back\n")) << r.err;
	EXPECT_TRUE(s.dir.exists(spare + "/misc/README.html"));
	EXPECT_EQ(s.target("site"), current);
	EXPECT_EQ(files_below(s.dir / "site/"), files);
	ASSERT_EQ(s.run("a", "site").status, 0);
	current = s.target("site");
	files = files_below(s.dir / "site/");

	// Without the memory that publishing keeps its accounts in, nothing
	// is written and nothing switched: the marker's buffer, the list of
	// kept files, the table of the marker's kept paths; and a set of
	// paths that cannot grow while the pages are made stops the switch.
	auto failing_run = [&](int failing) {
		RunOptions o = s.opt;
		o.binary = testing_binary_path();
		o.env.push_back(
		    "QUILLMARK_TEST_FAIL_ALLOC=" + std::to_string(failing));
		return run_tool({"-q", "-p", s.dir / "tree", "-t", s.dir / "b",
				    "-o", s.dir / "site"},
		    o);
	};
	for (auto [failing, size] : {std::pair{1, "8396800"},
		 std::pair{3, "4194304"}, std::pair{4, "4096"}}) {
		r = failing_run(failing);
		EXPECT_EQ(r.status, 255);
		EXPECT_EQ(r.out, "");
		EXPECT_EQ(r.err, s.dir / "site" + ": cannot allocate " + size +
			" bytes: " + std::strerror(ENOMEM) + "\n");
		EXPECT_EQ(s.target("site"), current);
		EXPECT_EQ(files_below(s.dir / "site/"), files);
	}
	// Any allocation of the run that fails stops the switch; three are
	// the sets of the pages made, of the directories the tree lists and
	// of those the walk found, which grow as the run goes. The run past
	// the last allocation switches.
	int grown = 0;
	for (int failing = 5; failing < 100; failing++) {
		r = failing_run(failing);
		if (r.err.find("cannot allocate") == std::string::npos)
			break;
		EXPECT_NE(r.status, 0) << failing << r.err;
		EXPECT_EQ(s.target("site"), current) << failing << r.err;
		if (r.err.find("cannot allocate 8192 bytes") == std::string::npos)
			continue;
		grown++;
		EXPECT_EQ(r.status, 1) << r.err;
		EXPECT_NE(r.err.find("site: not switched"), std::string::npos)
		    << r.err;
	}
	EXPECT_EQ(grown, 3);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(s.target("site"), current);
	ASSERT_EQ(s.run("a", "site").status, 0);
	current = s.target("site");

	// A port missing from the INDEX keeps its page from the last run.
	s.dir.put("tree/INDEX-15", read_file(s.dir / "tree/INDEX-15").substr(
					   read_file(s.dir / "tree/INDEX-15").find('\n') + 1));
	r = s.run("b", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(s.target("site"), current);
	EXPECT_EQ(read_file(s.dir / "site/archivers/zip/README.html"),
	    files["archivers/zip/README.html"]);

	// With pathnames, a page whose close fails (in the tests' own build)
	// stops the switch all the same.
	current = s.target("site");
	files = files_below(s.dir / "site/");
	RunOptions failing = s.opt;
	failing.binary = testing_binary_path();
	failing.env.push_back("QUILLMARK_TEST_FAIL_CLOSE=" +
	    std::to_string(EIO) + ":/misc/foo/README.html");
	r = run_tool({"-q", "-p", s.dir / "tree", "-t", s.dir / "a", "-o",
			 s.dir / "site", "misc/foo", "misc/bar"},
	    failing);
	EXPECT_EQ(r.status, 1) << r.err;
	EXPECT_NE(r.err.find("/misc/foo/README.html: " +
		      std::string(std::strerror(EIO)) + "\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_NE(r.err.find(s.dir / "site: not switched: 1 page not written; "
				     "it still points to \"" + current + "\"\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_EQ(s.target("site"), current);
	EXPECT_EQ(files_below(s.dir / "site/"), files);
}

// A file of the current generation where the run needs a directory, or a
// directory where it writes a page: in the spare generation the run's
// pages win, the file or directory is named and not carried over, and the
// link switches. A directory that the spare generation holds where the
// current one has a file, and that holds none of the run's pages, gives
// way to that file.
TEST(Publish, RunsPagesWinOverWhatStandsInTheirWay)
{
	Site s;
	ASSERT_EQ(s.run("a", "ref").status, 0);
	auto ref = files_below(s.dir / "ref");
	s.dir.put("first/misc", "not a directory\n");
	s.dir.put("first/archivers/zip/README.html/inside", "not a page\n");
	s.dir.put("first/kept", "kept\n");
	for (auto &e : fs::recursive_directory_iterator(s.dir / "first"))
		(void)lchown(e.path().c_str(), 65534, 65534);
	fs::create_directory_symlink("first", s.dir / "site");
	ref["kept"] = "kept\n";

	std::string before = "first";
	for (int i = 0; i < 3; i++) {
		Result r = s.run("a", "site");
		EXPECT_EQ(r.status, 0) << r.err;
		if (i == 0) {
			// The two lines in the order the directory lists them.
			const std::string file = s.dir / "first/misc: not carried "
						  "over: this run writes a directory there\n";
			const std::string dir = s.dir / "first/archivers/zip/"
				"README.html: not carried over: this run writes a page there\n";
			EXPECT_TRUE(r.err == file + dir || r.err == dir + file) << r.err;
		} else {
			EXPECT_EQ(r.err, "");
		}
		EXPECT_NE(s.target("site"), before) << i;
		before = s.target("site");
		EXPECT_EQ(files_below(s.dir / "site/"), ref) << i;
	}
	EXPECT_EQ(read_file(s.dir / "first/misc"), "not a directory\n");

	// The spare generation (made here) with a directory of what no run
	// made where the current one has a file.
	std::string spare;
	for (auto &e : fs::directory_iterator(s.dir.path())) {
		std::string name = e.path().filename().string();
		if (name.starts_with("site.") && name != s.target("site"))
			spare = name;
	}
	ASSERT_NE(spare, "");
	s.dir.put(spare + "/extra/old/page", "old\n");
	s.dir.put(s.target("site") + "/extra", "extra\n");
	for (const char *rel : {"/extra", "/extra/old", "/extra/old/page"})
		(void)lchown((s.dir / spare + rel).c_str(), 65534, 65534);
	(void)lchown((s.dir / s.target("site") + "/extra").c_str(), 65534, 65534);
	ref["extra"] = "extra\n";
	Result r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	EXPECT_NE(s.target("site"), before);
	EXPECT_FALSE(s.dir.exists(spare));
	EXPECT_EQ(files_below(s.dir / "site/"), ref);

	// A directory put where a page of a generation made here stands
	// gives way in the next generation, and in the one after, which is
	// made where it stands.
	const std::string current = s.target("site");
	fs::remove(s.dir / (current + "/misc/foo/README.html"));
	s.dir.put(current + "/misc/foo/README.html/inside", "not a page\n");
	for (const char *rel : {"/misc/foo/README.html",
		 "/misc/foo/README.html/inside"})
		(void)lchown((s.dir / current + rel).c_str(), 65534, 65534);
	for (int i = 0; i < 2; i++) {
		r = s.run("a", "site");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err, i == 0 ? s.dir / current +
				"/misc/foo/README.html: not carried over: this "
				"run writes a page there\n"
					: "");
		EXPECT_EQ(files_below(s.dir / "site/"), ref) << i;
	}
}

// The names that a run writes are its own: the first run through the link
// to a site made plainly (whose stylesheet, script, search data and
// safety pages no marker vouches for), and the first run after the
// generations were copied with cp -a (new change times for every file),
// replace those files without a word, counted at -v.
TEST(Publish, FilesOfTheNamesARunWritesAreItsOwn)
{
	Site s;
	s.put_shipped();
	s.mkdir_site("www");
	ASSERT_EQ(s.run("shipped", "www/ports.first").status, 0);
	fs::create_directory_symlink("ports.first", s.dir / "www/ports");
	Result r = s.run("shipped", "www/ports");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
	const auto site = files_below(s.dir / "www/ports/");
	EXPECT_EQ(files_below(s.dir / "www/ports.first"), site);

	RunOptions cp = s.opt;
	cp.binary = "/bin/cp";
	cp.as_nobody = false;
	ASSERT_EQ(run_tool({"-a", s.dir / "www", s.dir / "moved"}, cp).status, 0);
	const std::string copied = s.target("moved/ports");
	for (const char *verbose : {"", "-v"}) {
		std::vector<std::string> more;
		if (*verbose != '\0')
			more.push_back(verbose);
		r = s.run("shipped", "moved/ports", more);
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err.find("not carried over"), std::string::npos)
		    << r.err;
		EXPECT_EQ(files_below(s.dir / "moved/ports/"), site);
		if (*verbose == '\0') {
			EXPECT_EQ(r.err, "");
			// Back to the copied generation, as it was.
			fs::remove(s.dir / "moved/ports");
			fs::create_directory_symlink(
			    copied, s.dir / "moved/ports");
			continue;
		}
		EXPECT_NE(r.err.find("Replaced " + std::to_string(site.size()) +
			      " files of \"" + s.dir / "moved/" + copied +
			      "\" not marked as quillmark's: this run writes "
			      "files of the same names\n"),
		    std::string::npos)
		    << r.err;
	}
	// A file of another kind where a name of the run goes is named.
	fs::remove(s.dir / "moved/ports/site.css");
	s.dir.mkdir("moved/ports/site.css");
	(void)lchown((s.dir / "moved/ports/site.css").c_str(), 65534, 65534);
	const std::string current = s.dir / "moved/" + s.target("moved/ports");
	r = s.run("shipped", "moved/ports");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, current + "/site.css: not carried over: this run "
				   "writes a page there\n");
	EXPECT_EQ(files_below(s.dir / "moved/ports/"), site);
}

// A second run waits for the one that holds the lock on the directory
// that holds OUT (not made yet), saying so at -v, and writes nothing
// meanwhile; and a run holds the lock of OUT itself until it ends.
TEST(Publish, SecondRunWaits)
{
	Site s;
	int held = open(s.dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	ASSERT_EQ(flock(held, LOCK_EX), 0);
	std::string err_file = s.dir / "err";
	write_file(err_file, "");
	chmod(err_file.c_str(), 0666);
	Result r;
	std::thread second([&] {
		RunOptions opt;
		opt.binary = "/bin/sh";
		r = run_tool({"-c", "exec \"$0\" \"$@\" 2>" + err_file,
				 binary_path(), "-v",
				 "-p", s.dir / "tree", "-t", s.dir / "a", "-o",
				 s.dir / "out"},
		    opt);
	});
	// As long as it takes (the harness ends a hung run after a minute).
	for (int i = 0; i < 6000 &&
	     read_file(err_file).find("Waiting") == std::string::npos;
	     i++)
		usleep(10000);
	EXPECT_FALSE(s.dir.exists("out/README.html"));
	close(held);
	second.join();
	EXPECT_EQ(r.status, 0);
	EXPECT_NE(read_file(err_file).find("Waiting for another run to finish "
					   "with \"" + s.dir.path() + "\"\n"),
	    std::string::npos)
	    << read_file(err_file);
	EXPECT_TRUE(s.dir.exists("out/misc/foo/README.html"));

#ifdef F_SETPIPE_SZ
	// A run holds the lock to its end: here one held up writing its
	// progress lines into a pipe of one page that nobody reads yet.
	HeldRun first;
	ASSERT_TRUE(first.start(s.dir / "progress",
	    {"-p", s.dir / "tree", "-t", s.dir / "a", "-o", s.dir / "out"},
	    RunOptions{}));
	// OUT is there now: it is the directory locked.
	held = open((s.dir / "out").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	int locked = flock(held, LOCK_EX | LOCK_NB);
	int error = errno;
	EXPECT_EQ(locked, -1);
	EXPECT_EQ(error, EWOULDBLOCK);
	close(held);
	EXPECT_EQ(first.drain(), first.expected());
	EXPECT_EQ(first.result.status, 0) << first.result.err;
#endif
}

// A whole-tree run through the link drops the pages of what the tree no
// longer lists, keeping the files of others there; a stale INDEX and a
// pathname run carry pages over; files of others stay through every run
// (and through a marker of the format before) unless a run needs their
// place; a generation with a broken marker is named at every run.
TEST(Publish, PrunesWhatTheTreeDroppedAndKeepsFilesOfOthers)
{
	Site s;
	ASSERT_EQ(s.run("a", "first").status, 0);
	fs::create_directory_symlink("first", s.dir / "site");
	ASSERT_EQ(s.run("a", "site").status, 0);
	s.dir.put("site/robots.txt", "User-agent: *\n");
	s.dir.put("site/index.html", "<p>mirror</p>\n");
	s.dir.put("site/archivers/zip/notes.txt", "kept\n");
	s.dir.mkdir("site.broken");
	ASSERT_EQ(
	    mkfifo((s.dir / "site.broken/.quillmark-generation").c_str(), 0644),
	    0);
	const std::string broken = s.dir /
	    "site.broken: left alone: its "
	    ".quillmark-generation is not a "
	    "regular file\n";
	for (int i = 0; i < 3; i++) {
		Result r = s.run(i == 1 ? "b" : "a", "site", {"-v"});
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(
		    read_file(s.dir / ("site/robots.txt")), "User-agent: *\n")
		    << i;
		EXPECT_EQ(
		    read_file(s.dir / ("site/index.html")), "<p>mirror</p>\n")
		    << i;
		EXPECT_EQ(read_file(s.dir / ("site/archivers/zip/notes.txt")),
		    "kept\n");
		EXPECT_NE(r.err.find("/robots.txt\": not a page of "
				     "quillmark's\n"),
		    std::string::npos)
		    << r.err;
		EXPECT_NE(r.err.find(broken), std::string::npos) << r.err;
		EXPECT_EQ(r.err.find("Dropped"), std::string::npos);
		EXPECT_TRUE(s.dir.exists("site.broken"));
	}
	// A marker of the format before still serves: its files are told
	// by their names.
	std::string marker = read_file(s.dir / ("site/.quillmark-generation"));
	ASSERT_NE(marker.find("\nformat 3\n"), std::string::npos);
	ASSERT_NE(marker.find("\nkept 3\n"), std::string::npos) << marker;
	marker.replace(marker.find("format 3"), 8, "format 2");
	std::size_t kept = marker.find("kept 3\n");
	marker.erase(kept, marker.find("end\n") - kept);
	s.dir.put("site/.quillmark-generation", marker);
	Result r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(read_file(s.dir / ("site/robots.txt")), "User-agent: *\n");
	EXPECT_EQ(
	    read_file(s.dir / ("site/archivers/zip/notes.txt")), "kept\n");

	// The category archivers goes as a ports commit removes it; a
	// pathname run carries its pages over.
	s.dir.put("tree/Makefile", "SUBDIR += misc\n");
	ASSERT_EQ(
	    read_file(s.dir / "tree/misc/Makefile").find("    COMMENT"), 0u);
	fs::remove_all(s.dir / "tree/archivers");
	std::string index = read_file(s.dir / ("tree/INDEX-15"));
	index.erase(0, index.find('\n') + 1);
	s.dir.put("tree/INDEX-15", index);
	r = s.run("a", "site", {"misc/foo"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(s.dir.exists("site/archivers/README.html"));
	EXPECT_TRUE(s.dir.exists("site/archivers/zip/README.html"));
	// A whole-tree run drops them, but for the file of others.
	r = s.run("a", "site", {"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Dropped 2 pages of what the tree no longer "
			     "lists\n"),
	    std::string::npos)
	    << r.err;
	EXPECT_FALSE(s.dir.exists("site/archivers/README.html"));
	EXPECT_FALSE(s.dir.exists("site/archivers/zip/README.html"));
	EXPECT_EQ(
	    read_file(s.dir / ("site/archivers/zip/notes.txt")), "kept\n");
	EXPECT_NE(read_file(s.dir / ("site/README.html")).find("misc"),
	    std::string::npos);
	// A page of the admin's own where the run no longer writes one is a
	// file of others like any, and kept.
	s.dir.put("site/archivers/README.html", "<p>See misc.</p>\n");
	// A port gone from the INDEX but listed still (a stale INDEX) keeps
	// its page; one gone from its category's list loses it, its
	// directory with it.
	const std::string bar =
	    read_file(s.dir / ("site/misc/bar/README.html"));
	index = read_file(s.dir / ("tree/INDEX-15"));
	index.erase(0, index.find('\n') + 1);
	s.dir.put("tree/INDEX-15", index);
	r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(read_file(s.dir / ("site/misc/bar/README.html")), bar);
	s.dir.put("tree/misc/Makefile",
	    "    COMMENT = Miscellaneous utilities\n    SUBDIR += foo\n");
	r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_FALSE(s.dir.exists("site/misc/bar"));
	EXPECT_TRUE(s.dir.exists("site/misc/foo/README.html"));
	// One added to a port's directory that both generations had left
	// as their markers say.
	s.dir.put("site/misc/foo/extra.txt", "late\n");
	for (int i = 0; i < 2; i++) {
		r = s.run(i == 0 ? "b" : "a", "site");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(read_file(s.dir / "site/misc/foo/extra.txt"), "late\n");
		EXPECT_FALSE(s.dir.exists("site/misc/bar"));
		EXPECT_FALSE(s.dir.exists("site/archivers/zip/README.html"));
		EXPECT_EQ(read_file(s.dir / ("site/archivers/zip/notes.txt")),
		    "kept\n");
		EXPECT_EQ(read_file(s.dir / "site/archivers/README.html"),
		    "<p>See misc.</p>\n");
		EXPECT_EQ(
		    read_file(s.dir / ("site/index.html")), "<p>mirror</p>\n");
	}

	// One put into the generation before, which nobody reads, is not
	// where the current one keeps a file of others in that directory.
	auto spare_now = [&] {
		std::string spare;
		for (auto &e : fs::directory_iterator(s.dir.path())) {
			std::string name = e.path().filename().string();
			if (name.starts_with("site.2") && name != s.target("site"))
				spare = name;
		}
		return spare;
	};
	std::string spare = spare_now();
	ASSERT_FALSE(spare.empty());
	s.dir.put(spare + "/misc/foo/stray.txt", "stray\n");
	ASSERT_EQ(s.run("b", "site").status, 0);
	EXPECT_EQ(s.target("site").substr(0, 5), "site.");
	EXPECT_FALSE(s.dir.exists("site/misc/foo/stray.txt"));
	EXPECT_EQ(read_file(s.dir / "site/misc/foo/extra.txt"), "late\n");

	// A file of others where a new port needs its directory gives way
	// in the new generation, named; the current one keeps it.
	s.dir.put("site/misc/baz", "a file\n");
	const std::string before = s.target("site");
	s.dir.put("tree/misc/Makefile",
	    "    COMMENT = Miscellaneous utilities\n"
	    "    SUBDIR += baz\n    SUBDIR += foo\n");
	s.dir.mkdir("tree/misc/baz");
	s.dir.put("tree/INDEX-15",
	    "baz-1.0|/usr/ports/misc/baz|/usr/local|Baz|"
	    "/usr/ports/misc/baz/pkg-descr|misc@example.org|misc||||||\n" +
		read_file(s.dir / ("tree/INDEX-15")));
	r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err,
	    broken + s.dir / before +
		"/misc/baz: not carried over: this run writes a "
		"directory there\n");
	EXPECT_TRUE(s.dir.exists("site/misc/baz/README.html"));
	EXPECT_EQ(read_file(s.dir / (before + "/misc/baz")), "a file\n");
	EXPECT_EQ(read_file(s.dir / ("site/robots.txt")), "User-agent: *\n");
	EXPECT_TRUE(s.dir.exists("site.broken"));

	// The next run writes the page where the generation before has that
	// file.
	r = s.run("a", "site");
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, broken);
	EXPECT_TRUE(s.dir.exists("site/misc/baz/README.html"));
	// The port directories of the generation before are not looked
	// into otherwise: a file put there, where no reader looks, comes
	// back with that generation.
	s.dir.put(spare_now() + "/misc/baz/stray.txt", "stray\n");
	ASSERT_EQ(s.run("a", "site").status, 0);
	EXPECT_EQ(s.target("site").substr(0, 5), "site.");
	EXPECT_EQ(read_file(s.dir / "site/misc/baz/stray.txt"), "stray\n");
	// One added to a port's directory of the current generation, whose
	// modification time is then set back as touch -d does, is seen by
	// the change time and kept; so is one added after an unchanged run.
	s.dir.put("site/misc/baz/late.txt", "late\n");
	const struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
	ASSERT_EQ(utimensat(AT_FDCWD, (s.dir / "site/misc/baz").c_str(), old,
		      AT_SYMLINK_NOFOLLOW),
	    0);
	for (const char *set : {"a", "a", "b", "b"}) {
		r = s.run(set, "site");
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(read_file(s.dir / "site/misc/baz/late.txt"), "late\n")
		    << set;
		EXPECT_EQ(read_file(s.dir / "site/misc/foo/extra.txt"), "late\n");
		if (std::string(set) == "a" && !s.dir.exists("site/misc/foo/new.txt"))
			s.dir.put("site/misc/foo/new.txt", "new\n");
		EXPECT_EQ(read_file(s.dir / "site/misc/baz/stray.txt"), "stray\n");
	}
	EXPECT_EQ(read_file(s.dir / "site/misc/foo/new.txt"), "new\n");
}

// The only port of a category goes (its INDEX line and its SUBDIR line,
// the category's Makefile kept): the category is reported as the INDEX
// has no lines for it, and the port's page, the category's page that
// lists it and the page of its maintainer, who maintains nothing else,
// all go from the site; no page left links a page gone but the top
// page's link line of the category. With the port still listed (an INDEX
// behind the tree), its pages stay.
TEST(Publish, LastPortOfACategoryLeavesNoStalePages)
{
	Site s;
	s.put_shipped();
	s.dir.put("tree/Makefile", "SUBDIR += archivers\nSUBDIR += games\n"
				   "SUBDIR += misc\n");
	s.dir.put("tree/games/Makefile",
	    "    COMMENT = Games\n\n    SUBDIR += nethack\n");
	s.dir.mkdir("tree/games/nethack");
	const std::string index = read_file(s.dir / "tree/INDEX-15");
	const std::string nethack = "nethack-3.6|/usr/ports/games/nethack|"
	    "/usr/local|A dungeon game|/usr/ports/games/nethack/pkg-descr|"
	    "gamer@example.com|games||||||\n";
	const std::size_t misc = index.find("bar-2.3");
	s.dir.put("tree/INDEX-15",
	    index.substr(0, misc) + nethack + index.substr(misc));
	for (auto &e : fs::recursive_directory_iterator(s.dir / "tree"))
		(void)lchown(e.path().c_str(), 65534, 65534);
	ASSERT_EQ(s.run("shipped", "first").status, 0);
	fs::create_directory_symlink("first", s.dir / "site");
	ASSERT_EQ(s.run("shipped", "site").status, 0);
	const std::string gamer = "maintainer/gamer@example.com/README.html";
	ASSERT_TRUE(s.dir.exists("site/games/nethack/README.html"));
	ASSERT_TRUE(s.dir.exists("site/" + gamer));
	EXPECT_EQ(broken_links(s.dir / "site"), std::vector<std::string>{});
	auto site = files_below(s.dir / "site/");

	// The INDEX lags behind: the port is listed still, and keeps its
	// pages.
	s.dir.put("tree/INDEX-15", index);
	Result r = s.run("shipped", "site", {"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("No such category: games\n"), std::string::npos);
	for (const char *rel : {"games/README.html",
		 "games/nethack/README.html"})
		EXPECT_EQ(read_file(s.dir / "site/" + rel), site[rel]) << rel;
	// So does a Makefile without its COMMENT line, whose list is not
	// known.
	s.dir.put("tree/games/Makefile", "    SUBDIR += nethack\n");
	r = s.run("shipped", "site");
	EXPECT_EQ(r.err, "No such category: games\n");
	EXPECT_TRUE(s.dir.exists("site/games/nethack/README.html"));

	s.dir.put("tree/games/Makefile", "    COMMENT = Games\n");
	fs::remove_all(s.dir / "tree/games/nethack");
	r = s.run("shipped", "site");
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "No such category: games\n");
	EXPECT_FALSE(s.dir.exists("site/games"));
	EXPECT_FALSE(s.dir.exists("site/" + gamer));
	EXPECT_EQ(broken_links(s.dir / "site"),
	    std::vector<std::string>{"README.html -> games/README.html"});
	for (auto &[rel, text] : files_below(s.dir / "site/"))
		EXPECT_EQ(text.find("nethack"), std::string::npos) << rel;
	// As a run into an empty directory makes it.
	ASSERT_EQ(s.run("shipped", "fresh").status, 0);
	EXPECT_EQ(files_below(s.dir / "site/"), files_below(s.dir / "fresh"));
}

// An in-place run and a run with -o naming the tree's top write the same
// files: the one started second waits for the first, which holds its
// lock while its progress lines fill a pipe that nobody reads yet.
TEST(Publish, InPlaceAndOutputAtTopShareOneLock)
{
#ifdef F_SETPIPE_SZ
	Site s;
	chmod((s.dir / "tree").c_str(), 0777);
	HeldRun first;
	ASSERT_TRUE(first.start(
	    s.dir / "progress", {"-p", s.dir / "tree", "-t", s.dir / "a"}, s.opt));
	std::string err_file = s.dir / "err";
	write_file(err_file, "");
	chmod(err_file.c_str(), 0666);
	std::atomic<bool> second_finished{false};
	Result second;
	std::thread other([&] {
		RunOptions opt = s.opt;
		opt.binary = "/bin/sh";
		// The shell and the tool it runs, as the same user: both
		// from copies that user can reach.
		std::string tool = opt.as_nobody ? copy_for_others(binary_path())
						 : binary_path();
		second =
		    run_tool({"-c", "exec \"$0\" \"$@\" 2>" + err_file,
				 tool, "-v", "-p", s.dir / "tree/.",
				 "-t", s.dir / "b", "-o", s.dir / "tree"},
			opt);
		second_finished = true;
	});
	for (int i = 0; i < 6000 &&
	     read_file(err_file).find("Waiting") == std::string::npos;
	     i++)
		usleep(10000);
	EXPECT_NE(read_file(err_file).find("Waiting for another run to finish "
					   "with \"" +
		      s.dir / "tree" + "\"\n"),
	    std::string::npos)
	    << read_file(err_file);
	EXPECT_FALSE(second_finished);
	EXPECT_EQ(first.drain(), first.expected());
	other.join();
	EXPECT_EQ(first.result.status, 0) << first.result.err;
	EXPECT_EQ(second.status, 0) << read_file(err_file);
	// The second run's pages, whole: it ran after the first.
	EXPECT_NE(
	    read_file(s.dir / ("tree/misc/foo/README.html")).find("port B"),
	    std::string::npos);
#else
	GTEST_SKIP() << "no pipe sizes here";
#endif
}

// The pages left where moved and removed ports were are pages of the run:
// in the new generation, never reported as files of others, carried over
// by pathname runs, and dropped once MOVED no longer names them.
TEST(Publish, PagesOfMovedPortsLiveInTheGeneration)
{
	Site s;
	s.dir.put("tree/MOVED", "misc/gone||2024-01-02|Old\n"
				"misc/old|misc/foo|2024-03-04|Renamed\n");
	s.dir.put("a/README.moved",
	    "moved [%%MOVED_FROM%%] [%%MOVED_TO%%] [%%STYLESHEET%%]\n");
	s.dir.put("a/site.css", "p {}\n");
	ASSERT_EQ(s.run("a", "first").status, 0);
	fs::create_directory_symlink("first", s.dir / "site");
	for (int i = 0; i < 2; i++) {
		Result r = s.run("a", "site", {"-v"});
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_EQ(r.err.find("Keeping"), std::string::npos) << r.err;
		EXPECT_EQ(r.err.find("Dropped"), std::string::npos) << r.err;
		EXPECT_EQ(read_file(s.dir / "site/misc/gone/README.html"),
		    "moved [misc/gone] [removed] [../../site.css]\n");
		EXPECT_EQ(read_file(s.dir / "site/misc/old/README.html"),
		    "moved [misc/old] [<a href=\"../../misc/foo/README.html\">"
		    "misc/foo</a>] [../../site.css]\n");
		// The stylesheet the pages share lives in the generation.
		EXPECT_EQ(read_file(s.dir / "site/site.css"), "p {}\n");
		EXPECT_FALSE(s.dir.exists("tree/site.css"));
	}
	// Changed and changed back, into a generation that still holds its
	// old bytes, it is never older than the one it replaces.
	auto mtime = [&] { return stamps_below(s.dir / "site/")["site.css"]; };
	s.dir.put("a/site.css", "q {}\n");
	ASSERT_EQ(s.run("a", "site").status, 0);
	auto changed = mtime();
	s.dir.put("a/site.css", "p {}\n");
	ASSERT_EQ(s.run("a", "site").status, 0);
	EXPECT_EQ(read_file(s.dir / "site/site.css"), "p {}\n");
	EXPECT_GE(mtime().second, changed.second);

	// A run whose pages ask for no shared file carries it over.
	Result r = s.run("a", "site", {"misc/foo"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_TRUE(s.dir.exists("site/misc/gone/README.html"));
	EXPECT_EQ(read_file(s.dir / "site/site.css"), "p {}\n");
	s.dir.put("tree/MOVED", "misc/old|misc/foo|2024-03-04|Renamed\n");
	r = s.run("a", "site", {"-v"});
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.err.find("Dropped 1 page"), std::string::npos) << r.err;
	EXPECT_FALSE(s.dir.exists("site/misc/gone"));
	EXPECT_TRUE(s.dir.exists("site/misc/old/README.html"));

	// A line whose origin no directory can have is the tree's data, not
	// a page that failed: skipped as a malformed line is (its message not
	// echoing it), never an entry of the feeds, and the site switches.
	// The first run with -u records the moves that the feeds start from.
	const std::vector<std::string> feeds = {"-u", "https://ports.example.org/"};
	ASSERT_EQ(s.run("a", "site", feeds).status, 0);
	s.dir.put("tree/MOVED",
	    "misc/old|misc/foo|2024-03-04|Renamed\n"
	    "misc/" + std::string(1000, 'n') + "|misc/foo|2026-12-01|x\n"
	    "misc/" + std::string(300, 'n') + "|misc/foo|2026-12-01|x\n"
	    "misc/new|misc/" + std::string(300, 'n') + "|2026-12-01|x\n"
	    "misc/older|misc/foo|2026-12-02|Renamed\n");
	for (int i = 0; i < 2; i++) {
		std::string before = s.target("site");
		r = s.run("a", "site", {"-v", "-u", "https://ports.example.org/"});
		EXPECT_EQ(r.status, 0) << r.err;
		EXPECT_NE(s.target("site"), before);
		for (int line : {2, 3, 4})
			EXPECT_NE(r.err.find("Skipping " + s.dir / "tree" +
				      "/MOVED line " + std::to_string(line) +
				      ": not a port origin: a name longer than "
				      "255 bytes\n"),
			    std::string::npos)
			    << r.err;
		EXPECT_EQ(r.err.find("nnnn"), std::string::npos) << r.err;
		EXPECT_TRUE(s.dir.exists("site/misc/older/README.html"));
		EXPECT_FALSE(s.dir.exists("site/misc/new"));
	}
	std::string feed = s.dir.get("site/feed.atom");
	EXPECT_NE(feed.find(":moved/misc/older</id>"), std::string::npos) << feed;
	EXPECT_EQ(feed.find("nnnn"), std::string::npos) << feed;
	EXPECT_EQ(feed.find("misc/new"), std::string::npos) << feed;
}
