// The tree's history through libgit2's C API.
//
// A commit changed a port when the port's directory differs from the one
// its parent has. Comparing whole trees file by file would read every
// changed file's directory; here only two levels are looked at: the
// category directories of the top tree whose object differs from the
// parent's, and in those the port directories whose object differs. A
// directory's object names everything below it, so that is the same answer
// at a fraction of the reading. A merge changed a port only when the port
// differs from every parent, as the history of a directory is usually
// shown; a commit whose parent the repository lacks (the edge of a shallow
// clone) is passed over, since what it changed cannot be told.
#include "history/git_reader.h"

#include <git2.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state/state.h"
#include "text/bounded.h"

namespace {

// The ports one commit changed: their names end to end in names, and where
// each begins and ends. Grown as needed, kept for the whole walk.
struct port_list {
	run_buffer names;
	run_buffer views; // std::string_view items
	std::size_t used; // bytes of names
	std::size_t count;
};

std::string_view *
views_of(port_list &list)
{
	return reinterpret_cast<std::string_view *>(list.views.data);
}

// Makes buffer hold at least size bytes, keeping what it holds. 0, or -1
// after a message.
int
grow(run_buffer *buffer, std::size_t size)
{
	if (buffer->size >= size)
		return 0;
	std::size_t room = buffer->size < 4096 ? 4096 : buffer->size;
	while (room < size)
		room *= 2;
	void *data = std::realloc(buffer->data, room);
	if (data == nullptr) {
		std::fprintf(stderr, "history: cannot allocate %zu bytes\n", room);
		return -1;
	}
	*buffer = {static_cast<char *>(data), room};
	return 0;
}

// Adds "category/port". 0, or -1 after a message when memory ran out.
int
add_port(port_list &list, std::string_view category, const char *port)
{
	std::size_t length = category.size() + 1 + std::strlen(port);
	char *names_before = list.names.data;
	if (grow(&list.names, list.used + length) != 0 ||
	    grow(&list.views, (list.count + 1) * sizeof(std::string_view)) != 0)
		return -1;
	// The names moved: the views follow them.
	if (list.names.data != names_before) {
		std::string_view *views = views_of(list);
		std::size_t at = 0;
		for (std::size_t i = 0; i < list.count; i++) {
			views[i] = {list.names.data + at, views[i].size()};
			at += views[i].size();
		}
	}
	char *at = list.names.data + list.used;
	std::memcpy(at, category.data(), category.size());
	at[category.size()] = '/';
	std::memcpy(at + category.size() + 1, port, length - category.size() - 1);
	views_of(list)[list.count++] = {at, length};
	list.used += length;
	return 0;
}

bool
is_tree(const git_tree_entry *e)
{
	return e != nullptr && git_tree_entry_type(e) == GIT_OBJECT_TREE;
}

// The order of a tree's entries: by name, a directory's name read as if
// it ended in '/'.
int
tree_order(const git_tree_entry *a, const git_tree_entry *b)
{
	const auto *x = reinterpret_cast<const unsigned char *>(git_tree_entry_name(a));
	const auto *y = reinterpret_cast<const unsigned char *>(git_tree_entry_name(b));
	while (*x != '\0' && *x == *y) {
		x++;
		y++;
	}
	unsigned cx = *x != '\0' ? *x : is_tree(a) ? '/' : 0;
	unsigned cy = *y != '\0' ? *y : is_tree(b) ? '/' : 0;
	return cx < cy ? -1 : cx > cy ? 1 : 0;
}

// The port directories of one category that differ between the trees now
// and before (either null when the category was not there): both lists
// of entries walked side by side in their order, so that each entry is
// looked at once.
int
diff_category(port_list &list, std::string_view category, git_tree *now,
    git_tree *before)
{
	std::size_t n = now != nullptr ? git_tree_entrycount(now) : 0;
	std::size_t m = before != nullptr ? git_tree_entrycount(before) : 0;
	std::size_t i = 0, j = 0;
	while (i < n || j < m) {
		const git_tree_entry *a =
		    i < n ? git_tree_entry_byindex(now, i) : nullptr;
		const git_tree_entry *b =
		    j < m ? git_tree_entry_byindex(before, j) : nullptr;
		int order = a == nullptr ? 1 : b == nullptr ? -1 : tree_order(a, b);
		const git_tree_entry *changed = nullptr;
		if (order < 0) {
			changed = a; // only now
			i++;
		} else if (order > 0) {
			changed = b; // only before
			j++;
		} else {
			if (!git_oid_equal(git_tree_entry_id(a), git_tree_entry_id(b)))
				changed = a;
			i++;
			j++;
		}
		if (is_tree(changed) &&
		    add_port(list, category, git_tree_entry_name(changed)) != 0)
			return -1;
	}
	return 0;
}

// The category tree named by e, or null when e is none or not a tree.
git_tree *
category_tree(git_repository *repo, const git_tree_entry *e)
{
	git_tree *tree = nullptr;
	if (is_tree(e) && git_tree_lookup(&tree, repo, git_tree_entry_id(e)) != 0)
		tree = nullptr;
	return tree;
}

// The ports that differ between the top trees now and before (null: an
// empty tree), category by category of the list. 0, or -1 after a message.
int
diff_ports(git_repository *repo, const char *categories, git_tree *now,
    git_tree *before, port_list &list)
{
	list.used = list.count = 0;
	for (const char *c = categories; *c != '\0'; c = list_next(c)) {
		const git_tree_entry *a = git_tree_entry_byname(now, c);
		const git_tree_entry *b = before != nullptr
		    ? git_tree_entry_byname(before, c)
		    : nullptr;
		if (!is_tree(a) && !is_tree(b))
			continue;
		if (is_tree(a) && is_tree(b) &&
		    git_oid_equal(git_tree_entry_id(a), git_tree_entry_id(b)))
			continue;
		git_tree *ta = category_tree(repo, a);
		git_tree *tb = category_tree(repo, b);
		int result = diff_category(list, c, ta, tb);
		git_tree_free(ta);
		git_tree_free(tb);
		if (result != 0)
			return -1;
	}
	return 0;
}

// Of a merge's ports changed against its first parent, keeps those that
// differ from each other parent too.
void
keep_changed_from_all(git_commit *commit, git_tree *now, port_list &list)
{
	unsigned parents = git_commit_parentcount(commit);
	for (unsigned p = 1; p < parents && list.count != 0; p++) {
		git_commit *parent = nullptr;
		git_tree *tree = nullptr;
		if (git_commit_parent(&parent, commit, p) != 0 ||
		    git_commit_tree(&tree, parent) != 0) {
			git_commit_free(parent);
			continue;
		}
		std::string_view *views = views_of(list);
		std::size_t kept = 0;
		for (std::size_t i = 0; i < list.count; i++) {
			char path[path_size];
			git_tree_entry *mine = nullptr;
			git_tree_entry *theirs = nullptr;
			bool differs = !copy_text(path, sizeof path, views[i]) ||
			    git_tree_entry_bypath(&mine, now, path) != 0 ||
			    git_tree_entry_bypath(&theirs, tree, path) != 0 ||
			    !git_oid_equal(git_tree_entry_id(mine),
				git_tree_entry_id(theirs));
			git_tree_entry_free(mine);
			git_tree_entry_free(theirs);
			if (differs)
				views[kept++] = views[i];
		}
		list.count = kept;
		git_tree_free(tree);
		git_commit_free(parent);
	}
}

void
set_why(walk_summary *s, const char *fallback)
{
	const git_error *e = git_error_last();
	(void)copy_text(s->why, sizeof s->why,
	    e != nullptr && e->message != nullptr ? e->message : fallback);
	s->outcome = walk_outcome::unreadable;
}

// Whether the first walk stops before commit: it is past the bound.
bool
past_bound(const walk_request &rq, const walk_summary &s, long long time,
    long long newest)
{
	return s.walked >= rq.max_commits || time < newest - rq.max_age;
}

// A walk of a shallow clone, which libgit2 cannot walk with its own walker
// (it stops at the first parent it lacks): newest commit first, by a heap
// of the commits to visit and a set of those already queued, and parents
// the repository lacks passed over.
struct shallow_walk {
	git_repository *repo;
	struct queued {
		long long time;
		git_oid id;
	};
	queued *heap = nullptr;
	std::size_t count = 0, room = 0;
	git_oid *seen = nullptr; // open addressing; all zero: free
	std::size_t seen_count = 0, seen_slots = 0;
};

const git_oid zero_oid{};

std::size_t
oid_slot(const git_oid &id, std::size_t mask)
{
	std::size_t h = 0;
	std::memcpy(&h, id.id, sizeof h);
	return h & mask;
}

// Marks id seen; false when it was already (or memory ran out).
bool
mark_seen(shallow_walk &w, const git_oid &id)
{
	if (2 * (w.seen_count + 1) > w.seen_slots) {
		std::size_t slots = w.seen_slots == 0 ? 1024 : 2 * w.seen_slots;
		auto *table = static_cast<git_oid *>(
		    std::calloc(slots, sizeof(git_oid)));
		if (table == nullptr)
			return false;
		for (std::size_t i = 0; i < w.seen_slots; i++) {
			if (git_oid_equal(&w.seen[i], &zero_oid))
				continue;
			std::size_t at = oid_slot(w.seen[i], slots - 1);
			while (!git_oid_equal(&table[at], &zero_oid))
				at = (at + 1) & (slots - 1);
			table[at] = w.seen[i];
		}
		std::free(w.seen);
		w.seen = table;
		w.seen_slots = slots;
	}
	std::size_t at = oid_slot(id, w.seen_slots - 1);
	while (!git_oid_equal(&w.seen[at], &zero_oid)) {
		if (git_oid_equal(&w.seen[at], &id))
			return false;
		at = (at + 1) & (w.seen_slots - 1);
	}
	w.seen[at] = id;
	w.seen_count++;
	return true;
}

// Queues the commit id unless it was queued before or the repository
// lacks it.
void
queue_commit(shallow_walk &w, const git_oid &id)
{
	git_commit *commit = nullptr;
	if (!mark_seen(w, id) || git_commit_lookup(&commit, w.repo, &id) != 0)
		return;
	long long time = git_commit_time(commit);
	git_commit_free(commit);
	if (w.count == w.room) {
		std::size_t room = w.room == 0 ? 64 : 2 * w.room;
		void *p = std::realloc(w.heap, room * sizeof *w.heap);
		if (p == nullptr)
			return;
		w.heap = static_cast<shallow_walk::queued *>(p);
		w.room = room;
	}
	std::size_t at = w.count++;
	while (at > 0 && w.heap[(at - 1) / 2].time < time) {
		w.heap[at] = w.heap[(at - 1) / 2];
		at = (at - 1) / 2;
	}
	w.heap[at] = {time, id};
}

// The newest queued commit; false when none is left.
bool
next_queued(shallow_walk &w, git_oid *id)
{
	if (w.count == 0)
		return false;
	*id = w.heap[0].id;
	shallow_walk::queued last = w.heap[--w.count];
	std::size_t at = 0;
	for (;;) {
		std::size_t child = 2 * at + 1;
		if (child >= w.count)
			break;
		if (child + 1 < w.count && w.heap[child + 1].time > w.heap[child].time)
			child++;
		if (w.heap[child].time <= last.time)
			break;
		w.heap[at] = w.heap[child];
		at = child;
	}
	if (w.count != 0)
		w.heap[at] = last;
	return true;
}

// Hands on commit when it changed a port. 0, or what take or the
// comparison gave.
int
visit(git_repository *repo, const walk_request &rq, git_commit *commit,
    port_list &list)
{
	git_tree *tree = nullptr;
	git_commit *parent = nullptr;
	git_tree *parent_tree = nullptr;
	int result = 0;
	bool known = git_commit_tree(&tree, commit) == 0 &&
	    (git_commit_parentcount(commit) == 0 ||
		(git_commit_parent(&parent, commit, 0) == 0 &&
		    git_commit_tree(&parent_tree, parent) == 0));
	if (known) {
		if (diff_ports(repo, rq.categories, tree, parent_tree, list) != 0)
			result = -1;
		else if (git_commit_parentcount(commit) > 1)
			keep_changed_from_all(commit, tree, list);
	}
	if (known && result == 0 && list.count != 0) {
		char hash[GIT_OID_HEXSZ + 1];
		git_oid_tostr(hash, sizeof hash, git_commit_id(commit));
		const git_signature *author = git_commit_author(commit);
		const char *subject = git_commit_summary(commit);
		walked_commit c = {hash, git_commit_time(commit),
		    author != nullptr && author->name != nullptr ? author->name
								 : "",
		    subject != nullptr ? subject : "", views_of(list),
		    list.count};
		result = rq.take(rq.data, c);
	}
	git_tree_free(parent_tree);
	git_commit_free(parent);
	git_tree_free(tree);
	return result;
}

// The walk over an open repository.
int
walk_open(git_repository *repo, const walk_request &rq, walk_summary *s,
    port_list &list)
{
	s->shallow = git_repository_is_shallow(repo) == 1;
	git_oid head;
	if (git_reference_name_to_id(&head, repo, "HEAD") != 0) {
		set_why(s, "no head commit");
		return 0;
	}
	git_oid_tostr(s->head, sizeof s->head, &head);

	// The commit the last walk ended at counts only while the head
	// descends from it: a history rewritten under it (a forced fetch)
	// has lost it, or has it aside. A shallow clone is read from the
	// bound every time: its edge moves with each fetch.
	git_oid since;
	bool incremental = false;
	if (!rq.since.empty()) {
		s->outcome = walk_outcome::read_anew;
		if (rq.since.size() == GIT_OID_HEXSZ &&
		    git_oid_fromstrn(&since, rq.since.data(), rq.since.size()) == 0) {
			if (git_oid_equal(&since, &head)) {
				s->outcome = walk_outcome::read;
				return 0;
			}
			incremental = !s->shallow &&
			    git_graph_descendant_of(repo, &head, &since) == 1;
		}
		if (incremental)
			s->outcome = walk_outcome::read;
		git_error_clear();
	}

	git_commit *newest = nullptr;
	if (git_commit_lookup(&newest, repo, &head) != 0) {
		set_why(s, "no head commit");
		return 0;
	}
	long long newest_time = git_commit_time(newest);
	git_commit_free(newest);

	git_revwalk *walk = nullptr;
	shallow_walk edge{repo};
	if (s->shallow) {
		queue_commit(edge, head);
	} else if (git_revwalk_new(&walk, repo) != 0 ||
	    git_revwalk_sorting(walk, GIT_SORT_TIME) != 0 ||
	    git_revwalk_push(walk, &head) != 0 ||
	    (incremental && git_revwalk_hide(walk, &since) != 0)) {
		set_why(s, "cannot walk the history");
		git_revwalk_free(walk);
		return 0;
	}
	int result = 0;
	git_oid id;
	// A commit that cannot be read ends the walk: what came before it
	// stands.
	while (result == 0 &&
	    (s->shallow ? next_queued(edge, &id)
			: git_revwalk_next(&id, walk) == 0)) {
		git_commit *commit = nullptr;
		if (git_commit_lookup(&commit, repo, &id) != 0)
			break;
		if (!incremental &&
		    past_bound(rq, *s, git_commit_time(commit), newest_time)) {
			s->bounded = true;
			git_commit_free(commit);
			break;
		}
		s->walked++;
		result = visit(repo, rq, commit, list);
		for (unsigned i = 0; s->shallow && i < git_commit_parentcount(commit); i++)
			queue_commit(edge, *git_commit_parent_id(commit, i));
		git_commit_free(commit);
	}
	git_error_clear();
	git_revwalk_free(walk);
	std::free(edge.heap);
	std::free(edge.seen);
	return result;
}

} // namespace

int
walk_history(const walk_request &rq, walk_summary *s)
{
	*s = walk_summary{};
	s->outcome = walk_outcome::read;
	if (git_libgit2_init() < 0) {
		set_why(s, "cannot start libgit2");
		return 0;
	}
	// A category's tree is read once for a commit and again for its
	// child: kept in the library's cache, which by default keeps no
	// tree larger than 4 KiB.
	(void)git_libgit2_opts(
	    GIT_OPT_SET_CACHE_OBJECT_LIMIT, GIT_OBJECT_TREE, std::size_t{1} << 20);
	// A commit's trees are read again only as its parent's, which comes
	// next in the walk: a small cache keeps them.
	(void)git_libgit2_opts(
	    GIT_OPT_SET_CACHE_MAX_SIZE, static_cast<ssize_t>(std::size_t{32} << 20));
	// Every object read is hashed again to check it by default: the
	// repository is the tree's own, and reading is what this costs.
	(void)git_libgit2_opts(GIT_OPT_ENABLE_STRICT_HASH_VERIFICATION, 0);
	git_repository *repo = nullptr;
	int result = 0;
	if (git_repository_open_ext(&repo, rq.top,
		GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) != 0) {
		set_why(s, "cannot open the repository");
	} else {
		port_list list{};
		result = walk_open(repo, rq, s, list);
		release_buffer(&list.names);
		release_buffer(&list.views);
	}
	git_repository_free(repo);
	(void)git_libgit2_shutdown();
	return result;
}

const char *
history_library()
{
	static char name[32];
	int major = 0, minor = 0, rev = 0;
	if (name[0] == '\0' && git_libgit2_version(&major, &minor, &rev) == 0)
		std::snprintf(name, sizeof name, "libgit2 %d.%d.%d", major, minor, rev);
	return name;
}
