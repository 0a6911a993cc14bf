// The run's record of what it made while publishing: the pages it wrote
// (a set of their hashes and the sums its marker keeps), those whose bytes
// differ from the current generation's, the files of others carried over,
// and the directories that a whole-tree run found listed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "io/io.h"
#include "platform/platform.h"
#include "site/marker.h"
#include "site/site.h"
#include "site/site_state.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

// The most directories that a whole-tree run notes as the tree's.
constexpr std::size_t tree_max = std::size_t{1} << 17;

// Notes a page made; false when this run had made it already.
bool
note_made(const char *rel)
{
	switch (add_hash(&site.made, made_max, path_hash(rel))) {
	case add_result::present:
		return false;
	case add_result::full:
		site.made_overflow = true;
		return true;
	case add_result::failed:
		site.grow_failed = true;
		return true;
	case add_result::added:
		break;
	}
	add_to_set(&site.made_set, rel);
	return true;
}

// Appends rel and a newline to the list at text (list_size bytes), or
// leaves it unknown when it does not fit or rel holds a newline.
void
note_path(const char *rel, char *text, std::size_t *length, std::size_t *count,
    bool *unknown)
{
	std::size_t n = std::strlen(rel);
	if (std::strchr(rel, '\n') != nullptr || n >= list_size - *length ||
	    *count >= list_paths) {
		*unknown = true;
		return;
	}
	std::memcpy(text + *length, rel, n);
	text[*length + n] = '\n';
	*length += n + 1;
	++*count;
}

void
note_changed(const char *rel)
{
	note_path(rel, site.changed_text, &site.changed_length,
	    &site.changed_count, &site.changed_unknown);
}

// Compares the current generation's page rel with text. True when equal;
// its modification time then goes into *when.
bool
current_holds(const char *rel, const char *text, std::size_t length,
    struct timespec *when)
{
	int fd = platform_open_beneath(site.current_fd, rel,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
	if (fd < 0)
		return false;
	struct stat st;
	bool equal = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
	    static_cast<std::size_t>(st.st_size) == length &&
	    file_holds(fd, text, length);
	close(fd);
	if (equal)
		*when = st.st_mtim;
	return equal;
}

} // namespace

void
add_to_set(file_set *set, const char *rel)
{
	set->count++;
	set->sum1 += path_hash(rel);
	set->sum2 += path_mix(rel);
}

bool
was_made(const char *rel)
{
	return has_hash(site.made, path_hash(rel));
}

// Notes the file rel of the current generation, not the tool's, as
// carried over.
void
note_kept(const char *rel)
{
	note_path(rel, site.kept_text, &site.kept_length, &site.kept_count,
	    &site.kept_unknown);
	if (state.verbosity != 0)
		std::fprintf(stderr,
		    "Keeping \"%s/%s\": not a page of quillmark's\n",
		    site.current_shown, rel);
}

int
settle_page(const char *path, int fd, const struct stat &before, bool same,
    bool compared, const char *text, std::size_t length)
{
	if (!site.publishing)
		return 0;
	const char *rel = below_top(path);
	if (rel == nullptr)
		return 0;
	// A page made twice leaves the list of changes unknown.
	bool first = note_made(rel);
	if (!first)
		site.changed_unknown = true;
	struct timespec when;
	if (first && site.use_list && compared) {
		// Unlisted, the current page is the spare one's before this
		// run, in bytes and time; listed, it holds other bytes.
		bool in_list = was_listed(rel);
		if (same && !in_list)
			return 0;
		if (same || !in_list) {
			note_changed(rel);
			return same ? set_mtime(fd, nullptr) : 0;
		}
	}
	if (same && site.current_ours && site.spare_marker.complete) {
		// Equal stat, equal bytes: nothing to do. Else the page
		// changed since the current generation. (A run that failed
		// in the spare generation may have cut a page back to its
		// old bytes, with a new time: then the bytes are compared.)
		struct stat cur;
		if (fstatat(site.current_fd, rel, &cur, AT_SYMLINK_NOFOLLOW) ==
			0 &&
		    S_ISREG(cur.st_mode) && cur.st_size == before.st_size &&
		    same_time(cur, before))
			return 0;
		note_changed(rel);
		return set_mtime(fd, nullptr);
	}
	if (current_holds(rel, text, length, &when)) {
		if (same && when.tv_sec == before.st_mtim.tv_sec &&
		    when.tv_nsec == before.st_mtim.tv_nsec)
			return 0;
		return set_mtime(fd, &when);
	}
	note_changed(rel);
	return same ? set_mtime(fd, nullptr) : 0;
}

void
note_listed(const char *path)
{
	const char *rel = site.publishing ? below_top(path) : nullptr;
	if (rel == nullptr)
		return;
	add_result added = add_hash(&site.tree_listed, tree_max, path_hash(rel));
	if (added == add_result::failed)
		site.grow_failed = true;
	if (added == add_result::full || added == add_result::failed)
		site.tree_overflow = true;
}

void
note_list_read(const char *path)
{
	char listed[path_size];
	if (site.publishing && join_text(listed, sizeof listed, {path, "/"}))
		note_listed(listed);
}
