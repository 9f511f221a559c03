/* Preloaded into the real program by the long-run test: time on the
 * monotonic clocks runs TEMPIKON_FAST_CLOCK times faster, and waits in
 * poll/ppoll are shortened by the same factor, so that the minute timer of
 * resident mode fires many times a minute. The wall clock is left alone.
 *
 * On SIGTERM the main thread, when its next wait returns, checks for leaks
 * with the checker the process runs under and ends with
 *   0  no leak,  23  leaks reported,  24  no leak checker present.
 * Nothing here is built into the program itself. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#ifdef TEMPIKON_HAVE_MEMCHECK_H
#include <valgrind/memcheck.h>
#endif

static double factor = 1.0;
static atomic_int stopRequested = 0;
/* Real and fast readings at the first use, in nanoseconds. */
static _Atomic int64_t origin = -1;

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);
typedef int (*poll_fn)(struct pollfd*, nfds_t, int);
typedef int (*ppoll_fn)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);

/* The next definition of a function; memcpy because ISO C has no cast
 * from an object pointer to a function pointer. */
#define NEXT(var, name)                         \
    do {                                        \
        void* symbol_ = dlsym(RTLD_NEXT, name); \
        memcpy(&(var), &symbol_, sizeof(var));  \
    } while (0)

static void onTerm(int sig) {
    (void)sig;
    atomic_store(&stopRequested, 1);
}

__attribute__((constructor)) static void setUp(void) {
    const char* text = getenv("TEMPIKON_FAST_CLOCK");
    if (text && *text) {
        const double f = strtod(text, NULL);
        if (f >= 1.0) factor = f;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onTerm;
    sigaction(SIGTERM, &sa, NULL);
}

static int isMonotonic(clockid_t clock) {
    return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
           clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME;
}

int clock_gettime(clockid_t clock, struct timespec* tp) {
    static clock_gettime_fn real;
    if (!real) NEXT(real, "clock_gettime");
    const int r = real(clock, tp);
    if (r != 0 || !isMonotonic(clock) || factor == 1.0) return r;
    const int64_t now = (int64_t)tp->tv_sec * 1000000000LL + tp->tv_nsec;
    int64_t expected = -1;
    atomic_compare_exchange_strong(&origin, &expected, now);
    const int64_t start = atomic_load(&origin);
    const int64_t fast = start + (int64_t)((double)(now - start) * factor);
    tp->tv_sec = fast / 1000000000LL;
    tp->tv_nsec = fast % 1000000000LL;
    return r;
}

static void checkLeaksAndEnd(void) {
    int (*lsanCheck)(void) = NULL;
    void* symbol = dlsym(RTLD_DEFAULT, "__lsan_do_recoverable_leak_check");
    memcpy(&lsanCheck, &symbol, sizeof lsanCheck);
    if (lsanCheck) _exit(lsanCheck() ? 23 : 0);
#ifdef TEMPIKON_HAVE_MEMCHECK_H
    if (RUNNING_ON_VALGRIND) {
        VALGRIND_DO_LEAK_CHECK;
        unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
        VALGRIND_COUNT_LEAKS(leaked, dubious, reachable, suppressed);
        (void)dubious;
        (void)reachable;
        (void)suppressed;
        _exit(leaked ? 23 : 0);
    }
#endif
    _exit(24);
}

static void afterWait(void) {
    if (atomic_load(&stopRequested) && syscall(SYS_gettid) == getpid()) checkLeaksAndEnd();
}

static int shorten(int timeoutMs) {
    if (timeoutMs <= 0 || factor == 1.0) return timeoutMs;
    const int ms = (int)((double)timeoutMs / factor);
    return ms < 1 ? 1 : ms;
}

int poll(struct pollfd* fds, nfds_t n, int timeoutMs) {
    static poll_fn real;
    if (!real) NEXT(real, "poll");
    const int r = real(fds, n, shorten(timeoutMs));
    const int saved = errno;
    afterWait();
    errno = saved;
    return r;
}

int ppoll(struct pollfd* fds, nfds_t n, const struct timespec* timeout, const sigset_t* mask) {
    static ppoll_fn real;
    if (!real) NEXT(real, "ppoll");
    struct timespec shortened;
    if (timeout && factor != 1.0) {
        const int64_t ns =
            (int64_t)((double)(timeout->tv_sec * 1000000000LL + timeout->tv_nsec) / factor);
        shortened.tv_sec = ns / 1000000000LL;
        shortened.tv_nsec = ns % 1000000000LL;
        timeout = &shortened;
    }
    const int r = real(fds, n, timeout, mask);
    const int saved = errno;
    afterWait();
    errno = saved;
    return r;
}
