// Messages said at once, or kept in the log of the work that said them.
#include "state/messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

thread_local message_log *current_log = nullptr;

// A record: which stream, then the length, then the bytes.
constexpr std::size_t record_head = 1 + sizeof(std::size_t);

bool
reserve(message_log *log, std::size_t more)
{
	if (log->room - log->length >= more)
		return true;
	std::size_t room = log->room == 0 ? 1024 : log->room;
	while (room - log->length < more)
		room *= 2;
	auto *text = static_cast<char *>(std::realloc(log->text, room));
	if (text == nullptr)
		return false;
	log->text = text;
	log->room = room;
	return true;
}

void
keep(message_log *log, std::FILE *stream, std::string_view text)
{
	if (!reserve(log, record_head + text.size())) {
		log->lost = true;
		return;
	}
	char *at = log->text + log->length;
	at[0] = stream == stdout ? 'o' : 'e';
	std::size_t size = text.size();
	std::memcpy(at + 1, &size, sizeof size);
	std::memcpy(at + record_head, text.data(), size);
	log->length += record_head + size;
}

} // namespace

message_log *
log_messages(message_log *log)
{
	message_log *before = current_log;
	current_log = log;
	return before;
}

void
say(std::FILE *stream, const char *format, ...)
{
	std::va_list args;
	va_start(args, format);
	if (current_log == nullptr) {
		(void)std::vfprintf(stream, format, args);
		va_end(args);
		return;
	}
	char small[512];
	std::va_list again;
	va_copy(again, args);
	int n = std::vsnprintf(small, sizeof small, format, args);
	va_end(args);
	if (n < 0) {
		va_end(again);
		return;
	}
	auto size = static_cast<std::size_t>(n);
	if (size < sizeof small) {
		keep(current_log, stream, {small, size});
	} else if (char *big = static_cast<char *>(std::malloc(size + 1))) {
		(void)std::vsnprintf(big, size + 1, format, again);
		keep(current_log, stream, {big, size});
		std::free(big);
	} else {
		current_log->lost = true;
	}
	va_end(again);
}

void
say_text(std::FILE *stream, std::string_view text)
{
	if (current_log == nullptr)
		(void)std::fwrite(text.data(), 1, text.size(), stream);
	else
		keep(current_log, stream, text);
}

void
say_error(const char *what)
{
	int error = errno;
	if (what != nullptr && *what != '\0')
		say(stderr, "%s: %s\n", what, std::strerror(error));
	else
		say(stderr, "%s\n", std::strerror(error));
}

void
show_messages(message_log *log)
{
	for (std::size_t at = 0; at < log->length;) {
		std::FILE *stream = log->text[at] == 'o' ? stdout : stderr;
		std::size_t size;
		std::memcpy(&size, log->text + at + 1, sizeof size);
		(void)std::fwrite(log->text + at + record_head, 1, size, stream);
		at += record_head + size;
	}
	if (log->lost)
		std::fputs("Some messages of a page were lost: cannot allocate "
			   "memory\n",
		    stderr);
	log->length = 0;
	log->lost = false;
}

void
release_messages(message_log *log)
{
	std::free(log->text);
	*log = {};
}
