// The key tester's output: event lines, and on a console one status line
// below them rewritten in place. When the output is not a console (a file,
// a pipe), only the event lines are written.
#pragma once

#include <cstddef>
#include <string>

#include "keytest/KeyTestSession.h"

namespace keytest {

class Screen : public KeyTestOutput {
public:
    Screen();

    void Line(const std::string &text) override;
    void Status(const std::string &text) override;
    // Clears the status line for good, before the closing lines.
    void Finish();

private:
    void Clear();

    bool console_ = false;
    std::string status_;
    std::size_t shownLength_ = 0; // columns the status line occupies now
};

} // namespace keytest
