"""Stimulation and recording trials through kestpy, against the emulated processor: front end 0
(electrodes 0-31) stimulates, front end 1 only records; operators answer at hosts 130 and 131."""
import numpy as np
import pytest

import kestpy
from conftest import wait_until


def test_trains_and_texts_are_encoded_without_a_connection():
    train = kestpy.biphasic_train(3, 10, 50, 200, 0.2)
    assert train.electrode == 3 and train.words.dtype == np.uint32
    assert (train.words[0] >> 28, train.period_ticks, train.repeats) == (0, 600, 10)
    assert len(train.words) > 2
    assert kestpy.biphasic_train(3, 10, 50, 200, 0.2, action="trigger").words[0] >> 28 == 3

    first, second = kestpy.stim_text_sequences("Elect=1, 2;TL=200,100;Freq=50,20;Dur=0.2,0.2;"
                                               "Amp=10,5;")
    assert (first.electrode, second.electrode) == (0, 1)
    np.testing.assert_array_equal(first.words, kestpy.biphasic_train(0, 10, 50, 200, 0.2).words)
    assert (second.period_ticks, second.repeats) == (1500, 2)

    for amplitude, frequency in ((128, 50), (10, 0), (10, 10000), (2.5, 50)):
        with pytest.raises(kestpy.KestError) as error:
            kestpy.biphasic_train(0, amplitude, frequency, 200, 0.2)
        assert error.value.call == "kl_stim_biphase"
    bad_texts = ["Elect=1;TL=200;Freq=50;CathDur=0.2;Amp=10",    # an asymmetric key
                 "Elect=1,2;TL=200;Freq=50;Dur=0.2;Amp=10",      # lists of different lengths
                 "Elect=1;TL=200;Freq=50;Amp=10",                # Dur missing
                 "Elect=0;TL=200;Freq=50;Dur=0.2;Amp=10",        # electrodes are 1-based
                 "Elect=nan;TL=200;Freq=50;Dur=0.2;Amp=10",
                 "Elect=1;TL=x;Freq=50;Dur=0.2;Amp=10", "Elect"]
    for text in bad_texts:
        with pytest.raises(ValueError):
            kestpy.stim_text_sequences(text)


def test_a_parameter_text_plays_its_train(paxctl):
    with kestpy.Processor("tcp") as pax:
        assert not pax.stim_enabled
        pax.stim_events(0)
        arrived = []

        def all_pulses():
            segments = pax.stim_events(0)
            arrived.extend(segments.waveforms)
            return len(arrived) >= 10

        pax.load_stim_sequences([])
        assert not pax.stim_enabled
        pax.play_stim_text("Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10")
        assert pax.stim_enabled
        wait_until(all_pulses, "every pulse of the train")
        assert len(arrived) == 10
        pulse = arrived[0][:14]
        assert np.all(pulse[:6] < 0) and np.all(pulse[6:8] == 0) and np.all(pulse[8:] > 0)
        np.testing.assert_array_equal(pulse[8:], -pulse[:6])

        pax.stim_enabled = False
        assert not pax.stim_enabled
        # An electrode that does not stimulate: nothing is sent, and stimulation is switched
        # off again because the call switched it on.
        with pytest.raises(kestpy.KestError) as error:
            pax.load_stim_sequences(kestpy.biphasic_train(40, 5, 50, 100, 0.2))
        assert error.value.code == -5 and "40" in str(error.value)
        assert not pax.stim_enabled
        # Left on when it was on before.
        pax.stim_enabled = True
        with pytest.raises(kestpy.KestError):
            pax.play_stim_text("Elect=41;TL=100;Freq=50;Dur=0.2;Amp=5")
        assert pax.stim_enabled
        pax.stim_enabled = False


def test_recorded_trial(paxctl):
    with kestpy.Processor("udp") as pax:
        with pytest.raises(kestpy.KestError) as error:
            pax.add_operator("130")
        assert error.value.code == -7
    with kestpy.Processor("tcp") as pax:
        first = pax.add_operator(130, "wired-only")
        second = pax.add_operator("131", timeout_ms=2000)
        assert first != second
        with pytest.raises(kestpy.KestError) as error:
            pax.add_operator("140", "wired-only", 300)
        assert error.value.code == -8

        state = pax.trial()
        assert (state.status, state.file_base, state.error_message) == ("stopped", "trial", "")
        # The operator answers "... requested" until it has acted on the change.
        for asked, requested in (("recording", "start"), ("paused", "pause"), ("stopped", "stop")):
            assert pax.trial(first, asked).status in (asked, requested + " requested")
            wait_until(lambda: pax.trial(first).status == asked, f"the trial to be {asked}")

        state = pax.trial(second, file_base="py-run", stop_time=-1, auto_increment=True,
                          increment_number=5)
        assert (state.file_base, state.stop_time, state.auto_increment,
                state.increment_number) == ("py-run", 4294967295, True, 5)
        assert pax.trial("131").file_base == "py-run"
        assert pax.trial(first).file_base == "trial"

        paxctl("oper-error 131 disk full")
        assert pax.trial(second).error_message == "disk full"
        paxctl("oper-error 131 ")

        with pytest.raises(kestpy.KestError) as error:
            pax.trial(first, "start")
        assert error.value.code == -9
        with pytest.raises(kestpy.KestError) as error:
            pax.trial("140")
        assert error.value.code == -8
        with pytest.raises(ValueError):
            pax.trial(first, stop_time=2 ** 32)
