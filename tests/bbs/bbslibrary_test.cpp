#include "tools/bbslibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tests/bbs/bbs_fixture.h"

namespace {

using bbstest::Differences;
using bbstest::ReadBytes;
using bbstest::SampleBbs;

class BbsBinding : public ::testing::Test {
 protected:
  void SetUp() override { LoadBbsLibrary(QX_PATH); }
  void TearDown() override {
    SetBbsProgressView(nullptr);
    BbsLibraryExit();
  }
  SampleBbs bbs;
};

std::vector<std::string> Texts(const BbsItems& items) {
  std::vector<std::string> texts;
  for (const auto& [text, item] : items) texts.push_back(text);
  return texts;
}

TEST(BbsText, PadRightAndNamingModes) {
  EXPECT_EQ(PadRight("ABC", ' ', 8), "ABC     ");
  EXPECT_EQ(PadRight("ABCDEFGHIJ", ' ', 8), "ABCDEFGHIJ");
  TConfItem item;
  item.Name = "ABC";
  item.Description = "Some text";
  EXPECT_EQ(ConfItemText(item, 0), "ABC      - Some text");
  EXPECT_EQ(ConfItemText(item, 1), "ABC");
  EXPECT_EQ(ConfItemText(item, 2), "Some text");
  item.Name = "ABCDEFGH";
  EXPECT_EQ(ConfItemText(item, 0), "ABCDEFGH - Some text");
}

TEST(BbsText, FieldsAreReadAndWrittenWithinTheirWidth) {
  uint8_t record[20];
  std::memset(record, 'x', sizeof record);
  record[0] = 255;  // a length far beyond the 6-byte field
  EXPECT_EQ(FieldText(record, 6), "xxxxx");
  SetFieldText(record, 6, "abcdefgh");
  EXPECT_EQ(record[0], 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(record) + 1, 5), "abcde");
  EXPECT_EQ(record[6], 'x');
}

TEST(BbsLoad, WithoutTheLibraryEveryCallFailsQuietly) {
  LoadBbsLibrary("NOSUCHQX.DLL");
  EXPECT_FALSE(BbsLibraryPresent());
  EXPECT_EQ(BbsBoundEntries(), 0);
  EXPECT_FALSE(BbsOpen("/tmp"));
  EXPECT_FALSE(BbsLoaded());
  EXPECT_EQ(BbsListCount(kBbsSubboards), 0);
  BbsItems items{{"old", nullptr}};
  BbsFillList(kBbsSubboards, 0, items);
  EXPECT_TRUE(items.empty());
  TBbsListEntry entry;
  TBbsSubboardRecord* sub = reinterpret_cast<TBbsSubboardRecord*>(&entry);
  BbsOpenEntry(kBbsSubboards, 1, entry, &sub, nullptr);
  EXPECT_EQ(sub, nullptr);
  EXPECT_FALSE(BbsAddSubboard("NEW", TBbsSubboardRecord{}, ""));
  EXPECT_EQ(BbsRepair(kBbsSubboards), 0);
  BbsClose();
}

TEST(BbsLoad, ALibraryLackingEntriesAnswersOnlyWithThoseItHas) {
  LoadBbsLibrary(QX_PARTIAL_PATH);
  EXPECT_TRUE(BbsLibraryPresent());
  EXPECT_EQ(BbsBoundEntries(), 2);
  EXPECT_TRUE(BbsOpen("/anywhere"));
  EXPECT_EQ(BbsHandle(), 7);
  EXPECT_EQ(BbsListCount(kBbsSubboards), 2);
  BbsItems items;
  BbsFillList(kBbsSubboards, 0, items);
  EXPECT_TRUE(items.empty());
  TBbsListEntry entry;
  TBbsSubboardRecord* sub = nullptr;
  BbsOpenEntry(kBbsSubboards, 1, entry, &sub, nullptr);
  EXPECT_EQ(sub, nullptr);
  EXPECT_FALSE(BbsAddSubboard("NEW", TBbsSubboardRecord{}, ""));
  EXPECT_EQ(BbsDeleteEntry(kBbsSubboards, "GENERAL"), 0);
  EXPECT_EQ(BbsRepair(kBbsSubboards), 0);
  BbsLibraryExit();
}

TEST_F(BbsBinding, APathThatIsNoBbsGivesNoHandle) {
  EXPECT_EQ(BbsBoundEntries(), 18);
  EXPECT_FALSE(BbsOpen(bbs.dir / "missing"));
  EXPECT_FALSE(BbsOpen(bbs.dir.path()));  // a directory without the marker
  EXPECT_FALSE(BbsLoaded());
  EXPECT_EQ(BbsHandle(), 0);
  EXPECT_EQ(BbsListCount(kBbsDirectories), 0);
  EXPECT_TRUE(BbsOpen(bbs.home + "\\"));  // a trailing separator either way
  EXPECT_TRUE(BbsLoaded());
}

TEST_F(BbsBinding, FillsEachKindInTheBbsOrder) {
  ASSERT_TRUE(BbsOpen(bbs.home));
  BbsItems items;
  BbsFillList(kBbsSubboards, 0, items);
  EXPECT_EQ(Texts(items), (std::vector<std::string>{"GENERAL  - General discussion",
                                                    "ANNOUNCE - Announcements from the sysop",
                                                    "TECHNICAL - Technical help and questions"}));
  EXPECT_EQ(items[2].second->ListNo, 3);
  BbsFillList(kBbsDirectories, 1, items);
  EXPECT_EQ(Texts(items), (std::vector<std::string>{"UPLOADS", "DOCS", "GAMES"}));
  BbsFillList(kBbsDirectories, 2, items);
  EXPECT_EQ(items[0].first, "New uploads");
  BbsFillList(5, 0, items);
  EXPECT_TRUE(items.empty());
  std::filesystem::remove(bbs.Subboards());
  BbsFillList(kBbsSubboards, 0, items);
  EXPECT_TRUE(items.empty());
}

TEST_F(BbsBinding, OverLongStringsAreReadWithinTheirField) {
  auto bytes = ReadBytes(bbs.Subboards());
  bytes[17] = 255;  // name: a 50-byte field
  bytes[67] = 255;  // description: a 93-byte field
  bbstest::WriteBytes(bbs.Subboards(), bytes);
  ASSERT_TRUE(BbsOpen(bbs.home));
  BbsItems items;
  BbsFillList(kBbsSubboards, 1, items);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].second->Name.size(), 49u);
  EXPECT_EQ(items[0].second->Description.size(), 92u);
  EXPECT_EQ(items[0].second->Name.view().substr(0, 7), "GENERAL");
}

TEST_F(BbsBinding, ASavedRecordChangesOnlyTheFieldsWritten) {
  ASSERT_TRUE(BbsOpen(bbs.home));
  auto before = ReadBytes(bbs.Subboards());
  TBbsListEntry entry;
  TBbsSubboardRecord* sub = nullptr;
  TBbsDirectoryHeader* untouched = reinterpret_cast<TBbsDirectoryHeader*>(&entry);
  BbsOpenEntry(kBbsSubboards, 2, entry, &sub, &untouched);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(untouched, reinterpret_cast<TBbsDirectoryHeader*>(&entry));
  EXPECT_EQ(FieldText(entry.Name), "ANNOUNCE");
  EXPECT_EQ(int32_t{sub->MaxMessages}, 200);
  sub->MaxMessages = 0x01020304;
  BbsSaveEntry(kBbsSubboards);
  auto diffs = Differences(before, ReadBytes(bbs.Subboards()));
  const size_t record = bbstest::kSubboardEntry + 160;
  EXPECT_EQ(diffs, (std::vector<size_t>{record + 73, record + 74, record + 75, record + 76}));
}

TEST_F(BbsBinding, AddsDeletesAndRepairsEntries) {
  ASSERT_TRUE(BbsOpen(bbs.home));
  TBbsDirectoryHeader header{};
  SetFieldText(header.Path, "/SRV/NEW/");
  EXPECT_TRUE(BbsAddDirectory("NEWLIB", header, ""));
  EXPECT_FALSE(BbsAddDirectory("newlib", header, ""));  // names are unique whatever their case
  EXPECT_FALSE(BbsAddDirectory("", header, ""));
  EXPECT_EQ(BbsListCount(kBbsDirectories), 4);
  EXPECT_EQ(BbsListCount(kBbsSubboards), 3);

  struct View : BbsProgressView {
    std::vector<std::string> seen;
    void Begin(int maximum) override { seen.push_back("begin " + std::to_string(maximum)); }
    void Step(int percent, const std::string& status) override {
      seen.push_back(std::to_string(percent) + " " + status);
    }
    void End() override { seen.push_back("end"); }
  } view;
  SetBbsProgressView(&view);
  TBbsListEntry entry;
  TBbsDirectoryHeader* dir = nullptr;
  BbsOpenEntry(kBbsDirectories, 4, entry, nullptr, &dir);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(FieldText(dir->Path), "/SRV/NEW/");
  EXPECT_EQ(BbsRepair(kBbsDirectories) & 0xFF, 1);
  EXPECT_EQ(view.seen, (std::vector<std::string>{"begin 100", "0 Checking NEWLIB...", "50 Rebuilding NEWLIB...",
                                                 "100 NEWLIB repaired.", "end"}));
  std::ofstream(bbs.home + "/NEWLIB.BSY") << "";
  view.seen.clear();
  EXPECT_EQ(BbsRepair(kBbsDirectories) & 0xFF, 0);
  EXPECT_EQ(view.seen, (std::vector<std::string>{"begin 100", "end"}));

  BbsDeleteEntry(kBbsDirectories, "NEWLIB");
  EXPECT_EQ(BbsListCount(kBbsDirectories), 3);
  EXPECT_EQ(BbsRepair(kBbsDirectories) & 0xFF, 0);  // the deleted entry was closed
}

TEST_F(BbsBinding, AnEntryGoneUnderTheListGivesNoRecord) {
  ASSERT_TRUE(BbsOpen(bbs.home));
  BbsItems items;
  BbsFillList(kBbsDirectories, 0, items);
  std::filesystem::resize_file(bbs.Directories(), bbstest::kDirectoryEntry);  // another program deleted two
  TBbsListEntry entry;
  TBbsDirectoryHeader* dir = nullptr;
  BbsOpenEntry(kBbsDirectories, 3, entry, nullptr, &dir);
  EXPECT_EQ(dir, nullptr);
  EXPECT_EQ(FieldText(entry.Name), "");
}

}  // namespace
