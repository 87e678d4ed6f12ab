#!/usr/bin/env bash
# The main job: builds what is missing, then scans a device backup.
#   ./run.sh                 works on the embedded sample backup (built under ./sample)
#   ./run.sh BACKUP_FOLDER   works on your own backup folder
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C build retrievo make-sample-backup >/dev/null

RETRIEVO=build/retrievo
if [ $# -ge 1 ]; then
  BACKUP=$1
else
  BACKUP=sample/Backup/5f2e8c1d9a7b4e6f0c3d2b1a9e8f7d6c5b4a3f2e
  if [ ! -d "$BACKUP" ]; then
    rm -rf sample
    build/make-sample-backup "$BACKUP" --truth sample/truth.json
  fi
fi

echo "== Backup"
"$RETRIEVO" list "$BACKUP"
echo
echo "== Scan"
"$RETRIEVO" scan "$BACKUP"
