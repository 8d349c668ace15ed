"""kestpy: the processor's data in Python, over libkestlib.so.

Example::

    import kestpy

    with kestpy.Processor("udp") as pax:
        window = pax.continuous([0, 1, 2, 3], 30000, "raw")   # one second
        print(window.start_time, window.data.shape)
        spikes = pax.spikes(0)
        print(spikes.arrived, spikes.timestamps)

Electrode ids are 0-based. Every failing call raises :class:`KestError`,
which carries the library's status code and text.
"""
from .errors import KestError
from .processor import (MAX_EVENTS, TICKS_PER_SECOND, ContinuousWindow, DigitalEvents,
                        Processor, Segments, error_text, lib_version, processor_present)

__all__ = [
    "KestError", "Processor", "ContinuousWindow", "Segments", "DigitalEvents", "error_text",
    "lib_version", "processor_present", "MAX_EVENTS", "TICKS_PER_SECOND",
]
