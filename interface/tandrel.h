/*
 * tandrel.h - the interface between the Halvorine server and the code it
 * loads: extension libraries ("$" URLs), the page engine MORVEX32.DLL, the
 * log plug-in HALVLOG.DLL, the exports of libtandrel.so, and the BBS
 * library QX.DLL that the library and conference managers use.
 *
 * This is the one declaration of every block that crosses a library
 * boundary. It is plain C (usable from C and C++), depends on nothing but
 * <stdint.h>, and fixes each block's size and field offsets below.
 *
 * Conventions:
 *  - A CID is a connection slot number, 1 to 255.
 *  - Text passed in is zero-terminated; text given back is copied,
 *    zero-terminated, into a caller's buffer of at least 256 bytes
 *    (GetAddedLine: 512 bytes).
 *  - A short string (THalvShortString) is a length byte followed by up to
 *    255 bytes of text, with no terminator.
 *  - Everything runs on the server's window thread unless said otherwise.
 */
#ifndef HALVORINE_TANDREL_H
#define HALVORINE_TANDREL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#define HALV_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define HALV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* ---- Window messages an outside library may post to the server ------- */

#define HALV_WM_USER 0x0400
/* An extension call that answered 2 has finished: wParam CID, lParam the
 * result (0 not found, 1 done, other values an HTTP status). Post it with
 * HalvPostMessage to GetServerHwnd(). */
#define HALV_WM_EXTENSION_DONE (HALV_WM_USER + 3)
/* The page engine's threaded run has finished: wParam CID. */
#define HALV_WM_ENGINE_DONE (HALV_WM_USER + 4)
/* Cycles the server's log files; any program may post it. */
#define HALV_WM_CYCLE_LOGS (HALV_WM_USER + 1000)

/* Thread-safe posting into the server's message queue (libhalvplatform.so).
 * Nonzero when the message was queued. */
int HalvPostMessage(uint32_t hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam);

typedef unsigned char THalvShortString[256];

/* ---- Connection-info block -------------------------------------------- */

/* One per connection slot, owned by the server. Its address, and the
 * addresses of its four text buffers, stay valid for the life of the server
 * run, across the connections the slot takes. */
typedef struct TConnectionInfo {
  int32_t Marker;      /* 3 once a connection was accepted */
  int32_t Closed;      /* 1 once the client closed or the connection is being aborted */
  int32_t Socket;      /* the connection's socket */
  uint32_t ClientIp;   /* client IPv4 address, network byte order */
  int32_t Reserved;    /* 0 */
  char* TempDir;       /* temporary directory, 255-byte buffer */
  int32_t Cid;         /* the slot; its address is the page engine's slot reference */
  char* User;          /* user name after the password check, 80 bytes */
  char* Password;      /* password as sent, 80 bytes */
  char* SentUser;      /* user name as sent, 80 bytes */
  int32_t CallContext; /* 1 after accept; 0 for "$" calls; 1 for POSTEND after a close and for "$RUN" */
  int32_t SkipEngine;  /* set nonzero by a library: no page engine for this answer */
  int32_t UnloadAfterCall; /* set to 1 by a library: unload it after this call */
} TConnectionInfo;

/* ---- Extension libraries ------------------------------------------------
 * A URL "/$NAME..." runs the library NAME.DLL from the server's current
 * directory: the file name is the upper-cased 8.3 name ("$hello" runs
 * HELLO.DLL). Results: 0 not found (404), 1 done (200, the file named in
 * outFile is sent), 2 finishing later (post HALV_WM_EXTENSION_DONE), any
 * other value an HTTP status. outFile and request are writable buffers of
 * 256 bytes; a library may write another output file name into outFile.
 * An answer of type text/html (by its file's extension in MIME.INI) passes
 * through the page engine unless the library sets SkipEngine, so a library
 * escapes the request text it echoes: HTML's "<" and "&", and the engine's
 * tag marks (the stand-in's "{{"). */
typedef int32_t (*TMakePage)(char* outFile, char* request, TConnectionInfo* info);
typedef int32_t (*TPostBegin)(char* outFile, char* request, int32_t cid, TConnectionInfo* info);
/* The bytes are valid only during the call. The result is not used. */
typedef int32_t (*TPostResume)(int32_t count, const void* firstByte, int32_t cid, TConnectionInfo* info);
typedef int32_t (*TPostEnd)(char* outFile, int32_t cid, TConnectionInfo* info);

/* ---- Page engine --------------------------------------------------------- */

/* Tag callback: writes its answer (at most 255 characters and a zero) into
 * answer; returns 0. May be called from the engine's own thread. */
typedef int32_t (*TTagCallback)(char* answer, int32_t* slot, const char* parameter, int32_t tagId,
                                TConnectionInfo* info);

#pragma pack(push, 1)
typedef struct TemplateTag {
  int32_t Id;
  char Name[30]; /* zero-terminated, at most 29 characters */
} TemplateTag;
#pragma pack(pop)

typedef struct TemplateInfo {
  TTagCallback Callback;
  char InputFile[128]; /* zero-terminated */
  int32_t TagCount;
  TemplateTag* Tags;   /* the tag array, placed right behind the descriptor */
  uint8_t Reserved[128];
} TemplateInfo;

typedef struct TEngineJob {
  TemplateInfo Descriptor; /* the server's descriptor with InputFile set per run */
  char OutputFile[128];    /* zero-terminated */
} TEngineJob;

/* MORVEX32.DLL */
typedef int32_t (*TEngineMakeFile)(char* outFile, int32_t* slot, TemplateInfo* job, TConnectionInfo* info);
/* -1: nothing started; otherwise the library posts HALV_WM_ENGINE_DONE to
 * engineWindow when the output file is complete. */
typedef int32_t (*TEngineMakeFileThread)(uint32_t engineWindow, int32_t slot, char* outFile, int32_t* cidField,
                                         TemplateInfo* job, TConnectionInfo* info);
typedef int32_t (*TEngineHeapSize)(void);

/* ---- Log plug-in HALVLOG.DLL ---------------------------------------------- */

typedef void (*TLogStart)(void);       /* "StartLog": after loading */
typedef void (*TLogWrite)(int32_t cid); /* "LogWrite": after every logged request */
typedef void (*TLogStop)(void);        /* "StopLog": before unloading */

/* ---- Realm table entry ---------------------------------------------------- */

typedef struct TUserItem {
  double LastAccess;           /* days since 1899-12-30, local time */
  THalvShortString UserName;   /* length-prefixed */
} TUserItem;

/* ---- Exports of libtandrel.so -----------------------------------------------
 * Connection-based exports return a ConnStatus (callers read the low byte):
 *   0 ok; 1 not attached, CID outside 1..255 or no slot object; 2 no client
 *   connected on the slot; 3 header absent/empty (GetHeaderValue) or the
 *   count failed (GetAddedLinesCnt); 4 realm absent or index out of range
 *   (GetUserInfo).
 * Exports may be called from any thread. The realm-table exports (300-309,
 * 52, 53) are serialised by one lock; the others take none and read the
 * server's state in place. */

#ifdef __cplusplus
class THTTP;
#else
typedef struct THTTP THTTP;
#endif

typedef uint8_t TConnStatus;

/* GetUserInfo's answer: two caller buffers of at least 256 bytes each. */
typedef struct TUserInfo {
  char* Address;
  char* UserName;
} TUserInfo;

uint8_t GetDLLVer(int32_t* major, int32_t* minor); /* 0 attached, 1 not; always 1.0 */
TConnStatus GetMethod(char* buffer, int32_t cid);
TConnStatus GetRequest(char* buffer, int32_t cid);
TConnStatus GetHTTPVersion(char* buffer, int32_t cid);
TemplateInfo* GETTEMPLATE(void);
TConnStatus GetHeaderCnt(int32_t* count, int32_t cid);
TConnStatus GetHeaderLine(char* buffer, int32_t index, int32_t cid); /* "name=value" */
TConnStatus GetHeaderValue(char* buffer, const char* name, int32_t cid);
TConnStatus GetRemoteIp(char* buffer, int32_t cid);
uint8_t GetSystemDir(char* buffer); /* always "" and 0 */
uint8_t GetTempDir(char* buffer);   /* 0, or 1 when not attached or no buffer */
TConnStatus GetUserCnt(int32_t* count, int32_t cid);
TConnStatus GetUserInfo(TUserInfo* info, int32_t index, int32_t cid);
uint8_t GetHomeDir(char* buffer);
uint8_t GetRealmName(char* buffer, int32_t cid);
TConnStatus AddHeaderLine(const char* line, int32_t cid);
TConnStatus ClearHeaderLines(int32_t cid);
TConnStatus KillSent(int32_t cid);      /* acts on status 0 and 2 */
uint32_t GetServerHwnd(void);           /* the server's window, for HALV_WM_EXTENSION_DONE */
TConnStatus DirectReturn(int32_t cid);  /* the server writes no status line or headers */
int32_t GetRealmCnt(void);
int32_t GetRealmIndex(const THalvShortString realm); /* -1 when absent */
uint8_t GetUserItem(TUserItem** item, const THalvShortString address, const THalvShortString realm);
uint8_t AddRealm(const THalvShortString realm);
int32_t AddUserItem(const THalvShortString user, const THalvShortString address, const THalvShortString realm);
int32_t UpdateUserItem(TUserItem* item, const THalvShortString address, const THalvShortString realm);
void GetRealmByNo(THalvShortString realm, int32_t index);
void GetUserByNo(THalvShortString address, int32_t index, const THalvShortString realm);
int32_t GetRealmUserCnt(const THalvShortString realm);
int32_t DeleteRealmUser(const THalvShortString address, const THalvShortString realm);
/* Called by the server at its start with the address of the variable that
 * holds it, and at its stop. */
void LoadServer(THTTP** server);
void UnLoadServer(void);
TConnStatus GetAddedLinesCnt(int32_t* count, int32_t cid);
TConnStatus GetAddedLine(char* buffer, int32_t index, int32_t cid); /* buffer of 512 bytes */
int32_t GetMemoryUsed(void); /* bytes held by the library's own allocations */

/* The exports' ordinals on the original system, by name. */
#define HALV_ORD_GetDLLVer 1
#define HALV_ORD_GetMethod 2
#define HALV_ORD_GetRequest 3
#define HALV_ORD_GetHTTPVersion 4
#define HALV_ORD_GETTEMPLATE 5
#define HALV_ORD_GetHeaderCnt 10
#define HALV_ORD_GetHeaderLine 11
#define HALV_ORD_GetHeaderValue 12
#define HALV_ORD_GetRemoteIp 13
#define HALV_ORD_GetSystemDir 50
#define HALV_ORD_GetTempDir 51
#define HALV_ORD_GetUserCnt 52
#define HALV_ORD_GetUserInfo 53
#define HALV_ORD_GetHomeDir 54
#define HALV_ORD_GetRealmName 55
#define HALV_ORD_AddHeaderLine 100
#define HALV_ORD_ClearHeaderLines 101
#define HALV_ORD_KillSent 200
#define HALV_ORD_GetServerHwnd 201
#define HALV_ORD_DirectReturn 202
#define HALV_ORD_GetRealmCnt 300
#define HALV_ORD_GetRealmIndex 301
#define HALV_ORD_GetUserItem 302
#define HALV_ORD_AddRealm 303
#define HALV_ORD_AddUserItem 304
#define HALV_ORD_UpdateUserItem 305
#define HALV_ORD_GetRealmByNo 306
#define HALV_ORD_GetUserByNo 307
#define HALV_ORD_GetRealmUserCnt 308
#define HALV_ORD_DeleteRealmUser 309
#define HALV_ORD_LoadServer 1000
#define HALV_ORD_UnLoadServer 1001
#define HALV_ORD_GetAddedLinesCnt 1002
#define HALV_ORD_GetAddedLine 1003
#define HALV_ORD_GetMemoryUsed 1004

/* ---- BBS library QX.DLL ----------------------------------------------------
 * libmanager and confmanager reach the bulletin-board system only through
 * this library, loaded by the plain name "QX.DLL" (program directory, then
 * current directory, then the system search). Its 18 entries are looked up
 * by these exact names; each takes its arguments in the order given (the
 * order the original caller pushes them) and all run on the caller's
 * thread. Text goes in as the address of a short string (length byte and
 * text) in a 256-byte buffer the caller owns. A handle is what OrteluneInit
 * gave; 0 means no BBS. A kind selects the entries of a list: 0 subboards
 * (conferences), 1 file directories (file libraries); entries of a kind are
 * numbered from 1 in the BBS's own order.
 *
 * Records are the library's: the caller reads and writes the named fields
 * in place, through the address the library gives, and leaves every other
 * byte as the library set it. String fields are short strings of the width
 * given; a caller never reads past the field. outside/qx is a complete
 * stand-in library with its own store. */

#define QX_KIND_SUBBOARDS 0
#define QX_KIND_DIRECTORIES 1

#pragma pack(push, 1)
/* One entry of a list, as GetListIndexNo fills the caller's buffer. */
typedef struct TBbsListEntry {
  uint8_t Reserved1[17];
  uint8_t Name[50];        /* short name, at most 49 characters */
  uint8_t Description[93]; /* at most 92 characters */
} TBbsListEntry;

/* The open file directory's header (GetDirHeaderPtr). */
typedef struct TBbsDirectoryHeader {
  uint8_t Reserved1[17];
  uint8_t Description[41]; /* at most 40 characters */
  uint8_t Reserved2[27];
  uint8_t Path[46];        /* at most 45 characters: where the files lie */
  uint8_t Reserved3[16];
  uint8_t CdRom;           /* 0 no, 1 yes */
  uint8_t Reserved4[108];
} TBbsDirectoryHeader;

/* The open subboard's record (GetSubtypePtr). */
typedef struct TBbsSubboardRecord {
  uint8_t Reserved1[6];
  uint8_t Description[41]; /* at most 40 characters */
  uint8_t Reserved2[26];
  int32_t MaxMessages;     /* little-endian */
  int16_t MaxLength;       /* little-endian, signed */
  uint8_t AllowAnonymous;  /* 0/1 */
  uint8_t Reserved3;       /* the caller never touches it */
  uint8_t AutoPurge;       /* 0/1 */
  uint8_t Compression;     /* 0/1 */
  uint8_t Reserved4[24];
  uint8_t NewMark1;        /* set to 1 by the caller in a new subboard only */
  uint8_t Reserved5[4];
  uint8_t NewMark2;        /* set to 1 by the caller in a new subboard only */
  uint8_t Reserved6[15];
} TBbsSubboardRecord;
#pragma pack(pop)

/* Called during a repair, on the repairing thread: percent 0 to 100 and a
 * zero-terminated status text, valid during the call. */
typedef void (*TBbsProgressCallback)(int32_t percent, const char* status);

/* The entries, in slot order. Results other than those commented are not
 * consulted by the tools. */
typedef int32_t (*TQxOrteluneInit)(const uint8_t* path, const uint8_t* empty1, const uint8_t* empty2,
                                   const uint8_t* one); /* handle; 0 = no BBS there */
typedef int32_t (*TQxOrteluneDone)(int32_t handle);
typedef int32_t (*TQxSubListCount)(int32_t handle, int32_t kind); /* 0 or less: none */
typedef int32_t (*TQxGetListIndexNo)(int32_t handle, int32_t n, int32_t kind, TBbsListEntry* entry);
typedef int32_t (*TQxOpenSub)(int32_t handle, const uint8_t* name, int32_t a1, int32_t a0, int32_t b0);
typedef int32_t (*TQxCloseSub)(int32_t handle);
typedef TBbsSubboardRecord* (*TQxGetSubtypePtr)(int32_t handle); /* NULL: none open */
typedef int32_t (*TQxChangeSub)(int32_t handle); /* stores the open record */
typedef int32_t (*TQxAddSubboard)(int32_t handle, const uint8_t* name, const TBbsSubboardRecord* record,
                                  const uint8_t* path); /* low byte not 0: created */
typedef int32_t (*TQxDeleteSubboard)(int32_t handle, const uint8_t* name, int32_t one);
typedef int32_t (*TQxRepairSubboard)(int32_t handle, TBbsProgressCallback progress); /* low byte 0: busy */
typedef int32_t (*TQxOpenDirByName)(int32_t handle, const uint8_t* name, int32_t zero);
typedef int32_t (*TQxCloseDir)(int32_t handle);
typedef TBbsDirectoryHeader* (*TQxGetDirHeaderPtr)(int32_t handle); /* NULL: none open */
typedef int32_t (*TQxChangeDir)(int32_t handle); /* stores the open header */
typedef int32_t (*TQxAddDirectory)(int32_t handle, const uint8_t* name, const TBbsDirectoryHeader* header,
                                   const uint8_t* path); /* low byte not 0: created */
typedef int32_t (*TQxDeleteDirectory)(int32_t handle, const uint8_t* name, int32_t one);
typedef int32_t (*TQxRepairLibrary)(int32_t handle, TBbsProgressCallback progress); /* low byte 0: busy */

/* ---- Sizes and offsets (x86-64) ---------------------------------------- */

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
HALV_STATIC_ASSERT(sizeof(TConnectionInfo) == 80, "TConnectionInfo is 80 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, TempDir) == 24, "TempDir at 24");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Cid) == 32, "Cid at 32");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, User) == 40, "User at 40");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Password) == 48, "Password at 48");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, SentUser) == 56, "SentUser at 56");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, CallContext) == 64, "CallContext at 64");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, SkipEngine) == 68, "SkipEngine at 68");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, UnloadAfterCall) == 72, "UnloadAfterCall at 72");
HALV_STATIC_ASSERT(sizeof(TemplateInfo) == 280, "TemplateInfo is 280 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TemplateInfo, InputFile) == 8, "InputFile at 8");
HALV_STATIC_ASSERT(__builtin_offsetof(TemplateInfo, TagCount) == 136, "TagCount at 136");
HALV_STATIC_ASSERT(__builtin_offsetof(TemplateInfo, Tags) == 144, "Tags at 144");
HALV_STATIC_ASSERT(__builtin_offsetof(TemplateInfo, Reserved) == 152, "Reserved at 152");
HALV_STATIC_ASSERT(sizeof(TEngineJob) == 408, "TEngineJob is 408 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TEngineJob, OutputFile) == 280, "OutputFile at 280");
#endif
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Marker) == 0, "Marker at 0");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Closed) == 4, "Closed at 4");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Socket) == 8, "Socket at 8");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, ClientIp) == 12, "ClientIp at 12");
HALV_STATIC_ASSERT(__builtin_offsetof(TConnectionInfo, Reserved) == 16, "Reserved at 16");
HALV_STATIC_ASSERT(sizeof(TemplateTag) == 34, "TemplateTag is 34 bytes, packed");
HALV_STATIC_ASSERT(__builtin_offsetof(TemplateTag, Name) == 4, "Name at 4");
HALV_STATIC_ASSERT(sizeof(TUserItem) == 264, "TUserItem: a date-time and a short string");
HALV_STATIC_ASSERT(sizeof(TBbsListEntry) == 160, "BBS list entry is 160 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsListEntry, Name) == 17, "entry name at 17");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsListEntry, Description) == 67, "entry description at 67");
HALV_STATIC_ASSERT(sizeof(TBbsDirectoryHeader) == 256, "directory header is 256 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsDirectoryHeader, Description) == 17, "directory description at 17");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsDirectoryHeader, Path) == 85, "directory path at 85");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsDirectoryHeader, CdRom) == 147, "CD-ROM flag at 147");
HALV_STATIC_ASSERT(sizeof(TBbsSubboardRecord) == 128, "subboard record is 128 bytes");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, Description) == 6, "subboard description at 6");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, MaxMessages) == 73, "maximum messages at 73");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, MaxLength) == 77, "maximum length at 77");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, AllowAnonymous) == 79, "anonymous at 79");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, Reserved3) == 80, "untouched byte at 80");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, AutoPurge) == 81, "automatic purge at 81");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, Compression) == 82, "compression at 82");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, NewMark1) == 107, "new-subboard mark at 107");
HALV_STATIC_ASSERT(__builtin_offsetof(TBbsSubboardRecord, NewMark2) == 112, "new-subboard mark at 112");

#ifdef __cplusplus
}
#endif

#endif /* HALVORINE_TANDREL_H */
