#include "tests/interface/tandrel_support.h"

#include <atomic>

namespace {

const char* const kExportNames[] = {
    "GetDLLVer",      "GetMethod",       "GetRequest",       "GetHTTPVersion",  "GETTEMPLATE",
    "GetHeaderCnt",   "GetHeaderLine",   "GetHeaderValue",   "GetRemoteIp",     "GetSystemDir",
    "GetTempDir",     "GetUserCnt",      "GetUserInfo",      "GetHomeDir",      "GetRealmName",
    "AddHeaderLine",  "ClearHeaderLines", "KillSent",        "GetServerHwnd",   "DirectReturn",
    "GetRealmCnt",    "GetRealmIndex",   "GetUserItem",      "AddRealm",        "AddUserItem",
    "UpdateUserItem", "GetRealmByNo",    "GetUserByNo",      "GetRealmUserCnt", "DeleteRealmUser",
    "LoadServer",     "UnLoadServer",    "GetAddedLinesCnt", "GetAddedLine",    "GetMemoryUsed",
};

template <typename F>
void Resolve(void* handle, F& f, const char* name) {
  f = reinterpret_cast<F>(dlsym(handle, name));
  EXPECT_NE(f, nullptr) << name << " is not exported";
}

TandrelLib Load() {
  TandrelLib lib;
  lib.handle = dlopen(TANDREL_PATH, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(lib.handle, nullptr) << "dlopen " << TANDREL_PATH << ": " << dlerror();
  if (!lib.handle) return lib;
  void* h = lib.handle;
  Resolve(h, lib.GetDLLVer, "GetDLLVer");
  Resolve(h, lib.GetMethod, "GetMethod");
  Resolve(h, lib.GetRequest, "GetRequest");
  Resolve(h, lib.GetHTTPVersion, "GetHTTPVersion");
  Resolve(h, lib.GETTEMPLATE, "GETTEMPLATE");
  Resolve(h, lib.GetHeaderCnt, "GetHeaderCnt");
  Resolve(h, lib.GetHeaderLine, "GetHeaderLine");
  Resolve(h, lib.GetHeaderValue, "GetHeaderValue");
  Resolve(h, lib.GetRemoteIp, "GetRemoteIp");
  Resolve(h, lib.GetSystemDir, "GetSystemDir");
  Resolve(h, lib.GetTempDir, "GetTempDir");
  Resolve(h, lib.GetUserCnt, "GetUserCnt");
  Resolve(h, lib.GetUserInfo, "GetUserInfo");
  Resolve(h, lib.GetHomeDir, "GetHomeDir");
  Resolve(h, lib.GetRealmName, "GetRealmName");
  Resolve(h, lib.AddHeaderLine, "AddHeaderLine");
  Resolve(h, lib.ClearHeaderLines, "ClearHeaderLines");
  Resolve(h, lib.KillSent, "KillSent");
  Resolve(h, lib.GetServerHwnd, "GetServerHwnd");
  Resolve(h, lib.DirectReturn, "DirectReturn");
  Resolve(h, lib.GetRealmCnt, "GetRealmCnt");
  Resolve(h, lib.GetRealmIndex, "GetRealmIndex");
  Resolve(h, lib.GetUserItem, "GetUserItem");
  Resolve(h, lib.AddRealm, "AddRealm");
  Resolve(h, lib.AddUserItem, "AddUserItem");
  Resolve(h, lib.UpdateUserItem, "UpdateUserItem");
  Resolve(h, lib.GetRealmByNo, "GetRealmByNo");
  Resolve(h, lib.GetUserByNo, "GetUserByNo");
  Resolve(h, lib.GetRealmUserCnt, "GetRealmUserCnt");
  Resolve(h, lib.DeleteRealmUser, "DeleteRealmUser");
  Resolve(h, lib.LoadServer, "LoadServer");
  Resolve(h, lib.UnLoadServer, "UnLoadServer");
  Resolve(h, lib.GetAddedLinesCnt, "GetAddedLinesCnt");
  Resolve(h, lib.GetAddedLine, "GetAddedLine");
  Resolve(h, lib.GetMemoryUsed, "GetMemoryUsed");
  return lib;
}

}  // namespace

const TandrelLib& Tandrel() {
  static const TandrelLib lib = Load();
  if (!lib.handle) ADD_FAILURE() << "libtandrel.so is not loaded";
  return lib;
}

const char* const* ExportNames(std::size_t& count) {
  count = std::size(kExportNames);
  return kExportNames;
}

std::string UniqueRealm(std::string_view stem) {
  static std::atomic<int> serial{0};
  return std::string(stem) + "-" + std::to_string(++serial);
}

void EngineFixture::SetUp() {
  ASSERT_NE(Tandrel().handle, nullptr);
  engine_ = std::make_unique<THTTP>();
  server_var_ = engine_.get();
  engine_->TempDir = "/tmp/halv-temp/";
  engine_->HomeDir = "/srv/www/";
}

void EngineFixture::TearDown() {
  lib().UnLoadServer();
  engine_.reset();
}

void EngineFixture::MakeSlots(int32_t count) {
  for (int32_t i = 1; i <= kMaxSlots; ++i) {
    delete engine_->Connections[i];
    engine_->Connections[i] = nullptr;
  }
  for (int32_t i = 1; i <= count; ++i) {
    engine_->Connections[i] = new TSock(engine_.get(), i, engine_->TempDir.view());
    engine_->Connections[i]->PeerAddress = "127.0.0." + std::to_string(i);
    InitSlotRecord(engine_->Requests[i], engine_.get(), i);
    engine_->Requests[i].Realm = "Halvorine";
  }
  engine_->MaxSockets = count;
}
