"""Engines, compiled templates, limits and the threaded renders of many records."""
from __future__ import annotations

import dataclasses
import functools
import json
import os
import threading
import weakref
from _thread import allocate_lock
from collections import deque
from pathlib import PurePosixPath
from queue import SimpleQueue
from typing import Any, Callable, Iterable, Iterator, List, Mapping, Optional, Tuple, Union

from . import _native
from ._data import to_json

Source = Union[str, bytes]
JSONText = Union[str, bytes, bytearray, memoryview]

_MAX_LIMIT = 2**64 - 1
_MAX_DEPTH = 100  # the nesting the engine keeps safe on a 256 KiB stack


@dataclasses.dataclass(frozen=True)
class Limits:
    """Bounds for every render of the templates an engine compiles.

    A field left at None keeps the engine's default, which follows the size
    of the render's input (see the README's Limits). A value is an absolute
    bound: a positive integer, and ``max_depth`` at most 100. A render that
    goes beyond a bound raises :class:`mervalt.RenderLimitError`.
    """

    max_memory_bytes: Optional[int] = None  #: bytes one render may hold, its output included
    max_output_bytes: Optional[int] = None  #: bytes of output
    max_work: Optional[int] = None  #: units of work, as the README defines them
    max_iterations: Optional[int] = None  #: loop iterations plus inclusions
    max_depth: Optional[int] = None  #: nesting of blocks, include and render at render time

    def __post_init__(self) -> None:
        for field in dataclasses.fields(self):
            value = getattr(self, field.name)
            if value is None:
                continue
            if not isinstance(value, int) or isinstance(value, bool):
                raise TypeError("Limits.%s must be an int or None, not %s" % (field.name, type(value).__name__))
            top = _MAX_DEPTH if field.name == "max_depth" else _MAX_LIMIT
            if not 1 <= value <= top:
                raise ValueError("Limits.%s must be between 1 and %d, not %d" % (field.name, top, value))

    def _settings(self) -> Iterator[Tuple[int, int]]:
        """(mervalt_limit, value) for each bound that is set."""
        for which, value in enumerate((self.max_memory_bytes, self.max_output_bytes, self.max_work,
                                       self.max_iterations, self.max_depth)):
            if value is not None:
                yield which, value


def _json_text(text: Any) -> Union[str, bytes]:
    if isinstance(text, (str, bytes)):
        return text
    if isinstance(text, (bytearray, memoryview)):
        return bytes(text)
    raise TypeError("the JSON text must be str or bytes, not %s" % type(text).__name__)


def _as_bytes(text: Any, what: str) -> bytes:
    if isinstance(text, str):
        return text.encode("utf-8")
    if isinstance(text, bytes):
        return text
    if isinstance(text, (bytearray, memoryview)):
        return bytes(text)
    raise TypeError("%s must be str or bytes, not %s" % (what, type(text).__name__))


def read_partials_dir(folder: Union[str, "os.PathLike[str]"]) -> dict:
    """Every ``*.liquid`` file below ``folder``, as the command-line tool's ``--partials`` reads them.

    A file is named by its path relative to the folder without the
    extension, with ``/`` between folders (``emails/header``). The files must
    be UTF-8 text. Returns the names in order, mapped to the texts.
    """
    root = os.fspath(folder)
    if not os.path.isdir(root):
        raise NotADirectoryError("cannot read the partials folder '%s': not a folder" % root)

    def fail(error: OSError) -> None:
        raise error

    found = {}
    for directory, _, files in os.walk(root, onerror=fail):
        for file_name in files:
            if PurePosixPath(file_name).suffix != ".liquid":
                continue
            path = os.path.join(directory, file_name)
            if os.path.isdir(path):  # a link to a folder named like a template
                continue
            relative = PurePosixPath(os.path.relpath(path, root).replace(os.sep, "/"))
            name = str(relative.parent / relative.stem)
            with open(path, "rb") as f:
                data = f.read()
            try:
                name.encode("utf-8")
                text = data.decode("utf-8")
            except UnicodeError:
                raise ValueError("'%s' is not UTF-8 text, which a template read as a partial must be" % path) from None
            found[name] = text
    return dict(sorted(found.items()))


def _finalizer(owner: Any, free: Callable[[Any], None], pointer: Any) -> weakref.finalize:
    """Frees ``pointer`` when ``owner`` is freed. Not at exit: a daemon thread of
    an abandoned render_many may still be rendering then, and the process's
    end releases the memory anyway."""
    finalizer = weakref.finalize(owner, free, pointer)
    finalizer.atexit = False
    return finalizer


@dataclasses.dataclass(frozen=True)
class Finding:
    """One finding of :meth:`Engine.check`: where (line and column, 1-based, in
    ``partial`` when it is in one), what (``code``, ``severity``, ``message``),
    and the name the author may have meant (``suggestion``)."""

    code: str
    severity: str
    message: str
    line: int
    column: int
    partial: Optional[str] = None
    suggestion: Optional[str] = None

    @classmethod
    def _from_json(cls, entry: Mapping[str, Any]) -> "Finding":
        return cls(entry["code"], entry["severity"], entry["message"], entry["line"], entry["column"],
                   entry.get("partial"), entry.get("suggestion"))

    def __str__(self) -> str:
        where = "%d:%d" % (self.line, self.column)
        if self.partial is not None:
            where = "in partial %r %s" % (self.partial, where)
        return "%s: %s: %s [%s]" % (where, self.severity, self.message, self.code)


@dataclasses.dataclass(frozen=True)
class _EngineConfig:
    """What an engine is made of, without file paths: what engines and templates pickle as."""

    partials: Tuple[Tuple[str, Source], ...] = ()
    limits: Limits = Limits()
    strict_data: bool = False


class Engine:
    """Settings and partials; compiles templates.

    ``partials`` maps names to template sources for ``include`` and
    ``render``; ``partials_dir`` adds every ``*.liquid`` file below a folder,
    named as the command-line tool's ``--partials`` names them (a name in
    ``partials`` replaces a file's). At render time a name is looked up in
    the data's template store first, then among these. Every partial is
    parsed here: a syntax error raises :class:`mervalt.TemplateSyntaxError`
    naming it. ``limits`` bounds every render (:class:`Limits`);
    ``strict_data`` makes unreadable JSON raise :class:`mervalt.DataError`
    instead of rendering without data.

    An engine is immutable once made and may compile on any number of threads
    at once. It pickles by its settings and the texts of its partials.
    """

    __slots__ = ("_pointer", "_config", "_finalizer", "__weakref__")

    def __init__(self, *, partials: Optional[Mapping[str, Source]] = None,
                 partials_dir: Optional[Union[str, "os.PathLike[str]"]] = None,
                 limits: Optional[Limits] = None, strict_data: bool = False) -> None:
        collected: dict = {}
        if partials_dir is not None:
            collected.update(read_partials_dir(partials_dir))
        if partials is not None:
            for name, source in partials.items():
                if not isinstance(name, str):
                    raise TypeError("a partial's name must be a str, not %s" % type(name).__name__)
                if not isinstance(source, (str, bytes)):
                    source = _as_bytes(source, "partial %r" % name)
                collected[name] = source
        if limits is None:
            limits = Limits()
        elif not isinstance(limits, Limits):
            raise TypeError("limits must be a mervalt.Limits, not %s" % type(limits).__name__)
        self._build(_EngineConfig(tuple(collected.items()), limits, bool(strict_data)))

    def _build(self, config: _EngineConfig) -> None:
        pointer = _native.new_engine()
        self._pointer = pointer
        self._config = config
        self._finalizer = _finalizer(self, _native.engine_free, pointer)
        for which, value in config.limits._settings():
            _native.set_limit(pointer, which, value)
        _native.set_strict_data(pointer, config.strict_data)
        for name, source in config.partials:
            if "\0" in name:
                raise ValueError("a partial's name holds a NUL character: %r" % name)
            _native.add_partial(pointer, name.encode("utf-8"), _as_bytes(source, "partial %r" % name))

    @classmethod
    def _from_config(cls, config: _EngineConfig) -> "Engine":
        engine = cls.__new__(cls)
        engine._build(config)
        return engine

    @property
    def partials(self) -> Mapping[str, Source]:
        """The partials' names and sources (a new dict each time)."""
        return dict(self._config.partials)

    @property
    def limits(self) -> Limits:
        return self._config.limits

    @property
    def strict_data(self) -> bool:
        return self._config.strict_data

    def compile(self, source: Source) -> "Template":
        """Parses ``source`` once; the template renders any number of times, on any threads.

        Raises :class:`mervalt.TemplateSyntaxError` with the line and column.
        """
        return Template._compile(self, source)

    def check(self, source: Source, data: Any = None) -> List["Finding"]:
        """The mistakes the template checker finds in ``source``, in text order.

        The checker works from the text alone (with the engine's partials and
        ``data``, when given, for the names it can tell are undefined): unknown
        filters, wrong filter arguments, missing partials, variables read
        where nothing binds them, variables assigned and never read, ...
        A template that does not parse is a finding with the code
        ``"syntax"``, not an exception; ``data`` that is not JSON raises
        as :meth:`Template.render` does.

            >>> mervalt.Engine().check("{{ name | upcse }}")[0].suggestion
            'upcase'
        """
        text = _as_bytes(source, "the template source")
        json_text = None if data is None else to_json(data)
        report = _native.check_template(self._pointer, text, json_text)
        return [Finding._from_json(entry) for entry in json.loads(report)]

    def __reduce__(self):
        return (_engine_for_config, (self._config,))

    def __repr__(self) -> str:
        return "<mervalt.Engine: %d partials, %r, strict_data=%r>" % (
            len(self._config.partials), self._config.limits, self._config.strict_data)


@functools.lru_cache(maxsize=16)
def _engine_for_config(config: _EngineConfig) -> Engine:
    # Unpickling many templates of one engine (a task each, say) parses its
    # partials once per process.
    return Engine._from_config(config)


def _template_from_config(config: _EngineConfig, source: Source) -> "Template":
    return _engine_for_config(config).compile(source)


class Template:
    """A compiled template: immutable, rendered any number of times on any number of threads at once.

    Made by :meth:`Engine.compile`. Its native object is freed when the
    Template is (no engine needs to outlive it). It pickles by its source
    and its engine's settings and partials, so that processes (multiprocessing,
    Dask) can receive it and compile it again.
    """

    __slots__ = ("_pointer", "_source", "_config", "_finalizer", "__weakref__")

    def __init__(self) -> None:
        raise TypeError("templates are made by mervalt.Engine().compile(source)")

    @classmethod
    def _compile(cls, engine: Engine, source: Source) -> "Template":
        text = _as_bytes(source, "the template source")
        pointer = _native.compile(engine._pointer, text)
        template = cls.__new__(cls)
        template._pointer = pointer
        template._source = source if isinstance(source, (str, bytes)) else text
        template._config = engine._config
        template._finalizer = _finalizer(template, _native.template_free, pointer)
        return template

    @property
    def source(self) -> Source:
        """The text the template was compiled from."""
        return self._source

    @property
    def variables(self) -> List[str]:
        """The data paths the template reads, through its partials, in order of first use.

        ``products``, ``products[].title``, ``shop.name``: loop variables,
        plain aliases and include arguments are followed back to the data; a
        path through a filter's result ends at the filter's input.
        """
        return [entry["path"] for entry in json.loads(_native.variables(self._pointer))]

    def render(self, data: Any = None) -> str:
        """Renders against ``data`` and returns the text.

        ``data`` is any value ``json.dumps(data, allow_nan=False)`` accepts,
        with its meaning (None: no data); a value it rejects raises its
        TypeError or ValueError, naming the value. The rendered bytes are
        decoded as UTF-8 with ``errors="replace"``: byte-wise filters such as
        ``truncate`` can cut a multi-byte character, which then reads as
        U+FFFD. :meth:`render_bytes` gives the exact bytes.
        """
        return _native.render(self._pointer, None if data is None else to_json(data), True)

    def render_json(self, json_text: JSONText) -> str:
        """Renders against a JSON document given as text, without converting it.

        An empty text means no data. JSON that is not readable renders as no
        data, or raises :class:`mervalt.DataError` with an engine made with
        ``strict_data``.
        """
        return _native.render(self._pointer, _json_text(json_text), True)

    def render_bytes(self, data: Any = None, *, json_text: Optional[JSONText] = None) -> bytes:
        """The exact rendered bytes, against ``data`` as :meth:`render` takes it or against ``json_text``."""
        if json_text is not None:
            if data is not None:
                raise TypeError("render_bytes takes data or json_text, not both")
            return _native.render(self._pointer, _json_text(json_text), False)
        return _native.render(self._pointer, None if data is None else to_json(data), False)

    def render_many(self, records: Iterable[Any], *, workers: Optional[int] = None,
                    return_exceptions: bool = False) -> Iterator[Union[str, Exception]]:
        """Renders each record as :meth:`render` does, on ``workers`` threads, yielding the texts in input order.

        ``workers`` defaults to the number of CPUs. The library releases the
        GIL while it renders, so renders run in parallel; converting Python
        data to JSON holds it (use :meth:`render_many_json` for data that
        arrives as JSON, or processes for Python data). The records are read
        lazily, a bounded number ahead of the results, so an endless iterator
        is rendered in constant memory. A record that fails raises its
        exception when its turn comes, or with ``return_exceptions`` is
        yielded as the exception.
        """
        return _in_order(self.render, records, workers, return_exceptions)

    def render_many_json(self, texts: Iterable[JSONText], *, workers: Optional[int] = None,
                         return_exceptions: bool = False) -> Iterator[Union[str, Exception]]:
        """:meth:`render_many` for JSON texts, each rendered as :meth:`render_json` renders it."""
        return _in_order(self.render_json, texts, workers, return_exceptions)

    def __reduce__(self):
        return (_template_from_config, (self._config, self._source))

    def __repr__(self) -> str:
        return "<mervalt.Template of %d bytes>" % len(self._source)


def _worker_count(workers: Optional[int]) -> int:
    if workers is None:
        try:
            return max(1, len(os.sched_getaffinity(0)))
        except (AttributeError, OSError):
            return os.cpu_count() or 1
    if not isinstance(workers, int) or isinstance(workers, bool):
        raise TypeError("workers must be an int or None, not %s" % type(workers).__name__)
    if workers < 1:
        raise ValueError("workers must be at least 1, not %d" % workers)
    return workers


def _in_order(render: Callable[[Any], str], items: Iterable[Any], workers: Optional[int],
              return_exceptions: bool) -> Iterator[Union[str, Exception]]:
    count = _worker_count(workers)
    iterator = iter(items)
    if count == 1:
        return _in_order_here(render, iterator, return_exceptions)
    return _in_order_threads(render, iterator, count, return_exceptions)


def _in_order_here(render, iterator, return_exceptions):
    for item in iterator:
        try:
            result = render(item)
        except Exception as e:
            if not return_exceptions:
                raise
            result = e
        yield result


class _Task:
    """One record in flight: its input, then its result or exception; ``done`` is held until it is rendered."""

    __slots__ = ("item", "result", "error", "done")

    def __init__(self, item: Any) -> None:
        self.item = item
        self.result = None
        self.error: Optional[BaseException] = None
        self.done = allocate_lock()
        self.done.acquire()


# Records read ahead of the one being yielded, per worker: enough to keep
# every worker busy while one slow record holds up the order.
_AHEAD_PER_WORKER = 4


def _in_order_threads(render, iterator, count, return_exceptions):
    tasks: SimpleQueue = SimpleQueue()
    stopping = False

    def work() -> None:
        while True:
            task = tasks.get()
            if task is None:
                return
            if not stopping:
                try:
                    task.result = render(task.item)
                except BaseException as e:  # handed to the consumer, in its place
                    task.error = e
            task.item = None
            task.done.release()

    threads = [threading.Thread(target=work, name="mervalt-render-%d" % i, daemon=True) for i in range(count)]
    for thread in threads:
        thread.start()
    pending: deque = deque()
    input_error: Optional[BaseException] = None
    exhausted = False
    window = count * _AHEAD_PER_WORKER
    try:
        while True:
            while not exhausted and len(pending) < window:
                try:
                    item = next(iterator)
                except StopIteration:
                    exhausted = True
                    break
                except Exception as e:  # raised once the records before it are yielded
                    input_error = e
                    exhausted = True
                    break
                task = _Task(item)
                pending.append(task)
                tasks.put(task)
            if not pending:
                break
            task = pending.popleft()
            task.done.acquire()
            if task.error is not None:
                if not return_exceptions or not isinstance(task.error, Exception):
                    raise task.error
                yield task.error
            else:
                yield task.result
        if input_error is not None:
            raise input_error
    finally:
        stopping = True
        for _ in threads:
            tasks.put(None)
        for thread in threads:
            thread.join()


_default_engine: Optional[Engine] = None
_default_lock = threading.Lock()


def _default() -> Engine:
    global _default_engine
    if _default_engine is None:
        with _default_lock:
            if _default_engine is None:
                _default_engine = Engine()
    return _default_engine


def render(source: Source, data: Any = None, *, partials: Optional[Mapping[str, Source]] = None) -> str:
    """Compiles ``source`` and renders it against ``data`` in one call (see :meth:`Template.render`)."""
    engine = _default() if partials is None else Engine(partials=partials)
    json = None if data is None else to_json(data)
    return _native.render_source(engine._pointer, _as_bytes(source, "the template source"), json, True)
