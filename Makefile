# Two commands matter: `make run` and `make test`. Both install what is
# missing first (tools/bootstrap.sh), then build from scratch as needed.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all bootstrap build linux windows test run run-windows package install bench fuzz clean

CONFIGURE_LINUX = cmake -S . -B build/linux -G Ninja $(CMAKE_FLAGS)
CONFIGURE_WINDOWS = cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSSR_DIST_DIR=$(CURDIR)/dist $(CMAKE_FLAGS)
# What the installed Linux program is made of, without the tests and benchmarks.
LINUX_INSTALLED = sweep-stale-records ssr_icons ssr_man_page
PREFIX ?= /usr/local

all: build

bootstrap:
	@tools/bootstrap.sh

build: bootstrap linux windows

linux:
	$(CONFIGURE_LINUX)
	cmake --build build/linux -j $(JOBS)

windows:
	$(CONFIGURE_WINDOWS)
	cmake --build build/windows -j $(JOBS)

test: build
	tools/run-tests.sh

# `make run` builds only the program it starts.
run: bootstrap
	$(CONFIGURE_LINUX)
	cmake --build build/linux --target sweep-stale-records -j $(JOBS)
	tools/run.sh linux

run-windows: bootstrap
	$(CONFIGURE_WINDOWS)
	cmake --build build/windows --target sweep-stale-records -j $(JOBS)
	tools/run.sh windows

# dist/sweep-stale-records_<version>_amd64.deb
package: bootstrap
	$(CONFIGURE_LINUX)
	cmake --build build/linux --target $(LINUX_INSTALLED) -j $(JOBS)
	cd build/linux && cpack -G DEB

# make install [PREFIX=/usr/local] [DESTDIR=...]
install: bootstrap
	$(CONFIGURE_LINUX)
	cmake --build build/linux --target $(LINUX_INSTALLED) -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install build/linux --strip --prefix $(PREFIX)

bench: bootstrap linux
	tools/run-bench.sh

clean:
	rm -rf build dist
