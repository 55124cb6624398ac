/* qgtarn_download URL FILE: fetches URL into FILE through the engine's C interface alone,
 * built against an installed libqgtarn-dev (pkg-config qgtarn). Polls the status block
 * until the download ends; exit 0 only when it completed. */
#include <quillgate/tarn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: qgtarn_download URL FILE\n", stderr);
        return 2;
    }
    TarnInitLibrary();
    TarnTask* task = CreateTarnTask();
    if (!task || !TarnDownloadUrl(task, argv[1], "", argv[2])) {
        fputs("qgtarn_download: the download did not start\n", stderr);
        return 1;
    }
    unsigned char block[TARN_STATUS_BLOCK_SIZE];
    uint32_t state = TARN_STATUS_IDLE;
    int64_t received = 0;
    const struct timespec pause = {0, 50 * 1000 * 1000};
    for (int polls = 0; polls < 1200; ++polls) { /* a minute at most */
        if (TarnGetStatusInfo(task, block)) {
            memcpy(&state, block + TARN_STATUS_STATE_OFFSET, sizeof state);
            memcpy(&received, block + TARN_STATUS_RECEIVED_OFFSET, sizeof received);
        }
        if (state > TARN_STATUS_DOWNLOADING) break;
        nanosleep(&pause, NULL);
    }
    if (state <= TARN_STATUS_DOWNLOADING) TarnCancelDownload(task);
    TarnWaitDownload(task);
    DestroyTarnTask(task);
    printf("state %u, %lld bytes\n", state, (long long)received);
    return state == TARN_STATUS_COMPLETED ? 0 : 1;
}
