// Fuzzes the reading of pkg-message files.
//
// Input: the file's text, then optionally a record separator and a message
// text. The file is read with a room of exactly its size, whose every byte
// past the end the sanitizer guards; the answer must be a whole-text part
// for plain or unparsed files, and parts within the text or the room for
// lists. The message text, when there is one, is written once as a "<<EOM"
// text and once as a quoted string with JSON escapes, and must come back
// exactly.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support.h"
#include "treedata/pkg_message.h"

using namespace qmfuzz;

namespace {

bool
within(std::string_view part, std::string_view area)
{
	return part.empty() ||
	    (part.data() >= area.data() &&
		part.data() + part.size() <= area.data() + area.size());
}

// Reads text with a room of its own size; checks the answer's shape.
pkg_message
read_checked(std::string_view text)
{
	auto room = std::make_unique<char[]>(text.size() + 1);
	std::string_view area(room.get(), text.size());
	pkg_message msg;
	int result = read_pkg_message(text, room.get(), "fuzz", &msg);
	check(result == 0 || result == 1, "the result is 0 or 1");
	check((result == 1) == (msg.form == message_form::unparsed),
	    "1 is for unparsed texts");
	if (msg.form != message_form::ucl) {
		check(msg.count <= 1, "plain and unparsed are one part");
		check(msg.count == 0 || msg.parts[0].text == text,
		    "plain and unparsed show the whole text");
		check(msg.count == 0 ||
			msg.parts[0].kind == message_kind::install,
		    "plain and unparsed are install messages");
	}
	check(msg.count <= max_message_parts, "parts fit");
	for (std::size_t i = 0; i < msg.count; i++) {
		const message_part &p = msg.parts[i];
		for (std::string_view s :
		    {p.text, p.minimum_version, p.maximum_version})
			check(within(s, text) || within(s, area),
			    "parts lie in the text or the room");
	}
	// The room is copied out before it goes.
	static std::string kept;
	kept.assign(room.get(), text.size());
	if (msg.form == message_form::ucl)
		for (std::size_t i = 0; i < msg.count; i++) {
			message_part &p = msg.parts[i];
			for (std::string_view *s :
			    {&p.text, &p.minimum_version, &p.maximum_version})
				if (!s->empty() && within(*s, area))
					*s = std::string_view(kept).substr(
					    static_cast<std::size_t>(
						s->data() - area.data()),
					    s->size());
		}
	return msg;
}

bool
has_terminator_line(std::string_view body)
{
	for (std::size_t at = 0; at <= body.size();) {
		std::size_t eol = std::min(body.find('\n', at), body.size());
		std::string_view line = body.substr(at, eol - at);
		while (!line.empty() &&
		    (line.back() == '\r' || line.back() == ' ' ||
			line.back() == '\t'))
			line.remove_suffix(1);
		if (line == "EOM")
			return true;
		at = eol + 1;
	}
	return false;
}

std::string
json_quoted(std::string_view body, std::size_t seed)
{
	std::string out = "\"";
	for (char c : body) {
		auto u = static_cast<unsigned char>(c);
		if (c == '"' || c == '\\') {
			out += '\\';
			out += c;
		} else if (c == '\n' && seed % 2 == 0) {
			out += "\\n";
		} else if (u < 0x20 && seed % 3 == 0) {
			char hex[8];
			std::snprintf(hex, sizeof hex, "\\u%04x", u);
			out += hex;
		} else {
			out += c;
		}
	}
	return out + "\"";
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	auto chunks = split_chunks(data, size);
	(void)read_checked(chunks[0]);
	if (chunks.size() < 2)
		return 0;
	std::string_view body = chunks[1];
	if (!has_terminator_line(body)) {
		std::string file =
		    "[{ type: upgrade\n  minimum_version: \"1\"\n"
		    "  message: <<EOM\n" +
		    std::string(body) + "\nEOM\n}]\n";
		pkg_message msg = read_checked(file);
		check(msg.form == message_form::ucl && msg.count == 1,
		    "a <<EOM message is read");
		check(msg.parts[0].text == body, "a <<EOM text comes back");
		check(msg.parts[0].kind == message_kind::upgrade &&
			msg.parts[0].minimum_version == "1",
		    "the type and bound come back");
	}
	std::string file =
	    "[ { message = " + json_quoted(body, size) + ", type: remove } ]";
	pkg_message msg = read_checked(file);
	check(msg.form == message_form::ucl && msg.count == 1,
	    "a quoted message is read");
	check(msg.parts[0].text == body, "a quoted text comes back");
	check(msg.parts[0].kind == message_kind::remove,
	    "the type after the message counts");
	return 0;
}
