"""The exceptions a compile or a render raises, and the engine's status codes."""
from __future__ import annotations

import enum
from typing import Optional


class Status(enum.IntEnum):
    """Why a call failed: the values of the C interface's mervalt_status."""

    OK = 0
    SYNTAX = 1
    DATA = 2
    DEPTH = 3
    ITERATIONS = 4
    WORK = 5
    OUTPUT = 6
    MEMORY_LIMIT = 7
    NO_MEMORY = 8
    ARGUMENT = 9


class Error(Exception):
    """A template that could not be compiled or rendered.

    ``status`` says why (a :class:`Status`), ``message`` is the engine's own
    wording, ``line`` and ``column`` (1-based, columns in bytes) say where:
    in the template, in the partial named by ``partial``, or, for a
    :class:`DataError`, in the JSON text; both are 0 when the error is not
    tied to a place. ``str(error)`` reads like the command-line tool's
    diagnostic: ``3:4: 'endfor' does not close the open 'if' (opened at 2:3)``.
    """

    def __init__(self, status: Status, message: str, line: int = 0, column: int = 0,
                 partial: Optional[str] = None) -> None:
        super().__init__(status, message, line, column, partial)
        self.status = status
        self.message = message
        self.line = line
        self.column = column
        self.partial = partial

    def __str__(self) -> str:
        where = "%d:%d: " % (self.line, self.column) if self.line else ""
        if self.partial is not None:
            return "in partial '%s' %s%s" % (self.partial, where, self.message)
        if self.status == Status.DATA and where:
            return "in the data %s%s" % (where, self.message)
        return where + self.message

    def __repr__(self) -> str:
        return "%s(%r)" % (type(self).__name__, str(self))


class TemplateSyntaxError(Error):
    """The template, or a partial it includes, does not parse."""


class DataError(Error):
    """The JSON data is not readable (raised only by an engine with ``strict_data``)."""


class RenderLimitError(Error):
    """A render went beyond one of its limits: depth, iterations, work, output or memory."""


class OutOfMemoryError(Error, MemoryError):
    """An allocation failed inside the engine. It is a :class:`MemoryError` too."""


_CLASSES = {
    Status.SYNTAX: TemplateSyntaxError,
    Status.DATA: DataError,
    Status.DEPTH: RenderLimitError,
    Status.ITERATIONS: RenderLimitError,
    Status.WORK: RenderLimitError,
    Status.OUTPUT: RenderLimitError,
    Status.MEMORY_LIMIT: RenderLimitError,
    Status.NO_MEMORY: OutOfMemoryError,
}


def error_for(status: int, message: str, line: int = 0, column: int = 0, partial: Optional[str] = None) -> Error:
    """The exception for a failed call's status and details."""
    try:
        code = Status(status)
    except ValueError:  # a status this binding does not know: keep its number
        return Error(status, message, line, column, partial)  # type: ignore[arg-type]
    return _CLASSES.get(code, Error)(code, message, line, column, partial)
