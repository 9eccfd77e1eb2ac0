/* Preloaded into patchtool by the kill-and-recover test: counts the calls that open, read, write,
 * rename or remove files, and kills the process instead of making the Nth one. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <unistd.h>

static unsigned long calls;

static void *next(const char *name) {
    const char *killAt = getenv("VENNHOLT_KILL_AT_CALL");
    if (killAt != NULL && ++calls == strtoul(killAt, NULL, 10)) kill(getpid(), SIGKILL);
    return dlsym(RTLD_NEXT, name);
}

int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? (mode_t)va_arg(arguments, int) : 0;
    va_end(arguments);
    return ((int (*)(const char *, int, ...))next("open"))(path, flags, mode);
}
int openat(int folder, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? (mode_t)va_arg(arguments, int) : 0;
    va_end(arguments);
    return ((int (*)(int, const char *, int, ...))next("openat"))(folder, path, flags, mode);
}
ssize_t read(int file, void *to, size_t count) {
    return ((ssize_t(*)(int, void *, size_t))next("read"))(file, to, count);
}
ssize_t write(int file, const void *from, size_t count) {
    return ((ssize_t(*)(int, const void *, size_t))next("write"))(file, from, count);
}
int rename(const char *from, const char *to) { return ((int (*)(const char *, const char *))next("rename"))(from, to); }
int unlink(const char *path) { return ((int (*)(const char *))next("unlink"))(path); }
int renameat(int from_folder, const char *from, int to_folder, const char *to) {
    return ((int (*)(int, const char *, int, const char *))next("renameat"))(from_folder, from, to_folder, to);
}
int unlinkat(int folder, const char *path, int flags) {
    return ((int (*)(int, const char *, int))next("unlinkat"))(folder, path, flags);
}
