// The key tester window's controls, by the ids a program driving the
// window with messages finds them by.
#pragma once

namespace keytest {

enum KeyWindowId : int {
    IdPorts = 101,
    IdParams,
    IdIo,
    IdFind,
    IdStart,
    IdStop,
    IdSaveLog,
    IdSaveTrace,
    IdPresses,
    IdToggled,
    IdStatus,
    IdLog,
    IdPortLabel,
    IdParamsLabel,
};

// The window's class, for FindWindow.
#define ZELBIN_KEY_WINDOW_CLASS "ZelbinKeyTester"

// Where the CTS lamp's middle is in the client area at 96 dots per inch, how
// far apart the six lamps are (CTS, DSR, DCD, RI, RTS, DTR), and the strip's
// rows (CTS, then DTR) from its top to its bottom; scaled by the window's
// DPI over 96.
constexpr int KeyWindowLampX = 19, KeyWindowLampY = 169, KeyWindowLampStep = 70;
constexpr int KeyWindowStripLeft = 50, KeyWindowStripTop = 190, KeyWindowStripBottom = 272;

// The window's size as it opens, at 96 dots per inch.
constexpr int KeyWindowWidth = 800, KeyWindowHeight = 640;

} // namespace keytest
