/* Compiled as C: the data access declarations of the public header, and the layouts a C
 * compiler gives its event records. */
#include "include/kestlib.h"

#include <stddef.h>

void kestlib_data_c_layout(size_t out[14]);
int kestlib_data_c_calls(void);

/* Sizes and field offsets of the segment and digital event records. */
void kestlib_data_c_layout(size_t out[14]) {
    out[0] = sizeof(KestPacket);
    out[1] = offsetof(KestPacket, timestamp);
    out[2] = sizeof(KestSegmentDataPacketFixed);
    out[3] = offsetof(KestSegmentDataPacketFixed, dataKind);
    out[4] = offsetof(KestSegmentDataPacketFixed, sequence);
    out[5] = offsetof(KestSegmentDataPacketFixed, unit);
    out[6] = offsetof(KestSegmentDataPacketFixed, waveform);
    out[7] = sizeof(((KestSegmentDataPacketFixed*)0)->waveform);
    out[8] = sizeof(KestDigitalEventPacket);
    out[9] = offsetof(KestDigitalEventPacket, sequence);
    out[10] = offsetof(KestDigitalEventPacket, reason);
    out[11] = offsetof(KestDigitalEventPacket, parallel);
    out[12] = offsetof(KestDigitalEventPacket, sma);
    out[13] = offsetof(KestDigitalEventPacket, reserved3);
}

/* Calls made the way a C program makes them; without a connection each returns
 * KL_ERR_NOT_INITIALIZED. Returns how many did. */
int kestlib_data_c_calls(void) {
    char names[4][128];
    KestSegmentDataPacketFixed segments[2];
    KestDigitalEventPacket events[2];
    int sequences[2];
    float data[8];
    float lower, upper;
    uint32_t start, list[4];
    const uint32_t electrodes[2] = {0, 1};
    const uint32_t outputs[1] = {4}, values[1] = {0xFF};
    int32_t results[10];
    int i, count = 0;

    results[0] = kl_cont_raw(&start, data, 4, electrodes, 2, 0);
    results[1] = kl_list_elec(list, 4, "all");
    results[2] = kl_get_fe_streams(names, 4, 0);
    results[3] = kl_spk_data(segments, NULL, 2, 0);
    results[4] = kl_stim_data(segments, sequences, 2, 0);
    results[5] = kl_digin(events, NULL, 2);
    results[6] = kl_digin_bit_change_set(1);
    results[7] = kl_digout(outputs, values, 1);
    results[8] = kl_spk_thresh(&lower, &upper, 0);
    results[9] = kl_get_fe(0);
    for (i = 0; i < 10; ++i) {
        if (results[i] == KL_ERR_NOT_INITIALIZED)
            ++count;
    }
    return count;
}
