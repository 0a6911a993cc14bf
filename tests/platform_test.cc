// Opening beneath the top directory, with the kernel's help and without.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/platform.h"

using namespace qmtest;

namespace {

TEST(OpenBeneath, RefusesPathsThatLeadOutOfTheTop)
{
	TempDir d;
	d.mkdir("top/cat/port");
	d.mkdir("outside/port");
	ASSERT_EQ(symlink((d / "outside").c_str(), (d / "top/evil").c_str()), 0);
	ASSERT_EQ(symlink("../../outside/port", (d / "top/cat/evil").c_str()), 0);
	ASSERT_EQ(symlink("port", (d / "top/cat/alias").c_str()), 0);
	int top = open((d / "top").c_str(), O_RDONLY | O_DIRECTORY);
	ASSERT_GE(top, 0);
	int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;

	// The walk by hand stands in for openat2 where Linux lacks it;
	// FreeBSD has no such fallback.
	using opener = int (*)(int, const char *, int, int);
	std::vector<opener> openers = {platform_open_beneath};
#ifndef __FreeBSD__
	openers.push_back(platform_open_walking);
#endif
	for (opener open_fn : openers) {
		int fd = open_fn(top, "cat/port/README.html", flags, 0644);
		EXPECT_GE(fd, 0);
		close(fd);
		for (const char *rel : {"evil/port/README.html",
			 "cat/evil/README.html", "../outside/README.html"}) {
			errno = 0;
			int bad = open_fn(top, rel, flags, 0644);
			int error = errno;
			EXPECT_EQ(bad, -1) << rel;
			EXPECT_TRUE(platform_leads_out(error)) << rel << " " << error;
		}
		EXPECT_EQ(open_fn(top, "cat/missing/README.html", flags, 0644), -1);
		EXPECT_EQ(errno, ENOENT);
	}
	// A link that stays inside the tree may be followed by the kernel;
	// the walk by hand refuses it all the same.
	int fd = platform_open_beneath(top, "cat/alias/README.html", flags, 0644);
	EXPECT_GE(fd, 0);
	close(fd);
#ifndef __FreeBSD__
	EXPECT_EQ(platform_open_walking(top, "cat/alias/README.html", flags, 0644), -1);
#endif
	close(top);
	EXPECT_FALSE(d.exists("outside/README.html"));
	EXPECT_FALSE(d.exists("outside/port/README.html"));
}

}  // namespace
