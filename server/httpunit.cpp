#include "server/httpunit.h"

#include <string>

#include "platform/files.h"

THTTP::THTTP() {
  for (int32_t& c : RunFileCounter) c = 1;
  ReadingRequest = [this](int32_t slot) {
    uint8_t s = ConnState[slot];
    return s == csIdle || s == csRequest || (s == csPostBody && PostPhase[slot] != ppEnd);
  };
}

THTTP::~THTTP() {
  for (TRequestRecord& r : Requests) FreeSlotRecord(r);
  for (TEngineJob*& j : EngineJobs) {
    delete j;
    j = nullptr;
  }
}

void THTTP::DeleteRunFiles(int32_t slot) {
  for (int32_t k = 1; k < RunFileCounter[slot]; ++k)
    platform::DeleteFile(TempDir.str() + "RUN" + std::to_string(slot) + "-" + std::to_string(k) + ".HTM");
  RunFileCounter[slot] = 1;
}

void InitSlotRecord(TRequestRecord& rec, THTTP* engine, int32_t slot) {
  rec.Owner = engine;
  rec.CID = slot;
  if (!rec.HeaderLines) rec.HeaderLines = new THeaderLines;
  rec.Multipart = 0;
  ResetSlotRecord(rec);
}

void ResetSlotRecord(TRequestRecord& rec) {
  rec.Method = rmUnknown;
  rec.ReceivedUrl.clear();
  rec.Request.clear();
  rec.Referer.clear();
  rec.UserAgent.clear();
  rec.User.clear();
  rec.Password.clear();
  rec.Version = hvNone;
  rec.ExpectRequestLine = 1;
  if (rec.HeaderLines) rec.HeaderLines->clear();
}

void FreeSlotRecord(TRequestRecord& rec) {
  delete rec.HeaderLines;
  rec.HeaderLines = nullptr;
}

void ClearReplyFile(TReplyRecord& reply) { reply.FileName.clear(); }
