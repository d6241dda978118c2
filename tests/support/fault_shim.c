/* Faults for the tests of a sound file's last steps, put between vemora and
 * the C library with LD_PRELOAD. VEMORA_FAULT names one:
 *
 *   header-write   a write at the start of a file being written (a .part-
 *                  temporary) once it holds sound: the final header update
 *                  fails with ENOSPC, as on a full disk
 *   short-header   the same write stores half its bytes, then fails
 *   seek           seeking such a file back to its start fails with EIO
 *   peak-stamp     pwrite into such a file fails with EIO
 *   fsync          fsync of such a file fails with EIO
 *   close          closing such a file fails with EIO (it is closed)
 *   rename         renaming such a file fails with EIO
 *   folder-fsync   fsync of a folder fails with EIO
 *   slow-fsync     fsync of such a file first creates the file
 *                  "fsync-started" in the current folder, then waits 1.5 s
 *   truncate-input when such a file is created, the file VEMORA_TRUNCATE
 *                  names is cut to VEMORA_TRUNCATE_BYTES bytes
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { kMostFds = 4096 };
static unsigned char temporary[kMostFds];

static int faultIs(const char* name) {
  const char* fault = getenv("VEMORA_FAULT");
  return fault && strcmp(fault, name) == 0;
}

static int tracked(int fd) { return fd >= 0 && fd < kMostFds && temporary[fd]; }

static void* next(const char* name) { return dlsym(RTLD_NEXT, name); }

static void noteOpened(int fd, const char* path) {
  if (fd < 0 || fd >= kMostFds) return;
  temporary[fd] = strstr(path, ".part-") != NULL;
  if (temporary[fd] && faultIs("truncate-input")) {
    const char* victim = getenv("VEMORA_TRUNCATE");
    const char* bytes = getenv("VEMORA_TRUNCATE_BYTES");
    if (victim && bytes && truncate(victim, atoll(bytes)) != 0) abort();
  }
}

static mode_t modeOf(int flags, va_list args) { return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0; }

#define OPEN_SHIM(name)                               \
  int name(const char* path, int flags, ...) {        \
    va_list args;                                     \
    va_start(args, flags);                            \
    const mode_t mode = modeOf(flags, args);          \
    va_end(args);                                     \
    int (*real)(const char*, int, ...) = next(#name); \
    const int fd = real(path, flags, mode);           \
    noteOpened(fd, path);                             \
    return fd;                                        \
  }
OPEN_SHIM(open)
OPEN_SHIM(open64)

#define OPENAT_SHIM(name)                                  \
  int name(int dir, const char* path, int flags, ...) {    \
    va_list args;                                          \
    va_start(args, flags);                                 \
    const mode_t mode = modeOf(flags, args);               \
    va_end(args);                                          \
    int (*real)(int, const char*, int, ...) = next(#name); \
    const int fd = real(dir, path, flags, mode);           \
    noteOpened(fd, path);                                  \
    return fd;                                             \
  }
OPENAT_SHIM(openat)
OPENAT_SHIM(openat64)

static off_t position(int fd) {
  off_t (*real)(int, off_t, int) = next("lseek");
  return real(fd, 0, SEEK_CUR);
}

static off_t sizeOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? st.st_size : 0;
}

ssize_t write(int fd, const void* bytes, size_t count) {
  ssize_t (*real)(int, const void*, size_t) = next("write");
  if (tracked(fd) && position(fd) == 0 && sizeOf(fd) > 4096) {
    if (faultIs("header-write")) {
      errno = ENOSPC;
      return -1;
    }
    if (faultIs("short-header") && count > 1) {
      temporary[fd] = 0; /* the rest fails: a disk that filled up mid-write */
      real(fd, bytes, count / 2);
      errno = ENOSPC;
      return -1;
    }
  }
  return real(fd, bytes, count);
}

#define SEEK_SHIM(name)                                                                             \
  off_t name(int fd, off_t offset, int whence) {                                                    \
    off_t (*real)(int, off_t, int) = next(#name);                                                   \
    if (faultIs("seek") && tracked(fd) && whence == SEEK_SET && offset == 0 && sizeOf(fd) > 4096) { \
      errno = EIO;                                                                                  \
      return -1;                                                                                    \
    }                                                                                               \
    return real(fd, offset, whence);                                                                \
  }
SEEK_SHIM(lseek)
SEEK_SHIM(lseek64)

#define PWRITE_SHIM(name)                                               \
  ssize_t name(int fd, const void* bytes, size_t count, off_t offset) { \
    ssize_t (*real)(int, const void*, size_t, off_t) = next(#name);     \
    if (faultIs("peak-stamp") && tracked(fd)) {                         \
      errno = EIO;                                                      \
      return -1;                                                        \
    }                                                                   \
    return real(fd, bytes, count, offset);                              \
  }
PWRITE_SHIM(pwrite)
PWRITE_SHIM(pwrite64)

int fsync(int fd) {
  int (*real)(int) = next("fsync");
  struct stat st;
  const int folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  if ((faultIs("fsync") && tracked(fd)) || (faultIs("folder-fsync") && folder)) {
    errno = EIO;
    return -1;
  }
  if (faultIs("slow-fsync") && tracked(fd)) {
    int (*realOpen)(const char*, int, ...) = next("open");
    const int marker = realOpen("fsync-started", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (marker >= 0) close(marker);
    const struct timespec wait = {1, 500000000};
    nanosleep(&wait, NULL);
  }
  return real(fd);
}

int close(int fd) {
  int (*real)(int) = next("close");
  const int fail = faultIs("close") && tracked(fd);
  if (fd >= 0 && fd < kMostFds) temporary[fd] = 0;
  const int result = real(fd);
  if (fail) {
    errno = EIO;
    return -1;
  }
  return result;
}

int rename(const char* from, const char* to) {
  int (*real)(const char*, const char*) = next("rename");
  if (faultIs("rename") && strstr(from, ".part-")) {
    errno = EIO;
    return -1;
  }
  return real(from, to);
}
