/* A C program built against the installed kestlib package: connects to the processor,
 * waits for some data, lists the electrodes, reads raw samples of the first one, closes. */
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
    /* Wait (at most 20 s) until a tenth of a second of data has arrived. */
    const uint32_t first = kl_time();
    const struct timespec pause = {0, 10 * 1000 * 1000};
    for (int i = 0; i < 2000 && kl_time() - first < 3000; ++i) {
        nanosleep(&pause, NULL);
    }
    uint32_t electrodes[1024];
    const int count = kl_list_elec(electrodes, 1024, "all");
    float samples[100];
    uint32_t start = 0;
    const int got = count > 0 ? kl_cont_raw(&start, samples, 100, electrodes, 1, 0) : -1;
    printf("kestlib %s: %d electrodes, %d raw samples of electrode %u from time %u\n", version,
           count, got, count > 0 ? electrodes[0] : 0u, start);
    kl_close();
    return count > 0 && got == 100 && start != 0 ? 0 : 1;
}
