// What the launcher executables carry: each its own payload under type "zip", id 117, the
// manifest, the icon and the version record.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/e2e/e2e_files.h"
#include "tests/e2e/e2e_process.h"

namespace {

class LauncherImage : public ::testing::Test {
  protected:
    void Open(const std::wstring& name) {
        path_ = DriverFolder() + name;
        module_ = LoadLibraryExW(path_.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    // The resource's bytes, empty when it is missing.
    std::string Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) return "";
        HGLOBAL loaded = LoadResource(module_, found);
        const char* bytes = static_cast<const char*>(LockResource(loaded));
        return bytes == nullptr ? "" : std::string(bytes, SizeofResource(module_, found));
    }

    std::wstring path_;
    HMODULE module_ = nullptr;
};

TEST_F(LauncherImage, EachLauncherCarriesItsOwnPayload) {
    for (const wchar_t* name :
         {L"launcher", L"launcher_app", L"launcher_nomain", L"launcher_notprogram",
          L"launcher_subfolders", L"launcher_escaping", L"launcher_names"}) {
        SCOPED_TRACE(testing::Message() << name);
        Open(std::wstring(name) + L".exe");
        const std::string payload = ReadFileBytes(DriverFolder() + L"payloads\\" + name + L".zip");
        ASSERT_FALSE(payload.empty());
        // The type is a string, looked up as the launcher looks it up.
        EXPECT_TRUE(Resource(L"zip", MAKEINTRESOURCEW(117)) == payload);
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

TEST_F(LauncherImage, ManifestAsksForAdministratorAndCommonControls6) {
    Open(L"launcher.exe");
    const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    for (const char* part : {"level=\"requireAdministrator\"", "uiAccess=\"false\"",
                             "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

TEST_F(LauncherImage, IconAndVersionRecord) {
    Open(L"launcher.exe");
    EXPECT_FALSE(Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1)).empty());
    EXPECT_NE(LoadImageW(module_, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0), nullptr);

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
    ASSERT_NE(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    wchar_t* product = nullptr;
    UINT productSize = 0;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\StringFileInfo\\080404b0\\ProductName",
                               reinterpret_cast<void**>(&product), &productSize));
    EXPECT_STREQ(product, L"Kelmora");
}

}  // namespace
