// Entry names in UTF-16: the strict UTF-8 decoding, names flagged as UTF-8, the Unicode path
// extra field, and names that cannot be converted whole, which fail their own entry only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/utf8.h"
#include "tests/support/zip_builder.h"
#include "zip/entry_info.h"
#include "zip/zip_archive.h"

namespace {

constexpr char16_t kRefused[] = u"<refused>";

// The strict conversion of `bytes` into a buffer of `units` units, or kRefused.
std::u16string Strict(const std::string& bytes, size_t units = kZipNameUnits) {
    std::vector<char16_t> out(units, u'?');
    const bool ok = Utf8ToUtf16Strict(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                      out.data(), units);
    if (!ok) {
        EXPECT_EQ(out[0], 0) << "a refused text leaves the buffer empty";
        return kRefused;
    }
    return out.data();
}

std::string Repeat(const std::string& part, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += part;
    return out;
}

// A Unicode path extra block: version, the CRC-32 of the stored name, the UTF-8 name.
std::string UnicodePath(const std::string& storedName, const std::string& utf8,
                        uint8_t version = 1) {
    return Le16(0x7075) + Le16(static_cast<uint16_t>(5 + utf8.size())) +
           std::string(1, static_cast<char>(version)) + Le32(Crc32(storedName)) + utf8;
}

TestEntry Utf8Entry(const std::string& name, const std::string& data = "x") {
    TestEntry e = MakeEntry(name, data);
    e.flags = 0x0800;
    return e;
}

TEST(StrictUtf8, DecodesEveryLengthUpToItsBoundaries) {
    EXPECT_EQ(Strict(""), u"");
    EXPECT_EQ(Strict("dir/caf\xC3\xA9.txt"), u"dir/caf\u00E9.txt");
    EXPECT_EQ(Strict("\xE8\xAF\xB4\xE6\x98\x8E"), u"\u8BF4\u660E");
    EXPECT_EQ(Strict("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(Strict("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"),
              u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF");
    EXPECT_EQ(Strict("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"), u"\U00010000\U0010FFFF");
}

TEST(StrictUtf8, RefusesEveryMalformedForm) {
    const char* const malformed[] = {
        "\xC0\xAF",
        "\xC1\xBF",
        "\xE0\x80\xAF",
        "\xE0\x9F\xBF",
        "\xF0\x80\x80\xAF",  // overlong
        "\xF0\x8F\xBF\xBF",  // overlong
        "\xED\xA0\x80",
        "\xED\xBF\xBF",
        "\xED\xA0\xBD\xED\xB8\x80",  // surrogates, also paired
        "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80",
        "\xF8\x88\x80\x80\x80",  // above U+10FFFF
        "\xFE",
        "\xFF",  // no sequence's lead
        "\xC3",
        "\xE8\xAF",
        "\xF0\x9F\x98",  // truncated
        "\x80",
        "\xBF",  // stray continuation
        "\xE8"
        "a"
        "\xB4",  // interrupted
    };
    for (const char* bytes : malformed) {
        SCOPED_TRACE(testing::PrintToString(std::string(bytes)));
        EXPECT_EQ(Strict(bytes), kRefused);
        EXPECT_EQ(Strict(std::string("ok/") + bytes + ".txt"), kRefused);
    }
}

TEST(StrictUtf8, FitsWholeOrNotAtAll) {
    EXPECT_EQ(Strict(std::string(258, 'a'), 259), std::u16string(258, u'a'));
    EXPECT_EQ(Strict(std::string(259, 'a'), 259), kRefused);
    // A pair needs both of its units inside the buffer.
    EXPECT_EQ(Strict(std::string(256, 'a') + "\xF0\x9F\x98\x80", 259).size(), 258u);
    EXPECT_EQ(Strict(std::string(257, 'a') + "\xF0\x9F\x98\x80", 259), kRefused);
}

TEST(LenientUtf8, MalformedBytesBecomeReplacementsNeverOtherCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xC0\xAF"
                          "b"),
              u"a\uFFFD\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xE8\xAF"
                          "c"),
              u"\uFFFD\uFFFDc");
    EXPECT_EQ(Utf8ToUtf16("caf\xC3\xA9 \xF0\x9F\x98\x80"), u"caf\u00E9 \U0001F600");
}

TEST(Utf16ToUtf8, EncodesEveryLengthAndMarksUnpairedSurrogates) {
    EXPECT_EQ(Utf16ToUtf8(u"a\u00E9\u6570\U0001F600"), "a\xC3\xA9\xE6\x95\xB0\xF0\x9F\x98\x80");
    const char16_t unpaired[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    EXPECT_EQ(Utf16ToUtf8(unpaired), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    // As the POSIX calls take paths: every backslash a slash, nothing else changed.
    EXPECT_EQ(Utf16ToUtf8(u"a\\\u6570/b\\", true), "a/\xE6\x95\xB0/b/");
    EXPECT_EQ(Utf16ToUtf8(u"a\\b"), "a\\b");
}

TEST(UnicodePathField, CountsOnlyWithVersionOneAndTheStoredNamesCrc) {
    const std::string stored = "cafe.txt";
    auto find = [&stored](const std::string& field) -> std::string {
        // The field in a buffer of exactly its size, so that a read past it shows under ASan.
        std::vector<uint8_t> bytes(field.begin(), field.end());
        const uint8_t* name = nullptr;
        uint32_t length = 0;
        if (!FindUnicodePath(bytes.data(), static_cast<uint32_t>(bytes.size()),
                             reinterpret_cast<const uint8_t*>(stored.data()),
                             static_cast<uint32_t>(stored.size()), &name, &length)) {
            return "<none>";
        }
        return std::string(reinterpret_cast<const char*>(name), length);
    };
    const std::string good = UnicodePath(stored, "caf\xC3\xA9.txt");
    EXPECT_EQ(find(good), "caf\xC3\xA9.txt");
    EXPECT_EQ(
        find(ExtendedTimestamp(1, {5}) + Le16(0x000A) + Le16(300) + std::string(300, 'n') + good),
        "caf\xC3\xA9.txt");
    EXPECT_EQ(find(UnicodePath(stored, "")), "");
    EXPECT_EQ(find(UnicodePath("renamed.txt", "caf\xC3\xA9.txt")), "<none>");
    EXPECT_EQ(find(UnicodePath(stored, "caf\xC3\xA9.txt", 2)), "<none>");
    EXPECT_EQ(find(Le16(0x7075) + Le16(4) + "\x01" + Le32(Crc32(stored)).substr(0, 3)), "<none>");
    EXPECT_EQ(find(good.substr(0, good.size() - 1)), "<none>");  // runs past the field
    EXPECT_EQ(find(Le16(0x1234) + Le16(0xFFFF) + good), "<none>");
    EXPECT_EQ(find(""), "<none>");
    EXPECT_EQ(find("up\x01"), "<none>");
}

// ---- Through the archive handle ----

struct Names : ::testing::Test {
    void Open(std::vector<TestEntry> entries) {
        TestArchive a;
        a.entries = std::move(entries);
        bytes = BuildZip(a);
        handle = OpenZipFromMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(CloseZipArchive(handle), ZipOk);
        }
    }
    // The name of entry `index`, or the result when it has none.
    std::u16string Name(int32_t index) {
        ZipEntryInfo info{};
        info.index = -7;
        const ZipResult result = GetZipEntry(handle, index, &info);
        EXPECT_EQ(result, LastZipResult);
        if (result == ZipOk) return info.name;
        EXPECT_EQ(info.index, -7) << "the caller's record is left as it was";
        const std::string text = "<result " + std::to_string(result) + ">";
        return std::u16string(text.begin(), text.end());
    }
    std::string StoredName(int32_t index) {
        NarrowEntryInfo narrow{};
        EXPECT_EQ(GetZipEntryNarrow(handle->state, index, &narrow), ZipOk);
        return narrow.name;
    }

    Bytes bytes;
    ZipArchive* handle = nullptr;
};

constexpr char16_t kBadName[] = u"<result 4096>";  // ZipBadName

TEST_F(Names, FlaggedNamesAreUtf8AndTheNarrowRecordKeepsTheStoredBytes) {
    Open({Utf8Entry("caf\xC3\xA9.dll"), Utf8Entry("\xE6\x95\xB0\xE6\x8D\xAE/"),
          Utf8Entry("\xE6\x95\xB0\xE6\x8D\xAE/\xE8\xAF\xB4\xE6\x98\x8E.txt"), Utf8Entry("plain")});
    EXPECT_EQ(Name(0), u"caf\u00E9.dll");
    EXPECT_EQ(Name(1), u"\u6570\u636E/");
    EXPECT_EQ(Name(2), u"\u6570\u636E/\u8BF4\u660E.txt");
    EXPECT_EQ(Name(3), u"plain");
    EXPECT_EQ(StoredName(0), "caf\xC3\xA9.dll");
}

TEST_F(Names, AMatchingUnicodePathInTheCentralExtraFieldNamesTheEntry) {
    const std::string utf8 = "caf\xC3\xA9.dll";
    TestEntry transliterated = MakeEntry("cafe.dll", "x");
    transliterated.centralExtra = ExtendedTimestamp(1, {5}) + UnicodePath("cafe.dll", utf8);
    TestEntry oem = MakeEntry("caf\x82.dll", "x");  // code page 437, as DOS archivers store it
    oem.centralExtra = UnicodePath("caf\x82.dll", utf8);
    TestEntry renamed = MakeEntry("renamed.dll", "x");  // the block still names the old entry
    renamed.centralExtra = UnicodePath("cafe.dll", utf8);
    TestEntry localOnly = MakeEntry("local.dll", "x");
    localOnly.localExtra = UnicodePath("local.dll", utf8);
    TestEntry flagged = Utf8Entry("flagged\xC3\xA9.dll");  // the flag wins over the block
    flagged.centralExtra = UnicodePath("flagged\xC3\xA9.dll", utf8);
    TestEntry invalid = MakeEntry("invalid.dll", "x");
    invalid.centralExtra = UnicodePath("invalid.dll", "caf\xC0\xAF.dll");
    Open({transliterated, oem, renamed, localOnly, flagged, invalid, MakeEntry("after", "x")});

    EXPECT_EQ(Name(0), u"caf\u00E9.dll");
    EXPECT_EQ(Name(1), u"caf\u00E9.dll");
    EXPECT_EQ(Name(2), u"renamed.dll");
    EXPECT_EQ(Name(3), u"local.dll");
    EXPECT_EQ(Name(4), u"flagged\u00E9.dll");
    EXPECT_EQ(Name(5), kBadName);
    EXPECT_EQ(Name(6), u"after");
    EXPECT_EQ(StoredName(1), "caf\x82.dll");
}

TEST_F(Names, ANameThatCannotBeConvertedFailsItsOwnEntryOnly) {
    Open({Utf8Entry("\xC0\xAF"
                    "evil.dll"),
          MakeEntry("first.txt", "x"), Utf8Entry("sub/\xE8\xAF"),
          MakeEntry(std::string("a\0b.txt", 7), "x"), Utf8Entry(std::string("c\0d", 3)),
          MakeEntry("last.txt", "x")});
    EXPECT_EQ(Name(0), kBadName);
    EXPECT_EQ(Name(1), u"first.txt");
    EXPECT_EQ(Name(2), kBadName);
    EXPECT_EQ(Name(3), kBadName);
    EXPECT_EQ(Name(4), kBadName);
    EXPECT_EQ(Name(5), u"last.txt");
    EXPECT_EQ(Name(6), u"<result 65536>");  // ZipBadArgument: past the last entry
    // Asked again, from the cache and after a restarted walk: the same answers.
    EXPECT_EQ(Name(4), kBadName);
    EXPECT_EQ(Name(0), kBadName);
    EXPECT_EQ(StoredName(3), "a");
}

TEST_F(Names, LongNamesCountByTheirConvertedUnits) {
    const std::string ni = "\xE4\xBD\xA0";
    Open({Utf8Entry(Repeat(ni, 100)), Utf8Entry(Repeat("\xC3\xA9", 258)),
          Utf8Entry(Repeat("\xC3\xA9", 259)), Utf8Entry(std::string(258, 'a') + ni)});
    EXPECT_EQ(Name(0), std::u16string(100, u'\u4F60'));  // 300 bytes, 100 units
    EXPECT_EQ(StoredName(0), Repeat(ni, 100).substr(0, 259));
    EXPECT_EQ(Name(1), std::u16string(258, u'\u00E9'));
    EXPECT_EQ(Name(2), kBadName);
    EXPECT_EQ(Name(3), kBadName);
}

}  // namespace
