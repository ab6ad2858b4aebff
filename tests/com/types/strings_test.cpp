#include "com/strings.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <string>

namespace {

// Runs a check under a given locale, as the user's environment would select it.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) {
    if (const char* old = std::getenv("LC_ALL")) old_ = old, had_ = true;
    setenv("LC_ALL", name, 1);
  }
  ~LocaleScope() {
    if (had_)
      setenv("LC_ALL", old_.c_str(), 1);
    else
      unsetenv("LC_ALL");
  }

 private:
  std::string old_;
  bool had_ = false;
};

bool LocaleAvailable(const char* name) {
  locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
  if (l) freelocale(l);
  return l != static_cast<locale_t>(0);
}

}  // namespace

TEST(Strings, Utf8AndUtf16RoundTrip) {
  std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  std::u16string wide = com::Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(com::Utf16ToUtf8(wide), text);
}

TEST(Strings, MalformedInputIsReplacedNotDropped) {
  EXPECT_EQ(com::Utf8ToUtf16("a\xFF"
                             "b"),
            u"a\uFFFDb");
  EXPECT_EQ(com::Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD");  // overlong zero
  EXPECT_EQ(com::Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(com::Utf16ToUtf8(lone), "x\xEF\xBF\xBDy");
}

TEST(Strings, CodePageLacksCharacterGivesDefaultCharacter) {
  if (!LocaleAvailable("en_US.ISO-8859-1")) GTEST_SKIP() << "locale en_US.ISO-8859-1 missing";
  LocaleScope latin1("en_US.ISO-8859-1");
  EXPECT_EQ(GetACP(), 28591u);
  const char16_t path[] = u"/tmp/caf\u00E9\u20AC.tif";
  BOOL usedDefault = FALSE;
  int need = WideCharToMultiByte(CP_ACP, 0, path, -1, nullptr, 0, nullptr, &usedDefault);
  std::string out(static_cast<size_t>(need), '\0');
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, path, -1, out.data(), need, nullptr, &usedDefault),
            need);
  EXPECT_EQ(out, std::string("/tmp/caf\xE9?.tif", 14) + '\0');
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(com::FromCodePage("caf\xE9"), u"caf\u00E9");
}

TEST(Strings, MultiByteCodePageNeverTruncates) {
  if (!LocaleAvailable("en_US.UTF-8") && !LocaleAvailable("C.UTF-8")) GTEST_SKIP();
  LocaleScope utf8(LocaleAvailable("en_US.UTF-8") ? "en_US.UTF-8" : "C.UTF-8");
  EXPECT_EQ(GetACP(), CP_UTF8);
  // Three bytes for each of these characters: more than two bytes per character.
  std::u16string wide = u"\u20AC\u20AC\u20AC";
  int need = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  EXPECT_EQ(need, 9);
  char small[8];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide.data(), 3, small, sizeof small, nullptr, nullptr),
            0);  // refuses rather than cutting
  EXPECT_EQ(com::ToCodePage(wide), "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC");
}

TEST(Strings, MultiByteToWideSizes) {
  const char* text = "abc";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 4);
  WCHAR out[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 4), 4);
  EXPECT_EQ(std::u16string_view(out), u"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 3), 0);
}
