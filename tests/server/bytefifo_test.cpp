#include "server/bytefifo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Fifo : public ::testing::Test {
 protected:
  // The socket unit made the scratch FIFO at start-up.
  void SetUp() override {
    ASSERT_NE(ScratchFifo, nullptr);
    FifoCreate(f);
  }
  void TearDown() override { FifoFree(f); }
  void Put(const std::string& s) { ASSERT_TRUE(FifoAppend(f, s)); }
  std::string Queued() const {
    return std::string(reinterpret_cast<const char*>(f->Data + f->Start - 1), static_cast<size_t>(f->Count));
  }
  TByteFifo* f = nullptr;
};

TEST_F(Fifo, CreatedEmptyAndCreateKeepsAnExistingOne) {
  EXPECT_EQ(f->Count, 0);
  EXPECT_EQ(f->Start, 1);
  TByteFifo* before = f;
  Put("x");
  FifoCreate(f);
  EXPECT_EQ(f, before);
  EXPECT_EQ(f->Count, 1);
  EXPECT_EQ(FifoCapacity(), 32767);
}

TEST_F(Fifo, TakesLinesWithTheirEndingsRemoved) {
  ShortString line;
  Put("abc\r\nabc\n\r\n");
  ASSERT_TRUE(FifoTakeLine(f, line));
  EXPECT_EQ(line.str(), "abc");
  ASSERT_TRUE(FifoTakeLine(f, line));
  EXPECT_EQ(line.str(), "abc");
  ASSERT_TRUE(FifoTakeLine(f, line));
  EXPECT_EQ(line.str(), "");
  EXPECT_EQ(f->Count, 0);
}

TEST_F(Fifo, CrAfterLfStaysForTheNextLine) {
  ShortString line;
  Put("abc\n\r");
  ASSERT_TRUE(FifoTakeLine(f, line));
  EXPECT_EQ(line.str(), "abc");
  EXPECT_EQ(Queued(), "\r");
}

TEST_F(Fifo, NoLineQueuedLeavesTheFifoAlone) {
  ShortString line;
  line = "old";
  Put("partial");
  int32_t start = f->Start, count = f->Count;
  EXPECT_FALSE(FifoTakeLine(f, line));
  EXPECT_TRUE(line.empty());
  EXPECT_EQ(f->Start, start);
  EXPECT_EQ(f->Count, count);
  TByteFifo* none = nullptr;
  EXPECT_FALSE(FifoTakeLine(none, line));
}

TEST_F(Fifo, OverlongLineIsCutNotSplit) {
  ShortString line;
  bool cut = false;
  Put(std::string(300, 'a') + "\nnext\n");
  ASSERT_TRUE(FifoTakeLine(f, line, 255, &cut));
  EXPECT_EQ(line.size(), 255u);
  EXPECT_TRUE(cut);
  ASSERT_TRUE(FifoTakeLine(f, line, 255, &cut));
  EXPECT_EQ(line.str(), "next");
  EXPECT_FALSE(cut);
}

TEST_F(Fifo, LineOfExactly255KeepsAllAndDropsItsCrLf) {
  ShortString line;
  bool cut = true;
  Put(std::string(255, 'b') + "\r\n");
  ASSERT_TRUE(FifoTakeLine(f, line, 255, &cut));
  EXPECT_EQ(line.size(), 255u);
  EXPECT_FALSE(cut);
  EXPECT_EQ(f->Count, 0);
}

TEST_F(Fifo, AppendRefusesWhatDoesNotFitBehindTheQueue) {
  // 9 bytes free behind the queue, Start below 16384: no compaction.
  f->Start = 100;
  f->Count = kFifoCapacity - 9 - 99;
  EXPECT_FALSE(FifoAppend(f, "0123456789"));
  EXPECT_EQ(f->Count, kFifoCapacity - 9 - 99);
  EXPECT_EQ(f->Start, 100);
  EXPECT_TRUE(FifoAppend(f, "012345678"));
  EXPECT_EQ(FifoEndIndex(f), kFifoCapacity);
}

TEST_F(Fifo, AppendCompactsOnceStartReachesHalfTheCapacity) {
  f->Start = 16384;
  f->Count = 10;
  std::memcpy(f->Data + 16383, "0123456789", 10);
  ASSERT_TRUE(FifoAppend(f, "ab"));
  EXPECT_EQ(f->Start, 1);
  EXPECT_EQ(Queued(), "0123456789ab");
  // Just below the mark nothing moves.
  f->Start = 16383;
  f->Count = 0;
  ASSERT_TRUE(FifoAppend(f, "z"));
  EXPECT_EQ(f->Start, 16383);
}

TEST_F(Fifo, AppendLineAddsCrLfAndRefusesATextThatWouldLoseIt) {
  ASSERT_TRUE(FifoAppendLine(f, "Server: x"));
  EXPECT_EQ(Queued(), "Server: x\r\n");
  EXPECT_TRUE(FifoAppendLine(f, std::string(253, 'c')));
  EXPECT_FALSE(FifoAppendLine(f, std::string(254, 'c')));
  EXPECT_EQ(f->Count, 11 + 255);
}

TEST_F(Fifo, FindByteAndResetAndAppendFifo) {
  EXPECT_EQ(FifoFindByte(f, 'x'), 0);
  Put("hello\n");
  f->Start += 1;
  f->Count -= 1;
  EXPECT_EQ(FifoFindByte(f, '\n'), 5);
  EXPECT_EQ(FifoFindByte(f, 'h'), 0);
  FifoReset(nullptr);
  TByteFifo* src = nullptr;
  FifoCreate(src);
  std::memcpy(src->Data, "more", 4);
  src->Count = 4;
  FifoAppendFifo(f, src);
  EXPECT_EQ(Queued(), "ello\nmore");
  FifoFree(src);
  FifoReset(f);
  EXPECT_EQ(f->Count, 0);
  EXPECT_EQ(f->Start, 1);
}

}  // namespace
