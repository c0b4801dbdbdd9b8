// Drives the key tester's window with window messages, as a technician
// would with the mouse and the keyboard, at the size it opens with.
// Every mode first checks that the window runs with Common Controls 6 (the
// comctl32.dll in its process is of version 6), as its manifest asks, and
// each picture it takes shows everything whole: the io.dll's box, the
// status line, the port list as it drops down and the log.
// Usage: key_window_driver test GUI.exe IO.dll PARAMETERS OUT_DIR
//   Looks at the window as it first opens; picks the port PARAMETERS names
//   from the list and starts a test with Enter while the scripted key
//   (ZELBIN_KEY_SCRIPT, inherited) is worked; looks at the window while the
//   key is held and after the test, stops it with Esc and saves the log and
//   the trace. The key script must tap the key twice within the first 2.5 s
//   after the window opens, hold it down from 3 s to 4.5 s and leave it
//   alone after; the test is stopped at 6.5 s. Writes OUT_DIR/window-first.bmp,
//   window-held.bmp, window-after.bmp, key.csv and key.vcd.
// Usage: key_window_driver load-failed GUI.exe - - OUT_DIR
//   The window beside a Zelbin_Serial.dll without its io.dll: the whole
//   message, and no Start. Writes OUT_DIR/window-load-failed.bmp.
// Usage: key_window_driver find GUI.exe IO.dll PORT OUT_DIR
//   Beside the tests' SETUPAPI.dll, which lists the ports as Windows does,
//   with PORT a scripted port of Wine's own serial driver: the port list
//   names PORT as Windows does, a search finds the key there, and the map
//   line is written when the window offers it; then a test over the io.dll,
//   which reads the new map, sees the key's presses. Prints "find: clicked"
//   as it starts the search: the key's script must press it three times in
//   the next 3 s and three times from 9 s to 10.6 s. Writes
//   OUT_DIR/window-find.bmp, window-found.bmp (the key found and written,
//   ready for Start) and window-find-test.bmp.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "keytest/KeyWindowIds.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

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

// A key pressed while control `id` has the focus: through the window's
// message loop, as the keyboard sends it.
void Press(HWND window, int id, UINT key)
{
    HWND control = GetDlgItem(window, id);
    PostMessageA(control, WM_KEYDOWN, key, 1);
    PostMessageA(control, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

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

// Texts are read from the other process's controls in UTF-16, the form the
// system carries between processes, and kept as the ASCII they are.
std::string Narrow(const wchar_t *text)
{
    std::string narrow;
    for (; *text; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

// WM_GETTEXT itself: GetWindowText reads another process's window caption
// only, which an edit control's text is not.
std::string TextOf(HWND window, int id)
{
    wchar_t text[1024] = L"";
    SendMessageW(GetDlgItem(window, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return Narrow(text);
}

// Item `index` of a list box (LB_GETTEXT) or a combo box (CB_GETLBTEXT).
std::string ItemOf(HWND list, UINT lengthMessage, UINT textMessage, LRESULT index)
{
    wchar_t item[1024] = L"";
    if (SendMessageW(list, lengthMessage, static_cast<WPARAM>(index), 0) < 1024)
        SendMessageW(list, textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item));
    return Narrow(item);
}

std::vector<std::string> PortItems(HWND window)
{
    HWND ports = GetDlgItem(window, IdPorts);
    std::vector<std::string> items;
    const LRESULT count = SendMessageW(ports, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        items.push_back(ItemOf(ports, CB_GETLBTEXTLEN, CB_GETLBTEXT, i));
    return items;
}

bool LogHas(HWND window, const std::string &text)
{
    HWND log = GetDlgItem(window, IdLog);
    const LRESULT count = SendMessageW(log, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        if (ItemOf(log, LB_GETTEXTLEN, LB_GETTEXT, i).find(text) != std::string::npos)
            return true;
    return false;
}

// Picks item `index` of the port list as a click does; true when the
// parameter text then names that port.
bool PickPort(HWND window, int index, const std::string &port)
{
    HWND ports = GetDlgItem(window, IdPorts);
    SendMessageA(ports, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IdPorts, CBN_SELCHANGE), reinterpret_cast<LPARAM>(ports));
    Pump(300);
    return TextOf(window, IdParams) == port;
}

// The dialog box the window opens, once it is shown; null after `waitMs`.
HWND WaitForDialog(DWORD process, DWORD waitMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < waitMs) {
        for (HWND w = FindWindowExA(nullptr, nullptr, "#32770", nullptr); w; w = FindWindowExA(nullptr, w, "#32770", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == process && IsWindowVisible(w))
                return w;
        }
        Pump(100);
    }
    return nullptr;
}

// A dialog box answered with `button` (IDYES, IDOK...).
void Answer(HWND dialog, int button)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    Pump(500);
}

// Every button has an access key, and Tab goes through the enabled controls
// in the order they are laid out: the port, the parameters, the buttons,
// the log.
void CheckKeyboard(HWND window)
{
    bool keys = true;
    for (int id : {IdFind, IdStart, IdStop, IdSaveLog, IdSaveTrace})
        keys = keys && TextOf(window, id).find('&') != std::string::npos;
    Check(keys, "every button has an access key");
    std::vector<int> order;
    HWND at = GetDlgItem(window, IdPorts);
    for (int i = 0; i < 8 && at; ++i) {
        order.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window, at, FALSE);
        if (at == GetDlgItem(window, IdPorts))
            break;
    }
    Check(order == std::vector<int>{IdPorts, IdParams, IdFind, IdStart, IdLog},
          "Tab goes from the port list through the parameters and the usable buttons to the log");
}

struct Launched {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    int dpi = 96;
    DWORD opened = 0;
    int Scale(int v) const { return MulDiv(v, dpi, 96); }
};

// The path of the comctl32.dll loaded in a process, empty where none is.
// Common Controls 6 comes from the side-by-side store, in a folder named
// for its assembly (ARCH_microsoft.windows.common-controls_..._6.0...);
// without the manifest the system folder's version 5 serves.
std::string CommonControlsPath(DWORD process)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
    if (snapshot == INVALID_HANDLE_VALUE)
        return {};
    std::string path;
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module))
        if (lstrcmpiA(module.szModule, "comctl32.dll") == 0)
            path = module.szExePath;
    CloseHandle(snapshot);
    CharLowerA(&path[0]);
    return path;
}

bool CommonControls6(const std::string &path)
{
    const char *own = sizeof(void *) == 8 ? "\\winsxs\\amd64_microsoft.windows.common-controls_"
                                          : "\\winsxs\\x86_microsoft.windows.common-controls_";
    const std::size_t at = path.find(own);
    return at != std::string::npos && path.find("_6.0.", at) != std::string::npos;
}

// `io` empty: the io.dll Windows finds for the key library.
bool Launch(const std::string &gui, const std::string &io, Launched &launched)
{
    std::string command = "\"" + gui + "\"" + (io.empty() ? "" : " --io \"" + io + "\"");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &launched.process)) {
        std::printf("FAIL cannot start %s (error %lu)\n", gui.c_str(), GetLastError());
        return false;
    }
    WaitForInputIdle(launched.process.hProcess, 10000);
    for (int tries = 0; tries < 200 && !launched.window; ++tries) {
        // Shown only once its controls are made and the ports listed.
        launched.window = FindWindowA(ZELBIN_KEY_WINDOW_CLASS, nullptr);
        if (launched.window && !IsWindowVisible(launched.window))
            launched.window = nullptr;
        if (!launched.window)
            Sleep(50);
    }
    Check(launched.window != nullptr, "the window opens");
    if (!launched.window) {
        TerminateProcess(launched.process.hProcess, 1);
        return false;
    }
    launched.opened = GetTickCount();
    const std::string controls = CommonControlsPath(launched.process.dwProcessId);
    Check(CommonControls6(controls), "the window runs with Common Controls 6 of its own architecture (" + controls + ")");
    HDC dc = GetDC(launched.window);
    launched.dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(launched.window, dc);
    return true;
}

// The window's own font, made alike here: a font handle of another process
// is not this one's to use.
HFONT WindowFont(int dpi)
{
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTA font = metrics.lfMessageFont;
    font.lfHeight = -MulDiv(9, dpi, 72);
    return CreateFontIndirectA(&font);
}

int WidthOf(HDC dc, const std::string &text)
{
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// Every text of the window shows whole at the size it has: the io.dll's box
// holds its lines without scrolling, the status line its text, the port
// list drops down as wide as its widest item, and the log scrolls sideways
// as far as its widest line.
void CheckNothingCutOff(const Launched &w, const std::string &picture)
{
    HDC dc = GetDC(w.window);
    HFONT font = WindowFont(w.dpi);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    RECT box{};
    GetClientRect(GetDlgItem(w.window, IdIo), &box);
    const LRESULT lines = SendMessageW(GetDlgItem(w.window, IdIo), EM_GETLINECOUNT, 0, 0);
    const LONG shown = box.bottom / std::max<LONG>(1, metrics.tmHeight);
    Check(lines <= shown, picture + ": the io.dll's box shows all its " + std::to_string(lines) + " lines (room for " +
                              std::to_string(shown) + ")");
    RECT status{};
    GetClientRect(GetDlgItem(w.window, IdStatus), &status);
    const int statusWidth = WidthOf(dc, TextOf(w.window, IdStatus));
    Check(statusWidth <= status.right, picture + ": the status line shows its text whole");
    int widest = 0;
    for (const std::string &item : PortItems(w.window))
        widest = std::max(widest, WidthOf(dc, item));
    const LRESULT dropped = SendMessageW(GetDlgItem(w.window, IdPorts), CB_GETDROPPEDWIDTH, 0, 0);
    Check(dropped >= widest, picture + ": the port list drops down " + std::to_string(dropped) +
                                 " pixels wide for its widest item's " + std::to_string(widest));
    HWND log = GetDlgItem(w.window, IdLog);
    RECT logBox{};
    GetClientRect(log, &logBox);
    int longest = 0;
    for (LRESULT i = 0, count = SendMessageW(log, LB_GETCOUNT, 0, 0); i < count; ++i)
        longest = std::max(longest, WidthOf(dc, ItemOf(log, LB_GETTEXTLEN, LB_GETTEXT, i)));
    const LRESULT extent = SendMessageW(log, LB_GETHORIZONTALEXTENT, 0, 0);
    Check(longest <= logBox.right || extent >= longest,
          picture + ": the log scrolls as far as its longest line (" + std::to_string(longest) + " pixels)");
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(w.window, dc);
}

// A picture for the guide: the window at the size it opened with, whole.
Shot Picture(const Launched &w, const std::string &out, const std::string &name)
{
    RECT frame{};
    GetWindowRect(w.window, &frame);
    const int width = MulDiv(frame.right - frame.left, 96, w.dpi), height = MulDiv(frame.bottom - frame.top, 96, w.dpi);
    Check(width >= KeyWindowWidth && height >= KeyWindowHeight,
          name + ": the window has the size it opens with (" + std::to_string(width) + " x " + std::to_string(height) +
              ")");
    CheckNothingCutOff(w, name);
    return Capture(w.window, out + "\\" + name + ".bmp");
}

void Close(Launched &launched)
{
    PostMessageA(launched.window, WM_CLOSE, 0, 0);
    const bool ended = WaitForSingleObject(launched.process.hProcess, 10000) == WAIT_OBJECT_0;
    Check(ended, "closing the window ends the tester");
    if (!ended)
        TerminateProcess(launched.process.hProcess, 1);
    CloseHandle(launched.process.hThread);
    CloseHandle(launched.process.hProcess);
}

void RunTest(Launched &w, const std::string &parameters, const std::string &out)
{
    // The first start, as a technician sees it: nothing picked where no port
    // is free (the prefix's ports are no serial ports), Start the default
    // (the stand-in needs no map).
    Picture(w, out, "window-first");
    CheckKeyboard(w.window);
    // The Wine prefix's COM1 to COM4, the library's standard names: listed
    // although no list of Windows holds them, and picking one names it.
    const std::vector<std::string> items = PortItems(w.window);
    Check(items.size() >= 4 && items[0].rfind("COM1", 0) == 0 && items[1].rfind("COM2", 0) == 0,
          "the port list has the prefix's COM1 to COM4 (" + std::to_string(items.size()) + " items, the first '" +
              (items.empty() ? "" : items[0]) + "')");
    Check(items.size() >= 2 && PickPort(w.window, 1, "COM2"), "picking COM2 from the list names it in the parameters");
    // The port tested is the one chosen in the list, as a technician does it.
    int tested = -1;
    for (std::size_t i = 0; i < items.size() && tested < 0; ++i)
        if (items[i].rfind(parameters + " ", 0) == 0 || items[i] == parameters)
            tested = static_cast<int>(i);
    Check(tested >= 0 && PickPort(w.window, tested, parameters),
          "picking " + parameters + " from the list names it in the parameters");
    Press(w.window, IdParams, VK_RETURN); // Enter starts
    Pump(300);
    Check(IsWindowEnabled(GetDlgItem(w.window, IdStop)) && !IsWindowEnabled(GetDlgItem(w.window, IdStart)),
          "Enter in the parameters starts the test");

    const int lampY = w.Scale(KeyWindowLampY);
    const int cts = w.Scale(KeyWindowLampX), dtr = w.Scale(KeyWindowLampX + 5 * KeyWindowLampStep);
    Until(w.opened, 3800); // two taps, then the key held from 3 s to 4.5 s
    const Shot held = Picture(w, out, "window-held");
    Check(Greenish(held.At(cts, lampY)), "the CTS lamp is lit while the key is down");
    Check(Greenish(held.At(dtr, lampY)), "the DTR lamp is lit once the press has toggled it on");
    // While the test runs, the log's first lines are the console's
    // preflight, warnings included: the stand-in says it reads no port.
    Check(LogHas(w.window, "Key tester for Zelbin_Serial.dll") &&
              LogHas(w.window, "Warning: This io.dll is the stand-in for tests"),
          "the preflight, and its warning of the stand-in, are in the log while the test runs");

    Until(w.opened, 6500); // three presses: toggled on at the end
    Press(w.window, IdStop, VK_ESCAPE); // Esc stops
    Pump(700);
    const Shot after = Picture(w, out, "window-after");
    Check(TextOf(w.window, IdToggled) == "Toggled: off" && LogHas(w.window, "toggled off (stopped)"),
          "after Stop the label and the log say toggled off, as DTR is (" + TextOf(w.window, IdToggled) + ")");
    Check(!Greenish(after.At(cts, lampY)), "the CTS lamp is dark after the test");
    const std::string status = TextOf(w.window, IdStatus);
    Check(!Greenish(after.At(dtr, lampY)) && status.find("DTR off") != std::string::npos &&
              LogHas(w.window, "ZelbinSetToggled(0): DTR off before stopping"),
          "after Stop the DTR lamp, the status line and the log agree: DTR off (status: " + status + ")");
    const int marks = CountMarks(after, w.dpi);
    Check(marks >= 2, "the strip marks the presses (" + std::to_string(marks) + " marks)");

    Click(w.window, IdSaveLog);
    Check(AnswerSaveDialog(w.process.dwProcessId, out + "\\key.csv"), "the log's save dialog answers");
    Click(w.window, IdSaveTrace);
    Check(AnswerSaveDialog(w.process.dwProcessId, out + "\\key.vcd"), "the trace's save dialog answers");
    Check(FileHas(out + "\\key.csv", "press"), "the saved log has the presses");
    Check(FileHas(out + "\\key.vcd", "$enddefinitions"), "the saved trace is a VCD");
}

void RunFind(Launched &w, const std::string &port, const std::string &out)
{
    const std::vector<std::string> items = PortItems(w.window);
    int index = -1;
    bool missing = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].rfind(port + "  ", 0) == 0)
            index = static_cast<int>(i);
        missing = missing || items[i].find("missing") != std::string::npos;
    }
    Check(index >= 0 && items[static_cast<std::size_t>(index)].find("(" + port + ")") != std::string::npos,
          "the port list names " + port + " as Windows does");
    Check(missing, "the port list says which listed port isn't there");
    Check(index >= 0 && PickPort(w.window, index, port + ";3F8h"),
          "picking " + port + " gives it with the library's default base (" + TextOf(w.window, IdParams) + ")");

    // The key's presses are timed from this line (the scripted device's
    // start): three for the search, three more for the test after it.
    const DWORD found = GetTickCount();
    std::printf("find: clicked\n");
    std::fflush(stdout);
    Click(w.window, IdFind);
    Pump(1500);
    Capture(w.window, out + "\\window-find.bmp");
    HWND offer = WaitForDialog(w.process.dwProcessId, 20000);
    Check(offer != nullptr, "the window offers to write the map line");
    // A Start that reaches the window while it asks (its libraries are
    // still unloaded for the search) is refused, not made.
    Click(w.window, IdStart);
    Pump(300);
    // A window whose thread died answers nothing (Wine's debugger may hold
    // the process open): then the rest would wait on it for ever.
    const bool answers = SendMessageTimeoutA(w.window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 3000, nullptr) != 0;
    Check(answers, "a Start while the window asks is refused, and the window still answers");
    if (!answers) {
        TerminateProcess(w.process.hProcess, 1);
        return;
    }
    // The question says what the write changes: the line added for the
    // base the parameters name, the other key's line kept.
    std::string asked;
    for (HWND child = offer ? GetWindow(offer, GW_CHILD) : nullptr; child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[1024] = L"";
        SendMessageW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
        asked += Narrow(text) + "\n";
    }
    Check(asked.find("added, '3F8 = " + port) != std::string::npos &&
              asked.find("kept as they were: line 1 (any = COM3)") != std::string::npos,
          "the question says which line is added and which is kept (" + asked + ")");
    if (offer)
        Answer(offer, IDYES);
    Check(LogHas(w.window, "The key is on " + port), "the log names the port the key is on");
    Check(LogHas(w.window, "  3F8 = " + port + " usb=1209:5A4B:ZK0001 line=DSR"),
          "the log gives the line the map takes for the key, for the base of the parameters");
    Check(LogHas(w.window, "Wrote "), "the map line is written, as --write-map writes it");
    Pump(500);
    Check(TextOf(w.window, IdParams) == port + ";3F8h", "the key found's parameters are ready for Start (" +
                                                            TextOf(w.window, IdParams) + ")");
    Picture(w, out, "window-found");

    // The window loads the comm-port io.dll again, which reads the new map
    // and holds the port found; a test there sees the key's three presses,
    // 9 s to 10.6 s after the search began.
    Pump(1000);
    const std::string io = TextOf(w.window, IdIo);
    Check(io.find(port) != std::string::npos && io.find(": held") != std::string::npos,
          "after the search the io.dll reads the new map and holds " + port + " (" + io + ")");
    Until(found, 8000);
    Click(w.window, IdStart);
    Until(found, 12000);
    Click(w.window, IdStop);
    Pump(700);
    const Shot after = Capture(w.window, out + "\\window-find-test.bmp");
    const std::string presses = TextOf(w.window, IdPresses), status = TextOf(w.window, IdStatus);
    Check(presses == "Presses: 3", "a test over the comm-port io.dll counts the key's three presses (" + presses + ")");
    Check(!Greenish(after.At(w.Scale(KeyWindowLampX + 5 * KeyWindowLampStep), w.Scale(KeyWindowLampY))) &&
              status.find("DTR off") != std::string::npos,
          "after Stop the DTR lamp and the status line say DTR off (status: " + status + ")");
}

} // namespace

// The window without an io.dll for its key library: the whole message in
// its box, and no test to start.
void RunLoadFailed(Launched &w, const std::string &out)
{
    const std::string io = TextOf(w.window, IdIo);
    Check(io.rfind("Cannot test: cannot load ", 0) == 0 && io.find("It needs io.dll beside it") != std::string::npos &&
              io.find("(or name an io.dll with --io)") != std::string::npos,
          "the io.dll's box says why nothing loaded, whole (" + io + ")");
    Check(!IsWindowEnabled(GetDlgItem(w.window, IdStart)), "Start can't be pressed");
    Picture(w, out, "window-load-failed");
}

int main(int argc, char **argv)
{
    const std::string mode = argc == 6 ? argv[1] : "";
    if (mode != "test" && mode != "find" && mode != "load-failed") {
        std::fprintf(stderr, "usage: key_window_driver test|find|load-failed GUI.exe IO.dll|- PARAMETERS|PORT|- OUT_DIR\n");
        return 2;
    }
    const std::string gui = argv[2], io = argv[3] == std::string("-") ? "" : argv[3], what = argv[4], out = argv[5];
    Launched launched;
    if (!Launch(gui, io, launched))
        return 1;
    if (mode == "test")
        RunTest(launched, what, out);
    else if (mode == "find")
        RunFind(launched, what, out);
    else
        RunLoadFailed(launched, out);
    Close(launched);
    std::printf("%d failed\n", failures);
    return failures ? 1 : 0;
}
