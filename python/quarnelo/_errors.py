"""Exceptions raised by quarnelo.

Every status other than success that libquarnelo returns becomes one of
these; the package raises the same classes for the checks it makes itself
(sample rate, sound field, array shapes), so one ``except`` clause covers a
failure wherever it was found.
"""

# The status codes of libquarnelo's ABI 1. They never change within the ABI.
SUCCESS = 0
NULL_POINTER = 1
INVALID_ARGUMENT = 2
INVALID_SAMPLE_RATE = 3
INVALID_SOUND_FIELD = 4
NON_FINITE_INPUT = 5
INPUT_TOO_SHORT = 6
OUTPUT_TOO_SMALL = 7
SIZE_OVERFLOW = 8
ALLOCATION_FAILED = 9
NUMERICAL_FAILURE = 10
# The file layer's statuses beyond those (quarnelo_files.h).
INVALID_OPTION = 11
UNREADABLE = 12
TRUNCATED = 13
UNSUPPORTED = 14
MEMORY_LIMIT = 15


class QuarneloError(Exception):
    """A libquarnelo function refused its input or failed.

    Attributes
    ----------
    status : int
        The library's status code (see the ``QN_STATUS_`` values of
        ``quarnelo.h``).
    message : str
        The library's text for that status, e.g. ``"input is too short"``.
    function : str or None
        The function that failed: a ``qn_`` name when the library reported
        the failure, the Python function's name when the package did.
    detail : str or None
        What the package knows beyond the status, e.g. the offending shape.
    """

    def __init__(self, status, message, function=None, detail=None):
        self.status = int(status)
        self.message = message
        self.function = function
        self.detail = detail
        super().__init__(status, message, function, detail)

    def __str__(self):
        text = self.message
        if self.detail:
            text = f"{text}: {self.detail}"
        if self.function:
            text = f"{self.function}: {text}"
        return f"{text} (status {self.status})"


class InvalidArgumentError(QuarneloError, ValueError):
    """An argument has the wrong shape, count or range."""


class InvalidSampleRateError(QuarneloError, ValueError):
    """The signal is not sampled at 48000 Hz (and was not resampled)."""


class InvalidSoundFieldError(QuarneloError, ValueError):
    """The sound field is neither ``"free"`` nor ``"diffuse"``."""


class NonFiniteInputError(QuarneloError, ValueError):
    """The input holds a NaN or an infinity."""


class InputTooShortError(QuarneloError, ValueError):
    """The signal is shorter than the metric needs."""


class AllocationError(QuarneloError, MemoryError):
    """The library could not obtain its working memory."""


class NumericalFailureError(QuarneloError, ArithmeticError):
    """An intermediate result of the computation was not finite."""


class InvalidOptionError(QuarneloError, ValueError):
    """An option of a file's reading or analysis is unknown or out of range."""


class UnreadableFileError(QuarneloError, OSError):
    """The file cannot be opened or is no audio libsndfile reads."""


class TruncatedFileError(QuarneloError, OSError):
    """The file ends before the audio its header declares."""


class UnsupportedAudioError(QuarneloError, ValueError):
    """The file's sample rate or channels cannot be analysed as asked."""


class MemoryLimitError(QuarneloError, MemoryError):
    """The file would need more memory than allowed."""


_CLASS_OF_STATUS = {
    INVALID_ARGUMENT: InvalidArgumentError,
    INVALID_SAMPLE_RATE: InvalidSampleRateError,
    INVALID_SOUND_FIELD: InvalidSoundFieldError,
    NON_FINITE_INPUT: NonFiniteInputError,
    INPUT_TOO_SHORT: InputTooShortError,
    ALLOCATION_FAILED: AllocationError,
    NUMERICAL_FAILURE: NumericalFailureError,
    INVALID_OPTION: InvalidOptionError,
    UNREADABLE: UnreadableFileError,
    TRUNCATED: TruncatedFileError,
    UNSUPPORTED: UnsupportedAudioError,
    MEMORY_LIMIT: MemoryLimitError,
}


def error_class(status):
    """The exception class for a status; QuarneloError for the rare ones."""
    return _CLASS_OF_STATUS.get(int(status), QuarneloError)
