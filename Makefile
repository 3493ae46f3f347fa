# make run: install what is missing, build, start the editor.
# make test: install what is missing, build, run every test.
# make windows: the Windows zip, cross-built (tested under Wine by make test).
# make install / make uninstall: into PREFIX (default /usr/local), under
# DESTDIR when given (a staging folder for packaging).
BUILD ?= build
JOBS ?= 2
# Warnings as errors in every build of $(BUILD): make run, make test and make
# install share that folder, and settings that differ between them would
# build everything again each time one follows another.
VORNA_WERROR ?= ON
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build compile run test install uninstall clean windows
all: build

deps:
	bash tools/install-deps.sh

build: deps
	@$(MAKE) --no-print-directory compile

# The one configuration of $(BUILD), make test's build too (tools/run-tests.sh).
compile:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNA_WERROR=$(VORNA_WERROR)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/vornatracker

test: deps
	JOBS=$(JOBS) bash tools/run-tests.sh

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Removes the files of the last install from this build folder (give the same DESTDIR).
uninstall:
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST="$(BUILD)/install_manifest.txt" -P tools/uninstall.cmake

# The Windows build: build/VornaTracker-VERSION-win64.zip, cross-built in
# build/windows/ with libraries cross-built once into build/windows-deps/.
windows: deps
	JOBS=$(JOBS) bash tools/windows/build.sh

clean:
	rm -rf build build-asan build-fuzz build-tsan
