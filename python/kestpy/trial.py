"""Operators and their recording trials: the calls :class:`TrialMixin` gives
:class:`kestpy.Processor`."""
import ctypes
from dataclasses import dataclass

from . import _native
from .errors import KestError, check

POLICIES = ("prefer-wired", "prefer-wireless", "wired-only", "wireless-only")
"""Which network an operator is looked for on, in the order of the library's policies."""

TRIAL_STATUSES = ("recording", "paused", "stopped")
"""The states a trial can be asked for. Asking a recording trial for "paused"
pauses it; asking a paused one for "paused" again resumes it."""

_STATUS_SIZE = 64
_FILE_BASE_SIZE = 512
_ERROR_SIZE = 256


@dataclass(frozen=True)
class TrialState:
    """What an operator reports about its recording trial.

    Attributes:
        status: "recording", "paused", "stopped", or while a change is on its
            way "start requested", "pause requested", "unpause requested",
            "stop requested".
        file_base: the base of the recording's file names.
        stop_time: when the recording stops by itself, as the operator keeps
            it (an unsigned 32-bit number; 4294967295 when set to -1).
        auto_increment: whether the file name is numbered on each start.
        increment_number: the next number of the file name.
        error_message: the operator's last error text, "" when none.
    """
    status: str
    file_base: str
    stop_time: int
    auto_increment: bool
    increment_number: int
    error_message: str


def _number(name, value, low, high):
    if value is None:
        return None
    if int(value) != value or not low <= value <= high:
        raise ValueError(f"{name} must be a whole number from {low} to {high}, not {value}")
    value = int(value)
    return ctypes.c_int32(value - (1 << 32) if value >= 1 << 31 else value)


class TrialMixin:
    """The operator and trial calls of :class:`kestpy.Processor`."""

    def add_operator(self, address, policy="prefer-wired", timeout_ms=None):
        """Connects an operator application and returns its id (a positive int).

        Needs a TCP connection (``Processor("tcp")``).

        Args:
            address: a full address ("192.0.2.130" style), or a short one: a
                host number ("130" or 130) on the network the policy picks
                first, or "c.h" / "b.c.h".
            policy: one of :data:`POLICIES`; the other network is tried next
                unless the policy says "only".
            timeout_ms: how long to wait for an answer on each network (None:
                the library's default, 10 s).

        Raises:
            KestError: "invalid network" over UDP, "operator not found" when no
                address answers.
        """
        if policy not in POLICIES:
            raise ValueError(f"policy must be one of {', '.join(POLICIES)}, not {policy!r}")
        if timeout_ms is not None and (int(timeout_ms) != timeout_ms or timeout_ms < 0):
            raise ValueError(f"timeout_ms must be a whole number from 0, not {timeout_ms}")
        lib = self._need_open("kl_operator_add")
        found = ctypes.c_int(-1)
        chosen = ctypes.c_int32(POLICIES.index(policy))
        timeout = ctypes.c_int(int(timeout_ms)) if timeout_ms is not None else None
        check("kl_operator_add",
              lib.kl_operator_add(ctypes.byref(found), str(address).encode(),
                                  ctypes.byref(chosen),
                                  ctypes.byref(timeout) if timeout is not None else None),
              f"operator {address}, {policy}")
        return found.value & 0xFFFFFFFF

    def _operator_id(self, operator):
        if isinstance(operator, str):
            lib = self._need_open("kl_operator_lookup")
            found = ctypes.c_int(-1)
            check("kl_operator_lookup",
                  lib.kl_operator_lookup(ctypes.byref(found), operator.encode()),
                  f"no connected operator at {operator}")
            return found.value
        if isinstance(operator, bool) or not isinstance(operator, int) or \
                not 0 <= operator <= 0xFFFFFFFF or operator == 0xFFFFFFFF:
            raise ValueError(f"operator must be 0, an id from add_operator or an address, "
                             f"not {operator!r}")
        return operator - (1 << 32) if operator >= 1 << 31 else operator

    def trial(self, operator=0, status=None, file_base=None, stop_time=None,
              auto_increment=None, increment_number=None):
        """Reads, and when asked changes, an operator's recording trial.

        Args:
            operator: 0 for the first connected operator, an id from
                :meth:`add_operator`, or the address an operator was added by.
            status: one of :data:`TRIAL_STATUSES` to start, pause (or resume)
                or stop the recording; None leaves it.
            file_base: a new base of the file names (at most 511 characters).
            stop_time: when the recording stops by itself, -1 ... 4294967295.
            auto_increment: whether the file name is numbered on each start.
            increment_number: the next number, 0 ... 4294967295.

        Returns:
            The :class:`TrialState` the operator reports after the change. A
            change takes a moment: the status reads "... requested" until the
            operator has acted on it.

        Raises:
            KestError: "operator not found" (not connected, or its connection
                dropped), "no response" (it did not answer within about 2 s),
                "trial status invalid" (with the operator's error text).
        """
        if status is not None and status not in TRIAL_STATUSES:
            raise KestError(_native.ERR_TRIAL_STATUS_INVALID, "kl_trial2",
                            _native.status_text(_native.ERR_TRIAL_STATUS_INVALID),
                            f"status must be one of {', '.join(TRIAL_STATUSES)}, not {status!r}")
        if file_base is not None and len(file_base.encode()) > _FILE_BASE_SIZE - 1:
            raise ValueError(f"file_base holds at most {_FILE_BASE_SIZE - 1} characters")
        numbers = [_number("stop_time", stop_time, -1, 0xFFFFFFFF),
                   _number("auto_increment", None if auto_increment is None
                           else int(bool(auto_increment)), 0, 1),
                   _number("increment_number", increment_number, 0, 0xFFFFFFFF)]
        lib = self._need_open("kl_trial2")
        operator_id = self._operator_id(operator)

        given = _native.TrialParams()
        texts = {}
        for field, value in (("status", status), ("file_base", file_base)):
            if value is not None:
                texts[field] = ctypes.create_string_buffer(value.encode())
                setattr(given, field, ctypes.cast(texts[field], ctypes.POINTER(ctypes.c_char)))
        for field, value in zip(("stop_time", "auto_incr", "incr_num"), numbers):
            if value is not None:
                setattr(given, field, ctypes.pointer(value))

        wanted = _native.TrialParams()
        out = {"status": ctypes.create_string_buffer(_STATUS_SIZE),
               "file_base": ctypes.create_string_buffer(_FILE_BASE_SIZE),
               "error_message": ctypes.create_string_buffer(_ERROR_SIZE)}
        for field, buffer in out.items():
            setattr(wanted, field, ctypes.cast(buffer, ctypes.POINTER(ctypes.c_char)))
            setattr(wanted, field + "_size", len(buffer))
        out_numbers = [ctypes.c_int32(0) for _ in range(3)]
        for field, value in zip(("stop_time", "auto_incr", "incr_num"), out_numbers):
            setattr(wanted, field, ctypes.pointer(value))

        code = lib.kl_trial2(operator_id, ctypes.byref(wanted), ctypes.byref(given))
        text = {field: buffer.value.decode("utf-8", "replace") for field, buffer in out.items()}
        detail = f"operator {operator}"
        if text["error_message"]:
            detail += f": {text['error_message']}"
        check("kl_trial2", code, detail)
        return TrialState(text["status"], text["file_base"], out_numbers[0].value & 0xFFFFFFFF,
                          bool(out_numbers[1].value), out_numbers[2].value & 0xFFFFFFFF,
                          text["error_message"])
