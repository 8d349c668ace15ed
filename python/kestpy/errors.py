"""The exception every failing kestlib call raises."""


class KestError(Exception):
    """A kestlib call failed.

    Attributes:
        code: the library's status code (a negative int), e.g. ``-2`` for
            "library not initialized".
        call: the name of the C call that failed, e.g. ``"kl_open_udp"``.
        status: the library's text for the code (from ``kl_error_string``).
        detail: what the call was asked to do, when that helps, else ``None``.
    """

    def __init__(self, code, call, status, detail=None):
        self.code = code
        self.call = call
        self.status = status
        self.detail = detail
        text = f"{call}: {status}"
        if detail:
            text += f" ({detail})"
        super().__init__(text)


def check(call, status, detail=None):
    """Returns `status` when it is not negative, else raises KestError for `call`."""
    if status < 0:
        from ._native import status_text
        raise KestError(int(status), call, status_text(status), detail)
    return status
