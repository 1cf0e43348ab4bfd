// The interface library as an extension sees it: loaded with dlopen, its
// exports resolved by name with dlsym, and an engine state built by the test
// for it to attach to.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "interface/tandrel.h"
#include "server/httpunit.h"

struct TandrelLib {
  void* handle = nullptr;
  decltype(&::GetDLLVer) GetDLLVer = nullptr;
  decltype(&::GetMethod) GetMethod = nullptr;
  decltype(&::GetRequest) GetRequest = nullptr;
  decltype(&::GetHTTPVersion) GetHTTPVersion = nullptr;
  decltype(&::GETTEMPLATE) GETTEMPLATE = nullptr;
  decltype(&::GetHeaderCnt) GetHeaderCnt = nullptr;
  decltype(&::GetHeaderLine) GetHeaderLine = nullptr;
  decltype(&::GetHeaderValue) GetHeaderValue = nullptr;
  decltype(&::GetRemoteIp) GetRemoteIp = nullptr;
  decltype(&::GetSystemDir) GetSystemDir = nullptr;
  decltype(&::GetTempDir) GetTempDir = nullptr;
  decltype(&::GetUserCnt) GetUserCnt = nullptr;
  decltype(&::GetUserInfo) GetUserInfo = nullptr;
  decltype(&::GetHomeDir) GetHomeDir = nullptr;
  decltype(&::GetRealmName) GetRealmName = nullptr;
  decltype(&::AddHeaderLine) AddHeaderLine = nullptr;
  decltype(&::ClearHeaderLines) ClearHeaderLines = nullptr;
  decltype(&::KillSent) KillSent = nullptr;
  decltype(&::GetServerHwnd) GetServerHwnd = nullptr;
  decltype(&::DirectReturn) DirectReturn = nullptr;
  decltype(&::GetRealmCnt) GetRealmCnt = nullptr;
  decltype(&::GetRealmIndex) GetRealmIndex = nullptr;
  decltype(&::GetUserItem) GetUserItem = nullptr;
  decltype(&::AddRealm) AddRealm = nullptr;
  decltype(&::AddUserItem) AddUserItem = nullptr;
  decltype(&::UpdateUserItem) UpdateUserItem = nullptr;
  decltype(&::GetRealmByNo) GetRealmByNo = nullptr;
  decltype(&::GetUserByNo) GetUserByNo = nullptr;
  decltype(&::GetRealmUserCnt) GetRealmUserCnt = nullptr;
  decltype(&::DeleteRealmUser) DeleteRealmUser = nullptr;
  decltype(&::LoadServer) LoadServer = nullptr;
  decltype(&::UnLoadServer) UnLoadServer = nullptr;
  decltype(&::GetAddedLinesCnt) GetAddedLinesCnt = nullptr;
  decltype(&::GetAddedLine) GetAddedLine = nullptr;
  decltype(&::GetMemoryUsed) GetMemoryUsed = nullptr;
};

// The library, loaded once per test program and kept to its end (it has no
// finalisation of its own and is never unloaded by the server either).
// Fails the calling test when a name does not resolve.
const TandrelLib& Tandrel();

// The names of the 35 exports.
const char* const* ExportNames(std::size_t& count);

// A short string of text (cut to 255 characters).
struct SS {
  THalvShortString s{};
  SS() = default;
  SS(std::string_view text) {  // NOLINT: used like a string
    std::size_t n = text.size() < 255 ? text.size() : 255;
    std::memcpy(s + 1, text.data(), n);
    s[0] = static_cast<unsigned char>(n);
  }
  operator const unsigned char*() const { return s; }  // NOLINT
  operator unsigned char*() { return s; }              // NOLINT
  std::string str() const { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }
};

// A realm name no other test of the process uses: the realm table lives as
// long as the library and cannot be emptied.
std::string UniqueRealm(std::string_view stem);

// An engine with slots 1..slots made by hand (all free), and the variable
// that names it, as the server program keeps it.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const TandrelLib& lib() const { return Tandrel(); }
  // Replaces the slot objects by slots 1..count, each without a client.
  void MakeSlots(int32_t count);
  TSock* Slot(int32_t cid) { return engine_->Connections[cid]; }
  TRequestRecord& Request(int32_t cid) { return engine_->Requests[cid]; }
  void Connect(int32_t cid, bool connected = true) { Slot(cid)->Connected = connected; }
  void Attach() { lib().LoadServer(&server_var_); }
  void Detach() { lib().UnLoadServer(); }

  std::unique_ptr<THTTP> engine_;
  THTTP* server_var_ = nullptr;
};

// Attached to an engine of three slots; slot 1 has a client.
class AttachedFixture : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    MakeSlots(3);
    Connect(1);
    Attach();
  }
};
