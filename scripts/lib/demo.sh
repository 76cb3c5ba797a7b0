#!/usr/bin/env bash
# Runs the program against a simulated modem on a pseudo-terminal (COM3 in a private port
# folder) and a private sound server, then stops both when the program exits. The caller's
# spoken message comes as the voice modem's sample stream, and the caller hangs up after a
# while with the busy tone; with --sound-card the line carries it into the sound server instead.
set -euo pipefail
BUILD=$1
SOUND_CARD=$([ "${2:-}" = "--sound-card" ] && echo 1 || true)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/pulse.sh"

DEMO=$(mktemp -d /tmp/tova-demo.XXXXXX)
cleanup() {
    # The voice loop's player is a grandchild: stop it with its loop.
    for job in $(jobs -p); do
        pkill -P "$job" 2>/dev/null || true
        kill "$job" 2>/dev/null || true
    done
    pulse_stop
    rm -rf "$DEMO"
}
trap cleanup EXIT

pulse_start
mkdir "$DEMO/ports"
socat pty,rawer,echo=0,link="$DEMO/ports/com3" pty,rawer,echo=0,link="$DEMO/modem" &
for _ in $(seq 50); do [ -e "$DEMO/modem" ] && [ -e "$DEMO/ports/com3" ] && break; sleep 0.1; done
# The callers ring with their caller ID; one of them is in this phonebook.
"$BUILD/tova-demo-phonebook" "$here/../../demo/phonebook.vcf"

# The caller's voice.
espeak-ng -v cmn -s 140 -w "$DEMO/voice.wav" "您好，这是演示电话。通话正在录音。" 2>/dev/null ||
    sox -n -r 8000 "$DEMO/voice.wav" synth 3 sine 440
if [ -n "$SOUND_CARD" ]; then
    "$BUILD/tova-demo-modem" "$DEMO/modem" 20 &
    # On the line, over and over.
    while paplay --device=line "$DEMO/voice.wav" 2>/dev/null; do sleep 1; done &
    echo "Demo: COM3 is a simulated modem; a caller rings every 20 s (every other one gives up"
    echo "after three rings), with caller ID; the line speaks a short message."
else
    sox "$DEMO/voice.wav" -r 8000 -c 1 -b 16 -e signed -t raw "$DEMO/voice.raw"
    "$BUILD/tova-demo-modem" "$DEMO/modem" 20 "$DEMO/voice.raw" &
    mkdir -p "$DEMO/config/tova"
    printf '[audio]\nsource=modem\n' >"$DEMO/config/tova/tova.conf"
    export XDG_CONFIG_HOME="$DEMO/config"
    echo "Demo: COM3 is a simulated voice modem; a caller rings every 20 s (every other one gives"
    echo "up after three rings), with caller ID; the caller speaks a short message, which the"
    echo "modem records, and hangs up after 15 s."
fi
TOVA_PORT_DIR="$DEMO/ports" "$BUILD/tova-recorder"
