"""Times the Python package on the 200-product page against Jinja2 rendering the same page, in one run.

usage: bench_product_page.py [--products N] [--rounds R] [--records K]

Three comparisons, each as the median of R interleaved rounds:
  json     Template.render_json(text) against json.loads(text) plus Jinja2's render
  dict     Template.render(dict), serialisation included, against Jinja2's render of the dict
  threads  render_many_json over K copies of the page's JSON on 2 workers against 1 worker
and the encoders that Template.render may use for the page's data (and
ujson's, when it is installed, for comparison).
Both engines render templates compiled beforehand; the outputs are checked to
agree (Jinja2 writes &#34; where the Liquid page writes &quot;) before timing.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import jinja2

import mervalt
from mervalt import _data

PAGE_DIR = Path(__file__).resolve().parents[2] / "bench" / "product_page"


def page_data(products: int) -> str:
    """The page's JSON text, written by the repository's generator (fixed seed)."""
    with tempfile.TemporaryDirectory() as folder:
        out = Path(folder) / "products.json"
        subprocess.run([sys.executable, str(PAGE_DIR / "gen_data.py"), str(products), str(out)], check=True)
        return out.read_text(encoding="utf-8")


def per_call(function, calls: int, cpu=None) -> float:
    """Seconds per call over `calls` calls; adds (wall, CPU) seconds to `cpu` when given."""
    start, start_cpu = time.perf_counter(), time.process_time()
    for _ in range(calls):
        function()
    wall = time.perf_counter() - start
    if cpu is not None:
        cpu[0] += wall
        cpu[1] += time.process_time() - start_cpu
    return wall / calls


def calls_for(function, seconds: float = 0.2) -> int:
    """How many calls take about `seconds`."""
    return max(1, int(seconds / max(per_call(function, 3), 1e-7)))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--products", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--records", type=int, default=400, help="records per render_many_json run")
    args = parser.parse_args()

    text = page_data(args.products)
    data = json.loads(text)
    template = mervalt.Engine().compile((PAGE_DIR / "page.liquid").read_text(encoding="utf-8"))
    env = jinja2.Environment(loader=jinja2.FileSystemLoader(str(PAGE_DIR)), autoescape=False,
                             keep_trailing_newline=True)
    page = env.get_template("page.j2")

    ours = template.render_json(text)
    theirs = page.render(data).replace("&#34;", "&quot;")
    if ours != theirs or template.render(data) != ours:
        at = next((i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b), min(len(ours), len(theirs)))
        print("the two engines' pages differ at character %d:\n  mervalt: %r\n  jinja2:  %r"
              % (at, ours[at - 40:at + 40], theirs[at - 40:at + 40]), file=sys.stderr)
        return 1
    print("%d products: %d bytes of JSON, %d characters of page; outputs agree" % (args.products, len(text), len(ours)))

    texts = [text] * args.records
    cases = {
        "mervalt render_json(text)": lambda: template.render_json(text),
        "jinja2 json.loads + render": lambda: page.render(json.loads(text)),
        "mervalt render(dict)": lambda: template.render(data),
        "jinja2 render(dict)": lambda: page.render(data),
        "render_many_json 1 worker": lambda: sum(1 for _ in template.render_many_json(texts, workers=1)),
        "render_many_json 2 workers": lambda: sum(1 for _ in template.render_many_json(texts, workers=2)),
    }
    encoders = {
        "encoder json.dumps(allow_nan=False)": lambda: json.dumps(data, allow_nan=False),
    }
    if _data._STDLIB is not None:
        encoders["encoder json C, no cycle table"] = lambda: "".join(_data._STDLIB(data, 0))
    if _data._RAPIDJSON is not None:
        encoders["encoder rapidjson, strict modes"] = lambda: _data._RAPIDJSON(data)
    try:
        import ujson
        encoders["encoder ujson"] = lambda: ujson.dumps(data, ensure_ascii=False, allow_nan=False, reject_bytes=True)
    except ImportError:
        pass
    cases.update(encoders)
    calls = {name: calls_for(f) for name, f in cases.items()}
    samples = {name: [] for name in cases}
    cpu = {name: [0.0, 0.0] for name in cases}
    load_before = os.getloadavg()
    for _ in range(args.rounds):
        for name, f in cases.items():  # interleaved, so that a busy moment hits every case alike
            samples[name].append(per_call(f, calls[name], cpu[name]))
    load_after = os.getloadavg()
    median = {name: statistics.median(values) for name, values in samples.items()}

    print("median of %d rounds (load average %.2f before, %.2f after, on %d CPUs):"
          % (args.rounds, load_before[0], load_after[0], os.cpu_count() or 0))
    for name in ("mervalt render_json(text)", "jinja2 json.loads + render", "mervalt render(dict)", "jinja2 render(dict)"):
        print("  %-28s %9.1f us per page" % (name, median[name] * 1e6))
    for name in ("render_many_json 1 worker", "render_many_json 2 workers"):
        print("  %-28s %9.1f us per page (%d pages a run; %.2f cores busy in this process)"
              % (name, median[name] / args.records * 1e6, args.records, cpu[name][1] / cpu[name][0]))
    for name in encoders:
        print("  %-36s %9.1f us" % (name, median[name] * 1e6))
    print("  Template.render uses: %s" % " > ".join(_data.encoder_names()))
    ratios = [
        ("data as JSON text: jinja2 / mervalt", median["jinja2 json.loads + render"] / median["mervalt render_json(text)"], 25.0),
        ("data in Python: jinja2 / mervalt", median["jinja2 render(dict)"] / median["mervalt render(dict)"], 4.0),
        ("render_many_json: 1 worker / 2 workers", median["render_many_json 1 worker"] / median["render_many_json 2 workers"], 1.7),
    ]
    for name, ratio, goal in ratios:
        print("  %-40s %6.2fx  (goal %.1fx)" % (name, ratio, goal))
    return 0


if __name__ == "__main__":
    sys.exit(main())
