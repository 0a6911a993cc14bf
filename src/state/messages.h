// Messages on standard output and standard error, said at once or, for a
// page made on another thread, kept in the page's log until the pages before
// it have shown theirs: the run's output is then the same, line for line and
// stream for stream, whatever number of threads made its pages.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// The messages of one piece of work, in the order they were said, each with
// the stream it goes to. Filled by one thread at a time; shown (and emptied)
// by whoever shows the work's results.
struct message_log {
	char *text = nullptr;	 // records: a stream byte, a length, bytes
	std::size_t length = 0;
	std::size_t room = 0;
	bool lost = false; // a message did not fit in memory: said at show
};

// The log that the calling thread's messages go to from now on (null: said
// at once), and the one they went to before.
message_log *log_messages(message_log *log);

// printf to stream (stdout or stderr), or into the thread's log.
void say(std::FILE *stream, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// text to stream, or into the thread's log.
void say_text(std::FILE *stream, std::string_view text);
// "WHAT: REASON" of errno on standard error, as perror says it.
void say_error(const char *what);

// Writes what log holds to its streams, in order, and empties it.
void show_messages(message_log *log);
// Frees log's memory.
void release_messages(message_log *log);
