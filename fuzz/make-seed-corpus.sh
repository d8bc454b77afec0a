#!/bin/bash
# Regenerates the seed files of fuzz/corpus from real `git` output plus a few hand-made cases.
# Findings of fuzzing runs are added beside them by hand (named finding-*).
set -euo pipefail
corpus="$(cd "$(dirname "$0")" && pwd)/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export GIT_CONFIG_NOSYSTEM=1 HOME="$work/home" GIT_AUTHOR_NAME=Seed GIT_AUTHOR_EMAIL=seed@example.test
export GIT_COMMITTER_NAME=Seed GIT_COMMITTER_EMAIL=seed@example.test
mkdir -p "$HOME" "$work/repo" && cd "$work/repo"
for t in status log name-status for-each-ref stash-list unified-diff hunk-header redact-secrets remote-url; do
  mkdir -p "$corpus/$t"
done

git init -q -b main . && git init -q --bare "$work/remote.git" && git remote add origin "$work/remote.git"
printf 'one\ntwo\nthree\n' > a.txt; printf 'x\n' > 'file 10.md'; printf 'y\n' > file9.md
printf '\x89PNG\r\n\x1a\n\0\0' > logo.png; git add -A; git commit -qm 'first: seed'
git push -q -u origin main
git branch feature/é-2
printf 'one\nTWO\nthree\nfour\n' > a.txt; git add a.txt; printf 'one\nTWO\nthree\nfour\nfive\n' > a.txt
git mv file9.md 'renamed dir.md'; rm 'file 10.md'; printf 'n\n' > 'new ü.txt'; printf '\x89PNG\0\1' > logo.png
git status --porcelain=v2 -z --branch --untracked-files=all > "$corpus/status/seed-real"
git diff > "$corpus/unified-diff/seed-worktree"
git diff --cached -M > "$corpus/unified-diff/seed-cached"
git diff -- logo.png > "$corpus/unified-diff/seed-binary"
git diff --cached --name-status -M > "$corpus/name-status/seed-real"
git stash push -q -m 'work in progress'
git for-each-ref --format='%(refname)%1f%(refname:short)%1f%(HEAD)%1f%(upstream:short)' > "$corpus/for-each-ref/seed-real"
git stash list --format=%gd%x1f%ct%x1f%gs > "$corpus/stash-list/seed-real"
git log --pretty=format:%H%x1f%an%x1f%at%x1f%s --name-only > "$corpus/log/seed-real"
git checkout -q --detach HEAD
git status --porcelain=v2 -z --branch > "$corpus/status/seed-detached"

printf '# branch.oid (initial)\0# branch.head main\0# branch.ab +1 -2\0u UU N... 100644 100644 100644 100644 a b c x\0? u\0! i\0002 R. N... 100644 100644 100644 a b R100 last' > "$corpus/status/seed-hand"
printf '@@ -5 +7,0 @@' > "$corpus/hunk-header/seed-no-counts"
printf '@@ -1,3 +2,4 @@ context' > "$corpus/hunk-header/seed-counts"
printf 'diff --git a/x b/y' > "$corpus/hunk-header/seed-paths"
printf 'fatal: https://ada:pw@github.com/o/r.git x-access-token:t@host oauth2:o@h x-token-auth:z@b' > "$corpus/redact-secrets/seed-all"
printf 'https://u:p@github.com:8443/o/r.git' > "$corpus/remote-url/seed-https"
printf 'git@github.com:org/group/repo.git' > "$corpus/remote-url/seed-scp"
printf 'https://cursor.com/codebase/acme/site' > "$corpus/remote-url/seed-codebase"
printf 'stash@{0}\0371700000000\037WIP\nbad\n' > "$corpus/stash-list/seed-hand"
