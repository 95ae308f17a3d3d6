"""The package's API: errors with their places, limits, partials from a mapping and a folder, data, pickling."""
import collections
import enum
import gc
import json
import multiprocessing
import pickle

import pytest

import mervalt
from mervalt import Limits, Status, _data

L = Limits
ERRORS = [
    # (engine settings, template, data, exception, status, line, column, partial, str(error))
    ({}, "{% for x in y %}\n  {% if a %}\n{% endfor %}", None, mervalt.TemplateSyntaxError, Status.SYNTAX, 3, 4, None,
     "3:4: 'endfor' does not close the open 'if' (opened at 2:3)"),
    ({}, "{% if %}", None, mervalt.TemplateSyntaxError, Status.SYNTAX, 1, 7, None,
     "1:7: expected an expression before '%}'"),
    ({}, "{% render 'card' %}", {"templates": {"card": "ok\n{{ x"}}, mervalt.TemplateSyntaxError, Status.SYNTAX, 2, 1,
     "card", "in partial 'card' 2:1: '{{' is never closed"),
    ({"strict_data": True}, "x", '{"a": [1,]}', mervalt.DataError, Status.DATA, 1, 9, None,
     "in the data 1:9: trailing comma before ']'"),
    ({"limits": L(max_depth=2)}, "{% if true %}{% if true %}{% if true %}x{% endif %}{% endif %}{% endif %}", None,
     mervalt.RenderLimitError, Status.DEPTH, 0, 0, None,
     "rendering nests deeper than 2 levels (blocks, include and render)"),
    ({"limits": L(max_iterations=10)}, "{% for i in (1..100) %}{% endfor %}", None, mervalt.RenderLimitError,
     Status.ITERATIONS, 0, 0, None, "more than 10 loop iterations and inclusions"),
    ({"limits": L(max_work=1000)}, "{% for i in (1..1000) %}{{ i }}{% endfor %}", None, mervalt.RenderLimitError,
     Status.WORK, 0, 0, None, "more than 1,000 units of work"),
    ({"limits": L(max_output_bytes=10)}, "{{ s }}{{ s }}", {"s": "abcdefgh"}, mervalt.RenderLimitError, Status.OUTPUT,
     0, 0, None, "the output would be larger than 10 bytes"),
    ({"limits": L(max_memory_bytes=1 << 20)}, "{{ s | replace: '', big }}", {"s": "x" * 1000, "big": "y" * 10000},
     mervalt.RenderLimitError, Status.MEMORY_LIMIT, 0, 0, None, "rendering would hold more than 1 MiB of memory"),
]


@pytest.mark.parametrize("settings, source, data, kind, status, line, column, partial, text", ERRORS,
                         ids=[e[-1][:40] for e in ERRORS])
def test_errors_carry_their_kind_and_place(settings, source, data, kind, status, line, column, partial, text):
    def run():
        template = mervalt.Engine(**settings).compile(source)
        return template.render_json(data) if isinstance(data, str) else template.render(data)

    with pytest.raises(kind) as caught:
        run()
    e = caught.value
    assert (e.status, e.line, e.column, e.partial, str(e)) == (status, line, column, partial, text)
    assert isinstance(e, mervalt.Error)
    copy = pickle.loads(pickle.dumps(e))  # errors cross process boundaries too
    assert (type(copy), copy.status, str(copy)) == (kind, status, text)


def test_a_partial_that_does_not_parse_is_reported_when_the_engine_is_made():
    with pytest.raises(mervalt.TemplateSyntaxError) as caught:
        mervalt.Engine(partials={"ok": "fine", "card": "x {{ "})
    assert str(caught.value) == "in partial 'card' 1:3: '{{' is never closed"


def test_out_of_memory_is_a_memory_error():
    error = mervalt._errors.error_for(Status.NO_MEMORY, "out of memory")
    assert isinstance(error, MemoryError) and isinstance(error, mervalt.OutOfMemoryError)
    assert isinstance(error, mervalt.Error) and str(error) == "out of memory"


@pytest.mark.parametrize("kwargs, exception", [
    ({"max_work": 0}, ValueError), ({"max_depth": 101}, ValueError), ({"max_output_bytes": -1}, ValueError),
    ({"max_memory_bytes": 2**64}, ValueError), ({"max_iterations": 1.5}, TypeError), ({"max_work": True}, TypeError),
])
def test_limits_refuse_values_the_engine_cannot_hold(kwargs, exception):
    with pytest.raises(exception):
        Limits(**kwargs)


def test_limits_are_frozen_and_only_the_set_ones_apply():
    limits = Limits(max_work=10**9, max_depth=100)
    with pytest.raises(AttributeError):
        limits.max_work = 5
    engine = mervalt.Engine(limits=limits)
    assert engine.limits == limits
    assert engine.compile("{% for i in (1..3) %}{{ i }}{% endfor %}").render() == "123"


def test_partials_from_a_mapping_a_folder_and_the_data(tmp_path):
    (tmp_path / "emails").mkdir()
    (tmp_path / "card.liquid").write_text("[card {{ x }}]")
    (tmp_path / "emails" / "header.liquid").write_text("[header]")
    (tmp_path / "notes.txt").write_text("{{ not a partial")
    (tmp_path / "both.liquid").write_text("[file]")
    engine = mervalt.Engine(partials_dir=tmp_path, partials={"both": "[mapping]", "extra": b"[bytes]"})
    assert sorted(engine.partials) == ["both", "card", "emails/header", "extra"]
    source = "{% render 'card', x: 1 %}{% include 'emails/header' %}{% render 'both' %}{% render 'extra' %}{% render 'inline' %}"
    expected = "[card 1][header][mapping][bytes][from data]"
    assert engine.compile(source).render({"templates": {"inline": "[from data]"}}) == expected
    # the data's store comes first
    assert engine.compile("{% render 'card' %}").render({"templates": {"card": "[data card]"}}) == "[data card]"
    assert mervalt.render("{% render 'p' %}!", partials={"p": "hi"}) == "hi!"


def test_a_partials_folder_must_hold_utf8_text(tmp_path):
    (tmp_path / "bad.liquid").write_bytes(b"caf\xe9")
    with pytest.raises(ValueError, match="is not UTF-8 text"):
        mervalt.Engine(partials_dir=tmp_path)
    with pytest.raises(NotADirectoryError):
        mervalt.Engine(partials_dir=tmp_path / "missing")


def test_text_and_bytes():
    template = mervalt.Engine().compile("{{ s | truncate: 4, '' }}|{{ s | size }}")
    # truncate counts bytes: "é" is two, and the cut leaves half of it
    assert template.render_bytes({"s": "aaé!"}) == b"aa\xc3\xa9|5"
    assert template.render_bytes({"s": "aaaé"}) == b"aaa\xc3|5"
    assert template.render({"s": "aaaé"}) == "aaa\ufffd|5"
    assert template.render_json('{"s": "abc"}') == template.render_json(b'{"s": "abc"}') == "abc|3"
    assert template.render_bytes(json_text='{"s": "x"}') == b"x|1"
    assert template.render() == template.render_json("") == "|0"
    with pytest.raises(TypeError):
        template.render_bytes({"s": 1}, json_text="{}")
    assert mervalt.Engine().compile(b"caf\xc3\xa9 {{ a }}").render({"a": 1}) == "café 1"


class Float(float):
    pass


class Int(int):
    def __repr__(self):
        return "Int!"


class Colour(str, enum.Enum):
    RED = "red"


class Size(enum.IntEnum):
    BIG = 3


Point = collections.namedtuple("Point", "x y")
DATA = [
    {}, [], "text", 0, -0.0, 1.0, 0.1, 1e16, 1e-7, 5e-324, 1.7976931348623157e308, 2**53 + 1, 2**63 - 1, 2**63,
    2**64 + 1, -(2**70), True, False, None, {"a": [1, 2.5, "x", None, True]}, {1: "int key"}, {2.5: "f"},
    {True: "t", None: "n"}, {1: "a", "1": "b"}, (1, 2), Point(1, 2), Float(2.5), Int(7), Colour.RED, Size.BIG,
    {"s": "caf\u00e9 \u2028 \U0001f600 \"q\" \\ \x00\x1f </script>"}, {"lone": "\ud800"},
    collections.OrderedDict(b=1, a=2), collections.defaultdict(list, k=[1]), {"k": "x" * 10000},
    [[[[[[[[[[1]]]]]]]]]], {"nested": {"list": [{"deep": [1.5, {"x": None}]}]}},
]


def _canonical(text) -> str:
    return json.dumps(json.loads(text))


@pytest.mark.parametrize("value", DATA, ids=[repr(v)[:30] for v in DATA])
def test_data_means_what_json_dumps_means(value):
    ours = _data.to_json(value)
    assert _canonical(ours) == _canonical(json.dumps(value, allow_nan=False))
    template = mervalt.Engine().compile("{{ a | json }}|{% for k in b %}{{ k }};{% endfor %}")
    wrapped = {"a": value, "b": value if isinstance(value, (list, dict)) else []}
    assert template.render(wrapped) == template.render_json(json.dumps(wrapped))


def test_a_float_subclass_that_prints_otherwise_leaves_the_fast_encoder_aside():
    before = _data.encoder_names()

    class Odd(float):
        def __repr__(self):
            return "odd"

    value = Odd(1.5)
    assert "rapidjson" not in _data.encoder_names()
    assert _data.to_json({"x": value}) == '{"x":1.5}' == json.dumps({"x": value}, separators=(",", ":"))
    del Odd, value
    gc.collect()
    assert _data.encoder_names() == before


circular = []
circular.append(circular)
BAD = [
    ({"a": object()}, TypeError, "Object of type object is not JSON serializable"),
    ({"a": float("nan")}, ValueError, "Out of range float values are not JSON compliant"),
    ({"a": [1, float("inf")]}, ValueError, "the float inf at data['a'][1]"),
    (float("-inf"), ValueError, "Out of range float values"),
    ({"a": {1, 2}}, TypeError, "Object of type set is not JSON serializable"),
    ({"a": b"bytes"}, TypeError, "Object of type bytes is not JSON serializable"),
    ({(1, 2): "tuple key"}, TypeError, "keys must be str, int, float, bool or None"),
    ({float("nan"): 1}, ValueError, "Out of range float values"),
    (circular, ValueError, "Circular reference detected"),
]


@pytest.mark.parametrize("value, exception, words", BAD, ids=[b[2][:30] for b in BAD])
def test_data_that_json_dumps_rejects_raises_its_error(value, exception, words):
    with pytest.raises(exception) as ours:
        mervalt.Engine().compile("{{ a }}").render(value)
    with pytest.raises(exception) as theirs:
        json.dumps(value, allow_nan=False)
    assert words in str(ours.value) and str(theirs.value) in str(ours.value)


def test_templates_and_engines_pickle_by_their_texts(tmp_path):
    (tmp_path / "card.liquid").write_text("<{{ p }}>")
    engine = mervalt.Engine(partials_dir=tmp_path, limits=Limits(max_work=10**6), strict_data=True)
    template = engine.compile("{% render 'card', p: x %}")
    blob = pickle.dumps(template)
    (tmp_path / "card.liquid").unlink()  # pickled by text, not by path
    copy = pickle.loads(blob)
    assert copy.render({"x": 1}) == template.render({"x": 1}) == "<1>"
    with pytest.raises(mervalt.DataError):
        copy.render_json("{")
    engine_copy = pickle.loads(pickle.dumps(engine))
    assert (engine_copy.partials, engine_copy.limits, engine_copy.strict_data) == (
        engine.partials, engine.limits, True)
    assert engine_copy.compile("{% render 'card', p: 2 %}").render() == "<2>"


def _render_in_child(template_and_data):
    template, data = template_and_data
    return template.render(data)


def test_templates_reach_other_processes():
    template = mervalt.Engine(partials={"p": "({{ v }})"}).compile("{% render 'p', v: x %}")
    context = multiprocessing.get_context("spawn")
    with context.Pool(1) as pool:
        assert pool.map(_render_in_child, [(template, {"x": i}) for i in range(3)]) == ["(0)", "(1)", "(2)"]


def test_native_objects_are_freed_with_their_python_objects():
    template = mervalt.Engine().compile("x")
    finalizer = template._finalizer
    assert finalizer.alive
    del template
    assert not finalizer.alive


# ---- the template checker ----

CHECKS = [
    # source, data, expected (code, line, column, suggestion) in order
    ("{{ name | upcse }}", None, [("unknown-filter", 1, 11, "upcase")]),
    ("{{ x | truncate: 1, 2, 3 }}", None, [("filter-arguments", 1, 8, None)]),
    ("{% assign unused = 1 %}{{ prodcts }}", {"products": []},
     [("unused-assign", 1, 1, None), ("undefined-variable", 1, 27, "products")]),
    ("{% for p in products %}{{ p.title }}{% endfor %}", {"products": []}, []),
    ("{% if a %}\n{% endfor %}", None, [("syntax", 2, 4, None)]),
]


@pytest.mark.parametrize("source,data,expected", CHECKS)
def test_check_finds_what_the_checker_reports(source, data, expected):
    findings = mervalt.Engine().check(source, data)
    assert [(f.code, f.line, f.column, f.suggestion) for f in findings] == expected
    assert all(f.severity in ("warning", "error") for f in findings)


def test_check_looks_into_the_engines_partials_and_variables_follow_them():
    engine = mervalt.Engine(partials={"card": "{{ p.title | upcse }}"})
    findings = engine.check("{% for p in products %}{% render 'card', p: p %}{% endfor %}")
    assert [(f.code, f.partial) for f in findings] == [("unknown-filter", "card")]
    assert "in partial 'card'" in str(findings[0])
    page = engine.compile("{% for p in products %}{% render 'card', p: p %}{% endfor %}{{ shop.name }}")
    assert page.variables == ["products", "products[]", "products[].title", "shop.name"]
    with pytest.raises(TypeError):
        engine.check("{{ x }}", {"x": object()})
