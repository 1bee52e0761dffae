#include <gtest/gtest.h>

#include "cond/app_string.h"
#include "cond/cond_seams.h"
#include "vartree/tvar.h"

namespace {

class AppStringTest : public ::testing::Test {
 protected:
  CtVar root_;
  CAppString strings_{&root_, nullptr, nullptr};

  std::wstring Expand(const wchar_t* tmpl) {
    std::wstring out;
    EXPECT_EQ(strings_.ProcessStr(tmpl, out), 1);
    return out;
  }
};

TEST_F(AppStringTest, ExpandsReferences) {
  CtVar& app = root_["AppVar"];
  app["Half"] = 2.5;
  app["Three"] = 3.0;
  app["Name"] = "cam";
  app["Total"] = 12.345;
  app["Branch.Leaf"] = 1.0;
  app["Empty"] = static_cast<const char*>(nullptr);  // a text variable without text
  const uint8_t blob[] = {'a', 'b', 0, 'c'};
  app["Blob"].SetData(blob, sizeof blob);
  struct Param : XCondParams {
    double GetParam(const char* name, int) override { return std::string(name) == "Gain" ? 4 : 0; }
  } param;
  XCondParams::Set(&param);
  struct Case {
    const wchar_t* tmpl;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"line[13][10]", L"line\r\n"},
      {L"[Half%.1f]", L"2.5"},
      {L"[Half]", L"2.500000"},
      {L"[Three]", L"3"},
      {L"[Three%s]", L"3"},
      {L"[Name%5d]", L"cam"},
      {L"[Total%8.2f]", L"   12.35"},
      {L"[Half%x]", L"2"},
      {L"[Half%q]", L""},
      {L"[P.Gain]", L"4.000000"},
      {L"[P.Gain%.0f] x", L"4 x"},
      {L"a [Branch] b", L"a  b"},
      {L"[Missing] tail", L" tail"},
      {L"keep [Half", L"keep [Half"},
      {L"[Half] and [Three", L"2.500000 and [Three"},
      {L"no refs", L"no refs"},
      {L"[Empty]", L"[Empty]"},
      {L"<[Blob]>", L"<ab>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.tmpl), c.expected) << c.tmpl;
  XCondParams::Set(nullptr);
  EXPECT_EQ(Expand(L"[P.Gain]"), L"0.000000");
}

TEST_F(AppStringTest, StoresAndNeutralisesTemplates) {
  ASSERT_NE(strings_.AddString("Report", "n=[Count%3d] [Other]", 0), nullptr);
  strings_.AddString("Second", "[Count]", 0);
  EXPECT_EQ(strings_.GetNumStrings(), 2);
  std::string content;
  EXPECT_EQ(strings_.GetString("report", &content), 1);
  EXPECT_EQ(content, "n=[Count%3d] [Other]");

  strings_.NullVarRefInString("Count", nullptr);
  strings_.GetString("Report", &content);
  EXPECT_EQ(content, "n=?Count%3d? [Other]");
  strings_.GetString("Second", &content);
  EXPECT_EQ(content, "?Count?");

  CtVar* first = strings_.GetNextString(nullptr, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(std::string(first->NameView()), "Report");
  EXPECT_EQ(strings_.GetNextString(strings_.GetNextString(first, 0), 0), nullptr);
  strings_.ResetSolution();
  EXPECT_EQ(strings_.GetNumStrings(), 0);
  EXPECT_EQ(strings_.GetString("Report", &content), 1);
  EXPECT_EQ(content, "");
}

TEST(CStringToAsciiTest, HonoursBufferSize) {
  char buffer[64];
  EXPECT_EQ(CStringToAscii(L"abcd", buffer, 4), nullptr);
  EXPECT_STREQ(CStringToAscii(L"abcd", buffer, 5), "abcd");
  EXPECT_STREQ(CStringToAscii(L"\u00e9t\u00e9", buffer, 0), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(CStringToAscii(L"\u00e9\u00e9", buffer, 3), nullptr);
}

}  // namespace
