// The threads that make port pages (-j): a category's ports are handed out
// in the order the category lists them, expanded on whichever thread is
// free, and written by the run's own thread in that same order, each
// page's messages shown just before it is written. The output of a run is
// so the same whatever number of threads made it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "catalogue/catalogue.h"
#include "engine/placeholders.h"
#include "pages/pages.h"
#include "state/messages.h"
#include "state/state.h"

// One port of a category's list on its way: filled by the walk, expanded
// by a thread, written by the walk. Other ordered work of the run (the
// words of the descriptions) takes the same way, with a function of its
// own in place of the page's expansion.
struct port_job {
	// What a thread does with the job: null for a port page, else this,
	// which changes nothing of the run's but the job.
	void (*task)(port_job &job);
	const char *line;     // for a task: the port's INDEX line
	std::uint32_t number; // for a task: the line's number
	run_buffer out;	      // for a task: what it made
	std::size_t out_length;
	bool out_whole; // for a task: out holds all it should
	char path[path_size];
	const char *name; // its name in the category's list
	index_record port;
	bool found; // false: the port has no page, only its messages
	int kind;   // the kind of the request that makes it
	port_made made;
	page_work work;	 // the buffers its page is made in
	message_log log; // its messages, until it is written
	bool done;	 // expanded (or nothing to expand)
};

// What the walk does with each job once those before it are done, on the
// run's own thread: show its messages, write its page, add its line.
using job_finish = void (*)(port_job &job, void *walk);

// True when the run makes pages on more than one thread and its threads
// are running (started on the first call; with -j 1, or when none could be
// started, pages are made as they always were).
[[nodiscard]] bool crew_ready();

// The job of the next port of a walk, empty; when every job is taken, the
// oldest is finished first (finish(job, walk)).
[[nodiscard]] port_job &next_job(job_finish finish, void *walk);

// Hands the job filled from next_job over to the threads. The first page
// of a run is expanded here, after the jobs before it are finished, so
// that what a page loads once for the run is loaded before any thread
// needs it.
void hand_over(port_job &job, job_finish finish, void *walk);

// Finishes every job handed over, in order.
void finish_jobs(job_finish finish, void *walk);

// Stops the threads and frees the jobs. Safe to run more than once.
void release_crew();
