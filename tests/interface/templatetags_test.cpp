// The library's template descriptor and its tag callback. The tests'
// KORRIDAN.INI (made by the build beside the test program, which is the
// library's host program) has an Includes section with FOOTER and EMPTY.
#include "tests/interface/tandrel_support.h"

namespace {

constexpr int32_t kTagI = 1, kTagHField = 2, kTagRealmName = 3;

class TemplateTest : public AttachedFixture {
 protected:
  void SetUp() override {
    AttachedFixture::SetUp();
    info_ = lib().GETTEMPLATE();
    ASSERT_NE(info_, nullptr);
    ASSERT_NE(info_->Callback, nullptr);
    conn_.Cid = 1;
  }
  // The callback's answer for one tag, as the engine would ask for it.
  std::string Tag(int32_t id, const char* parameter, TConnectionInfo* info) {
    char out[300];
    std::memset(out, '#', sizeof out);
    int32_t slot = 0;
    EXPECT_EQ(info_->Callback(out, &slot, parameter, id, info), 0);
    for (std::size_t i = 256; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
    return std::string(out, strnlen(out, 256));
  }
  std::string Tag(int32_t id, const char* parameter) { return Tag(id, parameter, &conn_); }

  TemplateInfo* info_ = nullptr;
  TConnectionInfo conn_{};
};

}  // namespace

TEST_F(TemplateTest, TheDescriptorHoldsThreeTagsRightBehindIt) {
  EXPECT_EQ(lib().GETTEMPLATE(), info_) << "one descriptor for the library's life";
  EXPECT_EQ(info_->TagCount, 3);
  EXPECT_EQ(reinterpret_cast<char*>(info_->Tags), reinterpret_cast<char*>(info_) + sizeof(TemplateInfo));
  const std::pair<int32_t, const char*> expected[] = {{1, "I"}, {2, "HFIELD"}, {3, "REALMNAME"}};
  for (int i = 0; i < 3; ++i) {
    int32_t id = info_->Tags[i].Id;  // a packed field: read by value
    EXPECT_EQ(id, expected[i].first);
    EXPECT_STREQ(info_->Tags[i].Name, expected[i].second);
  }
  // The rest is zero: the input file, the reserved bytes, the spare entries.
  for (char c : info_->InputFile) EXPECT_EQ(c, 0);
  for (uint8_t b : info_->Reserved) EXPECT_EQ(b, 0);
  const unsigned char* spare = reinterpret_cast<const unsigned char*>(&info_->Tags[3]);
  for (std::size_t i = 0; i < 7 * sizeof(TemplateTag); ++i) EXPECT_EQ(spare[i], 0) << i;
}

TEST_F(TemplateTest, IncludeGivesTheValueOfTheUpperCasedKey) {
  EXPECT_EQ(Tag(kTagI, "footer"), "<p>Halvorine footer</p>");
  EXPECT_EQ(Tag(kTagI, "FOOTER"), "<p>Halvorine footer</p>");
}

TEST_F(TemplateTest, IncludeWithoutAKeyOrValueNamesTheBadParameter) {
  EXPECT_EQ(Tag(kTagI, "header"), "<BAD PARAMETER HEADER>");
  EXPECT_EQ(Tag(kTagI, "empty"), "<BAD PARAMETER EMPTY>");
  EXPECT_EQ(Tag(kTagI, nullptr), "<BAD PARAMETER >");
  std::string longest = Tag(kTagI, std::string(300, 'q').c_str());
  EXPECT_EQ(longest.size(), 255u);
  EXPECT_EQ(longest.substr(0, 20), "<BAD PARAMETER QQQQQ");
}

TEST_F(TemplateTest, IncludeNeedsNoConnection) { EXPECT_EQ(Tag(kTagI, "footer", nullptr), "<p>Halvorine footer</p>"); }

TEST_F(TemplateTest, HeaderFieldIsAYesTestOnASubstringInAnyCase) {
  Request(1).HeaderLines->assign({"User-Agent=Mozilla/4.0 (compatible)", "Accept=text/HTML, */*"});
  EXPECT_EQ(Tag(kTagHField, "user-agent mozilla"), "Y");
  EXPECT_EQ(Tag(kTagHField, "USER-AGENT MoZiLLa"), "Y");
  EXPECT_EQ(Tag(kTagHField, "user-agent opera"), "");
  EXPECT_EQ(Tag(kTagHField, "accept html"), "Y");
  EXPECT_EQ(Tag(kTagHField, "referer x"), "") << "the header is absent";
}

TEST_F(TemplateTest, HeaderFieldWithoutAWantedTextIsEmpty) {
  Request(1).HeaderLines->assign({"Accept=text/html"});
  EXPECT_EQ(Tag(kTagHField, "accept"), "");
  EXPECT_EQ(Tag(kTagHField, "accept "), "");
  EXPECT_EQ(Tag(kTagHField, nullptr), "");
}

TEST_F(TemplateTest, HeaderFieldTestsOnlyTheFirstBlank) {
  Request(1).HeaderLines->assign({"Accept=text/html application/xml"});
  EXPECT_EQ(Tag(kTagHField, "accept html application"), "Y");
  EXPECT_EQ(Tag(kTagHField, "accept html xml"), "");
}

TEST_F(TemplateTest, RealmNameGivesTheRequestsRealm) {
  EXPECT_EQ(Tag(kTagRealmName, ""), "Halvorine");
  conn_.Cid = 2;  // a free slot: no connection check, as GetRealmName
  Request(2).Realm = "Other";
  EXPECT_EQ(Tag(kTagRealmName, ""), "Other");
}

TEST_F(TemplateTest, OtherTagIdsAreEmpty) {
  for (int32_t id : {0, 4, -1, 99}) EXPECT_EQ(Tag(id, "footer"), "") << id;
}

TEST_F(TemplateTest, AMissingOrForeignConnectionBlockGivesEmptyAnswers) {
  Request(1).HeaderLines->assign({"Accept=text/html"});
  EXPECT_EQ(Tag(kTagRealmName, "", nullptr), "");
  EXPECT_EQ(Tag(kTagHField, "accept html", nullptr), "");
  for (int32_t cid : {0, -5, 4, 256, 1 << 28}) {
    conn_.Cid = cid;
    EXPECT_EQ(Tag(kTagRealmName, ""), "") << cid;
    EXPECT_EQ(Tag(kTagHField, "accept html"), "") << cid;
  }
  Detach();
  conn_.Cid = 1;
  EXPECT_EQ(Tag(kTagRealmName, ""), "") << "not attached";
}

TEST_F(TemplateTest, NoOutputBufferIsNoCrash) {
  int32_t slot = 0;
  EXPECT_EQ(info_->Callback(nullptr, &slot, "footer", kTagI, &conn_), 0);
}
