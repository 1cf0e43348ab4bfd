// Added header lines and the kill-sent and direct-return flags.
#include <atomic>
#include <thread>
#include <vector>

#include "platform/msgbox.h"
#include "tests/interface/tandrel_support.h"

namespace {

class AddedLinesTest : public AttachedFixture {
 protected:
  std::vector<std::string> Lines(int32_t cid) {
    std::vector<std::string> out;
    int32_t n = -1;
    EXPECT_EQ(lib().GetAddedLinesCnt(&n, cid), 0);
    for (int32_t i = 0; i < n; ++i) {
      char buf[512];
      EXPECT_EQ(lib().GetAddedLine(buf, i, cid), 0);
      out.emplace_back(buf);
    }
    return out;
  }
};

using AddedLinesBeforeLoadTest = EngineFixture;

}  // namespace

TEST_F(AddedLinesBeforeLoadTest, NothingIsStoredOrGiven) {
  MakeSlots(2);
  Connect(1);
  EXPECT_EQ(lib().AddHeaderLine("X-Early: 1", 1), 1);
  int32_t n = 5;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 1);
  EXPECT_EQ(n, 0);
  char buf[512] = "x";
  EXPECT_EQ(lib().GetAddedLine(buf, 0, 1), 1);
  EXPECT_STREQ(buf, "");
  Attach();
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 0);
  EXPECT_EQ(n, 0);
}

TEST_F(AddedLinesTest, LinesComeBackInOrderWithDuplicatesUntilCleared) {
  ASSERT_EQ(lib().AddHeaderLine("Set-Cookie: a=1", 1), 0);
  ASSERT_EQ(lib().AddHeaderLine("Location: /x", 1), 0);
  ASSERT_EQ(lib().AddHeaderLine("Set-Cookie: a=1", 1), 0);
  ASSERT_EQ(lib().AddHeaderLine("no colon at all", 1), 0);
  EXPECT_EQ(Lines(1), (std::vector<std::string>{"Set-Cookie: a=1", "Location: /x", "Set-Cookie: a=1",
                                                "no colon at all"}));
  EXPECT_EQ(lib().ClearHeaderLines(1), 0);
  EXPECT_TRUE(Lines(1).empty());
}

TEST_F(AddedLinesTest, EachSlotHasItsOwnList) {
  Connect(3);
  ASSERT_EQ(lib().AddHeaderLine("X-One: 1", 1), 0);
  ASSERT_EQ(lib().AddHeaderLine("X-Three: 3", 3), 0);
  EXPECT_EQ(Lines(1), std::vector<std::string>{"X-One: 1"});
  EXPECT_EQ(Lines(3), std::vector<std::string>{"X-Three: 3"});
}

TEST_F(AddedLinesTest, AMissingLineStoresNothing) {
  EXPECT_EQ(lib().AddHeaderLine(nullptr, 1), 0);
  EXPECT_TRUE(Lines(1).empty());
}

TEST_F(AddedLinesTest, ASlotWithoutAClientStoresNothing) {
  EXPECT_EQ(lib().AddHeaderLine("X-Late: 1", 2), 2);
  int32_t n = 5;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 2), 2);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(lib().ClearHeaderLines(2), 2);
  Connect(2);
  EXPECT_TRUE(Lines(2).empty());
}

TEST_F(AddedLinesTest, ALongLineIsKeptTo511CharactersAndFitsTheServersBuffer) {
  std::string line = "Set-Cookie: " + std::string(988, 'c');
  ASSERT_EQ(lib().AddHeaderLine(line.c_str(), 1), 0);
  char buf[600];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(lib().GetAddedLine(buf, 0, 1), 0);
  EXPECT_EQ(std::strlen(buf), 511u);
  EXPECT_EQ(std::string(buf), line.substr(0, 511));
  for (std::size_t i = 512; i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#') << "byte " << i;
}

TEST_F(AddedLinesTest, ALineOfExactly511IsKeptWhole) {
  std::string line(511, 'z');
  ASSERT_EQ(lib().AddHeaderLine(line.c_str(), 1), 0);
  EXPECT_EQ(Lines(1), std::vector<std::string>{line});
}

TEST_F(AddedLinesTest, AnIndexOutOfRangeGivesEmptyAndOne) {
  ASSERT_EQ(lib().AddHeaderLine("X-A: 1", 1), 0);
  char buf[512];
  for (int32_t index : {-1, 1, 1000}) {
    std::strcpy(buf, "x");
    EXPECT_EQ(lib().GetAddedLine(buf, index, 1), 1) << index;
    EXPECT_STREQ(buf, "") << index;
  }
  std::strcpy(buf, "x");
  EXPECT_EQ(lib().GetAddedLine(buf, 0, 2), 2);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(lib().GetAddedLine(nullptr, 0, 1), 0);
}

TEST_F(AddedLinesTest, AFailedCountShowsThreeBoxesAndGivesThree) {
  // Slot 5 exists now but did not when the library attached: it has no list.
  engine_->Connections[4] = new TSock(engine_.get(), 4, "/tmp/");
  engine_->Connections[5] = new TSock(engine_.get(), 5, "/tmp/");
  engine_->MaxSockets = 5;
  Connect(5);
  platform::MessageBoxScript script;
  int32_t n = 9;
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 5), 3);
  EXPECT_EQ(n, 0);
  std::vector<platform::MessageBoxRequest> shown = script.Shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].text, "GetAddedLinesCnt");
  EXPECT_EQ(shown[1].text, "CID:5");
  EXPECT_EQ(shown[2].text, "AddedLines:0");
  for (const auto& box : shown) EXPECT_EQ(box.buttons, platform::MsgButtons::Ok);

  // The other exports of the slot store and give nothing, and show no box.
  EXPECT_EQ(lib().AddHeaderLine("X-A: 1", 5), 1);
  EXPECT_EQ(lib().ClearHeaderLines(5), 1);
  char buf[512] = "x";
  EXPECT_EQ(lib().GetAddedLine(buf, 0, 5), 1);
  EXPECT_STREQ(buf, "");
  // A slot without a client is not counted, so nothing fails there.
  EXPECT_EQ(lib().GetAddedLinesCnt(&n, 4), 2);
  EXPECT_EQ(script.Shown().size(), 3u);
}

TEST_F(AddedLinesTest, KillSentActsOnConnectedAndFreeSlots) {
  EXPECT_EQ(lib().KillSent(1), 0);
  EXPECT_TRUE(Slot(1)->KillSent);
  EXPECT_EQ(lib().KillSent(2), 2);
  EXPECT_TRUE(Slot(2)->KillSent) << "a slot whose client is gone gets the flag all the same";
  EXPECT_EQ(lib().KillSent(4), 1);
  EXPECT_EQ(lib().KillSent(0), 1);
  EXPECT_FALSE(Slot(3)->KillSent);
}

TEST_F(AddedLinesTest, DirectReturnOnlyOnAConnectedSlot) {
  EXPECT_EQ(lib().DirectReturn(2), 2);
  EXPECT_EQ(engine_->Replies[2].DirectReturn, 0);
  EXPECT_EQ(lib().DirectReturn(1), 0);
  EXPECT_EQ(engine_->Replies[1].DirectReturn, 1);
  EXPECT_EQ(lib().DirectReturn(256), 1);
}

// An extension adds lines from its own thread while the server reads and
// clears them on its own.
TEST_F(AddedLinesTest, LinesAddedFromAnotherThreadWhileTheServerReadsThem) {
  constexpr int kLines = 2000;
  std::atomic<bool> done{false};
  std::thread extension([&] {
    for (int i = 0; i < kLines; ++i)
      EXPECT_EQ(lib().AddHeaderLine(("X-N: " + std::to_string(i)).c_str(), 1), 0);
    done.store(true);
  });
  int taken = 0;
  while (!done.load()) {
    int32_t n = 0;
    EXPECT_EQ(lib().GetAddedLinesCnt(&n, 1), 0);
    char buf[512];
    for (int32_t i = 0; i < n; ++i) {
      if (lib().GetAddedLine(buf, i, 1) == 0) {
        EXPECT_EQ(std::strncmp(buf, "X-N: ", 5), 0);
      }
    }
    taken += n;
    if (n) lib().ClearHeaderLines(1);
    std::this_thread::yield();
  }
  extension.join();
  int32_t rest = 0;
  ASSERT_EQ(lib().GetAddedLinesCnt(&rest, 1), 0);
  // Lines added between a count and the clear are cleared unread, so only an
  // upper bound holds.
  EXPECT_LE(taken + rest, kLines);
}
