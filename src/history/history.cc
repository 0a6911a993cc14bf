// The run's history of the ports: read once, on the first page that asks,
// from the record of the last run and the commits since the one it ended
// at; written back as the next run's record at the end.
//
// What the run knows is two lists. The commits, those read now first (the
// walk hands them newest first) and then the record's; and an entry per
// port directory and commit that changed it, sorted by directory and, in
// a directory, newest first, cut to the commits a page shows. A page finds
// its directory's entries by binary search. The texts of the commits read
// now are copied into blocks that never move; the record's stay in its
// text, which is kept for the run.
#include "history/history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "history/git_reader.h"
#include "io/io.h"
#include "site/site.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

struct port_entry {
	std::string_view dir;
	std::uint32_t commit; // in the run's list of commits
	bool fresh;	      // read by this run since the last one's record
};

// A block of copied texts; the blocks are chained and freed together.
struct text_block {
	text_block *next;
	std::size_t used, size;
	char *data; // the bytes after the block's head
};

struct run_history {
	bool read;    // the history was looked for
	bool known;   // and is known: the pages show it, the record is kept
	char head[41];
	char *record_text; // the last run's record, as read
	history_commit *commits;
	std::size_t commit_count, commit_room;
	port_entry *entries;
	std::size_t entry_count, entry_room;
	text_block *blocks;
	bool failed; // memory ran out while reading
};

run_history history;
char commit_url[path_size]; // -c, "%s" cut out
std::size_t commit_url_hash; // where "%s" stood

// Grows *items to hold need of them, keeping what they hold. False after a
// message when memory ran out.
template <typename T>
bool
grow(T **items, std::size_t *room, std::size_t need)
{
	if (need <= *room)
		return true;
	std::size_t more = *room < 256 ? 256 : *room;
	while (more < need)
		more *= 2;
	void *p = std::realloc(*items, more * sizeof(T));
	if (p == nullptr) {
		std::fprintf(stderr, "history: cannot allocate %zu bytes\n",
		    more * sizeof(T));
		return false;
	}
	*items = static_cast<T *>(p);
	*room = more;
	return true;
}

// A copy of text that lasts the run; empty after a message when memory ran
// out.
std::string_view
keep(std::string_view text)
{
	text_block *b = history.blocks;
	if (b == nullptr || b->size - b->used < text.size()) {
		std::size_t size = std::max<std::size_t>(text.size(), 1 << 16);
		auto *block = static_cast<text_block *>(
		    std::malloc(sizeof(text_block) + size));
		if (block == nullptr) {
			std::fprintf(stderr,
			    "history: cannot allocate %zu bytes\n", size);
			history.failed = true;
			return {};
		}
		*block = {history.blocks, 0, size,
		    reinterpret_cast<char *>(block + 1)};
		history.blocks = b = block;
	}
	char *at = b->data + b->used;
	std::memcpy(at, text.data(), text.size());
	b->used += text.size();
	return {at, text.size()};
}

// The walk's commits, as it hands them on.
int
take_commit(void *, const walked_commit &c)
{
	auto index = static_cast<std::uint32_t>(history.commit_count);
	if (!grow(&history.commits, &history.commit_room, index + 1) ||
	    !grow(&history.entries, &history.entry_room,
		history.entry_count + c.port_count)) {
		history.failed = true;
		return -1;
	}
	history.commits[history.commit_count++] = {
	    keep(c.hash), c.time, keep(c.author), keep(c.subject)};
	for (std::size_t i = 0; i < c.port_count; i++)
		history.entries[history.entry_count++] = {
		    keep(c.ports[i]), index, true};
	return history.failed ? -1 : 0;
}

// The last run's record, read as the run reads what it writes: from the
// generation the link points to, or from where the pages go. Null when
// there is none, or when it is named as unusable.
char *
read_record(std::size_t *size)
{
	published_file f{};
	if (publishing_generations()) {
		f = read_published(history_record_name);
	} else {
		char path[path_size];
		if (!join_text(path, sizeof path,
			{state.top_dir_slash, history_record_name}))
			return nullptr;
		(void)output_shown(path, f.shown, sizeof f.shown);
		int fd = open_output(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
		struct stat st;
		if (fd < 0) {
			if (errno != ENOENT)
				f.why = std::strerror(errno);
		} else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
			f.why = "not a regular file";
		} else if ((f.text = load_open_file(fd, f.shown, &f.size)) ==
		    nullptr) {
			f.why = "not read";
		}
		if (fd >= 0)
			close(fd);
	}
	if (f.why != nullptr)
		std::fprintf(stderr,
		    "%s: not a whole record of the history (%s): it is read "
		    "anew\n",
		    f.shown, f.why);
	*size = f.size;
	return f.text;
}

// The last run's record as read, its lists allocated here.
struct last_record {
	history_record r;
	history_commit *commits;
	history_port *ports;
	std::uint32_t *numbers;
};

void
free_record(last_record *last)
{
	std::free(last->commits);
	std::free(last->ports);
	std::free(last->numbers);
	*last = last_record{};
}

// Reads text, the record, into *last. True when it is whole; else it is
// named (as shown_dir/name), unless memory ran out.
bool
parse_record(std::string_view text, const char *shown_dir, last_record *last)
{
	std::size_t lines = history_record_lines(text);
	last->commits = static_cast<history_commit *>(
	    std::calloc(lines + 1, sizeof(history_commit)));
	last->ports = static_cast<history_port *>(
	    std::calloc(lines + 1, sizeof(history_port)));
	last->numbers = static_cast<std::uint32_t *>(std::calloc(
	    history_record_numbers(text), sizeof(std::uint32_t)));
	if (last->commits == nullptr || last->ports == nullptr ||
	    last->numbers == nullptr) {
		std::fputs("history: cannot allocate the record's lists\n",
		    stderr);
		history.failed = true;
		return false;
	}
	last->r.commits = {last->commits, lines};
	last->r.ports = {last->ports, lines};
	if (parse_history_record(text, &last->r, last->numbers))
		return true;
	std::fprintf(stderr,
	    "%s/%s: not a whole record of the history (cut short or "
	    "altered): it is read anew\n",
	    shown_dir, history_record_name);
	return false;
}

// Adds the record's commits and entries after those read now. False when
// memory ran out.
bool
add_record(const history_record &r)
{
	std::size_t entries = 0;
	for (const history_port &p : r.ports)
		entries += p.commits.size();
	if (!grow(&history.commits, &history.commit_room,
		history.commit_count + r.commits.size()) ||
	    !grow(&history.entries, &history.entry_room,
		history.entry_count + entries)) {
		history.failed = true;
		return false;
	}
	auto base = static_cast<std::uint32_t>(history.commit_count);
	for (const history_commit &c : r.commits)
		history.commits[history.commit_count++] = c;
	for (const history_port &p : r.ports)
		for (std::uint32_t n : p.commits)
			history.entries[history.entry_count++] = {
			    p.dir, base + n, false};
	return true;
}

// Sorts the entries by directory, newest first in each, and keeps the
// newest a page shows of each. Those from sorted on are the record's, in
// that order already: the few read now are sorted and merged with them.
void
order_entries(std::size_t sorted)
{
	port_entry *e = history.entries;
	auto before = [](const port_entry &a, const port_entry &b) {
		if (a.dir != b.dir)
			return a.dir < b.dir;
		return history.commits[a.commit].time >
		    history.commits[b.commit].time;
	};
	std::stable_sort(e, e + sorted, before);
	std::inplace_merge(e, e + sorted, e + history.entry_count, before);
	std::size_t kept = 0, run = 0;
	for (std::size_t i = 0; i < history.entry_count; i++) {
		run = kept != 0 && e[kept - 1].dir == e[i].dir ? run + 1 : 0;
		if (run < port_commits_shown)
			e[kept++] = e[i];
	}
	history.entry_count = kept;
}

// Reads the history, once: the record, then the commits since it.
void
read_history()
{
	history.read = true;
	char path[path_size];
	struct stat st;
	if (!join_text(path, sizeof path, {state.top_dir_slash, ".git"}) ||
	    lstat(path, &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
		if (state.verbosity != 0)
			std::fprintf(stderr,
			    "%s is not a git work tree: the port pages show "
			    "no commits\n",
			    state.top_dir);
		return;
	}
	std::size_t size = 0;
	char shown[shown_size];
	(void)output_shown(state.top_dir, shown, sizeof shown);
	history.record_text = read_record(&size);
	last_record last{};
	if (history.record_text != nullptr &&
	    !parse_record({history.record_text, size}, shown, &last)) {
		free_record(&last);
		if (history.failed)
			return;
	}
	std::string_view since = last.r.head;

	walk_request request = {state.top_dir, state.category_list, since,
	    history_first_age, history_first_commits, take_commit, nullptr};
	walk_summary summary;
	int walked = walk_history(request, &summary);
	bool verbose = state.verbosity != 0;
	switch (summary.outcome) {
	case walk_outcome::not_built:
		if (verbose)
			std::fputs("This quillmark is built without libgit2: "
				   "the port pages show no commits\n",
			    stderr);
		break;
	case walk_outcome::unreadable:
		if (verbose)
			std::fprintf(stderr,
			    "%s: the git repository cannot be read (%s): the "
			    "port pages show no commits\n",
			    state.top_dir, summary.why);
		break;
	case walk_outcome::read_anew:
		if (verbose && !summary.shallow)
			std::fprintf(stderr,
			    "%s: the history was rewritten since the last run "
			    "(it no longer leads to commit %.12s): it is read "
			    "anew\n",
			    state.top_dir, since.data());
		break;
	case walk_outcome::read:
		break;
	}
	bool incremental = summary.outcome == walk_outcome::read &&
	    !since.empty();
	std::size_t read_now = history.entry_count;
	bool usable = walked == 0 && !history.failed &&
	    (summary.outcome == walk_outcome::read ||
		summary.outcome == walk_outcome::read_anew) &&
	    (!incremental || add_record(last.r));
	free_record(&last);
	if (!usable)
		return;
	if (verbose && incremental)
		std::fprintf(stderr,
		    "Reading the history: %zu commits since the last run\n",
		    summary.walked);
	else if (verbose)
		std::fprintf(stderr,
		    "Reading the history: %zu commits (a first run reads back "
		    "12 months, at most %zu commits)\n",
		    summary.walked, history_first_commits);
	if (verbose && summary.shallow)
		std::fputs("Reading the history: the repository is a shallow "
			   "clone, read as far as it goes\n",
		    stderr);
	// The entries of a first run are not news to any feed.
	for (std::size_t i = 0; !incremental && i < history.entry_count; i++)
		history.entries[i].fresh = false;
	order_entries(read_now);
	std::memcpy(history.head, summary.head, sizeof history.head);
	history.known = true;
}

// The entries of dir.
std::pair<const port_entry *, const port_entry *>
entries_of(std::string_view dir)
{
	const port_entry *e = history.entries;
	return std::equal_range(e, e + history.entry_count,
	    port_entry{dir, 0, false},
	    [](const port_entry &a, const port_entry &b) {
		    return a.dir < b.dir;
	    });
}

} // namespace

int
set_commit_url(const char *url)
{
	std::string_view text = url;
	std::size_t at = text.find("%s");
	bool ok = (text.starts_with("http://") || text.starts_with("https://")) &&
	    at != std::string_view::npos &&
	    text.find('%', at + 2) == std::string_view::npos &&
	    text.substr(0, at).find('%') == std::string_view::npos &&
	    text.size() < sizeof commit_url;
	for (std::size_t i = 0; ok && i < text.size(); i++) {
		auto b = static_cast<unsigned char>(text[i]);
		ok = b > 0x20 && b < 0x7f && std::strchr("\"<>\\^`{|}'", b) == nullptr;
	}
	if (!ok) {
		std::fprintf(stderr,
		    "Bad URL \"%s\" for option \"-c\": it must be an absolute "
		    "http or https URL with one \"%%s\" where a commit's hash "
		    "goes, such as \"https://git.example.org/commit/%%s\"\n",
		    url);
		std::fputs("Try \"quillmark -h\" or \"man quillmark\" for more "
			   "information.\n",
		    stderr);
		return -1;
	}
	(void)join_text(commit_url, sizeof commit_url,
	    {text.substr(0, at), text.substr(at + 2)});
	commit_url_hash = at;
	if (state.verbosity != 0)
		std::fprintf(stderr, "Linking commits to \"%s\"\n", url);
	return 0;
}

std::string_view
commit_url_before()
{
	return std::string_view(commit_url).substr(0, commit_url_hash);
}

std::string_view
commit_url_after()
{
	return std::string_view(commit_url).substr(commit_url_hash);
}

std::size_t
port_history(std::string_view dir, history_commit (&out)[port_commits_shown],
    bool new_only)
{
	if (!history.read)
		read_history();
	if (!history.known)
		return 0;
	auto [first, last] = entries_of(dir);
	std::size_t n = 0;
	for (const port_entry *e = first; e != last && n < port_commits_shown; e++)
		if (e->fresh || !new_only)
			out[n++] = history.commits[e->commit];
	return n;
}

int
write_history_record()
{
	if (!history.known)
		return 0;
	// The commits that some directory still lists, renumbered in their
	// order.
	auto *number = static_cast<std::uint32_t *>(
	    std::calloc(history.commit_count + 1, sizeof(std::uint32_t)));
	auto *commits = static_cast<history_commit *>(
	    std::calloc(history.commit_count + 1, sizeof(history_commit)));
	auto *ports = static_cast<history_port *>(
	    std::calloc(history.entry_count + 1, sizeof(history_port)));
	auto *lists = static_cast<std::uint32_t *>(
	    std::calloc(history.entry_count + 1, sizeof(std::uint32_t)));
	int failures = 1;
	char *text = nullptr;
	if (number == nullptr || commits == nullptr || ports == nullptr ||
	    lists == nullptr) {
		std::fputs("history: cannot allocate the record\n", stderr);
	} else {
		for (std::size_t i = 0; i < history.entry_count; i++)
			number[history.entries[i].commit] = 1;
		std::size_t kept = 0;
		for (std::size_t i = 0; i < history.commit_count; i++) {
			if (number[i] == 0)
				continue;
			number[i] = static_cast<std::uint32_t>(kept);
			commits[kept++] = history.commits[i];
		}
		std::size_t port_count = 0;
		for (std::size_t i = 0; i < history.entry_count; i++) {
			const port_entry &e = history.entries[i];
			lists[i] = number[e.commit];
			if (port_count != 0 && ports[port_count - 1].dir == e.dir)
				ports[port_count - 1].commits = {
				    ports[port_count - 1].commits.data(),
				    ports[port_count - 1].commits.size() + 1};
			else
				ports[port_count++] = {e.dir, {lists + i, 1}};
		}
		history_record r = {history.head, {commits, kept},
		    {ports, port_count}};
		std::size_t bound = history_record_bound(r);
		text = static_cast<char *>(std::malloc(bound));
		char *pos = text == nullptr
		    ? nullptr
		    : format_history_record(text, text + bound, r);
		if (pos == nullptr)
			std::fputs("history: cannot allocate the record\n", stderr);
		else
			failures = write_file(state.top_dir, history_record_name,
			    text, static_cast<std::size_t>(pos - text));
	}
	std::free(text);
	std::free(number);
	std::free(commits);
	std::free(ports);
	std::free(lists);
	return failures;
}

void
print_history_build()
{
	const char *library = history_library();
	if (library != nullptr)
		std::printf("Built with %s: port pages can show their recent "
			    "commits\n",
		    library);
	else
		std::fputs("Built without libgit2: port pages show no recent "
			   "commits\n",
		    stdout);
}

void
history_release()
{
	std::free(history.record_text);
	std::free(history.commits);
	std::free(history.entries);
	while (history.blocks != nullptr) {
		text_block *next = history.blocks->next;
		std::free(history.blocks);
		history.blocks = next;
	}
	history = run_history{};
}
