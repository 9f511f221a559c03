/* Preloaded into the program under test: records every attempt to set the
 * real-time clock in the file named by TEMPIKON_CLOCK_LOG instead of making
 * it, and refuses the calls that would adjust the clock. One line per call:
 * "<seconds since the epoch> <local YYYY-MM-DD HH:MM:SS> <call>
 *  value=<seconds.nanoseconds asked for> at=<seconds.nanoseconds>", where at
 * is the real clock at the call (unshifted), so that a test can measure the
 * error of a setting against a server that sends the real time.
 * With TEMPIKON_CLOCK_START=<seconds since the epoch>, the real-time clock
 * reads as if it had stood there when first read, and runs on from there. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

static void record(time_t seconds, long nanoseconds, const char* call) {
    const char* path = getenv("TEMPIKON_CLOCK_LOG");
    if (!path || !*path) return;
    /* The real clock straight from the kernel, past this file's own shift. */
    struct timespec at = {0, 0};
    syscall(SYS_clock_gettime, CLOCK_REALTIME, &at);
    struct tm local;
    char when[64] = "?";
    if (localtime_r(&seconds, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    char line[224];
    const int n = snprintf(line, sizeof line, "%lld %s %s value=%lld.%09ld at=%lld.%09ld\n",
                           (long long)seconds, when, call, (long long)seconds, nanoseconds,
                           (long long)at.tv_sec, at.tv_nsec);
    if (n <= 0) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}

/* The shift, in nanoseconds, from the real clock to the one shown. */
static long long shiftNs(long long realNs) {
    static int known = 0;
    static long long shift = 0;
    if (!known) {
        const char* start = getenv("TEMPIKON_CLOCK_START");
        if (start && *start) shift = atoll(start) * 1000000000LL - realNs;
        known = 1;
    }
    return shift;
}

int clock_gettime(clockid_t clock, struct timespec* tp) {
    void* symbol = dlsym(RTLD_NEXT, "clock_gettime");
    int (*real)(clockid_t, struct timespec*) = NULL;
    memcpy(&real, &symbol, sizeof real);
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    const int result = real(clock, tp);
    if (result != 0 || (clock != CLOCK_REALTIME && clock != CLOCK_REALTIME_COARSE)) return result;
    long long ns = tp->tv_sec * 1000000000LL + tp->tv_nsec;
    ns += shiftNs(ns);
    tp->tv_sec = (time_t)(ns / 1000000000LL);
    tp->tv_nsec = (long)(ns % 1000000000LL);
    return 0;
}

int gettimeofday(struct timeval* tv, void* tz) {
    (void)tz;
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
}

time_t time(time_t* out) {
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return (time_t)-1;
    if (out) *out = ts.tv_sec;
    return ts.tv_sec;
}

/* TEMPIKON_CLOCK_REFUSE set: each setting is recorded and refused, as the
   kernel refuses a user without the right. */
static int refused(void) {
    const char* refuse = getenv("TEMPIKON_CLOCK_REFUSE");
    if (!refuse || !*refuse) return 0;
    errno = EPERM;
    return 1;
}

int clock_settime(clockid_t clock, const struct timespec* tp) {
    if (clock != CLOCK_REALTIME) {
        errno = EPERM;
        return -1;
    }
    record(tp->tv_sec, tp->tv_nsec, "clock_settime");
    return refused() ? -1 : 0;
}

int settimeofday(const struct timeval* tv, const struct timezone* tz) {
    (void)tz;
    if (tv) record(tv->tv_sec, (long)tv->tv_usec * 1000, "settimeofday");
    return refused() ? -1 : 0;
}

int stime(const time_t* t) {
    if (t) record(*t, 0, "stime");
    return 0;
}

/* Adjusting the clock is refused; a pure read (modes 0) goes through. */
int adjtimex(struct timex* buf) {
    if (buf->modes == 0) {
        void* symbol = dlsym(RTLD_NEXT, "adjtimex");
        int (*real)(struct timex*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(buf);
    }
    errno = EPERM;
    return -1;
}

int ntp_adjtime(struct timex* buf) {
    return adjtimex(buf);
}

int clock_adjtime(clockid_t clock, struct timex* buf) {
    if (buf->modes == 0) {
        void* symbol = dlsym(RTLD_NEXT, "clock_adjtime");
        int (*real)(clockid_t, struct timex*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(clock, buf);
    }
    errno = EPERM;
    return -1;
}

int adjtime(const struct timeval* delta, struct timeval* olddelta) {
    if (!delta && olddelta) {
        olddelta->tv_sec = 0;
        olddelta->tv_usec = 0;
        return 0;
    }
    errno = EPERM;
    return -1;
}
