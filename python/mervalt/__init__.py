"""mervalt: Liquid templates compiled once and rendered fast, through a ctypes binding of libmervalt-engine.so.

    import mervalt
    mervalt.render("Hello {{ name }}!", {"name": "Ada"})            # 'Hello Ada!'
    engine = mervalt.Engine(partials={"card": "<li>{{ p.title }}</li>"},
                            limits=mervalt.Limits(max_output_bytes=1 << 20))
    page = engine.compile("{% for p in products %}{% render 'card', p: p %}{% endfor %}")
    page.render({"products": [{"title": "Mug"}]})                     # '<li>Mug</li>'
    page.render_json('{"products": []}')                              # JSON text, not converted
    for text in page.render_many(records, workers=4): ...             # threads, input order
    engine.check("{{ p.title | upcse }}")                             # [Finding(code='unknown-filter', ...)]
    page.variables                                                    # ['products', 'products[].title']

Errors: :class:`TemplateSyntaxError`, :class:`RenderLimitError`,
:class:`DataError` (strict data) and :class:`OutOfMemoryError` (a
MemoryError), all :class:`Error` with ``status``, ``line``, ``column`` and
``partial``.
"""
from ._api import Engine, Finding, Limits, Template, read_partials_dir, render
from ._errors import DataError, Error, OutOfMemoryError, RenderLimitError, Status, TemplateSyntaxError
from ._native import VERSION as engine_version

__version__ = "0.3.0"

__all__ = [
    "DataError",
    "Engine",
    "Error",
    "Finding",
    "Limits",
    "OutOfMemoryError",
    "RenderLimitError",
    "Status",
    "Template",
    "TemplateSyntaxError",
    "engine_version",
    "read_partials_dir",
    "render",
]
