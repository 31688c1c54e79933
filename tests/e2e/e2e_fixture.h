// One launcher run under test: a temporary directory and a working folder of the test's own, the
// demo application's report file, and helpers that drive the run to its box or its child.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "tests/e2e/e2e_files.h"
#include "tests/e2e/e2e_process.h"

// The launchers under test, built beside the driver around their payloads.
constexpr wchar_t kDemoLauncher[] = L"launcher.exe";                   // the product: demo payload
constexpr wchar_t kAppLauncher[] = L"launcher_app.exe";                // demo + readme, fixed times
constexpr wchar_t kNoMainLauncher[] = L"launcher_nomain.exe";          // no zandro.exe
constexpr wchar_t kNotProgramLauncher[] = L"launcher_notprogram.exe";  // zandro.exe is text
constexpr wchar_t kSubFolderLauncher[] = L"launcher_subfolders.exe";
constexpr wchar_t kEscapingLauncher[] = L"launcher_escaping.exe";
constexpr wchar_t kNamesLauncher[] = L"launcher_names.exe";    // names in Chinese and with accents
constexpr wchar_t kHolderLauncher[] = L"launcher_holder.exe";  // no window; holds data.bin open
constexpr wchar_t kBigLauncher[] = L"launcher_big.exe";        // demo, 32 MiB and 300 small files
constexpr wchar_t kNamedLauncher[] = L"launcher_named.exe";    // demo as Zorvex.exe, own texts

// The packer beside them, and how long a packing may take.
constexpr wchar_t kPacker[] = L"launcher-pack.exe";
constexpr DWORD kPackTimeoutMs = 60000;

using Report = std::map<std::string, std::wstring>;

class LauncherRun : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the launcher until it shows a message box, reads and closes the box, and checks that
    // the launcher then ends with exit code 0. With `image`, the box is saved there as a BMP
    // file first and the path shown in the test's output.
    BoxContents RunUntilBox(const std::wstring& launcher, const std::wstring& arguments = L"",
                            const std::wstring& image = L"");

    // Runs the launcher, checks that it ends with exit code 0 without a box, and returns the
    // report of the application it started.
    Report RunUntilReport(const std::wstring& launcher, const std::wstring& arguments = L"");

    // Runs launcher-pack.exe (beside the driver) with the arguments from the launcher's current
    // directory; its exit status.
    DWORD Pack(const std::wstring& arguments);

    std::wstring root_;        // everything the test touches, below the driver's folder
    std::wstring tempPath_;    // the temporary directory as GetTempPathW gives it ("\" at the end)
    std::wstring folderText_;  // the extraction folder as the launcher forms it ("\\VORNIX")
    std::wstring folder_;      // the same folder with a single separator
    std::wstring workDir_;     // the launcher's current directory
    std::wstring report_;      // where the application writes its report
    std::wstring path_;        // the Path the launcher inherits
    // The demo's command line from a launcher built here: its path in quotes, since the paths
    // hold blanks, then one empty argument.
    std::wstring commandLine_;
};
