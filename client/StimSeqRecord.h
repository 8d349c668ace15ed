/* One electrode's stimulation sequence as C callers hand it to the library: the electrode
 * index, the number of words used, and the words themselves (header word first, then the
 * control words). 1004 bytes. Valid C, so that the library's public header can carry the
 * same definition under the same guard. */
#ifndef KL_STIM_SEQ_T_DEFINED
#define KL_STIM_SEQ_T_DEFINED

#include <stdint.h>

#define KL_STIM_SEQ_MAX_WORDS 249

typedef struct StimSeq_t {
    int32_t elec;  /* 0-based electrode index */
    int32_t count; /* words used, header word included */
    uint32_t words[KL_STIM_SEQ_MAX_WORDS];
} StimSeq_t;

#endif /* KL_STIM_SEQ_T_DEFINED */
