"""The ctypes declarations of libmervalt-engine.so and the calls that turn its results into Python values."""
from __future__ import annotations

import ctypes
import os
from ctypes import POINTER, byref, c_char_p, c_int, c_size_t, c_uint32, c_uint64, c_void_p
from typing import Tuple, Union

from ._errors import Error, Status, error_for

# Shipped beside this file under its SONAME (see setup.py).
LIBRARY_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "libmervalt-engine.so.0")


class CError(ctypes.Structure):
    """struct mervalt_error."""

    _fields_ = [
        ("status", c_int),
        ("message", c_char_p),
        ("partial", c_char_p),
        ("line", c_uint32),
        ("column", c_uint32),
    ]


class _Engine(ctypes.Structure):
    """Opaque mervalt_engine."""


class _Template(ctypes.Structure):
    """Opaque mervalt_template."""


EnginePtr = POINTER(_Engine)
TemplatePtr = POINTER(_Template)
ErrorPtr = POINTER(CError)

# CDLL (not PyDLL): ctypes releases the GIL for the duration of every call,
# which lets renders on several threads run at once.
lib = ctypes.CDLL(LIBRARY_PATH)


def _declare(name, restype, *argtypes):
    function = getattr(lib, name)
    function.restype = restype
    function.argtypes = argtypes
    return function


engine_version = _declare("mervalt_engine_version", c_char_p)
engine_new = _declare("mervalt_engine_new", EnginePtr)
engine_free = _declare("mervalt_engine_free", None, EnginePtr)
engine_set_limit = _declare("mervalt_engine_set_limit", c_int, EnginePtr, c_int, c_uint64)
engine_set_strict_data = _declare("mervalt_engine_set_strict_data", c_int, EnginePtr, c_int)
engine_add_partial = _declare("mervalt_engine_add_partial", c_int, EnginePtr, c_char_p, c_size_t, c_char_p, c_size_t,
                              POINTER(ErrorPtr))
compile_template = _declare("mervalt_compile", c_int, EnginePtr, c_char_p, c_size_t, POINTER(TemplatePtr),
                            POINTER(ErrorPtr))
template_render = _declare("mervalt_template_render", c_int, TemplatePtr, c_void_p, c_size_t, POINTER(c_void_p),
                           POINTER(c_size_t), POINTER(ErrorPtr))
engine_render = _declare("mervalt_engine_render", c_int, EnginePtr, c_char_p, c_size_t, c_void_p, c_size_t,
                         POINTER(c_void_p), POINTER(c_size_t), POINTER(ErrorPtr))
check_source = _declare("mervalt_check", c_int, EnginePtr, c_char_p, c_size_t, c_void_p, c_size_t, POINTER(c_void_p),
                        POINTER(c_size_t), POINTER(ErrorPtr))
template_variables = _declare("mervalt_template_variables", c_int, TemplatePtr, POINTER(c_void_p), POINTER(c_size_t),
                              POINTER(ErrorPtr))
template_free = _declare("mervalt_template_free", None, TemplatePtr)
output_free = _declare("mervalt_output_free", None, c_void_p, c_size_t)
error_free = _declare("mervalt_error_free", None, ErrorPtr)

# The output is read straight from the library's buffer into the Python
# object, under the GIL, in one pass: as bytes, or decoded as UTF-8.
_bytes_from = ctypes.pythonapi.PyBytes_FromStringAndSize
_bytes_from.restype = ctypes.py_object
_bytes_from.argtypes = (c_void_p, ctypes.c_ssize_t)
_decode_utf8 = ctypes.pythonapi.PyUnicode_DecodeUTF8
_decode_utf8.restype = ctypes.py_object
_decode_utf8.argtypes = (c_void_p, ctypes.c_ssize_t, c_char_p)
_REPLACE = b"replace"
# An ASCII str is its own UTF-8: the library reads its characters in place
# instead of a copy made by str.encode.
_utf8_of = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
_utf8_of.restype = c_void_p
_utf8_of.argtypes = (ctypes.py_object, POINTER(ctypes.c_ssize_t))

VERSION = engine_version().decode()


def raise_error(status: int, error: ErrorPtr) -> None:
    """Raises the exception for a failed call and frees the library's error."""
    if not error:  # only when no error was asked for; every call here asks
        raise error_for(status, "the call failed")
    try:
        e = error.contents
        message = e.message.decode("utf-8", "replace") if e.message else ""
        partial = e.partial.decode("utf-8", "replace") if e.partial else None
        exception = error_for(status, message, e.line, e.column, partial)
    finally:
        error_free(error)
    raise exception


def check(status: int, error: ErrorPtr) -> None:
    if status != Status.OK:
        raise_error(status, error)


def take_output(pointer: c_void_p, length: c_size_t, as_text: bool):
    """The rendered bytes (or text), with the library's buffer released."""
    n = length.value
    if n == 0:
        return "" if as_text else b""
    try:
        if as_text:
            return _decode_utf8(pointer, n, _REPLACE)
        return _bytes_from(pointer, n)
    finally:
        output_free(pointer, n)


def _json_argument(json: Union[None, bytes, str]) -> Tuple[Union[None, bytes, int], int]:
    """The pointer and length the library reads a JSON text from; the caller keeps ``json`` alive meanwhile."""
    if json is None:
        return None, 0
    if isinstance(json, str):
        if json.isascii():
            size = ctypes.c_ssize_t()
            return _utf8_of(json, byref(size)), size.value
        json = json.encode("utf-8")
    return json, len(json)


def render(template: TemplatePtr, json: Union[None, bytes, str], as_text: bool):
    """Renders a compiled template against a JSON text (None: no data)."""
    out = c_void_p()
    length = c_size_t()
    error = ErrorPtr()
    pointer, size = _json_argument(json)
    status = template_render(template, pointer, size, byref(out), byref(length), byref(error))
    if status != Status.OK:
        raise_error(status, error)
    return take_output(out, length, as_text)


def render_source(engine: EnginePtr, source: bytes, json: Union[None, bytes, str], as_text: bool):
    """Compiles and renders in one call."""
    out = c_void_p()
    length = c_size_t()
    error = ErrorPtr()
    pointer, size = _json_argument(json)
    status = engine_render(engine, source, len(source), pointer, size, byref(out), byref(length), byref(error))
    if status != Status.OK:
        raise_error(status, error)
    return take_output(out, length, as_text)


def check_template(engine: EnginePtr, source: bytes, json: Union[None, bytes, str]) -> str:
    """The checker's report on ``source`` (a JSON text), with ``json`` as the data when given."""
    out = c_void_p()
    length = c_size_t()
    error = ErrorPtr()
    pointer, size = _json_argument(json)
    status = check_source(engine, source, len(source), pointer, size, byref(out), byref(length), byref(error))
    if status != Status.OK:
        raise_error(status, error)
    return take_output(out, length, True)


def variables(template: TemplatePtr) -> str:
    """The data paths a compiled template reads (a JSON text)."""
    out = c_void_p()
    length = c_size_t()
    error = ErrorPtr()
    status = template_variables(template, byref(out), byref(length), byref(error))
    if status != Status.OK:
        raise_error(status, error)
    return take_output(out, length, True)


def new_engine() -> EnginePtr:
    engine = engine_new()
    if not engine:
        raise MemoryError("mervalt: no memory for a new engine")
    return engine


def add_partial(engine: EnginePtr, name: bytes, source: bytes) -> None:
    error = ErrorPtr()
    check(engine_add_partial(engine, name, len(name), source, len(source), byref(error)), error)


def compile(engine: EnginePtr, source: bytes) -> TemplatePtr:  # noqa: A001 - mirrors mervalt_compile
    template = TemplatePtr()
    error = ErrorPtr()
    check(compile_template(engine, source, len(source), byref(template), byref(error)), error)
    return template


def set_limit(engine: EnginePtr, which: int, value: int) -> None:
    if engine_set_limit(engine, which, value) != Status.OK:
        raise Error(Status.ARGUMENT, "the engine refused the limit %d = %d" % (which, value))


def set_strict_data(engine: EnginePtr, strict: bool) -> None:
    engine_set_strict_data(engine, 1 if strict else 0)
