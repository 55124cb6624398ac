/* A C program built against the installed library alone (its header and qgtarn.pc): the
 * interface links from C, a task is made and freed, and the stop calls answer. */
#include <quillgate/tarn.h>
#include <stdio.h>

int main(void) {
    TarnInitLibrary();
    TarnTask* task = CreateTarnTask();
    if (!task || TarnCancelDownload(task) != 1 || TarnPauseDownload(task) != 0 ||
        DestroyTarnTask(task) != 1) {
        return 1;
    }
    puts("ok");
    return 0;
}
