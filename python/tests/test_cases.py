"""The repository's case files rendered through the package: the bytes the C interface gives, failures raised."""
import json

import pytest

import case_files
import mervalt
from mervalt import _data

ENGINE = mervalt.Engine()


def _outcome(call):
    """('ok', bytes) or ('fails', the exception's class name)."""
    try:
        return "ok", call()
    except mervalt.Error as e:
        return "fails", type(e).__name__


def _expected(case):
    return ("fails", None) if case.fails else ("ok", case.expect)


def _same(outcome, expected):
    return outcome[0] == expected[0] and (outcome[0] == "fails" or outcome[1] == expected[1])


@pytest.mark.parametrize("path", case_files.case_files(), ids=lambda p: p.stem)
def test_case_file_renders_as_the_c_interface(path):
    """Each case through Engine.compile + render_bytes, and through mervalt.render when it renders to text."""
    problems = []
    cases = case_files.load(path)
    assert cases, "no cases in %s" % path
    for case in cases:
        def compiled():
            template = ENGINE.compile(case.template)
            return template.render_bytes(json_text=case.data) if case.data is not None else template.render_bytes()

        outcome = _outcome(compiled)
        if not _same(outcome, _expected(case)):
            problems.append("%s: expected %r, got %r" % (case, _expected(case), outcome))
            continue
        if outcome[0] == "ok":
            try:
                text = outcome[1].decode("utf-8")
            except UnicodeDecodeError:
                continue
            data = json.loads(case.data) if case.data and _plain_json(case.data) else None
            if data is not None and mervalt.render(case.template, data) != text:
                problems.append("%s: mervalt.render differs" % case)
        else:
            with pytest.raises(mervalt.Error):
                compiled()
    assert not problems, "\n".join(problems[:20])


def _plain_json(text: bytes) -> bool:
    """Whether Python reads the JSON text to the same document the engine reads (no duplicate keys, NaN or huge numbers)."""
    def pairs(items):
        keys = [k for k, _ in items]
        if len(set(keys)) != len(keys):
            raise ValueError("duplicate key")
        return dict(items)

    def constant(name):
        raise ValueError(name)

    try:
        value = json.loads(text, object_pairs_hook=pairs, parse_constant=constant)
        _data.to_json(value)
    except (ValueError, RecursionError):
        return False
    return True


@pytest.mark.parametrize("encoders", [("rapidjson", "json-c", "json"), ("json-c", "json"), ("json",)],
                         ids=["rapidjson", "json-c", "json-only"])
def test_case_data_read_by_python_renders_alike(encoders, monkeypatch):
    """Every case's JSON read by json.loads and serialised again renders the same bytes, with each encoder."""
    if "rapidjson" in encoders and _data._RAPIDJSON is None:
        pytest.skip("python3-rapidjson is not installed")
    if "rapidjson" in encoders and not _data._floats_print_alike():
        pytest.skip("a float subclass in this process prints otherwise (numpy's, say)")
    if "rapidjson" not in encoders:
        monkeypatch.setattr(_data, "_RAPIDJSON", None)
    if "json-c" not in encoders:
        monkeypatch.setattr(_data, "_STDLIB", None)
    assert _data.encoder_names() == list(encoders)
    problems = []
    checked = 0
    for path in case_files.case_files():
        for case in case_files.load(path):
            if case.fails or not case.data or not _plain_json(case.data):
                continue
            template = ENGINE.compile(case.template)
            checked += 1
            if template.render_bytes(json.loads(case.data)) != case.expect:
                problems.append(str(case))
    assert checked > 150
    assert not problems, "\n".join(problems[:20])
