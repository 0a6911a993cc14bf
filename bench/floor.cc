// floor: the file system's own cost of writing a tree's README files.
//
// usage: floor --snapshot DIR SNAPFILE
//        floor --snapshot-list LISTFILE SNAPFILE
//        floor --sizes SNAPFILE
//        floor --write [-t] [--overwrite | --compare] [--inputs TREE]
//            SNAPFILE
//
// --snapshot collects every README.html that a whole-tree run of quillmark
// writes under DIR (each port's, each category's, the top one), in the order
// the run writes them: a category's ports, then the category, then the
// files the run writes beside the top page (the word index and its files,
// the search data, the pages of the ports at risk), the top page, and last
// the stylesheet and the script that the pages share, each file beside the
// top taken when it is there. It finds the pages
// the way the tool does, from the "SUBDIR += " lines of the top-level
// Makefile and the "    SUBDIR += " lines after the COMMENT line of each
// category Makefile, and stores their paths and bytes in one file. A file
// beside the top that an earlier run left and this one did not write would
// be taken too: remove those before the run that the snapshot follows.
//
// --sizes prints one line for each file of a snapshot, in its order: its
// bytes, the bytes of its <style> elements and of its <script> elements
// (each from its "<style" or "<script" to the end of its closing tag), and
// its path.
//
// --write loads that file with one read and then writes every README again
// with exactly one open (O_WRONLY|O_CREAT|O_TRUNC, mode 0644), one write and
// one close: the same files with the same bytes, and nothing else. The time
// of that process is the floor that a whole-tree run is measured against.
// Two more floors: with --overwrite each file is opened without truncating
// it, looked at with fstat, written from its start and cut only when it
// was longer; with --compare each file is opened, read whole and compared
// with the snapshot's bytes, and nothing is written.
// With -t it reports on standard error how long the load and the writes took.
//
// --inputs TREE adds what a run reads to what it writes, for the floor of
// the same work as a run with templates that show each port's description:
// before the first page, the top-level Makefile and the INDEX (INDEX-15,
// read whole into a buffer of 2 MiB huge pages, as the tool reads it);
// each category's Makefile before its first page; and before each port's
// page, that port's pkg-descr, opened, looked at with fstat, read with the
// size fstat gave and closed (a missing one is passed over, as the tool
// passes it over). Every file, read or written, is then opened relative to
// TREE, held open, with plain openat: TREE must be the directory whose
// files the snapshot holds.
// Run by root, it asks for the highest real-time priority first, as
// quillmark itself does, so that both run under the same scheduling.
//
// --snapshot-list takes the files named in LISTFILE instead, one path a
// line, in that order: the floor of files that the Makefiles do not name
// (the maintainer pages, the feeds, the sitemap).
//
// The snapshot is mapped rather than read into fresh memory: on a virtual
// machine, faulting in tens of megabytes of new anonymous pages costs up to
// a fifth of the writes themselves, and that is no part of the file system's
// cost. The mapping is populated in one call before the clock of the
// writes starts, the way one read would fill a buffer.
//
// The snapshot is "QMSNAP1\n", a 64-bit entry count, then for each entry a
// 32-bit path length (its NUL included), a 32-bit data length, the path and
// the data, all in the byte order of the machine that wrote it.
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view magic = "QMSNAP1\n";
constexpr std::string_view top_prefix = "SUBDIR += ";
constexpr std::string_view comment_prefix = "    COMMENT = ";
constexpr std::string_view port_prefix = "    SUBDIR += ";
// The files a run writes beside the top page before it, in the order it
// writes them, except the word files "ports-words-N.js", which come first,
// numbered from 0 up; and those it writes after it.
constexpr std::string_view words_file_prefix = "ports-words-";
constexpr std::string_view before_top[] = {"ports-words.js", "ports-index.js",
    "vulnerable.html", "expiring.html"};
constexpr std::string_view after_top[] = {"site.css", "site.js"};
constexpr const char *index_name = "INDEX-15";

int
usage()
{
	std::fputs("usage: floor --snapshot DIR SNAPFILE\n"
		   "       floor --snapshot-list LISTFILE SNAPFILE\n"
		   "       floor --sizes SNAPFILE\n"
		   "       floor --write [-t] [--overwrite | --compare] "
		   "[--inputs TREE] SNAPFILE\n",
	    stderr);
	return 2;
}

double
now()
{
	struct timespec ts;
	(void)clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) +
	    static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads a whole file into text. Returns false after reporting the failure.
bool
read_whole(const std::string &path, std::string &text)
{
	int fd = open(path.c_str(), O_RDONLY);
	if (fd < 0) {
		std::perror(path.c_str());
		return false;
	}
	struct stat st;
	if (fstat(fd, &st) != 0) {
		std::perror(path.c_str());
		(void)close(fd);
		return false;
	}
	text.resize(static_cast<std::size_t>(st.st_size));
	std::size_t done = 0;
	while (done < text.size()) {
		ssize_t n = read(fd, text.data() + done, text.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			if (n == 0)
				errno = EIO;
			std::perror(path.c_str());
			(void)close(fd);
			return false;
		}
		done += static_cast<std::size_t>(n);
	}
	(void)close(fd);
	return true;
}

// Writes all of text to fd; false after reporting the failure with path.
bool
write_all(int fd, const char *path, const char *text, std::size_t len)
{
	while (len > 0) {
		ssize_t n = write(fd, text, len);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			std::perror(path);
			return false;
		}
		text += n;
		len -= static_cast<std::size_t>(n);
	}
	return true;
}

// The values of the lines that begin with prefix; with after_comment, only
// those that follow the first COMMENT line, as a category Makefile is read.
std::vector<std::string>
makefile_values(const std::string &text, std::string_view prefix,
    bool after_comment)
{
	std::vector<std::string> values;
	bool taking = !after_comment;
	std::size_t pos = 0;
	while (pos < text.size()) {
		std::size_t end = text.find('\n', pos);
		if (end == std::string::npos)
			end = text.size();
		std::string_view line(text.data() + pos, end - pos);
		if (!taking) {
			if (line.substr(0, comment_prefix.size()) == comment_prefix)
				taking = true;
		} else if (line.substr(0, prefix.size()) == prefix) {
			values.emplace_back(line.substr(prefix.size()));
		}
		pos = end + 1;
	}
	return values;
}

void
put32(std::string &out, std::uint32_t v)
{
	out.append(reinterpret_cast<const char *>(&v), sizeof v);
}

bool
add_entry(std::string &snap, const std::string &path, std::uint64_t &count)
{
	std::string data;
	if (!read_whole(path, data))
		return false;
	put32(snap, static_cast<std::uint32_t>(path.size() + 1));
	put32(snap, static_cast<std::uint32_t>(data.size()));
	snap.append(path.c_str(), path.size() + 1);
	snap += data;
	count++;
	return true;
}

int save_snapshot(std::string &snap, std::uint64_t count,
    const char *snap_path);

int
snapshot(const char *dir, const char *snap_path)
{
	char *real = realpath(dir, nullptr);
	if (real == nullptr) {
		std::perror(dir);
		return 1;
	}
	std::string top = real;
	std::free(real);

	std::string makefile;
	if (!read_whole(top + "/Makefile", makefile))
		return 1;
	std::string snap(magic);
	std::uint64_t count = 0;
	snap.append(sizeof count, '\0');
	for (const std::string &cat :
	    makefile_values(makefile, top_prefix, false)) {
		std::string cdir = top + "/" + cat;
		std::string cat_makefile;
		if (!read_whole(cdir + "/Makefile", cat_makefile))
			return 1;
		for (const std::string &p :
		    makefile_values(cat_makefile, port_prefix, true)) {
			if (!add_entry(snap, cdir + "/" + p + "/README.html",
			    count))
				return 1;
		}
		if (!add_entry(snap, cdir + "/README.html", count))
			return 1;
	}
	// The files beside the top page, each when it is there.
	struct stat st;
	auto beside = [&](const std::string &name) {
		std::string path = top + "/" + name;
		return stat(path.c_str(), &st) != 0 || add_entry(snap, path, count);
	};
	for (int n = 0;; n++) {
		std::string name = std::string(words_file_prefix) +
		    std::to_string(n) + ".js";
		if (stat((top + "/" + name).c_str(), &st) != 0)
			break;
		if (!beside(name))
			return 1;
	}
	for (std::string_view name : before_top) {
		if (!beside(std::string(name)))
			return 1;
	}
	if (!add_entry(snap, top + "/README.html", count))
		return 1;
	for (std::string_view name : after_top) {
		if (!beside(std::string(name)))
			return 1;
	}
	return save_snapshot(snap, count, snap_path);
}

int
snapshot_list(const char *list_path, const char *snap_path)
{
	std::string list;
	if (!read_whole(list_path, list))
		return 1;
	std::string snap(magic);
	std::uint64_t count = 0;
	snap.append(sizeof count, '\0');
	std::size_t pos = 0;
	while (pos < list.size()) {
		std::size_t nl = list.find('\n', pos);
		if (nl == std::string::npos)
			nl = list.size();
		if (nl > pos && !add_entry(snap, list.substr(pos, nl - pos), count))
			return 1;
		pos = nl + 1;
	}
	return save_snapshot(snap, count, snap_path);
}

int
save_snapshot(std::string &snap, std::uint64_t count, const char *snap_path)
{
	std::memcpy(snap.data() + magic.size(), &count, sizeof count);

	int fd = open(snap_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd < 0) {
		std::perror(snap_path);
		return 1;
	}
	bool ok = write_all(fd, snap_path, snap.data(), snap.size());
	if (close(fd) != 0 && ok) {
		std::perror(snap_path);
		ok = false;
	}
	if (!ok)
		return 1;
	std::printf("%s: %llu files, %zu bytes\n", snap_path,
	    static_cast<unsigned long long>(count), snap.size());
	return 0;
}

struct entry {
	const char *path;
	const char *data;
	std::uint32_t len;
};

// Maps the snapshot and has the system read it in before the writes begin.
// Returns false after reporting the failure.
bool
load_snapshot(const char *path, std::string_view &snap)
{
	int fd = open(path, O_RDONLY);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0) {
		std::perror(path);
		if (fd >= 0)
			(void)close(fd);
		return false;
	}
	std::size_t size = static_cast<std::size_t>(st.st_size);
	int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
	flags |= MAP_POPULATE;
#endif
	void *map = mmap(nullptr, size, PROT_READ, flags, fd, 0);
	(void)close(fd);
	if (map == MAP_FAILED) {
		std::perror(path);
		return false;
	}
	// The mapping lives until the process exits.
	snap = std::string_view(static_cast<const char *>(map), size);
	return true;
}

// The same request as quillmark's start-up makes when run by root; a refusal
// is ignored.
void
raise_priority()
{
	if (getuid() != 0)
		return;
	struct sched_param param = {};
	param.sched_priority = sched_get_priority_max(SCHED_FIFO);
	if (param.sched_priority >= 0)
		(void)sched_setscheduler(0, SCHED_FIFO, &param);
}

enum class mode { truncate, overwrite, compare };

// Where the compare floor puts its answers, so that the comparison is made.
volatile bool compared_same;

// One file of the floor, the way the mode says.
bool
floor_one(mode m, const entry &e, int dirfd = AT_FDCWD,
    const char *path = nullptr)
{
	if (path == nullptr)
		path = e.path;
	static std::vector<char> old;
	if (m == mode::truncate) {
		int fd = openat(dirfd, path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
		if (fd < 0) {
			std::perror(e.path);
			return false;
		}
		bool ok = write_all(fd, e.path, e.data, e.len);
		(void)close(fd);
		return ok;
	}
	if (m == mode::overwrite) {
		int fd = openat(dirfd, path, O_RDWR | O_CREAT, 0644);
		struct stat st;
		if (fd < 0 || fstat(fd, &st) != 0) {
			std::perror(e.path);
			return false;
		}
		bool ok = write_all(fd, e.path, e.data, e.len);
		if (ok && st.st_size > static_cast<off_t>(e.len) &&
		    ftruncate(fd, static_cast<off_t>(e.len)) != 0) {
			std::perror(e.path);
			ok = false;
		}
		(void)close(fd);
		return ok;
	}
	// compare: read the whole file and compare it with the data; the
	// answer is not used, but the comparison is made.
	int fd = openat(dirfd, path, O_RDONLY);
	if (fd < 0) {
		std::perror(e.path);
		return false;
	}
	old.resize(std::size_t{e.len} + 1);
	std::size_t got = 0;
	for (;;) {
		ssize_t n = read(fd, old.data() + got, old.size() - got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		got += static_cast<std::size_t>(n);
		if (got == old.size())
			break;
	}
	(void)close(fd);
	compared_same = got == e.len && std::memcmp(old.data(), e.data, e.len) == 0;
	return true;
}

// Reads the file rel below dirfd whole, as the tool reads its inputs: open,
// fstat, reads of the size fstat gave, close. With huge, into a buffer of
// whole 2 MiB huge pages when it is that large. The text stays allocated
// until the process ends. Returns false after reporting the failure.
bool
read_input(int dirfd, const char *rel, bool huge, std::string_view &text)
{
	int fd = openat(dirfd, rel, O_RDONLY);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0) {
		std::perror(rel);
		if (fd >= 0)
			(void)close(fd);
		return false;
	}
	std::size_t size = static_cast<std::size_t>(st.st_size);
	char *buf = nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
	constexpr std::size_t huge_page = std::size_t{2} << 20;
	if (huge && size >= huge_page) {
		std::size_t rounded = (size + huge_page - 1) / huge_page * huge_page;
		buf = static_cast<char *>(std::aligned_alloc(huge_page, rounded));
		if (buf != nullptr)
			(void)madvise(buf, rounded, MADV_HUGEPAGE);
	}
#else
	(void)huge;
#endif
	if (buf == nullptr)
		buf = static_cast<char *>(std::malloc(size + 1));
	std::size_t got = 0;
	while (buf != nullptr && got < size) {
		ssize_t n = read(fd, buf + got, size - got);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		got += static_cast<std::size_t>(n);
	}
	(void)close(fd);
	if (buf == nullptr || got != size) {
		std::fprintf(stderr, "%s: not read whole\n", rel);
		return false;
	}
	text = std::string_view(buf, size);
	return true;
}

// A port's description, read as the tool reads it: a missing file is
// passed over.
bool
read_description(int dirfd, const char *rel)
{
	static char text[64 * 1024 + 1];
	int fd = openat(dirfd, rel, O_RDONLY | O_NONBLOCK | O_NOCTTY);
	if (fd < 0) {
		if (errno == ENOENT || errno == ENOTDIR)
			return true;
		std::perror(rel);
		return false;
	}
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
	    st.st_size > static_cast<off_t>(sizeof text - 1)) {
		std::fprintf(stderr, "%s: not a description\n", rel);
		(void)close(fd);
		return false;
	}
	std::size_t size = static_cast<std::size_t>(st.st_size), got = 0;
	while (got < size) {
		ssize_t n = pread(fd, text + got, size - got,
		    static_cast<off_t>(got));
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		got += static_cast<std::size_t>(n);
	}
	text[got] = '\0';
	(void)close(fd);
	return true;
}

// The floor of the same work: the inputs read, then every file of the
// snapshot with each port's description read before its page, all opened
// relative to tree.
int
with_inputs(const std::vector<entry> &entries, mode m, const char *tree,
    bool timed, double load, std::uint64_t bytes)
{
	double t0 = now();
	char *real = realpath(tree, nullptr);
	int top = open(tree, O_RDONLY | O_DIRECTORY);
	if (real == nullptr || top < 0) {
		std::perror(tree);
		return 1;
	}
	std::string prefix = real;
	prefix += '/';
	std::free(real);
	std::string_view makefile, index;
	if (!read_input(top, "Makefile", false, makefile) ||
	    !read_input(top, index_name, true, index))
		return 1;
	double t1 = now(), reading = 0, writing = 0;
	std::string category;
	char rel[4096];
	std::size_t descriptions = 0;
	for (const entry &e : entries) {
		std::string_view path = e.path;
		if (path.substr(0, prefix.size()) != prefix ||
		    path.size() - prefix.size() >= sizeof rel) {
			std::fprintf(stderr, "%s: not below %s\n", e.path,
			    prefix.c_str());
			return 1;
		}
		path.remove_prefix(prefix.size());
		std::size_t slash = path.find('/');
		std::size_t last = path.rfind('/');
		double t = timed ? now() : 0;
		if (slash != std::string_view::npos &&
		    path.substr(0, slash) != category) {
			// A category's Makefile, before its first page.
			category = path.substr(0, slash);
			std::string mk = category + "/Makefile";
			std::string_view text;
			if (!read_input(top, mk.c_str(), false, text))
				return 1;
			std::free(const_cast<char *>(text.data()));
		}
		if (slash != last) {
			// A port's page: its description first.
			std::memcpy(rel, path.data(), last + 1);
			std::memcpy(rel + last + 1, "pkg-descr", sizeof "pkg-descr");
			if (!read_description(top, rel))
				return 1;
			descriptions++;
		}
		double u = timed ? now() : 0;
		std::memcpy(rel, path.data(), path.size());
		rel[path.size()] = '\0';
		if (!floor_one(m, e, top, rel))
			return 1;
		if (timed) {
			double v = now();
			reading += u - t;
			writing += v - u;
		}
	}
	double t2 = now();
	if (timed)
		std::fprintf(stderr, "floor: load %.6f s, INDEX and top Makefile "
		    "%.6f s (%zu bytes), all files %.6f s: reading Makefiles and "
		    "%zu descriptions %.6f s, pages %.6f s, %zu pages, %llu bytes\n",
		    load, t1 - t0, index.size(), t2 - t1, descriptions, reading,
		    writing, entries.size(),
		    static_cast<unsigned long long>(bytes));
	(void)close(top);
	return 0;
}

// Maps the snapshot and cuts it into its entries, whose bytes it adds up.
// Returns false after reporting the failure.
bool
load_entries(const char *snap_path, std::vector<entry> &entries,
    std::uint64_t &bytes)
{
	std::string_view snap;
	if (!load_snapshot(snap_path, snap))
		return false;
	std::uint64_t count;
	if (snap.size() < magic.size() + sizeof count ||
	    snap.substr(0, magic.size()) != magic) {
		std::fprintf(stderr, "%s: not a snapshot\n", snap_path);
		return false;
	}
	std::memcpy(&count, snap.data() + magic.size(), sizeof count);
	entries.reserve(count);
	std::size_t pos = magic.size() + sizeof count;
	bytes = 0;
	for (std::uint64_t i = 0; i < count; i++) {
		std::uint32_t plen, dlen;
		if (snap.size() - pos < 2 * sizeof plen) {
			std::fprintf(stderr, "%s: truncated\n", snap_path);
			return false;
		}
		std::memcpy(&plen, snap.data() + pos, sizeof plen);
		std::memcpy(&dlen, snap.data() + pos + sizeof plen, sizeof dlen);
		pos += 2 * sizeof plen;
		if (plen == 0 || snap.size() - pos < std::uint64_t{plen} + dlen ||
		    snap[pos + plen - 1] != '\0') {
			std::fprintf(stderr, "%s: truncated\n", snap_path);
			return false;
		}
		entries.push_back({snap.data() + pos, snap.data() + pos + plen,
		    dlen});
		pos += plen + std::size_t{dlen};
		bytes += dlen;
	}
	return true;
}

// The bytes of the elements named tag in text: from each "<tag" followed
// by '>' or white space to the end of its "</tag>", or to the end of the
// text when it is not closed.
std::uint64_t
element_bytes(std::string_view text, std::string_view tag)
{
	std::uint64_t bytes = 0;
	std::size_t pos = 0;
	while ((pos = text.find('<', pos)) != std::string_view::npos) {
		std::size_t after = pos + 1 + tag.size();
		if (text.substr(pos + 1, tag.size()) != tag ||
		    after >= text.size() ||
		    (text[after] != '>' && text[after] != ' ' &&
			text[after] != '\n' && text[after] != '\t')) {
			pos++;
			continue;
		}
		// The closing tag: "</", the name, '>'.
		std::size_t end = after;
		for (;;) {
			end = text.find("</", end);
			if (end == std::string_view::npos) {
				end = text.size();
				break;
			}
			if (text.substr(end + 2, tag.size()) == tag &&
			    text.substr(end + 2 + tag.size(), 1) == ">") {
				end += 3 + tag.size();
				break;
			}
			end += 2;
		}
		bytes += end - pos;
		pos = end;
	}
	return bytes;
}

int
print_sizes(const char *snap_path)
{
	std::vector<entry> entries;
	std::uint64_t bytes;
	if (!load_entries(snap_path, entries, bytes))
		return 1;
	for (const entry &e : entries) {
		std::string_view text(e.data, e.len);
		std::printf("%u %llu %llu %s\n", e.len,
		    static_cast<unsigned long long>(element_bytes(text, "style")),
		    static_cast<unsigned long long>(element_bytes(text, "script")),
		    e.path);
	}
	return std::fflush(stdout) == 0 ? 0 : 1;
}

int
write_snapshot(const char *snap_path, bool timed, mode m, const char *tree)
{
	raise_priority();
	double t0 = now();
	std::vector<entry> entries;
	std::uint64_t bytes;
	if (!load_entries(snap_path, entries, bytes))
		return 1;

	double t1 = now();
	if (tree != nullptr)
		return with_inputs(entries, m, tree, timed, t1 - t0, bytes);
	for (const entry &e : entries) {
		if (!floor_one(m, e))
			return 1;
	}
	double t2 = now();
	if (timed)
		std::fprintf(stderr, "floor: load %.6f s, write %.6f s, "
		    "%zu files, %llu bytes\n", t1 - t0, t2 - t1, entries.size(),
		    static_cast<unsigned long long>(bytes));
	return 0;
}

} // namespace

int
main(int argc, char **argv)
{
	if (argc == 4 && std::strcmp(argv[1], "--snapshot") == 0)
		return snapshot(argv[2], argv[3]);
	if (argc == 4 && std::strcmp(argv[1], "--snapshot-list") == 0)
		return snapshot_list(argv[2], argv[3]);
	if (argc == 3 && std::strcmp(argv[1], "--sizes") == 0)
		return print_sizes(argv[2]);
	if (argc < 3 || std::strcmp(argv[1], "--write") != 0)
		return usage();
	bool timed = false;
	mode m = mode::truncate;
	const char *tree = nullptr;
	int i = 2;
	for (; i < argc - 1; i++) {
		if (std::strcmp(argv[i], "-t") == 0)
			timed = true;
		else if (std::strcmp(argv[i], "--overwrite") == 0)
			m = mode::overwrite;
		else if (std::strcmp(argv[i], "--compare") == 0)
			m = mode::compare;
		else if (std::strcmp(argv[i], "--inputs") == 0 && i + 2 < argc)
			tree = argv[++i];
		else
			return usage();
	}
	if (tree != nullptr && m == mode::truncate)
		return usage();
	return write_snapshot(argv[i], timed, m, tree);
}
