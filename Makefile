# The two commands a fresh machine needs (each installs what it lacks, and is idempotent):
#   make demo    fills the bundled demo form in headless Chromium and reports what landed
#   make test    runs the whole test suite
.PHONY: demo test setup bench

setup:
	bash scripts/bootstrap.sh

demo: setup
	.venv/bin/python -m ziveviver demo

test: setup
	bash scripts/test.sh

bench: setup
	.venv/bin/python bench/bench_bridge.py
	.venv/bin/python bench/bench_memory.py
