// The marker file of a generation: its reading and its writing, the one
// place that knows its format.
#include "site/marker.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state/state.h"
#include "text/bounded.h"

namespace {

// The next line of [*pos, end) without its newline, which becomes a NUL;
// null at the end or where no newline ends it.
char *
next_line(char **pos, char *end)
{
	char *line = *pos;
	void *nl = line < end
	    ? std::memchr(line, '\n', static_cast<std::size_t>(end - line))
	    : nullptr;
	if (nl == nullptr)
		return nullptr;
	*static_cast<char *>(nl) = '\0';
	*pos = static_cast<char *>(nl) + 1;
	return line;
}

// The text of line after prefix, or null.
const char *
field(const char *line, std::string_view prefix)
{
	if (line == nullptr)
		return nullptr;
	const char *rest = skip_prefix(line, prefix);
	return rest == line ? nullptr : rest;
}

// The version that line ("format N") gives, when this tool reads it; else
// 0.
int
our_format(const char *line)
{
	for (int version : {marker_version, marker_version - 1}) {
		char ours[32];
		std::snprintf(ours, sizeof ours, "format %d", version);
		if (std::strcmp(line, ours) == 0)
			return version;
	}
	return 0;
}

// Reads count paths (lines) from *pos into a list of NUL-ended paths. The
// count comes from text, a decimal number. False when either is not
// whole.
bool
read_paths(
    const char *text, char **pos, char *end, char **list, std::size_t *count)
{
	char *count_end = nullptr;
	*count = std::strtoul(text, &count_end, 10);
	if (count_end == text || *count_end != '\0' || *text == '-')
		return false;
	*list = *pos;
	for (std::size_t i = 0; i < *count; i++) {
		if (next_line(pos, end) == nullptr)
			return false;
	}
	return true;
}

} // namespace

generation_marker
parse_marker(char *text, std::size_t size, bool whole)
{
	generation_marker m{};
	char *pos = text;
	char *end = text + size;
	(void)next_line(&pos, end);
	const char *format = next_line(&pos, end);
	const char *id = field(next_line(&pos, end), "id ");
	const char *after = field(next_line(&pos, end), "after ");
	const char *files = field(next_line(&pos, end), "files ");
	const char *changed = field(next_line(&pos, end), "changed ");
	int used = -1;
	int version = format == nullptr ? 0 : our_format(format);
	if (version == 0 || id == nullptr || std::strchr(id, ' ') == nullptr ||
	    after == nullptr || changed == nullptr || files == nullptr ||
	    std::sscanf(files, "%" SCNu64 " %" SCNx64 " %" SCNx64 "%n",
		&m.files.count, &m.files.sum1, &m.files.sum2, &used) != 3 ||
	    files[used] != '\0')
		return m;
	m.version = version;
	m.id = id;
	m.after = after;
	m.listed = std::strcmp(changed, "all") != 0;
	if (!whole) {
		m.listed = false;
		m.complete = true;
		return m;
	}
	if (m.listed && !read_paths(changed, &pos, end, &m.list, &m.list_count))
		return m;
	if (version == marker_version) {
		const char *kept = field(next_line(&pos, end), "kept ");
		if (kept == nullptr)
			return m;
		m.kept_known = std::strcmp(kept, "unknown") != 0;
		if (m.kept_known &&
		    !read_paths(kept, &pos, end, &m.kept, &m.kept_count))
			return m;
	}
	const char *last = next_line(&pos, end);
	m.complete = last != nullptr &&
	    std::string_view(last) == marker_end.substr(0, 3) && pos == end;
	return m;
}

char *
format_marker_head(char *pos, char *end, std::string_view nonce,
    std::string_view name, std::string_view after, const file_set &files,
    std::string_view changed)
{
	char sums[128];
	std::snprintf(sums, sizeof sums,
	    "files %" PRIu64 " %016" PRIx64 " %016" PRIx64 "\n", files.count,
	    files.sum1, files.sum2);
	pos = append(pos, end, marker_text);
	pos = append(pos, end, "format ");
	pos = append_number(pos, end, marker_version);
	pos = append(pos, end, "\nid ");
	pos = append(pos, end, nonce);
	pos = append(pos, end, " ");
	pos = append(pos, end, name);
	pos = append(pos, end, "\nafter ");
	pos = append(pos, end, after);
	pos = append(pos, end, "\n");
	pos = append(pos, end, sums);
	pos = append(pos, end, "changed ");
	pos = append(pos, end, changed.empty() ? "all" : changed);
	return append(pos, end, "\n");
}

char *
format_marker_kept(char *pos, char *end, std::string_view kept)
{
	pos = append(pos, end, "kept ");
	pos = append(pos, end, kept.empty() ? "unknown" : kept);
	return append(pos, end, "\n");
}

std::string_view
marker_id_name(std::string_view id)
{
	return id.substr(id.find(' ') + 1);
}
