# make run: install what is missing, build, start the editor.
# make test: install what is missing, build, run every test.
# make install / make uninstall: into PREFIX (default /usr/local), under
# DESTDIR when given (a staging folder for packaging).
BUILD ?= build
JOBS ?= 2
# Warnings as errors: on in make test's builds (tools/run-tests.sh exports
# VORNA_WERROR=ON, so an install test run by it keeps the same flags); off for
# a plain local build.
VORNA_WERROR ?= OFF
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build run test install uninstall clean
all: build

deps:
	bash tools/install-deps.sh

build: deps
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

clean:
	rm -rf build build-asan build-fuzz build-tsan
