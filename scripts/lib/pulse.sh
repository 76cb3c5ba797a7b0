# Starts a private PulseAudio server whose default sink is a null sink "line" and whose
# default source "linein" hears everything played into that sink: the phone line's audio in
# a box. Source this file, then call pulse_start and, at the end, pulse_stop. Clients find
# the server through PULSE_SERVER; nothing else of the caller's environment changes.

pulse_start() {
    PULSE_HOME=$(mktemp -d /tmp/tova-pulse.XXXXXX)
    mkdir -m 700 "$PULSE_HOME/run" "$PULSE_HOME/home"
    export PULSE_SERVER="unix:$PULSE_HOME/native"
    pulse_serve
}

# Runs the server of $PULSE_HOME, also again after it has gone away, and waits until it
# answers.
pulse_serve() {
    XDG_RUNTIME_DIR="$PULSE_HOME/run" HOME="$PULSE_HOME/home" \
        pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$PULSE_HOME/native" \
        --load="module-null-sink sink_name=line" \
        --load="module-remap-source source_name=linein master=line.monitor" \
        --log-target=file:"$PULSE_HOME/pulse.log" >/dev/null 2>&1 &
    PULSE_PID=$!
    for _ in $(seq 100); do
        if pactl info >/dev/null 2>&1; then
            pactl set-default-sink line && pactl set-default-source linein
            return 0
        fi
        sleep 0.1
    done
    echo "pulse.sh: the sound server did not start; its log:" >&2
    cat "$PULSE_HOME/pulse.log" >&2
    return 1
}

pulse_stop() {
    # A server started again by someone else is known by its pid file; the pid is taken only
    # while it still names a server of this folder.
    [ -n "${PULSE_HOME:-}" ] || return 0
    local again
    again=$(cat "$PULSE_HOME/run/pulse/pid" 2>/dev/null || true)
    for pid in ${PULSE_PID:-} $again; do
        if grep -qsF "$PULSE_HOME" "/proc/$pid/cmdline"; then kill "$pid" 2>/dev/null || true; fi
    done
    [ -z "${PULSE_PID:-}" ] || wait "$PULSE_PID" 2>/dev/null || true
    rm -rf "$PULSE_HOME"
    PULSE_PID= PULSE_HOME=
}
