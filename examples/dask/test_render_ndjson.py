"""Runs the Dask example on a local cluster of 2 worker processes and checks every page against a render in this process."""
import json
import random
import sys
from pathlib import Path

import mervalt

sys.path.insert(0, str(Path(__file__).resolve().parent))  # the workers find render_ndjson through sys.path
import render_ndjson  # noqa: E402

PAGE = """<h1>{{ name | escape }}</h1>
{% for item in items %}{% render 'line', item: item, currency: currency %}{% endfor %}
{% if items.size > 3 %}<p>{{ items | map: 'title' | join: ', ' | truncate: 40 }}</p>{% endif %}
Total: {{ items | map: 'price' | sum | divided_by: 100.0 | round: 2 }} {{ currency }}
"""
LINE = "<li>{{ item.title | upcase }}: {{ item.price | divided_by: 100.0 }} {{ currency }}</li>\n"
WORDS = "tea cake kettle cup & <b>bold</b> \"quoted\" caf\u00e9 \u00fcber".split()


def records(count):
    rng = random.Random(7)
    for i in range(count):
        items = [{"title": " ".join(rng.choice(WORDS) for _ in range(3)), "price": rng.randint(1, 90000)}
                 for _ in range(rng.randint(0, 6))]
        yield json.dumps({"id": i, "name": "order %d %s" % (i, rng.choice(WORDS)), "currency": "EUR", "items": items},
                         ensure_ascii=rng.random() < 0.5)


def test_pages_rendered_on_two_worker_processes_match_a_local_render(tmp_path):
    inputs, outputs, partials = tmp_path / "in", tmp_path / "out", tmp_path / "partials"
    for folder in (inputs, partials):
        folder.mkdir()
    (tmp_path / "page.liquid").write_text(PAGE, encoding="utf-8")
    (partials / "line.liquid").write_text(LINE, encoding="utf-8")
    lines = list(records(3000))
    for part in range(4):  # four files, a partition each
        (inputs / ("orders-%d.ndjson" % part)).write_text("\n".join(lines[part * 750:(part + 1) * 750]) + "\n\n",
                                                          encoding="utf-8")

    assert render_ndjson.main([str(tmp_path / "page.liquid"), str(inputs), str(outputs),
                               "--partials", str(partials), "--workers", "2"]) == 0

    written = sorted(outputs.glob("*.ndjson"))
    assert [p.name for p in written] == ["00000.ndjson", "00001.ndjson", "00002.ndjson", "00003.ndjson"]
    pages = [json.loads(line) for p in written for line in p.read_text(encoding="utf-8").splitlines()]
    template = mervalt.Engine(partials={"line": LINE}).compile(PAGE)
    expected = [template.render_json(line) for line in lines]
    assert len(pages) == len(expected) == 3000
    mismatches = [i for i, (a, b) in enumerate(zip(pages, expected)) if a != b]
    assert not mismatches, "pages differ at records %s" % mismatches[:10]
    assert "<li>" in expected[0] + expected[1] and "&amp;" in "".join(expected)
