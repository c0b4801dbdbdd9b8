#include "ExStrUtils.h"

TSplitArray Split(const std::string& text, const std::string& delimiter)
{
    TSplitArray items;
    // Walk a cursor through the text instead of deleting each item from the
    // front of a working copy: the results are the same, but a long run of
    // delimiters costs linear rather than quadratic time.
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
