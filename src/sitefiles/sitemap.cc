// The sitemap: every page that a run making the top-level page writes,
// with the time it was last changed, for search engines.
//
// While the pages are made, write_file notes each page (.html) it wrote or
// found holding its bytes, with the modification time that the page keeps
// (an unchanged page keeps its old one), in a list packed end to end. Once
// the top page is written the list becomes sitemap.xml beside it, written
// as a page is: a run where nothing changed gives the same bytes and so
// leaves it untouched. Above 50,000 pages (or near 50 MB) the pages go into
// sitemap-1.xml, sitemap-2.xml, ..., and sitemap.xml becomes their index.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "site/site.h"
#include "site/site_state.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/name_table.h"

namespace {

// A sitemap holds at most this many addresses and bytes.
constexpr std::size_t urls_per_part = 50000;
constexpr std::size_t bytes_per_part = 50 * 1000 * 1000;
constexpr std::string_view head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
constexpr std::string_view tail = "</urlset>\n";
constexpr std::string_view index_head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<sitemapindex xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
constexpr std::string_view index_tail = "</sitemapindex>\n";
// "<url><loc>", "</loc><lastmod>", the time, "</lastmod></url>\n".
constexpr std::size_t entry_overhead = 10 + 15 + 20 + 17;

// The pages noted: each its path below the top with its NUL, then the
// eight bytes of its time; recording while the list is wanted.
bool recording;
run_buffer noted;
std::size_t noted_length;
std::size_t noted_count;
bool noted_failed;
// The text of one sitemap file.
run_buffer text;

// The address of the file rel below the top.
char *
append_address(char *pos, char *end, std::string_view rel)
{
	pos = append(pos, end, state.site_url);
	return append_url_path(pos, end, rel);
}

// A bound of the bytes of rel's address.
std::size_t
address_bound(std::string_view rel)
{
	return std::strlen(state.site_url) + 3 * rel.size();
}

char *
append_entry(char *pos, char *end, std::string_view rel, std::int64_t when)
{
	pos = append(pos, end, "<url><loc>");
	pos = append_address(pos, end, rel);
	pos = append(pos, end, "</loc><lastmod>");
	pos = append_utc_time(pos, end, when);
	return append(pos, end, "</lastmod></url>\n");
}

// The next noted page at *at: its path and time; false after the last.
bool
next_noted(std::size_t *at, std::string_view *rel, std::int64_t *when)
{
	if (*at >= noted_length)
		return false;
	const char *p = noted.data + *at;
	*rel = p;
	std::memcpy(when, p + rel->size() + 1, sizeof *when);
	*at += rel->size() + 1 + sizeof *when;
	return true;
}

// Writes name beside the top page: text up to end_of_text, or when that
// is null the report that it had no room. 0, or 1 after the report.
int
write_text(const char *name, char *end_of_text)
{
	if (end_of_text == nullptr) {
		report_output_file(state.top_dir, name,
		    "text would exceed its %zu-byte buffer; not written\n",
		    text.size);
		return 1;
	}
	return write_file(state.top_dir, name, text.data,
	    static_cast<std::size_t>(end_of_text - text.data));
}

// Makes the next sitemap, of the pages from *at on: at most
// urls_per_part, and no more than fit bytes_per_part. Its end, or null
// when there is no memory for it; *latest is their newest time.
char *
make_part(std::size_t *at, std::int64_t *latest)
{
	std::size_t start = *at, bound = head.size() + tail.size(), count = 0;
	std::size_t next = start;
	std::string_view rel;
	std::int64_t when;
	while (count < urls_per_part && next_noted(&next, &rel, &when)) {
		std::size_t entry = entry_overhead + address_bound(rel);
		if (count > 0 && bound + entry > bytes_per_part)
			break;
		bound += entry;
		count++;
	}
	if (need_buffer(&text, bound, "sitemap") != 0)
		return nullptr;
	char *pos = append(text.data, text.data + text.size, head);
	*latest = 0;
	for (std::size_t i = 0; i < count && next_noted(at, &rel, &when); i++) {
		pos = append_entry(pos, text.data + text.size, rel, when);
		if (when > *latest)
			*latest = when;
	}
	return append(pos, text.data + text.size, tail);
}

// Keeps the first noting of each page and drops the others: a template may
// make a page more than once (%%SUBDIR%% twice in the category template),
// and the sitemap names each page once. The entries kept move up in place,
// in their order. False after the report when there is no memory to tell.
bool
drop_repeated_pages()
{
	name_table seen;
	if (name_table_make(&seen, noted_count) != 0)
		return false;
	std::size_t at = 0, kept = 0, count = 0;
	std::string_view rel;
	std::int64_t when;
	while (true) {
		std::size_t from = at;
		if (!next_noted(&at, &rel, &when))
			break;
		if (name_table_find(&seen, rel) != no_name)
			continue;
		std::memmove(noted.data + kept, noted.data + from, at - from);
		(void)name_table_add(
		    &seen, std::string_view(noted.data + kept, rel.size()));
		kept += at - from;
		count++;
	}
	name_table_release(&seen);
	noted_length = kept;
	noted_count = count;
	return true;
}

} // namespace

void
sitemap_begin()
{
	recording = state.site_url[0] != '\0';
	noted_length = 0;
	noted_count = 0;
	noted_failed = false;
}

void
sitemap_note(const char *path, int fd)
{
	if (!recording)
		return;
	const char *rel = below_top(path);
	struct stat st;
	if (rel == nullptr || fstat(fd, &st) != 0) {
		noted_failed = true;
		return;
	}
	std::size_t length = std::strlen(rel) + 1;
	std::int64_t when = st.st_mtim.tv_sec;
	std::size_t need = noted_length + length + sizeof when;
	if (need > noted.size) {
		// Grown by doubling; the old entries are copied over.
		run_buffer grown = {};
		std::size_t size = noted.size == 0 ? std::size_t{1} << 20
						   : noted.size;
		while (size < need)
			size *= 2;
		if (need_buffer(&grown, size, "sitemap") != 0) {
			noted_failed = true;
			recording = false;
			return;
		}
		if (noted_length != 0)
			std::memcpy(grown.data, noted.data, noted_length);
		release_buffer(&noted);
		noted = grown;
	}
	std::memcpy(noted.data + noted_length, rel, length);
	std::memcpy(noted.data + noted_length + length, &when, sizeof when);
	noted_length = need;
	noted_count++;
}

int
write_sitemap()
{
	if (!recording)
		return noted_failed ? 1 : 0;
	recording = false;
	if (noted_failed) {
		report_output_file(state.top_dir, "sitemap.xml",
		    "not written: a page's time could not be had\n");
		return 1;
	}
	if (!drop_repeated_pages())
		return 1;
	std::size_t at = 0;
	std::int64_t latest;
	char *end = make_part(&at, &latest);
	if (end == nullptr)
		return 1;
	if (at == noted_length)
		return write_text("sitemap.xml", end);
	// More than one: the parts, and sitemap.xml their index, written
	// last, once every part it names is there.
	constexpr std::size_t index_entry_overhead = 14 + 15 + 20 + 21;
	std::size_t least =
	    bytes_per_part / (entry_overhead + 3 * path_size + path_size);
	std::size_t parts = noted_count / least + 2;
	run_buffer index = {};
	if (need_buffer(&index,
		index_head.size() + index_tail.size() +
		    parts * (index_entry_overhead +
				address_bound("sitemap-99999999.xml")),
		"sitemap") != 0)
		return 1;
	char *iend = index.data + index.size;
	char *pos = append(index.data, iend, index_head);
	int failures = 0;
	for (std::size_t part = 1;; part++) {
		char name[32];
		(void)std::snprintf(name, sizeof name, "sitemap-%zu.xml", part);
		failures += write_text(name, end);
		pos = append(pos, iend, "<sitemap><loc>");
		pos = append_address(pos, iend, name);
		pos = append(pos, iend, "</loc><lastmod>");
		pos = append_utc_time(pos, iend, latest);
		pos = append(pos, iend, "</lastmod></sitemap>\n");
		if (at == noted_length)
			break;
		end = make_part(&at, &latest);
		if (end == nullptr) {
			failures++;
			break;
		}
	}
	pos = append(pos, iend, index_tail);
	if (failures == 0 && pos != nullptr)
		failures += write_file(state.top_dir, "sitemap.xml", index.data,
		    static_cast<std::size_t>(pos - index.data));
	release_buffer(&index);
	return failures != 0 ? 1 : 0;
}

void
sitemap_release()
{
	release_buffer(&noted);
	release_buffer(&text);
	recording = false;
	noted_length = 0;
	noted_count = 0;
	noted_failed = false;
}
