/* Preloaded into patchtool by the kill-and-recover test: every call that opens, reads, writes,
 * truncates, renames or removes a file is counted, and may be slowed down, logged, or replaced by
 * a SIGKILL of the process. Nothing else changes: the call itself goes on to the C library.
 *
 *   VENNHOLT_SLOW_CALL_US=N    sleep N microseconds before each such call, so that kills at random
 *                              times land in every phase of a run, not only in the copying
 *   VENNHOLT_KILL_AT_CALL=N    SIGKILL the process instead of making the Nth call
 *   VENNHOLT_CALL_LOG=PATH     append "N name" for every call to PATH (created when missing)
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static long slowMicroseconds;
static unsigned long killAtCall;
static unsigned long calls;
static int logDescriptor = -1;

static void *next(const char *name) { return dlsym(RTLD_NEXT, name); }

__attribute__((constructor)) static void setUp(void) {
    const char *value = getenv("VENNHOLT_SLOW_CALL_US");
    slowMicroseconds = value != NULL ? atol(value) : 0;
    value = getenv("VENNHOLT_KILL_AT_CALL");
    killAtCall = value != NULL ? strtoul(value, NULL, 10) : 0;
    value = getenv("VENNHOLT_CALL_LOG");
    if (value != NULL && *value != '\0') {
        int (*realOpen)(const char *, int, ...) = (int (*)(const char *, int, ...))next("open");
        logDescriptor = realOpen(value, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
}

static void beforeCall(const char *name) {
    ++calls;
    if (logDescriptor >= 0) {
        char line[64];
        const int length = snprintf(line, sizeof line, "%lu %s\n", calls, name);
        ssize_t (*realWrite)(int, const void *, size_t) = (ssize_t (*)(int, const void *, size_t))next("write");
        if (length > 0) realWrite(logDescriptor, line, (size_t)length);
    }
    if (calls == killAtCall) kill(getpid(), SIGKILL);
    if (slowMicroseconds > 0) {
        struct timespec pause = {slowMicroseconds / 1000000, (slowMicroseconds % 1000000) * 1000};
        nanosleep(&pause, NULL);
    }
}

#define VARIADIC_OPEN(function, ...)                                                      \
    int function(__VA_ARGS__, int flags, ...) {                                           \
        mode_t mode = 0;                                                                  \
        if (flags & (O_CREAT | O_TMPFILE)) {                                              \
            va_list arguments;                                                            \
            va_start(arguments, flags);                                                   \
            mode = (mode_t)va_arg(arguments, int);                                        \
            va_end(arguments);                                                            \
        }                                                                                 \
        beforeCall(#function);                                                            \
        return ((int (*)(__VA_ARGS__, int, ...))next(#function))(OPEN_ARGUMENTS, flags, mode); \
    }

#define OPEN_ARGUMENTS path
VARIADIC_OPEN(open, const char *path)
VARIADIC_OPEN(open64, const char *path)
#undef OPEN_ARGUMENTS
#define OPEN_ARGUMENTS directory, path
VARIADIC_OPEN(openat, int directory, const char *path)
VARIADIC_OPEN(openat64, int directory, const char *path)
#undef OPEN_ARGUMENTS

ssize_t read(int descriptor, void *buffer, size_t count) {
    beforeCall("read");
    return ((ssize_t (*)(int, void *, size_t))next("read"))(descriptor, buffer, count);
}

ssize_t write(int descriptor, const void *buffer, size_t count) {
    beforeCall("write");
    return ((ssize_t (*)(int, const void *, size_t))next("write"))(descriptor, buffer, count);
}

int ftruncate(int descriptor, off_t length) {
    beforeCall("ftruncate");
    return ((int (*)(int, off_t))next("ftruncate"))(descriptor, length);
}

int rename(const char *from, const char *to) {
    beforeCall("rename");
    return ((int (*)(const char *, const char *))next("rename"))(from, to);
}

int renameat(int fromDirectory, const char *from, int toDirectory, const char *to) {
    beforeCall("renameat");
    return ((int (*)(int, const char *, int, const char *))next("renameat"))(fromDirectory, from, toDirectory, to);
}

int unlink(const char *path) {
    beforeCall("unlink");
    return ((int (*)(const char *))next("unlink"))(path);
}

int unlinkat(int directory, const char *path, int flags) {
    beforeCall("unlinkat");
    return ((int (*)(int, const char *, int))next("unlinkat"))(directory, path, flags);
}
