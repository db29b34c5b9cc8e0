#!/bin/sh
# usage: pre_commit.sh REPOSITORY TALLYFIX_DIR
# The fixing hook with the pre-commit framework, offline: a throwaway
# repository whose config points at REPOSITORY's HEAD, a .hex, an .s19 and a
# .HEX file with a spoiled checksum committed: the commit fails and the files
# are fixed; the next commit passes.
set -eu
repo=$(cd "$1" && pwd) rev=$(git -C "$1" rev-parse HEAD)
PATH=$(cd "$2" && pwd):$PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export PRE_COMMIT_HOME="$work/cache" GIT_CONFIG_GLOBAL="$work/gitconfig"
git config --global user.email ci@tallyfix.invalid && git config --global user.name CI
cd "$work" && git init -q project && cd project
printf 'repos:\n- repo: %s\n  rev: %s\n  hooks:\n  - id: tallyfix\n' "$repo" "$rev" \
	>.pre-commit-config.yaml
printf ':0300300002337AFF\n:00000001FF\n' >firmware.hex
printf 'S10500300233FF\nS9030000FC\n' >firmware.s19
printf ':0300300002337AFF\n:00000001FF\n' >FW2.HEX # an extension in capitals
pre-commit install >/dev/null
git add . && ! git commit -qm spoiled
grep -qx ':0300300002337A1E' firmware.hex
grep -qx 'S1050030023395' firmware.s19
grep -qx ':0300300002337A1E' FW2.HEX
git add . && git commit -qm fixed
