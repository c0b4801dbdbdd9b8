// The scripted modem-line device's library, preloaded into each Wine process
// (LD_PRELOAD, with ZELBIN_TTYDEV_STATE naming the state file the controller
// made). It takes the process's ioctl calls, and answers the modem ones on
// the device's tty (told by its st_rdev, whatever path opened it: Wine's
// server opens the file and hands the client its descriptor) from the
// device's driver (Device.h); every other call goes on to the C library.
//
// A pseudo-terminal opens as a COM port under Wine and takes the termios
// calls of GetCommState and SetCommState itself, but answers none of the
// modem ioctls: those are what this library adds.
//
// Built for x86-64 and for i386, so that both of Wine's loaders take it.
// The i386 Wine calls __ioctl_time64 (glibc's ioctl for a 64-bit time_t),
// so that is taken too. Nothing here uses the C++ runtime library, and
// nothing is printed unless the state file named can't be used.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asm/ioctls.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ttydev/Device.h"

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);
IoctlFunction realIoctl, realIoctlTime64;
ttydev::SharedState *state;

// Which of Wine's threads this is (Device.h), per thread.
__attribute__((tls_model("initial-exec"))) thread_local ttydev::ThreadRole role;

std::int64_t Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void Complain(const char *path, const char *why)
{
    std::fprintf(stderr, "zelbin-ttydev: the device's state %s can't be used (%s); its tty answers nothing\n", path,
                 why);
}

__attribute__((constructor)) void Attach()
{
    realIoctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
    realIoctlTime64 = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "__ioctl_time64"));
    const char *path = std::getenv("ZELBIN_TTYDEV_STATE");
    if (!path || !*path)
        return;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return Complain(path, std::strerror(errno));
    struct stat info{};
    if (fstat(fd, &info) != 0 || static_cast<std::size_t>(info.st_size) < sizeof(ttydev::SharedState)) {
        close(fd);
        return Complain(path, "too short");
    }
    void *mapped = mmap(nullptr, sizeof(ttydev::SharedState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED)
        return Complain(path, std::strerror(errno));
    auto *shared = static_cast<ttydev::SharedState *>(mapped);
    if (shared->magic != ttydev::StateMagic || shared->version != ttydev::StateVersion) {
        munmap(mapped, sizeof(ttydev::SharedState));
        return Complain(path, "not a state file of this version");
    }
    state = shared;
}

bool ModemRequest(unsigned long request, ttydev::Request &which)
{
    switch (request) {
    case TIOCMGET: which = ttydev::Request::StatusRead; return true;
    case TIOCMSET: which = ttydev::Request::LinesSet; return true;
    case TIOCMBIS: which = ttydev::Request::LinesRaise; return true;
    case TIOCMBIC: which = ttydev::Request::LinesLower; return true;
    case TIOCGICOUNT: which = ttydev::Request::CountsRead; return true;
    default: return false;
    }
}

// The device's answer to `request` on `fd`; false when the call isn't its.
bool Answer(int fd, unsigned long request, void *argument, int &result)
{
    ttydev::Request which{};
    if (!state || !ModemRequest(request, which))
        return false;
    struct stat info{};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    ttydev::Device device(*state);
    const int plug = device.PlugOf(static_cast<std::uint64_t>(info.st_rdev));
    if (plug < 0)
        return false;

    const ttydev::Caller caller = role.Observe(which);
    const auto tid = static_cast<std::int32_t>(gettid());
    std::int64_t now = Now();
    device.Note(plug, caller, which, now, tid);
    int error = 0;
    if (which == ttydev::Request::StatusRead) {
        if (const std::int64_t delay = device.ReadDelayNs()) {
            const timespec wait{0, static_cast<long>(delay)};
            nanosleep(&wait, nullptr);
            now = Now();
        }
        std::uint32_t lines = 0;
        error = device.ReadLines(plug, caller, now, lines);
        if (!error)
            *static_cast<int *>(argument) = static_cast<int>(lines);
    } else if (which == ttydev::Request::CountsRead) {
        ttydev::LineCounts counts{};
        error = device.ReadCounts(plug, now, counts);
        if (!error) {
            serial_icounter_struct answer{};
            answer.cts = counts.cts;
            answer.dsr = counts.dsr;
            answer.rng = counts.rng;
            answer.dcd = counts.dcd;
            std::memcpy(argument, &answer, sizeof answer);
        }
    } else {
        error = device.SetLines(plug, which, static_cast<std::uint32_t>(*static_cast<const int *>(argument)), now,
                                tid);
    }
    errno = error;
    result = error ? -1 : 0;
    return true;
}

// The device's answer, else the C library's `next`.
int Take(IoctlFunction next, int fd, unsigned long request, void *argument)
{
    int result = 0;
    if (Answer(fd, request, argument, result))
        return result;
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, request, argument);
}

} // namespace

// The entry points, each passing its one argument on (every ioctl has at
// most one, a pointer or a number that fits one).
#define ZELBIN_TTYDEV_ENTRY(name, next)                                                                             \
    extern "C" __attribute__((visibility("default"))) int name(int fd, unsigned long request, ...)                \
    {                                                                                                            \
        va_list list;                                                                                            \
        va_start(list, request);                                                                                 \
        void *argument = va_arg(list, void *);                                                                   \
        va_end(list);                                                                                            \
        return Take(next, fd, request, argument);                                                                \
    }

ZELBIN_TTYDEV_ENTRY(ioctl, realIoctl)
#if defined(__i386__)
ZELBIN_TTYDEV_ENTRY(__ioctl_time64, realIoctlTime64 ? realIoctlTime64 : realIoctl)
#endif
