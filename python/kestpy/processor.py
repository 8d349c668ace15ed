"""A connection to the processor and the data it delivers."""
import ctypes
from dataclasses import dataclass

import numpy as np

from . import _native
from .errors import KestError
from .stimulation import StimulationMixin
from .trial import TrialMixin

TICKS_PER_SECOND = 30000
"""The processor clock: timestamps and start times count 30 kHz ticks."""

# Stream kind -> (C call, nominal sample rate in samples per second, None when it varies).
_STREAMS = {
    "raw": ("kl_cont_raw", 30000),
    "lfp": ("kl_cont_lfp", 1000),
    "emg": ("kl_cont_emg", 2000),
    "hires": ("kl_cont_hires", 2000),
    "hifreq": ("kl_cont_hifreq", 7500),
    "spkfilt": ("kl_cont_spkPreview", 30000),
    "status": ("kl_cont_status", None),
}

MAX_EVENTS = 1024
"""An event ring keeps at most this many records between two reads."""

_MAX_ELECTRODES = 8192
_MAX_STREAMS = 64

# Only one connection per process: the library keeps a single one.
_open_processor = None


@dataclass(frozen=True)
class ContinuousWindow:
    """Samples of several electrodes over one stretch of processor time.

    Attributes:
        electrodes: the electrode ids (0-based), one per row of ``data``.
        data: float32 array of shape (len(electrodes), samples), in microvolts
            (the "status" stream: in each channel's own units). A row that
            received fewer samples than the longest one is padded with NaN.
        start_time: processor time of the first column, in 30 kHz ticks
            (0 when nothing was read).
        sample_rate: samples per second of the stream, None when it varies.
    """
    electrodes: np.ndarray
    data: np.ndarray
    start_time: int
    sample_rate: object

    def times(self):
        """Processor time of every column in seconds."""
        if self.sample_rate is None:
            raise ValueError("this stream has no fixed sample rate")
        return (self.start_time / TICKS_PER_SECOND +
                np.arange(self.data.shape[1]) / float(self.sample_rate))


@dataclass(frozen=True)
class Segments:
    """Spike or stimulation segments taken from one electrode's ring.

    Attributes:
        arrived: how many segments arrived since the previous read; can be
            larger than ``len(timestamps)`` when the ring overflowed, in which
            case the newest ones are kept.
        timestamps: uint32 processor times in 30 kHz ticks, oldest first.
        units: uint16 classification of each segment (0 unclassified).
        sequences: uint16 sequence number of each segment's packet.
        waveforms: int16 array of shape (len(timestamps), 52), ADC counts.
    """
    arrived: int
    timestamps: np.ndarray
    units: np.ndarray
    sequences: np.ndarray
    waveforms: np.ndarray

    def __len__(self):
        return len(self.timestamps)


@dataclass(frozen=True)
class DigitalEvents:
    """Digital input events taken from the processor's digital input ring.

    Attributes:
        arrived: how many events arrived since the previous read (can exceed
            the number returned; the newest ones are kept).
        timestamps: uint32 processor times in 30 kHz ticks, oldest first.
        parallel: uint16 value of the parallel port at each event.
        sma: uint16 array of shape (n, 4), the four single-line inputs.
        reasons: uint8 reason code of each event.
    """
    arrived: int
    timestamps: np.ndarray
    parallel: np.ndarray
    sma: np.ndarray
    reasons: np.ndarray

    def __len__(self):
        return len(self.timestamps)


def error_text(code):
    """The library's text for a status code, e.g. ``error_text(-5)`` is "invalid electrode"."""
    return _native.status_text(code)


def lib_version():
    """The library version text, e.g. "0.9.2+106..."; needs no connection."""
    return _native.text_call("kl_lib_version")[1]


def processor_present():
    """Whether a processor answers on its presence port; needs no connection."""
    found = ctypes.c_int(0)
    _check("kl_processor_status", _native.lib().kl_processor_status(ctypes.byref(found), None))
    return bool(found.value)


def _check(call, status, detail=None):
    if status < 0:
        raise KestError(int(status), call, _native.status_text(status), detail)
    return status


def _electrode_ids(electrodes):
    ids = np.atleast_1d(np.asarray(electrodes))
    if ids.ndim != 1 or (ids.size and not np.issubdtype(ids.dtype, np.integer)):
        raise TypeError("electrodes must be an int or a sequence of ints")
    if ids.size and (ids.min() < 0 or ids.max() > 0xFFFFFFFF):
        raise KestError(_native.ERR_INVALID_ELECTRODE, "electrodes",
                        _native.status_text(_native.ERR_INVALID_ELECTRODE),
                        f"electrode ids are 0-based and not negative: {ids.tolist()}")
    return np.ascontiguousarray(ids, dtype=np.uint32)


class Processor(StimulationMixin, TrialMixin):
    """The connection to the processor.

    Use it as a context manager::

        with kestpy.Processor() as pax:
            print(pax.time(), pax.electrodes())

    Args:
        transport: "udp" (the processor's data arrive as broadcasts) or "tcp".
        address: the processor's address; None for the defaults (UDP: the
            wired network's broadcast address; TCP: host 1 of the wired
            network, else of the wireless one).

    The library keeps one connection per process: opening a second
    ``Processor`` while one is open raises :class:`KestError`. Electrode ids
    are 0-based throughout (front ends 0-511, analog inputs from 10240).
    """

    def __init__(self, transport="udp", address=None):
        transport = transport.lower()
        if transport not in ("udp", "tcp"):
            raise ValueError(f"transport must be 'udp' or 'tcp', not {transport!r}")
        self.transport = transport
        self.address = address
        self._is_open = False

    # -- connection -------------------------------------------------------------------------

    def open(self):
        """Connects and waits for the processor's start-up handshake.

        Raises KestError when the processor does not answer; nothing stays open then.
        """
        global _open_processor
        if self._is_open:
            return self
        call = f"kl_open_{self.transport}_addr"
        if _open_processor is not None:
            raise KestError(_native.ERR_UNKNOWN, call, "a connection is already open",
                            "close it before opening another")
        address = self.address.encode() if self.address else None
        _check(call, getattr(_native.lib(), call)(address),
               f"no processor answered over {self.transport.upper()}"
               + (f" at {self.address}" if self.address else ""))
        self._is_open = True
        _open_processor = self
        return self

    def close(self):
        """Closes the connection; closing a closed one does nothing."""
        global _open_processor
        if not self._is_open:
            return
        self._is_open = False
        _open_processor = None
        _native.lib().kl_close()

    @property
    def is_open(self):
        """Whether this connection is open."""
        return self._is_open

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        state = "open" if self._is_open else "closed"
        return f"Processor(transport={self.transport!r}, address={self.address!r}) [{state}]"

    def _need_open(self, call):
        if not self._is_open:
            raise KestError(_native.ERR_NOT_INITIALIZED, call,
                            _native.status_text(_native.ERR_NOT_INITIALIZED),
                            "open the Processor first")
        return _native.lib()

    # -- processor --------------------------------------------------------------------------

    def time(self):
        """The processor time in 30 kHz ticks."""
        return int(self._need_open("kl_time").kl_time())

    def versions(self):
        """A dict of version texts: library, protocol, processor software and serial."""
        self._need_open("kl_paxexec_version")
        result = {}
        for key, call in (("library", "kl_lib_version"), ("protocol", "kl_kest_version"),
                          ("software", "kl_paxexec_version"), ("serial", "kl_pax_serial")):
            status, text = _native.text_call(call)
            _check(call, status)
            result[key] = text
        return result

    # -- electrodes -------------------------------------------------------------------------

    def electrodes(self, front_end="all"):
        """Electrode ids (uint32 array), in module and channel order.

        Args:
            front_end: a text found in the labels of the front ends to list
                (e.g. "rec A2", "EMG"); "all" or "" lists every front end and
                the analog inputs.
        """
        lib = self._need_open("kl_list_elec")
        ids = np.zeros(_MAX_ELECTRODES, dtype=np.uint32)
        count = _check("kl_list_elec",
                       lib.kl_list_elec(_native.as_u32_p(ids), len(ids), front_end.encode()))
        return ids[:count].copy()

    def front_end(self, electrode):
        """Index of the electrode's front end; KestError when it has none."""
        lib = self._need_open("kl_get_fe")
        (electrode,) = _electrode_ids(electrode)
        return _check("kl_get_fe", lib.kl_get_fe(int(electrode)),
                      f"electrode {electrode} has no front end")

    def streams(self, electrode):
        """Names of the streams the electrode's front end offers now (a list of str)."""
        lib = self._need_open("kl_get_fe_streams")
        (electrode,) = _electrode_ids(electrode)
        names = ctypes.create_string_buffer(_MAX_STREAMS * _native.STREAM_NAME_SIZE)
        count = _check("kl_get_fe_streams",
                       lib.kl_get_fe_streams(names, _MAX_STREAMS, int(electrode)),
                       f"electrode {electrode} has no front end")
        size = _native.STREAM_NAME_SIZE
        return [names.raw[k * size:(k + 1) * size].split(b"\0", 1)[0].decode()
                for k in range(count)]

    # -- continuous data --------------------------------------------------------------------

    def continuous(self, electrodes, samples, stream="raw", start_time=0):
        """A window of continuous samples of one or more electrodes.

        Args:
            electrodes: an electrode id or a sequence of them (0-based).
            samples: samples per electrode (at most what the processor's ring
                holds, e.g. 5.12 s of a stream).
            stream: "raw", "lfp", "emg", "hires", "hifreq", "spkfilt" or "status".
            start_time: 0 for the newest samples, else the processor time in
                ticks from which on to read.

        Returns:
            A :class:`ContinuousWindow`; every row starts at the same time. When
            the window is no longer (or not yet) held, ``data`` has no columns.

        Raises:
            KestError: an electrode without a front end, or a front end that
                lacks the stream.
        """
        if stream not in _STREAMS:
            raise ValueError(f"unknown stream {stream!r}; one of {', '.join(_STREAMS)}")
        call, rate = _STREAMS[stream]
        function = getattr(self._need_open(call), call)
        ids = _electrode_ids(electrodes)
        samples = int(samples)
        if samples < 0:
            raise ValueError("samples must not be negative")
        data = np.full((len(ids), samples), np.nan, dtype=np.float32)
        start = ctypes.c_uint32(0)
        delivered = []
        time = int(start_time)
        # The first electrode fixes the start time when the newest samples are asked for;
        # the others are read from that same time, so that the columns line up.
        for k in range(len(ids)):
            row = np.zeros(samples, dtype=np.float32)
            got = function(ctypes.byref(start), _native.as_float_p(row), samples,
                           _native.as_u32_p(ids[k:k + 1]), 1, time)
            _check(call, got, f"electrode {ids[k]} has no front end or no {stream} stream")
            data[k, :got] = row[:got]
            delivered.append(got)
            if time == 0 and got > 0:
                time = start.value
        columns = max(delivered, default=0)
        return ContinuousWindow(ids, data[:, :columns], time if columns else 0, rate)

    # -- events -----------------------------------------------------------------------------

    def _segments(self, call, electrode, max_count):
        lib = self._need_open(call)
        (electrode,) = _electrode_ids(electrode)
        records = np.zeros(min(int(max_count), MAX_EVENTS), dtype=_native.SEGMENT_DTYPE)
        arrived = _check(call, getattr(lib, call)(records.ctypes.data, None, len(records),
                                                  int(electrode)),
                         f"electrode {electrode} has no front end or no such ring")
        taken = records[:min(arrived, len(records))]
        return Segments(int(arrived), taken["timestamp"].copy(), taken["unit"].copy(),
                        taken["sequence"].copy(), taken["waveform"].copy())

    def spikes(self, electrode, max_count=MAX_EVENTS):
        """Takes the spikes that arrived on an electrode since the last read.

        The read empties the electrode's spike ring. Returns :class:`Segments`
        with the newest ``max_count`` spikes, oldest first.
        """
        return self._segments("kl_spk_data", electrode, max_count)

    def stim_events(self, electrode, max_count=MAX_EVENTS):
        """Takes the stimulation segments of an electrode since the last read.

        Empties the electrode's stimulation ring; a front end that does not
        stimulate gives no segments. Returns :class:`Segments`.
        """
        return self._segments("kl_stim_data", electrode, max_count)

    def digital_inputs(self, max_count=MAX_EVENTS):
        """Takes the digital input events since the last read (empties the ring).

        Returns :class:`DigitalEvents`, oldest first.
        """
        lib = self._need_open("kl_digin")
        records = np.zeros(min(int(max_count), MAX_EVENTS), dtype=_native.DIGITAL_DTYPE)
        arrived = _check("kl_digin", lib.kl_digin(records.ctypes.data, None, len(records)),
                         "the processor has no digital inputs")
        taken = records[:min(arrived, len(records))]
        return DigitalEvents(int(arrived), taken["timestamp"].copy(), taken["parallel"].copy(),
                             taken["sma"].copy(), taken["reason"].copy())

    @property
    def digital_capture(self):
        """Whether every change of a parallel-port bit is captured as an event.

        Setting it sends the change; reading it shows it once the processor
        has confirmed.
        """
        lib = self._need_open("kl_digin_bit_change")
        return bool(_check("kl_digin_bit_change", lib.kl_digin_bit_change(),
                           "digital IO not available"))

    @digital_capture.setter
    def digital_capture(self, on):
        lib = self._need_open("kl_digin_bit_change_set")
        _check("kl_digin_bit_change_set", lib.kl_digin_bit_change_set(1 if on else 0),
               "digital IO not available")

    def digital_out(self, values):
        """Drives digital outputs: ``{output: value}`` with outputs 0-3 (the
        single lines) and 4 (the 16-bit parallel port)."""
        lib = self._need_open("kl_digout")
        outputs = np.array(list(values.keys()), dtype=np.uint32)
        levels = np.array(list(values.values()), dtype=np.uint32)
        _check("kl_digout", lib.kl_digout(_native.as_u32_p(outputs), _native.as_u32_p(levels),
                                          len(outputs)),
               f"outputs {outputs.tolist()}")

    # -- spike thresholds -------------------------------------------------------------------

    def spike_threshold(self, electrode):
        """The electrode's (lower, upper) spike thresholds as floats."""
        lib = self._need_open("kl_spk_thresh")
        (electrode,) = _electrode_ids(electrode)
        lower, upper = ctypes.c_float(), ctypes.c_float()
        _check("kl_spk_thresh",
               lib.kl_spk_thresh(ctypes.byref(lower), ctypes.byref(upper), int(electrode)),
               f"electrode {electrode} has no front end")
        return lower.value, upper.value

    def set_spike_threshold(self, electrode, lower, upper):
        """Sends a new (lower, upper) spike threshold pair for the electrode."""
        lib = self._need_open("kl_spk_thresh_set")
        (electrode,) = _electrode_ids(electrode)
        _check("kl_spk_thresh_set", lib.kl_spk_thresh_set(int(electrode), lower, upper),
               f"electrode {electrode}: no threshold record, or values not finite")
