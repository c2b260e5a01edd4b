# The two commands of the README. Both install what is missing, then build.
JOBS ?= $(shell nproc)

AUTOSTART ?= 1

.PHONY: run test build setup setup-test install uninstall windows setup-windows

run: build
	@cd build/Velmorin && ./velmorin

test: setup-test
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORIN_WERROR=ON
	cmake --build build -j $(JOBS)
	# The sanitizer build uses Clang, so a construct only GCC accepts fails here.
	CC=clang CXX=clang++ cmake -S . -B build-san -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_BUILD_TYPE=Debug -DVELMORIN_SANITIZE=ON -DVELMORIN_WERROR=ON
	cmake --build build-san -j $(JOBS)
	ctest --test-dir build-san -LE e2e --output-on-failure
	ctest --test-dir build -L e2e --output-on-failure
	$(MAKE) windows WINDOWS_FLAGS=-DVELMORIN_WERROR=ON
	ctest --test-dir build-win --output-on-failure

# For the current user, no root: the program folder under ~/.local/share, a command, a menu
# entry, icons and (unless AUTOSTART=0) a login entry; then it starts the time signal.
install: build
	AUTOSTART=$(AUTOSTART) scripts/install.sh install build/Velmorin build/pictures/icons

uninstall:
	scripts/install.sh uninstall

# Quiet: progress on one line, the compiler's output only if the build fails.
build: setup
	@JOBS=$(JOBS) scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo

setup:
	@scripts/setup.sh

setup-test:
	scripts/setup.sh --test --windows

# The Windows program, cross-built with mingw-w64 into build-win/ and packed as a zip and as a
# per-user installer made from that zip. The tools
# that make the sounds, the tune and the pictures run here, so they come from the host build.
windows: setup-windows
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target make_chimes make_tune make_pictures
	cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DVELMORIN_HOST_TOOLS="$(CURDIR)/build/tools" $(WINDOWS_FLAGS)
	cmake --build build-win -j $(JOBS)
	cd build-win && cpack -G ZIP
	cmake -DBUILD_DIR=build-win -P packaging/windows/installer.cmake

setup-windows:
	scripts/setup.sh --windows
