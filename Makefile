# The two commands of the README. Both install what is missing first.
# `make test` also fails on any compiler warning and on any file clang-format would change;
# `make format` rewrites those files.
BUILD_RUN  := build/release
BUILD_TEST := build/asan
CMAKE_GEN  := -G Ninja

.PHONY: run test bench format deps build clean install package

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_RUN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIK_TESTS=OFF
	cmake --build $(BUILD_RUN) --target halvik

# Installs the program, its launcher entry, icon, manual page and shell completions;
# PREFIX=/usr/local for every account.
PREFIX ?= $(HOME)/.local
install: deps
	cmake -S . -B $(BUILD_RUN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIK_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_RUN) --target halvik halvik_docs
	cmake --install $(BUILD_RUN)

# A Debian package, build/release/halvik_<version>_<arch>.deb, of what `make install` installs,
# under /usr; `apt install ./build/release/halvik_*.deb` installs it with what it needs.
package: deps
	cmake -S . -B $(BUILD_RUN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIK_TESTS=OFF
	cmake --build $(BUILD_RUN) --target halvik halvik_docs
	cd $(BUILD_RUN) && cpack -G DEB

run: build
	./$(BUILD_RUN)/src/halvik

test: deps
	cmake -S . -B $(BUILD_TEST) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DHALVIK_SANITIZE=ON -DHALVIK_BENCH=OFF -DHALVIK_WERROR=ON -DHALVIK_SHARED_LIBS=ON
	cmake --build $(BUILD_TEST)
	cd $(BUILD_TEST) && ctest --output-on-failure

bench: deps
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DHALVIK_TESTS=OFF -DHALVIK_BENCH=ON
	cmake --build build/bench
	cmake --build build/bench --target run-bench

format:
	@bash scripts/format

clean:
	rm -rf build
