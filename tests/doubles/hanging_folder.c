// A folder that does not answer, as on a network mount whose server is gone:
// preloaded into the program (LD_PRELOAD), every call below that names a path
// under $VELMORA_TEST_HANG_UNDER waits until the file $VELMORA_TEST_HANG_UNTIL
// exists. The other paths go straight to the C library. With
// $VELMORA_TEST_HANG_CALLS (names separated by commas, such as "mkdir"), only
// those calls wait.

#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static int named(const char* call) {
    const char* calls = getenv("VELMORA_TEST_HANG_CALLS");
    if (!calls || !*calls) return 1;
    const size_t length = strlen(call);
    for (const char* at = calls; (at = strstr(at, call)) != NULL; at += length)
        if ((at == calls || at[-1] == ',') && (at[length] == ',' || at[length] == '\0')) return 1;
    return 0;
}

static void wait_if_under(const char* call, const char* path) {
    const char* under = getenv("VELMORA_TEST_HANG_UNDER");
    const char* until = getenv("VELMORA_TEST_HANG_UNTIL");
    if (!path || !under || !until || !*under || strncmp(path, under, strlen(under)) != 0) return;
    if (!named(call)) return;
    // The system call itself: the library's access() is one of ours.
    while (syscall(SYS_faccessat, AT_FDCWD, until, F_OK) != 0) {
        const struct timespec step = {0, 10 * 1000 * 1000};
        nanosleep(&step, NULL);
    }
}

// POSIX lets dlsym's result be stored through a void* view of the pointer.
#define HANG_PATH(ret, name, params, args, path)             \
    ret name params {                                        \
        wait_if_under(#name, path);                          \
        static ret(*next) params;                            \
        if (!next) *(void**)&next = dlsym(RTLD_NEXT, #name); \
        return next args;                                    \
    }

HANG_PATH(int, stat, (const char* p, struct stat* s), (p, s), p)
HANG_PATH(int, stat64, (const char* p, struct stat64* s), (p, s), p)
HANG_PATH(int, lstat, (const char* p, struct stat* s), (p, s), p)
HANG_PATH(int, lstat64, (const char* p, struct stat64* s), (p, s), p)
HANG_PATH(int, fstatat, (int d, const char* p, struct stat* s, int f), (d, p, s, f), p)
HANG_PATH(int, fstatat64, (int d, const char* p, struct stat64* s, int f), (d, p, s, f), p)
HANG_PATH(int, statx, (int d, const char* p, int f, unsigned m, struct statx* s), (d, p, f, m, s),
          p)
HANG_PATH(int, access, (const char* p, int m), (p, m), p)
HANG_PATH(int, faccessat, (int d, const char* p, int m, int f), (d, p, m, f), p)
HANG_PATH(DIR*, opendir, (const char* p), (p), p)
HANG_PATH(FILE*, fopen, (const char* p, const char* m), (p, m), p)
HANG_PATH(FILE*, fopen64, (const char* p, const char* m), (p, m), p)
HANG_PATH(int, __open_2, (const char* p, int f), (p, f), p)
HANG_PATH(int, __open64_2, (const char* p, int f), (p, f), p)
HANG_PATH(int, rename, (const char* p, const char* q), (p, q), p)
HANG_PATH(int, unlink, (const char* p), (p), p)
HANG_PATH(int, remove, (const char* p), (p), p)
HANG_PATH(int, mkdir, (const char* p, mode_t m), (p, m), p)
HANG_PATH(int, mkdirat, (int d, const char* p, mode_t m), (d, p, m), p)

static mode_t mode_of(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(arguments, int) : 0;
}

#define HANG_OPEN(name)                                      \
    int name(const char* path, int flags, ...) {             \
        va_list arguments;                                   \
        va_start(arguments, flags);                          \
        const mode_t mode = mode_of(flags, arguments);       \
        va_end(arguments);                                   \
        wait_if_under(#name, path);                          \
        static int (*next)(const char*, int, ...);           \
        if (!next) *(void**)&next = dlsym(RTLD_NEXT, #name); \
        return next(path, flags, mode);                      \
    }
#define HANG_OPENAT(name)                                    \
    int name(int dir, const char* path, int flags, ...) {    \
        va_list arguments;                                   \
        va_start(arguments, flags);                          \
        const mode_t mode = mode_of(flags, arguments);       \
        va_end(arguments);                                   \
        wait_if_under(#name, path);                          \
        static int (*next)(int, const char*, int, ...);      \
        if (!next) *(void**)&next = dlsym(RTLD_NEXT, #name); \
        return next(dir, path, flags, mode);                 \
    }

HANG_OPEN(open)
HANG_OPEN(open64)
HANG_OPENAT(openat)
HANG_OPENAT(openat64)
