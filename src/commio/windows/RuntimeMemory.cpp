// The C++ runtime linked into the io.dll sets memory aside, as the DLL
// starts, for exceptions thrown when memory has run out (libstdc++'s
// emergency pool: about 70 KiB in the 64-bit DLL, half that in the 32-bit
// one), and never gives it back by itself: a host that loads and frees the
// io.dll again and again would lose that much each time. It is given back
// with the DLL's static objects, the last thing its C runtime does as the
// DLL is unloaded, when nothing of the DLL can throw any more.
namespace __gnu_cxx {
void __freeres() noexcept; // libstdc++'s own hook for giving that memory back
} // namespace __gnu_cxx

namespace {

struct RuntimeMemory {
    RuntimeMemory() = default;
    RuntimeMemory(const RuntimeMemory &) = delete;
    RuntimeMemory &operator=(const RuntimeMemory &) = delete;
    ~RuntimeMemory() { __gnu_cxx::__freeres(); }
} runtimeMemory;

} // namespace
