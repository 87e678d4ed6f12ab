#!/usr/bin/env bash
# The main job: builds what is missing, scans a device backup and recovers everything in it.
#   ./run.sh                            works on the embedded sample backup (built under ./sample)
#   ./run.sh BACKUP_FOLDER              works on your own backup folder
#   ./run.sh [BACKUP_FOLDER] --out DIR  recovers into DIR instead of ./recovered
#   ./run.sh --gui [BACKUP_FOLDER]      opens the desktop application, its backup list
#                                       showing the sample backup (or BACKUP_FOLDER's root)
#   ./run.sh --device [--out DIR]       the connected-device path on a simulated device made
#                                       on the fly: list it, back it up, scan and recover the
#                                       backup, copy its photos (with --gui: the application
#                                       with that device attached)
#   ./run.sh --cloud [--gui]            the cloud path on the sample cloud store made on the
#                                       fly (account sample@example.com, password retrievo):
#                                       sign in, list, download a backup and scan it (with
#                                       --gui: the application signed in to nothing yet)
set -euo pipefail
cd "$(dirname "$0")"

BACKUP=
OUT=
GUI=
DEVICE=
CLOUD=
while [ $# -gt 0 ]; do
  case "$1" in
    --out) [ $# -ge 2 ] || { echo "run.sh: --out needs a folder" >&2; exit 2; }; OUT=$2; shift 2 ;;
    --out=*) OUT=${1#--out=}; shift ;;
    --gui) GUI=1; shift ;;
    --device) DEVICE=1; shift ;;
    --cloud) CLOUD=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option: $1" >&2; exit 2 ;;
    *) BACKUP=$1; shift ;;
  esac
done

./scripts/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C build retrievo make-sample-backup $([ -n "$GUI" ] && echo retrievo-gui) \
  $([ -n "$DEVICE" ] && echo make-sample-device retrievo-sim-backup) \
  $([ -n "$CLOUD" ] && echo make-sample-cloud) >/dev/null

RETRIEVO=build/retrievo
if [ -n "$CLOUD" ]; then
  # The sample cloud store and a downloads folder of this script's (instead of /var/tmp),
  # both made afresh for each run.
  rm -rf sample/cloud sample/cloud-downloads
  build/make-sample-cloud sample/cloud >/dev/null
  mkdir -p sample/cloud-downloads
  export RETRIEVO_CLOUD_STORE="$PWD/sample/cloud" RETRIEVO_CLOUD_DOWNLOADS="$PWD/sample/cloud-downloads"
  if [ -n "$GUI" ]; then exec build/retrievo-gui; fi
  ACCOUNT=sample@example.com
  PASSWORD_FILE=$(mktemp)
  trap 'rm -f "$PASSWORD_FILE"' EXIT
  echo retrievo >"$PASSWORD_FILE"
  echo "== Cloud sign-in and backup list"
  "$RETRIEVO" cloud login --account "$ACCOUNT" --password-file "$PASSWORD_FILE"
  echo
  echo "== Download and scan"
  SERIAL=$("$RETRIEVO" cloud list --account "$ACCOUNT" --password-file "$PASSWORD_FILE" |
    grep "iPhone" | grep -o '[0-9a-f]\{40\}' | head -n 1)
  "$RETRIEVO" cloud download --account "$ACCOUNT" --password-file "$PASSWORD_FILE" "$SERIAL" 1
  echo
  echo "== The download, scanned again from its folder"
  "$RETRIEVO" cloud scan "sample/cloud-downloads/$ACCOUNT/${SERIAL}_1" --quiet
  exit 0
fi
if [ -n "$DEVICE" ]; then
  # A simulated device (the phone behind the sample backup), made afresh for each run; its
  # backups go into a folder of this script's rather than /tmp/Backup.
  rm -rf sample/device sample/device-backups
  build/make-sample-device sample/device >/dev/null
  export RETRIEVO_DEVICE="simulated:$PWD/sample/device"
  if [ -n "$GUI" ]; then exec build/retrievo-gui; fi
elif [ -z "$BACKUP" ]; then
  BACKUP=sample/Backup/5f2e8c1d9a7b4e6f0c3d2b1a9e8f7d6c5b4a3f2e
  if [ ! -d "$BACKUP" ]; then
    rm -rf sample
    build/make-sample-backup "$BACKUP" --truth sample/truth.json
  fi
fi
if [ -n "$GUI" ]; then
  # The application lists the backups of a backup root: the folder holding the backup.
  export RETRIEVO_BACKUP_ROOT
  RETRIEVO_BACKUP_ROOT=$(cd "$(dirname "$BACKUP")" && pwd)
  exec build/retrievo-gui
fi
if [ -z "$OUT" ]; then
  # The default folder belongs to this script: each run starts it afresh, so that the names
  # of an earlier run do not make this run's files take numbered names.
  OUT=recovered
  rm -rf "$OUT"
fi

if [ -n "$DEVICE" ]; then
  echo "== Device"
  "$RETRIEVO" device list
  echo
  echo "== Device backup and scan"
  "$RETRIEVO" device backup --root sample/device-backups
  BACKUP=$(ls -d sample/device-backups/*/ | head -n 1)
else
  echo "== Backup"
  "$RETRIEVO" list "$BACKUP"
  echo
  echo "== Scan"
  "$RETRIEVO" scan "$BACKUP"
fi
echo
echo "== Recover"
status=0
"$RETRIEVO" recover "$BACKUP" --out "$OUT" --all || status=$?
if [ "$status" -ne 0 ] && [ "$status" -ne 4 ]; then exit "$status"; fi
if [ -n "$DEVICE" ]; then
  echo
  echo "== Photos read straight from the device"
  "$RETRIEVO" device photos --out "$OUT/Device Photos"
fi
echo
echo "== Recovered files (bytes, path)"
find "$OUT" -mindepth 1 -printf '%s\t%P%y\n' | sed 's/d$/\//; s/f$//' | LC_ALL=C sort -t$'\t' -k2
exit "$status"
