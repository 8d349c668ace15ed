"""kestpy against the emulated processor: 4 front ends of 32 electrodes and 16 analog inputs."""
import numpy as np
import pytest

import kestpy
from conftest import wait_until


def test_status_texts_and_calls_without_a_connection(paxctl):
    assert kestpy.error_text(-5) == "invalid electrode"
    assert kestpy.error_text(1) == "unexpected error!"
    assert kestpy.lib_version().startswith("0.9.2+106")
    assert kestpy.processor_present()

    closed = kestpy.Processor()
    with pytest.raises(kestpy.KestError) as error:
        closed.time()
    assert error.value.code == -2
    assert error.value.status == "library not initialized"
    assert str(error.value).startswith("kl_time: library not initialized")
    with pytest.raises(ValueError):
        kestpy.Processor("serial")


def test_failed_open_leaves_nothing_open(paxctl):
    nobody = kestpy.Processor("tcp", "127.0.42.77")
    with pytest.raises(kestpy.KestError) as error:
        nobody.open()
    assert error.value.call == "kl_open_tcp_addr"
    assert error.value.code == -1 and "127.0.42.77" in str(error.value)
    assert not nobody.is_open
    with kestpy.Processor("tcp") as pax:
        assert pax.time() > 0


@pytest.mark.parametrize("transport", ["udp", "tcp"])
def test_connection(paxctl, transport):
    with kestpy.Processor(transport) as pax:
        assert pax.is_open
        first = pax.time()
        wait_until(lambda: pax.time() > first + 3000, "the processor time to advance")

        every = pax.electrodes()
        assert every.dtype == np.uint32
        assert every.tolist() == list(range(128)) + list(range(10240, 10256))
        assert pax.electrodes("").tolist() == every.tolist()
        assert pax.electrodes("no such front end").size == 0
        assert (pax.front_end(0), pax.front_end(40)) == (0, 1)
        assert {"raw", "lfp"} <= set(pax.streams(0))
        with pytest.raises(kestpy.KestError) as error:
            pax.front_end(600)
        assert error.value.code == -1 and "600" in str(error.value)
        assert pax.versions()["protocol"] == "0.9"

        with pytest.raises(kestpy.KestError, match="already open"):
            kestpy.Processor(transport).open()
        assert pax.is_open
    assert not pax.is_open
    pax.close()  # closing twice does nothing


@pytest.fixture
def pax(paxctl):
    with kestpy.Processor("udp") as processor:
        yield processor


def test_continuous_windows(pax):
    chosen = [0, 1, 32, 33]

    def full_window():
        window = pax.continuous(chosen, 3000, "raw")
        return window if window.data.shape == (4, 3000) else None

    window = wait_until(full_window, "a full raw window")
    assert window.data.dtype == np.float32 and window.start_time > 0
    assert np.all(np.isfinite(window.data)) and np.any(window.data != 0)
    assert window.sample_rate == 30000
    assert window.times()[1] - window.times()[0] == pytest.approx(1 / 30000)

    # Read again from the same start time: the same samples, electrode for electrode.
    again = pax.continuous(chosen[::-1], 3000, "raw", start_time=window.start_time)
    assert again.start_time == window.start_time
    np.testing.assert_array_equal(again.data[::-1], window.data)

    lfp = pax.continuous(5, 100, "lfp")
    assert lfp.data.shape == (1, 100) and lfp.sample_rate == 1000
    future = pax.continuous(5, 100, "lfp", start_time=pax.time() + 30 * 30000)
    assert future.data.shape == (1, 0) and future.start_time == 0

    with pytest.raises(kestpy.KestError) as error:
        pax.continuous([0, 600], 10, "raw")
    assert "600" in str(error.value)
    with pytest.raises(ValueError):
        pax.continuous(0, 10, "wideband")
    with pytest.raises(kestpy.KestError) as error:
        pax.continuous(-1, 10)
    assert error.value.code == -5


def test_spikes_are_taken_from_the_ring(pax, paxctl):
    pax.spikes(0)
    start = pax.time()
    paxctl("spike-rate 200")
    wait_until(lambda: pax.time() > start + 15000, "half a second of spikes")
    paxctl("spike-rate 0")
    stop = pax.time()
    wait_until(lambda: pax.time() > stop + 9000, "the last spikes to arrive")

    spikes = pax.spikes(0, max_count=5)
    assert spikes.arrived > 20 and len(spikes) == 5
    assert spikes.waveforms.shape == (5, 52) and spikes.waveforms.dtype == np.int16
    assert np.all(np.diff(spikes.timestamps.astype(np.int64)) > 0)
    assert np.all(spikes.timestamps >= start) and np.any(spikes.waveforms != 0)
    assert pax.spikes(0).arrived == 0

    stim = pax.stim_events(0)
    assert stim.arrived == 0 and len(stim) == 0
    with pytest.raises(kestpy.KestError):
        pax.spikes(600)


def test_digital_inputs_and_outputs(pax, paxctl):
    pax.digital_inputs()
    paxctl("digin 4660")
    paxctl("digin 17")
    seen = []

    def both_arrived():
        events = pax.digital_inputs()
        assert events.sma.shape == (len(events), 4)
        seen.extend(events.parallel.tolist())
        return len(seen) >= 2

    wait_until(both_arrived, "the digital events")
    assert seen == [4660, 17]

    pax.digital_capture = True
    wait_until(lambda: pax.digital_capture, "the capture switch to go on")
    pax.digital_capture = False
    wait_until(lambda: not pax.digital_capture, "the capture switch to go off")

    pax.digital_out({4: 0xBEEF})
    wait_until(lambda: "BEEF" in paxctl("digout"), "the parallel port to change")
    with pytest.raises(kestpy.KestError) as error:
        pax.digital_out({9: 1})
    assert error.value.code == -6


def test_spike_thresholds(pax):
    pax.set_spike_threshold(3, -100.0, 120.0)
    wait_until(lambda: pax.spike_threshold(3) == (-100.0, 120.0), "the new thresholds")
    with pytest.raises(kestpy.KestError):
        pax.set_spike_threshold(3, float("nan"), 1.0)
    with pytest.raises(kestpy.KestError):
        pax.spike_threshold(600)
