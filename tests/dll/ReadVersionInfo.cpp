// Reads each named file's version resource through Windows' own
// GetFileVersionInfo, as Explorer's properties page and a support
// technician's tools do, and checks the product, version and file name.
// Usage: read_version_info VERSION FILE...
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Query(const std::vector<char> &block, const char *key)
{
    char *value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void **>(&value), &length) || !value)
        return "(none)";
    return std::string(value, length && value[length - 1] == '\0' ? length - 1 : length);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: read_version_info VERSION FILE...\n");
        return 2;
    }
    const std::string version = argv[1];
    int passed = 0, failed = 0;
    for (int i = 2; i < argc; ++i) {
        const char *path = argv[i];
        const char *slash = std::strrchr(path, '\\');
        const char *slash2 = std::strrchr(path, '/');
        const char *name = slash2 && (!slash || slash2 > slash) ? slash2 + 1 : slash ? slash + 1 : path;
        DWORD ignored = 0;
        std::vector<char> block(GetFileVersionInfoSizeA(path, &ignored));
        bool ok = !block.empty() && GetFileVersionInfoA(path, 0, static_cast<DWORD>(block.size()), block.data());
        std::string product, fileVersion, original;
        if (ok) {
            product = Query(block, "ProductName");
            fileVersion = Query(block, "FileVersion");
            original = Query(block, "OriginalFilename");
            ok = product == "Zelbin_Serial" && fileVersion == version && _stricmp(original.c_str(), name) == 0;
        }
        std::printf("%s %s: %s %s (%s)\n", ok ? "ok  " : "FAIL", name, product.c_str(), fileVersion.c_str(),
                    original.c_str());
        ok ? ++passed : ++failed;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
