#include "server/enginehook.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "platform/files.h"
#include "server/bytefifo.h"
#include "server/eventcounters.h"
#include "tests/platform/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::CurrentDirGuard;
using platform::testing::ReadText;
using platform::testing::ScratchDir;
using platform::testing::WriteText;

bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    platform::MSG msg;
    if (platform::PeekMessage(msg, 0, 0, 0, platform::PM_REMOVE))
      platform::DispatchMessage(msg);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

template <typename T>
T At(const void* base, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof value);
  return value;
}

TEST(EngineTemplate, DescriptorBytesAreAsTheEngineReadsThem) {
  std::memset(static_cast<void*>(&ServerTemplate), 0xAB, sizeof ServerTemplate);
  BuildEngineTemplate();
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&ServerTemplate);
  EXPECT_EQ(offsetof(TServerTemplate, Tags), 280u);
  EXPECT_GE(sizeof(TServerTemplate), 280u + 2 * 34u);
  EXPECT_EQ(At<TTagCallback>(b, 0), &EngineCallback);
  for (std::size_t i = 8; i < 136; ++i) ASSERT_EQ(b[i], 0) << "input name byte " << i;
  EXPECT_EQ(At<int32_t>(b, 136), 2);
  EXPECT_EQ(At<const void*>(b, 144), b + 280) << "the tags lie right behind the descriptor";
  for (std::size_t i = 152; i < 280; ++i) ASSERT_EQ(b[i], 0) << "reserved byte " << i;
  EXPECT_EQ(At<int32_t>(b, 280), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 284), 30), std::string("$RUN") + std::string(26, '\0'));
  EXPECT_EQ(At<int32_t>(b, 314), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b + 318), 30),
            std::string("$RESOURCE") + std::string(21, '\0'));
}

// Stand-ins for the engine's entries, recording their calls.
struct FakeEngine {
  static inline int calls = 0;
  static inline bool output_existed = false;
  static inline std::string input;
  static inline int32_t slot = 0;
  static int32_t MakeFile(char* out, int32_t* s, TemplateInfo* job, TConnectionInfo*) {
    ++calls;
    output_existed = platform::FileExists(out);
    input = job->InputFile;
    slot = *s;
    WriteText(out, "expanded");
    return 0;
  }
  static int32_t NoThread(uint32_t, int32_t, char*, int32_t*, TemplateInfo*, TConnectionInfo*) { return -1; }
  static int32_t HeapSize() { return 1234; }
};

int64_t FakeAllocated() { return 5555; }
int32_t FakeMemoryUsed() { return 777; }

class EngineHook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    SetTempDir(dir.path() + "/");
    http.MaxSockets = 2;
    for (int i = 1; i <= 2; ++i) {
      TSock* c = new TSock(&http, i, http.TempDir.view());
      c->Connected = true;
      c->Info.Cid = i;
      c->Info.CallContext = 1;
      http.Connections[i] = c;
      InitSlotRecord(http.Requests[i], &http, i);
    }
    calls.ProcessConnection = [this](int32_t s) { processed.push_back(s); };
    calls.Disconnect = [this](int32_t s) { disconnected.push_back(s); };
    http.OtherMessage = [this](const platform::MSG& m) {
      if (m.message == WM_ENGINE_DONE) hook.OnEngineDone(m);
      if (m.message == WM_EXTENSION_ROW) hook.OnExtensionRow(m);
    };
    http.ExtensionRowProc = [this](int32_t e) { rows.push_back(e); };
    BuildEngineTemplate();
    hook.Attach();
    ResetEventCounters();
    FakeEngine::calls = 0;
  }
  void TearDown() override {
    hook.Detach();
    cache.UnloadAll();
  }
  void SetTempDir(const std::string& d) { http.TempDir = d; }
  void Install(const std::string& name) {
    std::string from = platform::ProgramDirectory() + name;
    ASSERT_TRUE(platform::FileExists(from)) << from << " is not built";
    fs::copy_file(from, dir / name, fs::copy_options::overwrite_existing);
  }
  std::string Callback(int32_t tag, int32_t slot, const char* parameter) {
    char answer[256];
    std::memset(answer, 'x', sizeof answer);
    EXPECT_EQ(EngineCallback(answer, &slot, parameter, tag, &http.Connections[1]->Info), 0);
    EXPECT_NE(std::memchr(answer, 0, sizeof answer), nullptr);
    return answer;
  }
  void UseMorvex() {
    morvex = platform::LoadLibrary("MORVEX32.DLL");
    ASSERT_NE(morvex, nullptr) << platform::LastLoadError();
    http.EngineMakeFile = reinterpret_cast<TEngineMakeFile>(platform::GetProcAddress(morvex, "MAKEFILE"));
    http.EngineMakeFileThread =
        reinterpret_cast<TEngineMakeFileThread>(platform::GetProcAddress(morvex, "MAKEFILETHREAD"));
    http.EngineHeapSize = reinterpret_cast<TEngineHeapSize>(platform::GetProcAddress(morvex, "GETHEAPSIZE"));
    ASSERT_TRUE(http.EngineMakeFile && http.EngineMakeFileThread && http.EngineHeapSize);
  }
  TSock& Sock(int slot) { return *http.Connections[slot]; }

  CurrentDirGuard keep_dir;
  ScratchDir dir;
  THTTP http;
  TExtensionCache cache;
  TExtensionCalls calls{http, cache};
  TEngineHook hook{calls};
  platform::LibraryHandle morvex = nullptr;
  std::vector<int32_t> processed, disconnected, rows;
};

TEST_F(EngineHook, ResourceAnswersCountersAndMemoryFigures) {
  for (int i = 0; i < 3; ++i) CountEvent(evBeginPost);
  CountEvent(evLogins);
  EXPECT_EQ(Callback(kTagResource, 1, "4"), "3");
  EXPECT_EQ(Callback(kTagResource, 1, " 4 "), "3");
  EXPECT_EQ(Callback(kTagResource, 1, "8"), "1");
  EXPECT_EQ(Callback(kTagResource, 1, "0"), "0");
  EXPECT_EQ(Callback(kTagResource, 1, "11"), "0");
  for (const char* empty : {"12", "-4", "abc", "", "4x", "0x4", "--1", "99999999999999999999", "4 5"})
    EXPECT_EQ(Callback(kTagResource, 1, empty), "") << empty;
  // Figures of other modules: empty until the program names their source.
  EXPECT_EQ(Callback(kTagResource, 1, "-1"), "");
  EXPECT_EQ(Callback(kTagResource, 1, "-2"), "");
  EXPECT_EQ(Callback(kTagResource, 1, "-3"), "");
  http.ResourceSources.ProgramAllocatedBytes = &FakeAllocated;
  http.ResourceSources.InterfaceMemoryUsed = &FakeMemoryUsed;
  http.EngineHeapSize = &FakeEngine::HeapSize;
  EXPECT_EQ(Callback(kTagResource, 1, "-1"), "5555");
  EXPECT_EQ(Callback(kTagResource, 1, "-2"), "777");
  EXPECT_EQ(Callback(kTagResource, 1, "-3"), "1234");
  // The resource tag needs no valid slot.
  EXPECT_EQ(Callback(kTagResource, 0, "4"), "3");
}

TEST_F(EngineHook, TheCallbackIsSafeWithBadArguments) {
  EXPECT_EQ(EngineCallback(nullptr, nullptr, "4", kTagResource, nullptr), 0);
  char answer[256] = "old";
  EXPECT_EQ(EngineCallback(answer, nullptr, "4", kTagResource, nullptr), 0);
  EXPECT_STREQ(answer, "");
  int32_t slot = 1;
  std::strcpy(answer, "old");
  EXPECT_EQ(EngineCallback(answer, &slot, nullptr, kTagResource, nullptr), 0);
  EXPECT_STREQ(answer, "");
  EXPECT_EQ(Callback(3, 1, "4"), "") << "unknown tag";
  EXPECT_EQ(Callback(-1, 1, "4"), "");
  // A parameter without a NUL in its first 255 bytes is read no further.
  std::vector<char> unterminated(255, '7');
  std::strcpy(answer, "old");
  EXPECT_EQ(EngineCallback(answer, &slot, unterminated.data(), kTagResource, nullptr), 0);
  EXPECT_STREQ(answer, "");
  hook.Detach();
  EXPECT_EQ(Callback(kTagResource, 1, "4"), "") << "no engine attached";
}

TEST_F(EngineHook, RunTagsWriteNumberedRunFilesThatAreDeletedAfterwards) {
  Install("UNLOADME.DLL");
  std::string first = Callback(kTagRun, 1, "$UNLOADME.DLL?a");
  std::string second = Callback(kTagRun, 1, "$unloadme.dll");
  EXPECT_EQ(first, "<$F " + dir.path() + "/RUN1-1.HTM>");
  EXPECT_EQ(second, "<$F " + dir.path() + "/RUN1-2.HTM>");
  EXPECT_NE(ReadText(dir / "RUN1-1.HTM").find("Calls since load"), std::string::npos);
  EXPECT_TRUE(platform::FileExists(dir / "RUN1-2.HTM"));
  EXPECT_EQ(Sock(1).Info.CallContext, 1) << "restored after the call";
  EXPECT_FALSE(Sock(1).Busy);
  EXPECT_EQ(http.ExtensionName[1].str(), "unloadme.DLL");
  EXPECT_EQ(EventCount(evThreadsStarted), 0);
  EXPECT_FALSE(rows.empty()) << "rows of the calling thread are shown at once";
  http.DeleteRunFiles(1);
  EXPECT_FALSE(platform::FileExists(dir / "RUN1-1.HTM"));
  EXPECT_FALSE(platform::FileExists(dir / "RUN1-2.HTM"));
  EXPECT_EQ(Callback(kTagRun, 1, "$UNLOADME.DLL"), "<$F " + dir.path() + "/RUN1-1.HTM>") << "numbering starts again";
}

TEST_F(EngineHook, RunTagsNamingNoPlainLibraryLoadNothing) {
  Install("UNLOADME.DLL");
  fs::create_directories(dir / "sub");
  fs::copy_file(dir / "UNLOADME.DLL", dir / "sub/X.DLL");
  WriteText(dir / "RUN1-1.HTM", "stale");
  EXPECT_EQ(Callback(kTagRun, 1, "$sub/X.DLL"), "<$F " + dir.path() + "/RUN1-1.HTM>");
  EXPECT_EQ(Callback(kTagRun, 1, "$NOPE.DLL"), "<$F " + dir.path() + "/RUN1-2.HTM>");
  EXPECT_TRUE(platform::FileExists(dir / "RUN1-1.HTM")) << "nothing was run for a refused name";
  for (int i = 1; i <= kExtensionCacheSize; ++i) EXPECT_EQ(cache.Entry(i).Handle, nullptr);
}

TEST_F(EngineHook, RunTagsForSlotsOutOfRangeAnswerNothing) {
  Install("UNLOADME.DLL");
  EXPECT_EQ(Callback(kTagRun, 0, "$UNLOADME.DLL"), "");
  EXPECT_EQ(Callback(kTagRun, 3, "$UNLOADME.DLL"), "");
  EXPECT_EQ(Callback(kTagRun, 256, "$UNLOADME.DLL"), "");
  EXPECT_EQ(Callback(kTagRun, -1, "$UNLOADME.DLL"), "");
  EXPECT_EQ(cache.Find("UNLOADME.DLL"), 0);
}

TEST_F(EngineHook, ARunTagFromAnotherThreadShowsItsRowsOnTheWindowThread) {
  Install("UNLOADME.DLL");
  std::string answer;
  std::thread([&] { answer = Callback(kTagRun, 1, "$UNLOADME.DLL"); }).join();
  EXPECT_EQ(answer, "<$F " + dir.path() + "/RUN1-1.HTM>");
  EXPECT_TRUE(rows.empty());
  ASSERT_TRUE(PumpUntil([&] { return rows.size() >= 2; }));
}

TEST_F(EngineHook, WithoutAnEngineThePageIsSentAsItIs) {
  http.Replies[1].FileName = dir / "page.htm";
  EXPECT_FALSE(hook.RunEngine(1));
  EXPECT_EQ(http.Replies[1].FileName.str(), dir / "page.htm");
  EXPECT_FALSE(Sock(1).AwaitingCompletion);
  EXPECT_NE(http.EngineJobs[1], nullptr) << "the job block is made on first use";
}

TEST_F(EngineHook, TheSynchronousEngineGetsTheJobAndTheSlotsOutputReplacesThePage) {
  http.EngineMakeFile = &FakeEngine::MakeFile;
  http.EngineMakeFileThread = &FakeEngine::NoThread;  // answers "not started"
  WriteText(hook.EngineOutputName(1), "stale page");
  http.Replies[1].FileName = dir / "page.htm";
  EXPECT_FALSE(hook.RunEngine(1));
  EXPECT_EQ(FakeEngine::calls, 1);
  EXPECT_FALSE(FakeEngine::output_existed) << "the slot's old output is deleted first";
  EXPECT_EQ(FakeEngine::input, dir / "page.htm");
  EXPECT_EQ(FakeEngine::slot, 1);
  EXPECT_EQ(http.Replies[1].FileName.str(), hook.EngineOutputName(1));
  EXPECT_EQ(ReadText(hook.EngineOutputName(1)), "expanded");
  EXPECT_FALSE(Sock(1).AwaitingCompletion);
  EXPECT_FALSE(Sock(1).Busy);
  TEngineJob* job = http.EngineJobs[1];
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->Descriptor.Callback, &EngineCallback);
  EXPECT_EQ(job->Descriptor.TagCount, 2);
  EXPECT_EQ(std::string(job->OutputFile), hook.EngineOutputName(1));
}

TEST_F(EngineHook, NamesTooLongForTheEnginesFieldsSkipTheEngine) {
  http.EngineMakeFile = &FakeEngine::MakeFile;
  std::string deep = dir.path() + "/" + std::string(110, 'd') + "/";
  http.Replies[1].FileName = dir / "page.htm";
  SetTempDir(deep);  // TEMP1.HTM behind it no longer fits 127 characters
  EXPECT_FALSE(hook.RunEngine(1));
  EXPECT_EQ(FakeEngine::calls, 0);
  EXPECT_EQ(http.Replies[1].FileName.str(), dir / "page.htm");
  SetTempDir(dir.path() + "/");
  http.Replies[1].FileName = dir.path() + "/" + std::string(128, 'p') + ".htm";
  EXPECT_FALSE(hook.RunEngine(1));
  EXPECT_EQ(FakeEngine::calls, 0);
}

// A page using every tag form the stand-in engine knows.
const char* const kPage =
    "A {{$RESOURCE 4}} B {{$run $UNLOADME.DLL}} C {{UNKNOWN x}} D {{$RESOURCE 12}} E {{$RESOURCE";

std::string ExpectedPage(const std::string& run_page) {
  return "A 2 B " + run_page + " C {{UNKNOWN x}} D  E {{$RESOURCE";
}

TEST_F(EngineHook, TheStandInEngineExpandsAPageSynchronously) {
  Install("UNLOADME.DLL");
  UseMorvex();
  http.EngineMakeFileThread = nullptr;
  CountEvent(evBeginPost);
  CountEvent(evBeginPost);
  WriteText(dir / "page.htm", kPage);
  http.Replies[1].FileName = dir / "page.htm";
  EXPECT_FALSE(hook.RunEngine(1));
  EXPECT_EQ(ReadText(http.Replies[1].FileName.str()),
            ExpectedPage("<html><body><p>Calls since load: 1</p></body></html>\n"));
  EXPECT_FALSE(platform::FileExists(dir / "RUN1-1.HTM")) << "RUN files go when the engine is done";
  EXPECT_EQ(http.RunFileCounter[1], 1);
  EXPECT_EQ(http.EngineHeapSize(), 0);
}

TEST_F(EngineHook, TheStandInEngineExpandsInItsThreadAndPostsItsCompletion) {
  Install("UNLOADME.DLL");
  UseMorvex();
  CountEvent(evBeginPost);
  CountEvent(evBeginPost);
  WriteText(dir / "page.htm", kPage);
  http.Replies[1].FileName = dir / "page.htm";
  http.ConnState[1] = csServe;
  ASSERT_TRUE(hook.RunEngine(1));
  http.ConnState[1] = csWaiting;
  EXPECT_TRUE(Sock(1).AwaitingCompletion);
  EXPECT_TRUE(Sock(1).Busy);
  ASSERT_TRUE(PumpUntil([&] { return !processed.empty(); }));
  EXPECT_EQ(http.ConnState[1], csHeader);
  EXPECT_EQ(http.Replies[1].FileName.str(), hook.EngineOutputName(1));
  EXPECT_EQ(ReadText(hook.EngineOutputName(1)),
            ExpectedPage("<html><body><p>Calls since load: 1</p></body></html>\n"));
  EXPECT_FALSE(Sock(1).AwaitingCompletion);
  EXPECT_FALSE(Sock(1).Busy);
  EXPECT_FALSE(platform::FileExists(dir / "RUN1-1.HTM"));
  EXPECT_TRUE(disconnected.empty());
}

TEST_F(EngineHook, EngineCompletionsForSlotsThatDoNotAwaitTheEngineAreIgnored) {
  platform::MSG m;
  m.message = WM_ENGINE_DONE;
  for (platform::WPARAM slot : {0u, 1u, 2u, 3u, 400u}) {
    m.wParam = slot;
    hook.OnEngineDone(m);
  }
  Sock(1).AwaitingCompletion = true;
  calls.SetAwaiting(1, ckExtension);
  m.wParam = 1;
  hook.OnEngineDone(m);
  EXPECT_TRUE(processed.empty());
  EXPECT_TRUE(Sock(1).AwaitingCompletion);
}

TEST_F(EngineHook, AnEngineCompletionForAClientThatLeftDisconnects) {
  http.EngineJobs[1] = new TEngineJob{};
  std::strcpy(http.EngineJobs[1]->OutputFile, "out.htm");
  Sock(1).AwaitingCompletion = true;
  calls.SetAwaiting(1, ckEngine);
  Sock(1).Connected = false;
  platform::MSG m;
  m.message = WM_ENGINE_DONE;
  m.wParam = 1;
  hook.OnEngineDone(m);
  EXPECT_EQ(http.Replies[1].FileName.str(), "out.htm");
  EXPECT_EQ(processed, std::vector<int32_t>{1});
  EXPECT_EQ(disconnected, std::vector<int32_t>{1});
}

// The stand-in engine on its own, with a descriptor of the test's making.
struct OwnTags {
  static inline std::vector<std::string> seen;
  static inline std::thread::id thread;
  static inline std::string include;
  static int32_t Callback(char* answer, int32_t* slot, const char* parameter, int32_t id, TConnectionInfo*) {
    seen.push_back(std::to_string(id) + ":" + parameter + ":" + std::to_string(slot ? *slot : -1));
    thread = std::this_thread::get_id();
    if (id == 7)
      std::strcpy(answer, "seven");
    else
      std::snprintf(answer, 256, "<$F %s>", include.c_str());
    return 0;
  }
};

struct OwnJob {
  TemplateInfo Info;
  TemplateTag Tags[2];
};

class MorvexStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    lib = platform::LoadLibrary("MORVEX32.DLL");
    ASSERT_NE(lib, nullptr) << platform::LastLoadError();
    make_file = reinterpret_cast<TEngineMakeFile>(platform::GetProcAddress(lib, "MAKEFILE"));
    make_thread = reinterpret_cast<TEngineMakeFileThread>(platform::GetProcAddress(lib, "MAKEFILETHREAD"));
    ASSERT_TRUE(make_file && make_thread);
    std::memset(static_cast<void*>(&job), 0, sizeof job);
    job.Info.Callback = &OwnTags::Callback;
    job.Info.TagCount = 2;
    job.Info.Tags = job.Tags;
    job.Tags[0].Id = 7;
    std::strcpy(job.Tags[0].Name, "NAME");
    job.Tags[1].Id = 8;
    std::strcpy(job.Tags[1].Name, "FILE");
    OwnTags::seen.clear();
    OwnTags::include = dir / "inc.txt";
    std::strcpy(out, (dir / "out.htm").c_str());
  }
  void Page(const std::string& text) {
    WriteText(dir / "in.htm", text);
    std::strcpy(job.Info.InputFile, (dir / "in.htm").c_str());
  }
  ScratchDir dir;
  platform::LibraryHandle lib = nullptr;
  TEngineMakeFile make_file = nullptr;
  TEngineMakeFileThread make_thread = nullptr;
  OwnJob job;
  char out[128] = {};
};

TEST_F(MorvexStandIn, TagsOfTheTableAreReplacedByTheCallbacksAnswers) {
  WriteText(dir / "inc.txt", "included");
  Page("<b>{{name  the parameter }}</b>{{FILE}}|{{OTHER y}}|{{}}|{{NAME");
  int32_t slot = 9;
  make_file(out, &slot, &job.Info, nullptr);
  EXPECT_EQ(ReadText(dir / "out.htm"), "<b>seven</b>included|{{OTHER y}}|{{}}|{{NAME");
  EXPECT_EQ(OwnTags::seen, (std::vector<std::string>{"7:the parameter:9", "8::9"}));
}

TEST_F(MorvexStandIn, AnIncludeOfAMissingFileIsEmptyAndBadTablesAreSurvived) {
  Page("[{{FILE}}]");
  int32_t slot = 1;
  make_file(out, &slot, &job.Info, nullptr);
  EXPECT_EQ(ReadText(dir / "out.htm"), "[]");
  job.Info.TagCount = -5;
  make_file(out, &slot, &job.Info, nullptr);
  EXPECT_EQ(ReadText(dir / "out.htm"), "[{{FILE}}]");
  job.Info.TagCount = 2;
  job.Info.Tags = nullptr;
  make_file(out, &slot, &job.Info, nullptr);
  EXPECT_EQ(ReadText(dir / "out.htm"), "[{{FILE}}]");
  EXPECT_EQ(make_file(nullptr, &slot, &job.Info, nullptr), 1);
  EXPECT_EQ(make_file(out, &slot, nullptr, nullptr), 1);
}

TEST_F(MorvexStandIn, TheThreadedRunCallsBackFromItsThreadAndPostsToTheWindow) {
  Page("x{{NAME p}}y");
  std::vector<platform::MSG> got;
  platform::HWND window = platform::CreateWindowHandle([&](const platform::MSG& m) { got.push_back(m); });
  int32_t cid = 4;
  EXPECT_EQ(make_thread(window, 4, out, &cid, &job.Info, nullptr), 0);
  ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
  EXPECT_EQ(got[0].message, static_cast<platform::UINT>(HALV_WM_ENGINE_DONE));
  EXPECT_EQ(got[0].wParam, 4u);
  EXPECT_EQ(ReadText(dir / "out.htm"), "xseveny");
  EXPECT_EQ(OwnTags::seen, std::vector<std::string>{"7:p:4"});
  EXPECT_NE(OwnTags::thread, std::this_thread::get_id());
  platform::DestroyWindowHandle(window);
}

}  // namespace
