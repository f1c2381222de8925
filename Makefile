# The two commands a fresh machine needs (each installs what it lacks, and is idempotent):
#   make demo    fills the bundled demo form in headless Chromium and reports what landed
#   make test    runs the whole test suite
.PHONY: demo test setup bench python314 abi3 test-asan test-asserts test-clang windows-check soak fuzz

setup:
	bash scripts/bootstrap.sh

demo: setup
	.venv/bin/python -m ziveviver demo

test: setup
	bash scripts/test.sh

bench: setup
	.venv/bin/python bench/bench_bridge.py
	.venv/bin/python bench/bench_memory.py

# CPython 3.14 from Debian's source package, built into ~/.cache/ziveviver/cpython-3.14 (outside
# the repository; reused when it is there). Once it exists, make test runs the suite on it too.
python314:
	bash scripts/build-python314.sh

# The abi3 wheel in dist/: every module built against CPython's limited API 3.12, one
# cp312-abi3 wheel for CPython 3.12 and later; checked on the interpreter that built it, the
# unit and bridge tests run against its modules.
# ABI3_PYTHON=... picks that interpreter (default: python3 if 3.12+, else make python314's).
abi3:
	bash scripts/abi3-wheel.sh

# Checking builds of the extension modules (their own folders under build/, never .venv),
# each running the unit and bridge tests: AddressSanitizer + UndefinedBehaviorSanitizer
# (g++'s runtime), assertions kept on, and Debian's newest clang with -Werror
# -pedantic-errors (make test runs the latter two too).
test-asan: setup
	bash scripts/native-check.sh asan

test-asserts: setup
	bash scripts/native-check.sh asserts

test-clang: setup
	bash scripts/native-check.sh clang

# Every native source compiled for 64-bit Windows (mingw-w64 g++, CPython 3.14's headers with
# their Windows configuration header); nothing linked or run. make test runs it too.
windows-check: setup
	bash scripts/windows-check.sh

# Leak soak against the recording page: 1,000,000 primitive calls and 10,000 whole-form
# fills, resident memory and tracemalloc reported at checkpoints (several minutes).
soak: setup
	.venv/bin/python bench/soak.py

# The generated-input tests with 10,000 examples each (200 in make test).
fuzz: setup
	ZV_FUZZ_EXAMPLES=10000 .venv/bin/python -m pytest -q -p no:cacheprovider tests/unit/test_fuzz.py --hypothesis-show-statistics
