// Drives the key tester's window with window messages, as a technician
// would with the mouse: starts it, picks the port, starts a test while the
// scripted key (ZELBIN_KEY_SCRIPT, inherited) is worked, looks at the
// window while the key is held and after the test, stops and saves the log
// and the trace.
// Usage: key_window_driver GUI.exe IO.dll PARAMETERS OUT_DIR
//   The key script must hold the key down from 1.5 s to 3.5 s after the
//   window opens and tap it later; the test is stopped at 6.5 s.
// Writes OUT_DIR/window-held.bmp, window-after.bmp, key.csv and key.vcd.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "keytest/KeyWindowIds.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++failures;
}

// The client area as 32-bit pixels, saved as a BMP.
struct Shot {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // 0x00RRGGBB, top row first

    COLORREF At(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return CLR_INVALID;
        const std::uint32_t p = pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                       static_cast<std::size_t>(x)];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
};

Shot Capture(HWND window, const std::string &path)
{
    Shot shot;
    RECT client;
    GetClientRect(window, &client);
    shot.width = client.right;
    shot.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.width, shot.height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const std::size_t count = static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height);
    shot.pixels.assign(static_cast<const std::uint32_t *>(bits), static_cast<const std::uint32_t *>(bits) + count);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(window, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + count * 4);
    if (FILE *out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        std::fwrite(bits, 4, count, out);
        std::fclose(out);
    }
    DeleteObject(bitmap);
    return shot;
}

bool Greenish(COLORREF c) { return GetGValue(c) > 150 && GetRValue(c) < 100 && GetBValue(c) < 120; }
bool Blueish(COLORREF c) { return GetBValue(c) > 180 && GetRValue(c) < 80; }

int CountMarks(const Shot &shot, int dpi)
{
    const auto scale = [dpi](int v) { return MulDiv(v, dpi, 96); };
    const int y = scale(KeyWindowStripTop) + 2;
    int marks = 0;
    bool in = false;
    for (int x = scale(KeyWindowStripLeft); x < shot.width; ++x) {
        const bool blue = Blueish(shot.At(x, y));
        if (blue && !in)
            ++marks;
        in = blue;
    }
    return marks;
}

void Click(HWND window, int id) { PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// Waits until `ms` after `start`; at once where that has passed.
void Until(DWORD start, DWORD ms)
{
    while (GetTickCount() - start < ms)
        Sleep(20);
}

void Pump(DWORD ms) { Until(GetTickCount(), ms); }

// The save dialog the window opens: its file name set and OK pressed.
bool AnswerSaveDialog(DWORD process, const std::string &path)
{
    for (int tries = 0; tries < 100; ++tries) {
        HWND found = nullptr;
        for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w; w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == process && IsWindowVisible(w))
                found = w;
        }
        if (found) {
            // The file name box: an edit, or the edit inside a combo box.
            HWND edit = GetDlgItem(found, 0x47C); // cmb13
            if (edit)
                edit = FindWindowExA(edit, nullptr, "Edit", nullptr) ? FindWindowExA(edit, nullptr, "Edit", nullptr)
                                                                     : edit;
            if (!edit)
                edit = GetDlgItem(found, 0x480); // edt1
            if (!edit)
                return false;
            SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
            PostMessageA(found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            Pump(500);
            return true;
        }
        Sleep(100);
    }
    return false;
}

std::string FileText(const std::string &path)
{
    std::string all;
    FILE *in = std::fopen(path.c_str(), "rb");
    if (!in)
        return all;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        all.append(buffer, n);
    std::fclose(in);
    return all;
}

// Whether the file holds the text within 5 s: the window writes it once its
// save dialog has closed, which takes Wine a while on a loaded machine.
bool FileHas(const std::string &path, const std::string &text)
{
    const DWORD start = GetTickCount();
    while (FileText(path).find(text) == std::string::npos) {
        if (GetTickCount() - start > 5000)
            return false;
        Pump(100);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: key_window_driver GUI.exe IO.dll PARAMETERS OUT_DIR\n");
        return 2;
    }
    const std::string gui = argv[1], io = argv[2], parameters = argv[3], out = argv[4];
    std::string command = "\"" + gui + "\" --io \"" + io + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::printf("FAIL cannot start %s (error %lu)\n", gui.c_str(), GetLastError());
        return 1;
    }
    WaitForInputIdle(process.hProcess, 10000);
    HWND window = nullptr;
    for (int tries = 0; tries < 200 && !window; ++tries) {
        // Shown only once its controls are made and the ports listed.
        window = FindWindowA(ZELBIN_KEY_WINDOW_CLASS, nullptr);
        if (window && !IsWindowVisible(window))
            window = nullptr;
        if (!window)
            Sleep(50);
    }
    Check(window != nullptr, "the window opens");
    if (!window) {
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    const DWORD opened = GetTickCount();
    HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);

    // The port picked from the list, then the parameters typed over it.
    HWND ports = GetDlgItem(window, IdPorts);
    if (SendMessageA(ports, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageA(ports, CB_SETCURSEL, 0, 0);
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IdPorts, CBN_SELCHANGE), reinterpret_cast<LPARAM>(ports));
        Pump(200);
    }
    SendMessageA(GetDlgItem(window, IdParams), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(parameters.c_str()));
    Click(window, IdStart);

    Until(opened, 2500); // the key is held from 1.5 s to 3.5 s
    const auto scale = [dpi](int v) { return MulDiv(v, dpi, 96); };
    const Shot held = Capture(window, out + "\\window-held.bmp");
    Check(Greenish(held.At(scale(KeyWindowLampX), scale(KeyWindowLampY))), "the CTS lamp is lit while the key is down");

    Until(opened, 6500);
    Click(window, IdStop);
    Pump(500);
    const Shot after = Capture(window, out + "\\window-after.bmp");
    Check(!Greenish(after.At(scale(KeyWindowLampX), scale(KeyWindowLampY))), "the CTS lamp is dark after the test");
    const int marks = CountMarks(after, dpi);
    Check(marks >= 2, "the strip marks the presses (" + std::to_string(marks) + " marks)");

    Click(window, IdSaveLog);
    Check(AnswerSaveDialog(process.dwProcessId, out + "\\key.csv"), "the log's save dialog answers");
    Click(window, IdSaveTrace);
    Check(AnswerSaveDialog(process.dwProcessId, out + "\\key.vcd"), "the trace's save dialog answers");
    Check(FileHas(out + "\\key.csv", "press"), "the saved log has the presses");
    Check(FileHas(out + "\\key.vcd", "$enddefinitions"), "the saved trace is a VCD");

    PostMessageA(window, WM_CLOSE, 0, 0);
    const bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    Check(ended, "closing the window ends the tester");
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("%d failed\n", failures);
    return failures ? 1 : 0;
}
