// The key tester's files and folders: full paths, names, what exists, and
// what lies beside the program.
#pragma once

#include <string>

namespace portsetup {

std::string FullPath(const std::string &path);
std::string FileName(const std::string &path);
// The folder part of a path, with its last separator ("C:\\app\\"); empty
// for a bare name.
std::string FolderOf(const std::string &path);
// The running program's full path, and a file beside it.
std::string ThisProgram();
std::string BesideThisProgram(const char *name);
bool FileExists(const std::string &path);
bool FolderExists(const std::string &path);
// Where the comm-port io.dll of this program's edition lies in the release
// zip: "io.dll in the release's x86\ folder" (or x64\).
std::string CommIoInRelease();

} // namespace portsetup
