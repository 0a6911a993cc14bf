// The marker file of a generation: its format, parsed and formatted, the
// one place that knows it; and its reading from a generation and writing
// into the spare one, with the current marker's lists put into tables.
#include "site/marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "io/io.h"
#include "site/site_state.h"
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

namespace {

// Gives the marker being written on fd a modification time later than
// every change this run made, which the file system may stamp with a
// coarse clock: a change made after the marker is then never older than
// it. Waits a clock tick at most (a second where the clock does not move).
int
stamp_after_run(int fd)
{
	struct stat st;
	if (fstat(fd, &st) != 0)
		return errno;
	const struct timespec last = st.st_ctim;
	for (int i = 0; i < 1000; i++) {
		int error = set_mtime(fd, nullptr);
		if (error != 0)
			return error;
		if (fstat(fd, &st) != 0)
			return errno;
		if (before(last, st.st_mtim))
			return 0;
		struct timespec pause = {0, 1000000};
		nanosleep(&pause, nullptr);
	}
	return 0;
}

} // namespace

// Reads the marker of the generation open on dirfd into buf: whole, with
// its list, when whole; else its head. Not complete when it is missing,
// of another format, cut short, or longer than any written here.
generation_marker
read_marker(int dirfd, char *buf, std::size_t size, bool whole)
{
	int fd = openat(dirfd, marker_name,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return {};
	// A marker that cannot be read is no marker.
	ssize_t got = read_full(fd, buf, size, 0);
	close(fd);
	std::size_t length = got > 0 ? static_cast<std::size_t>(got) : 0;
	if (whole && length == size)
		return {};
	return parse_marker(buf, length, whole);
}

// 0, 1 or -1 as fill_paths.
int
fill_listed()
{
	return fill_paths(&site.listed, site.current_marker.list,
	    site.current_marker.list_count);
}

bool
was_listed(const char *rel)
{
	return in_paths(site.listed, rel);
}

// Reads the current generation's kept paths, and the directories that
// hold them, into their tables. 0, 1 or -1 as fill_paths.
int
fill_kept()
{
	const generation_marker &m = site.current_marker;
	int filled = fill_paths(&site.kept, m.kept, m.kept_count);
	if (filled != 0)
		return filled;
	const char *p = m.kept;
	for (std::size_t i = 0; i < m.kept_count;
	     i++, p += std::strlen(p) + 1) {
		const char *slash = std::strrchr(p, '/');
		if (slash == nullptr)
			continue;
		add_result added = add_hash(&site.kept_dirs, list_paths,
		    prefix_hash(p, static_cast<std::size_t>(slash - p)));
		if (added == add_result::full)
			return 1;
		if (added == add_result::failed)
			return -1;
	}
	return 0;
}

// Writes the marker of the spare generation, complete, as the generation
// fresh that holds the files set: through a new file renamed over the old
// one, so that a marker is whole or its first line only. 0, or an errno
// value.
int
write_marker(const char *fresh, const file_set &files)
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	char nonce[64];
	std::snprintf(nonce, sizeof nonce, "%llx.%lx.%lx",
	    static_cast<long long>(now.tv_sec), static_cast<long>(now.tv_nsec),
	    static_cast<long>(getpid()));
	char count[32];
	std::snprintf(count, sizeof count, "%zu", site.changed_count);
	bool listing = !site.changed_unknown && site.current_named;
	char kept[32];
	std::snprintf(kept, sizeof kept, "%zu", site.kept_count);
	char head[4 * path_size];
	char *pos = format_marker_head(head, head + sizeof head, nonce, fresh,
	    site.current_named ? site.current_marker.id : "-", files,
	    listing ? count : "");
	char kept_line[64];
	char *kept_end = format_marker_kept(kept_line,
	    kept_line + sizeof kept_line, site.kept_unknown ? "" : kept);
	if (pos == nullptr || kept_end == nullptr)
		return ENAMETOOLONG;
	int fd = openat(site.root_fd, marker_new_name,
	    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
		O_CLOEXEC,
	    0644);
	if (fd < 0)
		return errno;
	std::size_t at = 0;
	bool done = true;
	for (std::string_view part :
	    {std::string_view(head, static_cast<std::size_t>(pos - head)),
		std::string_view(
		    site.changed_text, listing ? site.changed_length : 0),
		std::string_view(
		    kept_line, static_cast<std::size_t>(kept_end - kept_line)),
		std::string_view(
		    site.kept_text, site.kept_unknown ? 0 : site.kept_length),
		marker_end}) {
		done = done &&
		    write_full(fd, part.data(), part.size(),
			static_cast<off_t>(at)) == 0;
		at += part.size();
	}
	int error = done ? 0 : errno != 0 ? errno : ENOSPC;
	if (error == 0)
		error = stamp_after_run(fd);
	if (close(fd) != 0 && error == 0)
		error = errno;
	if (error == 0 &&
	    renameat(
		site.root_fd, marker_new_name, site.root_fd, marker_name) != 0)
		error = errno;
	return error;
}

int
reset_marker(int dirfd)
{
	int fd = openat(dirfd, marker_name,
	    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return errno == ENOENT ? 0 : errno;
	struct stat st;
	constexpr std::size_t length = marker_text.size();
	int error = 0;
	if (fstat(fd, &st) != 0 ||
	    (static_cast<std::size_t>(st.st_size) != length &&
		(ftruncate(fd, 0) != 0 ||
		    write_full(fd, marker_text.data(), length, 0) != 0)))
		error = errno != 0 ? errno : EIO;
	if (close(fd) != 0 && error == 0)
		error = errno;
	return error;
}
