// Reading option values from a command line, shared by the tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Walks the arguments. An option's value is the next argument, unless there
// is none or it is itself an option ("--..."): `--dll --io x` must not take
// "--io" as a path.
class ArgCursor {
public:
    explicit ArgCursor(const std::vector<std::string> &args) : args_(args) {}

    bool Done() const { return next_ >= args_.size(); }
    const std::string &Next() { return args_[next_++]; }
    // The value of the option just read, or false when there is none.
    bool Value(std::string &value);

private:
    const std::vector<std::string> &args_;
    std::size_t next_ = 0;
};

bool IsOption(const std::string &arg);

// Whole decimal numbers from `low` to `high`, digits only.
bool ParseUnsigned(const std::string &text, std::uint32_t low, std::uint32_t high, std::uint32_t &value);

// A positive, finite decimal number of seconds up to 1e6 ("0.25", "30").
bool ParseSeconds(const std::string &text, double &value);
