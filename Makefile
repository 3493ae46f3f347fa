# make run: install what is missing, build, start the editor.
# make test: install what is missing, build, run every test.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build run test clean
all: build

deps:
	bash tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/vornatracker

test: deps
	JOBS=$(JOBS) bash tools/run-tests.sh

clean:
	rm -rf build build-asan build-fuzz build-tsan
