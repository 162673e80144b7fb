# The two commands a newcomer needs: "make run" and "make test".
BUILD := build/win
CMAKE_FLAGS := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
RUN_DIR := build/run

.PHONY: all deps build run test test-windows test-native soak bench fuzz package clean

all: build

deps:
	@tools/install-deps.sh

# Configured once; the build reconfigures by itself when a CMakeLists.txt changes.
build: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j2

# Starts Wendle under Wine in build/run, where "myfile.txt" is written next to the "image" folder.
run: build
	@tools/run.sh $(BUILD)/bin $(RUN_DIR)

test: test-native test-windows

test-windows: build
	@WENDLE_WINEPREFIX=$(CURDIR)/build/wine-test WENDLE_WINE_UNMANAGED=1 tools/with-display.sh --own-network \
		ctest --test-dir $(BUILD) --output-on-failure

test-native: deps
	@tools/native-tests.sh

# Runs the Windows tests RUNS times from one build (default 10) and counts the passes; LOAD=1
# keeps every core busy meanwhile.
soak:
	@tools/soak-tests.sh $(or $(RUNS),10) $(if $(filter-out 0,$(LOAD)),--load)

# Measures the receive path under Wine and prints a table of figures against their limits.
bench: build
	@WENDLE_WINEPREFIX=$(CURDIR)/build/wine-test WENDLE_WINE_UNMANAGED=1 tools/bench.sh $(BUILD)/bin

# Fuzzes the alarm rules; SECONDS_EACH sets how long each fuzzer runs (default 600).
fuzz: deps
	@tools/fuzz.sh $(or $(SECONDS_EACH),600)

# The zip an operator copies to a Windows workstation, and the installer for one or many; signed
# when WENDLE_SIGN_PFX and WENDLE_SIGN_PASSWORD name a certificate (see tools/package.sh).
package: build
	@tools/package.sh $(BUILD)/bin build

clean:
	rm -rf build build-native
