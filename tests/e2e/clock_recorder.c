/* Preloaded into the program under test: records every attempt to set or
 * slew the real-time clock in the file named by TEMPIKON_CLOCK_LOG instead
 * of making it. One line per call:
 * "<seconds since the epoch> <local YYYY-MM-DD HH:MM:SS> <call>
 *  value=<seconds.nanoseconds asked for> at=<seconds.nanoseconds>", where at
 * is the real clock at the call (unshifted), so that a test can measure the
 * error of a setting against a server that sends the real time. For a slew
 * (adjtime, adjtimex, ntp_adjtime, clock_adjtime) value is the offset asked
 * for, signed, and the time in front is where the slew leads: the clock as
 * the program reads it plus that offset. A step by an offset
 * (clock_adjtime with ADJ_SETOFFSET) is recorded as a setting, as the call
 * "clock_adjtime(ADJ_SETOFFSET)": value is the clock as the program reads it
 * at the call plus the offset, the instant it would set. With
 * TEMPIKON_CLOCK_REFUSE_SETOFFSET=<errno name or number> (EINVAL, EOPNOTSUPP,
 * ...) such steps fail with that error, as an old kernel or a filter makes
 * them, and are recorded as "refused:clock_adjtime(ADJ_SETOFFSET)".
 * Pure reads go to the real calls.
 * With TEMPIKON_CLOCK_START=<seconds since the epoch, a fraction allowed>,
 * the real-time clock
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

static void recordLine(time_t seconds, const char* call, long long valueNs) {
    const char* path = getenv("TEMPIKON_CLOCK_LOG");
    if (!path || !*path) return;
    /* The real clock straight from the kernel, past this file's own shift. */
    struct timespec at = {0, 0};
    syscall(SYS_clock_gettime, CLOCK_REALTIME, &at);
    struct tm local;
    char when[64] = "?";
    if (localtime_r(&seconds, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    const unsigned long long magnitude =
        valueNs < 0 ? 0ULL - (unsigned long long)valueNs : (unsigned long long)valueNs;
    char line[224];
    const int n =
        snprintf(line, sizeof line, "%lld %s %s value=%s%llu.%09llu at=%lld.%09ld\n",
                 (long long)seconds, when, call, valueNs < 0 ? "-" : "", magnitude / 1000000000ULL,
                 magnitude % 1000000000ULL, (long long)at.tv_sec, at.tv_nsec);
    if (n <= 0) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const ssize_t written = write(fd, line, (size_t)n);
    (void)written;
    close(fd);
}

static void record(time_t seconds, long nanoseconds, const char* call) {
    recordLine(seconds, call, (long long)seconds * 1000000000LL + nanoseconds);
}

/* The shift, in nanoseconds, from the real clock to the one shown. */
static long long shiftNs(long long realNs) {
    static int known = 0;
    static long long shift = 0;
    if (!known) {
        const char* start = getenv("TEMPIKON_CLOCK_START");
        /* Whole seconds, or with a fraction ("1765180800.25"). */
        if (start && *start) {
            char* rest = NULL;
            const long long whole = strtoll(start, &rest, 10);
            long long fraction = 0;
            if (rest && *rest == '.') {
                long long scale = 100000000LL;
                for (++rest; *rest >= '0' && *rest <= '9' && scale > 0; ++rest, scale /= 10)
                    fraction += (*rest - '0') * scale;
            }
            shift = whole * 1000000000LL + (whole < 0 ? -fraction : fraction) - realNs;
        }
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

/* A slew of offsetNs, recorded with the instant it leads to on the clock the
   program reads. */
static void recordSlew(const char* call, long long offsetNs) {
    struct timespec now = {0, 0};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) now.tv_nsec = 0;
    const long long target = now.tv_sec * 1000000000LL + now.tv_nsec + offsetNs;
    long long seconds = target / 1000000000LL;
    if (target % 1000000000LL < 0) --seconds;
    recordLine((time_t)seconds, call, offsetNs);
}

/* The offset a timex carries, in nanoseconds: a slew (ADJ_OFFSET, or the
   single-shot one adjtime makes) or an offset added at once (ADJ_SETOFFSET). */
static long long timexOffsetNs(const struct timex* buf) {
    const int nano = (buf->modes & ADJ_NANO) != 0;
    if (buf->modes & ADJ_SETOFFSET)
        return buf->time.tv_sec * 1000000000LL + buf->time.tv_usec * (nano ? 1LL : 1000LL);
    if ((buf->modes & ADJ_OFFSET_SINGLESHOT) == ADJ_OFFSET_SINGLESHOT) return buf->offset * 1000LL;
    if (buf->modes & ADJ_OFFSET) return buf->offset * (nano ? 1LL : 1000LL);
    return 0;
}

/* The error TEMPIKON_CLOCK_REFUSE_SETOFFSET names, or 0. */
static int setOffsetRefusal(void) {
    const char* refuse = getenv("TEMPIKON_CLOCK_REFUSE_SETOFFSET");
    if (!refuse || !*refuse) return 0;
    if (strcmp(refuse, "EINVAL") == 0) return EINVAL;
    if (strcmp(refuse, "EOPNOTSUPP") == 0) return EOPNOTSUPP;
    if (strcmp(refuse, "ENOSYS") == 0) return ENOSYS;
    return atoi(refuse) > 0 ? atoi(refuse) : EINVAL;
}

/* A step by an offset: recorded with the instant it gives on the clock the
   program reads, which is what a setting records as its value. */
static int steppedByOffset(const struct timex* buf) {
    struct timespec now = {0, 0};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) now.tv_nsec = 0;
    const long long target = now.tv_sec * 1000000000LL + now.tv_nsec + timexOffsetNs(buf);
    long long seconds = target / 1000000000LL;
    if (target % 1000000000LL < 0) --seconds;
    /* Without the right the kernel refuses before it looks at the form. */
    const int refusal = getenv("TEMPIKON_CLOCK_REFUSE") && *getenv("TEMPIKON_CLOCK_REFUSE")
                            ? 0
                            : setOffsetRefusal();
    recordLine((time_t)seconds,
               refusal ? "refused:clock_adjtime(ADJ_SETOFFSET)" : "clock_adjtime(ADJ_SETOFFSET)",
               target);
    if (refusal) {
        errno = refusal;
        return -1;
    }
    return refused() ? -1 : TIME_OK;
}

/* Reads: no mode, or the single-shot offset's read. */
static int isRead(const struct timex* buf) {
    return buf->modes == 0 || buf->modes == ADJ_OFFSET_SS_READ;
}

/* An adjustment is recorded, then refused or accepted as a setting is. */
static int adjusted(const char* call, const struct timex* buf) {
    recordSlew(call, timexOffsetNs(buf));
    return refused() ? -1 : TIME_OK;
}

static void* realSymbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

int adjtimex(struct timex* buf) {
    if (isRead(buf)) {
        void* symbol = realSymbol("adjtimex");
        int (*real)(struct timex*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(buf);
        errno = ENOSYS;
        return -1;
    }
    return adjusted("adjtimex", buf);
}

int ntp_adjtime(struct timex* buf) {
    if (isRead(buf)) {
        void* symbol = realSymbol("ntp_adjtime");
        int (*real)(struct timex*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(buf);
        errno = ENOSYS;
        return -1;
    }
    return adjusted("ntp_adjtime", buf);
}

int clock_adjtime(clockid_t clock, struct timex* buf) {
    if (isRead(buf)) {
        void* symbol = realSymbol("clock_adjtime");
        int (*real)(clockid_t, struct timex*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(clock, buf);
        errno = ENOSYS;
        return -1;
    }
    if (clock != CLOCK_REALTIME) {
        errno = EPERM;
        return -1;
    }
    if (buf->modes & ADJ_SETOFFSET) return steppedByOffset(buf);
    return adjusted("clock_adjtime", buf);
}

/* What is left of a slew is not modelled: an accepted one reports none. */
int adjtime(const struct timeval* delta, struct timeval* olddelta) {
    if (!delta) {
        void* symbol = realSymbol("adjtime");
        int (*real)(const struct timeval*, struct timeval*) = NULL;
        memcpy(&real, &symbol, sizeof real);
        if (real) return real(delta, olddelta);
        errno = ENOSYS;
        return -1;
    }
    recordSlew("adjtime", delta->tv_sec * 1000000000LL + delta->tv_usec * 1000LL);
    if (refused()) return -1;
    if (olddelta) {
        olddelta->tv_sec = 0;
        olddelta->tv_usec = 0;
    }
    return 0;
}
