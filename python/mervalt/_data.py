"""Python data to the JSON text the engine reads, with exactly the semantics of json.dumps(data, allow_nan=False).

Three encoders are tried in turn; the first that succeeds gives the text:

1. python-rapidjson (Debian's python3-rapidjson), when it is installed, in
   its strictest modes: exact dicts with string keys, exact lists, str, int,
   float, bool and None, and nothing else (no bytes, tuples, dict or list
   subclasses, iterables, mappings, NaN or infinities; ints beyond 64 bits
   overflow). On that subset its JSON means what json.dumps's means: ints and
   bools are written from their values, strings from their contents, floats
   with their type's repr, which is float.__repr__ unless a subclass of float
   overrides it. It is used only while no subclass of float in the process
   does (checked on every call, a walk of float.__subclasses__()).
2. The standard library's own C encoder (the code json.dumps runs), without
   the table of open containers (a cycle then fails by recursion instead) and
   with compact separators: json.dumps's values, keys and rejections by
   construction.
3. A json.JSONEncoder configured as json.dumps(allow_nan=False) configures it,
   which raises json.dumps's own exception; its message is completed with the
   rejected value and where it is in the data.

Anything a faster encoder rejects goes to the next, so only the last one
decides what is rejected. The one difference left is the depth at which
deeply nested data fails by recursion: json.dumps spends two more Python
frames on the way in.
"""
from __future__ import annotations

import json
import math
from json import encoder as _json_encoder
from typing import Any, Callable, List, Optional

# json.dumps(data, allow_nan=False) builds exactly this encoder.
_EXACT = json.JSONEncoder(allow_nan=False)


def _make_stdlib() -> Optional[Callable[[Any, int], Any]]:
    make = getattr(_json_encoder, "c_make_encoder", None)
    encode_string = getattr(_json_encoder, "c_encode_basestring_ascii", None)
    if make is None or encode_string is None:
        return None

    def reject(value: Any) -> Any:
        raise TypeError("Object of type %s is not JSON serializable" % type(value).__name__)

    # (markers, default, encoder, indent, key_separator, item_separator, sort_keys, skipkeys, allow_nan).
    # ASCII escaping as json.dumps does it: the C code is faster than the
    # non-ASCII variant, and a lone surrogate is escaped rather than failing.
    return make(None, reject, encode_string, None, ":", ",", False, False, False)


def _make_rapidjson() -> Optional[Callable[[Any], str]]:
    try:
        import rapidjson
    except ImportError:
        return None
    return rapidjson.Encoder(ensure_ascii=False, number_mode=rapidjson.NM_NATIVE, bytes_mode=rapidjson.BM_NONE,
                             iterable_mode=rapidjson.IM_ONLY_LISTS, mapping_mode=rapidjson.MM_ONLY_DICTS)


_STDLIB = _make_stdlib()
_RAPIDJSON = _make_rapidjson()


def _floats_print_alike() -> bool:
    """Whether every float in the process prints with float.__repr__ (no subclass overrides it)."""
    pending: List[type] = float.__subclasses__()
    while pending:
        cls = pending.pop()
        if cls.__repr__ is not float.__repr__:
            return False
        pending.extend(cls.__subclasses__())
    return True


def encoder_names() -> List[str]:
    """The encoders to_json tries, fastest first (for the benchmark and the tests)."""
    names = []
    if _RAPIDJSON is not None and _floats_print_alike():
        names.append("rapidjson")
    if _STDLIB is not None:
        names.append("json-c")
    return names + ["json"]


def to_json(data: Any) -> str:
    """The JSON text of ``data``; raises what json.dumps(data, allow_nan=False) raises."""
    if _RAPIDJSON is not None and _floats_print_alike():
        try:
            return _RAPIDJSON(data)
        except Exception:  # outside its subset: the next encoder decides
            pass
    if _STDLIB is not None:
        try:
            return "".join(_STDLIB(data, 0))
        except Exception:
            pass
    try:
        return _EXACT.encode(data)
    except (TypeError, ValueError) as e:
        raise _named(e, data) from None


def _named(error: Exception, data: Any) -> Exception:
    """The same kind of exception, its message naming the value and where it is in the data."""
    found = _locate(data)
    if found is None:
        return error
    path, value, why = found
    return type(error)("%s: %s at %s" % (error, why % _short_repr(value), path))


def _short_repr(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 60 else text[:57] + "..."


_KEY_TYPES = (str, int, float, bool, type(None))


def _locate(data: Any):
    """The first value json.dumps(allow_nan=False) rejects: (path, value, description), or None."""
    stack = [("data", data)]
    open_containers = set()
    while stack:
        path, value = stack.pop()
        if path is None:  # the end of a container's items
            open_containers.discard(value)
            continue
        if isinstance(value, (str, int, type(None))):
            continue
        if isinstance(value, float):
            if not math.isfinite(value):
                return path, value, "the float %s"
            continue
        if isinstance(value, (list, tuple, dict)):
            if id(value) in open_containers:
                return path, value, "the container %s, which contains itself"
            open_containers.add(id(value))
            stack.append((None, id(value)))
            if isinstance(value, dict):
                items = list(value.items())
                for key, item in reversed(items):
                    if not isinstance(key, _KEY_TYPES):
                        return "%s (a key)" % path, key, "the key %s"
                    if isinstance(key, float) and not math.isfinite(key):
                        return "%s (a key)" % path, key, "the key %s"
                    stack.append(("%s[%r]" % (path, key), item))
            else:
                for index in reversed(range(len(value))):
                    stack.append(("%s[%d]" % (path, index), value[index]))
            continue
        return path, value, "%s"
    return None
