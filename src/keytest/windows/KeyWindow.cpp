// zelbin-keytest-gui: the key tester in a window, for the technician
// standing at the key. A program of its own rather than a mode of the
// console tester: a GUI-subsystem program starts without a console window,
// and a console program can't leave its console behind.
//
// Everything it shows, apart from the drawing, comes from KeyWindowModel,
// and every test runs through the same KeyTestSession as the console. Polls
// run on the window's own thread from a timer: a poll is a few port reads,
// far shorter than the 10 ms the timer can resolve, and with one thread
// the library is never called from two at once and closing the window
// stops listening in order, before anything is freed.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commio/Win32Comm.h"
#include "keytest/CsvLog.h"
#include "keytest/IoStatus.h"
#include "portsetup/KeySearch.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/KeyWindowController.h"
#include "keytest/KeyWindowModel.h"
#include "portsetup/MapWriter.h"
#include "uart/ModemLines.h"
#include "portsetup/PortList.h"
#include "keytest/KeyWindowIds.h"
#include "WinClock.h"
#include "portsetup/WinFinder.h"
#include "WinLibraries.h"
#include "WinPreflight.h"
#include "portsetup/WinPorts.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code
using namespace portsetup; // the port set-up it offers beside the test
using uart::ReadModemLines;

namespace {

enum : UINT_PTR { TimerTest = 1, TimerFind = 2 };



void Show();

// The window's controller reaches Windows through this: the libraries, the
// ports, the serial driver, the clock and a question box.
class Win32WindowHost final : public WindowHost {
public:
    explicit Win32WindowHost(const KeyTestOptions &options) : options_(options) {}
    std::string LoadLibraries() override
    {
        const std::string error = keytest::LoadLibraries(options_, libraries_);
        target_ = std::make_unique<LoadedTarget>(libraries_);
        return error;
    }
    void UnloadLibraries() override { keytest::UnloadLibraries(libraries_); }
    KeyTestTarget &Target() override { return *target_; }
    IoDescription DescribeIo() override
    {
        // The driver check first: it is what makes a comm-port io.dll claim
        // its device, so its status is read after it.
        const bool driver = libraries_.isDriverInstalled() != 0;
        return {libraries_.ioPath, libraries_.ioKind, driver, libraries_.commio, ReadIoDllStatus(libraries_)};
    }
    std::vector<PortInfo> ListAndProbePorts(std::string &mapProblem) override
    {
        return portsetup::ListAndProbePorts(serial_, MapPath(), mapProblem);
    }
    std::vector<PortInfo> PortsToSearch() override { return ListPortsToSearch(serial_); }
    commio::CommApi &Serial() override { return serial_; }
    std::uint32_t Ticks() override { return GetTickCount(); }
    bool Ask(const std::string &title, const std::string &question) override;
    std::string MapPath() override { return PortMapPathFor(options_); }
    bool WriteMap(const Finding &finding, std::optional<std::uint16_t> base,
                  const std::function<void(const std::string &)> &print) override
    {
        return WriteFoundMap(MapPath(), finding, base, print);
    }
    SystemText SystemMessages() override { return SystemMessageText; }
    std::vector<std::string> Preflight(const PortPlan &plan) override { return PreflightLines(libraries_, plan); }

private:
    const KeyTestOptions &options_;
    Libraries libraries_;
    std::unique_ptr<LoadedTarget> target_;
    commio::Win32Comm serial_;
};

struct App {
    HWND window = nullptr;
    HFONT font = nullptr;
    UINT dpi = 96;
    KeyTestOptions options;
    KeyWindowModel model;
    Win32WindowHost host{options};
    KeyWindowController controller{host, model};
    std::unique_ptr<Clock> clock;
    std::unique_ptr<TimerResolution> resolution;
    std::unique_ptr<KeyWindowTest> test;
    double shownUntil = 0; // the strip's right edge once a test has ended
    DWORD lastPaint = 0;
    std::size_t logShown = 0;
    int logWidest = 0; // the widest line of the log, in pixels: its horizontal extent
    bool leadWithFind = false; // Find is the default button: nothing to test yet
};

App app;

bool Win32WindowHost::Ask(const std::string &title, const std::string &question)
{
    Show(); // the window as it stands while it asks
    return MessageBoxA(app.window, question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

int Scale(int pixels) { return MulDiv(pixels, static_cast<int>(app.dpi), 96); }

HWND Item(int id) { return GetDlgItem(app.window, id); }

void SetText(int id, const std::string &text) { SetWindowTextA(Item(id), text.c_str()); }

// A text of several lines into a multi-line edit control, which breaks
// lines at CR LF only.
void SetLines(int id, const std::string &text)
{
    std::string lines;
    for (const char c : text) {
        if (c == '\n' && (lines.empty() || lines.back() != '\r'))
            lines += '\r';
        lines += c;
    }
    SetText(id, lines);
}

// The width of a text in the window's font, in pixels.
int TextWidth(const std::string &text)
{
    HDC dc = GetDC(app.window);
    HGDIOBJ old = SelectObject(dc, app.font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(app.window, dc);
    return size.cx;
}

std::string TextOf(int id)
{
    const int length = GetWindowTextLengthA(Item(id));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(Item(id), &text[0], length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// The layout's rows at 96 dots per inch: the io.dll's box takes five lines
// of text (two mapped UARTs' status and a line of advice, whole), the lamps
// and the strip sit under the buttons.
constexpr int IoTop = 40, IoHeight = 78, ButtonsTop = 124, DrawingTop = KeyWindowLampY - 9,
              DrawingBottom = KeyWindowStripBottom + 30, StatusTop = DrawingBottom + 6, LogTop = StatusTop + 28;

// Where the lamps and the strip are drawn, below the controls.
RECT DrawingArea()
{
    RECT client;
    GetClientRect(app.window, &client);
    return RECT{Scale(10), Scale(DrawingTop), client.right - Scale(10), Scale(DrawingBottom)};
}

void Show()
{
    const WindowControls controls = app.model.Controls();
    const bool loaded = app.controller.Loaded();
    EnableWindow(Item(IdPorts), controls.ports);
    EnableWindow(Item(IdParams), controls.ports);
    EnableWindow(Item(IdFind), controls.find);
    EnableWindow(Item(IdStart), controls.start && loaded);
    EnableWindow(Item(IdStop), controls.stop);
    EnableWindow(Item(IdSaveLog), controls.save);
    EnableWindow(Item(IdSaveTrace), controls.save);
    SetText(IdPresses, app.model.PressText());
    SetText(IdToggled, app.model.ToggledText());
    SetText(IdStatus, app.model.StatusText());
    const std::vector<std::string> &log = app.model.Log();
    if (log.size() < app.logShown) {
        SendMessageA(Item(IdLog), LB_RESETCONTENT, 0, 0);
        app.logShown = 0;
        app.logWidest = 0;
        SendMessageA(Item(IdLog), LB_SETHORIZONTALEXTENT, 0, 0);
    }
    for (; app.logShown < log.size(); ++app.logShown) {
        SendMessageA(Item(IdLog), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(log[app.logShown].c_str()));
        // A long line scrolls sideways rather than being cut off.
        const int width = TextWidth(log[app.logShown]) + Scale(8);
        if (width > app.logWidest) {
            app.logWidest = width;
            SendMessageA(Item(IdLog), LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
        }
    }
    if (!log.empty())
        SendMessageA(Item(IdLog), LB_SETTOPINDEX, log.size() - 1, 0);
    RECT area = DrawingArea();
    InvalidateRect(app.window, &area, FALSE);
}

// Find or Start as the default button, which Enter presses.
void Lead(bool withFind)
{
    app.leadWithFind = withFind;
    SendMessageA(Item(IdFind), BM_SETSTYLE, withFind ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    SendMessageA(Item(IdStart), BM_SETSTYLE, withFind ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON, TRUE);
}

// Picks port `index` of the list, and puts the parameter text it gives in
// the parameter field.
void PickPort(int index)
{
    SendMessageA(Item(IdPorts), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (index >= 0)
        SetText(IdParams, app.controller.ParametersFor(static_cast<std::size_t>(index)));
}

// The port list and the io.dll's box, as the controller has them after a
// load; the list's items whole when it drops down, however long.
void ShowLoaded()
{
    SendMessageA(Item(IdPorts), CB_RESETCONTENT, 0, 0);
    int widest = 0;
    for (const std::string &item : app.controller.PortItems()) {
        SendMessageA(Item(IdPorts), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        widest = std::max(widest, TextWidth(item));
    }
    SendMessageA(Item(IdPorts), CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + GetSystemMetrics(SM_CXVSCROLL) + Scale(12)),
                 0);
    SetLines(IdIo, app.controller.IoLine());
    Lead(app.controller.LeadWithFind());
}

// The port whose parameters the field holds, picked in the list.
void SelectPortOf(const std::string &parameters)
{
    const std::vector<PortInfo> &ports = app.controller.Ports();
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (parameters == ports[i].name || parameters.rfind(ports[i].name + ";", 0) == 0)
            SendMessageA(Item(IdPorts), CB_SETCURSEL, i, 0);
}

void ArmTestTimer(std::uint32_t ms) { SetTimer(app.window, TimerTest, std::max<std::uint32_t>(ms, 1), nullptr); }

void TestEnded()
{
    KillTimer(app.window, TimerTest);
    // The strip runs on a little past the stop, to show the lines it left.
    app.shownUntil = app.model.StripEnd();
    app.resolution.reset();
    SetLines(IdIo, app.controller.IoLine());
    Show();
}

void StartTest()
{
    if (!app.controller.Loaded() || (app.test && app.test->Running()))
        return;
    app.resolution = std::make_unique<TimerResolution>();
    app.clock = std::make_unique<Clock>();
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string startedAt = FormatWallClock(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                                  now.wSecond, now.wMilliseconds);
    app.test.reset();
    // A new test's list starts empty, however long the last one's was.
    SendMessageA(Item(IdLog), LB_RESETCONTENT, 0, 0);
    app.logShown = 0;
    // The console's preflight first: what is in use, and every warning.
    const std::string parameters = TextOf(IdParams);
    const PortPlan plan = PlanPort(parameters.empty() ? nullptr : parameters.c_str());
    app.test = std::make_unique<KeyWindowTest>(app.options, parameters, app.controller.Target(), *app.clock, app.model,
                                               startedAt, app.host.Preflight(plan));
    if (app.test->Start()) {
        ArmTestTimer(0);
        Show();
        SetFocus(Item(IdStop));
    } else {
        TestEnded();
    }
}

void StopTest()
{
    if (app.test && app.test->Running()) {
        app.test->Stop();
        TestEnded();
    }
}

void TickTest()
{
    if (!app.test)
        return;
    const std::optional<std::uint32_t> next = app.test->Tick();
    if (!next) {
        TestEnded();
        return;
    }
    ArmTestTimer(*next);
    if (GetTickCount() - app.lastPaint >= 40) {
        app.lastPaint = GetTickCount();
        Show();
    }
}

void StartFind()
{
    app.controller.StartFind({app.options.presses, app.options.seconds});
    Show();
    SetTimer(app.window, TimerFind, 10, nullptr);
}

void EndFind(const std::string &stopped)
{
    KillTimer(app.window, TimerFind);
    app.controller.EndFind(stopped, TextOf(IdParams));
    ShowLoaded();
    // The key found, ready for Start: its port and parameters.
    if (!app.controller.FoundParameters().empty()) {
        SetText(IdParams, app.controller.FoundParameters());
        SelectPortOf(app.controller.FoundParameters());
        Lead(false);
        SetFocus(Item(IdStart));
    }
    Show();
}

void TickFind()
{
    const bool over = app.controller.PollFind();
    Show();
    if (over)
        EndFind("");
}

void Save(bool trace)
{
    if (!app.test)
        return;
    char path[MAX_PATH] = {};
    std::snprintf(path, sizeof path, "%s", trace ? "keytest.vcd" : "keytest.csv");
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = app.window;
    dialog.lpstrFilter = trace ? "Trace (*.vcd)\0*.vcd\0All files\0*.*\0" : "Log (*.csv)\0*.csv\0All files\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = trace ? "vcd" : "csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&dialog))
        return;
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    file << (trace ? app.test->Vcd() : app.test->Csv());
    file.close();
    if (!file)
        MessageBoxA(app.window, (std::string("Cannot write ") + path).c_str(), "Save", MB_OK | MB_ICONERROR);
}

COLORREF ColourOf(StripColour colour)
{
    switch (colour) {
    case StripColour::High: return RGB(30, 160, 60);
    case StripColour::Chatter: return RGB(220, 60, 30);
    case StripColour::NoReading: return RGB(190, 190, 190);
    case StripColour::Low: break;
    }
    return RGB(90, 90, 90);
}

void Fill(HDC dc, const RECT &rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

void DrawLampsAndStrip(HDC dc, const RECT &area)
{
    Fill(dc, area, GetSysColor(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, app.font);
    const int lamp = Scale(18);
    for (const ModemLine line : AllLines) {
        const int x = area.left + static_cast<int>(line.Index()) * Scale(KeyWindowLampStep);
        const Lamp state = app.model.LampOf(line);
        HBRUSH brush = CreateSolidBrush(state == Lamp::On    ? RGB(40, 200, 70)
                                        : state == Lamp::Off ? RGB(60, 60, 60)
                                                             : RGB(200, 200, 200));
        HGDIOBJ old = SelectObject(dc, brush);
        Ellipse(dc, x, area.top, x + lamp, area.top + lamp);
        SelectObject(dc, old);
        DeleteObject(brush);
        TextOutA(dc, x + lamp + Scale(4), area.top + Scale(2), line.Name(),
                 static_cast<int>(std::char_traits<char>::length(line.Name())));
    }

    const double now = app.test && app.test->Running() && app.clock ? app.clock->Seconds() : app.shownUntil;
    const int left = area.left + Scale(40), right = area.right;
    const int width = std::max(1, right - left);
    const auto xOf = [&](double seconds) {
        const double from = now - KeyWindowModel::StripSeconds;
        return left + static_cast<int>((seconds - from) / KeyWindowModel::StripSeconds * width);
    };
    const ModemLine rows[] = {ModemLine::Cts, ModemLine::Dtr};
    for (int row = 0; row < 2; ++row) {
        const int top = area.top + Scale(34) + row * Scale(48), height = Scale(30);
        TextOutA(dc, area.left, top + Scale(8), rows[row].Name(), 3);
        Fill(dc, RECT{left, top, right, top + height}, RGB(250, 250, 250));
        for (const StripSegment &segment : app.model.Strip(rows[row], now)) {
            const bool high = segment.colour == StripColour::High || segment.colour == StripColour::Chatter;
            const int y = high || segment.colour == StripColour::NoReading ? top : top + height - Scale(4);
            Fill(dc, RECT{xOf(segment.from), y, std::max(xOf(segment.to), xOf(segment.from) + 1), top + height},
                 ColourOf(segment.colour));
        }
    }
    const int marksTop = area.top + Scale(30), marksBottom = area.top + Scale(34) + Scale(48) + Scale(30);
    const std::vector<PressMark> marks = app.model.Marks(now);
    std::vector<int> xs, widths;
    for (const PressMark &mark : marks) {
        SIZE size{};
        const std::string number = std::to_string(mark.press);
        GetTextExtentPoint32A(dc, number.c_str(), static_cast<int>(number.size()), &size);
        xs.push_back(xOf(mark.seconds) + Scale(3));
        widths.push_back(size.cx + Scale(3));
    }
    // A number drawn only where it covers none before it: chatter comes in
    // bursts of presses a few pixels apart.
    const std::vector<bool> numbered = KeyWindowModel::NumberedMarks(xs, widths);
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const int x = xOf(marks[i].seconds);
        Fill(dc, RECT{x, marksTop, x + std::max(1, Scale(2)), marksBottom},
             marks[i].chatter ? RGB(220, 60, 30) : RGB(30, 90, 220));
        const std::string number = std::to_string(marks[i].press);
        if (numbered[i])
            TextOutA(dc, xs[i], marksBottom - Scale(14), number.c_str(), static_cast<int>(number.size()));
    }
    const char *const axis = "last 10 s";
    TextOutA(dc, left, marksBottom + Scale(4), axis, 9);
}

void Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(app.window, &paint);
    const RECT area = DrawingArea();
    // Drawn off screen first, so that the strip's scrolling doesn't flicker.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, area.right, area.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    DrawLampsAndStrip(memory, area);
    BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory, area.left, area.top,
           SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(app.window, &paint);
}

void Layout()
{
    RECT client;
    GetClientRect(app.window, &client);
    const int w = client.right, h = client.bottom, row = Scale(24), gap = Scale(6);
    const auto place = [](int id, int x, int y, int cx, int cy) { MoveWindow(Item(id), x, y, cx, cy, TRUE); };
    // The port list and the parameters share the first row as the window
    // grows; the parameters keep room for a text such as "COM12;2F8h".
    const int ports = std::max(Scale(260), (w - Scale(52 + 84 + 10)) * 6 / 10);
    place(IdPortLabel, Scale(10), Scale(12), Scale(40), row);
    place(IdPorts, Scale(52), Scale(10), ports, Scale(240));
    place(IdParamsLabel, Scale(62) + ports, Scale(12), Scale(74), row);
    place(IdParams, Scale(138) + ports, Scale(10), std::max(Scale(100), w - Scale(148) - ports), row);
    place(IdIo, Scale(10), Scale(IoTop), w - Scale(20), Scale(IoHeight));
    int x = Scale(10);
    for (int id : {IdFind, IdStart, IdStop, IdSaveLog, IdSaveTrace}) {
        place(id, x, Scale(ButtonsTop), Scale(96), row + Scale(4));
        x += Scale(96) + gap;
    }
    place(IdPresses, x + gap, Scale(ButtonsTop + 4), Scale(90), row);
    place(IdToggled, x + gap + Scale(92), Scale(ButtonsTop + 4), Scale(90), row);
    place(IdStatus, Scale(10), Scale(StatusTop), w - Scale(20), row);
    place(IdLog, Scale(10), Scale(LogTop), w - Scale(20), std::max(row, h - Scale(LogTop + 10)));
}

void MakeFont()
{
    if (app.font)
        DeleteObject(app.font);
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTA font = metrics.lfMessageFont;
    font.lfHeight = -MulDiv(9, static_cast<int>(app.dpi), 72);
    app.font = CreateFontIndirectA(&font);
    for (HWND child = GetWindow(app.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(app.font), TRUE);
}

void Create(HWND window)
{
    app.window = window;
    HDC dc = GetDC(window);
    app.dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSY));
    ReleaseDC(window, dc);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const auto make = [&](const char *kind, const char *text, DWORD style, int id) {
        CreateWindowExA(std::string(kind) == "EDIT" || std::string(kind) == "LISTBOX" ? WS_EX_CLIENTEDGE : 0, kind,
                        text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    };
    // In tab order.
    make("STATIC", "&Port:", SS_LEFT, IdPortLabel);
    make(WC_COMBOBOXA, "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, IdPorts);
    make("STATIC", "P&arameters:", SS_LEFT, IdParamsLabel);
    make("EDIT", app.options.hasParameters ? app.options.parameters.c_str() : "", ES_AUTOHSCROLL | WS_TABSTOP,
         IdParams);
    // Read-only, wrapped, and scrolled where it is longer still: a load's
    // error or the io.dll's advice is read whole, and can be copied.
    make("EDIT", "", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, IdIo);
    make("BUTTON", "&Find the key", BS_PUSHBUTTON | WS_TABSTOP, IdFind);
    make("BUTTON", "&Start", BS_DEFPUSHBUTTON | WS_TABSTOP, IdStart);
    make("BUTTON", "S&top", BS_PUSHBUTTON | WS_TABSTOP, IdStop);
    make("BUTTON", "Save &log...", BS_PUSHBUTTON | WS_TABSTOP, IdSaveLog);
    make("BUTTON", "Save t&race...", BS_PUSHBUTTON | WS_TABSTOP, IdSaveTrace);
    make("STATIC", "", SS_LEFT, IdPresses);
    make("STATIC", "", SS_LEFT, IdToggled);
    make("STATIC", "", SS_LEFT | SS_ENDELLIPSIS, IdStatus);
    make("LISTBOX", "", LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, IdLog);
    MakeFont();
    Layout();

    app.controller.LoadAndList();
    ShowLoaded();
    // A port picked to begin with, unless the command line gave parameters:
    // the one the map carries, else the first free one.
    if (!app.options.hasParameters)
        PickPort(app.controller.FirstPort());
    Show();
    SetFocus(Item(app.leadWithFind ? IdFind : IdPorts));
}

void Command(int id, int code)
{
    switch (id) {
    case IdPorts:
        if (code == CBN_SELCHANGE) {
            const LRESULT index = SendMessageA(Item(IdPorts), CB_GETCURSEL, 0, 0);
            if (index >= 0 && static_cast<std::size_t>(index) < app.controller.Ports().size())
                SetText(IdParams, app.controller.ParametersFor(static_cast<std::size_t>(index)));
        }
        break;
    case IDOK: // Enter: the default button
        if (app.leadWithFind ? app.model.Controls().find : app.model.Controls().start)
            app.leadWithFind ? StartFind() : StartTest();
        break;
    case IdStart:
        if (app.model.Controls().start)
            StartTest();
        break;
    case IdStop:
        if (app.controller.Searching())
            EndFind("Stopped. ");
        else
            StopTest();
        break;
    case IDCANCEL: // Esc: stops a test or a search; with neither running, closes
        if (app.test && app.test->Running())
            StopTest();
        else if (app.controller.Searching())
            EndFind("Stopped. ");
        else
            PostMessageA(app.window, WM_CLOSE, 0, 0);
        break;
    case IdFind:
        if (app.model.Controls().find)
            StartFind();
        break;
    case IdSaveLog: Save(false); break;
    case IdSaveTrace: Save(true); break;
    default: break;
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: Create(window); return 0;
    case WM_SIZE: Layout(); InvalidateRect(window, nullptr, TRUE); return 0;
    case WM_GETMINMAXINFO: { // no smaller than its controls need
        MINMAXINFO *limits = reinterpret_cast<MINMAXINFO *>(lParam);
        limits->ptMinTrackSize = POINT{Scale(660), Scale(480)};
        return 0;
    }
    case WM_COMMAND: Command(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_TIMER:
        if (wParam == TimerTest)
            TickTest();
        else if (wParam == TimerFind && app.controller.Searching())
            TickFind();
        return 0;
    case WM_PAINT: Paint(); return 0;
    case 0x02E0: { // WM_DPICHANGED: the window moved to a screen of another scale
        app.dpi = HIWORD(wParam);
        const RECT *suggested = reinterpret_cast<const RECT *>(lParam);
        MakeFont();
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        // Listening stops, and the searched ports are given back, before the
        // window and the DLLs go.
        StopTest();
        if (app.controller.Searching()) {
            KillTimer(window, TimerFind);
            app.controller.AbandonFind();
        }
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        app.test.reset();
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    const std::string usageError =
        ParseKeyTestOptions(std::vector<std::string>(__argv + 1, __argv + __argc), app.options,
                            [](const std::string &path) { return FolderExists(FullPath(path)); });
    if (!usageError.empty()) {
        MessageBoxA(nullptr, (usageError + "\n\n" + KeyTestUsage).c_str(), "Zelbin key tester", MB_OK | MB_ICONERROR);
        return KeyTestBadCommandLine;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ZELBIN_KEY_WINDOW_CLASS;
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    if (!RegisterClassExA(&windowClass))
        return KeyTestCannotRun;
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Zelbin key tester", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, KeyWindowWidth, KeyWindowHeight, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return KeyTestCannotRun;
    // The first size was given at 96 dots per inch.
    SetWindowPos(window, nullptr, 0, 0, Scale(KeyWindowWidth), Scale(KeyWindowHeight), SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(window, show);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        // Tab, the mnemonics, Enter and Esc, as in a dialog.
        if (IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    app.host.UnloadLibraries();
    return KeyTestOk;
}
