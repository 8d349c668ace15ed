"""kestpy: the processor's data in Python, over libkestlib.so.

Example::

    import kestpy

    with kestpy.Processor("udp") as pax:
        window = pax.continuous([0, 1, 2, 3], 30000, "raw")   # one second
        print(window.start_time, window.data.shape)
        spikes = pax.spikes(0)
        print(spikes.arrived, spikes.timestamps)

Stimulation (``pax.play_stim_text(...)``, ``pax.load_stim_sequences(...)``) and
recording trials of operators (``pax.add_operator(...)``, ``pax.trial(...)``) are
methods of the same object.

Electrode ids are 0-based. Every failing call raises :class:`KestError`,
which carries the library's status code and text.
"""
from .errors import KestError
from .processor import (MAX_EVENTS, TICKS_PER_SECOND, ContinuousWindow, DigitalEvents,
                        Processor, Segments, error_text, lib_version, processor_present)
from .stimulation import ACTIONS, StimSequence, biphasic_train, stim_text_sequences
from .trial import POLICIES, TRIAL_STATUSES, TrialState

__all__ = [
    "KestError", "Processor", "ContinuousWindow", "Segments", "DigitalEvents", "error_text",
    "lib_version", "processor_present", "MAX_EVENTS", "TICKS_PER_SECOND", "StimSequence",
    "biphasic_train", "stim_text_sequences", "ACTIONS", "TrialState", "POLICIES",
    "TRIAL_STATUSES",
]
