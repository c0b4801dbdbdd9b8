#include "PortMapFile.h"

#include <cstdlib>

#include "commio/PortMap.h"

namespace commio {
namespace {

// Why there is no map: the status text, cut where the folder's name makes
// it longer than any status.
using Why = FixedText<CommIo::MaxStatus>;

// The file's bytes, on the heap only while the map is read: a host's
// stack is no place for them, and the io.dll holds nothing once it has the
// mappings.
class FileText {
public:
    FileText() = default;
    FileText(const FileText &) = delete;
    FileText &operator=(const FileText &) = delete;
    ~FileText() { std::free(bytes_); }

    // Room for `size` bytes; false where memory ran out.
    bool Reserve(std::size_t size)
    {
        bytes_ = static_cast<char *>(std::malloc(size));
        capacity_ = bytes_ ? size : 0;
        return bytes_ != nullptr;
    }
    char *Bytes() { return bytes_; }
    std::size_t Capacity() const { return capacity_; }
    void SetSize(std::size_t size) { size_ = size; }
    std::string_view View() const { return std::string_view(bytes_ ? bytes_ : "", size_); }

private:
    char *bytes_ = nullptr;
    std::size_t capacity_ = 0, size_ = 0;
};

// The file's text; false, with why there is none, where it can't be had.
bool ReadBeside(HMODULE module, FileText &text, Why &why)
{
    char path[MAX_PATH + 32];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        why = "can't find the folder io.dll was loaded from";
        return false;
    }
    std::size_t folder = length;
    while (folder > 0 && path[folder - 1] != '\\' && path[folder - 1] != '/')
        --folder;
    const std::string_view name = PortMapFileName;
    const std::string_view folderName(path, folder);
    // MAX_PATH + 32 holds the folder and either name of the map.
    for (std::size_t i = 0; i <= name.size(); ++i)
        path[folder + i] = i < name.size() ? name[i] : '\0';
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            why.Append("no ").Append(name).Append(" beside io.dll in ").Append(folderName);
            // Where the map was saved as Explorer names a new text file,
            // that name is what to change.
            const std::string_view twice = PortMapNamedTwice;
            for (std::size_t i = 0; i <= twice.size(); ++i)
                path[folder + i] = i < twice.size() ? twice[i] : '\0';
            const DWORD attributes = GetFileAttributesA(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                why.Append(", but ").Append(PortMapNamedTwiceAdvice);
            else
                why.Append(": put one there naming the COM port, such as 'any = COM3'");
        } else {
            why.Append(name).Append(" can't be opened (error ").AppendDecimal(error).Append(')');
        }
        return false;
    }
    // One byte past the limit tells a file that is too long.
    if (!text.Reserve(MaxPortMapBytes + 1)) {
        CloseHandle(handle);
        why = "out of memory reading the port map";
        return false;
    }
    DWORD got = 0;
    const BOOL read = ReadFile(handle, text.Bytes(), static_cast<DWORD>(text.Capacity()), &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    text.SetSize(read ? got : 0);
    if (!read)
        why.Append(name).Append(" can't be read (error ").AppendDecimal(error).Append(')');
    return read != FALSE;
}

} // namespace

void ConfigureFromPortMapFile(HMODULE module, CommIo &io)
{
    FileText text;
    Why why;
    if (!ReadBeside(module, text, why))
        return io.ConfigureFailed(why.c_str());
    const PortMapResult map = ParsePortMap(text.View());
    if (map.error.empty())
        return io.Configure(map.uarts);
    why.Append(PortMapFileName);
    if (map.errorLine)
        why.Append(" line ").AppendDecimal(static_cast<std::uint32_t>(map.errorLine));
    io.ConfigureFailed(why.Append(": ").Append(map.error).c_str());
}

} // namespace commio
