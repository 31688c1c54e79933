// A fresh folder per test, removed afterwards, and the file reads and writes the suites share.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A new empty folder under the system's temporary directory; removed with all it holds,
// read-only files included. Links inside it are removed, never followed.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }
    // The folder as the product's functions take it.
    std::u16string text() const { return path_.u16string(); }

  private:
    fs::path path_;
};

// Makes `folder` (created when missing) the current directory for its lifetime.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const fs::path& folder);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    fs::path previous_;
};

void WriteFileBytes(const fs::path& path, const std::string& content);
// The whole file, or "" when it cannot be opened.
std::string ReadFileBytes(const fs::path& path);
