#include "server/enginehook.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/files.h"
#include "server/eventcounters.h"
#include "server/fileresolve.h"

namespace {

// The engine's file name fields hold 127 characters and a NUL.
constexpr std::size_t kEngineNameMax = 127;
constexpr std::size_t kAnswerMax = 255;

void PutField(char* field, std::size_t size, std::string_view text) {
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string_view FieldText(const char* field, std::size_t size) { return std::string_view(field, strnlen(field, size - 1)); }

// A decimal integer, with blanks around it allowed; nothing else.
bool ParseInteger(std::string_view text, int64_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// The hook the tag callback reaches: the engine's callback carries no
// reference to the server, so one hook is active per process.
std::atomic<TEngineHook*> ActiveEngineHook{nullptr};

}  // namespace

TServerTemplate ServerTemplate;

void BuildEngineTemplate() {
  std::memset(static_cast<void*>(&ServerTemplate), 0, sizeof ServerTemplate);
  ServerTemplate.Info.Callback = &EngineCallback;
  ServerTemplate.Info.TagCount = 2;
  ServerTemplate.Info.Tags = ServerTemplate.Tags;
  ServerTemplate.Tags[0].Id = kTagRun;
  PutField(ServerTemplate.Tags[0].Name, sizeof ServerTemplate.Tags[0].Name, "$RUN");
  ServerTemplate.Tags[1].Id = kTagResource;
  PutField(ServerTemplate.Tags[1].Name, sizeof ServerTemplate.Tags[1].Name, "$RESOURCE");
}

extern "C" int32_t EngineCallback(char* answer, int32_t* slot, const char* parameter, int32_t tag_id,
                                  TConnectionInfo* info) {
  if (!answer) return 0;
  answer[0] = '\0';
  try {
    TEngineHook* hook = ActiveEngineHook.load(std::memory_order_acquire);
    if (!hook || !slot) return 0;
    std::string_view p = parameter ? std::string_view(parameter, strnlen(parameter, kAnswerMax)) : "";
    std::string text = hook->TagAnswer(tag_id, *slot, p);
    std::size_t n = std::min(text.size(), kAnswerMax);
    std::memcpy(answer, text.data(), n);
    answer[n] = '\0';
  } catch (...) {
    answer[0] = '\0';
  }
  return 0;
}

TEngineHook::TEngineHook(TExtensionCalls& calls) : Calls(calls), Http(calls.Http) {}

TEngineHook::~TEngineHook() { Detach(); }

void TEngineHook::Attach() {
  window_thread_ = std::this_thread::get_id();
  ActiveEngineHook.store(this, std::memory_order_release);
}

void TEngineHook::Detach() {
  TEngineHook* self = this;
  ActiveEngineHook.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

std::string TEngineHook::EngineOutputName(int32_t slot) const {
  return Http.TempDir.str() + "TEMP" + std::to_string(slot) + ".HTM";
}

std::string TEngineHook::RunFileName(int32_t slot, int32_t k) const {
  return Http.TempDir.str() + "RUN" + std::to_string(slot) + "-" + std::to_string(k) + ".HTM";
}

bool TEngineHook::RunEngine(int32_t slot) {
  TSock* c = Calls.Slot(slot);
  if (!c) return false;
  TEngineJob*& job = Http.EngineJobs[slot];
  if (!job) {
    job = new TEngineJob;
    std::memset(static_cast<void*>(job), 0, sizeof *job);
  }
  if (!Http.EngineMakeFile) return false;
  std::string out = EngineOutputName(slot);
  std::string_view in = Http.Replies[slot].FileName.view();
  // A name cut to fit the engine would name another file: such a page is
  // sent as it is.
  if (out.size() > kEngineNameMax || in.size() > kEngineNameMax) return false;
  std::memcpy(static_cast<void*>(&job->Descriptor), &ServerTemplate.Info, sizeof job->Descriptor);
  PutField(job->Descriptor.InputFile, sizeof job->Descriptor.InputFile, in);
  PutField(job->OutputFile, sizeof job->OutputFile, out);
  platform::DeleteFile(out);
  c->AwaitingCompletion = true;
  Calls.SetAwaiting(slot, ckEngine);
  c->MarkBusy();
  if (Http.EngineMakeFileThread &&
      Http.EngineMakeFileThread(Http.Handle(), slot, job->OutputFile, &c->Info.Cid, &job->Descriptor, &c->Info) != -1)
    return true;
  int32_t slot_copy = slot;
  Http.EngineMakeFile(job->OutputFile, &slot_copy, &job->Descriptor, &c->Info);
  TakeEngineOutput(slot, "MAKEFILE");
  Http.DeleteRunFiles(slot);
  c->MarkIdle();
  c->AwaitingCompletion = false;
  Calls.SetAwaiting(slot, ckNone);
  return false;
}

void TEngineHook::OnEngineDone(const platform::MSG& msg) {
  if (msg.wParam < 1 || msg.wParam > static_cast<platform::WPARAM>(kMaxSlots)) return;
  int32_t slot = static_cast<int32_t>(msg.wParam);
  if (!Calls.Awaits(slot, ckEngine)) return;
  TSock* c = Calls.Slot(slot);
  TEngineJob* job = Http.EngineJobs[slot];
  Http.ConnState[slot] = csHeader;
  if (job) TakeEngineOutput(slot, "MAKEFILETHREAD");
  c->AwaitingCompletion = false;
  Calls.SetAwaiting(slot, ckNone);
  c->MarkIdle();
  Http.DeleteRunFiles(slot);
  if (Calls.ProcessConnection) Calls.ProcessConnection(slot);
  if (!c->Connected && Calls.Disconnect) Calls.Disconnect(slot);
}

// The engine's output file is the answer. Without one, the engine could not
// make it (out of descriptors, a full disk): for a page that is still there
// that is the server's failure, never a missing page.
void TEngineHook::TakeEngineOutput(int32_t slot, const char* call) {
  const TEngineJob& job = *Http.EngineJobs[slot];
  TReplyRecord& rp = Http.Replies[slot];
  const std::string out(FieldText(job.OutputFile, sizeof job.OutputFile));
  rp.FileName = out;
  struct stat st;
  const int error = ::stat(out.c_str(), &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : -1;
  if (error == 0) return;
  const std::string page(FieldText(job.Descriptor.InputFile, sizeof job.Descriptor.InputFile));
  if (!IsRegularFile(page)) {
    rp.Status = 404;  // the page itself gone meanwhile, as any file gone
    return;
  }
  Calls.Log(slot, "The page engine made no page of " + page + ". " + call + "(" + out +
                      "): " + (error > 0 ? std::strerror(error) : "no regular file"));
  rp.Status = 500;
}

void TEngineHook::OnExtensionRow(const platform::MSG& msg) {
  if (msg.wParam >= 1 && msg.wParam <= static_cast<platform::WPARAM>(kExtensionCacheSize))
    Calls.ShowRow(static_cast<int32_t>(msg.wParam));
}

void TEngineHook::ShowRowFromAnyThread(int32_t entry) {
  if (std::this_thread::get_id() == window_thread_)
    Calls.ShowRow(entry);
  else
    platform::PostMessage(Http.Handle(), WM_EXTENSION_ROW, static_cast<platform::WPARAM>(entry), 0);
}

std::string TEngineHook::TagAnswer(int32_t tag_id, int32_t slot, std::string_view parameter) {
  if (tag_id == kTagRun) {
    if (!Calls.Slot(slot)) return {};
    std::string name = RunFileName(slot, Http.NextRunFileNumber(slot));
    bool include = false;
    RunPageForEngine(parameter, slot, name, &include);
    // A library that finishes later leaves the tag's place empty: the page
    // is not held for it, and the file it writes is nobody's.
    return include ? "<$F " + name + ">" : std::string();
  }
  if (tag_id == kTagResource) return ResourceAnswer(parameter);
  return {};
}

std::string TEngineHook::ResourceAnswer(std::string_view parameter) const {
  int64_t n = 0;
  if (!ParseInteger(parameter, n)) return {};
  if (n >= 0 && n < kEventCounterCount) return std::to_string(EventCount(static_cast<uint8_t>(n)));
  if (n == -1) {
    auto source = Http.ResourceSources.ProgramAllocatedBytes.load();
    return source ? std::to_string(source()) : std::string();
  }
  if (n == -2) {
    auto source = Http.ResourceSources.InterfaceMemoryUsed.load();
    return source ? std::to_string(source()) : std::string();
  }
  if (n == -3) return Http.EngineHeapSize ? std::to_string(Http.EngineHeapSize()) : std::string();
  return {};
}

int32_t TEngineHook::RunPageForEngine(std::string_view parameter, int32_t slot, std::string_view out_name,
                                      bool* include) {
  if (include) *include = true;
  TSock* c = Calls.Slot(slot);
  if (!c) return 404;
  std::string name = ExtensionLibraryName(parameter);
  Http.ExtensionName[slot] = name;
  int32_t entry = 0;
  TExtensionSlot found;
  if (!Calls.Cache.Acquire(name, entry, &found)) return 404;
  TMakePage make_page = found.MakePage;
  if (!make_page) {
    if (int32_t now = Calls.Cache.Finish(name, false, false)) ShowRowFromAnyThread(now);
    return 404;
  }
  if (!Calls.BeginRunCall(slot)) {
    // An earlier call on the slot has not completed: its completion would
    // be taken for this one's. The library is not called.
    if (int32_t now = Calls.Cache.Finish(name, false, false)) ShowRowFromAnyThread(now);
    if (include) *include = false;
    return 404;
  }
  char param_buf[256];
  char out_buf[256];
  PutField(param_buf, sizeof param_buf, parameter);
  PutField(out_buf, sizeof out_buf, out_name.substr(0, 254));
  platform::DeleteFile(std::string(out_name));
  ShowRowFromAnyThread(entry);
  int32_t saved_context = c->Info.CallContext;
  c->Info.CallContext = 1;
  // Inside a threaded engine run the slot is already busy; it stays so.
  bool was_busy = c->Busy;
  c->MarkBusy();
  int32_t r = make_page(out_buf, param_buf, &c->Info);
  if (!was_busy) c->MarkIdle();
  // A library that goes on in its own thread keeps its use until its
  // completion, so that it is never unloaded under that thread.
  if (Calls.EndRunCall(slot, r, name, out_name)) entry = Calls.Cache.Finish(name, false, false);
  if (entry) ShowRowFromAnyThread(entry);
  c->Info.CallContext = saved_context;
  if (include) *include = r != 2;
  return ExtensionResultStatus(r);
}
