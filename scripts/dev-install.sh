#!/usr/bin/env bash
# Rebuilds and reinstalls the package into .venv (incremental; one build at a time).
set -euo pipefail
cd "$(dirname "$0")/.."
exec flock /tmp/ziveviver-build.lock .venv/bin/python -m pip install -q --no-build-isolation --no-deps . "$@"
