// The feed record: its reading and its writing, the one place that knows
// its format.
#include "sitefiles/feed_record.h"

#include <algorithm>
#include <array>

#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"

namespace {

constexpr std::string_view record_head = "quillmark-feed ";
constexpr std::array<std::string_view, 7> entry_kinds = {"added", "updated",
    "removed", "moved", "unlisted", "note", "moved-here"};

// The number that text is, when it is one: digits only, not too many.
bool
read_number(std::string_view text, long long *value)
{
	if (text.empty() || text.size() > 18)
		return false;
	*value = 0;
	for (char c : text) {
		if (c < '0' || c > '9')
			return false;
		*value = *value * 10 + (c - '0');
	}
	return true;
}

// The hash that text, 16 lowercase hexadecimal digits, is.
bool
read_hash(std::string_view text, std::uint64_t *h)
{
	if (text.size() != 16)
		return false;
	*h = 0;
	for (char c : text) {
		int digit = c >= '0' && c <= '9' ? c - '0'
		    : c >= 'a' && c <= 'f'	 ? c - 'a' + 10
						 : -1;
		if (digit < 0)
			return false;
		*h = *h << 4 | static_cast<unsigned>(digit);
	}
	return true;
}

// The tab-separated fields of line after its kind, into fields; false
// unless there are exactly n.
template <std::size_t n>
bool
split_fields(std::string_view line, std::array<std::string_view, n> *fields)
{
	for (std::size_t i = 0; i < n; i++) {
		if (line.empty() || line[0] != '\t')
			return false;
		line.remove_prefix(1);
		std::size_t tab = line.find('\t');
		(*fields)[i] = line.substr(0, tab);
		line.remove_prefix(tab == std::string_view::npos ? line.size()
								 : tab);
	}
	return line.empty();
}

// Reads one line of the record's body into *r, whose lists grow. False
// when it is not one that this tool writes.
bool
read_line(std::string_view line, feed_record *r, std::size_t counts[4])
{
	std::string_view kind = line.substr(0, line.find('\t'));
	line.remove_prefix(kind.size());
	if (kind == "P") {
		std::array<std::string_view, 3> f;
		if (!split_fields(line, &f))
			return false;
		r->ports[counts[0]++] = {f[0], f[1], f[2]};
		return true;
	}
	if (kind == "HM" || kind == "HU") {
		(kind == "HM" ? r->moves_known : r->notes_known) = true;
		return line.empty();
	}
	if (kind == "M" || kind == "U") {
		std::array<std::string_view, 1> f;
		bool move = kind == "M";
		std::uint64_t &h = move ? r->moves[counts[1]++]
					: r->notes[counts[2]++];
		return split_fields(line, &f) && read_hash(f[0], &h);
	}
	std::array<std::string_view, 7> f;
	feed_entry e{};
	if (kind != "E" || !split_fields(line, &f) ||
	    !read_number(f[0], &e.time) ||
	    std::find(entry_kinds.begin(), entry_kinds.end(), f[2]) ==
		entry_kinds.end())
		return false;
	e.date = f[1];
	e.kind = f[2];
	e.origin = f[3];
	e.old_version = f[4];
	e.new_version = f[5];
	e.maintainer = f[6];
	e.escaped = e.kind == "note";
	r->entries[counts[3]++] = e;
	return true;
}


// A field as the record holds it: a tab or line end would split it.
char *
append_field(char *pos, char *end, std::string_view text)
{
	pos = append(pos, end, "\t");
	std::size_t run = 0;
	for (std::size_t i = 0; pos != nullptr && i < text.size(); i++) {
		if (text[i] != '\t' && text[i] != '\n' && text[i] != '\r')
			continue;
		pos = append(pos, end, text.substr(run, i - run));
		pos = append(pos, end, " ");
		run = i + 1;
	}
	return append(pos, end, text.substr(run));
}

// A note's body as a field: '\\', tab and line ends escaped.
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

// A line that keeps a hash: its head ("M\t"), the hash, the line end.
char *
append_hash_line(char *pos, char *end, std::string_view head, std::uint64_t h)
{
	std::array<char, 16> hex = hex_of(h);
	pos = append(pos, end, head);
	pos = append(pos, end, std::string_view(hex.data(), hex.size()));
	return append(pos, end, "\n");
}

} // namespace

std::size_t
feed_record_lines(std::string_view text)
{
	return static_cast<std::size_t>(
	    std::count(text.begin(), text.end(), '\n'));
}

bool
parse_feed_record(std::string_view text, feed_record *r)
{
	std::size_t head_end = text.find('\n');
	std::string_view head = text.substr(0, head_end);
	std::string_view start = head.substr(std::min(head.size(),
	    head.find(' ', record_head.size()) + 1));
	r->version = head.starts_with("quillmark-feed 2 ") ? 2
	    : head.starts_with("quillmark-feed 1 ")	 ? 1
							 : 0;
	if (r->version == 0 || head_end == std::string_view::npos ||
	    text.back() != '\n' || !read_number(start, &r->start))
		return false;
	std::string_view body = text;
	if (r->version == 2) {
		// The last line closes what comes before it.
		std::size_t at = record_body_end(text, head_end);
		if (at == std::string_view::npos)
			return false;
		body = text.substr(0, at);
	}
	std::size_t counts[4] = {};
	r->moves_known = r->notes_known = false;
	body.remove_prefix(head_end + 1);
	bool after_update = false;
	while (!body.empty()) {
		std::size_t nl = body.find('\n');
		std::string_view line = body.substr(0, nl);
		if (line.starts_with("S\t") && r->version == 2) {
			// The commits of the update just read, lines that
			// follow one another.
			if (!after_update)
				return false;
			std::string_view &c = r->entries[counts[3] - 1].commits;
			c = c.empty() ? body.substr(0, nl + 1)
				      : std::string_view(c.data(), c.size() + nl + 1);
		} else if (!read_line(line, r, counts)) {
			return false;
		} else {
			after_update = line.starts_with("E\t") &&
			    r->entries[counts[3] - 1].kind == "updated";
		}
		body.remove_prefix(nl + 1);
	}
	r->ports = r->ports.first(counts[0]);
	r->moves = r->moves.first(counts[1]);
	r->notes = r->notes.first(counts[2]);
	r->entries = r->entries.first(counts[3]);
	return true;
}

std::size_t
feed_record_bound(const feed_record &r)
{
	std::size_t bound = 128 + 20 * (r.moves.size() + r.notes.size());
	for (const port_version &p : r.ports)
		bound += 8 + p.origin.size() + p.version.size() +
		    p.maintainer.size();
	for (const feed_entry &e : r.entries)
		bound += 64 + e.date.size() + e.kind.size() + e.origin.size() +
		    e.old_version.size() + e.new_version.size() +
		    2 * e.maintainer.size() + e.commits.size();
	return bound;
}

char *
format_feed_record(char *pos, char *end, const feed_record &r)
{
	char *begin = pos;
	pos = append(pos, end, record_head);
	pos = append_number(pos, end, feed_record_version);
	pos = append(pos, end, " ");
	pos = append_number(pos, end, r.start);
	pos = append(pos, end, "\n");
	for (const port_version &p : r.ports) {
		pos = append(pos, end, "P");
		for (std::string_view f : {p.origin, p.version, p.maintainer})
			pos = append_field(pos, end, f);
		pos = append(pos, end, "\n");
	}
	if (r.moves_known)
		pos = append(pos, end, "HM\n");
	for (std::uint64_t h : r.moves)
		pos = append_hash_line(pos, end, "M\t", h);
	if (r.notes_known)
		pos = append(pos, end, "HU\n");
	for (std::uint64_t h : r.notes)
		pos = append_hash_line(pos, end, "U\t", h);
	for (const feed_entry &e : r.entries) {
		pos = append(pos, end, "E\t");
		pos = append_number(pos, end, e.time);
		for (std::string_view f : {e.date, e.kind, e.origin,
			 e.old_version, e.new_version})
			pos = append_field(pos, end, f);
		pos = e.kind == "note" && !e.escaped
		    ? append_escaped_field(pos, end, e.maintainer)
		    : append_field(pos, end, e.maintainer);
		pos = append(pos, end, "\n");
		pos = append(pos, end, e.commits);
	}
	if (pos == nullptr)
		return nullptr;
	char buf[64];
	return append(pos, end,
	    record_end_line(std::string_view(begin, static_cast<std::size_t>(pos - begin)),
		buf));
}
