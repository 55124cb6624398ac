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

/* Why a download ended without its file (status TARN_STATUS_ENDED):
 *   NO_SOURCE   no source left that could deliver the rest
 *   DIGEST      the file did not match its MD5, and no source mended it
 *   SIZE_LIMIT  the file is longer than the size limit, or a source sent more
 *   BLOCK_LIST  the block list set for it could not be had or did not match its SHA-256
 *   DATA_FILE   the file could not be written or put at its name */
#define TARN_FAILURE_NONE 0
#define TARN_FAILURE_NO_SOURCE 1
#define TARN_FAILURE_DIGEST 2
#define TARN_FAILURE_SIZE_LIMIT 3
#define TARN_FAILURE_BLOCK_LIST 4
#define TARN_FAILURE_DATA_FILE 5
#define TARN_FAILURE_CANCELLED 6

/* A local date and time, as the status block holds it (16 bytes). */
typedef struct TarnSystemTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
} TarnSystemTime;

/* The fields of the status block that callers read, at their offsets. */
/* char[TARN_STATUS_BLAMED_URL_SIZE], NUL-terminated: the URL of the last source dropped for
 * sending wrong bytes ("" when none) */
#define TARN_STATUS_BLAMED_URL_OFFSET 0
#define TARN_STATUS_BLAMED_URL_SIZE 512
#define TARN_STATUS_BLAMED_OFFSET 752     /* int32_t, sources dropped for sending wrong bytes */
#define TARN_STATUS_FAILURE_OFFSET 756    /* uint32_t, TARN_FAILURE_*: why the download ended */
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
/* The port of the engine's block server (see Sharing); 0 while it does not run. */
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
 * ends within 20 s, or with the download. Its sources are used only while their bytes can
 * be checked (the caller's MD5 or a block list). When the caller's URLs fail before it has
 * answered, the download waits for the answer (the status then already reads
 * TARN_FAILURE_NO_SOURCE) and runs once more with the sources it names. */
TARN_API void TarnSetLookupServer(const char* hostAndPort);
/* Connections to each source, and in all, of every later download (0 keeps the default). */
TARN_API void TarnSetConnectionLimits(uint32_t perSource, uint32_t inAll);
/* The file's expected MD5 (32 hex digits; NULL or "": none), checked before the file is
 * put at its name. */
TARN_API int32_t TarnSetExpectedMD5(TarnTask* task, const char* md5);
/* Further sources of the same file for the task's next download (by URL or resumed),
 * fetched at the same time as its own URL; at most 64. */
TARN_API int32_t TarnAddMirrors(TarnTask* task, const char* const* urls, int32_t count);

/* Sharing. While a download runs with a lookup server set, the engine's block server (one
 * per process) serves the bytes it holds that passed their checks (each block against the
 * block list; without one, the whole file once it matched its MD5) and announces them at the
 * lookup server ("POST /announce", renewed well within the time to live the server gives);
 * other engines ask it for its held map and fetch those bytes. A finished file is seeded
 * from where it was put for the seeding time, and no longer once its size or modification
 * time changes. Everything is withdrawn at the lookup server ("POST /withdraw") when it
 * stops being served and when the process ends (an atexit handler: at most a few seconds).
 * These settings are process-wide. */
/* Where the block server listens: a literal IPv4 address (NULL or "": 127.0.0.1, the
 * default, which only engines on this machine reach) and a port (0: a free one, see
 * TarnGetPort). Only before the block server starts (with the first download that has a
 * lookup server): 1 when taken, 0 when the server runs already or the address is not one. */
TARN_API int32_t TarnSetPeerListen(const char* address, uint16_t port);
/* How long a finished file is seeded (from its end, while the process lives): 0 (the
 * default) not at all, TARN_SEED_WHILE_RUNNING until the process ends. For downloads that
 * finish afterwards. */
#define TARN_SEED_WHILE_RUNNING 0xFFFFFFFFu
TARN_API void TarnSetSeedSeconds(uint32_t seconds);
/* The upload limit of the whole engine: bytes per second of all uploads together
 * (TARN_UPLOAD_UNLIMITED: none) and uploads at once (at most 64; more peers asking are
 * answered "busy"); 0 keeps the current value of either. Default 1 MiB/s and 8: a player's
 * uplink (often a few MB/s, and shared with the game) keeps most of its room, and eight
 * peers still fill it. Takes effect at once. */
#define TARN_UPLOAD_UNLIMITED 0xFFFFFFFFu
TARN_API void TarnSetUploadLimit(uint32_t bytesPerSecond, uint32_t connections);
/* The finished files being seeded now. */
TARN_API uint32_t TarnGetSeedingCount(void);

/* Integrity. A block list holds the SHA-256 of every 256 KiB block of the file and of the
 * whole file (format: engine/README.md); with one, the engine checks each block as it
 * arrives and keeps only those that match, and it may then take bytes from the sources a
 * lookup names. Without one set, the engine looks for the file's URL + ".blocks" beside the
 * file on its first URL and uses it when it is there. */
/* A block list in a local file (NULL or "": none), and its SHA-256 (64 hex digits; NULL or
 * "": not checked). A named list that cannot be read or does not match ends the download
 * with TARN_FAILURE_BLOCK_LIST. For the task's next download. */
TARN_API int32_t TarnSetBlockList(TarnTask* task, const char* fileName, const char* sha256);
/* The same for a list fetched from `url`; with `url` NULL or "" and a digest, the digest is
 * that of the list found beside the file, which must then be there. */
TARN_API int32_t TarnSetBlockListUrl(TarnTask* task, const char* url, const char* sha256);
/* The most bytes the task's next file may have (0: the default, 16 GiB): a longer file, or a
 * source that sends more without telling a length, ends it with TARN_FAILURE_SIZE_LIMIT. */
TARN_API int32_t TarnSetSizeLimit(TarnTask* task, int64_t bytes);
/* Writes the block list of the file `fileName` to `listName` (replacing it); false when the
 * file cannot be read (or is over 256 GiB) or the list cannot be written. */
TARN_API int32_t TarnMakeBlockList(const char* fileName, const char* listName);

#ifdef __cplusplus
}
#endif

#endif /* QUILLGATE_TARN_H */
