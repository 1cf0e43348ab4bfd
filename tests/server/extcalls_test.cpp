#include "server/extcalls.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "server/bytefifo.h"
#include "server/eventcounters.h"
#include "tests/platform/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::CurrentDirGuard;

constexpr char kDropped[] = "Completion dropped: no call on this slot waits for it";
using platform::testing::ReadText;
using platform::testing::ScratchDir;
using platform::testing::WriteText;

// An engine with two connected slots whose records the calls read, in a
// scratch directory that is both the current and the temporary directory.
class ExtCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    http.TempDir = dir.path() + "/";
    http.MaxSockets = 2;
    for (int i = 1; i <= 2; ++i) {
      TSock* c = new TSock(&http, i, http.TempDir.view());
      c->Connected = true;
      c->Info.Cid = i;
      FifoCreate(c->InputFifo);
      http.Connections[i] = c;
      InitSlotRecord(http.Requests[i], &http, i);
      http.Requests[i].ContentLength = kContentLengthAbsent;
    }
    calls.ProcessConnection = [this](int32_t s) { processed.push_back(s); };
    calls.Disconnect = [this](int32_t s) { disconnected.push_back(s); };
    http.ExtensionRowProc = [this](int32_t e) { rows.push_back(e); };
    http.HttpLogProc = [this](int32_t, int32_t, std::string_view text) { log.emplace_back(text); };
    http.OtherMessage = [this](const platform::MSG& m) {
      if (m.message == WM_EXTENSION_DONE) calls.OnExtensionDone(m);
    };
    setenv("POSTLOG_FILE", (dir / "post.txt").c_str(), 1);
    ResetEventCounters();
  }
  void TearDown() override {
    unsetenv("POSTLOG_FILE");
    cache.UnloadAll();
  }
  void Install(const std::string& name) {
    std::string from = platform::ProgramDirectory() + name;
    ASSERT_TRUE(platform::FileExists(from)) << from << " is not built";
    fs::copy_file(from, dir / name, fs::copy_options::overwrite_existing);
  }
  void Ask(int slot, const std::string& request, uint8_t method = rmGet) {
    http.Requests[slot].Request = request;
    http.Requests[slot].Method = method;
    http.Replies[slot].FileName = calls.ExtensionOutputName(slot);
  }
  void Feed(int slot, const std::string& bytes) { ASSERT_TRUE(FifoAppend(http.Connections[slot]->InputFifo, bytes)); }
  TSock& Sock(int slot) { return *http.Connections[slot]; }
  std::string PostRecord() { return ReadText(dir / "post.txt"); }
  void Awaiting(int slot, int32_t entry, const std::string& name = "UNLOADME.DLL") {
    http.ExtensionName[slot] = name;
    Sock(slot).AwaitingCompletion = true;
    calls.SetAwaiting(slot, ckExtension);
    http.ExtensionSlot[slot] = entry;
    Sock(slot).MarkBusy();
  }
  platform::MSG Done(platform::WPARAM slot, platform::LPARAM result) {
    platform::MSG m;
    m.hwnd = http.Handle();
    m.message = WM_EXTENSION_DONE;
    m.wParam = slot;
    m.lParam = result;
    return m;
  }

  CurrentDirGuard keep_dir;
  ScratchDir dir;
  THTTP http;
  TExtensionCache cache;
  TExtensionCalls calls{http, cache};
  std::vector<int32_t> processed, disconnected, rows;
  std::vector<std::string> log;
};

TEST(ExtCallsResults, ZeroIsNotFoundOneIsOkOthersAreStatusCodes) {
  EXPECT_EQ(ExtensionResultStatus(0), 404);
  EXPECT_EQ(ExtensionResultStatus(1), 200);
  EXPECT_EQ(ExtensionResultStatus(302), 302);
  EXPECT_EQ(ExtensionResultStatus(-7), -7);
}

TEST_F(ExtCalls, OutputNameIsTheSlotsDllFileInTheTemporaryDirectory) {
  EXPECT_EQ(calls.ExtensionOutputName(7), dir.path() + "/DLL7.HTM");
}

TEST_F(ExtCalls, APageCallWritesItsPageAndAnUnloadRequestIsHonoured) {
  Install("UNLOADME.DLL");
  Ask(1, "$unloadme.dll?x=1");
  Sock(1).Info.CallContext = 1;
  EXPECT_EQ(calls.CallExtensionPage(1, 5, true), 200);
  EXPECT_EQ(http.ExtensionName[1].str(), "unloadme.DLL");
  EXPECT_NE(ReadText(calls.ExtensionOutputName(1)).find("Calls since load: 1"), std::string::npos);
  EXPECT_EQ(Sock(1).Info.CallContext, 0);
  EXPECT_EQ(Sock(1).Info.UnloadAfterCall, 1);
  EXPECT_EQ(cache.Find("UNLOADME.DLL"), 0) << "unloaded after the call";
  EXPECT_EQ(Sock(1).FileName.str(), http.Replies[1].FileName.str());
  EXPECT_EQ(http.Requests[1].Request.str(), "$unloadme.dll?x=1");
  EXPECT_FALSE(Sock(1).Busy);
  EXPECT_FALSE(Sock(1).AwaitingCompletion);
  EXPECT_FALSE(rows.empty());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Calling unloadme.DLL - $unloadme.dll?x=1");
}

TEST_F(ExtCalls, TheSlotsOldOutputIsDeletedBeforeTheCall) {
  Install("UNLOADME.DLL");
  WriteText(calls.ExtensionOutputName(1), "a page of the previous client");
  Ask(1, "$UNLOADME.DLL");
  // The library writes where the buffer points; the slot's own file must be
  // gone whatever it does.
  http.Replies[1].FileName = dir / "other.htm";
  EXPECT_EQ(calls.CallExtensionPage(1, 5, true), 200);
  EXPECT_FALSE(platform::FileExists(calls.ExtensionOutputName(1)));
  EXPECT_TRUE(platform::FileExists(dir / "other.htm"));
  EXPECT_EQ(http.Replies[1].FileName.str(), dir / "other.htm");
}

TEST_F(ExtCalls, MissingOrNonPlainLibrariesAreNotFound) {
  Install("UNLOADME.DLL");
  fs::create_directories(dir / "sub");
  fs::copy_file(dir / "UNLOADME.DLL", dir / "sub/X.DLL");
  fs::copy_file(dir / "UNLOADME.DLL", dir / "VERYLONGNAME.DLL");
  for (const char* request : {"$NOPE.DLL", "$sub/X.DLL", "$TEST?a=1", "$VERYLONGNAME.DLL", "$/etc/passwd", "$"}) {
    Ask(1, request);
    EXPECT_EQ(calls.CallExtensionPage(1, 5, true), 404) << request;
  }
  for (int i = 1; i <= kExtensionCacheSize; ++i) EXPECT_EQ(cache.Entry(i).Handle, nullptr);
}

TEST_F(ExtCalls, ALibraryWithoutMakePageIsNotFoundAndReleasesItsUse) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL");
  EXPECT_EQ(calls.CallExtensionPage(1, 5, true), 404);
  int32_t e = cache.Find("POSTLOG.DLL");
  ASSERT_NE(e, 0);
  EXPECT_EQ(cache.Entry(e).InUse, 0);
  EXPECT_EQ(cache.Entry(e).Hits, 1);
  EXPECT_FALSE(Sock(1).Busy);
}

TEST_F(ExtCalls, ABodyWithContentLengthCompletesAtThatCountInBatches) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  http.Requests[1].ContentLength = 10;
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  EXPECT_EQ(http.PostInProgress[1], 1);
  EXPECT_EQ(EventCount(evBeginPost), 1);
  bool done = true;
  Feed(1, "ab\ncd");  // a line end inside a counted body does not end it
  calls.CallPostResume(1, done);
  EXPECT_FALSE(done);
  EXPECT_EQ(http.Requests[1].BodyReceived, 5);
  EXPECT_EQ(Sock(1).InputFifo->Count, 0);
  Feed(1, "efghi\r\nXYZ");  // bytes beyond the length are no body
  calls.CallPostResume(1, done);
  EXPECT_TRUE(done);
  EXPECT_EQ(http.Requests[1].BodyReceived, 10);
  EXPECT_EQ(calls.CallPostEnd(1), 200);
  EXPECT_EQ(EventCount(evEndPost), 1);
  EXPECT_EQ(http.PostInProgress[1], 0);
  EXPECT_EQ(PostRecord(),
            "POSTBEGIN 1\nPOSTRESUME 1 5\nPOSTRESUME 1 5\nPOSTEND 1 bytes=10 batches=2 closed=0 context=0\n");
  EXPECT_NE(ReadText(calls.ExtensionOutputName(1)).find("<pre>ab\ncdefghi</pre>"), std::string::npos);
  int32_t e = cache.Find("POSTLOG.DLL");
  EXPECT_EQ(cache.Entry(e).InUse, 0) << "the POST's use is released at its end";
  EXPECT_FALSE(Sock(1).Busy);
  EXPECT_NE(std::find(log.begin(), log.end(), "Content: [5:10:10]"), log.end());
}

TEST_F(ExtCalls, WithoutContentLengthTheFirstLineEndCompletesTheBody) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  bool done = false;
  Feed(1, "a=1&b=2\r\n");
  calls.CallPostResume(1, done);
  EXPECT_TRUE(done);
  EXPECT_EQ(calls.CallPostEnd(1), 200);
  EXPECT_NE(PostRecord().find("POSTRESUME 1 7\n"), std::string::npos) << PostRecord();
  EXPECT_NE(std::find(log.begin(), log.end(), "Content: [7:9:0]"), log.end());
}

TEST_F(ExtCalls, AMultipartBodyKeepsItsLineEndsAndWaits) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  http.Requests[1].Multipart = 1;
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  bool done = true;
  Feed(1, "--x\r\n");
  calls.CallPostResume(1, done);
  EXPECT_FALSE(done);
  EXPECT_NE(PostRecord().find("POSTRESUME 1 5\n"), std::string::npos);
}

TEST_F(ExtCalls, AnEmptyCountedBodyIsCompleteAtOnce) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  http.Requests[1].ContentLength = 0;
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  bool done = false;
  calls.CallPostResume(1, done);
  EXPECT_TRUE(done);
  EXPECT_EQ(PostRecord().find("POSTRESUME"), std::string::npos) << "no call without bytes";
}

TEST_F(ExtCalls, TheLargestLengthIsCountedLikeAnyOther) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  http.Requests[1].ContentLength = 2147483647;
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  bool done = true;
  Feed(1, "a\nb");  // no line-feed rule for a counted body
  calls.CallPostResume(1, done);
  EXPECT_FALSE(done);
  http.Requests[1].BodyReceived = 2147483645;
  Feed(1, "abcdef");
  calls.CallPostResume(1, done);
  EXPECT_TRUE(done);
  EXPECT_EQ(http.Requests[1].BodyReceived, 2147483647);
  EXPECT_NE(PostRecord().find("POSTRESUME 1 2\n"), std::string::npos);
}

TEST_F(ExtCalls, AClientClosingDuringThePostGetsPostEndWithTheClosedFlag) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL", rmPost);
  http.Requests[1].ContentLength = 100;
  ASSERT_TRUE(calls.CallPostBegin(1, 5, true));
  bool done = false;
  Feed(1, "partial");
  calls.CallPostResume(1, done);
  EXPECT_FALSE(done);
  EXPECT_TRUE(calls.PostEndOnDisconnect(1));
  EXPECT_EQ(Sock(1).Info.Closed, 1);
  EXPECT_EQ(Sock(1).Info.CallContext, 1);
  EXPECT_NE(PostRecord().find("POSTEND 1 bytes=7 batches=1 closed=1 context=1\n"), std::string::npos)
      << PostRecord();
  EXPECT_EQ(http.PostInProgress[1], 0);
  EXPECT_FALSE(calls.PostEndOnDisconnect(1)) << "POSTEND is owed once";
  EXPECT_EQ(cache.Entry(cache.Find("POSTLOG.DLL")).InUse, 0);
}

TEST_F(ExtCalls, ARefusedPostStillOwesItsPostEnd) {
  Install("POSTLOG.DLL");
  Ask(1, "$POSTLOG.DLL?refuse", rmPost);
  EXPECT_FALSE(calls.CallPostBegin(1, 5, true));
  EXPECT_EQ(http.PostInProgress[1], 1);
  EXPECT_TRUE(calls.PostEndOnDisconnect(1));
  EXPECT_NE(PostRecord().find("POSTEND 1"), std::string::npos);
  EXPECT_EQ(cache.Entry(cache.Find("POSTLOG.DLL")).InUse, 0);
}

TEST_F(ExtCalls, PostCallsWithoutTheirEntryPointsReleaseTheUse) {
  Install("UNLOADME.DLL");  // MAKEPAGE only
  Ask(1, "$UNLOADME.DLL", rmPost);
  EXPECT_FALSE(calls.CallPostBegin(1, 5, true));
  EXPECT_EQ(http.PostInProgress[1], 0);
  int32_t e = cache.Find("UNLOADME.DLL");
  EXPECT_EQ(cache.Entry(e).InUse, 0);
  // POSTEND when no POST is in progress: nothing happens.
  EXPECT_EQ(calls.CallPostEnd(1), 404);
  bool done = true;
  calls.CallPostResume(1, done);
  EXPECT_FALSE(done);
}

TEST_F(ExtCalls, CompletionsForSlotsThatDoNotAwaitOneAreIgnored) {
  Install("UNLOADME.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  Awaiting(1, e);
  http.Replies[1].Status = 0;
  calls.OnExtensionDone(Done(0, 1));
  calls.OnExtensionDone(Done(3, 1));    // beyond MaxSockets
  calls.OnExtensionDone(Done(300, 1));  // beyond any slot
  calls.OnExtensionDone(Done(2, 1));    // a slot that waits for nothing
  calls.SetAwaiting(1, ckEngine);
  calls.OnExtensionDone(Done(1, 1));  // slot 1 waits for the page engine
  EXPECT_TRUE(processed.empty());
  EXPECT_EQ(EventCount(evThreadsFinished), 0);
  EXPECT_EQ(cache.Entry(e).InUse, 1);
  EXPECT_EQ(http.Replies[1].Status, 0);
  EXPECT_TRUE(Sock(1).AwaitingCompletion);
  EXPECT_EQ(std::count(log.begin(), log.end(), kDropped), 5) << "one line for each";
}

// A "$RUN" call that answered 2 holds its slot and its use until its
// completion, which no call waits for; also when the completion comes
// before the library has returned on the page engine's thread.
TEST_F(ExtCalls, ALateRunCallHoldsItsSlotUntilItsCompletionWhichIsDropped) {
  Install("UNLOADME.DLL");
  const std::string page = dir / "RUN1-1.HTM";
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  ASSERT_TRUE(calls.BeginRunCall(1));
  EXPECT_FALSE(calls.EndRunCall(1, 2, "UNLOADME.DLL", page)) << "the use is kept";
  EXPECT_TRUE(http.LateCallOutstanding[1]);
  EXPECT_FALSE(calls.BeginRunCall(1)) << "no second call on the slot";
  WriteText(page, "nobody's");
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_FALSE(http.LateCallOutstanding[1]);
  EXPECT_EQ(cache.Entry(e).InUse, 0);
  EXPECT_FALSE(platform::FileExists(page));
  EXPECT_TRUE(processed.empty());
  EXPECT_EQ(log, std::vector<std::string>{kDropped});
  ASSERT_TRUE(calls.BeginRunCall(1));
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_TRUE(calls.EndRunCall(1, 2, "UNLOADME.DLL", page)) << "the use goes at once";
  EXPECT_FALSE(http.LateCallOutstanding[1]);
  EXPECT_TRUE(calls.BeginRunCall(1));
}

TEST_F(ExtCalls, ACompletionEndsTheWaitOnce) {
  Install("UNLOADME.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  Awaiting(1, e);
  http.ConnState[1] = csWaiting;
  WriteText(calls.ExtensionOutputName(1), "<p>done</p>");
  http.Replies[1].FileName = calls.ExtensionOutputName(1);
  calls.FillCallBuffers(1);
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_EQ(http.Replies[1].Status, 200);
  EXPECT_EQ(http.ConnState[1], csServe);
  EXPECT_FALSE(Sock(1).AwaitingCompletion);
  EXPECT_FALSE(Sock(1).Busy);
  EXPECT_EQ(cache.Entry(e).InUse, 0);
  EXPECT_EQ(cache.Entry(e).Threads, 1);
  EXPECT_EQ(EventCount(evThreadsFinished), 1);
  EXPECT_EQ(processed, std::vector<int32_t>{1});
  EXPECT_TRUE(disconnected.empty());
  // A duplicate changes nothing.
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_EQ(processed.size(), 1u);
  EXPECT_EQ(cache.Entry(e).Threads, 1);
}

TEST_F(ExtCalls, ACompletionReleasesItsLibraryAfterItsEntryMoved) {
  for (int i = 1; i <= 17; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "L%02d.DLL", i);
    fs::copy_file(platform::ProgramDirectory() + "UNLOADME.DLL", dir / name);
  }
  int32_t e = 0;
  for (int i = 1; i <= 16; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "L%02d.DLL", i);
    ASSERT_TRUE(cache.Acquire(name, e));
    if (i == 2)
      Awaiting(1, e, name);  // slot 1 waits for L02, which keeps its use
    else
      cache.Release(e);
  }
  ASSERT_TRUE(cache.Acquire("L17.DLL", e));  // evicts L01: L02 moves to entry 1
  calls.FillCallBuffers(1);
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_EQ(cache.Entry(1).Name.str(), "L02.DLL");
  EXPECT_EQ(cache.Entry(1).InUse, 0);
  EXPECT_EQ(cache.Entry(1).Threads, 1);
  EXPECT_EQ(cache.Entry(2).Threads, 0);
  EXPECT_EQ(cache.Entry(16).InUse, 1) << "L17's own use is untouched";
}

TEST_F(ExtCalls, ACompletedOkWithoutItsFileIsNotFound) {
  Install("UNLOADME.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  Awaiting(1, e);
  http.Replies[1].FileName = calls.ExtensionOutputName(1);
  calls.OnExtensionDone(Done(1, 1));
  EXPECT_EQ(http.Replies[1].Status, 404);
}

TEST_F(ExtCalls, ACompletionForAClientThatLeftDisconnectsAfterwards) {
  Install("UNLOADME.DLL");
  int32_t e = 0;
  ASSERT_TRUE(cache.Acquire("UNLOADME.DLL", e));
  Awaiting(1, e);
  Sock(1).Connected = false;
  calls.OnExtensionDone(Done(1, 503));
  EXPECT_EQ(http.Replies[1].Status, 503);
  EXPECT_EQ(processed, std::vector<int32_t>{1});
  EXPECT_EQ(disconnected, std::vector<int32_t>{1});
}

}  // namespace
