// The threads that make port pages, and the ring of jobs between them and
// the walk: jobs are numbered as they are handed over; the threads take
// them in that order, and the walk finishes them in that order, each when
// it is done. While the oldest job is not done, the run's own thread
// expands the next job no thread has taken rather than wait; it sleeps only
// when every job handed over is taken, and is woken only then.
#include "pages/crew.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

struct crew_state {
	bool tried = false;
	int threads = 0; // running
	pthread_t thread[max_page_threads]{};
	port_job *jobs = nullptr; // the ring
	std::size_t ring = 0;	  // its size
	// Job numbers: the next to hand over, to take, to finish.
	std::size_t handed = 0, taken = 0, finished = 0;
	bool first_made = false; // a page of the run has been expanded
	bool stopping = false;
	int idle = 0;		   // threads waiting for a job
	bool walk_waiting = false; // the run's thread waits for a job done
	std::mutex lock;
	std::condition_variable work; // a job was handed over, or stop
	std::condition_variable done; // a job is done
};

crew_state crew;

void
expand(port_job &job)
{
	message_log *before = log_messages(&job.log);
	if (job.task != nullptr)
		job.task(job);
	else
		expand_port_readme(
		    job.path, job.kind, job.port, &job.work, &job.made);
	(void)log_messages(before);
}

void *
work_on_jobs(void *)
{
	std::unique_lock<std::mutex> hold(crew.lock);
	for (;;) {
		if (!crew.stopping && crew.taken == crew.handed) {
			crew.idle++;
			crew.work.wait(hold, [] {
				return crew.stopping || crew.taken < crew.handed;
			});
			crew.idle--;
		}
		if (crew.stopping)
			return nullptr;
		port_job &job = crew.jobs[crew.taken++ % crew.ring];
		if (job.done)
			continue;
		hold.unlock();
		expand(job);
		hold.lock();
		job.done = true;
		if (crew.walk_waiting)
			crew.done.notify_one();
	}
}

// Finishes the oldest job, expanding it here if no thread has taken it.
void
finish_oldest(job_finish finish, void *walk)
{
	port_job &job = crew.jobs[crew.finished % crew.ring];
	{
		std::unique_lock<std::mutex> hold(crew.lock);
		while (!job.done) {
			if (crew.taken < crew.handed) {
				port_job &next = crew.jobs[crew.taken++ % crew.ring];
				if (next.done)
					continue;
				hold.unlock();
				expand(next);
				hold.lock();
				next.done = true;
				continue;
			}
			crew.walk_waiting = true;
			crew.done.wait(hold);
			crew.walk_waiting = false;
		}
	}
	finish(job, walk);
	std::lock_guard<std::mutex> hold(crew.lock);
	crew.finished++;
	// A job with nothing to expand may be finished before any thread
	// came to it: none will now.
	if (crew.taken < crew.finished)
		crew.taken = crew.finished;
}

} // namespace

bool
crew_ready()
{
	if (crew.tried)
		return crew.threads > 0;
	crew.tried = true;
	int wanted = state.page_threads;
	if (wanted <= 1)
		return false;
	crew.ring = 4 * static_cast<std::size_t>(wanted);
	crew.jobs = static_cast<port_job *>(
	    allocate_reported(crew.ring * sizeof(port_job), "page threads"));
	if (crew.jobs == nullptr)
		return false;
	// The run's own thread writes the pages and expands some: the others
	// make up the count.
	for (int i = 0; i + 1 < wanted; i++) {
		if (pthread_create(&crew.thread[i], nullptr, work_on_jobs,
			nullptr) != 0)
			break;
		crew.threads++;
	}
	if (crew.threads + 1 < wanted && state.verbosity > 0)
		say(stderr, "Making pages on %d threads, not %d: no more could "
			    "be started\n",
		    crew.threads + 1, wanted);
	return crew.threads > 0;
}

port_job &
next_job(job_finish finish, void *walk)
{
	if (crew.handed - crew.finished == crew.ring)
		finish_oldest(finish, walk);
	port_job &job = crew.jobs[crew.handed % crew.ring];
	job.task = nullptr;
	job.name = nullptr;
	job.found = false;
	job.done = false;
	return job;
}

void
hand_over(port_job &job, job_finish finish, void *walk)
{
	if (job.task == nullptr && job.found && !crew.first_made) {
		finish_jobs(finish, walk);
		crew.first_made = true;
		expand_port_readme(
		    job.path, job.kind, job.port, &job.work, &job.made);
		finish(job, walk);
		return;
	}
	std::lock_guard<std::mutex> hold(crew.lock);
	job.done = !job.found;
	crew.handed++;
	if (crew.idle > 0)
		crew.work.notify_one();
}

void
finish_jobs(job_finish finish, void *walk)
{
	while (crew.finished < crew.handed)
		finish_oldest(finish, walk);
}

void
release_crew()
{
	{
		std::lock_guard<std::mutex> hold(crew.lock);
		crew.stopping = true;
		crew.work.notify_all();
	}
	for (int i = 0; i < crew.threads; i++)
		(void)pthread_join(crew.thread[i], nullptr);
	if (crew.jobs != nullptr) {
		for (std::size_t i = 0; i < crew.ring; i++) {
			release_page_work(&crew.jobs[i].work);
			release_buffer(&crew.jobs[i].out);
			release_messages(&crew.jobs[i].log);
		}
		std::free(crew.jobs);
	}
	crew.jobs = nullptr;
	crew.threads = 0;
	crew.ring = 0;
	crew.handed = crew.taken = crew.finished = 0;
	crew.first_made = false;
	crew.stopping = false;
	crew.idle = 0;
	crew.walk_waiting = false;
	crew.tried = false;
}
