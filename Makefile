# The two commands of the README. Both install what is missing first.
.PHONY: run run-agency test build deps package fuzz windows

JOBS ?= $(shell nproc)

deps:
	bash scripts/install-deps.sh

build: deps
	bash scripts/build.sh build -DTALVORA_GUI=ON

run: build
	bash scripts/run.sh

# `make run` as an agency of 300 companies with 20,000 cloud backups sees it
# (DEMO_COMPANIES and DEMO_BACKUPS set any other size: make run DEMO_BACKUPS=5000).
run-agency: build
	DEMO_COMPANIES=300 DEMO_BACKUPS=20000 bash scripts/run.sh

# The Debian package, build/Talvora_v<version>_<arch>.deb.
package: build
	cmake --build build --target package

test: deps
	bash scripts/test.sh

# Each fuzz target for FUZZ_SECONDS on its corpus (new inputs land in build-fuzz/fuzz/).
FUZZ_SECONDS ?= 60
fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The Windows build (libraries and Qt cross-built once into ~/.cache/talvora-cross, then
# talvora-cli.exe and talvora.exe in build-win32/) and its Wine suite with the windows.
windows: deps
	bash scripts/wine-tests.sh build-win32 build
