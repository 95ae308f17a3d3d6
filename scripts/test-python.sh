#!/usr/bin/env bash
# The Python package's tests and the Dask example's test, from a clean state:
# a new virtual environment over Debian's interpreter, the package installed
# from python/ (its build reuses build/release when it is up to date), then
# pytest over python/tests and examples/dask.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=build/python-venv
rm -rf "$venv"
# Debian's interpreter, whatever python3 comes first on the PATH; the system
# site-packages hold pytest, dask, distributed, jinja2, rapidjson, setuptools.
/usr/bin/python3 -m venv --system-site-packages "$venv"
"$venv/bin/pip" install --quiet --no-index --no-build-isolation ./python
"$venv/bin/python" -c 'import mervalt; print("mervalt", mervalt.__version__, "from", mervalt.__file__)'
"$venv/bin/python" -m pytest -q -p no:cacheprovider -W "ignore:make_current is deprecated:DeprecationWarning" \
  python/tests examples/dask
