/* kestlib: the C-callable interface to a PAX processor.
 *
 * Every call has C linkage and returns a signed 32-bit status code (or a count);
 * results go to caller-owned pointers and buffers whose sizes are passed along.
 * Nothing is thrown across this interface. */
#ifndef KESTLIB_H
#define KESTLIB_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KL_API __attribute__((visibility("default")))
#else
#define KL_API
#endif

/* Seen from C++, every call is declared not to throw. */
#ifdef __cplusplus
#define KL_NOEXCEPT noexcept
#else
#define KL_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Status codes */

#define KL_SUCCESS 0
#define KL_ERR_UNKNOWN (-1)
#define KL_ERR_NOT_INITIALIZED (-2)
#define KL_ERR_UNSUPPORTED (-3)
#define KL_ERR_NO_RESPONSE (-4)
#define KL_ERR_INVALID_ELECTRODE (-5)
#define KL_ERR_INVALID_PARAMETER (-6)
#define KL_ERR_INVALID_NETWORK (-7)
#define KL_ERR_OPERATOR_NOT_FOUND (-8)
#define KL_ERR_TRIAL_STATUS_INVALID (-9)

/* Writes the text of a status code, cut to size bytes (NUL included). Codes outside
 * the list above give "unexpected error!". Returns 0. */
KL_API int32_t kl_error_string(char* buffer, size_t size, int code) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Connection options */

/* Which network to reach the processor on: wired is 192.168.42.x, wireless 192.168.43.x. */
typedef int32_t KestConnectionPolicy;
#define KL_PREFER_WIRED 0
#define KL_PREFER_WIRELESS 1
#define KL_WIRED_ONLY 2
#define KL_WIRELESS_ONLY 3

typedef struct KestConnectionOptions {
    KestConnectionPolicy policy;
    int32_t use_udp;    /* 0 = TCP; the calls that take options support TCP only */
    int32_t timeout_ms; /* >= 0 */
} KestConnectionOptions;

/* {prefer wired, TCP, 500 ms}: the processor-status probe's default. */
KL_API extern const KestConnectionOptions* const KL_DEFAULT_STATUS_CONNECTION_OPTIONS;
/* {prefer wired, TCP, 10000 ms}: used when an operator is added without options. */
KL_API extern const KestConnectionOptions* const KL_DEFAULT_CONNECTION_OPTIONS;

/* ------------------------------------------------------------------------
 * Processor error messages */

/* A warning or error reported by the processor. Levels 6 and 7 are errors, every other
 * level a warning. Messages handed out by the library are owned by the caller and
 * released with kl_error_free_message. */
typedef struct KestErrorMessage_t {
    uint32_t level;
    uint32_t code;
    uint8_t reserved;
    uint8_t detail1;
    uint8_t detail2;
    uint8_t detail3;
    char* text; /* NUL-terminated, never null in a message made by the library */
} KestErrorMessage_t;

/* Called on the link thread for every message that arrives, in registration order, after
 * the message is queued and the cache's lock is released: it may query the library, but
 * it holds up the link while it runs. */
typedef void (*KestErrorCallback)(void* user_data, const KestErrorMessage_t* message);

/* A new message with the same fields and a copy of the text; null for a null message
 * or when memory runs out. */
KL_API KestErrorMessage_t* kl_error_copy_message(const KestErrorMessage_t* message) KL_NOEXCEPT;
/* Frees the text and the message; null is ignored. */
KL_API void kl_error_free_message(KestErrorMessage_t* message) KL_NOEXCEPT;
/* 1 when the message is an error (level 6 or 7), 0 for a warning or a null message. */
KL_API int32_t kl_error_requires_error(const KestErrorMessage_t* message) KL_NOEXCEPT;

/* The calls below that need an open connection print "<call>: kestlib not initialized"
 * to standard output and return KL_ERR_NOT_INITIALIZED when there is none. A null pointer
 * that a call needs gives KL_ERR_INVALID_PARAMETER. */

/* Number of queued processor messages. */
KL_API int32_t kl_error_check(void) KL_NOEXCEPT;
/* Takes the most recently queued message (null when none); the caller frees it with
 * kl_error_free_message. */
KL_API int32_t kl_error_pop(KestErrorMessage_t** message) KL_NOEXCEPT;
/* Registers a callback for every arriving message; a pair already registered stays
 * registered once. */
KL_API int32_t kl_error_register_callback(KestErrorCallback callback, void* user_data) KL_NOEXCEPT;
/* Removes every registration of the pair. */
KL_API int32_t kl_error_unregister_callback(KestErrorCallback callback,
                                            void* user_data) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Library frame */

/* Not available: prints "NOT IMPLEMENTED YET" and returns KL_ERR_UNKNOWN. */
KL_API int32_t kl_open(void) KL_NOEXCEPT;
/* Opens the connection over UDP (sending to the wired network's broadcast address) or TCP
 * (to host 1 of the wired network, else of the wireless one), runs the start-up handshake
 * and returns 0 once the processor's modules and properties are known. An open while a
 * connection exists closes it and fails; a failed open leaves nothing behind. */
KL_API int32_t kl_open_udp(void) KL_NOEXCEPT;
KL_API int32_t kl_open_tcp(void) KL_NOEXCEPT;
/* The same with an explicit processor address (null or empty: the defaults above). UDP
 * sends there instead of the broadcast address; TCP connects there only. */
KL_API int32_t kl_open_udp_addr(const char* address) KL_NOEXCEPT;
KL_API int32_t kl_open_tcp_addr(const char* address) KL_NOEXCEPT;
/* Closes the connection: 0 when an initialised connection was closed, -1 otherwise. */
KL_API int32_t kl_close(void) KL_NOEXCEPT;

/* Whether a processor answers on its presence port; needs no connection. *found is 1 or
 * 0. Options null: KL_DEFAULT_STATUS_CONNECTION_OPTIONS. A prefer policy that finds
 * nothing on its first network probes the other one as well. */
KL_API int32_t kl_processor_status(int* found, const KestConnectionOptions* options) KL_NOEXCEPT;

/* The processor time in 30 kHz ticks; 0 without an initialised connection. */
KL_API uint32_t kl_time(void) KL_NOEXCEPT;
/* Version texts, cut to size bytes. */
KL_API int32_t kl_lib_version(char* buffer, int size) KL_NOEXCEPT;
KL_API int32_t kl_kest_version(char* buffer, int size) KL_NOEXCEPT;
KL_API int32_t kl_paxexec_version(char* buffer, int size) KL_NOEXCEPT;
KL_API int32_t kl_pax_serial(char* buffer, int size) KL_NOEXCEPT;
/* Hardware version text of the front end that carries the electrode (0-based). */
KL_API int32_t kl_fe_version(char* buffer, int size, int electrode) KL_NOEXCEPT;
/* Restarts the processor software and closes the connection; the next open reconnects. */
KL_API int32_t kl_processor_restart_software(void) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Operators */

/* Connects an operator application (TCP link only, else KL_ERR_INVALID_NETWORK) by a full
 * address or a short one ("n": host n of the wired or wireless network in policy order,
 * "a.b", "a.b.c"), asks it for its trial and signal selection descriptors and stores its
 * id. Null policy or timeout: those of KL_DEFAULT_CONNECTION_OPTIONS.
 * KL_ERR_OPERATOR_NOT_FOUND when none of the addresses answers. */
KL_API int32_t kl_operator_add(int* id, const char* address, const KestConnectionPolicy* policy,
                               const int* timeout_ms) KL_NOEXCEPT;
/* The id of a known processor or connected operator. */
KL_API int32_t kl_operator_lookup(int* id, const char* address) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Data access
 *
 * Electrode ids are 0-based: front-end electrodes port x 128 + slot x 32 + channel
 * (0-511), analog inputs from 10240. An int electrode argument below 0 gives
 * KL_ERR_INVALID_ELECTRODE; an electrode the processor does not have gives -1, as
 * stated per call. */

/* Event records as the processor sends them, copied whole. C++ callers find the same
 * records, by the same names, in cache/KestPacket.h. */
#ifdef __cplusplus
struct KestSegmentDataPacketFixed;
struct KestDigitalEventPacket;
#else
typedef struct KestPacket {
    uint8_t size;       /* length in 32-bit words, header included */
    uint8_t procId;     /* 1: the processor */
    uint8_t moduleId;   /* module that produced the packet */
    uint8_t streamId;   /* data stream of that module */
    uint32_t timestamp; /* processor time, 30 kHz ticks */
} KestPacket;

/* A spike or stimulation segment: 120 bytes. */
typedef struct KestSegmentDataPacketFixed {
    KestPacket header;
    uint8_t dataKind; /* 2 */
    uint8_t reserved;
    uint16_t sequence; /* counts the packets of the stream */
    uint16_t unit;     /* classification of the segment */
    uint16_t reserved2;
    int16_t waveform[52]; /* ADC counts */
} KestSegmentDataPacketFixed;

/* A digital input event: 28 bytes. */
typedef struct KestDigitalEventPacket {
    KestPacket header;
    uint8_t dataKind; /* 6 */
    uint8_t reserved;
    uint16_t sequence;
    uint8_t reason; /* why the event was sent */
    uint8_t reserved2;
    uint16_t parallel; /* parallel port value */
    uint16_t sma[4];   /* the four single-line inputs */
    uint32_t reserved3;
} KestDigitalEventPacket;
#endif

/* Continuous samples of `electrode_count` electrodes, `count` per electrode: electrode k's
 * samples land at data + k x count, oldest first, in microvolts ("HW Status": in the
 * physical channel's units). time 0 reads the newest samples, any other time the samples
 * from that processor time on. Consecutive electrodes of one front end are read from the
 * same start time; *start_time (when not null) receives the start of the window read last,
 * 0 when nothing was read. Returns the number of samples delivered for the last electrode:
 * 0 for a window that is no longer (or not yet) held, -1 for an electrode without a front
 * end, another negative value when its front end lacks the stream, KL_ERR_INVALID_PARAMETER
 * for a negative count or a null buffer. */
KL_API int32_t kl_cont_raw(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_lfp(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_emg(uint32_t* start_time, float* data, int count, const uint32_t* electrodes,
                           int electrode_count, uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_hires(uint32_t* start_time, float* data, int count,
                             const uint32_t* electrodes, int electrode_count,
                             uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_hifreq(uint32_t* start_time, float* data, int count,
                              const uint32_t* electrodes, int electrode_count,
                              uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_spkPreview(uint32_t* start_time, float* data, int count,
                                  const uint32_t* electrodes, int electrode_count,
                                  uint32_t time) KL_NOEXCEPT;
KL_API int32_t kl_cont_status(uint32_t* start_time, float* data, int count,
                              const uint32_t* electrodes, int electrode_count,
                              uint32_t time) KL_NOEXCEPT;

/* Writes at most `max` electrode ids, in module and channel order, of every front end
 * whose label contains `type` ("all" or "": every front end, analog inputs included);
 * returns how many were written. */
KL_API int32_t kl_list_elec(uint32_t* electrodes, int max, const char* type) KL_NOEXCEPT;
/* Index of the electrode's front end (its hardware module id / 2), -1 when it has none. */
KL_API int32_t kl_get_fe(uint32_t electrode) KL_NOEXCEPT;
/* Names of the streams the electrode's front end offers and has available, at most `max`
 * of them, into 128-byte slots; returns how many were written, -1 when the electrode has
 * no front end. */
KL_API int32_t kl_get_fe_streams(char names[][128], int max, int electrode) KL_NOEXCEPT;

/* Event reads empty the ring they read. Each returns the number of packets that arrived
 * since the previous read (which may exceed max; the newest min(max, that number, 1024)
 * records are copied, oldest first), or -1 when the electrode has no front end or the
 * front end no such ring. The second argument of kl_spk_data and kl_digin is not used;
 * `sequences` of kl_stim_data (may be null) receives each record's sequence number.
 * A null record buffer with max 0 only empties the ring and returns the count. */
KL_API int32_t kl_spk_data(KestSegmentDataPacketFixed* segments, int* ignored, int max,
                           int electrode) KL_NOEXCEPT;
/* 0 as well when the front end does not stimulate. */
KL_API int32_t kl_stim_data(KestSegmentDataPacketFixed* segments, int* sequences, int max,
                            int electrode) KL_NOEXCEPT;
KL_API int32_t kl_digin(KestDigitalEventPacket* events, int* ignored, int max) KL_NOEXCEPT;

/* The digital-input capture switch ("Capture Any Parallel Bit Change"): its value (0 or
 * 1), or -1 with "Digital IO not available" on standard error. The set returns 0 once the
 * change is on its way (the processor's echo updates what the query reports), -1 when the
 * switch is not available or the change could not be queued. */
KL_API int32_t kl_digin_bit_change(void) KL_NOEXCEPT;
KL_API int32_t kl_digin_bit_change_set(int on) KL_NOEXCEPT;

/* Drives digital outputs: outputs[i] (0-3 the single lines, 4 the 16-bit parallel port,
 * each at most once) takes values[i]. 0 once the command is on its way,
 * KL_ERR_INVALID_PARAMETER (nothing sent) for a count outside 1-5, an unknown or repeated
 * output or a null array, -1 when the command could not be queued. */
KL_API int32_t kl_digout(const uint32_t* outputs, const uint32_t* values, int count) KL_NOEXCEPT;

/* The electrode's spike thresholds. An electrode whose front end keeps no threshold for
 * it reads (-6554, 6554) and returns 0; an electrode without a front end reads the same
 * pair and returns -1. */
KL_API int32_t kl_spk_thresh(float* lower, float* upper, int electrode) KL_NOEXCEPT;
/* Sends a new threshold pair (finite values, else KL_ERR_INVALID_PARAMETER): 0 once it is
 * on its way, -1 when the electrode has no threshold record or the change could not be
 * queued. */
KL_API int32_t kl_spk_thresh_set(int electrode, float lower, float upper) KL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KESTLIB_H */
