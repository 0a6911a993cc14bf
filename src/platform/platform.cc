// FreeBSD and Linux branches of the platform calls.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __FreeBSD__
#include <sys/rtprio.h>
#else
#include <sched.h>
#endif

#ifdef __FreeBSD__
const char platform_optstring[] = ":hnp:qt:Vv";
#else
// glibc reorders arguments unless the option string begins with '+'; the
// ':' after it still keeps getopt silent about errors.
const char platform_optstring[] = "+:hnp:qt:Vv";
#endif

void
platform_reset_getopt()
{
#ifdef __FreeBSD__
	optind = 1;
	optreset = 1;
#else
	optind = 0; // glibc: a full re-initialisation
#endif
}

int
platform_release(char *buf, std::size_t size)
{
	const char *release = std::getenv("UNAME_r");
	struct utsname names;
	if (release == nullptr) {
		if (uname(&names) != 0) {
			std::perror("uname()");
			return -1;
		}
		release = names.release;
	}
	std::snprintf(buf, size, "%s", release);
	return 0;
}

int
platform_read_flags()
{
#ifdef __FreeBSD__
	return O_DIRECT;
#else
	return 0;
#endif
}

int
platform_write_flags()
{
#ifdef __FreeBSD__
	return O_DIRECT;
#else
	return 0;
#endif
}

void
platform_raise_priority()
{
#ifdef __FreeBSD__
	struct rtprio rtp = {RTP_PRIO_REALTIME, 0};
	(void)rtprio(RTP_SET, 0, &rtp);
#else
	struct sched_param param = {};
	param.sched_priority = sched_get_priority_max(SCHED_FIFO);
	if (param.sched_priority >= 0)
		(void)sched_setscheduler(0, SCHED_FIFO, &param);
#endif
}
