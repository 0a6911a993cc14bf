// Command line, run driver and directory settings.
#pragma once

// The entry point: reads the options, starts up and makes the READMEs that
// the pathname arguments ask for. Returns the exit status: 0, the number of
// option errors or of failed pathnames (254 for any number above), or -1
// (255) when start-up or a whole-tree request fails fatally; 1 in place of
// a 0 when writing to standard output failed. Only main exits.
[[nodiscard]] int run(int argc, char **argv);

// The canonical absolute path of the existing directory that pathname names,
// joined as a relative pathname is joined here (from the working directory
// for "." and "..", -n, or while no top is set; otherwise from the top of
// the tree). The caller frees it. Null after a message on standard error.
[[nodiscard]] char *resolve_dir(const char *pathname);

// 0 when path names a directory (links followed); -1 after a message.
[[nodiscard]] int check_dir(const char *path);

// Sets top_dir and top_dir_slash from pathname (an -p option), or when
// pathname is null from PORTSDIR or the default. 0, or -1 after messages
// with both fields unchanged.
[[nodiscard]] int set_top_dir(const char *pathname);

// Sets templates_dir from pathname (a -t option), or when pathname is null
// to the default. 0, or -1 after messages.
[[nodiscard]] int set_templates_dir(const char *pathname);

// Sets out_dir from pathname (a -o option), made absolute but not
// resolved. 0, or -1 after messages.
[[nodiscard]] int set_out_dir(const char *pathname);
