# make run   installs what is missing, builds, and starts the application (without a display:
#            converts the bundled example recording with the command-line tool)
# make test  installs what is missing, builds, and runs every test through CTest

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# The Python package (python/) and its tests: numpy, pandas, pytest, and pip with Debian's
# setuptools for the offline install test.
PYTHON_PACKAGES := python3-numpy python3-pandas python3-pytest python3-pip
# Debian's interpreter, which has those packages, even where another python3 comes first.
PYTHON3    := $(firstword $(wildcard /usr/bin/python3) python3)
PACKAGES   := g++ make cmake binutils fonts-dejavu-core libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev libflac-dev \
              $(PYTHON_PACKAGES)
# The presence report's test renders it in a real browser.
TEST_PACKAGES := chromium
SCREENSHOT_PACKAGES := xvfb xauth
PLOT_PACKAGES := python3-pandas python3-matplotlib
FUZZ_PACKAGES := clang libclang-rt-dev
PACKAGE_PACKAGES := dpkg-dev file
PACKAGE_CHECK_PACKAGES := man-db bash-completion lintian
CLUSTER_PACKAGES := slurmctld slurmd slurm-client munge parallel

.PHONY: all deps build test run sanitize-test fuzz bench bench-presence example screenshot \
        report-screenshot screenshot-results plot format clean package package-check test-cluster

all: build

# Install the Debian packages that are missing (as root), or say exactly what to install.
deps:
	@./scripts/ensure-packages $(PACKAGES)

# ccache, where installed, keeps rebuilds of several checkouts short; it changes no byte.
CCACHE     := $(shell command -v ccache 2>/dev/null)
LAUNCHER   := $(if $(CCACHE),-DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(LAUNCHER)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	@./scripts/ensure-packages $(TEST_PACKAGES)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole suite again with address and undefined-behaviour sanitizers.
sanitize-test: deps
	@./scripts/ensure-packages $(TEST_PACKAGES)
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWTK_SANITIZE=ON -DWTK_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Every libFuzzer harness of fuzz/ for FUZZ_SECONDS seconds each (clang, with address and
# undefined-behaviour sanitizers), e.g. make fuzz FUZZ_SECONDS=600.
fuzz: deps
	@./scripts/ensure-packages $(FUZZ_PACKAGES)
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DWTK_FUZZ=ON -DWTK_BUILD_GUI=OFF -DWTK_BUILD_TESTS=OFF -DWTK_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target wtk_fuzzers
	@./scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

run: build
	@./scripts/run-app $(BUILD)

example: build
	@./scripts/convert-example $(BUILD)

# Renders the window after converting the bundled example (under a virtual display) into
# docs/screenshot.png.
screenshot: build
	@./scripts/ensure-packages $(SCREENSHOT_PACKAGES)
	@./scripts/screenshot $(BUILD)

# Renders the presence report of a week of made-up duty-cycled recordings at two sites in headless
# Chromium into docs/report.png.
report-screenshot: build
	@./scripts/ensure-packages $(TEST_PACKAGES)
	@./scripts/report-screenshot $(BUILD)
# Renders the Results page (a week of a converted acoustic scene: the overview, and a train
# zoomed in) into docs/results-overview.png and docs/results-train.png.
screenshot-results: build
	@./scripts/ensure-packages $(SCREENSHOT_PACKAGES)
	@./scripts/screenshot-results $(BUILD)

# Plots the clicks per minute of the bundled example (dump --csv read by pandas) into
# docs/clicks-per-minute.png.
plot: build
	@./scripts/ensure-packages $(PLOT_PACKAGES)
	@./scripts/plot-example $(BUILD)

# Conversion against cat of the same files and against one processor, on one processor and on
# all, WAV against FLAC and the other WAV forms, and per stage;
# BENCH_BEFORE=path/to/an/older/wavtokeb-cli adds its figures from the same run,
# BENCH_REPEAT=N takes medians of N runs (3). Then each filter kernel
# variant, the Python package reading a year of clicks of one location (a synthetic TK1 file
# of 20 M clicks in BUILD), a year of clicks of one location through trains and presence on one
# processor, and the window's results view on a month of clicks.
bench: build
	@$(BUILD)/bench/convert_bench $(if $(BENCH_BEFORE),--before $(BENCH_BEFORE)) \
	  $(if $(BENCH_REPEAT),--repeat $(BENCH_REPEAT))
	@[ ! -x $(BUILD)/bench/kernel_bench ] || $(BUILD)/bench/kernel_bench
	@$(PYTHON3) bench/read_tk1_bench.py --folder $(BUILD)/bench $(if $(BENCH_REPEAT),--repeat $(BENCH_REPEAT))
	@$(BUILD)/bench/presence_bench year
	@[ ! -x $(BUILD)/bench/results_bench ] || $(BUILD)/bench/results_bench

# How well click trains and presence are found: duty-cycled scenes (PRESENCE_HOURS of mixed
# scenes, 10, and an hour of each kind of sound without porpoises) generated, converted and
# deleted an hour at a time, against the truth of every recorded minute; PRESENCE_STYLE=field
# draws the field scenes (half the mixed hours at 576 k and half at 384 k samples/s).
bench-presence: build
	@$(BUILD)/bench/presence_bench scenes --hours $(or $(PRESENCE_HOURS),10) \
	  $(if $(PRESENCE_SEED),--seed $(PRESENCE_SEED)) $(if $(PRESENCE_STYLE),--style $(PRESENCE_STYLE))

# The Debian packages wavtokeb-cli (the command-line tool, no Qt), wavtokeb (the window) and
# python3-wavtokeb from the build, into BUILD/*.deb. Only what the packages hold is built (no
# test, no benchmark);
# what an earlier make build or make test built is reused as it stands.
package: deps $(BUILD)/CMakeCache.txt
	@./scripts/ensure-packages $(PACKAGE_PACKAGES)
	cmake --build $(BUILD) -j $(JOBS) --target wtk_packaged
	cd $(BUILD) && cpack --config CPackConfig.cmake

# Installs the packages (as root), checks the installed tool, manual page and completion, runs
# lintian, and removes them again.
package-check: package
	@./scripts/ensure-packages $(PACKAGE_CHECK_PACKAGES)
	@./scripts/check-packages $(BUILD)

# The README's Slurm and GNU parallel recipes on a single-node Slurm started here (as root),
# compared with --jobs.
test-cluster: build
	@./scripts/test-cluster $(BUILD) $(CLUSTER_PACKAGES)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
