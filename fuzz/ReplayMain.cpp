// Runs the fuzz target once over each file named on the command line, so
// that the seed corpus replays deterministically without a fuzzing engine.
// Each input runs in a child process of its own: one that breaks a promise
// (or crashes) is counted and named, and the others still run.
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

bool Replay(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    const std::string input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.data()), input.size());
        std::exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    int passed = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        if (Replay(argv[i])) {
            ++passed;
        } else {
            ++failed;
            std::fprintf(stderr, "FAILED: %s\n", argv[i]);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
