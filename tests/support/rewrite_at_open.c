/* Preloaded into patchtool build by its test: the file named by VENNHOLT_REWRITE_AT_OPEN is changed
 * on its second opening for reading, after the pass that compared it and before it is copied into
 * the patch, as a build system still writing it would: its first byte flipped, or with
 * VENNHOLT_REWRITE_GROWS set a byte appended; or, with VENNHOLT_REWRITE_TO_LINK set, it is swapped
 * for a link to that path. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

FILE *fopen(const char *path, const char *mode) {
    FILE *(*next)(const char *, const char *) = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen");
    static int opened;
    const char *rewritten = getenv("VENNHOLT_REWRITE_AT_OPEN");
    const char *link = getenv("VENNHOLT_REWRITE_TO_LINK");
    if (rewritten != NULL && strcmp(path, rewritten) == 0 && ++opened == 2 && link != NULL) {
        unlink(path);
        symlink(link, path);
    } else if (rewritten != NULL && strcmp(path, rewritten) == 0 && opened == 2) {
        FILE *file = next(path, "r+b");
        const int grows = getenv("VENNHOLT_REWRITE_GROWS") != NULL, first = fgetc(file);
        fseek(file, 0, grows ? SEEK_END : SEEK_SET);
        fputc(grows ? first : first ^ 1, file);
        fclose(file);
    }
    return next(path, mode);
}
