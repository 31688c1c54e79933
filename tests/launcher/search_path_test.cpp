#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include "launcher/launcher.h"
#include "platform/platform.h"

namespace {

std::optional<std::u16string> SearchPath() {
    const uint32_t size = PlatformGetEnvironmentVariable(kSearchPathVariable, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<char16_t> value(size + 1, u'\0');
    PlatformGetEnvironmentVariable(kSearchPathVariable, value.data(), size + 1);
    return std::u16string(value.data());
}

void SetSearchPath(const std::optional<std::u16string>& value) {
    if (value) {
        ASSERT_TRUE(PlatformSetEnvironmentVariable(kSearchPathVariable, value->c_str()));
        return;
    }
#ifdef _WIN32
    SetEnvironmentVariableW(L"Path", nullptr);
#else
    unsetenv("LD_LIBRARY_PATH");
#endif
}

class PrependToPathTest : public testing::Test {
  protected:
    const std::u16string sep = kSearchPathSeparator;
    std::optional<std::u16string> saved = SearchPath();
    void TearDown() override { SetSearchPath(saved); }
};

}  // namespace

TEST_F(PrependToPathTest, PutsTheFolderAndOneSeparatorInFront) {
    SetSearchPath(u"A" + sep + u"B");
    EXPECT_TRUE(PrependToPath(u"F"));
    EXPECT_EQ(SearchPath(), u"F" + sep + u"A" + sep + u"B");
}

TEST_F(PrependToPathTest, AddsTheFolderAgainWhenAlreadyListedAndTrimsNothing) {
    SetSearchPath(u"F" + sep + u"A" + sep);
    EXPECT_TRUE(PrependToPath(u"F"));
    EXPECT_EQ(SearchPath(), u"F" + sep + u"F" + sep + u"A" + sep);
}

TEST_F(PrependToPathTest, EmptyFolderTextGivesALoneSeparatorInFront) {
    SetSearchPath(u"A");
    EXPECT_TRUE(PrependToPath(u""));
    EXPECT_EQ(SearchPath(), sep + u"A");
}

TEST_F(PrependToPathTest, LongValuesAreCarriedWhole) {
    const std::u16string old(20000, u'p');
    const std::u16string folder(300, u'f');
    SetSearchPath(old);
    EXPECT_TRUE(PrependToPath(folder));
    EXPECT_EQ(SearchPath(), folder + sep + old);
}

TEST_F(PrependToPathTest, MissingOrEmptyValue) {
    for (const std::optional<std::u16string>& start :
         {std::optional<std::u16string>(), std::optional<std::u16string>(u"")}) {
        SetSearchPath(start);
        const std::optional<std::u16string> before = SearchPath();
        if (kSearchPathMayStartEmpty) {
            // An empty entry would make the loader search the current directory.
            EXPECT_TRUE(PrependToPath(u"F"));
            EXPECT_EQ(SearchPath(), u"F");
        } else {
            EXPECT_FALSE(PrependToPath(u"F"));
            EXPECT_EQ(SearchPath(), before);
        }
    }
}
