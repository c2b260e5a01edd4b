# The two commands of the README. Both install what is missing, then build.
JOBS ?= $(shell nproc)

.PHONY: run test build setup setup-test

run: build
	cd build/Velmorin && ./velmorin

test: setup-test
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORIN_WERROR=ON
	cmake --build build -j $(JOBS)
	# The sanitizer build uses Clang, so a construct only GCC accepts fails here.
	CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_BUILD_TYPE=Debug -DVELMORIN_SANITIZE=ON -DVELMORIN_WERROR=ON
	cmake --build build-san -j $(JOBS)
	ctest --test-dir build-san -LE e2e --output-on-failure
	ctest --test-dir build -L e2e --output-on-failure

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

setup:
	scripts/setup.sh

setup-test:
	scripts/setup.sh --test
