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
 * Recording trials of operators */

/* The trial arguments as one record. A null pointer means the value is not given (inputs)
 * or not wanted (outputs); a text output is wanted only with a size above 0. */
typedef struct KestTrialParams {
    char* status;
    int32_t status_size;
    char* file_base;
    int32_t file_base_size;
    char* error_message;
    int32_t error_message_size;
    int32_t* stop_time;
    int32_t* auto_incr;
    int32_t* incr_num;
} KestTrialParams;

/* Reads, and when asked changes, the recording trial of an operator: 0 for the first
 * connected operator, else an id from kl_operator_add or kl_operator_lookup (only -1 means
 * none). status is "recording", "stopped" or "paused" (else KL_ERR_TRIAL_STATUS_INVALID,
 * before anything is sent); file_base (at most 511 characters are kept), stop_time,
 * auto_incr and incr_num are stored when given. The call fetches the operator's descriptor,
 * sends the change if there is one and fetches the answer; it reports the status text, the
 * file base, the operator's error message and the three numbers. Text outputs are emptied
 * and number outputs zeroed at entry. KL_ERR_OPERATOR_NOT_FOUND for an operator that is not
 * connected (or whose connection drops), KL_ERR_NO_RESPONSE when it does not answer within
 * about 2 s. */
KL_API int32_t kl_trial(int operator_id, const char* status, const char* file_base,
                        const int* stop_time, const int* auto_incr, const int* incr_num,
                        char* status_out, int status_out_size, char* file_base_out,
                        int file_base_out_size, char* error_out, int error_out_size,
                        int* stop_time_out, int* auto_incr_out, int* incr_num_out) KL_NOEXCEPT;
/* kl_trial with the inputs' status, file base and numbers and the outputs' buffers, sizes
 * and number pointers; either record may be null (nothing given, nothing wanted). */
KL_API int32_t kl_trial2(int operator_id, const KestTrialParams* outputs,
                         const KestTrialParams* inputs) KL_NOEXCEPT;

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

/* ------------------------------------------------------------------------
 * Stream switches, file-save selection and filters
 *
 * Streams are named by their short names ("raw", "spkfilt", "lfp", "spk", "stim", ...);
 * electrodes are 0-based as above (a negative one gives KL_ERR_INVALID_ELECTRODE, a null
 * name KL_ERR_INVALID_PARAMETER). */

/* Whether the electrode's stream is sent: its switch (0 or 1), -1 when the switch cannot
 * be resolved, KL_ERR_UNSUPPORTED (with "stream <s> not found for electrode <e>" on standard
 * error) when the electrode has no such stream. */
KL_API int32_t kl_signal(int electrode, const char* stream) KL_NOEXCEPT;
/* Switches the stream on (on != 0) or off: every switch of a continuous stream (one per
 * channel of its front end) or the electrode's own switch of a per-channel stream. 0 once
 * the change is on its way; KL_ERR_UNSUPPORTED for a stream the electrode lacks or that is
 * not available, -1 when its switch cannot be resolved or the change could not be queued. */
KL_API int32_t kl_signal_set(int electrode, const char* stream, int on) KL_NOEXCEPT;
KL_API int32_t kl_signal_raw(int electrode) KL_NOEXCEPT;
KL_API int32_t kl_signal_spk(int electrode) KL_NOEXCEPT;
KL_API int32_t kl_signal_spkPreview(int electrode) KL_NOEXCEPT; /* "spkfilt" */
KL_API int32_t kl_signal_lfp(int electrode) KL_NOEXCEPT;
KL_API int32_t kl_signal_stim(int electrode) KL_NOEXCEPT;
KL_API int32_t kl_signal_set_raw(int electrode, int on) KL_NOEXCEPT;
KL_API int32_t kl_signal_set_spk(int electrode, int on) KL_NOEXCEPT;
KL_API int32_t kl_signal_set_spkPreview(int electrode, int on) KL_NOEXCEPT;
KL_API int32_t kl_signal_set_lfp(int electrode, int on) KL_NOEXCEPT;
KL_API int32_t kl_signal_set_stim(int electrode, int on) KL_NOEXCEPT;

/* Whether the processor saves the electrode's stream to file: 1 or 0 (0 as well when its
 * front end's selection has no entry for the stream). KL_ERR_UNSUPPORTED for a stream the
 * electrode lacks or that is not available, KL_ERR_INVALID_PARAMETER when the processor
 * keeps no selection for the front end. */
KL_API int32_t kl_signal_save_local(int electrode, const char* stream) KL_NOEXCEPT;
/* Changes that selection; the processor's echo updates what kl_signal_save_local reports.
 * Nothing is sent when the selection already is as asked. Switching on a stream that the
 * selection has no entry for gives KL_ERR_UNSUPPORTED (switching it off gives 0); -1 when
 * the change could not be queued. */
KL_API int32_t kl_signal_save_set_local(int electrode, const char* stream, int on) KL_NOEXCEPT;
/* The same with the selection an operator keeps (stream link only, else
 * KL_ERR_INVALID_NETWORK). Operator 0 or 1: the first connected operator; otherwise an id
 * from kl_operator_add or kl_operator_lookup. KL_ERR_OPERATOR_NOT_FOUND when there is no
 * such operator or a request cannot be sent to it, KL_ERR_NO_RESPONSE when it does not
 * answer within a second, KL_ERR_INVALID_PARAMETER when none of its selections belongs to
 * the electrode's front end. */
KL_API int32_t kl_signal_save(int op, int electrode, const char* stream) KL_NOEXCEPT;
KL_API int32_t kl_signal_save_set(int op, int electrode, const char* stream, int on) KL_NOEXCEPT;

/* A filter as the processor describes it: the 148-byte head below, followed by
 * 4 x numStages float coefficients per stage (KL_FILTER_COEFFICIENTS). */
typedef struct KestFilterDesc {
    char label[128];
    float center;
    float lowCutoff;
    float highCutoff;
    uint8_t centerOrder;
    uint8_t centerFlags;
    uint8_t lowOrder;
    uint8_t lowFlags;
    uint8_t highOrder;
    uint8_t highFlags;
    uint8_t maxStages;
    uint8_t numStages;
} KestFilterDesc;
#define KL_FILTER_DESC_SIZE(stages) (sizeof(KestFilterDesc) + 16 * (size_t)(stages))
#define KL_FILTER_COEFFICIENTS(desc) ((float*)((char*)(desc) + sizeof(KestFilterDesc)))

/* The filter names of the electrode's front end ("lfp", "spike", ...), at most max into
 * 128-byte slots; how many were written, -1 for an electrode without a front end. */
KL_API int32_t kl_filter_list_names(char names[][128], int max, int electrode) KL_NOEXCEPT;
/* The number of the filter's choices and, through selection (may be null), the one in use
 * (0-based). -1 with a message on standard error for an unknown filter. */
KL_API int32_t kl_filter_list_selection(int* selection, int electrode,
                                        const char* filter) KL_NOEXCEPT;
/* Selects a choice (0-based): 0 once the change is on its way, -1 with a message for an
 * unknown filter or a selection outside the choices, or when it could not be queued. */
KL_API int32_t kl_filter_set(int electrode, const char* filter, int selection) KL_NOEXCEPT;
/* A new description of a choice's filter, freed by the caller with free(); null for an
 * unknown filter, selection or description (with a message) or without a connection. */
KL_API KestFilterDesc* kl_filter_get_desc(int electrode, const char* filter,
                                          int selection) KL_NOEXCEPT;
/* Uploads a filter into the custom slot (the last choice) of the electrode's filter. 0 once
 * it is on its way; -1 for an unknown filter; KL_ERR_INVALID_PARAMETER for a null
 * description or more stages than the slot or one packet can take; KL_ERR_UNSUPPORTED when
 * the slot cannot be found. */
KL_API int32_t kl_filter_set_custom(int electrode, const char* filter,
                                    const KestFilterDesc* description) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Processor peripherals
 *
 * Readings come from the processor's own module as the processor last reported them.
 * Panel numbers: buttons 1-4, LEDs 2-8. A number outside those, one whose property this
 * processor does not offer, or whose record is missing or too short gives
 * KL_ERR_UNSUPPORTED (-3) with nothing sent. */

typedef enum KL_BUTTON_ID {
    KL_BUTTON_STOP_STIM = 1,
    KL_BUTTON_EVENT = 2,
    KL_BUTTON_F1 = 3,
    KL_BUTTON_F2 = 4
} KL_BUTTON_ID;

#define KL_LED_EVENT 2
#define KL_LED_F1 3
#define KL_LED_F2 4
#define KL_LED_PORT_A 5 /* the port LEDs 5-8 hold a 32-bit value, the others 0 or 1 */
#define KL_LED_PORT_B 6
#define KL_LED_PORT_C 7
#define KL_LED_PORT_D 8

/* A power sensor reading. */
typedef struct KestSensorReading {
    float current;
    float voltage;
    float power;
} KestSensorReading;

/* Battery charge in percent (-1 when the processor reports none) and whether an external
 * battery is attached (0 or 1; 1 also when the processor's module is unknown). A null
 * pointer writes nothing. Return 0. */
KL_API int32_t kl_internal_battery(int32_t* percent) KL_NOEXCEPT;
KL_API int32_t kl_external_battery(int32_t* percent) KL_NOEXCEPT;
KL_API int32_t kl_external_battery_detected(int32_t* detected) KL_NOEXCEPT;
/* The wall and VDD power sensors: 0 (a null reading writes nothing), -3 when the processor
 * has no such sensor. */
KL_API int32_t kl_wall_sensor(KestSensorReading* reading) KL_NOEXCEPT;
KL_API int32_t kl_vdd_sensor(KestSensorReading* reading) KL_NOEXCEPT;
/* Plays a tone: frequency in Hz and duration in ms, each 0-65535 (else -6, nothing sent).
 * 0 once it is on its way (the processor's echo updates the stored tone), -3 when the
 * processor has no audio tone, -1 when it could not be queued. */
KL_API int32_t kl_audio_tone_set(const int32_t* frequency_hz,
                                 const int32_t* duration_ms) KL_NOEXCEPT;

/* Presses of a button since the previous query (the query resets the count). -1 when the
 * processor's module is unknown. */
KL_API int32_t kl_button_get_count(int32_t* count, int button) KL_NOEXCEPT;
/* Whether the processor watches a button or LED (sent without waiting for the echo): 0 once
 * on its way, -1 when it could not be queued. */
KL_API int32_t kl_button_set_monitor(int on, int button) KL_NOEXCEPT;
KL_API int32_t kl_led_set_monitor(int on, int led) KL_NOEXCEPT;
/* Sets an LED (LEDs 2-4: on for any value but 0; port LEDs: the value) and waits up to one
 * second for the processor to confirm it: 0 confirmed, -4 not confirmed. */
KL_API int32_t kl_led_set(int32_t value, int led) KL_NOEXCEPT;
/* An LED's state: 0 or 1, or a port LED's 32-bit value. -1 when the processor's module is
 * unknown. */
KL_API int32_t kl_led(int32_t* value, int led) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Implant transceivers
 *
 * A transceiver is a front end whose label contains "quarnel"; it is named by any of its
 * electrodes (0-511). An electrode without one prints why to standard error and gives -1
 * (kl_transceiver_cmd_response: KL_ERR_INVALID_ELECTRODE). A transceiver that lacks the
 * property a call needs gives -1 (kl_transceiver_cmd_response: -3), nothing sent. */

#define KL_TRANSCEIVER_WORDS 32

/* A command for the implant: the command register word and up to 32 data words (count
 * above 32: the first 32 are sent). */
typedef struct KestTransceiverCommand {
    uint16_t command;
    uint16_t count;
    uint16_t data[KL_TRANSCEIVER_WORDS];
} KestTransceiverCommand;

/* Asks the transceiver whether its implant is connected (waits up to 1 s): 0 with *connected
 * 0 or 1 as the processor answered, -1 when no answer came. */
KL_API int32_t kl_transceiver_connected(int electrode, int32_t* connected) KL_NOEXCEPT;
/* Starts (on) or stops the search for an implant, without waiting for the echo. */
KL_API int32_t kl_transceiver_enable(int electrode, int on) KL_NOEXCEPT;
/* Reads the implant's 32 status words (waits up to 5 s): 0, or -1 when nothing arrived. */
KL_API int32_t kl_transceiver_status(uint16_t status[KL_TRANSCEIVER_WORDS],
                                     int electrode) KL_NOEXCEPT;
/* Sends a command and waits up to 5 s for the transceiver to acknowledge it: 0, or -1. */
KL_API int32_t kl_transceiver_command(int electrode,
                                      const KestTransceiverCommand* command) KL_NOEXCEPT;
/* Reads the implant's answer to the last command, 32 words (waits up to 1 s): 0, or -4 when
 * no answer came. */
KL_API int32_t kl_transceiver_cmd_response(uint16_t response[KL_TRANSCEIVER_WORDS],
                                           int electrode) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Stimulation
 *
 * Electrode arguments are 0-based. Writes go out without waiting for the processor's
 * echo: a read may return the old value until the echo has updated the cache. Results:
 * 0 success, -1 refused value, -2 not initialised, -3 setting not available (also for an
 * electrode without a front end), -6 null pointer or value out of bounds, as stated per
 * call. */

/* One electrode's sequence: the header word, then the control words (at most 248 words in
 * all are sent). */
#ifndef KL_STIM_SEQ_T_DEFINED
#define KL_STIM_SEQ_T_DEFINED
#define KL_STIM_SEQ_MAX_WORDS 249
typedef struct StimSeq_t {
    int32_t elec;  /* 0-based electrode index */
    int32_t count; /* words used, header word included */
    uint32_t words[KL_STIM_SEQ_MAX_WORDS];
} StimSeq_t;
#endif

/* Words one sequence packet carries: its size byte counts 7 head words and the sequence. */
#define KL_STIM_SEQ_MAX_SENT_WORDS 248

/* The most options kl_stim_get_res_options and kl_stim_get_exhaust_options ever write: the
 * caller's array must hold this many floats. */
#define KL_STIM_MAX_OPTIONS 32

/* A calibration record: the calibration status word, then 5 blocks of 128 table values. */
#define KL_STIM_CALIB_BLOCKS 5
#define KL_STIM_CALIB_BLOCK_VALUES 128
typedef struct KestStimCalib_t {
    uint32_t timestamp;
    uint16_t table[KL_STIM_CALIB_BLOCKS * KL_STIM_CALIB_BLOCK_VALUES];
} KestStimCalib_t;

/* Global stimulation enable: 0 or 1, -3 when the processor has no such setting. */
KL_API int32_t kl_stim_enable(void) KL_NOEXCEPT;
/* Writes it (on != 0); -3 when missing, -1 when the write could not be queued. */
KL_API int32_t kl_stim_enable_set(int on) KL_NOEXCEPT;
/* The stimulation latency (current value of the processor's latency record); -3 when
 * missing. The set refuses a value outside the record's limits with -6. */
KL_API int32_t kl_stim_get_latency(void) KL_NOEXCEPT;
KL_API int32_t kl_stim_set_latency(int latency) KL_NOEXCEPT;
/* The electrode's resolution options (µA per amplitude step) or exhausting-resistor
 * options (ohms, 0 for "off"), at most KL_STIM_MAX_OPTIONS of them; returns how many were
 * written (0 when the electrode has no such setting), -1 when an option is not a number. */
KL_API int32_t kl_stim_get_res_options(int electrode, float* options) KL_NOEXCEPT;
KL_API int32_t kl_stim_get_exhaust_options(int electrode, float* options) KL_NOEXCEPT;
/* 0-based selections. A get writes its output only on success: resolution -3, exhaust -1
 * and trigger source -3 when the electrode has no such setting. A set refuses a missing
 * setting or a selection outside 0 ... options - 1 with -1. */
KL_API int32_t kl_stim_get_res(int electrode, int* level) KL_NOEXCEPT;
KL_API int32_t kl_stim_set_res(int electrode, int level) KL_NOEXCEPT;
KL_API int32_t kl_stim_get_exhaust(int electrode, int* value) KL_NOEXCEPT;
KL_API int32_t kl_stim_set_exhaust(int electrode, int value) KL_NOEXCEPT;
KL_API int32_t kl_stim_get_trigger_source(int electrode, int* source) KL_NOEXCEPT;
KL_API int32_t kl_stim_set_trigger_source(int electrode, int source) KL_NOEXCEPT;
/* Software triggers of one front end's or of every sequence waiting for a trigger; -3 when
 * the trigger is missing or could not be queued. */
KL_API int32_t kl_stim_trigger(int electrode) KL_NOEXCEPT;
KL_API int32_t kl_stim_trigger_all(void) KL_NOEXCEPT;
/* Loads `count` sequences, one packet each, in one publish: 0 sent, 1 (nothing sent) when
 * an electrode has no stimulation address, -6 (nothing sent) for a null array or a word
 * count outside 1 ... KL_STIM_SEQ_MAX_SENT_WORDS. A count below 1 sends nothing and
 * returns 0. */
KL_API int32_t kl_stim_seq(const StimSeq_t* seqs, int count) KL_NOEXCEPT;
/* A new calibration record of the electrode (free it with kl_stim_calib_free): its status
 * word and, once calibrated (status above 3), the table blocks the processor holds. Null
 * when the electrode has no calibration table (or memory runs out). */
KL_API KestStimCalib_t* kl_stim_calib_get(int electrode) KL_NOEXCEPT;
/* Loads a calibration table / starts a calibration run: 0 once sent, -3 (nothing sent)
 * when the electrode has no calibration table, -6 for a null record. */
KL_API int32_t kl_stim_calib_set(int electrode, const KestStimCalib_t* record) KL_NOEXCEPT;
KL_API int32_t kl_stim_calib_start(int electrode) KL_NOEXCEPT;
/* Frees a record of kl_stim_calib_get; null is allowed. Returns 0. */
KL_API int32_t kl_stim_calib_free(KestStimCalib_t* record) KL_NOEXCEPT;

/* Pure encoders; they need no connection. The header word of a sequence: action 0-4
 * ("immed", "curcyc", "allcyc", "trigger", "at-time") in bits 31-28, period (ticks) in
 * 27-12, repeats in 11-0. */
KL_API int32_t kl_stim_header_word(int action, int period, int repeats) KL_NOEXCEPT;
/* A control word: length (ticks) 31-16, ampSelect 15, fs 14, enable 13, delay (1/32 tick)
 * 12-8, pol 7, ampl 6-0; each field masked to its width. */
KL_API int32_t kl_stim_word(int length, int ampl, int pol, int enable, int ampSelect, int delay,
                            int fs) KL_NOEXCEPT;
/* A header and one biphasic pulse (cathodic, then anodic, each phase_ms long at amplitude
 * ampl, after delay_us) into words[0 ... capacity - 1]; returns the number of words
 * written, -1 (nothing written) for an action outside 0-4, a capacity too small, a
 * frequency, train or phase that is not a positive number (or a negative delay), an
 * amplitude outside 0-127, a period, repeat count, delay or phase that does not fit its
 * field, a phase under 2 µs or a pulse longer than its period; -6 for a null array. */
KL_API int32_t kl_stim_biphase(int32_t* words, int capacity, int ampl, int action, double freq,
                               double train_ms, double phase_ms, double delay_us) KL_NOEXCEPT;

/* ------------------------------------------------------------------------
 * Front-end settings
 *
 * A front end is named by its index f (electrodes 32 f ... 32 f + 31). Fast-settle kinds
 * are "stim" (settle after stimulation) and "digin" (settle on a digital input); front ends
 * labelled "analog", "EMG" or "link" have no fast settle. Failures of the fast-settle calls
 * print a line prefixed with the call's name to standard error and return KL_ERR_UNKNOWN. */

/* Writes the texts of the kind's choices into items, at most `capacity` 128-byte entries
 * (none when capacity is 0 or less), each NUL-terminated; a choice the processor has not
 * described yet is empty. *current (when not null) receives the 0-based selection. Returns
 * the number of choices, which may exceed capacity. */
KL_API int32_t kl_fast_settle_get_choices(int front_end, const char* kind, char items[][128],
                                          int capacity, int* current) KL_NOEXCEPT;
/* The kind's settle duration (ms): the stored float's bits are copied into *duration. */
KL_API int32_t kl_fast_settle_get_duration(int front_end, const char* kind,
                                           int* duration) KL_NOEXCEPT;
/* Sets the 0-based selection and/or the duration (either may be null); a duration outside
 * the processor's range (NaN included) is refused. The selection is sent before the
 * duration is checked. 0 once the changes are on their way. */
KL_API int32_t kl_fast_settle(int front_end, const char* kind, const uint32_t* selection,
                              const float* duration) KL_NOEXCEPT;

/* Switches the electrode's channel ground or reference on (enable != 0) or off: 0 once the
 * change is on its way, KL_ERR_INVALID_ELECTRODE for an electrode without front end,
 * KL_ERR_UNSUPPORTED when its front end has no such switch. */
KL_API int32_t kl_hw_ground(uint32_t electrode, int enable) KL_NOEXCEPT;
KL_API int32_t kl_hw_reference(uint32_t electrode, int enable) KL_NOEXCEPT;

/* What drives digital output `channel` (module 34) or analog output `channel` (module 33):
 * "Disabled" or "<channel name> - <stream name>", written into text (1024 bytes). 0 on
 * success; KL_ERR_UNSUPPORTED with an empty text and a line on standard error when the
 * output, its record or the source is unknown, and for a digital output whose source
 * module has no segment stream. */
KL_API int32_t kl_digout_source(int channel, char text[1024]) KL_NOEXCEPT;
KL_API int32_t kl_anaout_source(int channel, char text[1024]) KL_NOEXCEPT;
/* Drives the output from the named stream of the electrode: a segment stream ("spk",
 * "stim") for a digital output, a continuous one for an analog output, switched on. 0 once
 * the change is on its way, KL_ERR_UNSUPPORTED (with a line on standard error) otherwise. */
KL_API int32_t kl_digout_source_set(uint32_t channel, int electrode,
                                    const char* stream) KL_NOEXCEPT;
KL_API int32_t kl_anaout_source_set(uint32_t channel, int electrode,
                                    const char* stream) KL_NOEXCEPT;

/* The output names of a module (33 or 34) into 128-byte entries: names must have room for
 * KL_LIST_OUTPUT_MAX entries; at most that many are written. Returns how many were written
 * (0 while one of them has not arrived), KL_ERR_UNSUPPORTED for an unknown module. */
#define KL_LIST_OUTPUT_MAX 64
KL_API int32_t kl_list_output(char names[][128], uint32_t module) KL_NOEXCEPT;

/* The impedance test currents (uA) the electrode's front end offers, at most max of them;
 * returns how many were written, -1 when there is no such list (or a null buffer, max 0, an
 * electrode above 511). */
KL_API int32_t kl_get_ic_current_for_elec(uint32_t electrode, uint16_t* currents,
                                          uint16_t max) KL_NOEXCEPT;
/* Measures the impedance (ohms) of `count` electrodes of one front end (1 to 124), at the
 * test current `current` in uA (-1: the front end's default) over `cycles` cycles (1-1000,
 * else KL_ERR_UNSUPPORTED); results[k] is NaN for an electrode measured as under- or
 * overflowing. Returns 0, -2 for a current the front end does not offer (after printing the
 * supported ones), -1 for other failures, among them a processor that does not confirm the
 * set-up within 5 s or report the measurement within 2 minutes. Blocks until then. */
KL_API int32_t kl_imp(float* results, const uint32_t* electrodes, int count, int current,
                      uint32_t cycles) KL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KESTLIB_H */
