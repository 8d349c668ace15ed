"""Loads libkestlib.so and declares the C calls that kestpy uses."""
import ctypes
import ctypes.util
import os

import numpy as np

# Status codes of the library.
SUCCESS = 0
ERR_UNKNOWN = -1
ERR_NOT_INITIALIZED = -2
ERR_UNSUPPORTED = -3
ERR_NO_RESPONSE = -4
ERR_INVALID_ELECTRODE = -5
ERR_INVALID_PARAMETER = -6
ERR_INVALID_NETWORK = -7
ERR_OPERATOR_NOT_FOUND = -8
ERR_TRIAL_STATUS_INVALID = -9

# A spike or stimulation segment as the processor sends it: 120 bytes.
SEGMENT_DTYPE = np.dtype([
    ("size", "u1"), ("proc_id", "u1"), ("module_id", "u1"), ("stream_id", "u1"),
    ("timestamp", "<u4"), ("data_kind", "u1"), ("reserved", "u1"), ("sequence", "<u2"),
    ("unit", "<u2"), ("reserved2", "<u2"), ("waveform", "<i2", (52,)),
])
# A digital input event: 28 bytes.
DIGITAL_DTYPE = np.dtype([
    ("size", "u1"), ("proc_id", "u1"), ("module_id", "u1"), ("stream_id", "u1"),
    ("timestamp", "<u4"), ("data_kind", "u1"), ("reserved", "u1"), ("sequence", "<u2"),
    ("reason", "u1"), ("reserved2", "u1"), ("parallel", "<u2"), ("sma", "<u2", (4,)),
    ("reserved3", "<u4"),
])
assert SEGMENT_DTYPE.itemsize == 120 and DIGITAL_DTYPE.itemsize == 28

STREAM_NAME_SIZE = 128

# One electrode's stimulation sequence as kl_stim_seq takes it: 0-based electrode, the number
# of words used (header word included) and the words.
STIM_SEQ_MAX_WORDS = 249
STIM_SEQ_MAX_SENT_WORDS = 248


class StimSeq(ctypes.Structure):
    _fields_ = [("elec", ctypes.c_int32), ("count", ctypes.c_int32),
                ("words", ctypes.c_uint32 * STIM_SEQ_MAX_WORDS)]


assert ctypes.sizeof(StimSeq) == 8 + 4 * STIM_SEQ_MAX_WORDS


# The arguments of kl_trial2: texts with their buffer sizes and the three numbers; a null
# pointer is a value not given (inputs) or not wanted (outputs).
class TrialParams(ctypes.Structure):
    _fields_ = [("status", ctypes.POINTER(ctypes.c_char)), ("status_size", ctypes.c_int32),
                ("file_base", ctypes.POINTER(ctypes.c_char)), ("file_base_size", ctypes.c_int32),
                ("error_message", ctypes.POINTER(ctypes.c_char)),
                ("error_message_size", ctypes.c_int32),
                ("stop_time", ctypes.POINTER(ctypes.c_int32)),
                ("auto_incr", ctypes.POINTER(ctypes.c_int32)),
                ("incr_num", ctypes.POINTER(ctypes.c_int32))]

_i32 = ctypes.c_int32
_u32 = ctypes.c_uint32
_int = ctypes.c_int
_char_p = ctypes.c_char_p
_void_p = ctypes.c_void_p
_float_p = ctypes.POINTER(ctypes.c_float)
_u32_p = ctypes.POINTER(ctypes.c_uint32)

_CONT = (_i32, [_u32_p, _float_p, _int, _u32_p, _int, _u32])
_TEXT = (_i32, [_char_p, _int])

_PROTOTYPES = {
    "kl_error_string": (_i32, [_char_p, ctypes.c_size_t, _int]),
    "kl_open_udp_addr": (_i32, [_char_p]),
    "kl_open_tcp_addr": (_i32, [_char_p]),
    "kl_close": (_i32, []),
    "kl_processor_status": (_i32, [ctypes.POINTER(_int), _void_p]),
    "kl_time": (_u32, []),
    "kl_lib_version": _TEXT,
    "kl_kest_version": _TEXT,
    "kl_paxexec_version": _TEXT,
    "kl_pax_serial": _TEXT,
    "kl_fe_version": (_i32, [_char_p, _int, _int]),
    "kl_cont_raw": _CONT,
    "kl_cont_lfp": _CONT,
    "kl_cont_emg": _CONT,
    "kl_cont_hires": _CONT,
    "kl_cont_hifreq": _CONT,
    "kl_cont_spkPreview": _CONT,
    "kl_cont_status": _CONT,
    "kl_list_elec": (_i32, [_u32_p, _int, _char_p]),
    "kl_get_fe": (_i32, [_u32]),
    "kl_get_fe_streams": (_i32, [_void_p, _int, _int]),
    "kl_spk_data": (_i32, [_void_p, _void_p, _int, _int]),
    "kl_stim_data": (_i32, [_void_p, _void_p, _int, _int]),
    "kl_digin": (_i32, [_void_p, _void_p, _int]),
    "kl_digin_bit_change": (_i32, []),
    "kl_digin_bit_change_set": (_i32, [_int]),
    "kl_digout": (_i32, [_u32_p, _u32_p, _int]),
    "kl_spk_thresh": (_i32, [_float_p, _float_p, _int]),
    "kl_spk_thresh_set": (_i32, [_int, ctypes.c_float, ctypes.c_float]),
    "kl_stim_enable": (_i32, []),
    "kl_stim_enable_set": (_i32, [_int]),
    "kl_stim_seq": (_i32, [_void_p, _int]),
    "kl_stim_biphase": (_i32, [ctypes.POINTER(_i32), _int, _int, _int, ctypes.c_double,
                               ctypes.c_double, ctypes.c_double, ctypes.c_double]),
    "kl_operator_add": (_i32, [ctypes.POINTER(_int), _char_p, ctypes.POINTER(_i32),
                               ctypes.POINTER(_int)]),
    "kl_operator_lookup": (_i32, [ctypes.POINTER(_int), _char_p]),
    "kl_trial2": (_i32, [_int, _void_p, _void_p]),
}

_lib = None


def _candidates():
    path = os.environ.get("KESTPY_LIBRARY")
    if path:
        return [path]
    found = ctypes.util.find_library("kestlib")
    return ["libkestlib.so"] + ([found] if found else [])


def lib():
    """The loaded library with its calls declared; loads it on first use.

    The library is looked up in $KESTPY_LIBRARY when set, else by the dynamic
    loader's search path (LD_LIBRARY_PATH, the system's library directories).
    """
    global _lib
    if _lib is not None:
        return _lib
    errors = []
    for name in _candidates():
        try:
            handle = ctypes.CDLL(name)
            break
        except OSError as error:
            errors.append(str(error))
    else:
        raise OSError("kestpy: libkestlib.so not found; set KESTPY_LIBRARY to its path "
                      "or add its directory to LD_LIBRARY_PATH (" + "; ".join(errors) + ")")
    for call, (restype, argtypes) in _PROTOTYPES.items():
        function = getattr(handle, call)
        function.restype = restype
        function.argtypes = argtypes
    _lib = handle
    return _lib


def status_text(code):
    """The library's text for a status code, e.g. "invalid electrode" for -5."""
    buffer = ctypes.create_string_buffer(64)
    lib().kl_error_string(buffer, len(buffer), int(code))
    return buffer.value.decode("utf-8", "replace")


def text_call(call, *args, size=256):
    """Runs a call that writes a text into a buffer; returns (status, text)."""
    buffer = ctypes.create_string_buffer(size)
    status = getattr(lib(), call)(buffer, size, *args)
    return status, buffer.value.decode("utf-8", "replace")


def as_u32_p(array):
    return array.ctypes.data_as(_u32_p)


def as_float_p(array):
    return array.ctypes.data_as(_float_p)
