# The two commands of the README. Both install what is missing first.
.PHONY: run test build deps

JOBS ?= $(shell nproc)

deps:
	bash scripts/install-deps.sh

build: deps
	bash scripts/build.sh build -DTALVORA_GUI=ON

run: build
	bash scripts/run.sh

test: deps
	bash scripts/test.sh
