#include "library/ExStrUtils.h"

namespace library {

TSplitArray Split(const std::string &text, const std::string &delimiter)
{
    TSplitArray items;
    // One pass: each search starts just after the previous delimiter, so the
    // text is read once and a long run of delimiters costs linear time.
    std::string::size_type from = 0;
    if (!delimiter.empty()) {
        for (auto at = text.find(delimiter, from); at != std::string::npos;
             at = text.find(delimiter, from)) {
            items.emplace_back(text, from, at - from);
            from = at + delimiter.size();
        }
    }
    if (from < text.size())
        items.emplace_back(text, from, std::string::npos);
    return items;
}

} // namespace library
