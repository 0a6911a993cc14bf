// The Atom feeds of what changed: ports added, updated and removed between
// the generation that the link points to and the one this run makes.
//
// A run keeps its own small record (feed_record.h) beside the top page: the
// time of the first run, every port's origin, version and maintainer, and
// the entries of the feeds, newest first. The next run reads the record of
// the published generation, compares its ports with the INDEX and puts an
// entry for each difference before the old ones; an entry keeps the day
// and time of the run that first saw it, so its id and its text never
// change, and a run where nothing changed writes the same bytes (which
// write_file then leaves untouched). An entry is kept while it is among the
// newest 200 of the whole feed, of its category's or of its maintainer's.
// A failed run switches nothing, so the published record and feeds stay as
// they were, and the next run compares with them again.
//
// When the tree has MOVED or UPDATING, the record also keeps a hash of each
// move and of each note it knew: a move or a note that the published record
// did not know is an entry of the whole tree's feed, and a move one of its
// old category's feed too. A record that knew none of them: that run only
// records them. A port that leaves the INDEX in the run that sees it moved
// is one entry, the move's, which links the page left at its old origin
// when one is made there.
//
// A record that is not whole (cut short, altered, not a regular file, not
// readable, or gone while the feeds are there) is named, and nothing is
// compared with it: the entries are read back from the published feeds,
// which are this tool's own, and this run adds none; what it records is
// compared with from the next run on.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "history/history.h"
#include "sitefiles/feed_record.h"
#include "pages/pages.h"
#include "site/site.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/moved.h"
#include "treedata/updating.h"

namespace {

constexpr std::size_t feed_entries = 200;

// Moves and notes (feed_record.h) are entries of the whole tree's feed,
// moves also of their old category's; port entries of their category's and
// their maintainer's too.
bool
port_entry(const feed_entry &e)
{
	return e.kind == "added" || e.kind == "updated" || e.kind == "removed";
}

// A move whose entry links the page left at the old origin rather than the
// new port's: the port's line left the INDEX in the run that saw the move,
// and the page of the moved port stands where it was.
constexpr std::string_view moved_here = "moved-here";

char
fold(char c)
{
	return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::uint64_t
folded_hash(std::string_view text)
{
	return fnv1a_folded(text);
}

std::uint64_t
exact_hash(std::string_view kind, std::initializer_list<std::string_view> parts)
{
	std::uint64_t h = fnv1a(kind);
	for (std::string_view part : parts)
		h = fnv1a("\xff", fnv1a(part, h)); // no byte of text: parts
						   // stay apart
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

char *
append_xml(char *pos, char *end, std::string_view text)
{
	return insert(pos, end, tree_text::port_text, text);
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

// What an entry's id holds after the host and the day: the port's origin
// and version, with "/removed" for a removal; "moved/" and the old origin
// for a move; "updating/" and the note's id for a note.
char *
append_id_rest(char *pos, char *end, const feed_entry &e)
{
	if (e.kind == "note" || !port_entry(e)) {
		pos = append(pos, end, e.kind == "note" ? "updating/" : "moved/");
		return append_url_path(pos, end, e.origin);
	}
	bool removed = e.kind == "removed";
	pos = append_url_path(pos, end, e.origin);
	pos = append(pos, end, "/");
	pos = append_url_path(
	    pos, end, removed ? e.old_version : e.new_version);
	return removed ? append(pos, end, "/removed") : pos;
}

char *
append_title(char *pos, char *end, const feed_entry &e)
{
	if (e.kind == "note") {
		pos = append_xml(pos, end, e.origin.substr(0, 8));
		pos = append(pos, end, ": ");
		return append_xml_line(pos, end, e.old_version);
	}
	pos = append_xml(pos, end, e.origin);
	if (!port_entry(e)) {
		if (e.new_version.empty())
			return append(pos, end, " removed");
		pos = append(pos, end, " moved to ");
		return append_xml(pos, end, e.new_version);
	}
	pos = append(pos, end, " ");
	if (e.kind == "updated") {
		pos = append(pos, end, "updated from ");
		pos = append_xml(pos, end, e.old_version);
		pos = append(pos, end, " to ");
		return append_xml(pos, end, e.new_version);
	}
	bool removed = e.kind == "removed";
	pos = append_xml(pos, end, removed ? e.old_version : e.new_version);
	return append(pos, end, removed ? " removed" : " added");
}

// The origin whose page the entry links, or none.
std::string_view
linked_origin(const feed_entry &e)
{
	if (port_entry(e))
		return e.kind == "removed" ? std::string_view() : e.origin;
	if (e.kind == moved_here)
		return e.origin;
	return e.kind == "moved" ? e.new_version : std::string_view();
}

char *
append_content(char *pos, char *end, const feed_entry &e)
{
	if (e.kind == "note")
		return append_body(pos, end, e.maintainer, e.escaped);
	if (!port_entry(e)) {
		pos = append_xml(pos, end, e.old_version);
		if (e.maintainer.empty())
			return pos;
		pos = append(pos, end, ": ");
		return append_xml(pos, end, e.maintainer);
	}
	pos = append_xml(pos, end, e.origin);
	pos = append(pos, end, " (");
	pos = append_xml(pos, end, e.maintainer);
	pos = append(pos, end, ") ");
	pos = append(pos, end, e.kind);
	// An update's commits, a line each, after its own line.
	for (std::string_view c = e.commits; !c.empty();) {
		std::size_t nl = c.find('\n');
		pos = append(pos, end, "\n");
		pos = append_xml(pos, end, c.substr(2, nl - 2));
		c.remove_prefix(nl + 1);
	}
	return pos;
}

char *
append_entry(char *pos, char *end, const feed_entry &e)
{
	pos = append(pos, end, "<entry>\n<id>tag:");
	pos = append_url_path(pos, end, site_host());
	pos = append(pos, end, ",");
	pos = append(pos, end, e.date);
	pos = append(pos, end, ":");
	pos = append_id_rest(pos, end, e);
	pos = append(pos, end, "</id>\n<title>");
	pos = append_title(pos, end, e);
	pos = append(pos, end, "</title>\n<updated>");
	pos = append_utc_time(pos, end, e.time);
	pos = append(pos, end, "</updated>\n");
	std::string_view linked = linked_origin(e);
	if (!linked.empty()) {
		pos = append(pos, end, "<link href=\"");
		pos = append(pos, end, state.site_url);
		pos = append_url_path(pos, end, linked);
		pos = append(pos, end, "/README.html\"/>\n");
	}
	pos = append(pos, end, "<content type=\"text\">");
	pos = append_content(pos, end, e);
	return append(pos, end, "</content>\n</entry>\n");
}

std::size_t
entry_bound(const feed_entry &e)
{
	return 512 + std::strlen(state.site_url) +
	    18 * (e.origin.size() + e.old_version.size() +
		     e.new_version.size() + e.maintainer.size() +
		     e.commits.size());
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
		report_output_file(dir, "feed.atom",
		    "text would exceed its %zu-byte buffer; not written\n",
		    feed_out.size);
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
	long long now_time = 0;
	char today[16] = {};
	port_version *now = nullptr; // the INDEX's ports, by origin
	std::size_t now_count = 0;
	// Each maintainer of a port once, in the order of their address
	// folded.
	std::string_view *maintainers = nullptr;
	std::size_t maintainer_count = 0;
	std::size_t moves = 0, notes = 0; // the tree's
	long long start = 0;		  // the time of the first run
	// The published record, when whole: this run compares with it.
	char *previous = nullptr;
	feed_record before;
	bool compare = false;
	// This run's entries from 0, the old ones from old_at on.
	feed_entry *entries = nullptr;
	std::size_t entry_count = 0, old_at = 0, old_count = 0;
	char *note_ids = nullptr;
	char *commit_lines = nullptr; // the commits of this run's updates
	// The published feeds read back, each with the room for its texts
	// unescaped.
	char **feed_texts = nullptr;
	std::size_t feed_text_count = 0;
	~feed_run()
	{
		for (std::size_t i = 0; i < feed_text_count; i++)
			std::free(feed_texts[i]);
		std::free(feed_texts);
		std::free(now);
		std::free(maintainers);
		std::free(previous);
		std::free(before.ports.data());
		std::free(before.moves.data());
		std::free(before.notes.data());
		std::free(entries);
		std::free(note_ids);
		std::free(commit_lines);
	}
};

template <typename T>
T *
allocate_array(std::size_t n)
{
	return static_cast<T *>(
	    allocate_reported((n == 0 ? 1 : n) * sizeof(T), "feeds"));
}

// The INDEX's ports, by origin, and their maintainers. 0, or 1 after the
// report.
int
read_ports(feed_run *run)
{
	std::size_t n = state.index_lines;
	run->now = allocate_array<port_version>(n);
	run->maintainers = allocate_array<std::string_view>(n);
	if (run->now == nullptr || run->maintainers == nullptr)
		return 1;
	n = 0;
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1) {
		index_record record;
		(void)split_index_line(line, &record, index_field::maintainer);
		run->now[n++] = {port_origin(record),
		    package_version(record[index_field::package]),
		    record[index_field::maintainer]};
	}
	run->now_count = n;
	std::sort(run->now, run->now + n,
	    [](const port_version &a, const port_version &b) {
		    return a.origin < b.origin;
	    });
	// The maintainers: the ports sorted by their address folded, the
	// first of each address.
	port_version *by_maintainer = allocate_array<port_version>(n);
	if (by_maintainer == nullptr)
		return 1;
	std::copy(run->now, run->now + n, by_maintainer);
	std::sort(by_maintainer, by_maintainer + n,
	    [](const port_version &a, const port_version &b) {
		    return folded_less(a.maintainer, b.maintainer);
	    });
	for (std::size_t i = 0; i < n; i++) {
		std::string_view who = by_maintainer[i].maintainer;
		if (i == 0 || folded_less(by_maintainer[i - 1].maintainer, who))
			run->maintainers[run->maintainer_count++] = who;
	}
	std::free(by_maintainer);
	return 0;
}

// Calls visit(dir, rel, title, subject, pick) for each feed of the site:
// the whole tree's, each category's, each maintainer's.
template <typename Visit>
int
for_each_feed(const feed_run &run, Visit visit)
{
	int failures = visit(state.top_dir, "", "FreeBSD ports: changes", "",
	    [](const feed_entry &) { return true; });
	char dir[path_size];
	char rel[path_size];
	for (const char *name = state.category_list; *name != '\0';
	     name = list_next(name)) {
		std::string_view category = name;
		if (!join_text(dir, sizeof dir, {state.top_dir_slash, name}) ||
		    !join_text(rel, sizeof rel, {name, "/"}))
			continue;
		failures += visit(dir, rel, "FreeBSD ports: changes in ",
		    category, [category](const feed_entry &e) {
			    return e.kind != "note" &&
				category_of(e.origin) == category;
		    });
	}
	for (std::size_t i = 0; templates().maintainer_pages &&
	     i < run.maintainer_count;
	     i++) {
		std::string_view who = run.maintainers[i];
		char name[maintainer_name_size];
		(void)maintainer_file_name(who, name);
		if (!join_text(dir, sizeof dir,
			{state.top_dir_slash, maintainer_folder, "/", name}) ||
		    !join_text(
			rel, sizeof rel, {maintainer_folder, "/", name, "/"}))
			continue;
		std::uint64_t h = folded_hash(who);
		failures += visit(dir, rel, "FreeBSD ports: changes of ", who,
		    [h](const feed_entry &e) {
			    return port_entry(e) && e.maintainer_hash == h;
		    });
	}
	return failures;
}

// An entry of a feed as this tool writes it, its parts as they stand.
struct raw_entry {
	std::string_view id, title, updated, link, content;
	bool linked;
};

// The part of *rest between open, where it begins, and close; false when
// it does not begin so or never closes.
bool
take_part(std::string_view *rest, std::string_view open,
    std::string_view close, std::string_view *part)
{
	if (!rest->starts_with(open))
		return false;
	std::size_t at = rest->find(close, open.size());
	if (at == std::string_view::npos)
		return false;
	*part = rest->substr(open.size(), at - open.size());
	rest->remove_prefix(at + close.size());
	return true;
}

// The next entry of a feed at *rest; false at its end, or where the text
// is not an entry as this tool writes it.
bool
next_raw_entry(std::string_view *rest, raw_entry *raw)
{
	*raw = {};
	if (!take_part(rest, "<entry>\n<id>", "</id>\n", &raw->id) ||
	    !take_part(rest, "<title>", "</title>\n", &raw->title) ||
	    !take_part(rest, "<updated>", "</updated>\n", &raw->updated))
		return false;
	raw->linked = take_part(rest, "<link href=\"", "\"/>\n", &raw->link);
	return take_part(rest, "<content type=\"text\">",
	    "</content>\n</entry>\n", &raw->content);
}

// The text that append_xml wrote as text, at *out, which moves past it;
// false when it holds a reference that append_xml does not write.
bool
unescape(std::string_view text, char **out, std::string_view *result)
{
	constexpr std::array<std::pair<std::string_view, char>, 4> refs = {
	    {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}}};
	char *begin = *out;
	while (!text.empty()) {
		std::size_t amp = text.find('&');
		std::string_view plain = text.substr(0, amp);
		std::memcpy(*out, plain.data(), plain.size());
		*out += plain.size();
		text.remove_prefix(plain.size());
		if (text.empty())
			break;
		auto ref = std::find_if(refs.begin(), refs.end(),
		    [text](const auto &r) { return text.starts_with(r.first); });
		if (ref == refs.end())
			return false;
		*(*out)++ = ref->second;
		text.remove_prefix(ref->first.size());
	}
	*result = std::string_view(begin, static_cast<std::size_t>(*out - begin));
	return true;
}

// text from n on; empty when it is shorter.
std::string_view
after(std::string_view text, std::size_t n)
{
	return text.substr(std::min(n, text.size()));
}

// The fields of a port's entry, from its title and content ("ORIGIN
// (MAINTAINER) KIND").
bool
port_fields(std::string_view title, std::string_view content, feed_entry *e)
{
	for (std::string_view kind : {"added", "updated", "removed"}) {
		if (content.size() > kind.size() + 2 && content.ends_with(kind) &&
		    content.substr(0, content.size() - kind.size())
			.ends_with(") "))
			e->kind = kind;
	}
	std::size_t open = content.find(" (");
	if (e->kind.empty() || open == std::string_view::npos ||
	    open + 2 + e->kind.size() + 2 > content.size())
		return false;
	e->origin = content.substr(0, open);
	e->maintainer = content.substr(
	    open + 2, content.size() - open - 4 - e->kind.size());
	std::string_view t = after(title, e->origin.size() + 1);
	if (e->kind == "updated") {
		t = after(t, std::string_view("updated from ").size());
		std::size_t to = t.find(" to ");
		e->old_version = t.substr(0, to);
		e->new_version = after(t, to == t.npos ? t.size() : to + 4);
		return true;
	}
	std::size_t word = t.rfind(' ');
	(e->kind == "added" ? e->new_version : e->old_version) =
	    t.substr(0, word);
	return true;
}

// The fields of a move's entry, from its title ("OLD moved to NEW", "OLD
// removed") and content ("DATE", "DATE: REASON").
bool
move_fields(std::string_view title, std::string_view content, bool linked,
    feed_entry *e)
{
	e->kind = linked ? "moved" : "unlisted";
	std::size_t to = title.find(" moved to ");
	if (to != std::string_view::npos) {
		e->origin = title.substr(0, to);
		e->new_version = after(title, to + 10);
	} else if (title.ends_with(" removed")) {
		e->origin = title.substr(0, title.size() - 8);
	} else {
		return false;
	}
	std::size_t colon = content.find(": ");
	e->old_version = content.substr(0, colon);
	e->maintainer = colon == content.npos ? std::string_view()
					       : after(content, colon + 2);
	return true;
}

// Whether e, written again, gives raw (but for the site's URL, which may
// have changed).
bool
writes_as(const feed_entry &e, const raw_entry &raw)
{
	if (need_buffer(&feed_out, entry_bound(e), "feeds") != 0)
		return false;
	char *buf = feed_out.data, *end = feed_out.data + feed_out.size;
	auto is = [buf](char *pos, std::string_view text) {
		return pos != nullptr &&
		    std::string_view(buf, static_cast<std::size_t>(pos - buf)) ==
		    text;
	};
	char *pos = append(buf, end, e.date);
	pos = append(pos, end, ":");
	std::size_t comma = raw.id.find(',');
	if (!is(append_id_rest(pos, end, e), after(raw.id, comma + 1)) ||
	    !is(append_title(buf, end, e), raw.title) ||
	    !is(append_utc_time(buf, end, e.time), raw.updated) ||
	    !is(append_content(buf, end, e),
		port_entry(e) ? raw.content.substr(0, raw.content.find('\n'))
			      : raw.content))
		return false;
	std::string_view linked = linked_origin(e);
	pos = append_url_path(buf, end, linked);
	pos = append(pos, end, "/README.html");
	return linked.empty()
	    ? !raw.linked
	    : raw.linked && pos != nullptr &&
		raw.link.ends_with(std::string_view(
		    buf, static_cast<std::size_t>(pos - buf)));
}

// The time that text ("2026-12-09T17:27:43Z") gives, as append_utc_time
// writes it.
bool
read_time(std::string_view text, long long *time)
{
	char buf[32];
	struct tm tm {};
	if (!copy_text(buf, sizeof buf, text) ||
	    std::sscanf(buf, "%4d-%2d-%2dT%2d:%2d:%2dZ", &tm.tm_year,
		&tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
		&tm.tm_sec) != 6)
		return false;
	tm.tm_year -= 1900;
	tm.tm_mon -= 1;
	*time = static_cast<long long>(timegm(&tm));
	return true;
}

// The entry that raw was written from: its fields read back from its id,
// title and content, at *out, and taken only when writing them again gives
// raw.
bool
read_entry(const raw_entry &raw, char **out, feed_entry *e)
{
	std::size_t comma = raw.id.find(',');
	std::size_t colon = raw.id.find(':', comma);
	std::string_view title, content;
	long long time = 0;
	if (!raw.id.starts_with("tag:") || colon == std::string_view::npos ||
	    !unescape(raw.title, out, &title) ||
	    !unescape(raw.content, out, &content) ||
	    !read_time(raw.updated, &time))
		return false;
	std::string_view rest = after(raw.id, colon + 1);
	for (int kind = 0; kind < 4; kind++) {
		feed_entry c{};
		c.time = time;
		c.date = raw.id.substr(comma + 1, colon - comma - 1);
		bool read = false;
		if (kind == 0) {
			// An update's commits are not read back.
			read = port_fields(
			    title, content.substr(0, content.find('\n')), &c);
		} else if (kind == 1 || kind == 2) {
			// A linked move links the new port's page or the one
			// left at its old origin: the link tells which.
			read = move_fields(title, content, raw.linked, &c) &&
			    (kind == 1 || raw.linked);
			if (kind == 2)
				c.kind = moved_here;
		} else if (rest.starts_with("updating/")) {
			c.kind = "note";
			c.origin = after(rest, 9);
			c.old_version = after(title, 10);
			c.maintainer = content;
			read = true;
		}
		if (read && writes_as(c, raw)) {
			*e = c;
			return true;
		}
	}
	return false;
}

// The order of the entries in a feed: newest first; of one run, the ports
// by origin, then the moves, then the notes (as they were found).
int
entry_class(const feed_entry &e)
{
	return port_entry(e) ? 0 : e.kind == "note" ? 2 : 1;
}

bool
newer(const feed_entry &a, const feed_entry &b)
{
	if (a.time != b.time)
		return a.time > b.time;
	if (entry_class(a) != entry_class(b))
		return entry_class(a) < entry_class(b);
	return entry_class(a) == 0 && a.origin < b.origin;
}

// Reads the feed rel (a feed's folder, "" or ending in "/") of the
// published generation into the run's texts, adding its count of entries
// to *count and the time its head gives to *oldest. 0; 1 after a report.
int
read_feed(feed_run *run, std::string_view rel, std::size_t *count,
    long long *oldest)
{
	char path[path_size];
	if (!join_text(path, sizeof path, {rel, "feed.atom"}))
		return 0;
	published_file f = read_published(path);
	if (f.text == nullptr)
		return 0;
	char *room = allocate_array<char>(f.size);
	if (room == nullptr) {
		std::free(f.text);
		return 1;
	}
	run->feed_texts[run->feed_text_count++] = f.text;
	run->feed_texts[run->feed_text_count++] = room;
	std::string_view text(f.text, f.size);
	for (std::size_t at = text.find("<entry>\n"); at != text.npos;
	     at = text.find("<entry>\n", at + 1))
		++*count;
	std::string_view head = text.substr(0, text.find("<entry>\n"));
	std::string_view updated;
	long long time = 0;
	head.remove_prefix(std::min(head.size(), head.find("<updated>")));
	if (take_part(&head, "<updated>", "</updated>\n", &updated) &&
	    read_time(updated, &time) && (*oldest < 0 || time < *oldest))
		*oldest = time;
	return 0;
}

// The entries of the published feeds, each once, in the order they were
// made, as the old entries; the time of the oldest feed as the first run's
// (the time of any empty feed). With only_if_whole_feed, nothing when the
// whole tree's feed is not there. 0, or 1 after a report.
int
read_back_feeds(feed_run *run, bool only_if_whole_feed)
{
	std::size_t feeds = 1 + run->maintainer_count;
	for (const char *name = state.category_list; *name != '\0';
	     name = list_next(name))
		feeds++;
	run->feed_texts = allocate_array<char *>(2 * feeds);
	if (run->feed_texts == nullptr)
		return 1;
	std::size_t count = 0;
	long long oldest = -1;
	int failures = read_feed(run, "", &count, &oldest);
	if (only_if_whole_feed && run->feed_text_count == 0)
		return failures;
	failures += for_each_feed(*run,
	    [run, &count, &oldest](const char *, std::string_view rel,
		std::string_view, std::string_view, auto) {
		    return rel.empty() ? 0 : read_feed(run, rel, &count, &oldest);
	    });
	run->start = oldest >= 0 ? oldest : run->now_time;
	std::size_t slots = 16;
	while (slots < 2 * count)
		slots *= 2;
	run->entries = allocate_array<feed_entry>(count);
	std::uint32_t *seen = allocate_array<std::uint32_t>(slots);
	std::string_view *keys = allocate_array<std::string_view>(count);
	if (failures != 0 || run->entries == nullptr || seen == nullptr ||
	    keys == nullptr) {
		std::free(seen);
		std::free(keys);
		return 1;
	}
	// Each entry once, by its id after the host.
	std::size_t n = 0;
	for (std::size_t i = 0; i < run->feed_text_count; i += 2) {
		std::string_view rest = run->feed_texts[i];
		char *out = run->feed_texts[i + 1];
		rest.remove_prefix(std::min(rest.size(), rest.find("<entry>\n")));
		raw_entry raw;
		feed_entry e;
		while (next_raw_entry(&rest, &raw) && read_entry(raw, &out, &e)) {
			std::string_view key = after(raw.id, raw.id.find(','));
			std::size_t slot = find_slot({seen, slots - 1},
			    fnv1a(key), [keys, key](std::uint32_t k) {
				    return keys[k - 1] == key;
			    });
			if (seen[slot] == 0) {
				keys[n] = key;
				run->entries[n++] = e;
				seen[slot] = static_cast<std::uint32_t>(n);
			}
		}
	}
	std::free(seen);
	std::free(keys);
	std::stable_sort(run->entries, run->entries + n, newer);
	run->old_count = n;
	return 0;
}

// Reads the published record into the run: when it is whole, what this run
// compares with and the old entries; when it is not, it is named and the
// old entries are read back from the published feeds. None, and no feeds:
// this run begins anew. 0, or 1 after a report.
int
read_record(feed_run *run)
{
	published_file f = read_published(feed_record_name);
	run->previous = f.text;
	run->start = run->now_time;
	// Room for this run's entries before the old ones: a port added or
	// updated, or removed, and each move and note.
	std::string_view text(f.text != nullptr ? f.text : "", f.size);
	std::size_t lines = feed_record_lines(text);
	run->old_at = run->now_count + lines + run->moves + run->notes;
	if (f.text != nullptr) {
		feed_record &r = run->before;
		r.ports = {allocate_array<port_version>(lines), lines};
		r.moves = {allocate_array<std::uint64_t>(lines), lines};
		r.notes = {allocate_array<std::uint64_t>(lines), lines};
		run->entries = allocate_array<feed_entry>(run->old_at + lines);
		if (r.ports.data() == nullptr || r.moves.data() == nullptr ||
		    r.notes.data() == nullptr || run->entries == nullptr)
			return 1;
		r.entries = {run->entries + run->old_at, lines};
		if (parse_feed_record(text, &r)) {
			run->compare = true;
			run->start = r.start;
			run->old_count = r.entries.size();
			return 0;
		}
	}
	const char *why = f.text != nullptr ? "cut short or altered" : f.why;
	std::free(run->entries);
	run->entries = nullptr;
	run->old_at = 0;
	if (read_back_feeds(run, why == nullptr) != 0)
		return 1;
	if (why == nullptr && run->feed_text_count == 0)
		return 0;
	std::fprintf(stderr,
	    "%s: not a whole record of the feeds (%s): the feeds keep their "
	    "%zu entries, and this run adds none\n",
	    f.shown, why != nullptr ? why : "missing", run->old_count);
	return 0;
}

// The S lines of one port's commits read since the run before, at pos
// when it is not null; their length.
std::size_t
commit_lines_of(std::string_view origin, char *pos)
{
	history_commit commits[port_commits_shown];
	std::size_t n = port_history(origin, commits, true);
	std::size_t length = 0;
	for (std::size_t i = 0; i < n; i++) {
		std::string_view subject = commits[i].subject;
		length += subject.size() + 3;
		if (pos == nullptr)
			continue;
		*pos++ = 'S';
		*pos++ = '\t';
		for (char c : subject)
			*pos++ = c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
		*pos++ = '\n';
	}
	return length;
}

// Gives the updates among this run's first n entries the subjects of the
// commits that changed their port since the run before, when the port
// pages show the tree's history (only then is it read) and it knows them.
// 0, or 1 after a report.
int
add_commits(feed_run *run, std::size_t n)
{
	const page_templates &t = templates();
	if (!t.port_examined ||
	    (t.port_uses & (placeholder_bit(ph_recent_commits) |
			       placeholder_bit(ph_last_changed))) == 0)
		return 0;
	std::size_t total = 0;
	for (std::size_t k = 0; k < n; k++)
		if (run->entries[k].kind == "updated")
			total += commit_lines_of(run->entries[k].origin, nullptr);
	if (total == 0)
		return 0;
	run->commit_lines = allocate_array<char>(total);
	if (run->commit_lines == nullptr)
		return 1;
	char *pos = run->commit_lines;
	for (std::size_t k = 0; k < n; k++) {
		feed_entry &e = run->entries[k];
		if (e.kind != "updated")
			continue;
		std::size_t length = commit_lines_of(e.origin, pos);
		e.commits = {pos, length};
		pos += length;
	}
	return 0;
}

// This run's entries, before the old ones: what differs from the record,
// by origin; then the moves it did not know, the newest (MOVED's last
// lines) first, then the notes, newest first.
int
add_entries(feed_run *run)
{
	const feed_record &r = run->before;
	std::size_t i = 0, j = 0, n = 0;
	while (i < run->now_count || j < r.ports.size()) {
		const port_version *a = i < run->now_count ? &run->now[i] : nullptr;
		const port_version *b = j < r.ports.size() ? &r.ports[j] : nullptr;
		feed_entry e = {run->now_time, run->today, {}, {}, {}, {}, {}, 0};
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
		run->entries[n++] = e;
	}
	if (add_commits(run, n) != 0)
		return 1;
	// The ports' entries are by origin: a removal that a new move of the
	// same run explains is told by the move's entry alone.
	std::span<feed_entry> ports(run->entries, n);
	auto removal = [ports](std::string_view origin) -> feed_entry * {
		auto at = std::lower_bound(ports.begin(), ports.end(), origin,
		    [](const feed_entry &x, std::string_view o) {
			    return x.origin < o;
		    });
		return at != ports.end() && at->origin == origin &&
			at->kind == "removed"
		    ? &*at
		    : nullptr;
	};
	std::span<std::uint64_t> moves = run->before.moves;
	std::span<std::uint64_t> notes = run->before.notes;
	std::sort(moves.begin(), moves.end());
	std::sort(notes.begin(), notes.end());
	for (std::size_t k = run->moves; r.moves_known && k-- > 0;) {
		const moved_entry &m = moved_at(k);
		if (std::binary_search(moves.begin(), moves.end(), move_hash(m)))
			continue;
		bool listed = std::binary_search(run->now,
		    run->now + run->now_count, port_version{m.new_origin, {}, {}},
		    [](const port_version &x, const port_version &y) {
			    return x.origin < y.origin;
		    });
		std::string_view kind = listed ? "moved" : "unlisted";
		if (feed_entry *gone = removal(m.old_origin); gone != nullptr) {
			gone->kind = {};
			if (moved_readme_made(m.old_origin))
				kind = moved_here;
		}
		run->entries[n++] = {run->now_time, run->today, kind,
		    m.old_origin, m.date, m.new_origin, m.reason, 0};
	}
	run->note_ids = allocate_array<char>(17 * run->notes);
	if (run->note_ids == nullptr)
		return 1;
	for (std::size_t k = 0; r.notes_known && k < run->notes; k++) {
		const updating_note &u = updating_at(k);
		std::uint64_t h = note_hash(u);
		if (std::binary_search(notes.begin(), notes.end(), h))
			continue;
		char *id = run->note_ids + 17 * k;
		std::memcpy(id, u.date.data(),
		    std::min<std::size_t>(u.date.size(), 8));
		id[8] = '-';
		std::array<char, 16> hex = hex_of(h);
		std::memcpy(id + 9, hex.data(), 8);
		run->entries[n++] = {run->now_time, run->today, "note",
		    std::string_view(id, 17), u.affects, {}, u.body, 0};
	}
	run->entry_count = static_cast<std::size_t>(
	    std::remove_if(run->entries, run->entries + n,
		[](const feed_entry &e) { return e.kind.empty(); }) -
	    run->entries);
	return 0;
}

// Keeps the newest 200 of the whole feed, of a category, of a maintainer.
// 0, or 1 after a report.
int
keep_entries(feed_run *run)
{
	std::size_t slots = 16;
	while (slots < 4 * run->entry_count)
		slots *= 2;
	std::uint64_t *keys = allocate_array<std::uint64_t>(slots);
	std::uint32_t *values = allocate_array<std::uint32_t>(slots);
	if (keys == nullptr || values == nullptr) {
		std::free(keys);
		std::free(values);
		return 1;
	}
	counts table = {keys, values, slots - 1};
	std::size_t kept = 0;
	for (std::size_t k = 0; k < run->entry_count; k++) {
		const feed_entry &e = run->entries[k];
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
			run->entries[kept++] = e;
	}
	run->entry_count = kept;
	std::free(keys);
	std::free(values);
	return 0;
}

// Writes the record this generation keeps. 0, or 1 after a report.
int
write_record(const feed_run &run)
{
	feed_record r;
	r.start = run.start;
	r.ports = {run.now, run.now_count};
	r.moves_known = run.moves != 0;
	r.notes_known = run.notes != 0;
	r.entries = {run.entries, run.entry_count};
	std::uint64_t *hashes = allocate_array<std::uint64_t>(run.moves + run.notes);
	if (hashes == nullptr)
		return 1;
	for (std::size_t k = 0; k < run.moves; k++)
		hashes[k] = move_hash(moved_at(k));
	for (std::size_t k = 0; k < run.notes; k++)
		hashes[run.moves + k] = note_hash(updating_at(k));
	r.moves = {hashes, run.moves};
	r.notes = {hashes + run.moves, run.notes};
	std::size_t bound = feed_record_bound(r);
	char *text = allocate_array<char>(bound);
	char *pos = text == nullptr ? nullptr
				    : format_feed_record(text, text + bound, r);
	int failures = pos == nullptr ? 1
				      : write_file(state.top_dir,
					    feed_record_name, text,
					    static_cast<std::size_t>(pos - text));
	std::free(hashes);
	std::free(text);
	return failures;
}

} // namespace

bool
feeds_written()
{
	return state.site_url[0] != '\0' && publishing_generations();
}

int
make_feeds(int *unwritten)
{
	if (!feeds_written())
		return 0;
	feed_run run;
	run.now_time = platform_now();
	std::time_t t = static_cast<std::time_t>(run.now_time);
	struct tm tm;
	(void)gmtime_r(&t, &tm);
	(void)std::strftime(run.today, sizeof run.today, "%Y-%m-%d", &tm);
	// The tree's moves and notes, when it has them.
	if (read_ports(&run) != 0 || need_moved() < 0 || need_updating() < 0) {
		++*unwritten;
		return 1;
	}
	run.moves = moved_count();
	run.notes = updating_count();
	if (read_record(&run) != 0 ||
	    (run.entries == nullptr &&
		(run.entries = allocate_array<feed_entry>(0)) == nullptr) ||
	    (run.compare && add_entries(&run) != 0)) {
		++*unwritten;
		return 1;
	}
	// The old entries after this run's.
	if (run.old_count != 0)
		std::memmove(run.entries + run.entry_count,
		    run.entries + run.old_at,
		    run.old_count * sizeof *run.entries);
	run.entry_count += run.old_count;
	for (std::size_t k = 0; k < run.entry_count; k++) {
		feed_entry &e = run.entries[k];
		e.maintainer_hash = port_entry(e) ? folded_hash(e.maintainer) : 0;
	}
	if (keep_entries(&run) != 0) {
		++*unwritten;
		return 1;
	}
	int failures = write_record(run);
	std::span<const feed_entry> list(run.entries, run.entry_count);
	failures += for_each_feed(run,
	    [&list, &run](const char *dir, std::string_view rel,
		std::string_view title, std::string_view subject, auto pick) {
		    return write_feed(
			dir, rel, title, subject, list, run.start, pick);
	    });
	release_buffer(&feed_out);
	*unwritten += failures;
	return failures != 0 ? 1 : 0;
}
