// Lists a COM port in the registry's list of serial devices, as Windows'
// serial driver lists every port it serves
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, a volatile key that lasts until the
// Wine server ends), or takes it out again: a port the scripted device
// serves is then found by the key tester's --ports and --find as a real
// adapter's port is. The prefix's own mount manager, which would list
// ports, is off.
// Usage: list_com_port add|remove COMn
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0) ||
        std::strncmp(argv[2], "COM", 3) != 0) {
        std::fprintf(stderr, "usage: list_com_port add|remove COMn\n");
        return 2;
    }
    const std::string device = std::string("\\Device\\Scripted") + argv[2];
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                  REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = std::strcmp(argv[1], "add") == 0
                     ? RegSetValueExA(key, device.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(argv[2]),
                                      static_cast<DWORD>(std::strlen(argv[2]) + 1))
                     : RegDeleteValueA(key, device.c_str());
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS && !(status == ERROR_FILE_NOT_FOUND && std::strcmp(argv[1], "remove") == 0)) {
        std::fprintf(stderr, "list_com_port: error %ld\n", status);
        return 1;
    }
    return 0;
}
