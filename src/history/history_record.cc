// The history record: its reading and its writing, the one place that
// knows its format.
#include "history/history_record.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "text/bounded.h"
#include "text/text.h"

namespace {

constexpr std::string_view record_head = "quillmark-history ";

bool
is_hash(std::string_view text)
{
	return text.size() == 40 &&
	    std::all_of(text.begin(), text.end(), [](char c) {
		    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
	    });
}

// The number that text is: digits only, not too many.
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

// The next field of *line after a tab; false when there is no tab.
bool
next_field(std::string_view *line, std::string_view *field)
{
	if (line->empty() || (*line)[0] != '\t')
		return false;
	line->remove_prefix(1);
	std::size_t tab = line->find('\t');
	*field = line->substr(0, tab);
	line->remove_prefix(field->size());
	return true;
}


char *
append_field(char *pos, char *end, std::string_view text)
{
	// A byte at a time into room known to be there: the record is
	// written whole at every run, and a large one is most of a run's
	// writing.
	if (pos == nullptr || static_cast<std::size_t>(end - pos) <= text.size())
		return nullptr;
	*pos++ = '\t';
	for (char c : text)
		*pos++ = c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
	return pos;
}

// A number of a port's list, after a space unless it is the first.
char *
append_list_number(char *pos, char *end, std::uint32_t n, bool first)
{
	char digits[12];
	char *d = digits + sizeof digits;
	do {
		*--d = static_cast<char>('0' + n % 10);
		n /= 10;
	} while (n != 0);
	auto length = static_cast<std::size_t>(digits + sizeof digits - d);
	if (pos == nullptr ||
	    static_cast<std::size_t>(end - pos) < length + (first ? 0 : 1))
		return nullptr;
	if (!first)
		*pos++ = ' ';
	std::memcpy(pos, d, length);
	return pos + length;
}

} // namespace

std::size_t
history_record_lines(std::string_view text)
{
	return static_cast<std::size_t>(
	    std::count(text.begin(), text.end(), '\n'));
}

std::size_t
history_record_numbers(std::string_view text)
{
	return text.size() / 2 + 1;
}

bool
parse_history_record(
    std::string_view text, history_record *r, std::uint32_t *numbers)
{
	std::size_t head_end = text.find('\n');
	std::string_view head = text.substr(0, head_end);
	if (head_end == std::string_view::npos ||
	    !head.starts_with("quillmark-history 1 ") ||
	    !is_hash(head.substr(20)) || text.back() != '\n')
		return false;
	r->head = head.substr(20);
	// The last line closes what comes before it.
	std::size_t at = record_body_end(text, head_end);
	if (at == std::string_view::npos)
		return false;
	std::string_view body = text.substr(head_end + 1, at - head_end - 1);
	std::size_t commits = 0, ports = 0, used = 0;
	while (!body.empty()) {
		std::size_t nl = body.find('\n');
		std::string_view line = body.substr(0, nl);
		body.remove_prefix(nl + 1);
		std::string_view f[4];
		if (line.starts_with("C\t") && ports == 0) {
			line.remove_prefix(1);
			history_commit c{};
			for (std::string_view &field : f) {
				if (!next_field(&line, &field))
					return false;
			}
			if (!line.empty() || !is_hash(f[0]) ||
			    !read_number(f[1], &c.time))
				return false;
			c.hash = f[0];
			c.author = f[2];
			c.subject = f[3];
			r->commits[commits++] = c;
		} else if (line.starts_with("P\t")) {
			line.remove_prefix(1);
			if (!next_field(&line, &f[0]) || !next_field(&line, &f[1]) ||
			    !line.empty() || f[0].empty())
				return false;
			std::size_t first = used;
			std::string_view list = f[1];
			while (!list.empty()) {
				std::size_t space = list.find(' ');
				long long n;
				if (!read_number(list.substr(0, space), &n) ||
				    static_cast<std::size_t>(n) >= commits)
					return false;
				numbers[used++] = static_cast<std::uint32_t>(n);
				list.remove_prefix(space == std::string_view::npos
					? list.size()
					: space + 1);
			}
			if (used == first)
				return false;
			r->ports[ports++] = {
			    f[0], {numbers + first, used - first}};
		} else {
			return false;
		}
	}
	r->commits = r->commits.first(commits);
	r->ports = r->ports.first(ports);
	return true;
}

std::size_t
history_record_bound(const history_record &r)
{
	std::size_t bound = 128 + r.head.size();
	for (const history_commit &c : r.commits)
		bound += 80 + c.hash.size() + c.author.size() + c.subject.size();
	for (const history_port &p : r.ports)
		bound += 8 + p.dir.size() + 11 * p.commits.size();
	return bound;
}

char *
format_history_record(char *pos, char *end, const history_record &r)
{
	char *begin = pos;
	pos = append(pos, end, record_head);
	pos = append_number(pos, end, history_record_version);
	pos = append(pos, end, " ");
	pos = append(pos, end, r.head);
	pos = append(pos, end, "\n");
	for (const history_commit &c : r.commits) {
		pos = append(pos, end, "C\t");
		pos = append(pos, end, c.hash);
		pos = append(pos, end, "\t");
		pos = append_number(pos, end, c.time);
		pos = append_field(pos, end, c.author);
		pos = append_field(pos, end, c.subject);
		pos = append(pos, end, "\n");
	}
	for (const history_port &p : r.ports) {
		pos = append(pos, end, "P");
		pos = append_field(pos, end, p.dir);
		pos = append(pos, end, "\t");
		for (std::size_t i = 0; i < p.commits.size(); i++)
			pos = append_list_number(pos, end, p.commits[i], i == 0);
		pos = append(pos, end, "\n");
	}
	if (pos == nullptr)
		return nullptr;
	char buf[64];
	return append(pos, end,
	    record_end_line(std::string_view(begin, static_cast<std::size_t>(pos - begin)),
		buf));
}
