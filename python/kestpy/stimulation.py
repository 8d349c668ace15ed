"""Stimulation: biphasic pulse trains encoded as sequences, parameter texts, and loading them.

The encoders need no connection; :class:`StimulationMixin` gives :class:`kestpy.Processor`
the calls that switch stimulation on and load sequences.
"""
import ctypes
import time
from dataclasses import dataclass

import numpy as np

from . import _native
from .errors import KestError, check

ACTIONS = ("immed", "curcyc", "allcyc", "trigger", "at-time")
"""When a loaded sequence starts: at once, at the end of the current cycle, at the end of
all cycles, on a trigger, at a time."""

# How long the processor has to confirm a change of the global enable.
_CONFIRM_WAIT_S = 2.0

# Keys of a parameter text that describe a symmetric biphasic train, and their units.
_TEXT_KEYS = {
    "Elect": "electrode, 1-based",
    "TL": "train length, ms",
    "Freq": "pulse frequency, Hz",
    "Dur": "duration of each phase, ms",
    "Amp": "amplitude of both phases, steps of the front end's resolution",
    "TD": "delay before each pulse, ms (optional, 0)",
}


@dataclass(frozen=True)
class StimSequence:
    """One electrode's stimulation sequence as the processor plays it.

    Attributes:
        electrode: the electrode id (0-based).
        words: uint32 array, the header word (action, period in ticks, repeats)
            followed by the control words of one cycle.
    """
    electrode: int
    words: np.ndarray

    def __post_init__(self):
        if not 1 <= len(self.words) <= _native.STIM_SEQ_MAX_SENT_WORDS:
            raise ValueError(f"a sequence holds 1 to {_native.STIM_SEQ_MAX_SENT_WORDS} words, "
                             f"not {len(self.words)}")

    @property
    def period_ticks(self):
        """Ticks (1/30000 s) of one cycle, from the header word."""
        return (int(self.words[0]) >> 12) & 0xFFFF

    @property
    def repeats(self):
        """How many cycles are played, from the header word."""
        return int(self.words[0]) & 0xFFF


def biphasic_train(electrode, amplitude, frequency, train_ms, phase_ms, delay_us=0.0,
                   action="immed"):
    """Encodes a train of biphasic pulses (cathodic, then anodic) as a sequence.

    Args:
        electrode: the electrode id (0-based) that stimulates.
        amplitude: 0-127 steps of the front end's resolution, both phases.
        frequency: pulses per second.
        train_ms: length of the train; it plays ``train_ms * frequency / 1000``
            pulses (whole ones).
        phase_ms: duration of each phase, at least 0.002 ms.
        delay_us: pause before each pulse, microseconds.
        action: when the sequence starts, one of :data:`ACTIONS`.

    Returns:
        A :class:`StimSequence`. Needs no connection.

    Raises:
        KestError: the train cannot be encoded (amplitude out of range, a
            pulse longer than its period, a period or repeat count that does
            not fit the header word, ...); ``detail`` says which.
    """
    if action not in ACTIONS:
        raise ValueError(f"action must be one of {', '.join(ACTIONS)}, not {action!r}")
    if not float(amplitude).is_integer():
        raise KestError(_native.ERR_INVALID_PARAMETER, "kl_stim_biphase",
                        _native.status_text(_native.ERR_INVALID_PARAMETER),
                        f"amplitude must be a whole number, not {amplitude}")
    words = (ctypes.c_int32 * _native.STIM_SEQ_MAX_SENT_WORDS)()
    count = _native.lib().kl_stim_biphase(words, len(words), int(amplitude), ACTIONS.index(action),
                                          float(frequency), float(train_ms), float(phase_ms),
                                          float(delay_us))
    check("kl_stim_biphase", count,
          f"amplitude {amplitude}, {frequency} Hz, {train_ms} ms train, {phase_ms} ms phases, "
          f"{delay_us} us delay: amplitude 0-127, positive numbers, a phase of at least "
          f"2 us, a pulse that fits its period, at most 65535 ticks per period and 4095 pulses")
    return StimSequence(int(electrode), np.array(words[:count], dtype=np.int32).view(np.uint32))


def _text_number(key, value):
    try:
        return float(value)
    except ValueError:
        raise ValueError(f"stimulation text: {key}={value!r} is not a number") from None


def stim_text_sequences(text):
    """Encodes a parameter text, one sequence per train.

    The text lists ``key=value`` pairs separated by ``;``, each key with one
    value per train, separated by ``,``; spaces are ignored. Example:
    ``"Elect=1,2;TL=200,100;Freq=50,20;Dur=0.2,0.2;Amp=10,5"``. Keys:

    - ``Elect``: electrode, 1-based as in the processor's texts (1 is
      electrode id 0)
    - ``TL``: train length in ms; ``Freq``: pulses per second
    - ``Dur``: duration of each phase in ms; ``Amp``: amplitude in steps
    - ``TD``: delay before each pulse in ms (optional, 0)

    Only symmetric trains are encoded here: a text with separate cathodic and
    anodic durations or amplitudes, fast settle or polarity keys is refused.

    Returns:
        A list of :class:`StimSequence`, in the order of the trains.

    Raises:
        ValueError: a malformed text, an unknown or missing key, lists of
            different lengths. KestError: a train that cannot be encoded.
    """
    fields = {}
    for entry in text.replace(" ", "").split(";"):
        if not entry:
            continue
        key, sep, values = entry.partition("=")
        if not sep or not values:
            raise ValueError(f"stimulation text: {entry!r} is not key=value")
        if key not in _TEXT_KEYS:
            raise ValueError(f"stimulation text: key {key!r} is not supported; kestpy encodes "
                             f"symmetric biphasic trains from {', '.join(_TEXT_KEYS)}")
        if key in fields:
            raise ValueError(f"stimulation text: {key} given twice")
        fields[key] = [_text_number(key, value) for value in values.split(",")]
    missing = [key for key in _TEXT_KEYS if key != "TD" and key not in fields]
    if missing:
        raise ValueError(f"stimulation text: {', '.join(missing)} missing")
    trains = len(fields["Elect"])
    fields.setdefault("TD", [0.0] * trains)
    if any(len(values) != trains for values in fields.values()):
        raise ValueError("stimulation text: every key needs one value per train "
                         f"({trains} electrodes)")
    sequences = []
    for k in range(trains):
        elect = fields["Elect"][k]
        if not elect.is_integer() or not 1 <= elect <= 512:
            raise ValueError(f"stimulation text: Elect={elect:g} is not an electrode 1-512")
        sequences.append(biphasic_train(int(elect) - 1, fields["Amp"][k], fields["Freq"][k],
                                        fields["TL"][k], fields["Dur"][k],
                                        fields["TD"][k] * 1000.0))
    return sequences


class StimulationMixin:
    """The stimulation calls of :class:`kestpy.Processor`."""

    @property
    def stim_enabled(self):
        """Whether stimulation is enabled globally (the processor's master switch).

        Setting it sends the change and waits (up to 2 s) until the processor
        has confirmed it. KestError when the processor has no such switch, or
        "no response" when it does not confirm the change.
        """
        lib = self._need_open("kl_stim_enable")
        return bool(check("kl_stim_enable", lib.kl_stim_enable(),
                          "the processor has no global stimulation enable"))

    @stim_enabled.setter
    def stim_enabled(self, on):
        lib = self._need_open("kl_stim_enable_set")
        check("kl_stim_enable_set", lib.kl_stim_enable_set(1 if on else 0),
              "the processor has no global stimulation enable, or the change was not sent")
        deadline = time.monotonic() + _CONFIRM_WAIT_S
        while lib.kl_stim_enable() != int(bool(on)):
            if time.monotonic() > deadline:
                raise KestError(_native.ERR_NO_RESPONSE, "kl_stim_enable_set",
                                _native.status_text(_native.ERR_NO_RESPONSE),
                                "the processor did not confirm stimulation " +
                                ("on" if on else "off"))
            time.sleep(0.005)

    def load_stim_sequences(self, sequences, enable=True):
        """Loads sequences, one per electrode, in one go; they start as their action says.

        Args:
            sequences: a :class:`StimSequence` or a sequence of them (e.g. from
                :func:`biphasic_train` or :func:`stim_text_sequences`); none
                does nothing.
            enable: switch global stimulation on first when it is off. It is
                left on afterwards (set :attr:`stim_enabled` to False to stop);
                when the load fails it is switched off again, but only if this
                call switched it on.

        Raises:
            KestError: an electrode without stimulation (nothing is sent then),
                or the connection is not open.
        """
        if isinstance(sequences, StimSequence):
            sequences = [sequences]
        sequences = list(sequences)
        lib = self._need_open("kl_stim_seq")
        if not sequences:
            return
        records = (_native.StimSeq * max(1, len(sequences)))()
        for record, sequence in zip(records, sequences):
            record.elec = sequence.electrode
            record.count = len(sequence.words)
            words = np.ascontiguousarray(sequence.words, dtype=np.uint32)
            ctypes.memmove(record.words, words.ctypes.data, 4 * len(words))
        switched_on = enable and not self.stim_enabled
        if switched_on:
            self.stim_enabled = True
        status = lib.kl_stim_seq(records, len(sequences))
        if status == _native.SUCCESS:
            return
        detail = f"electrodes {[sequence.electrode for sequence in sequences]}"
        if switched_on:
            try:
                self.stim_enabled = False
            except KestError:
                detail += "; switching stimulation off again was not confirmed"
        if status == 1:
            raise KestError(_native.ERR_INVALID_ELECTRODE, "kl_stim_seq",
                            _native.status_text(_native.ERR_INVALID_ELECTRODE),
                            detail + ": one has no stimulation, nothing was sent")
        check("kl_stim_seq", status, detail)

    def play_stim_text(self, text):
        """Plays a parameter text such as ``"Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10"``.

        The text is encoded by :func:`stim_text_sequences` and loaded with
        :meth:`load_stim_sequences`: global stimulation is switched on when it
        is off and stays on after the trains.
        """
        self.load_stim_sequences(stim_text_sequences(text))
