// Shared pieces of the fuzz targets.
//
// The models here are written from the tool's documented rules, not from its
// code, so that a target can compare what the tool did with what it should
// have done rather than only watch for crashes.
#include "support.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "state/state.h"

namespace qmfuzz {

namespace {

int report_fd = 2;

// Standard error is copied before libFuzzer's driver starts, and with it
// before -close_fd_mask closes the original: every target links this file.
[[maybe_unused]] const bool stderr_copied = [] {
	int fd = dup(2);
	if (fd >= 0)
		report_fd = fd;
	return fd >= 0;
}();

constexpr std::array<std::string_view, 16> placeholder_texts = {
    "%%PKG%%",
    "%%PORT%%",
    "%%PREFIX%%",
    "%%COMMENT%%",
    "%%DESCR%%",
    "%%EMAIL%%",
    "%%CATEGORY%%",
    "%%BUILD_DEPENDS%%",
    "%%RUN_DEPENDS%%",
    "%%WEBSITE%%",
    "%%TOP%%",
    "%%SUBDIR%%",
    "%%DESCR_TEXT%%",
    "%%BUILD_DEPENDS_LINKS%%",
    "%%RUN_DEPENDS_LINKS%%",
    "%%REQUIRED_BY%%",
};

std::string scratch;

int
remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
	(void)::remove(path);
	return 0;
}

void
remove_scratch()
{
	if (!scratch.empty())
		remove_tree(scratch);
}

} // namespace

std::vector<std::string_view>
split_chunks(const std::uint8_t *data, std::size_t size)
{
	std::string_view all(reinterpret_cast<const char *>(data), size);
	std::vector<std::string_view> chunks;
	for (;;) {
		std::size_t at = all.find(chunk_separator);
		chunks.push_back(all.substr(0, at));
		if (at == std::string_view::npos)
			return chunks;
		all.remove_prefix(at + 1);
	}
}

void
check(bool ok, const char *what)
{
	if (ok)
		return;
	char line[512];
	int n =
	    std::snprintf(line, sizeof line, "fuzz check failed: %s\n", what);
	if (n > 0)
		(void)!write(report_fd, line,
		    std::min(static_cast<std::size_t>(n), sizeof line - 1));
	std::abort();
}

const std::string &
scratch_dir()
{
	if (scratch.empty()) {
		// The targets rewrite small files thousands of times a second;
		// on a disk file system every truncation can cost a flush, so
		// memory-backed /dev/shm comes first where there is one.
		std::string base = "/tmp";
		const char *dirs[] = {std::getenv("QUILLMARK_FUZZ_TMPDIR"),
		    "/dev/shm", std::getenv("TMPDIR")};
		for (const char *dir : dirs) {
			if (dir != nullptr && *dir != '\0' &&
			    access(dir, W_OK | X_OK) == 0) {
				base = dir;
				break;
			}
		}
		std::string pattern = base + "/quillmark-fuzz-XXXXXX";
		std::vector<char> buf(pattern.begin(), pattern.end());
		buf.push_back('\0');
		check(mkdtemp(buf.data()) != nullptr, "mkdtemp");
		scratch = buf.data();
		std::atexit(remove_scratch);
	}
	return scratch;
}

void
put_file(const std::string &path, std::string_view text)
{
	int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
	check(fd >= 0, "open a scratch file");
	while (!text.empty()) {
		ssize_t n = write(fd, text.data(), text.size());
		check(n > 0, "write a scratch file");
		text.remove_prefix(static_cast<std::size_t>(n));
	}
	close(fd);
}

bool
get_file(const std::string &path, std::string *text)
{
	int fd = open(path.c_str(), O_RDONLY);
	if (fd < 0)
		return false;
	text->clear();
	struct stat st;
	if (fstat(fd, &st) == 0 && st.st_size > 0)
		text->reserve(static_cast<std::size_t>(st.st_size));
	char buf[65536];
	ssize_t n;
	while ((n = read(fd, buf, sizeof buf)) > 0)
		text->append(buf, static_cast<std::size_t>(n));
	close(fd);
	return n == 0;
}

void
remove_tree(const std::string &path)
{
	(void)nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string>
fgets_pieces(std::string_view text, std::size_t size)
{
	std::vector<std::string> pieces;
	while (!text.empty()) {
		std::size_t n = std::min(text.size(), size - 1);
		std::size_t nl = text.substr(0, n).find('\n');
		if (nl != std::string_view::npos)
			n = nl + 1;
		std::string_view piece = text.substr(0, n);
		pieces.emplace_back(piece.substr(0, piece.find('\0')));
		text.remove_prefix(n);
	}
	return pieces;
}

std::string
escape(std::string_view text)
{
	std::string out;
	for (char c : text) {
		switch (c) {
		case '&':
			out += "&amp;";
			break;
		case '<':
			out += "&lt;";
			break;
		case '>':
			out += "&gt;";
			break;
		default:
			out += c;
		}
	}
	return out;
}

int
placeholder_at(std::string_view text)
{
	for (std::size_t code = 0; code < placeholder_texts.size(); code++) {
		if (text.substr(0, placeholder_texts[code].size()) ==
		    placeholder_texts[code])
			return static_cast<int>(code);
	}
	return -1;
}

std::string
unmodelled_out(std::string tmpl)
{
	for (std::size_t at = tmpl.find("%%"); at != std::string::npos;
	     at = tmpl.find("%%", at + 1)) {
		int code = placeholder_code(tmpl.c_str() + at);
		if (code >= ph_pkgname)
			tmpl[at] = '#';
	}
	return tmpl;
}

std::size_t
placeholder_length(int code)
{
	return placeholder_texts[static_cast<std::size_t>(code)].size();
}

void
set_top(const std::string &top)
{
	// top_dir_slash must hold the top, a slash and the NUL.
	check(top.size() + 2 <= sizeof state.top_dir_slash, "top_dir fits");
	run_state &setting = startup_state();
	std::memcpy(setting.top_dir, top.c_str(), top.size() + 1);
	std::string slash = top + "/";
	std::memcpy(setting.top_dir_slash, slash.c_str(), slash.size() + 1);
}

void
set_category_list(const std::vector<std::string> &names)
{
	char *pos = startup_state().category_list;
	char *const end = pos + sizeof state.category_list;
	for (const std::string &name : names) {
		check(!name.empty() &&
			static_cast<std::size_t>(end - pos) > name.size() + 1,
		    "category name fits the list");
		std::memcpy(pos, name.c_str(), name.size() + 1);
		pos += name.size() + 1;
	}
	*pos = '\0';
	startup_state().category_count = names.size();
}

std::vector<std::string>
category_names(bool *overrun)
{
	std::vector<std::string> names;
	const char *const end =
	    state.category_list + sizeof state.category_list;
	const char *pos = state.category_list;
	*overrun = false;
	for (;;) {
		const char *nul = static_cast<const char *>(std::memchr(
		    pos, '\0', static_cast<std::size_t>(end - pos)));
		if (nul == nullptr) {
			*overrun = true;
			return names;
		}
		if (nul == pos)
			return names;
		names.emplace_back(pos, nul);
		pos = nul + 1;
		if (pos == end) {
			*overrun = true;
			return names;
		}
	}
}

} // namespace qmfuzz
