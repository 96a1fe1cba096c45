# Two commands matter: `make run` and `make test`. Both install what is
# missing first (tools/bootstrap.sh), then build from scratch as needed.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all bootstrap build linux windows test run run-windows bench fuzz clean

all: build

bootstrap:
	@tools/bootstrap.sh

build: bootstrap linux windows

linux:
	cmake -S . -B build/linux -G Ninja $(CMAKE_FLAGS)
	cmake --build build/linux -j $(JOBS)

windows:
	cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSSR_DIST_DIR=$(CURDIR)/dist $(CMAKE_FLAGS)
	cmake --build build/windows -j $(JOBS)

test: build
	tools/run-tests.sh

run: bootstrap linux
	tools/run.sh linux

run-windows: bootstrap windows
	tools/run.sh windows

bench: bootstrap linux
	tools/run-bench.sh

clean:
	rm -rf build dist
