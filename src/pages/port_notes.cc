// What a port's users must know beyond its description: the names it had
// before (MOVED), the notes to read before upgrading it (UPDATING), and
// what its package says when it is installed, upgraded or removed (its
// pkg-message).
//
// Nothing is read unless a template asks: MOVED and UPDATING once per run,
// when the first page uses their placeholder, and the pkg-message once per
// page that uses %%PKG_MESSAGE%%. All of it comes from files that anyone
// with commit access writes, so every text is escaped. The bodies of notes
// and messages are written by the people who write descriptions, in the
// same way, and are rendered as descriptions are: prose reflowed, lists,
// commands and configuration kept as they stand, addresses as links.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pages/description.h"
#include "pages/pages.h"
#include "pages/safety_pages.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"
#include "treedata/moved.h"
#include "treedata/pkg_message.h"
#include "treedata/tree_file.h"
#include "treedata/updating.h"

namespace {

// The most earlier names and notes a page shows; a real tree's busiest
// port has a few dozen notes.
constexpr std::size_t max_formerly = 64;
constexpr std::size_t max_notes = 512;
// The notes shown open; the older ones are folded.
constexpr std::size_t open_notes = 3;

// The body of a note or a message, in a box of its own; nothing when it
// holds no text. A text as_written is shown as it stands, preformatted.
char *
append_free_text(
    char *pos, char *end, std::string_view text, bool as_written = false)
{
	char *start = pos;
	pos = append(pos, end, "<div class=\"note\">");
	char *body = pos;
	if (as_written) {
		pos = append(pos, end, "<pre>");
		pos = insert(pos, end, tree_text::port_text, text);
		pos = append(pos, end, "</pre>\n");
	} else {
		pos = render_free_text(pos, end, text);
	}
	if (pos != nullptr && pos == body)
		return start;
	return append(pos, end, "</div>\n");
}

// A note: its date (YYYYMMDD, shown as YYYY-MM-DD), what it affects and
// its body.
char *
append_note(char *pos, char *end, const updating_note &note)
{
	std::string_view d = note.date;
	char date[11];
	std::string_view shown = d;
	if (d.size() == 8 &&
	    join_text(date, sizeof date,
		{d.substr(0, 4), "-", d.substr(4, 2), "-", d.substr(6, 2)}))
		shown = date;
	pos = append(pos, end, "<h3>");
	pos = append_date(pos, end, shown);
	pos = append(pos, end, "</h3>\n<p class=\"affects\">Affects: ");
	pos = insert(pos, end, tree_text::port_text, note.affects);
	pos = append(pos, end, "</p>\n");
	return append_free_text(pos, end, note.body);
}

// The heading of an upgrade message: the versions it is for.
char *
append_upgrade_heading(char *pos, char *end, const message_part &part)
{
	pos = append(pos, end, "<h3>When upgrading");
	if (!part.minimum_version.empty() || !part.maximum_version.empty())
		pos = append(pos, end, " from a version");
	if (!part.minimum_version.empty()) {
		pos = append(pos, end, " after ");
		pos = insert(
		    pos, end, tree_text::port_text, part.minimum_version);
	}
	if (!part.minimum_version.empty() && !part.maximum_version.empty())
		pos = append(pos, end, " and");
	if (!part.maximum_version.empty()) {
		pos = append(pos, end, " before ");
		pos = insert(
		    pos, end, tree_text::port_text, part.maximum_version);
	}
	return append(pos, end, "</h3>\n");
}

// Whether text holds nothing to show: blanks and controls alone.
bool
blank_text(std::string_view text)
{
	for (char c : text) {
		if (static_cast<unsigned char>(c) > ' ' && c != '\x7F')
			return false;
	}
	return true;
}

// The messages of the kinds in kinds, in the file's order, under heading;
// nothing when there are none. A file that did not parse is shown as it
// stands.
char *
append_messages(char *pos, char *end, const pkg_message &message,
    std::initializer_list<message_kind> kinds, std::string_view heading)
{
	bool first = true;
	for (std::size_t i = 0; i < message.count; i++) {
		const message_part &part = message.parts[i];
		bool wanted = false;
		for (message_kind k : kinds)
			wanted = wanted || part.kind == k;
		if (!wanted || blank_text(part.text))
			continue;
		if (part.kind == message_kind::upgrade)
			pos = append_upgrade_heading(pos, end, part);
		else if (first)
			pos = append(pos, end, heading);
		first = false;
		pos = append_free_text(pos, end, part.text,
		    message.form == message_form::unparsed);
	}
	return pos;
}

} // namespace

namespace fills {

char *
formerly(char *pos, char *end, page_context &page)
{
	if (need_moved() != 0)
		return pos;
	std::array<std::uint32_t, max_formerly> found;
	std::size_t count =
	    moved_formerly(
	    port_origin(*port_of(page).port), found.data(), found.size(),
	    &port_of(page).work->formerly);
	if (count == 0)
		return pos;
	pos = append(pos, end, "<dt>Formerly</dt>\n<dd>");
	for (std::size_t i = 0; i < count && i < found.size(); i++) {
		const moved_entry &e = moved_at(found[i]);
		if (i > 0)
			pos = append(pos, end, ", ");
		pos = append(pos, end, "<code>");
		pos = insert(pos, end, tree_text::port_text, e.old_origin);
		pos = append(pos, end, "</code> (until ");
		pos = append_date(pos, end, e.date);
		pos = append(pos, end, ")");
	}
	return append(pos, end, "</dd>\n");
}

char *
updating(char *pos, char *end, page_context &page)
{
	if (need_updating() != 0)
		return pos;
	std::array<std::uint32_t, max_notes> found;
	std::size_t count = updating_notes_for(
	    port_origin(*port_of(page).port), found.data(), found.size(),
	    &port_of(page).work->notes);
	if (count > found.size())
		count = found.size();
	if (count == 0)
		return pos;
	pos = append(pos, end,
	    "<section class=\"updating\">\n<h2>Before upgrading</h2>\n");
	for (std::size_t i = 0; i < count; i++) {
		if (i == open_notes) {
			pos = append(pos, end, "<details>\n<summary>");
			pos = append_number(pos, end,
			    static_cast<long long>(count - open_notes));
			pos = append(pos, end,
			    count - open_notes == 1 ? " earlier note"
						    : " earlier notes");
			pos = append(pos, end, "</summary>\n");
		}
		pos = append_note(pos, end, updating_at(found[i]));
	}
	if (count > open_notes)
		pos = append(pos, end, "</details>\n");
	return append(pos, end, "</section>\n");
}

char *
pkg_message(char *pos, char *end, page_context &page)
{
	char dir[path_size];
	char path[path_size];
	port_file_text file;
	if (!join_text(dir, sizeof dir, {state.top_dir_slash, port_of(page).relative}) ||
	    !join_text(path, sizeof path, {dir, "/pkg-message"}) ||
	    read_port_file(dir, port_file::pkg_message,
		&port_of(page).work->port_files, &file) != 0)
		return pos;
	::pkg_message message;
	(void)read_pkg_message(
	    {file.text, file.size}, file.room, path, &message);
	char *start = pos;
	pos = append(pos, end,
	    "<section class=\"pkg-message\">\n<h2>Messages of the "
	    "package</h2>\n");
	char *body = pos;
	pos = append_messages(pos, end, message,
	    {message_kind::always, message_kind::install},
	    "<h3>After installing</h3>\n");
	pos = append_messages(pos, end, message, {message_kind::upgrade}, {});
	pos = append_messages(pos, end, message, {message_kind::remove},
	    "<h3>Before removing</h3>\n");
	if (pos != nullptr && pos == body)
		return start;
	return append(pos, end, "</section>\n");
}

} // namespace fills
