/* The download engine's flat C interface: a program sets the process-wide settings once,
 * then per download creates a task, sets it up, starts it with one of the three download
 * calls, follows it through its status block and its two notification messages, waits for
 * its thread and destroys it.
 *
 * Types are fixed-width; results are 1 (true) or 0 (false). Texts are NUL-terminated GBK
 * bytes. A window handle is the message layer's 64-bit handle (0: none); the notifications
 * are sent to it synchronously from the task's thread:
 *   TARN_MSG_STARTED (wParam = the callback value, lParam = 0 at the start; with block
 *                     messages on, again as data arrives, lParam = the sources in use)
 *   TARN_MSG_ENDED   (wParam = the callback value, lParam = an end code)
 * Windows belong to the message layer of the program that links the engine in (the
 * launcher); libqgtarn.so keeps its own layer private, so its callers poll the status
 * block and pass no window.
 *
 * Every function may be called from any thread. Those that wait for the task's thread
 * (DestroyTarnTask, TarnSetFileName, TarnWaitDownload) handle the notifications sent to the
 * calling thread's windows while they wait; they must not be called from the procedure
 * that is handling one of the task's own notifications, for which the task's thread waits. */
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
/* Cancels a running download, waits for the task's thread and frees the task; NULL: 1. */
TARN_API int32_t DestroyTarnTask(TarnTask* task);
/* The caller's name, written to the log as each download starts. */
TARN_API int32_t TarnSetCaller(TarnTask* task, const char* caller);
TARN_API int32_t TarnSetCallback(TarnTask* task, uint64_t window, uint32_t value);
/* Nonzero: TARN_MSG_STARTED is sent again as data arrives; 0 (the default): only at the
 * start. */
TARN_API int32_t TarnSetBlockMessage(TarnTask* task, int32_t block);
/* Kept in the file's resume state ("DlMode"). */
TARN_API int32_t TarnSetDownloadMode(TarnTask* task, uint32_t mode);
/* Accepted and without effect: this engine sends no statistics reports. */
TARN_API int32_t TarnSetPingback(TarnTask* task, uint32_t pingback);

TARN_API int32_t TarnDownloadUrl(TarnTask* task, const char* url, const char* referer,
                                 const char* fileName);
TARN_API int32_t TarnResumeFile(TarnTask* task, const char* fileName);
TARN_API int32_t TarnDownloadUrllist(TarnTask* task, const char* const* urls, int32_t count,
                                     const char* fileName);
/* The file of the task's next download; refused (0) while one runs. */
TARN_API int32_t TarnSetFileName(TarnTask* task, const char* fileName);

/* Stops ask the task's thread and return at once; TARN_MSG_ENDED tells the end. A pause
 * keeps the resume state, a cancel ends with TARN_END_FAILED. For a task (NULL: 0):
 *   TarnPauseDownload          1 while a single download runs, else 0
 *   TarnCancelDownload         1, also when nothing runs
 *   TarnPauseDownloadUrllist   pauses a list download's current URL; 1 also when no list
 *                              download runs
 *   TarnCancelDownloadUrllist  as TarnCancelDownload */
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
/* The lookup server asked for more sources and peers ("HOST:PORT"; NULL or "": none). It
 * is asked beside the transfer, which starts from the caller's URLs at once; the question
 * ends within 20 s, or with the download. */
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
