"""Renders every record of a folder of NDJSON files with one mervalt template, on a Dask cluster.

usage: render_ndjson.py TEMPLATE INPUT_DIR OUTPUT_DIR [--partials DIR] [--workers N] [--scheduler ADDRESS]

Each line of INPUT_DIR/*.ndjson is one JSON record. dask.bag reads the files
(a partition per file), ships the compiled template to the workers (a
mervalt.Template pickles by its source and its partials' texts, and compiles
again there), renders each partition there, and writes one text file per
partition to OUTPUT_DIR: NNNNN.ndjson, whose lines are the rendered pages as
JSON strings, in the order of the input. Without --scheduler it starts a
local cluster of --workers processes; with it, it uses that cluster, whose
workers must see INPUT_DIR and OUTPUT_DIR (a shared folder, or a URL that
Dask reads, such as s3://bucket/pages).
"""
import argparse
import contextlib
import json
import logging
import os
import sys
from typing import Iterable, List, Optional

import dask.bag as db
from distributed import Client, LocalCluster

import mervalt


def render_partition(lines: Iterable[str], template: mervalt.Template) -> List[str]:
    """Runs on a worker: one partition's records rendered, each page as one JSON string line."""
    # One thread per partition: Dask already runs as many partitions at once as the workers have threads.
    return [json.dumps(page) for page in template.render_many_json(lines, workers=1)]


def render_folder(template: mervalt.Template, input_dir: str, output_dir: str) -> List[str]:
    """Renders INPUT_DIR/*.ndjson on the current Dask client; returns the files written."""
    records = db.read_text(os.path.join(input_dir, "*.ndjson")).filter(str.strip)
    pages = records.map_partitions(render_partition, template)
    return pages.to_textfiles(os.path.join(output_dir, "*.ndjson"), name_function="{:05d}".format, last_endline=True)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("template")
    parser.add_argument("input_dir")
    parser.add_argument("output_dir")
    parser.add_argument("--partials", help="a folder of *.liquid partials, as the mervalt tool reads them")
    parser.add_argument("--workers", type=int, default=2, help="processes of the local cluster (default 2)")
    parser.add_argument("--scheduler", help="the address of a running cluster's scheduler, e.g. tcp://10.0.0.5:8786")
    args = parser.parse_args(argv)

    engine = mervalt.Engine(partials_dir=args.partials)
    with open(args.template, encoding="utf-8") as f:
        template = engine.compile(f.read())
    os.makedirs(args.output_dir, exist_ok=True)

    with contextlib.ExitStack() as stack:
        if args.scheduler:  # many machines: the only difference is where the client connects
            cluster = args.scheduler
        else:
            cluster = stack.enter_context(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                                       dashboard_address=None, silence_logs=logging.ERROR))
        stack.enter_context(Client(cluster))
        written = render_folder(template, args.input_dir, args.output_dir)
    print("%d files written to %s" % (len(written), args.output_dir), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
