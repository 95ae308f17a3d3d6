"""render_many and render_many_json: input order, errors in their place, lazy reading, threads that end."""
import itertools
import json
import threading

import pytest

import mervalt

TEMPLATE = mervalt.Engine(limits=mervalt.Limits(max_iterations=1000)).compile(
    "{% for i in (1..n) %}{{ i | times: k }},{% endfor %}{{ name | upcase }}")


def record(i):
    return {"n": i % 7 * 50, "k": i, "name": "r%d" % i}


@pytest.mark.parametrize("workers", [1, 2, 3, 8])
def test_results_come_in_input_order(workers):
    records = [record(i) for i in range(300)]
    expected = [TEMPLATE.render(r) for r in records]
    assert list(TEMPLATE.render_many(records, workers=workers)) == expected
    texts = [json.dumps(r) if i % 2 else json.dumps(r).encode() for i, r in enumerate(records)]
    assert list(TEMPLATE.render_many_json(iter(texts), workers=workers)) == expected


# Record 5 goes beyond the iteration limit, record 9 is not JSON data.
FAILING = [record(i) for i in range(12)]
FAILING[5] = {"n": 5000, "k": 1, "name": "x"}
FAILING[9] = {"n": float("nan")}


@pytest.mark.parametrize("workers", [1, 2, 4])
def test_a_failed_record_raises_in_its_place_or_is_yielded(workers):
    seen = []
    with pytest.raises(mervalt.RenderLimitError):
        for text in TEMPLATE.render_many(FAILING, workers=workers):
            seen.append(text)
    assert seen == [TEMPLATE.render(r) for r in FAILING[:5]]

    results = list(TEMPLATE.render_many(FAILING, workers=workers, return_exceptions=True))
    assert [type(r) for r in results if isinstance(r, Exception)] == [mervalt.RenderLimitError, ValueError]
    assert isinstance(results[5], mervalt.RenderLimitError) and isinstance(results[9], ValueError)
    assert [r for i, r in enumerate(results) if i not in (5, 9)] == [
        TEMPLATE.render(r) for i, r in enumerate(FAILING) if i not in (5, 9)]


def test_an_endless_input_is_read_a_bounded_way_ahead_and_the_threads_end():
    threads_before = threading.active_count()
    read = itertools.count()

    def endless():
        for i in read:
            yield json.dumps(record(i))

    results = TEMPLATE.render_many_json(endless(), workers=3)
    first = list(itertools.islice(results, 100))
    assert first == [TEMPLATE.render(record(i)) for i in range(100)]
    assert threading.active_count() == threads_before + 3
    ahead = next(read) - 100
    assert 0 <= ahead <= 3 * 4 + 1
    results.close()
    assert threading.active_count() == threads_before


def test_an_input_that_fails_raises_after_the_records_before_it():
    def broken():
        yield record(1)
        yield record(2)
        raise KeyError("input")

    seen = []
    with pytest.raises(KeyError):
        for text in TEMPLATE.render_many(broken(), workers=2):
            seen.append(text)
    assert seen == [TEMPLATE.render(record(1)), TEMPLATE.render(record(2))]


def test_workers_must_be_a_positive_int():
    for workers, exception in [(0, ValueError), (-1, ValueError), (1.5, TypeError), (True, TypeError)]:
        with pytest.raises(exception):
            TEMPLATE.render_many([], workers=workers)
    assert list(TEMPLATE.render_many([])) == []
