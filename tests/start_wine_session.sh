#!/bin/sh
# Starts the Wine session keeper in the background and waits until it runs.
#   start_wine_session.sh READY_FILE EMULATOR... KEEPER.exe
ready=$1
shift
rm -f "$ready"
setsid "$@" "$ready" </dev/null >/dev/null 2>&1 &
for _ in $(seq 1200); do
  [ -f "$ready" ] && exit 0
  sleep 0.1
done
echo "the Wine session did not start within two minutes"
exit 1
