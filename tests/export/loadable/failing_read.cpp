// Loaded into a helper program with LD_PRELOAD: the Nth read of one file fails with EIO, as one
// unreadable sector fails it, and every other read goes through.
//
//   FAILING_READ_FILE  the file whose reads are counted: a path (any descriptor of that file),
//                      or a bare name (any file of that name, made while the program runs)
//   FAILING_READ_AT    N, from 1; 0 fails none
//   FAILING_READ_COUNT where the reads of the file are counted at exit
//
// The variables are read once, before the program's main runs.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Fault {
    bool set = false;
    const char *name = nullptr; // where a bare name was given
    dev_t device = 0;
    ino_t inode = 0;
    long at = 0;
    const char *countPath = nullptr;
};
Fault fault;
std::atomic<long> reads{0};

__attribute__((constructor)) void readSettings()
{
    const char *file = std::getenv("FAILING_READ_FILE");
    const char *at = std::getenv("FAILING_READ_AT");
    struct stat status {};
    if (!file || !at)
        return;
    const bool bare = !std::strchr(file, '/');
    if (!bare && ::stat(file, &status) != 0)
        return;
    fault = {true, bare ? file : nullptr, status.st_dev, status.st_ino, std::strtol(at, nullptr, 10),
             std::getenv("FAILING_READ_COUNT")};
}

__attribute__((destructor)) void writeCount()
{
    if (!fault.set || !fault.countPath)
        return;
    if (FILE *out = std::fopen(fault.countPath, "w")) {
        std::fprintf(out, "%ld\n", reads.load());
        std::fclose(out);
    }
}

// Whether this read of fd is the one to fail.
bool failsNow(int fd)
{
    if (!fault.set)
        return false;
    if (fault.name) {
        char link[64], target[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = ::readlink(link, target, sizeof target - 1);
        if (n <= 0)
            return false;
        target[n] = '\0';
        const char *slash = std::strrchr(target, '/');
        if (std::strcmp(slash ? slash + 1 : target, fault.name) != 0)
            return false;
    } else {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || status.st_dev != fault.device || status.st_ino != fault.inode)
            return false;
    }
    return ++reads == fault.at;
}

template <typename Call>
Call next(const char *name)
{
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) ssize_t read(int fd, void *buffer, size_t count)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t)>("read");
    if (failsNow(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count);
}

__attribute__((visibility("default"))) ssize_t pread(int fd, void *buffer, size_t count, off_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off_t)>("pread");
    if (failsNow(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count, offset);
}

__attribute__((visibility("default"))) ssize_t pread64(int fd, void *buffer, size_t count, off64_t offset)
{
    static const auto real = next<ssize_t (*)(int, void *, size_t, off64_t)>("pread64");
    if (failsNow(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count, offset);
}

} // extern "C"
