// A folder of a test's own for io-ports.txt and its companions (.bak, .new),
// made before each test and removed after it, with whole-file reads and
// writes and the list of what the folder holds.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

class MapFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/zelbin-map-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
        path_ = folder_ + "/io-ports.txt";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    static std::string Read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const std::string &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static bool Exists(const std::string &path) { return std::filesystem::exists(path); }
    // The names in the folder, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string folder_, path_;
};

} // namespace testsupport
