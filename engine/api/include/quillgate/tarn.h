/* The download engine's flat C interface: a program sets the process-wide settings once,
 * then per download creates a task, sets it up, starts it with one of the three download
 * calls, follows it through its status block and its two notification messages, waits for
 * its thread and destroys it.
 *
 * Types are fixed-width; results are 1 (true) or 0 (false). Texts are NUL-terminated GBK
 * bytes. A window handle is the message layer's 64-bit handle (0: none); the notifications
 * are sent to it synchronously from the task's thread:
 *   TARN_MSG_STARTED (wParam = the callback value, lParam = 0, later a source's value)
 *   TARN_MSG_ENDED   (wParam = the callback value, lParam = an end code)
 * Every function may be called from any thread. */
#ifndef QUILLGATE_TARN_H
#define QUILLGATE_TARN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TARN_API __attribute__((visibility("default")))
#else
#define TARN_API
#endif

typedef struct TarnTask TarnTask; /* opaque */

#define TARN_MSG_STARTED 0x2400u
#define TARN_MSG_ENDED 0x2401u

#define TARN_END_COMPLETED 0
#define TARN_END_FAILED 1 /* cancelled or failed */
#define TARN_END_PAUSED 2
#define TARN_END_LIST_FAILED 12 /* every URL of a list failed */

#define TARN_STATUS_IDLE 0
#define TARN_STATUS_DOWNLOADING 1
#define TARN_STATUS_COMPLETED 2
#define TARN_STATUS_PAUSED 3
#define TARN_STATUS_ENDED 4 /* cancelled or failed */

#define TARN_STATUS_BLOCK_SIZE 832

/* A local date and time, as the status block holds it (16 bytes). */
typedef struct TarnSystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
} TarnSystemTime;

/* The fields of the status block that callers read, at their offsets. */
#define TARN_STATUS_SOURCES_OFFSET 760    /* int32_t, sources with a connection open now */
#define TARN_STATUS_START_TIME_OFFSET 768 /* TarnSystemTime */
#define TARN_STATUS_END_TIME_OFFSET 784   /* TarnSystemTime */
#define TARN_STATUS_TOTAL_OFFSET 800      /* int64_t */
#define TARN_STATUS_RECEIVED_OFFSET 808   /* int64_t */
#define TARN_STATUS_STATE_OFFSET 816      /* uint32_t, TARN_STATUS_* */
#define TARN_STATUS_RATIO_OFFSET 824      /* double, 1.0 once a download starts */

/* Sets the process's log to none; each CreateTarnTask then reads the log target (the
 * string "LogFileName" under HKEY_LOCAL_MACHINE "Software\\velko\\p2p" of the registry
 * store; absent: none). */
TARN_API int32_t TarnInitLibrary(void);
TARN_API void TarnSetUserID(const char* userId);
TARN_API void TarnSetIPCPort(uint32_t port);
TARN_API uint32_t TarnGetPort(void);

TARN_API TarnTask* CreateTarnTask(void);
TARN_API int32_t DestroyTarnTask(TarnTask* task);
TARN_API int32_t TarnSetCaller(TarnTask* task, const char* caller);
TARN_API int32_t TarnSetCallback(TarnTask* task, uint64_t window, uint32_t value);
TARN_API int32_t TarnSetBlockMessage(TarnTask* task, int32_t block);
TARN_API int32_t TarnSetDownloadMode(TarnTask* task, uint32_t mode);
TARN_API int32_t TarnSetPingback(TarnTask* task, uint32_t pingback);

TARN_API int32_t TarnDownloadUrl(TarnTask* task, const char* url, const char* referer,
                                 const char* fileName);
TARN_API int32_t TarnResumeFile(TarnTask* task, const char* fileName);
TARN_API int32_t TarnDownloadUrllist(TarnTask* task, const char* const* urls, int32_t count,
                                     const char* fileName);
TARN_API int32_t TarnSetFileName(TarnTask* task, const char* fileName);

TARN_API int32_t TarnPauseDownload(TarnTask* task);
TARN_API int32_t TarnCancelDownload(TarnTask* task);
TARN_API int32_t TarnPauseDownloadUrllist(TarnTask* task);
TARN_API int32_t TarnCancelDownloadUrllist(TarnTask* task);

/* Copies the task's status block (TARN_STATUS_BLOCK_SIZE bytes) into `out`. */
TARN_API int32_t TarnGetStatusInfo(TarnTask* task, void* out);
TARN_API int32_t TarnCommitFile(TarnTask* task, const char* fileName, const char* md5);
/* Waits until the task's thread has ended. */
TARN_API int32_t TarnWaitDownload(TarnTask* task);

/* Additions for programs that drive the engine themselves (qg-get). Each takes effect for
 * downloads started afterwards. */
/* The lookup server asked for more sources and peers ("HOST:PORT"; NULL or "": none). */
TARN_API void TarnSetLookupServer(const char* hostAndPort);
/* Connections to each source, and in all, of every later download (0 keeps the default). */
TARN_API void TarnSetConnectionLimits(uint32_t perSource, uint32_t inAll);
/* The file's expected MD5 (32 hex digits; NULL or "": none), checked before the file is
 * put at its name. */
TARN_API int32_t TarnSetExpectedMD5(TarnTask* task, const char* md5);
/* Further sources of the same file for the task's next download (by URL or resumed),
 * fetched at the same time as its own URL; at most 64. */
TARN_API int32_t TarnAddMirrors(TarnTask* task, const char* const* urls, int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* QUILLGATE_TARN_H */
