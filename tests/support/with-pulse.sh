#!/usr/bin/env bash
# Runs one test program against a private sound server of its own, then stops the server.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/pulse.sh"
pulse_start || exit 1
trap pulse_stop EXIT
"$@"
