// gen_tree: writes a synthetic ports tree for the benchmark.
//
// The tree is shaped like a real one as quillmark reads it: a top-level
// Makefile with one "SUBDIR += " line per category in byte order, a Makefile
// per category with its COMMENT line and one "    SUBDIR += " line per port,
// a directory per port holding its description, pkg-descr, and INDEX-15 with
// one 13-field line per port.
// The INDEX lines are sorted by port directory the way the ports framework
// sorts them, with '/' before every other byte, so the lines of "net" all
// come before those of "net-im" and each category's lines form one run in
// the order of the category list. The category Makefiles list their ports
// in that same order, so one forward pass over a category's lines finds them.
//
// Dependencies are shaped like a real tree's: most ports need a handful of
// others, some a few dozen, a few hundreds; a pool of popular ports is
// needed by about a thousand each, and a few core ports (the pkgconf, gmake
// and gettext of a real tree) by thousands, the first by some ten thousand.
//
// Every port has a Makefile shaped like a real one (its variables, a
// licence, flavors, options and their groups, option blocks, continuation
// lines); a few are deprecated with an
// expiration date, broken, ignored or forbidden, at the top level or inside
// a conditional. security/vuxml holds a vulnerability database of real size:
// vuln.xml including a file per year, 2003 to 2026, through external
// entities, some 6,000 entries in all, each naming ports of the tree (or
// packages the tree lacks) with ranges of versions, one in twenty-five
// holding the port's version.
//
// The top holds a MOVED of 13,000 lines (renames into ports of the tree,
// chains, removals, flavored origins) and an UPDATING of 10,000 lines
// (notes naming ports by every AFFECTS form: exact, "and" lists, globs,
// braces, alternations, and notes for everyone); one port in ten has a
// pkg-message, most in UCL with a heredoc, some plain text.
//
// Everything comes from splitmix64 streams seeded by --seed, so a seed and
// a scale always give the same tree, byte for byte, on any system. The core
// dependencies, the descriptions, the Makefiles and the vulnerability
// database have streams of their own, so that adding them changed nothing
// else of a tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

struct rng {
	std::uint64_t state;

	std::uint64_t
	next()
	{
		std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
		z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
		z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
		return z ^ (z >> 31);
	}

	// A number in [0, n), n > 0. The modulo bias is far below anything
	// the benchmark could notice, and it is the same on every system.
	std::uint64_t
	below(std::uint64_t n)
	{
		return next() % n;
	}

	// A number in [lo, hi].
	int
	range(int lo, int hi)
	{
		return lo + static_cast<int>(below(
		    static_cast<std::uint64_t>(hi - lo + 1)));
	}

	// True with a chance of per_mille in a thousand.
	bool
	chance(int per_mille)
	{
		return below(1000) < static_cast<std::uint64_t>(per_mille);
	}

	template <typename T, std::size_t N>
	const T &
	pick(const T (&table)[N])
	{
		return table[below(N)];
	}
};

struct category_info {
	const char *name;
	int weight;	// share of the ports, relative to the others
	const char *comment;
};

// Weights keep the largest category near 1,000 ports at scale 1, so that at
// scale 4 its README (some 90 bytes of links per port) still fits the
// category builder's 512 KiB buffer.
constexpr category_info categories[] = {
	{"accessibility", 3, "Tools that help people with disabilities"},
	{"arabic", 2, "Software localised for Arabic"},
	{"archivers", 5, "Programs for packing and unpacking archives"},
	{"astro", 5, "Astronomy and space science software"},
	{"audio", 7, "Sound players, editors and libraries"},
	{"benchmarks", 5, "Programs that measure system performance"},
	{"biology", 5, "Software for the life sciences"},
	{"cad", 5, "Computer aided design tools"},
	{"chinese", 3, "Software localised for Chinese"},
	{"comms", 5, "Communications and serial line software"},
	{"converters", 6, "Converters between character sets & file formats"},
	{"databases", 8, "Database servers, clients and libraries"},
	{"deskutils", 6, "Small desktop utilities"},
	{"devel", 8, "Development tools and libraries"},
	{"dns", 5, "Name server software and tools"},
	{"editors", 6, "Text editors and word processors"},
	{"education", 5, "Teaching and learning software"},
	{"emulators", 5, "Emulators of other systems and machines"},
	{"finance", 5, "Money management and accounting software"},
	{"french", 2, "Software localised for French"},
	{"ftp", 3, "File transfer clients and servers"},
	{"games", 8, "Games and amusements"},
	{"german", 2, "Software localised for German"},
	{"graphics", 8, "Image viewers, editors and graphics libraries"},
	{"hebrew", 2, "Software localised for Hebrew"},
	{"hungarian", 2, "Software localised for Hungarian"},
	{"irc", 3, "Internet Relay Chat clients and servers"},
	{"japanese", 5, "Software localised for Japanese"},
	{"java", 5, "Java language support and libraries"},
	{"korean", 2, "Software localised for Korean"},
	{"lang", 7, "Programming language compilers and interpreters"},
	{"mail", 7, "Mail clients, servers and filters"},
	{"math", 8, "Mathematical software and libraries"},
	{"misc", 7, "Miscellaneous utilities"},
	{"multimedia", 7, "Video players, editors and streaming tools"},
	{"net", 8, "Networking tools and libraries"},
	{"net-im", 5, "Instant messaging clients and servers"},
	{"net-mgmt", 6, "Network management and monitoring"},
	{"net-p2p", 3, "Peer to peer networking software"},
	{"news", 3, "Usenet news readers and servers"},
	{"polish", 2, "Software localised for Polish"},
	{"ports-mgmt", 3, "Tools for managing ports and packages"},
	{"portuguese", 2, "Software localised for Portuguese"},
	{"print", 6, "Printing & typesetting tools, fonts and filters"},
	{"russian", 2, "Software localised for Russian"},
	{"science", 7, "Scientific software not covered elsewhere"},
	{"security", 8, "Security tools and cryptography"},
	{"shells", 3, "Command line shells"},
	{"spanish", 2, "Software localised for Spanish"},
	{"sysutils", 8, "System administration utilities"},
	{"textproc", 8, "Text processing tools and libraries"},
	{"ukrainian", 2, "Software localised for Ukrainian"},
	{"vietnamese", 2, "Software localised for Vietnamese"},
	{"www", 8, "Web browsers, servers and tools"},
	{"x11", 7, "The X Window System and its core tools"},
	{"x11-clocks", 3, "Clocks for the X Window System"},
	{"x11-drivers", 3, "Drivers for the X server"},
	{"x11-fm", 3, "File managers for the X Window System"},
	{"x11-fonts", 6, "Fonts for the X Window System"},
	{"x11-servers", 2, "X servers"},
	{"x11-themes", 5, "Themes for X desktops and toolkits"},
	{"x11-toolkits", 6, "Graphical toolkits for X"},
	{"x11-wm", 5, "Window managers for X"},
	{"zh-tools", 2, "Chinese input methods and fonts"},
};
constexpr std::size_t ncategories = std::size(categories);
static_assert(ncategories >= 60);

// Second categories: real ones and the virtual ones that real INDEX lines
// carry after the first word.
constexpr const char *extra_categories[] = {
	"python", "perl5", "ruby", "gnome", "kde", "lang", "devel", "net",
	"graphics", "textproc", "sysutils", "www", "x11", "java", "rust",
};

constexpr const char *syllables[] = {
	"ab", "ax", "bel", "bin", "bo", "cal", "cat", "cor", "da", "del",
	"dex", "dra", "el", "en", "fa", "fer", "flo", "fox", "ga", "gen",
	"gi", "glo", "ha", "hex", "in", "io", "ja", "jet", "ka", "kin",
	"la", "lex", "lib", "lo", "lu", "ma", "mar", "mo", "mu", "na",
	"nex", "no", "nu", "o", "om", "pa", "pi", "plo", "qu", "ra",
	"rex", "ri", "ro", "sa", "sel", "si", "so", "sta", "ta", "tek",
	"ti", "to", "tra", "u", "ul", "va", "vex", "vi", "vo", "wa",
	"wi", "xa", "xi", "yo", "za", "zen", "zi", "zo", "qt", "gtk",
};

constexpr const char *name_suffixes[] = {
	"devel", "lite", "utils", "tools", "server", "client", "qt5", "gtk3",
	"nox11", "static", "doc", "plugins", "legacy", "ng",
};

constexpr const char *adjectives[] = {
	"Fast", "Small", "Simple", "Portable", "Lightweight", "Modern",
	"Extensible", "Secure", "Flexible", "Minimal", "Powerful", "Tiny",
	"Generic", "Cross-platform", "Multi-threaded", "Scriptable",
};

constexpr const char *things[] = {
	"library", "tool", "toolkit", "framework", "daemon", "server",
	"client", "viewer", "editor", "parser", "converter", "module",
	"interface", "utility", "engine", "front end", "command line tool",
};

constexpr const char *purposes[] = {
	"for parsing JSON documents", "for reading and writing images",
	"for managing network interfaces", "to query DNS servers",
	"for playing audio files", "for numerical linear algebra",
	"to monitor system resources", "for encrypting files",
	"for editing text files", "to convert between character sets",
	"for building software", "to access SQL databases",
	"for rendering fonts", "for sending mail", "to browse the web",
	"for writing unit tests", "to compress data streams",
	"for drawing charts", "to synchronise directories",
	"for handling XML", "to manage packages", "for scientific plotting",
	"for serial line communication", "to record desktop sessions",
	"for regular expressions", "to schedule jobs", "for 3D modelling",
	"to decode video streams", "for log file analysis",
	"to benchmark disks", "for Python", "for Perl", "for Ruby",
	"written in Rust", "written in Go", "based on GTK", "based on Qt",
};

// Comments that show the three characters a port comment can hold and the
// README has to escape.
constexpr const char *special_comments[] = {
	"Client & server %s", "Bindings for lib%s >= 2.0",
	"Parser for <%s> markup", "Tools for C & C++ projects (%s)",
	"Converter from %s to <html> & back", "Filter for %s output > 80 columns",
	"Reads <%s> tags & writes them back", "Library for %s & friends",
};

constexpr const char *mail_domains[] = {
	"FreeBSD.org", "FreeBSD.org", "FreeBSD.org", "example.org",
	"example.com", "example.net", "mail.example.de", "users.example.jp",
};

constexpr const char *web_hosts[] = {
	"https://www.%s.org/", "https://%s.example.org/", "https://github.com/%s/%s/",
	"https://gitlab.com/%s/%s", "https://%s.sourceforge.net/",
	"http://www.%s.net/software/", "https://pypi.org/project/%s/",
	"https://metacpan.org/release/%s",
};

// Sentences of the descriptions after the first, which names the port.
constexpr const char *description_sentences[] = {
	"It is small, has no dependencies of its own beyond the base system and "
	"builds in a few seconds.",
	"The library offers a C interface and bindings for several scripting "
	"languages.",
	"Configuration lives in a single file whose format is documented in the "
	"manual pages that come with the port.",
	"It reads its input from files or standard input & writes the result to "
	"standard output, so it fits in pipelines.",
	"Version 2 rewrote the core for speed; the old command line options are "
	"still accepted.",
	"Output can be plain text, HTML or <JSON>, chosen by a command line "
	"switch.",
	"A test suite runs with the build when the TEST option is set.",
	"The port installs a daemon, an rc.d script and a command line client "
	"that talks to it.",
	"Plugins extend it with new formats; a few of them are packaged as "
	"separate ports.",
	"It was written for research use and is maintained by a small group of "
	"volunteers.",
	"Unicode text is handled throughout, and messages are translated into "
	"a dozen languages.",
	"The graphical front end is optional and can be left out with the X11 "
	"option.",
	"Its authors describe it as a drop-in replacement for the traditional "
	"tool of the same name, with fewer surprises and better error messages.",
	"Large inputs are processed as a stream, so memory use stays flat no "
	"matter how much data goes through it.",
	"The project follows semantic versioning; minor releases never break "
	"the programming interface.",
	"Documentation in HTML and PDF is installed when the DOCS option is "
	"on, together with a tutorial and a reference of every function.",
	"A companion program converts files written by older versions.",
	"This is the stable branch; the development snapshots are packaged "
	"separately with a -devel suffix.",
	"Note that the default configuration listens only on the loopback "
	"interface; edit the sample file before exposing it to a network.",
	"Support for hardware acceleration is available on amd64 & aarch64 "
	"and is detected at run time.",
	"The original code was released in the late nineties and has been "
	"ported to most Unix-like systems since.",
	"Bug reports and patches are welcome on the project's mailing list.",
};

// The chance, in a thousand, that a port with dependencies needs each core
// port.
constexpr int core_per_mille[] = {350, 250, 180, 120, 80, 50};

struct port {
	std::size_t category;
	std::string name;
	std::string dir;	// "CAT/PORT"
	std::string package;	// name-version
	std::string comment;
	std::string maintainer;
	std::string categories;
	std::string www;
	std::vector<std::size_t> build_deps;
	std::vector<std::size_t> run_deps;
	std::vector<std::size_t> extract_deps;
	std::vector<std::size_t> patch_deps;
	std::vector<std::size_t> fetch_deps;
};

// Byte order with '/' before every other byte: how the ports framework
// orders port directories, so that "net/x" sorts before "net-im/x".
bool
dir_less(const std::string &a, const std::string &b)
{
	std::size_t n = std::min(a.size(), b.size());
	for (std::size_t i = 0; i < n; i++) {
		unsigned ca = static_cast<unsigned char>(a[i]);
		unsigned cb = static_cast<unsigned char>(b[i]);
		if (ca == cb)
			continue;
		unsigned ka = ca == '/' ? 0 : ca + 1;
		unsigned kb = cb == '/' ? 0 : cb + 1;
		return ka < kb;
	}
	return a.size() < b.size();
}

std::string
syllable_word(rng &r, int lo, int hi)
{
	std::string w;
	int n = r.range(lo, hi);
	for (int i = 0; i < n; i++)
		w += r.pick(syllables);
	return w;
}

std::string
capitalised(std::string w)
{
	if (!w.empty() && w[0] >= 'a' && w[0] <= 'z')
		w[0] = static_cast<char>(w[0] - 'a' + 'A');
	return w;
}

const char *const removal_reasons[] = {
    "Has expired: Unmaintained upstream", "Broken for more than 6 months",
    "Abandoned upstream, use the fork instead",
    "Has expired: Depends on expired ports"};
const char *const move_reasons[] = {"Renamed to match upstream",
    "Moved to a better category", "Project renamed",
    "Merged into the main port", "Flavor dropped"};

std::string
port_name(rng &r)
{
	std::string name;
	int kind = r.range(0, 99);
	if (kind < 58) {
		name = syllable_word(r, 2, 3);
	} else if (kind < 68) {
		name = "py-";
		name += syllable_word(r, 2, 3);
	} else if (kind < 73) {
		name = "p5-";
		name += capitalised(syllable_word(r, 1, 2));
		name += '-';
		name += capitalised(syllable_word(r, 1, 2));
	} else if (kind < 77) {
		name = "rubygem-";
		name += syllable_word(r, 2, 3);
	} else if (kind < 89) {
		name = syllable_word(r, 1, 3);
		name += '-';
		name += r.pick(name_suffixes);
	} else {
		name = syllable_word(r, 2, 3);
		name += std::to_string(r.range(0, 12));
	}
	return name;
}

std::string
package_base(rng &r, const std::string &name)
{
	std::string base;
	if (name.compare(0, 3, "py-") == 0) {
		base = "py311-";
		base.append(name, 3);
	} else {
		if (r.chance(30))
			base = "lib";
		base += name;
	}
	return base;
}

std::string
version(rng &r)
{
	// Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
	// "literal" + std::string temporaries.
	std::string v;
	int style = r.range(0, 9);
	if (style == 0) {
		v += std::to_string(r.range(2015, 2025));
		v += '.';
		v += std::to_string(r.range(1, 12));
		v += '.';
		v += std::to_string(r.range(1, 28));
	} else {
		v += std::to_string(r.range(0, 20));
		v += '.';
		v += std::to_string(r.range(0, 30));
		if (style > 3) {
			v += '.';
			v += std::to_string(r.range(0, 15));
		}
	}
	if (r.chance(250)) {
		v += '_';
		v += std::to_string(r.range(1, 9));
	}
	if (r.chance(40)) {
		v += ',';
		v += std::to_string(r.range(1, 3));
	}
	return v;
}

std::string
format(const char *fmt, const std::string &a, const std::string &b)
{
	char buf[512];
	// The formats here are the fixed tables above; each takes one or two
	// strings and ignores a second it does not use.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
	std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
#pragma GCC diagnostic pop
	return buf;
}

std::string
comment(rng &r, const std::string &name, bool special)
{
	if (special)
		return format(r.pick(special_comments), name, "");
	std::string c = r.pick(adjectives);
	c += " ";
	c += r.pick(things);
	c += " ";
	c += r.pick(purposes);
	return c;
}

std::string
maintainer(rng &r)
{
	if (r.chance(120))
		return "ports@FreeBSD.org";
	std::string user = syllable_word(r, 1, 3);
	if (r.chance(200)) {
		user += '.';
		user += syllable_word(r, 1, 2);
	}
	user += '@';
	user += r.pick(mail_domains);
	return user;
}

// The maintainers' pool: some 2,000 addresses per 35,000 ports, drawn from
// a stream of their own. A port's maintainer is picked from it with the
// weight 1 / (rank + 30)^1.4, so that a few hold hundreds of ports and many
// one or two, as in the real collection.
struct maintainer_pool {
	std::vector<std::string> address;
	std::vector<double> cumulative;
};

maintainer_pool
make_maintainer_pool(rng &r, std::size_t nports)
{
	maintainer_pool pool;
	std::size_t n = nports * 2000 / 35000;
	if (n == 0)
		n = 1;
	std::unordered_set<std::string> seen;
	double total = 0;
	while (pool.address.size() < n) {
		std::string a = maintainer(r);
		if (a == "ports@FreeBSD.org" || !seen.insert(a).second)
			continue;
		total += 1 / std::pow(static_cast<double>(pool.address.size()) +
		    30, 1.4);
		pool.address.push_back(a);
		pool.cumulative.push_back(total);
	}
	return pool;
}

const std::string &
pick_maintainer(rng &r, const maintainer_pool &pool)
{
	double x = static_cast<double>(r.next() >> 11) * 0x1p-53 *
	    pool.cumulative.back();
	auto it = std::upper_bound(pool.cumulative.begin(),
	    pool.cumulative.end(), x);
	if (it == pool.cumulative.end())
		--it;
	return pool.address[static_cast<std::size_t>(
	    it - pool.cumulative.begin())];
}

std::string
web_site(rng &r, const std::string &name)
{
	if (r.chance(150))
		return "";
	return format(r.pick(web_hosts), name, name);
}

// Picks n distinct other ports, most of them from a pool of popular ones
// (the libraries and build tools that real ports share) and the rest from
// anywhere.
std::vector<std::size_t>
pick_deps(rng &r, std::size_t self, int n, std::size_t nports,
    const std::vector<std::size_t> &popular)
{
	std::vector<std::size_t> deps;
	std::unordered_set<std::size_t> seen;
	seen.insert(self);
	int misses = 0;
	while (static_cast<int>(deps.size()) < n && misses < 100000) {
		std::size_t d = r.chance(600) ? popular[r.below(popular.size())] :
		    static_cast<std::size_t>(r.below(nports));
		if (!seen.insert(d).second) {
			misses++;
			continue;
		}
		deps.push_back(d);
	}
	return deps;
}

int
dep_count(rng &r)
{
	if (r.chance(60))
		return r.range(20, 60);
	if (r.chance(300))
		return 0;
	return r.range(0, 15);
}

int
usage()
{
	std::fputs("usage: gen_tree DIR [--scale N] [--seed S] [--ports N]\n",
	    stderr);
	return 2;
}

bool
make_dir(const std::string &path)
{
	if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
		return true;
	std::perror(path.c_str());
	return false;
}

bool
write_file(const std::string &path, std::string_view text)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	if (fd < 0) {
		std::perror(path.c_str());
		return false;
	}
	const char *p = text.data();
	std::size_t left = text.size();
	while (left > 0) {
		ssize_t n = write(fd, p, left);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			std::perror(path.c_str());
			(void)close(fd);
			return false;
		}
		p += n;
		left -= static_cast<std::size_t>(n);
	}
	if (close(fd) != 0) {
		std::perror(path.c_str());
		return false;
	}
	return true;
}

void
append_deps(std::string &out, const std::vector<std::size_t> &deps,
    const std::vector<port> &ports)
{
	for (std::size_t i = 0; i < deps.size(); i++) {
		if (i > 0)
			out += ' ';
		out += ports[deps[i]].package;
	}
}

// Items of the indented feature lists that some descriptions hold.
constexpr const char *feature_items[] = {
	"reads and writes the common formats", "a command line interface",
	"bindings for Python, Perl & Ruby", "IPv6 support",
	"TLS through OpenSSL or LibreSSL", "a plugin interface",
	"no dependencies beyond libc", "configurable key bindings",
	"Unicode & right-to-left text", "a small memory footprint",
	"an optional graphical front end", "scripting with Lua",
	"batch processing of <many> files at once", "man pages and examples",
	"a test suite of several hundred cases", "color output on terminals",
};

// Rows of the aligned columns that a few descriptions hold.
constexpr const char *column_rows[] = {
	"-h, --help       show a summary of the options",
	"-v, --verbose    say more about what is done",
	"-q, --quiet      say nothing but errors",
	"-o FILE          write the output to FILE",
	"-n               do not change anything",
	"-r, --recursive  descend into directories",
	"--version        print the version and exit",
};

// Wraps text at 72 columns, as pkg-descr files are wrapped, onto out.
void
wrap(std::string &out, const std::string &text)
{
	std::size_t column = 0;
	for (std::size_t pos = 0; pos < text.size();) {
		std::size_t end = std::min(text.find(' ', pos), text.size());
		std::size_t length = end - pos;
		if (column > 0 && column + 1 + length > 72) {
			out += '\n';
			column = 0;
		} else if (column > 0) {
			out += ' ';
			column++;
		}
		out.append(text, pos, length);
		column += length;
		pos = end + 1;
	}
	out += '\n';
}

// The description of a port, shaped like a real one: a paragraph whose
// first sentence names the port, sometimes more paragraphs, sometimes an
// indented list or a block of aligned columns, all hard-wrapped at 72
// columns, and its web site on a WWW: line. Most are a few hundred bytes,
// some a few kilobytes.
std::string
description(rng &r, const port &p)
{
	std::string text = capitalised(p.name);
	text += " is a ";
	std::string adjective = r.pick(adjectives);
	if (!adjective.empty() && adjective[0] >= 'A' && adjective[0] <= 'Z')
		adjective[0] = static_cast<char>(adjective[0] - 'A' + 'a');
	text += adjective;
	text += ' ';
	text += r.pick(things);
	text += ' ';
	text += r.pick(purposes);
	text += '.';
	int n = r.range(1, 6);
	for (int i = 0; i < n; i++) {
		text += ' ';
		text += r.pick(description_sentences);
	}
	std::string out;
	wrap(out, text);
	if (r.chance(200)) {
		// A list, indented by a tab or by spaces.
		out += "\nFeatures:\n";
		const char *indent = r.chance(500) ? "\t- " : "  * ";
		for (int i = r.range(3, 8); i > 0; i--) {
			out += indent;
			out += r.pick(feature_items);
			out += '\n';
		}
	}
	if (r.chance(80)) {
		// Options in aligned columns.
		out += "\nUsage: ";
		out += p.name;
		out += " [options] file ...\n\n";
		for (int i = r.range(3, 7); i > 0; i--) {
			out += "    ";
			out += r.pick(column_rows);
			out += '\n';
		}
	}
	// More paragraphs: none for about half of the ports, up to four.
	int more = r.chance(500) ? 0 : r.chance(600) ? 1 : r.range(2, 4);
	for (int k = 0; k < more; k++) {
		text.clear();
		for (int i = r.range(2, 7); i > 0; i--) {
			if (!text.empty())
				text += ' ';
			text += r.pick(description_sentences);
		}
		out += '\n';
		wrap(out, text);
	}
	if (!p.www.empty()) {
		out += "\nWWW: ";
		out += p.www;
		out += '\n';
	}
	return out;
}

// A port's flavors and options, in the shapes of real Makefiles: one port
// in eight has flavors (suffixes or prefixes for all but the default), every
// port the usual plain options, most a few more with their descriptions
// and defaults, a third a group of some kind, and some an option added only
// inside a conditional.
void
port_choices(rng &r, std::string &mk)
{
	static constexpr const char *flavor_sets[][3] = {
	    {"default", "nox11", "lite"}, {"py311", "py312", "py313"},
	    {"qt5", "qt6", nullptr}, {"default", "tiny", nullptr}};
	static constexpr const char *extra_options[] = {"GSSAPI", "IPV6",
	    "LDAP", "LUA", "PAM", "PERL", "PYTHON", "SASL", "SSL", "TCL",
	    "X11", "ZSTD"};
	static constexpr const char *group_kinds[] = {
	    "SINGLE", "RADIO", "MULTI", "GROUP"};
	static constexpr const char *group_members[][3] = {
	    {"GNUTLS", "OPENSSL", "WOLFSSL"}, {"MYSQL", "PGSQL", "SQLITE"},
	    {"GTK3", "QT5", "QT6"}, {"LIBEDIT", "READLINE", nullptr}};
	static constexpr const char *group_names[] = {
	    "TLS", "DATABASE", "TOOLKIT", "LINEEDIT"};
	if (r.chance(125)) {
		const auto &set = flavor_sets[r.below(4)];
		bool prefix = set[0][0] == 'p' || set[0][0] == 'q';
		mk += "FLAVORS=\t";
		for (std::size_t i = 0; i < 3 && set[i] != nullptr; i++) {
			mk += i > 0 ? " " : "";
			mk += set[i];
		}
		mk += '\n';
		for (std::size_t i = prefix ? 0 : 1; i < 3 && set[i] != nullptr;
		     i++) {
			mk += set[i];
			mk += prefix ? "_PKGNAMEPREFIX=\t" : "_PKGNAMESUFFIX=\t-";
			mk += set[i];
			mk += prefix ? "-\n" : "\n";
		}
		mk += '\n';
	}
	mk += "OPTIONS_DEFINE=\tDOCS EXAMPLES NLS";
	int extra = r.chance(600) ? r.range(1, 5) : 0;
	std::string defaults, descs;
	std::size_t first = r.below(std::size(extra_options));
	for (int i = 0; i < extra; i++) {
		const char *o = extra_options[(first + static_cast<std::size_t>(i)) %
		    std::size(extra_options)];
		mk += ' ';
		mk += o;
		if (r.chance(500)) {
			defaults += ' ';
			defaults += o;
		}
		descs += o;
		descs += "_DESC=\t";
		descs += o;
		descs += " support in ${PORTNAME}\n";
	}
	mk += "\nOPTIONS_DEFAULT=\tDOCS NLS";
	mk += defaults;
	mk += "\nOPTIONS_SUB=\tyes\n";
	if (r.chance(330)) {
		std::size_t g = r.below(4);
		const char *kind = r.pick(group_kinds);
		mk += "OPTIONS_";
		mk += kind;
		mk += "=\t";
		mk += group_names[g];
		mk += "\nOPTIONS_";
		mk += kind;
		mk += '_';
		mk += group_names[g];
		mk += "=\t";
		for (std::size_t i = 0; i < 3 && group_members[g][i] != nullptr;
		     i++) {
			mk += i > 0 ? " " : "";
			mk += group_members[g][i];
		}
		mk += "\n";
		descs += group_names[g];
		descs += "_DESC=\tWhich ";
		descs += group_names[g];
		descs += " to build with\n";
	}
	mk += descs;
	mk += "NLS_USES=\tgettext\nNLS_CONFIGURE_ENABLE=\tnls\n\n";
	if (r.chance(100))
		mk += ".if ${ARCH} == amd64\nOPTIONS_DEFINE+=\tSIMD\n"
		      "SIMD_DESC=\tVector instructions\n.endif\n\n";
}

// The Makefile of port p, some 700 bytes to 2 KiB, as real ones are.
std::string
port_makefile(rng &r, const port &p)
{
	static constexpr const char *licences[] = {"BSD2CLAUSE", "MIT",
	    "GPLv2", "GPLv3", "APACHE20", "LGPL21", "ISCL", "BSD3CLAUSE"};
	static constexpr const char *uses[] = {"cmake", "gmake", "pkgconfig",
	    "python", "gettext", "libtool", "tar:xz", "autoreconf", "meson",
	    "ninja", "ssl", "perl5"};
	std::string version = p.package.substr(p.package.rfind('-') + 1);
	std::string dist = version.substr(0, version.find_first_of("_,"));
	std::string mk = "PORTNAME=\t";
	mk += p.name;
	mk += "\nDISTVERSION=\t";
	mk += dist;
	if (version.find('_') != std::string::npos) {
		mk += "\nPORTREVISION=\t";
		mk += version.substr(version.find('_') + 1,
		    version.find(',') == std::string::npos
			? std::string::npos
			: version.find(',') - version.find('_') - 1);
	}
	if (version.find(',') != std::string::npos) {
		mk += "\nPORTEPOCH=\t";
		mk += version.substr(version.find(',') + 1);
	}
	mk += "\nCATEGORIES=\t";
	mk += p.categories;
	mk += "\nMASTER_SITES=\t";
	mk += p.www;
	mk += "releases/\n\nMAINTAINER=\t";
	mk += p.maintainer;
	mk += "\nCOMMENT=\t";
	mk += p.comment;
	mk += "\nWWW=\t\t";
	mk += p.www;
	mk += "\n\n";
	if (!r.chance(80)) {
		mk += "LICENSE=\t";
		mk += r.pick(licences);
		if (r.chance(60)) {
			mk += ' ';
			mk += r.pick(licences);
			mk += "\nLICENSE_COMB=\tdual";
		}
		mk += "\nLICENSE_FILE=\t${WRKSRC}/LICENSE\n\n";
	}
	if (r.chance(25)) {
		mk += "DEPRECATED=\tAbandoned upstream, use ";
		mk += syllable_word(r, 2, 3);
		mk += " instead\nEXPIRATION_DATE=\t";
		mk += std::to_string(r.range(2025, 2027));
		char date[8];
		std::snprintf(date, sizeof date, "-%02d-%02d", r.range(1, 12),
		    r.range(1, 28));
		mk += date;
		mk += '\n';
	}
	if (r.chance(6))
		mk += "BROKEN=\t\tfails to build with the current compiler\n";
	if (r.chance(3))
		mk += "IGNORE=\t\tneeds a source tree that is not public\n";
	if (r.chance(1))
		mk += "FORBIDDEN=\tknown vulnerabilities left unfixed\n";
	mk += "\nUSES=\t\t";
	int n = r.range(1, 4);
	for (int i = 0; i < n; i++) {
		mk += i > 0 ? " " : "";
		mk += r.pick(uses);
	}
	mk += "\nGNU_CONFIGURE=\tyes\nCONFIGURE_ARGS=\t--disable-static \\\n"
	      "\t\t--with-pic \\\n\t\t--without-";
	mk += syllable_word(r, 1, 2);
	mk += "\n\n";
	port_choices(r, mk);
	if (r.chance(30))
		mk += ".include <bsd.port.options.mk>\n\n"
		      ".if ${ARCH} == i386\n"
		      "BROKEN=\t\tdoes not link on i386\n.endif\n\n";
	mk += "post-install:\n\t${STRIP_CMD} ${STAGEDIR}${PREFIX}/bin/";
	mk += p.name;
	mk += "\n\n.include <bsd.port.mk>\n";
	return mk;
}

// A port's pkg-message: mostly UCL objects with heredocs and version
// bounds, as current ports write them; one in five plain text.
std::string
pkg_message_text(rng &r, const port &p)
{
	std::string text;
	if (r.chance(200)) {
		text += "To use ";
		text += p.name;
		text += ", add yourself to the \"operator\" group and log in again.\n";
		text += "Its configuration is in /usr/local/etc/";
		text += p.name;
		text += ".conf.\n";
		return text;
	}
	text += "[\n{ type: install\n  message: <<EOM\n";
	int lines = r.range(2, 12);
	for (int i = 0; i < lines; i++) {
		text += i % 3 == 0 ? "  # sysrc " : "The ";
		text += p.name;
		text += i % 3 == 0 ? "_enable=YES\n"
				   : " service reads its settings at start; <see> the "
				     "manual & restart it.\n";
	}
	text += "EOM\n}\n";
	if (r.chance(400)) {
		text += "{ type: upgrade\n  maximum_version: \"";
		text += std::to_string(r.range(1, 9));
		text += ".0\"\n  message: <<EOM\nThe format of the database changed: "
			"run the migration before you start it.\nEOM\n}\n";
	}
	if (r.chance(200))
		text += "{ type: remove\n  message: \"Your data in /var/db/" +
		    p.name + " is kept.\"\n}\n";
	text += "]\n";
	return text;
}

// MOVED at the top: lines lines, dated in order from 2004 on. Renames lead
// into ports of the tree, some through a chain; a third are removals; one
// in twenty carries a flavor.
std::size_t
write_moved(rng &r, const std::string &top, const std::vector<port> &ports,
    std::size_t lines)
{
	std::string text =
	    "#\n# MOVED -- A list of (recently) moved or removed ports\n#\n"
	    "# Each entry: old|new|YYYY-MM-DD|reason\n#\n";
	std::vector<std::string> chain; // renamed origins that may move again
	for (std::size_t i = 0; i < lines; i++) {
		const port &target = ports[r.below(ports.size())];
		std::string old = categories[target.category].name;
		old += '/';
		old += port_name(r);
		if (!chain.empty() && r.chance(150)) {
			old = chain[r.below(chain.size())];
		}
		std::string to;
		int kind = r.range(0, 99);
		if (kind < 33) {
			// removed
		} else if (kind < 45) {
			to = categories[target.category].name;
			to += '/';
			to += port_name(r);
			chain.push_back(to);
		} else {
			to = target.dir;
		}
		if (r.chance(50)) {
			old += "@py";
			old += std::to_string(r.range(38, 312));
		}
		int year = 2004 + static_cast<int>(i * 22 / lines);
		char date[16];
		std::snprintf(date, sizeof date, "%04d-%02d-%02d", year,
		    r.range(1, 12), r.range(1, 28));
		text += old + "|" + to + "|" + date + "|";
		text += to.empty() ? r.pick(removal_reasons) : r.pick(move_reasons);
		text += '\n';
	}
	return write_file(top + "/MOVED", text) ? text.size() : 0;
}

// UPDATING at the top: notes of some 8 to 14 lines, newest first, until
// lines lines are written.
std::size_t
write_updating(rng &r, const std::string &top, const std::vector<port> &ports,
    std::size_t lines)
{
	std::string text =
	    "This file documents some of the problems you may encounter when "
	    "upgrading\nyour ports.\n\n";
	std::size_t written = 3;
	int day = 0;
	while (written < lines) {
		const port &p = ports[r.below(ports.size())];
		const port &q = ports[r.below(ports.size())];
		const std::string cat = categories[p.category].name;
		std::string affects;
		int kind = r.range(0, 99);
		if (kind < 50) {
			affects = "Users of " + p.dir;
		} else if (kind < 62) {
			affects = p.dir + " and " + q.dir;
		} else if (kind < 72) {
			affects = p.dir + ", " + q.dir;
		} else if (kind < 82) {
			affects = cat + "/" + p.name.substr(0, 3) + "*";
		} else if (kind < 88) {
			affects = "users of " + cat + "/{" + p.name + "," +
			    port_name(r) + "}";
		} else if (kind < 93) {
			affects = cat + "/" + p.name + "-(server|client)";
		} else {
			affects = "everyone";
		}
		// Newest first: the date goes back a day or a few per note.
		day += r.range(0, 3);
		int year = 2026 - day / 336, month = 12 - day % 336 / 28,
		    dd = 28 - day % 28;
		char date[16];
		std::snprintf(date, sizeof date, "%04d%02d%02d:\n", year, month,
		    dd);
		text += date;
		text += "  AFFECTS: " + affects + "\n";
		text += "  AUTHOR: " + p.maintainer + "\n\n";
		int body = r.range(3, 9);
		for (int i = 0; i < body; i++)
			text += i == body - 1 ? "  # pkg upgrade -f " + p.name + "\n"
					      : "  The port was updated; its "
						"configuration format changed "
						"& needs a look.\n";
		text += "\n";
		written += 5 + static_cast<std::size_t>(body);
	}
	return write_file(top + "/UPDATING", text) ? text.size() : 0;
}

// A year file of the vulnerability database: count entries of that year,
// the newest first, as the real files keep them. Each names one to three
// packages: a port of the tree with a range that holds its version one time
// in twenty-five and otherwise ends at it, or a name the tree lacks.
std::string
vuxml_year(rng &r, int year, int count, const std::vector<port> &ports)
{
	std::string out;
	for (int i = 0; i < count; i++) {
		int day_of_year = 365 - (i * 365) / count;
		char date[16];
		std::snprintf(date, sizeof date, "%04d-%02d-%02d", year,
		    1 + (day_of_year - 1) / 31 % 12, 1 + (day_of_year - 1) % 28);
		char vid[64];
		std::snprintf(vid, sizeof vid,
		    "%08" PRIx64 "-%04x-11f0-%04x-%012" PRIx64,
		    static_cast<std::uint64_t>(r.next() & 0xffffffffU),
		    static_cast<unsigned>(year),
		    static_cast<unsigned>(i),
		    static_cast<std::uint64_t>(r.next() & 0xffffffffffffU));
		const port &first = ports[r.below(ports.size())];
		out += "  <vuln vid=\"";
		out += vid;
		out += "\">\n    <topic>";
		out += first.name;
		out += " -- ";
		out += r.chance(500) ? "multiple vulnerabilities"
				     : "remote code execution &amp; denial of service";
		out += "</topic>\n    <affects>\n";
		int packages = r.range(1, 3);
		for (int k = 0; k < packages; k++) {
			const port &p = k == 0 ? first : ports[r.below(ports.size())];
			std::string package = p.package;
			std::size_t dash = package.rfind('-');
			std::string name = package.substr(0, dash);
			std::string v = package.substr(dash + 1);
			out += "      <package>\n\t<name>";
			if (r.chance(200)) {
				out += "linux-";
				out += name;
			} else {
				out += name;
			}
			out += "</name>\n\t<range>";
			if (r.chance(40)) {
				out += "<le>";
				out += v;
				out += "</le>";
			} else {
				if (r.chance(500))
					out += "<ge>0</ge>";
				out += "<lt>";
				out += v;
				out += "</lt>";
			}
			out += "</range>\n      </package>\n";
		}
		out += "    </affects>\n    <description>\n"
		       "      <body xmlns=\"http://www.w3.org/1999/xhtml\">\n"
		       "\t<p>The ";
		out += first.name;
		out += " project reports:</p>\n\t<blockquote cite=\"";
		out += first.www;
		out += "security.html\">\n\t  <p>";
		int words = r.range(60, 200);
		for (int w = 0; w < words; w++) {
			out += w > 0 ? (w % 12 == 0 ? "\n\t  " : " ") : "";
			out += syllable_word(r, 1, 3);
		}
		out += ".</p>\n\t</blockquote>\n      </body>\n"
		       "    </description>\n    <references>\n";
		int cves = r.range(0, 4);
		for (int k = 0; k < cves; k++) {
			out += "      <cvename>CVE-";
			out += std::to_string(year);
			out += '-';
			out += std::to_string(r.range(1000, 99999));
			out += "</cvename>\n";
		}
		out += "      <url>";
		out += first.www;
		out += "security.html</url>\n    </references>\n"
		       "    <dates>\n      <discovery>";
		out += date;
		out += "</discovery>\n      <entry>";
		out += date;
		out += "</entry>\n    </dates>\n  </vuln>\n\n";
	}
	return out;
}

// security/vuxml below top: vuln.xml and its year files, some 6,000
// entries (at every scale: the database does not grow with the tree).
// Returns the entries written, or 0 after a failed write.
std::size_t
write_vuxml(rng &r, const std::string &top, const std::vector<port> &ports,
    std::size_t *bytes)
{
	std::string dir = top + "/security/vuxml";
	if (!make_dir(top + "/security") || !make_dir(dir) ||
	    !make_dir(dir + "/vuln"))
		return 0;
	std::string main = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
			   "<!DOCTYPE vuxml PUBLIC \"-//vuxml.org//DTD VuXML "
			   "1.1//EN\" \"http://www.vuxml.org/dtd/vuxml-1/"
			   "vuxml-11.dtd\" [\n";
	for (int year = 2003; year <= 2026; year++)
		main += "<!ENTITY vuln-" + std::to_string(year) +
		    " SYSTEM \"vuln/" + std::to_string(year) + ".xml\">\n";
	main += "]>\n<!-- A generated vulnerability database. -->\n"
		"<vuxml xmlns=\"http://www.vuxml.org/apps/vuxml-1\">\n";
	for (int year = 2026; year >= 2003; year--)
		main += "&vuln-" + std::to_string(year) + ";\n";
	main += "</vuxml>\n";
	if (!write_file(dir + "/vuln.xml", main))
		return 0;
	*bytes = main.size();
	std::size_t entries = 0;
	for (int year = 2003; year <= 2026; year++) {
		// Later years have more entries, as the real ones do.
		int count = 100 + (year - 2003) * 13;
		std::string text = vuxml_year(r, year, count, ports);
		if (!write_file(dir + "/vuln/" + std::to_string(year) + ".xml",
			text))
			return 0;
		*bytes += text.size();
		entries += static_cast<std::size_t>(count);
	}
	return entries;
}

bool
parse_number(const char *text, std::uint64_t &value)
{
	char *end;
	errno = 0;
	unsigned long long v = std::strtoull(text, &end, 10);
	if (errno != 0 || end == text || *end != '\0')
		return false;
	value = v;
	return true;
}

} // namespace

int
main(int argc, char **argv)
{
	const char *dir = nullptr;
	std::uint64_t scale = 1, seed = 1, port_count = 0;

	for (int i = 1; i < argc; i++) {
		std::string_view arg = argv[i];
		if (arg == "--scale" && i + 1 < argc) {
			if (!parse_number(argv[++i], scale) || scale == 0 ||
			    scale > 64)
				return usage();
		} else if (arg == "--seed" && i + 1 < argc) {
			if (!parse_number(argv[++i], seed))
				return usage();
		} else if (arg == "--ports" && i + 1 < argc) {
			// A smaller tree of the same shape, for trying things.
			if (!parse_number(argv[++i], port_count) ||
			    port_count < 1000 || port_count > 35000 * 64)
				return usage();
		} else if (arg.size() > 0 && arg[0] != '-' && dir == nullptr) {
			dir = argv[i];
		} else {
			return usage();
		}
	}
	if (dir == nullptr)
		return usage();

	for (std::size_t c = 1; c < ncategories; c++) {
		if (std::strcmp(categories[c - 1].name, categories[c].name) >= 0) {
			std::fputs("gen_tree: category table not sorted\n", stderr);
			return 1;
		}
	}

	rng r{seed};
	const std::size_t nports =
	    port_count != 0 ? port_count : 35000 * scale;

	// Ports per category: the weights with a little noise, then the
	// rounding remainder handed out from the first category on.
	std::vector<double> share(ncategories);
	double total = 0;
	for (std::size_t c = 0; c < ncategories; c++) {
		share[c] = categories[c].weight * (0.85 + r.range(0, 30) / 100.0);
		total += share[c];
	}
	std::vector<std::size_t> count(ncategories);
	std::size_t assigned = 0;
	for (std::size_t c = 0; c < ncategories; c++) {
		count[c] = static_cast<std::size_t>(nports * share[c] / total);
		if (count[c] == 0)
			count[c] = 1;
		assigned += count[c];
	}
	for (std::size_t c = 0; assigned < nports; c = (c + 1) % ncategories) {
		count[c]++;
		assigned++;
	}

	std::vector<port> ports;
	ports.reserve(nports);
	for (std::size_t c = 0; c < ncategories; c++) {
		std::unordered_set<std::string> names;
		for (std::size_t i = 0; i < count[c]; i++) {
			std::string name = port_name(r);
			for (int tries = 0; names.count(name) != 0; tries++) {
				name = port_name(r);
				if (tries >= 8)
					name += std::to_string(tries);
			}
			names.insert(name);
			port p;
			p.category = c;
			p.name = name;
			p.dir = std::string(categories[c].name) + "/" + name;
			ports.push_back(std::move(p));
		}
	}
	std::sort(ports.begin(), ports.end(),
	    [](const port &a, const port &b) { return dir_less(a.dir, b.dir); });
	for (std::size_t i = 1; i < ports.size(); i++) {
		if (ports[i].category < ports[i - 1].category) {
			std::fputs("gen_tree: category order broken\n", stderr);
			return 1;
		}
	}

	std::vector<std::size_t> popular;
	for (int i = 0; i < 300; i++)
		popular.push_back(static_cast<std::size_t>(r.below(nports)));
	std::unordered_set<std::size_t> giants;
	while (giants.size() < (nports + 3499) / 3500)
		giants.insert(static_cast<std::size_t>(r.below(nports)));

	rng maintainer_rng{seed ^ 0x3a1e7a1eULL};
	const maintainer_pool pool = make_maintainer_pool(maintainer_rng,
	    nports);

	std::size_t specials = 0;
	for (std::size_t i = 0; i < ports.size(); i++) {
		port &p = ports[i];
		p.package = package_base(r, p.name);
		p.package += '-';
		p.package += version(r);
		bool special = r.chance(30);
		specials += special;
		p.comment = comment(r, p.name, special);
		// The draw of the main stream is kept, so that the rest of
		// the tree stays as it was; only the address comes from the
		// pool.
		p.maintainer = maintainer(r);
		if (p.maintainer != "ports@FreeBSD.org")
			p.maintainer = pick_maintainer(maintainer_rng, pool);
		p.categories = categories[p.category].name;
		if (r.chance(250)) {
			p.categories += " ";
			p.categories += r.pick(extra_categories);
		}
		p.www = web_site(r, p.name);
		int nb, nr;
		if (giants.count(i) != 0) {
			nb = r.range(200, 400);
			nr = r.range(200, 400);
		} else {
			nb = dep_count(r);
			nr = dep_count(r);
		}
		p.build_deps = pick_deps(r, i, nb, nports, popular);
		p.run_deps = pick_deps(r, i, nr, nports, popular);
		if (r.chance(100))
			p.extract_deps = pick_deps(r, i, r.range(1, 2), nports,
			    popular);
		if (r.chance(20))
			p.patch_deps = pick_deps(r, i, 1, nports, popular);
		if (r.chance(10))
			p.fetch_deps = pick_deps(r, i, 1, nports, popular);
	}

	// The core ports, from a stream of their own.
	rng core_rng{seed ^ 0xc0de5eedULL};
	std::vector<std::size_t> core;
	while (core.size() < std::size(core_per_mille)) {
		std::size_t c = static_cast<std::size_t>(core_rng.below(nports));
		if (std::find(core.begin(), core.end(), c) == core.end())
			core.push_back(c);
	}
	for (std::size_t i = 0; i < ports.size(); i++) {
		port &p = ports[i];
		if (p.build_deps.empty() && p.run_deps.empty())
			continue;
		for (std::size_t k = 0; k < core.size(); k++) {
			if (core[k] == i || !core_rng.chance(core_per_mille[k]))
				continue;
			bool to_run = core_rng.chance(400);
			for (auto *deps : {&p.build_deps, &p.run_deps}) {
				if (deps == &p.run_deps && !to_run)
					continue;
				if (std::find(deps->begin(), deps->end(),
					core[k]) == deps->end())
					deps->push_back(core[k]);
			}
		}
	}
	// What the port pages will show: the longest dependency field and the
	// most dependents of one port.
	std::vector<std::size_t> dependents(nports);
	std::size_t most_deps = 0;
	for (std::size_t i = 0; i < ports.size(); i++) {
		const port &p = ports[i];
		most_deps = std::max(
		    {most_deps, p.build_deps.size(), p.run_deps.size()});
		std::unordered_set<std::size_t> named(
		    p.build_deps.begin(), p.build_deps.end());
		named.insert(p.run_deps.begin(), p.run_deps.end());
		for (std::size_t d : named)
			dependents[d]++;
	}
	std::size_t most_dependents =
	    *std::max_element(dependents.begin(), dependents.end());

	std::string top = dir;
	if (!make_dir(top))
		return 1;

	std::string index;
	for (const port &p : ports) {
		index += p.package;
		index += "|/usr/ports/";
		index += p.dir;
		index += "|/usr/local|";
		index += p.comment;
		index += "|/usr/ports/";
		index += p.dir;
		index += "/pkg-descr|";
		index += p.maintainer;
		index += '|';
		index += p.categories;
		index += '|';
		append_deps(index, p.build_deps, ports);
		index += '|';
		append_deps(index, p.run_deps, ports);
		index += '|';
		index += p.www;
		index += '|';
		append_deps(index, p.extract_deps, ports);
		index += '|';
		append_deps(index, p.patch_deps, ports);
		index += '|';
		append_deps(index, p.fetch_deps, ports);
		index += '\n';
	}
	if (!write_file(top + "/INDEX-15", index))
		return 1;

	std::string makefile = "# Top-level Makefile of a generated ports tree.\n"
	    "#\n\n";
	for (const category_info &c : categories) {
		makefile += "SUBDIR += ";
		makefile += c.name;
		makefile += '\n';
	}
	makefile += "\nPORTSTOP=\tyes\n\n.include <bsd.port.subdir.mk>\n";
	if (!write_file(top + "/Makefile", makefile))
		return 1;

	rng text_rng{seed ^ 0xde5c0000ULL};
	rng makefile_rng{seed ^ 0x3a4ef11eULL};
	rng message_rng{seed ^ 0x9e55a9e0ULL};
	std::size_t descriptions = 0, makefiles = 0, messages = 0;
	std::size_t next = 0, largest = 0, largest_link_bytes = 0;
	for (std::size_t c = 0; c < ncategories; c++) {
		std::string cdir = top + "/" + categories[c].name;
		if (!make_dir(cdir))
			return 1;
		std::string mk = "# Makefile for the ";
		mk += categories[c].name;
		mk += " category.\n#\n\n    COMMENT = ";
		mk += categories[c].comment;
		mk += "\n\n";
		std::size_t n = 0, link_bytes = 0;
		for (; next < ports.size() && ports[next].category == c; next++) {
			const port &p = ports[next];
			mk += "    SUBDIR += ";
			mk += p.name;
			mk += '\n';
			std::string text = description(text_rng, p);
			descriptions += text.size();
			std::string port_mk = port_makefile(makefile_rng, p);
			makefiles += port_mk.size();
			if (!make_dir(cdir + "/" + p.name) ||
			    !write_file(cdir + "/" + p.name + "/pkg-descr", text) ||
			    !write_file(cdir + "/" + p.name + "/Makefile", port_mk))
				return 1;
			if (message_rng.chance(100)) {
				messages++;
				if (!write_file(cdir + "/" + p.name + "/pkg-message",
					pkg_message_text(message_rng, p)))
					return 1;
			}
			n++;
			// The category README's link line of this port; the
			// comment is counted as if every byte were escaped
			// to "&amp;" only where it holds & < or >.
			link_bytes += 30 + p.name.size() + p.package.size() +
			    p.comment.size();
			for (char ch : p.comment)
				link_bytes += ch == '&' ? 4 : ch == '<' || ch == '>' ? 3 : 0;
		}
		mk += "\n.include <bsd.port.subdir.mk>\n";
		if (!write_file(cdir + "/Makefile", mk))
			return 1;
		largest = std::max(largest, n);
		largest_link_bytes = std::max(largest_link_bytes, link_bytes);
	}

	rng vuxml_rng{seed ^ 0x5ec0de00ULL};
	std::size_t vuxml_bytes = 0;
	std::size_t entries = write_vuxml(vuxml_rng, top, ports, &vuxml_bytes);
	if (entries == 0)
		return 1;

	rng notes_rng{seed ^ 0x40fed000ULL};
	std::size_t moved_bytes = write_moved(notes_rng, top, ports, 13000);
	std::size_t updating_bytes =
	    write_updating(notes_rng, top, ports, 10000);
	if (moved_bytes == 0 || updating_bytes == 0)
		return 1;

	std::printf("%s: %zu ports, %zu categories, INDEX-15 %zu bytes, "
	    "largest category %zu ports (%zu bytes of links), "
	    "%zu comments with & < >, most dependencies in one field %zu, "
	    "most dependents of one port %zu, descriptions %zu bytes, "
	    "port Makefiles %zu bytes, vuxml %zu entries in %zu bytes, "
	    "MOVED %zu bytes, UPDATING %zu bytes, %zu pkg-message files\n",
	    dir, ports.size(), ncategories, index.size(), largest,
	    largest_link_bytes, specials, most_deps, most_dependents,
	    descriptions, makefiles, entries, vuxml_bytes, moved_bytes,
	    updating_bytes, messages);
	return 0;
}
