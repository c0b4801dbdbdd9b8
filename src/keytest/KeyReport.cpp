#include "keytest/KeyReport.h"

#include <cstdio>

namespace keytest {

namespace {

const char *OnOff(bool on) { return on ? "on " : "off"; }

std::string Printf(const char *format, double a, double b = 0, double c = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

std::string Ms(double ms) { return Printf("%.1f ms", ms); }

} // namespace

std::string FormatEvent(const KeyEvent &event, const std::string &state)
{
    std::string line = Printf("[%9.3f s] ", event.seconds);
    if (event.kind == KeyEvent::Kind::DriverLost)
        return line + "driver lost: IsDriverInstalled -> 0, no press can be seen until it answers again" +
               (state.empty() ? "" : " (" + state + ")");
    if (event.kind == KeyEvent::Kind::DriverBack)
        return line + "driver back: IsDriverInstalled -> 1";
    if (event.kind == KeyEvent::Kind::Release)
        return line + "release " + std::to_string(event.press) + ": held " + Ms(event.heldMs);
    line += "press " + std::to_string(event.press) + ": " + state;
    if (event.chatter)
        line += event.gapMs >= 0 ? "  CHATTER: " + Ms(event.gapMs) + " after the release"
                                 : "  CHATTER: released and pressed again within one poll";
    return line;
}

std::string FormatStatusLine(const LineLevels &lines, std::uint32_t presses, const std::string &state)
{
    std::string line;
    for (const ModemLine each : AllLines)
        line += std::string(each == AllLines[0] ? "" : each == ModemLine::Rts ? " | " : " ") + each.Name() + " " +
                OnOff(lines[each]);
    return line + " | presses " + std::to_string(presses) + ", " + state;
}

std::vector<std::string> FormatSummary(const KeyAnalysis &analysis, const PollTiming &timing, std::uint32_t intervalMs)
{
    std::vector<std::string> lines;
    lines.push_back("Summary: " + std::to_string(analysis.Presses()) + " press" +
                    (analysis.Presses() == 1 ? "" : "es") + ", " + std::to_string(analysis.Releases()) + " release" +
                    (analysis.Releases() == 1 ? "" : "s"));
    lines.push_back("  shortest press  " +
                    (analysis.ShortestPressMs() >= 0 ? Ms(analysis.ShortestPressMs()) : "- (no release seen)"));
    lines.push_back("  shortest gap    " + (analysis.ShortestGapMs() >= 0
                                                ? Ms(analysis.ShortestGapMs()) + " from a release to the next press"
                                                : "- (no press after a release)"));
    const std::string within = Printf("%.0f ms", analysis.ChatterMs());
    lines.push_back("  chatter         " +
                    (analysis.Chatter() == 0
                         ? "none (no press came within " + within + " of a release)"
                         : std::to_string(analysis.Chatter()) + " press" + (analysis.Chatter() == 1 ? "" : "es") +
                               " within " + within + " of a release: the key bounces"));
    if (timing.Intervals() == 0)
        lines.push_back("  poll interval   - (fewer than two polls)");
    else
        lines.push_back(Printf("  poll interval   min %.1f ms, median %.1f ms, max %.1f ms", timing.MinMs(),
                               timing.MedianMs(), timing.MaxMs()) +
                        " over " + std::to_string(timing.Intervals()) + " interval" +
                        (timing.Intervals() == 1 ? "" : "s") + " (asked: " +
                        std::to_string(intervalMs) + " ms)");
    return lines;
}

std::vector<std::string> LineHints(const KeyAnalysis &analysis, DtrHold dtr, bool simulated)
{
    std::vector<std::string> hints;
    if (!analysis.Polled())
        return hints;
    if (!analysis.Changed(ModemLine::Cts)) {
        if (analysis.FirstLevel(ModemLine::Cts))
            hints.push_back("CTS stayed on the whole test: the key is held closed, or the line is stuck on "
                            "(a short to RTS or DTR?). Open the key and watch CTS go off.");
        else if (simulated)
            hints.push_back("CTS stayed off the whole test: nothing pressed the stand-in's simulated key (the "
                            "virtual key, zelbin-virtualkey, presses it).");
        else
            hints.push_back("CTS stayed off the whole test: nothing closed the key line. Check the port and base "
                            "address above, that the driver answers, and the wiring: the key must close CTS "
                            "(RTS is on while listening and can supply it).");
    }
    if (!analysis.Changed(ModemLine::Rts) && !analysis.FirstLevel(ModemLine::Rts))
        hints.push_back("RTS stayed off the whole test: the library is not driving this UART (no driver, a "
                        "refused base, or a base that isn't this port's UART).");
    if (!analysis.Changed(ModemLine::Dtr)) {
        const bool level = analysis.FirstLevel(ModemLine::Dtr);
        if (dtr == DtrHold::None && analysis.Presses() > 0)
            hints.push_back(std::string("DTR stayed ") + (level ? "on" : "off") +
                            " although the presses toggled it: the output line doesn't follow the library.");
        else if (dtr != DtrHold::None && level != (dtr == DtrHold::On))
            hints.push_back(std::string("DTR stayed ") + (level ? "on" : "off") + " although --dtr held it " +
                            (dtr == DtrHold::On ? "on" : "off") + ": the output line doesn't follow the library.");
    }
    return hints;
}

} // namespace keytest
