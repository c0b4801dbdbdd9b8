// zelbin-ttydev: a modem-line device behind Wine's own serial driver, worked
// by a script, for tests of the comm-port io.dll (Options.cpp has the
// usage). `run` makes the device and runs a program with it; `random` makes
// scripts; `judge` checks a host's polls against a run's record.
//
// The device is a pseudo-terminal: the prefix's dosdevices/comN links to
// its slave, which Wine's server opens for CreateFile("\\.\COMn"); the
// master stays open here while the device is plugged in. The modem ioctls
// on it are answered by the library preloaded into the program's Wine
// processes (Preload.cpp), from the state file both map. Pulling the
// device out closes the master, so that its tty hangs up as a removed USB
// adapter's does, and points the COM name at nothing, so that it no longer
// opens; plugging it in again makes a new pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "ttydev/Device.h"
#include "ttydev/Options.h"
#include "ttydev/Oracle.h"
#include "ttydev/Records.h"

extern char **environ;

namespace {

using namespace ttydev;

constexpr const char *LibraryName = "libzelbin-ttydev.so";

volatile sig_atomic_t stopSignal = 0;
void OnStopSignal(int signal) { stopSignal = signal; }

std::int64_t Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string FolderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string NameOf(const std::string &path) { return path.substr(path.find_last_of('/') + 1); }

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? FolderOf(std::string(path, static_cast<std::size_t>(length))) : ".";
}

int Fail(const std::string &message)
{
    std::fprintf(stderr, "zelbin-ttydev: %s\n", message.c_str());
    return 3;
}

// The state file, mapped.
class StateFile {
public:
    bool Make(const std::string &path, std::string &error)
    {
        path_ = path;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(sizeof(SharedState))) != 0) {
            error = "can't make the state file " + path + ": " + std::strerror(errno);
            if (fd >= 0)
                close(fd);
            return false;
        }
        void *mapped = mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        if (mapped == MAP_FAILED) {
            error = "can't map " + path + ": " + std::strerror(errno);
            return false;
        }
        state_ = static_cast<SharedState *>(mapped);
        return true;
    }
    ~StateFile()
    {
        if (state_)
            munmap(state_, sizeof(SharedState));
        if (!path_.empty())
            unlink(path_.c_str());
    }
    SharedState &State() { return *state_; }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
    SharedState *state_ = nullptr;
};

// The device's COM names in the prefix, and its pseudo-terminals.
class Ports {
public:
    Ports(std::string dosdevices, std::string unplugged)
        : dosdevices_(std::move(dosdevices)), unplugged_(std::move(unplugged))
    {
    }
    ~Ports()
    {
        CloseMaster();
        // Only the links this run made, and only as it left them.
        for (const auto &[link, target] : links_) {
            char now[PATH_MAX];
            const ssize_t length = readlink(link.c_str(), now, sizeof now - 1);
            if (length >= 0 && std::string(now, static_cast<std::size_t>(length)) == target)
                unlink(link.c_str());
        }
    }

    std::string LinkOf(const std::string &port) const { return dosdevices_ + "/" + Lower(port); }

    // A COM name this run may use: free, or left by a run that has ended
    // (a link to a pseudo-terminal or a removed device that is gone).
    bool Free(const std::string &port, std::string &error) const
    {
        const std::string link = LinkOf(port);
        struct stat info{};
        if (lstat(link.c_str(), &info) != 0)
            return true;
        char target[PATH_MAX];
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        const std::string to = length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "";
        const bool leftOver = (to.rfind("/dev/pts/", 0) == 0 || to.find(".unplugged") != std::string::npos) &&
                              stat(link.c_str(), &info) != 0;
        if (leftOver && unlink(link.c_str()) == 0)
            return true;
        error = port + " exists in the prefix already (" + link + " -> " + to + "): in use by another run?";
        return false;
    }

    // A new pseudo-terminal under `port`: its slave's st_rdev.
    bool Plug(const std::string &port, std::uint64_t &rdev, std::string &error)
    {
        CloseMaster();
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char *slave = master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 ? ptsname(master_)
                                                                                          : nullptr;
        struct stat info{};
        if (!slave || stat(slave, &info) != 0) {
            error = std::string("can't make a pseudo-terminal: ") + std::strerror(errno);
            return false;
        }
        rdev = static_cast<std::uint64_t>(info.st_rdev);
        // The tty's own session. Wine's server is a session leader without
        // a controlling terminal, so its open would make the tty its own,
        // and the hangup at an unplug would signal it. A tty that is
        // already another session's is never taken so: a process of ours
        // holds it until that hangup ends it.
        holder_ = fork();
        if (holder_ == 0) {
            close_range(0, ~0u, 0);
            setsid();
            const int fd = open(slave, O_RDWR);
            if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0)
                _exit(1);
            for (;;)
                pause();
        }
        if (holder_ < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        return Link(port, slave, error);
    }

    // Pulled out: the tty hangs up, the name opens nothing.
    bool Unplug(const std::string &port, std::string &error)
    {
        CloseMaster();
        return Link(port, unplugged_, error);
    }

private:
    bool Link(const std::string &port, const std::string &target, std::string &error)
    {
        const std::string link = LinkOf(port);
        const std::string made = link + ".new";
        unlink(made.c_str());
        if (symlink(target.c_str(), made.c_str()) != 0 || rename(made.c_str(), link.c_str()) != 0) {
            error = "can't link " + link + " to " + target + ": " + std::strerror(errno);
            return false;
        }
        links_.erase(std::remove_if(links_.begin(), links_.end(), [&](const auto &l) { return l.first == link; }),
                     links_.end());
        links_.emplace_back(link, target);
        return true;
    }
    // Closing the master hangs the tty up, which ends the session holding
    // it; one that doesn't end at once is ended by its id.
    void CloseMaster()
    {
        if (master_ >= 0)
            close(master_);
        master_ = -1;
        if (holder_ <= 0)
            return;
        for (int i = 0; i < 100 && waitpid(holder_, nullptr, WNOHANG) == 0; ++i) {
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
        if (waitpid(holder_, nullptr, WNOHANG) == 0) {
            kill(holder_, SIGKILL);
            waitpid(holder_, nullptr, 0);
        }
        holder_ = -1;
    }

    std::string dosdevices_, unplugged_;
    std::vector<std::pair<std::string, std::string>> links_;
    int master_ = -1;
    pid_t holder_ = -1;
};

// The run's timetable: what the device does when, after the script starts.
struct Action {
    std::int64_t atNs;
    bool plug;
    std::string port;
};

pid_t Start(const Options &o, const std::string &library, const std::string &stateFile, int output)
{
    std::vector<std::string> environment;
    std::string preload = library + "/$LIB/" + LibraryName;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind("LD_PRELOAD=", 0) == 0)
            preload += " " + text.substr(11);
        else if (text.rfind("ZELBIN_TTYDEV_STATE=", 0) != 0)
            environment.push_back(text);
    }
    environment.push_back("LD_PRELOAD=" + preload);
    environment.push_back("ZELBIN_TTYDEV_STATE=" + stateFile);
    std::vector<char *> env, argv;
    for (std::string &text : environment)
        env.push_back(text.data());
    env.push_back(nullptr);
    std::vector<std::string> args = o.program;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child == 0) {
        dup2(output, STDOUT_FILENO);
        close(output);
        execve(argv[0], argv.data(), env.data());
        std::fprintf(stderr, "zelbin-ttydev: can't run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    return child;
}

int Run(const Options &o)
{
    const std::string dosdevices = o.prefix + "/dosdevices";
    struct stat info{};
    if (stat(dosdevices.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Fail(o.prefix + " is no Wine prefix (no dosdevices folder)");
    const std::string library = o.library.empty() ? ProgramFolder() : o.library;
    if (access((library + "/lib/x86_64-linux-gnu/" + LibraryName).c_str(), R_OK) != 0)
        return Fail("the device's library is not in " + library + "/lib/x86_64-linux-gnu");

    // The state file's path is read by every Wine process, whatever its
    // folder: absolute, as is where a pulled-out device's name points (a
    // path that never exists).
    char *recordFolder = realpath(FolderOf(o.record).c_str(), nullptr);
    if (!recordFolder)
        return Fail("the record's folder " + FolderOf(o.record) + " does not exist");
    const std::string record = std::string(recordFolder) + "/" + NameOf(o.record);
    std::free(recordFolder);
    Ports ports(dosdevices, record + ".unplugged");
    std::string error;
    if (!ports.Free(o.port, error))
        return Fail(error);
    for (const PlugEvent &event : o.script.plugs)
        if (!event.port.empty() && Lower(event.port) != Lower(o.port) && !ports.Free(event.port, error))
            return Fail(error);

    StateFile file;
    if (!file.Make(record + ".state", error))
        return Fail(error);
    SharedState &state = file.State();
    Initialise(state, o.behaviour, o.keyLine, o.dsrFollowsDtr ? DsrFollowsDtr : 0);

    std::vector<PlugRecord> plugs;
    std::uint64_t rdev = 0;
    if (!ports.Plug(o.port, rdev, error))
        return Fail(error);
    plugs.push_back(PlugRecord{0, Now(), o.port, 0});
    AddPlug(state, rdev, plugs.back().fromNs);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return Fail(std::string("pipe: ") + std::strerror(errno));
    signal(SIGINT, OnStopSignal);
    signal(SIGTERM, OnStopSignal);
    const pid_t child = Start(o, library, file.Path(), pipeFds[1]);
    close(pipeFds[1]);
    if (child < 0)
        return Fail(std::string("fork: ") + std::strerror(errno));
    // A reader of this program's output that went away must not keep the
    // links from being cleared.
    signal(SIGPIPE, SIG_IGN);

    const std::int64_t deadline = Now() + static_cast<std::int64_t>(o.timeoutSeconds * 1e9);
    std::int64_t origin = 0;
    std::vector<Action> actions;
    std::size_t nextAction = 0;
    std::string current = o.port;
    const auto begin = [&](std::int64_t at) {
        origin = at;
        const std::vector<InputChange> changes = InputChanges(o.script, o.keyLine, origin);
        if (!PublishChanges(state, changes.data(), static_cast<std::uint32_t>(changes.size())))
            error = "the script has more than " + std::to_string(MaxChanges) + " changes of the input lines";
        for (const PlugEvent &event : o.script.plugs)
            actions.push_back({origin + static_cast<std::int64_t>(event.atMs) * 1000000, event.plugged, event.port});
        if (!actions.empty())
            SetPlugEnd(state, 0, actions[0].atNs);
    };
    if (o.startOn.empty())
        begin(Now());

    std::string pending;
    bool outputOpen = true, timedOut = false;
    int status = 0;
    while (true) {
        // Due actions first: the device's times come from the script, not
        // from when this loop gets round to them.
        while (error.empty() && nextAction < actions.size() && Now() >= actions[nextAction].atNs) {
            const Action &action = actions[nextAction++];
            if (!action.plug) {
                plugs.back().untilNs = action.atNs;
                ports.Unplug(current, error);
                continue;
            }
            current = action.port.empty() ? current : action.port;
            if (!ports.Plug(current, rdev, error))
                break;
            const int index = AddPlug(state, rdev, action.atNs);
            plugs.push_back(PlugRecord{index, action.atNs, current, 0});
            if (nextAction < actions.size())
                SetPlugEnd(state, index, actions[nextAction].atNs);
        }
        if (!error.empty() || stopSignal)
            break;
        const std::int64_t now = Now();
        std::int64_t wakeNs = std::min(deadline, now + 100000000);
        if (nextAction < actions.size())
            wakeNs = std::min(wakeNs, actions[nextAction].atNs);
        if (outputOpen) {
            pollfd waitFor{pipeFds[0], POLLIN, 0};
            const int ms = static_cast<int>(std::max<std::int64_t>(0, (wakeNs - now + 999999) / 1000000));
            if (poll(&waitFor, 1, ms) > 0) {
                char buffer[4096];
                const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
                if (got <= 0) {
                    outputOpen = false;
                } else {
                    std::fwrite(buffer, 1, static_cast<std::size_t>(got), stdout);
                    std::fflush(stdout);
                    pending.append(buffer, static_cast<std::size_t>(got));
                    for (std::size_t end; origin == 0 && (end = pending.find('\n')) != std::string::npos;) {
                        if (pending.compare(0, o.startOn.size(), o.startOn) == 0)
                            begin(Now());
                        pending.erase(0, end + 1);
                    }
                    if (origin != 0)
                        pending.clear();
                }
            }
        } else {
            const timespec pause{0, 2000000};
            nanosleep(&pause, nullptr);
        }
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        if (Now() >= deadline) {
            timedOut = true;
            break;
        }
    }
    if (!error.empty() || stopSignal || timedOut) {
        // Stop the program this run started, by its id; give it a moment.
        kill(child, SIGTERM);
        for (int i = 0; i < 50 && waitpid(child, &status, WNOHANG) != child; ++i) {
            const timespec pause{0, 100000000};
            nanosleep(&pause, nullptr);
        }
        if (waitpid(child, &status, WNOHANG) != child) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
    }
    close(pipeFds[0]);

    std::string writeError;
    if (!WriteRecord(record, Collect(state, origin, plugs), writeError))
        return Fail(writeError);
    if (!error.empty())
        return Fail(error);
    if (timedOut)
        return Fail(o.program[0] + " ran past --timeout; stopped");
    if (stopSignal)
        return 128 + stopSignal;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

int Judge(const Options &o)
{
    Record record;
    std::vector<Poll> polls;
    std::string error;
    if (!ReadRecord(o.record, record, error) || !ReadPolls(o.polls, polls, error)) {
        std::fprintf(stderr, "zelbin-ttydev: %s\n", error.c_str());
        return 2;
    }
    const Verdict verdict =
        Judge(PressesOf(record), polls, record.sets, OutagesOf(record, polls), o.keySeen, record.originNs);
    // The other lines' changes are counted, never judged.
    std::printf("presses %u reported %u merged %u lost %u invented %u unseen %u unjudged %u dtr-mismatches %u "
                "polls %zu other-changes %zu\n",
                verdict.presses, verdict.reported, verdict.merged, verdict.lost, verdict.invented, verdict.unseen,
                verdict.unjudged, verdict.dtrMismatches, polls.size(), record.others.size());
    for (const std::string &problem : verdict.problems)
        std::printf("  %s\n", problem.c_str());
    if (!o.latencies.empty()) {
        std::ofstream out(o.latencies);
        for (const double ms : verdict.latenciesMs)
            out << ms << "\n";
        if (!out) {
            std::fprintf(stderr, "zelbin-ttydev: can't write %s\n", o.latencies.c_str());
            return 2;
        }
    }
    if (o.quiet) {
        const QuietCalls quiet =
            CountQuietCalls(record, polls, record.originNs + static_cast<std::int64_t>(o.quietFromMs) * 1000000);
        std::printf("quiet polls %u device-calls %u (status reads %u, sets %u, counts %u) per-poll %.3f\n",
                    quiet.polls, quiet.calls, quiet.byKind[static_cast<int>(CallKind::StatusRead)],
                    quiet.byKind[static_cast<int>(CallKind::LinesSet)] +
                        quiet.byKind[static_cast<int>(CallKind::LinesRaise)] +
                        quiet.byKind[static_cast<int>(CallKind::LinesLower)],
                    quiet.byKind[static_cast<int>(CallKind::CountsRead)],
                    quiet.polls ? static_cast<double>(quiet.calls) / quiet.polls : 0.0);
    }
    return verdict.Passed() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    const std::string error = ParseOptions(args, options);
    if (!error.empty()) {
        std::fprintf(stderr, "zelbin-ttydev: %s\n\n%s", error.c_str(), Usage);
        return 2;
    }
    switch (options.command) {
    case Command::Run: return Run(options);
    case Command::Random: std::printf("%s\n", RandomScript(options.plan).c_str()); return 0;
    case Command::Judge: return Judge(options);
    case Command::Help: std::printf("%s", Usage); return 0;
    }
    return 2;
}
