// The Atom feeds of what changed: ports added, updated and removed between
// the generation that the link points to and the one this run makes.
//
// A run keeps its own small record, .quillmark-feed beside the top page:
// the time of the first run, every port's origin, version and maintainer,
// and the entries of the feeds, newest first. The next run reads the
// record of the published generation, compares its ports with the INDEX
// and puts an entry for each difference before the old ones; an entry
// keeps the day and time of the run that first saw it, so its id and its
// text never change, and a run where nothing changed writes the same bytes
// (which write_file then leaves untouched). An entry is kept while it is
// among the newest 200 of the whole feed, of its category's or of its
// maintainer's. A failed run switches nothing, so the published record and
// feeds stay as they were, and the next run compares with them again.
//
// When the tree has MOVED or UPDATING, the record also keeps a hash of each
// move and of each note it knew ("HM" and "HU" say it knew the file): a move
// or a note that the published record did not know is an entry of the whole
// tree's feed, and a move one of its old category's feed too. A record
// without them knew none: that run only records them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>

#include "catalogue/catalogue.h"
#include "treedata/moved.h"
#include "treedata/updating.h"
#include "readme/readme.h"
#include "site/site.h"
#include "state/state.h"

namespace {

constexpr char record_name[] = ".quillmark-feed";
constexpr std::string_view record_head = "quillmark-feed 1 ";
constexpr std::size_t feed_entries = 200;

struct port_version {
	std::string_view origin, version, maintainer;
};

struct feed_entry {
	long long time;
	std::string_view date, kind, origin, old_version, new_version,
	    maintainer;
	std::uint64_t maintainer_hash; // folded_hash of maintainer
	// Of a note read from the record: maintainer holds its body with
	// '\\', tab and line end written as "\\\\", "\\t" and "\\n".
	bool escaped = false;
};

// Moves and notes: kind "moved" (the new port's page linked), "unlisted"
// (moved to a port the INDEX does not have, or removed), "note". A move
// keeps its old origin in origin, MOVED's date in old_version, the new
// origin in new_version and the reason in maintainer; a note keeps its
// date and hash in origin, AFFECTS in old_version and its body in
// maintainer.
bool
port_entry(const feed_entry &e)
{
	return e.kind == "added" || e.kind == "updated" || e.kind == "removed";
}

char
fold(char c)
{
	return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::uint64_t
folded_hash(std::string_view text)
{
	std::uint64_t h = 0xcbf29ce484222325ULL;
	for (char c : text) {
		h ^= static_cast<unsigned char>(fold(c));
		h *= 0x100000001b3ULL;
	}
	return h;
}

std::uint64_t
exact_hash(std::string_view kind, std::initializer_list<std::string_view> parts)
{
	std::uint64_t h = 0xcbf29ce484222325ULL;
	for (char c : kind) {
		h ^= static_cast<unsigned char>(c);
		h *= 0x100000001b3ULL;
	}
	for (std::string_view part : parts) {
		for (char c : part) {
			h ^= static_cast<unsigned char>(c);
			h *= 0x100000001b3ULL;
		}
		h ^= 0xff; // no byte of text: parts stay apart
		h *= 0x100000001b3ULL;
	}
	return h;
}

bool
folded_less(std::string_view a, std::string_view b)
{
	return std::lexicographical_compare(a.begin(), a.end(), b.begin(),
	    b.end(), [](char x, char y) {
		    return static_cast<unsigned char>(fold(x)) <
			static_cast<unsigned char>(fold(y));
	    });
}

std::string_view
category_of(std::string_view origin)
{
	return origin.substr(0, origin.find('/'));
}

// The number that text begins with; 0 when none.
long long
number_of(std::string_view text)
{
	long long value = 0;
	for (char c : text) {
		if (c < '0' || c > '9' || value > (1LL << 50))
			break;
		value = value * 10 + (c - '0');
	}
	return value;
}

// The next field of a record line at *rest, up to a tab or its end.
std::string_view
next_field(std::string_view *rest)
{
	std::size_t tab = rest->find('\t');
	std::string_view field = rest->substr(0, tab);
	rest->remove_prefix(tab == std::string_view::npos ? rest->size()
							  : tab + 1);
	return field;
}

// A field as the record holds it: a tab or line end would split it.
char *
append_field(char *pos, char *end, std::string_view text)
{
	pos = append(pos, end, "\t");
	for (std::size_t i = 0; pos != nullptr && i < text.size(); i++) {
		char c = text[i] == '\t' || text[i] == '\n' || text[i] == '\r'
		    ? ' '
		    : text[i];
		pos = append(pos, end, std::string_view(&c, 1));
	}
	return pos;
}

char *
append_xml(char *pos, char *end, std::string_view text)
{
	return insert(pos, end, tree_text::port_text, text);
}

// A note's body as a record field: '\\', tab and line ends escaped.
char *
append_escaped_field(char *pos, char *end, std::string_view text)
{
	pos = append(pos, end, "\t");
	for (std::size_t i = 0; pos != nullptr && i < text.size(); i++) {
		char c = text[i];
		pos = c == '\\' ? append(pos, end, "\\\\")
		    : c == '\t'  ? append(pos, end, "\\t")
		    : c == '\n'  ? append(pos, end, "\\n")
		    : c == '\r'  ? append(pos, end, "\\r")
				 : append(pos, end, std::string_view(&c, 1));
	}
	return pos;
}

// A note's body as the entry's text: read back from the record's escapes
// when escaped. The text between escapes goes in whole, so that a
// character of several bytes is read as one.
char *
append_body(char *pos, char *end, std::string_view text, bool escaped)
{
	std::size_t run = 0;
	for (std::size_t i = 0; pos != nullptr && i < text.size(); i++) {
		if (!escaped || text[i] != '\\' || i + 1 == text.size())
			continue;
		pos = append_xml(pos, end, text.substr(run, i - run));
		char e = text[++i];
		char c = e == 't'   ? '\t'
		    : e == 'n' ? '\n'
		    : e == 'r' ? '\r'
			       : e;
		if (pos != nullptr)
			pos = append_xml(pos, end, std::string_view(&c, 1));
		run = i + 1;
	}
	return pos == nullptr ? nullptr
			      : append_xml(pos, end, text.substr(run));
}

// Text on one line: tabs and line ends as spaces; the text between them
// goes in whole.
char *
append_xml_line(char *pos, char *end, std::string_view text)
{
	std::size_t run = 0;
	for (std::size_t i = 0; pos != nullptr && i < text.size(); i++) {
		if (text[i] != '\t' && text[i] != '\n' && text[i] != '\r')
			continue;
		pos = append_xml(pos, end, text.substr(run, i - run));
		if (pos != nullptr)
			pos = append(pos, end, " ");
		run = i + 1;
	}
	return pos == nullptr ? nullptr
			      : append_xml(pos, end, text.substr(run));
}

// The 16 hex digits of h.
std::array<char, 16>
hex_of(std::uint64_t h)
{
	std::array<char, 16> out;
	for (std::size_t i = 0; i < out.size(); i++)
		out[i] = "0123456789abcdef"[(h >> (60 - 4 * i)) & 15];
	return out;
}

// A line of the record that keeps a hash: its head ("M\t"), the hash in
// hex, the newline.
char *
append_hash_line(char *pos, char *end, std::string_view head, std::uint64_t h)
{
	std::array<char, 16> hex = hex_of(h);
	pos = append(pos, end, head);
	pos = append(pos, end, std::string_view(hex.data(), hex.size()));
	return append(pos, end, "\n");
}

// The host of the site's URL, for the entries' tag ids.
std::string_view
site_host()
{
	std::string_view url = state.site_url;
	url.remove_prefix(url.find("://") + 3);
	url = url.substr(0, url.find('/'));
	if (!url.starts_with('['))
		url = url.substr(0, url.find(':'));
	return url;
}

char *
append_history_entry(char *pos, char *end, const feed_entry &e)
{
	bool note = e.kind == "note";
	pos = append(pos, end, "<entry>\n<id>tag:");
	pos = append_url_path(pos, end, site_host());
	pos = append(pos, end, ",");
	pos = append(pos, end, e.date);
	pos = append(pos, end, note ? ":updating/" : ":moved/");
	pos = append_url_path(pos, end, e.origin);
	pos = append(pos, end, "</id>\n<title>");
	if (note) {
		pos = append_xml(pos, end, e.origin.substr(0, 8));
		pos = append(pos, end, ": ");
		pos = append_xml_line(pos, end, e.old_version);
	} else {
		pos = append_xml(pos, end, e.origin);
		if (e.new_version.empty()) {
			pos = append(pos, end, " removed");
		} else {
			pos = append(pos, end, " moved to ");
			pos = append_xml(pos, end, e.new_version);
		}
	}
	pos = append(pos, end, "</title>\n<updated>");
	pos = append_utc_time(pos, end, e.time);
	pos = append(pos, end, "</updated>\n");
	if (e.kind == "moved") {
		pos = append(pos, end, "<link href=\"");
		pos = append(pos, end, state.site_url);
		pos = append_url_path(pos, end, e.new_version);
		pos = append(pos, end, "/README.html\"/>\n");
	}
	pos = append(pos, end, "<content type=\"text\">");
	if (note) {
		pos = append_body(pos, end, e.maintainer, e.escaped);
	} else {
		pos = append_xml(pos, end, e.old_version);
		if (!e.maintainer.empty()) {
			pos = append(pos, end, ": ");
			pos = append_xml(pos, end, e.maintainer);
		}
	}
	pos = append(pos, end, "</content>\n</entry>\n");
	return pos;
}

char *
append_entry(char *pos, char *end, const feed_entry &e)
{
	if (!port_entry(e))
		return append_history_entry(pos, end, e);
	bool removed = e.kind == "removed";
	std::string_view version = removed ? e.old_version : e.new_version;
	pos = append(pos, end, "<entry>\n<id>tag:");
	pos = append_url_path(pos, end, site_host());
	pos = append(pos, end, ",");
	pos = append(pos, end, e.date);
	pos = append(pos, end, ":");
	pos = append_url_path(pos, end, e.origin);
	pos = append(pos, end, "/");
	pos = append_url_path(pos, end, version);
	if (removed)
		pos = append(pos, end, "/removed");
	pos = append(pos, end, "</id>\n<title>");
	pos = append_xml(pos, end, e.origin);
	pos = append(pos, end, " ");
	if (e.kind == "updated") {
		pos = append(pos, end, "updated from ");
		pos = append_xml(pos, end, e.old_version);
		pos = append(pos, end, " to ");
		pos = append_xml(pos, end, e.new_version);
	} else {
		pos = append_xml(pos, end, version);
		pos = append(pos, end, removed ? " removed" : " added");
	}
	pos = append(pos, end, "</title>\n<updated>");
	pos = append_utc_time(pos, end, e.time);
	pos = append(pos, end, "</updated>\n");
	if (!removed) {
		pos = append(pos, end, "<link href=\"");
		pos = append(pos, end, state.site_url);
		pos = append_url_path(pos, end, e.origin);
		pos = append(pos, end, "/README.html\"/>\n");
	}
	pos = append(pos, end, "<content type=\"text\">");
	pos = append_xml(pos, end, e.origin);
	pos = append(pos, end, " (");
	pos = append_xml(pos, end, e.maintainer);
	pos = append(pos, end, ") ");
	pos = append(pos, end, e.kind);
	pos = append(pos, end, "</content>\n</entry>\n");
	return pos;
}

std::size_t
entry_bound(const feed_entry &e)
{
	return 512 + std::strlen(state.site_url) +
	    18 * (e.origin.size() + e.old_version.size() +
		     e.new_version.size() + e.maintainer.size());
}

std::uint64_t
move_hash(const moved_entry &m)
{
	return exact_hash("M", {m.old_origin, m.new_origin, m.date, m.reason});
}

std::uint64_t
note_hash(const updating_note &u)
{
	return exact_hash("U", {u.date, u.affects, u.author, u.body});
}

run_buffer feed_out;

// Writes the feed dir/feed.atom (rel its path below the top, "" or ending
// in "/") of the entries of list that pick takes, at most 200. 0, or 1
// after the report.
template <typename Pick>
int
write_feed(const char *dir, std::string_view rel, std::string_view title,
    std::string_view subject, std::span<const feed_entry> list,
    long long start, Pick pick)
{
	std::size_t bound = 2048 + 6 * (rel.size() + subject.size()) +
	    6 * std::strlen(state.site_url);
	std::size_t taken = 0;
	long long updated = start;
	for (const feed_entry &e : list) {
		if (taken == feed_entries)
			break;
		if (pick(e)) {
			bound += entry_bound(e);
			if (taken++ == 0)
				updated = e.time;
		}
	}
	if (need_buffer(&feed_out, bound, "feeds") != 0)
		return 1;
	char *pos = feed_out.data, *end = feed_out.data + feed_out.size;
	pos = append(pos, end,
	    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
	    "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n<id>");
	pos = append(pos, end, state.site_url);
	pos = append_url_path(pos, end, rel);
	pos = append(pos, end, "feed.atom</id>\n<title>");
	pos = append(pos, end, title);
	pos = append_xml(pos, end, subject);
	pos = append(pos, end, "</title>\n<updated>");
	pos = append_utc_time(pos, end, updated);
	pos = append(pos, end, "</updated>\n<link rel=\"self\" href=\"");
	pos = append(pos, end, state.site_url);
	pos = append_url_path(pos, end, rel);
	pos = append(pos, end, "feed.atom\"/>\n<link href=\"");
	pos = append(pos, end, state.site_url);
	pos = append_url_path(pos, end, rel);
	pos = append(pos, end,
	    "README.html\"/>\n<author><name>FreeBSD Ports "
	    "Collection</name></author>\n");
	taken = 0;
	for (const feed_entry &e : list) {
		if (taken == feed_entries)
			break;
		if (pick(e)) {
			pos = append_entry(pos, end, e);
			taken++;
		}
	}
	pos = append(pos, end, "</feed>\n");
	if (pos == nullptr) {
		char shown[shown_size];
		(void)output_shown(dir, shown, sizeof shown);
		std::fprintf(stderr,
		    "%s/feed.atom: text would exceed its %zu-byte buffer; "
		    "not written\n",
		    shown, feed_out.size);
		return 1;
	}
	return write_file(dir, "feed.atom", feed_out.data,
	    static_cast<std::size_t>(pos - feed_out.data));
}

// Counts by a hash of a name, in a table of twice as many slots as names.
struct counts {
	std::uint64_t *keys;
	std::uint32_t *values;
	std::size_t mask;
};

std::uint32_t &
count_of(counts &table, std::uint64_t key)
{
	key |= 1; // 0 marks a free slot
	std::size_t i = key & table.mask;
	while (table.keys[i] != 0 && table.keys[i] != key)
		i = (i + 1) & table.mask;
	table.keys[i] = key;
	return table.values[i];
}

// Everything a run of the feeds holds, freed at its end.
struct feed_run {
	port_version *now = nullptr;
	port_version *before = nullptr;
	feed_entry *entries = nullptr;
	std::uint64_t *keys = nullptr;
	std::uint32_t *values = nullptr;
	char *previous = nullptr;
	char *record = nullptr;
	std::uint64_t *known_hashes = nullptr;
	char *note_ids = nullptr;
	~feed_run()
	{
		std::free(known_hashes);
		std::free(note_ids);
		std::free(now);
		std::free(before);
		std::free(entries);
		std::free(keys);
		std::free(values);
		std::free(previous);
		std::free(record);
	}
};

template <typename T>
T *
allocate_array(std::size_t n)
{
	return static_cast<T *>(
	    allocate_reported((n == 0 ? 1 : n) * sizeof(T), "feeds"));
}

} // namespace

int
make_feeds(int *unwritten)
{
	if (state.site_url[0] == '\0' || !publishing_generations())
		return 0;
	feed_run run;
	long long now_time = static_cast<long long>(std::time(nullptr));
	char today[16];
	std::time_t t = static_cast<std::time_t>(now_time);
	struct tm tm;
	(void)gmtime_r(&t, &tm);
	(void)std::strftime(today, sizeof today, "%Y-%m-%d", &tm);

	// The ports now, by origin.
	std::size_t now_count = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1)
		now_count++;
	run.now = allocate_array<port_version>(now_count);
	if (run.now == nullptr) {
		++*unwritten;
		return 1;
	}
	std::size_t n = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1) {
		index_record record;
		(void)split_index_line(line, &record, index_field::maintainer);
		run.now[n++] = {port_origin(record),
		    package_version(record[index_field::package]),
		    record[index_field::maintainer]};
	}
	std::sort(run.now, run.now + n,
	    [](const port_version &a, const port_version &b) {
		    return a.origin < b.origin;
	    });

	// The tree's moves and notes, when it has them.
	if (need_moved() < 0 || need_updating() < 0) {
		++*unwritten;
		return 1;
	}
	std::size_t moves = moved_count(), notes = updating_count();
	std::size_t history = moves + notes;

	// The published record: its first run's time, its ports, its
	// entries. None, or one not of this form: this run begins anew.
	std::size_t size = 0;
	run.previous = read_published(record_name, &size);
	long long start = now_time;
	std::size_t before_count = 0, old_entries = 0, lines = 0;
	std::string_view text =
	    run.previous != nullptr ? std::string_view(run.previous, size)
				    : std::string_view();
	bool known = text.starts_with(record_head);
	if (!known && run.previous != nullptr && state.verbosity != 0)
		std::fprintf(stderr, "%s: not a record of the feeds; they "
				     "begin anew\n",
		    record_name);
	if (known) {
		start = number_of(text.substr(record_head.size()));
		for (char c : text)
			lines += c == '\n';
	}
	run.before = allocate_array<port_version>(lines);
	std::size_t old_at = 2 * now_count + history;
	run.entries = allocate_array<feed_entry>(lines + old_at);
	run.known_hashes = allocate_array<std::uint64_t>(lines);
	run.note_ids = allocate_array<char>(17 * notes);
	if (run.before == nullptr || run.entries == nullptr ||
	    run.known_hashes == nullptr || run.note_ids == nullptr) {
		++*unwritten;
		return 1;
	}
	std::size_t entry_count = 0, known_count = 0;
	bool moves_known = false, notes_known = false;
	if (known) {
		std::string_view rest = text.substr(text.find('\n') + 1);
		while (!rest.empty()) {
			std::size_t nl = rest.find('\n');
			std::string_view line = rest.substr(0, nl);
			rest.remove_prefix(
			    nl == std::string_view::npos ? rest.size() : nl + 1);
			std::string_view kind = next_field(&line);
			if (kind == "P") {
				port_version p;
				p.origin = next_field(&line);
				p.version = next_field(&line);
				p.maintainer = next_field(&line);
				run.before[before_count++] = p;
			} else if (kind == "E") {
				feed_entry e;
				e.time = number_of(next_field(&line));
				e.date = next_field(&line);
				e.kind = next_field(&line);
				e.origin = next_field(&line);
				e.old_version = next_field(&line);
				e.new_version = next_field(&line);
				e.maintainer = next_field(&line);
				e.escaped = e.kind == "note";
				e.maintainer_hash = port_entry(e)
				    ? folded_hash(e.maintainer)
				    : 0;
				run.entries[old_at + old_entries++] = e;
			} else if (kind == "HM") {
				moves_known = true;
			} else if (kind == "HU") {
				notes_known = true;
			} else if (kind == "M" || kind == "U") {
				std::string_view hex = next_field(&line);
				std::uint64_t h = 0;
				for (char c : hex) {
					int digit = c >= 'a' ? c - 'a' + 10
							     : c - '0';
					h = h << 4 |
					    static_cast<unsigned>(digit & 15);
				}
				run.known_hashes[known_count++] = h;
			}
		}
		// This run's entries: what differs, by origin.
		std::size_t i = 0, j = 0;
		while (i < n || j < before_count) {
			const port_version *a = i < n ? &run.now[i] : nullptr;
			const port_version *b =
			    j < before_count ? &run.before[j] : nullptr;
			feed_entry e = {now_time, today, {}, {}, {}, {}, {}, 0};
			if (b == nullptr || (a != nullptr && a->origin < b->origin)) {
				e.kind = "added";
				e.origin = a->origin;
				e.new_version = a->version;
				e.maintainer = a->maintainer;
				i++;
			} else if (a == nullptr || b->origin < a->origin) {
				e.kind = "removed";
				e.origin = b->origin;
				e.old_version = b->version;
				e.maintainer = b->maintainer;
				j++;
			} else {
				i++;
				j++;
				if (a->version == b->version)
					continue;
				e.kind = "updated";
				e.origin = a->origin;
				e.old_version = b->version;
				e.new_version = a->version;
				e.maintainer = a->maintainer;
			}
			e.maintainer_hash = folded_hash(e.maintainer);
			run.entries[entry_count++] = e;
		}
	}
	// The moves and notes the published record did not know: the newest
	// moves (MOVED's last lines) first, then the notes, newest first.
	std::sort(run.known_hashes, run.known_hashes + known_count);
	auto is_known = [&run, known_count](std::uint64_t h) {
		return std::binary_search(
		    run.known_hashes, run.known_hashes + known_count, h);
	};
	for (std::size_t k = moves; moves_known && k-- > 0;) {
		const moved_entry &m = moved_at(k);
		if (is_known(move_hash(m)))
			continue;
		bool listed = std::binary_search(run.now, run.now + n,
		    port_version{m.new_origin, {}, {}},
		    [](const port_version &a, const port_version &b) {
			    return a.origin < b.origin;
		    });
		run.entries[entry_count++] = {now_time, today,
		    listed ? "moved" : "unlisted", m.old_origin, m.date,
		    m.new_origin, m.reason, 0};
	}
	for (std::size_t k = 0; notes_known && k < notes; k++) {
		const updating_note &u = updating_at(k);
		std::uint64_t h = note_hash(u);
		if (is_known(h))
			continue;
		char *id = run.note_ids + 17 * k;
		std::memcpy(id, u.date.data(),
		    std::min<std::size_t>(u.date.size(), 8));
		id[8] = '-';
		std::memcpy(id + 9, hex_of(h).data(), 8);
		run.entries[entry_count++] = {now_time, today, "note",
		    std::string_view(id, 17), u.affects, {}, u.body, 0};
	}
	// The old entries after the new ones.
	std::memmove(run.entries + entry_count, run.entries + old_at,
	    old_entries * sizeof *run.entries);
	entry_count += old_entries;

	// Kept: the newest 200 of the whole feed, of a category, of a
	// maintainer.
	std::size_t slots = 16;
	while (slots < 4 * entry_count)
		slots *= 2;
	run.keys = static_cast<std::uint64_t *>(
	    allocate_reported(slots * sizeof *run.keys, "feeds"));
	run.values = static_cast<std::uint32_t *>(
	    allocate_reported(slots * sizeof *run.values, "feeds"));
	if (run.keys == nullptr || run.values == nullptr) {
		++*unwritten;
		return 1;
	}
	counts table = {run.keys, run.values, slots - 1};
	std::size_t kept = 0;
	for (std::size_t k = 0; k < entry_count; k++) {
		const feed_entry &e = run.entries[k];
		bool keep = k < feed_entries;
		if (e.kind != "note") {
			std::uint32_t &by_category = count_of(
			    table, folded_hash(category_of(e.origin)) * 3);
			keep = keep || by_category < feed_entries;
			by_category++;
		}
		if (port_entry(e)) {
			std::uint32_t &by_maintainer =
			    count_of(table, e.maintainer_hash * 5);
			keep = keep || by_maintainer < feed_entries;
			by_maintainer++;
		}
		if (keep)
			run.entries[kept++] = e;
	}
	entry_count = kept;
	std::span<const feed_entry> list(run.entries, entry_count);

	// The record this generation keeps.
	std::size_t bound = 64 + 20 * history;
	for (std::size_t i = 0; i < n; i++)
		bound += 8 + run.now[i].origin.size() +
		    run.now[i].version.size() + run.now[i].maintainer.size();
	for (const feed_entry &e : list)
		bound += 64 + e.date.size() + e.kind.size() + e.origin.size() +
		    e.old_version.size() + e.new_version.size() +
		    3 * e.maintainer.size();
	run.record = static_cast<char *>(allocate_reported(bound, "feeds"));
	if (run.record == nullptr) {
		++*unwritten;
		return 1;
	}
	char *pos = run.record, *end = run.record + bound;
	pos = append(pos, end, record_head);
	pos = append_number(pos, end, start);
	pos = append(pos, end, "\n");
	for (std::size_t i = 0; i < n; i++) {
		pos = append(pos, end, "P");
		pos = append_field(pos, end, run.now[i].origin);
		pos = append_field(pos, end, run.now[i].version);
		pos = append_field(pos, end, run.now[i].maintainer);
		pos = append(pos, end, "\n");
	}
	if (moves != 0)
		pos = append(pos, end, "HM\n");
	for (std::size_t k = 0; k < moves; k++)
		pos = append_hash_line(pos, end, "M\t", move_hash(moved_at(k)));
	if (notes != 0)
		pos = append(pos, end, "HU\n");
	for (std::size_t k = 0; k < notes; k++)
		pos = append_hash_line(
		    pos, end, "U\t", note_hash(updating_at(k)));
	for (const feed_entry &e : list) {
		pos = append(pos, end, "E\t");
		pos = append_number(pos, end, e.time);
		for (std::string_view f : {e.date, e.kind, e.origin,
			 e.old_version, e.new_version})
			pos = append_field(pos, end, f);
		pos = e.kind == "note" && !e.escaped
		    ? append_escaped_field(pos, end, e.maintainer)
		    : append_field(pos, end, e.maintainer);
		pos = append(pos, end, "\n");
	}
	int failures = pos == nullptr
	    ? 1
	    : write_file(state.top_dir, record_name, run.record,
		  static_cast<std::size_t>(pos - run.record));

	// The feeds: the whole tree's, each category's, each maintainer's.
	failures += write_feed(state.top_dir, "", "FreeBSD ports: changes", "",
	    list, start, [](const feed_entry &) { return true; });
	char dir[path_size];
	for (const char *name = state.category_list; *name != '\0';
	     name = list_next(name)) {
		std::string_view category = name;
		if (!join_text(dir, sizeof dir, {state.top_dir_slash, name}))
			continue;
		char rel[path_size];
		(void)join_text(rel, sizeof rel, {name, "/"});
		failures += write_feed(dir, rel, "FreeBSD ports: changes in ",
		    category, list, start, [category](const feed_entry &e) {
			    return e.kind != "note" &&
				category_of(e.origin) == category;
		    });
	}
	if (state.maintainer_pages) {
		// Each maintainer of a port once, in the order of their
		// address folded.
		std::sort(run.now, run.now + n,
		    [](const port_version &a, const port_version &b) {
			    return folded_less(a.maintainer, b.maintainer);
		    });
		for (std::size_t i = 0; i < n; i++) {
			std::string_view who = run.now[i].maintainer;
			if (i > 0 && !folded_less(run.now[i - 1].maintainer, who))
				continue;
			char name[maintainer_name_size];
			(void)maintainer_file_name(who, name);
			char rel[path_size];
			if (!join_text(dir, sizeof dir,
				{state.top_dir_slash, maintainer_folder, "/",
				    name}) ||
			    !join_text(rel, sizeof rel,
				{maintainer_folder, "/", name, "/"}))
				continue;
			std::uint64_t h = folded_hash(who);
			failures += write_feed(dir, rel,
			    "FreeBSD ports: changes of ", who, list, start,
			    [h](const feed_entry &e) {
				    return port_entry(e) &&
					e.maintainer_hash == h;
			    });
		}
	}
	release_buffer(&feed_out);
	*unwritten += failures;
	return failures != 0 ? 1 : 0;
}
