# Two commands matter: `make run` and `make test`. Both set up what is
# missing, build, and then run the demo or the tests.
BUILD      ?= build
SAN_BUILD  ?= build-sanitize
BENCH_BUILD?= build-bench
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
WERROR     ?= ON
# Seconds each fuzz smoke run lasts; one input that takes as long is a hang.
FUZZ_SECONDS ?= 60
FUZZ_RUN    = -artifact_prefix=$(FUZZ_BUILD)/ -max_total_time=$(FUZZ_SECONDS) -timeout=$(FUZZ_SECONDS)

.PHONY: setup build run test test-sanitize bench fuzz fuzz-smoke fuzz-memo-smoke fuzz-expr-smoke fuzz-index-smoke format clean

setup:
	@bash scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOV_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	bash scripts/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: setup
	cmake -S . -B $(SAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DOV_SANITIZE=ON -DOV_WERROR=$(WERROR)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B $(BENCH_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DOV_BUILD_BENCH=ON -DOV_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/ov_bench
	if [ -x $(BENCH_BUILD)/bench/ov_expr_bench ]; then $(BENCH_BUILD)/bench/ov_expr_bench; fi
	if [ -x $(BENCH_BUILD)/bench/ov_demo_bench ]; then $(BENCH_BUILD)/bench/ov_demo_bench; fi
	$(BENCH_BUILD)/bench/ov_index_bench
	$(BENCH_BUILD)/bench/ov_index_update_bench

fuzz: setup
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DOV_BUILD_FUZZ=ON -DOV_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz-smoke: fuzz
	mkdir -p $(FUZZ_BUILD)/corpus
	cp -n tests/data/fixtures/*.dbf $(FUZZ_BUILD)/corpus/ 2>/dev/null || true
	$(FUZZ_BUILD)/fuzz/fuzz_dbf $(FUZZ_RUN) -max_len=8192 $(FUZZ_BUILD)/corpus

fuzz-memo-smoke: fuzz
	python3 tools/make_memo_corpus.py $(FUZZ_BUILD)/memo-corpus
	$(FUZZ_BUILD)/fuzz/fuzz_memo $(FUZZ_RUN) -max_len=16384 $(FUZZ_BUILD)/memo-corpus

fuzz-expr-smoke: fuzz
	mkdir -p $(FUZZ_BUILD)/expr-corpus
	grep -v '^#' tests/data/expr_cases.txt | cut -d'|' -f1 | awk 'NF{print > ("$(FUZZ_BUILD)/expr-corpus/seed" NR)}'
	$(FUZZ_BUILD)/fuzz/fuzz_expr $(FUZZ_RUN) -max_len=300 $(FUZZ_BUILD)/expr-corpus

fuzz-index-smoke: fuzz
	mkdir -p $(FUZZ_BUILD)/index-corpus
	$(FUZZ_BUILD)/fuzz/fuzz_index $(FUZZ_RUN) -max_len=65536 $(FUZZ_BUILD)/index-corpus

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)

# Formats every C++ source the way .clang-format says.
format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i --style=file
