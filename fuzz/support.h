// Shared pieces of the fuzz targets: a private scratch tree, input chunks,
// plain models of the tool's parsing rules to check its answers against, and
// a check that aborts with a message libFuzzer keeps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmfuzz {

// Inputs that carry several texts separate them with this byte (ASCII
// record separator): it is rare in Makefiles, INDEX lines and templates, and
// one byte is easy for the fuzzer to add or drop.
inline constexpr char chunk_separator = '\x1e';

// Splits an input at every chunk_separator; always at least one chunk.
std::vector<std::string_view> split_chunks(
    const std::uint8_t *data, std::size_t size);

// Aborts with what, so that libFuzzer saves the input, when ok is false. It
// writes to a copy of standard error taken when the program starts, so that
// it is still heard when -close_fd_mask silences the tool.
void check(bool ok, const char *what);

// A fresh directory below $QUILLMARK_FUZZ_TMPDIR, /dev/shm, $TMPDIR or /tmp
// (the first that is writable), removed with its contents when the process
// exits normally. Every file a target writes lies below it.
const std::string &scratch_dir();

// Writes text to path, replacing it. Aborts through check() on failure: the
// scratch tree is the harness's own, so a failure there is no finding.
void put_file(const std::string &path, std::string_view text);

// The whole file, and whether it could be read.
bool get_file(const std::string &path, std::string *text);

// Removes path and everything below it; missing is fine.
void remove_tree(const std::string &path);

// The lines that fgets(3) hands a reader with a buffer of size bytes, each
// cut at its first NUL as the reader sees it.
std::vector<std::string> fgets_pieces(std::string_view text, std::size_t size);

// HTML escaping of &, < and >.
std::string escape(std::string_view text);

// The placeholder code at text, or -1; text ends at the string's end.
int placeholder_at(std::string_view text);

// The length of the placeholder text of code.
std::size_t placeholder_length(int code);

// What a template expands to: the first cap bytes of the text, its whole
// length and the number of placeholders met.
struct expansion {
	std::string text;
	std::size_t length = 0;
	std::size_t calls = 0;
};

// Expands a template (up to its first NUL) with sub(code) for every
// placeholder. sub returns anything that a std::string_view can be made of;
// it is called twice per placeholder unless cap is 0.
template <typename Sub>
expansion
expand(std::string_view tmpl, Sub sub, std::size_t cap = SIZE_MAX)
{
	expansion e;
	// Texts of megabytes are common here: measure first, then fill once.
	if (cap > 0) {
		expansion measure = expand(tmpl, sub, 0);
		e.text.reserve(std::min(measure.length, cap));
	}
	auto add = [&](std::string_view piece) {
		e.length += piece.size();
		if (e.text.size() < cap)
			e.text.append(piece.substr(0, cap - e.text.size()));
	};
	tmpl = tmpl.substr(0, tmpl.find('\0'));
	std::size_t i = 0;
	while (i < tmpl.size()) {
		std::size_t run = std::min(tmpl.find('%', i), tmpl.size()) - i;
		add(tmpl.substr(i, run));
		i += run;
		if (i == tmpl.size())
			break;
		int code = placeholder_at(tmpl.substr(i));
		if (code < 0) {
			add("%");
			i++;
			continue;
		}
		const auto &piece = sub(code);
		add(std::string_view(piece));
		e.calls++;
		i += placeholder_length(code);
	}
	return e;
}

// The template with the placeholders that the models do not know (the port
// page details and lists, fuzzed on their own, the search data and the
// other page kinds' placeholders) made plain text: their first '%' becomes
// a '#'.
std::string unmodelled_out(std::string tmpl);

// Sets top_dir and top_dir_slash in the run state.
void set_top(const std::string &top);

// Fills category_list and category_count from names that must fit.
void set_category_list(const std::vector<std::string> &names);

// Names of the packed category_list, walked as the tool walks it, never past
// its buffer; *overrun tells whether the walk met the buffer's end first.
std::vector<std::string> category_names(bool *overrun);

} // namespace qmfuzz
