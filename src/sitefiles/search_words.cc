// The word index of the top-level README's search.
//
// The descriptions are read once, in INDEX order, and each word of a port
// is noted once in a table of the words met. A word's ports, ascending as
// they are read, are held as the distances between them in a chain of
// small blocks, seven bits to a byte: two or three bytes a port, and no
// more once the word is too common to be kept. The words, sorted, are cut
// into numbered files of consecutive words, each as large as the goal
// allows, and the list names the first word of each: a typed word loads
// the file where the words it begins would stand, a few kilobytes however
// large the tree. Every structure grows as the tree needs and lives only
// while the index is made.
#include "sitefiles/search_words.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "pages/description.h"
#include "pages/crew.h"
#include "pages/pages.h"
#include "site/site.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/text.h"

namespace {

// Words of fewer characters are not indexed.
constexpr std::size_t word_least = 3;
// A word that more than one port in common_share holds, and more than
// common_least ports, tells too little to be worth its bytes.
constexpr std::size_t common_share = 20;
constexpr std::size_t common_least = 20;
// The most bytes of words in a file, but for a file of one word.
constexpr std::size_t file_goal = 12 * 1024;

// The digits of the numbers: those that go on, those that end one.
constexpr std::string_view more_digits = "()*+,-./:;=>?@[]^_`{|}~";
constexpr std::string_view last_digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&'";
static_assert(more_digits.size() == 23 && last_digits.size() == 32);

constexpr std::string_view list_head =
    "// The word files of the search of README.html.\n"
    "window.quillmarkWords={version:1,ports:";
constexpr std::string_view file_head =
    "(window.quillmarkWordFiles=window.quillmarkWordFiles||[]).push([";
constexpr std::string_view file_tail = "\"]);\n";

struct word_entry {
	std::uint32_t text;  // where its bytes begin in the word text
	std::uint32_t last;  // 1 + the last port that held it, 0 for none
	std::uint32_t count; // the ports that hold it
	std::uint32_t head;  // the blocks of its ports: the first
	std::uint32_t tail;  // and the last
	std::uint32_t size;  // the bytes it takes in its file
	std::uint8_t fill;   // the bytes used in the last block
	std::uint8_t length; // its bytes
};

// A piece of a word's chain of ports.
constexpr std::size_t block_bytes = 12;
struct port_block {
	std::array<std::uint8_t, block_bytes> bytes;
	std::uint32_t next;
};

// What the index is made of while it is made.
struct word_index {
	char *text = nullptr; // every word's bytes, one after another
	std::size_t text_size = 0, text_room = 0;
	word_entry *words = nullptr;
	std::size_t word_count = 0, word_room = 0;
	std::uint32_t *slots = nullptr; // 1 + a word's number, 0 for none
	std::size_t slot_count = 0;	// a power of two
	port_block *blocks = nullptr;
	std::size_t block_count = 0, block_room = 0;
	std::size_t ports = 0;
	std::size_t common = 0;		 // a word of more ports is left out
	std::uint32_t *sorted = nullptr; // the kept words, in byte order
	std::size_t kept = 0;
	char *out = nullptr; // a file as it is written
	std::size_t out_size = 0;
	run_buffer description{}; // the description being read
};

void
release(word_index *index)
{
	std::free(index->text);
	std::free(index->words);
	std::free(index->slots);
	std::free(index->blocks);
	std::free(index->sorted);
	std::free(index->out);
	release_buffer(&index->description);
	*index = word_index{};
}

// Makes *data hold room for need elements of size bytes, growing by half.
// false after saying how much could not be allocated.
template <typename T>
bool
make_room(T **data, std::size_t *room, std::size_t need)
{
	if (need <= *room)
		return true;
	std::size_t want = std::max(need, *room + *room / 2 + 64);
	void *grown = std::realloc(*data, want * sizeof(T));
	if (grown == nullptr) {
		std::fprintf(stderr,
		    "search words: cannot allocate %zu bytes: %s\n",
		    want * sizeof(T), std::strerror(errno));
		return false;
	}
	*data = static_cast<T *>(grown);
	*room = want;
	return true;
}

std::string_view
word_text(const word_index &index, const word_entry &word)
{
	return {index.text + word.text, word.length};
}

// Doubles the slots and puts every word in its new slot. false after the
// report.
bool
grow_slots(word_index *index)
{
	std::size_t count =
	    index->slot_count == 0 ? 4096 : index->slot_count * 2;
	auto *slots = static_cast<std::uint32_t *>(
	    allocate_reported(count * sizeof(std::uint32_t), "search words"));
	if (slots == nullptr)
		return false;
	for (std::size_t w = 0; w < index->word_count; w++) {
		std::size_t at =
		    name_hash(word_text(*index, index->words[w])) & (count - 1);
		while (slots[at] != 0)
			at = (at + 1) & (count - 1);
		slots[at] = static_cast<std::uint32_t>(w + 1);
	}
	std::free(index->slots);
	index->slots = slots;
	index->slot_count = count;
	return true;
}

// Appends number to the chain of word's ports, whose first it is when
// the word has no block yet. false after a report.
bool
hold_number(word_index *index, word_entry *word, std::uint32_t number)
{
	bool first = word->count == 1;
	do {
		if (first || word->fill == block_bytes) {
			if (!make_room(&index->blocks, &index->block_room,
				index->block_count + 1))
				return false;
			auto block =
			    static_cast<std::uint32_t>(index->block_count++);
			index->blocks[block].next = 0;
			if (first)
				word->head = block;
			else
				index->blocks[word->tail].next = block;
			word->tail = block;
			word->fill = 0;
			first = false;
		}
		auto byte = static_cast<std::uint8_t>(number & 0x7F);
		number >>= 7;
		index->blocks[word->tail].bytes[word->fill++] =
		    static_cast<std::uint8_t>(byte | (number > 0 ? 0x80 : 0));
	} while (number > 0);
	return true;
}

// Reads a word's chain of ports, one number after another.
struct port_reader {
	const word_index *index;
	std::uint32_t block;
	std::size_t at;
	std::uint32_t left; // the numbers still to read
	std::uint32_t port; // 1 + the last port read

	explicit port_reader(const word_index &words, const word_entry &word)
	    : index(&words), block(word.head), at(0), left(word.count), port(0)
	{
	}
	// The next number as it is written: the first port, then the
	// distance from the one before less one. False after the last.
	bool next(std::uint32_t *number)
	{
		if (left == 0)
			return false;
		left--;
		std::uint32_t value = 0;
		for (int shift = 0;; shift += 7) {
			const port_block &b = index->blocks[block];
			if (at == block_bytes) {
				block = b.next;
				at = 0;
			}
			std::uint8_t byte = index->blocks[block].bytes[at++];
			value |= static_cast<std::uint32_t>(byte & 0x7F)
			    << shift;
			if ((byte & 0x80) == 0)
				break;
		}
		*number = value;
		return true;
	}
};

// Notes that port holds word. false after a report.
bool
note_word(word_index *index, std::string_view word, std::uint32_t port)
{
	if (2 * (index->word_count + 1) > index->slot_count &&
	    !grow_slots(index))
		return false;
	std::size_t mask = index->slot_count - 1;
	std::size_t at = name_hash(word) & mask;
	std::uint32_t slot;
	while ((slot = index->slots[at]) != 0 &&
	    word_text(*index, index->words[slot - 1]) != word)
		at = (at + 1) & mask;
	if (slot == 0) {
		if (!make_room(&index->words, &index->word_room,
			index->word_count + 1) ||
		    !make_room(&index->text, &index->text_room,
			index->text_size + word.size()))
			return false;
		std::memcpy(
		    index->text + index->text_size, word.data(), word.size());
		index->words[index->word_count] = {
		    .text = static_cast<std::uint32_t>(index->text_size),
		    .last = 0,
		    .count = 0,
		    .head = 0,
		    .tail = 0,
		    .size = 0,
		    .fill = 0,
		    .length = static_cast<std::uint8_t>(word.size()),
		};
		index->text_size += word.size();
		slot = static_cast<std::uint32_t>(++index->word_count);
		index->slots[at] = slot;
	}
	word_entry &entry = index->words[slot - 1];
	if (entry.last == port + 1)
		return true;
	std::uint32_t gap = entry.count == 0 ? port : port - entry.last;
	entry.last = port + 1;
	// Once too common to be kept, its ports need not be held.
	if (++entry.count > index->common)
		return true;
	return hold_number(index, &entry, gap);
}

// Notes the words of the description of INDEX line port. false after a
// report.
bool
note_description(word_index *index, const char *line, std::uint32_t port)
{
	index_record record;
	(void)split_index_line(line, &record, index_field::descr);
	std::string_view text = read_port_description(record, &index->description, false);
	bool latin1 = !valid_utf8(text);
	text = description_body(text);
	char word[search_word_max];
	std::size_t at = 0, chars = 0, length;
	while (
	    (length = next_search_word(text, &at, latin1, word, &chars)) != 0) {
		if (chars >= word_least &&
		    !note_word(index, {word, length}, port))
			return false;
	}
	return true;
}

// The digits of number.
std::size_t
number_size(std::uint32_t number)
{
	std::size_t size = 1;
	for (number /= last_digits.size(); number > 0;
	     number /= more_digits.size())
		size++;
	return size;
}

char *
append_number_digits(char *pos, char *end, std::uint32_t number)
{
	char digits[16];
	std::size_t n = sizeof digits;
	digits[--n] = last_digits[number % last_digits.size()];
	for (number /= last_digits.size(); number > 0;
	     number /= more_digits.size())
		digits[--n] = more_digits[number % more_digits.size()];
	return append(pos, end, {digits + n, sizeof digits - n});
}

// Drops the common words, and sizes and sorts the others. false after a
// report.
bool
sort_words(word_index *index)
{
	index->sorted = static_cast<std::uint32_t *>(allocate_reported(
	    (index->word_count + 1) * sizeof *index->sorted, "search words"));
	if (index->sorted == nullptr)
		return false;
	for (std::size_t w = 0; w < index->word_count; w++) {
		word_entry &word = index->words[w];
		if (word.count > index->common)
			continue;
		std::size_t size = word.length;
		port_reader ports(*index, word);
		std::uint32_t number;
		while (ports.next(&number))
			size += number_size(number);
		word.size = static_cast<std::uint32_t>(size);
		index->sorted[index->kept++] = static_cast<std::uint32_t>(w);
	}
	const word_index &words = *index;
	std::sort(index->sorted, index->sorted + index->kept,
	    [&words](std::uint32_t a, std::uint32_t b) {
		    return word_text(words, words.words[a]) <
			word_text(words, words.words[b]);
	    });
	return true;
}

struct file_writer {
	word_index *index;
	const char *dir;
	int failed;
	std::size_t files;
	char *starts; // the first word of each file, blank-separated
	std::size_t starts_size, starts_room;
};

// Writes the kept words [from, to) as the next file. false after an
// allocation failure was said; a failed write is counted.
bool
write_words_file(file_writer *writer, std::size_t from, std::size_t to)
{
	word_index *index = writer->index;
	char number[24];
	std::snprintf(number, sizeof number, "%zu", writer->files++);
	std::size_t size =
	    file_head.size() + std::strlen(number) + 2 + file_tail.size();
	for (std::size_t k = from; k < to; k++)
		size += index->words[index->sorted[k]].size;
	std::string_view first =
	    word_text(*index, index->words[index->sorted[from]]);
	if (!make_room(&index->out, &index->out_size, size) ||
	    !make_room(&writer->starts, &writer->starts_room,
		writer->starts_size + first.size() + 1))
		return false;
	char *end = index->out + size;
	char *pos = append(index->out, end, file_head);
	pos = append(pos, end, number);
	pos = append(pos, end, ",\"");
	for (std::size_t k = from; k < to; k++) {
		const word_entry &word = index->words[index->sorted[k]];
		// Words are letters, digits and characters from U+00C0 on
		// bar U+2028 and U+2029: none needs escaping in a literal.
		pos = append(pos, end, word_text(*index, word));
		port_reader ports(*index, word);
		std::uint32_t written;
		while (ports.next(&written))
			pos = append_number_digits(pos, end, written);
	}
	pos = append(pos, end, file_tail);

	char name[64];
	if (!join_text(
		name, sizeof name, {search_words_file_prefix, number, ".js"}) ||
	    pos == nullptr) {
		// Neither can happen: the name and the file are sized above.
		char shown[shown_size];
		(void)output_shown(writer->dir, shown, sizeof shown);
		std::fprintf(stderr, "%s/%.*s%s.js: not written: out of room\n",
		    shown,
		    static_cast<int>(search_words_file_prefix.size()),
		    search_words_file_prefix.data(), number);
		writer->failed++;
	} else {
		writer->failed += write_file(writer->dir, name, index->out,
		    static_cast<std::size_t>(pos - index->out));
	}
	if (writer->starts_size > 0)
		writer->starts[writer->starts_size++] = ' ';
	std::memcpy(
	    writer->starts + writer->starts_size, first.data(), first.size());
	writer->starts_size += first.size();
	return true;
}

// Writes the kept words, in order, as files of about file_goal bytes.
// false after an allocation failure was said.
bool
write_words_files(file_writer *writer)
{
	const word_index &index = *writer->index;
	std::size_t from = 0, size = 0;
	for (std::size_t k = 0; k < index.kept; k++) {
		std::size_t word = index.words[index.sorted[k]].size;
		if (k > from && size + word > file_goal) {
			if (!write_words_file(writer, from, k))
				return false;
			from = k;
			size = 0;
		}
		size += word;
	}
	return from == index.kept || write_words_file(writer, from, index.kept);
}

// A thread's part of the words of a description: the description read and
// cut into the words the index keeps, each as its length and its bytes,
// into the job's out; out_whole false when there was no memory for them.
void
cut_description(port_job &job)
{
	index_record record;
	(void)split_index_line(job.line, &record, index_field::descr);
	std::string_view text =
	    read_port_description(record, &job.work.description, false);
	bool latin1 = !valid_utf8(text);
	text = description_body(text);
	job.out_length = 0;
	job.out_whole = true;
	// A byte of the text gives at most two of a word (a letter of
	// ISO-8859-1 in UTF-8), and a word of three bytes or more one of
	// length. Nothing is said here: the words are read again where this
	// memory is missing.
	std::size_t most = 3 * text.size() + 1;
	if (job.out.size < most) {
		std::free(job.out.data);
		job.out = {static_cast<char *>(std::malloc(most)), most};
		if (job.out.data == nullptr) {
			job.out = {};
			job.out_whole = false;
			return;
		}
	}
	char word[search_word_max];
	std::size_t at = 0, chars = 0, length;
	while (
	    (length = next_search_word(text, &at, latin1, word, &chars)) != 0) {
		if (chars < word_least)
			continue;
		job.out.data[job.out_length++] = static_cast<char>(length);
		std::memcpy(job.out.data + job.out_length, word, length);
		job.out_length += length;
	}
}

struct word_walk {
	word_index *index;
	bool failed;
};

// The words a thread cut, noted in the order of the INDEX; a description
// they could not be cut from for want of memory is read again here.
void
note_cut_words(port_job &job, void *context)
{
	auto *walk = static_cast<word_walk *>(context);
	if (walk->failed)
		return;
	if (!job.out_whole) {
		walk->failed = !note_description(walk->index, job.line, job.number);
		return;
	}
	for (std::size_t at = 0; at < job.out_length;) {
		auto length = static_cast<unsigned char>(job.out.data[at++]);
		if (!note_word(walk->index, {job.out.data + at, length},
			job.number)) {
			walk->failed = true;
			return;
		}
		at += length;
	}
}

// Reads every description into index. false after a report. With threads,
// they read and cut the descriptions, and the words are noted here in the
// order of the INDEX, as one thread notes them.
bool
read_descriptions(word_index *index)
{
	std::size_t ports = state.index_lines;
	index->ports = ports;
	index->common = std::max(ports / common_share, common_least);
	std::uint32_t port = 0;
	if (crew_ready()) {
		word_walk walk = {index, false};
		for (const char *line = state.index_text;
		     line < state.index_end && !walk.failed;
		     line += std::strlen(line) + 1, port++) {
			port_job &job = next_job(note_cut_words, &walk);
			job.task = cut_description;
			job.line = line;
			job.number = port;
			job.found = true;
			hand_over(job, note_cut_words, &walk);
		}
		finish_jobs(note_cut_words, &walk);
		return !walk.failed;
	}
	for (const char *line = state.index_text; line < state.index_end;
	     line += std::strlen(line) + 1, port++) {
		if (!note_description(index, line, port))
			return false;
	}
	return true;
}

} // namespace

bool
top_template_searches_words()
{
	return (placeholders_used(templates().top) &
		   placeholder_bit(ph_search_words)) != 0;
}

int
write_search_words(const char *dir, int *unwritten)
{
	word_index index;
	file_writer writer = {&index, dir, 0, 0, nullptr, 0, 0};
	int result = -1;
	if (read_descriptions(&index) && sort_words(&index) &&
	    write_words_files(&writer)) {
		std::size_t size =
		    list_head.size() + 24 + writer.starts_size + 16;
		if (make_room(&index.out, &index.out_size, size)) {
			char *end = index.out + size;
			char *pos = append(index.out, end, list_head);
			pos = append_number(
			    pos, end, static_cast<long long>(index.ports));
			pos = append(pos, end, ",starts:\"");
			pos = append(
			    pos, end, {writer.starts, writer.starts_size});
			pos = append(pos, end, "\"};\n");
			writer.failed += pos == nullptr
			    ? 1
			    : write_file(dir, search_words_name, index.out,
				  static_cast<std::size_t>(pos - index.out));
			result = writer.failed > 0 ? 1 : 0;
		}
	}
	*unwritten += writer.failed;
	std::free(writer.starts);
	release(&index);
	return result;
}
