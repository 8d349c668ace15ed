/* A C program built against the installed kestlib package: connects to the processor,
 * lists the electrodes, waits until raw samples of the first one can be read, closes. */
#include <kestlib.h>

#include <stdio.h>
#include <time.h>

int main(void) {
    char version[64];
    kl_lib_version(version, (int)sizeof version);
    if (kl_open_udp() != KL_SUCCESS) {
        char text[64];
        kl_error_string(text, sizeof text, KL_ERR_UNKNOWN);
        fprintf(stderr, "kest_consumer: open failed: %s\n", text);
        return 1;
    }
    /* Wait (at most 30 s) until a tenth of a second of raw data of the first electrode has
     * arrived: on a busy machine the link may pass over data while it catches up. */
    const struct timespec pause = {0, 10 * 1000 * 1000};
    uint32_t electrodes[1024];
    int count = 0;
    float samples[100];
    uint32_t start = 0;
    int got = -1;
    for (int i = 0; i < 3000; ++i) {
        count = kl_list_elec(electrodes, 1024, "all");
        got = count > 0 ? kl_cont_raw(&start, samples, 100, electrodes, 1, 0) : -1;
        if (got == 100 && start != 0) {
            break;
        }
        nanosleep(&pause, NULL);
    }
    printf("kestlib %s: %d electrodes, %d raw samples of electrode %u from time %u\n", version,
           count, got, count > 0 ? electrodes[0] : 0u, start);
    kl_close();
    return count > 0 && got == 100 && start != 0 ? 0 : 1;
}
