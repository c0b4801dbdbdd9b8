// Files the tools write for a technician to open on Windows (the port map,
// the log, the trace) end their lines so, whatever wrote them: Notepad of
// older Windows shows a file with LF alone as one long line.
#pragma once

namespace portsetup {

constexpr char WindowsLineEnd[] = "\r\n";

} // namespace portsetup
