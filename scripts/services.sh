# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test and the benchmarks: starts a private X server and a PulseAudio
# server (or PipeWire) with a null sink called "metronome", exports DISPLAY and
# PULSE_SERVER, and stops them all on exit.
#
# Nothing started here may meet the user's own session: no Wayland display, no session bus
# of theirs, and none that libdbus would start through X11 (dbus-x11 does that for whoever
# finds no bus while DISPLAY is set). A PulseAudio server on a shared bus takes the name
# org.PulseAudio1 there, and the next server, the user's or a test's, then fails to start.

services_dir=$(mktemp -d /tmp/metronome-services.XXXXXX)
chmod 700 "$services_dir"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM
# A bus that never answers: clients go on without one rather than start one.
no_bus="unix:path=$services_dir/no-bus"
export DBUS_SESSION_BUS_ADDRESS=$no_bus

start_xvfb() {
    local d
    for d in $(seq 90 120); do
        [[ -e /tmp/.X11-unix/X$d || -e /tmp/.X$d-lock ]] && continue
        Xvfb ":$d" -screen 0 1024x768x24 -nolisten tcp -wr "$@" >"$services_dir/xvfb.log" 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$d"
        # Another run may have taken the display since we looked: it is ours once our server
        # holds its lock and answers, not when some server answers there.
        for _ in $(seq 50); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            [[ $(tr -d ' \n' 2>/dev/null <"/tmp/.X$d-lock") == "$xvfb_pid" ]] &&
                xdpyinfo >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null || true
    done
    echo "could not start Xvfb" >&2
    return 1
}

start_pulse() {
    export XDG_RUNTIME_DIR="$services_dir/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    # Without a bus whatever another function exported: each server has none to share.
    DBUS_SESSION_BUS_ADDRESS=$no_bus pulseaudio -D --exit-idle-time=-1 --system=false -n \
        --disallow-exit --load="module-null-sink sink_name=metronome rate=48000 channels=1" \
        --load=module-native-protocol-unix --log-target=file:"$services_dir/pulse.log" \
        2>/dev/null
    for _ in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl set-default-sink metronome
    # A null sink sleeps as long as the lowest latency any stream asks for: when idle, up
    # to two seconds, and a new stream then waits that long before it plays, while the
    # monitor's timeline skips. A steady stream of silence keeps it awake. Not at a
    # smaller latency than the program's: with 5 ms blocks the null sink plays 0.15 % fast.
    pacat --raw --rate=48000 --channels=1 --format=s16le --latency-msec=30 -d metronome \
        /dev/zero >/dev/null 2>&1 &
    keeper_pid=$!
    for _ in $(seq 50); do
        [[ -n $(pactl list short sink-inputs) ]] && break
        sleep 0.1
    done
    # The server's first stream of that kind also starts late: get it over with here.
    head -c 48000 /dev/zero | pacat --raw --rate=48000 --channels=1 --format=s16le \
        --latency-msec=80 -d metronome
}

# PipeWire with its PulseAudio server instead, on a session bus of its own, with the same
# null sink as the default. Nothing keeps the sink awake here: the graph runs while any
# stream is linked to it, at the quantum the streams ask for. Without WirePlumber nothing
# links a stream or keeps a default, so the program would flash in silence: a server that
# is not whole fails here, with its logs, rather than in the tests.
start_pipewire() {
    export XDG_RUNTIME_DIR="$services_dir/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    local bus
    bus=$(dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1)
    export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
    dbus_pid=${bus##*$'\n'}
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    pipewire >"$services_dir/pipewire.log" 2>&1 &
    pipewire_pid=$!
    # Its clients connect once, at start: one that comes before the socket goes on without
    # what it came to do (WirePlumber ends, pipewire-pulse lacks its fallback sink).
    for _ in $(seq 50); do
        [[ -S $XDG_RUNTIME_DIR/pipewire-0 ]] && break
        sleep 0.1
    done
    # WirePlumber 0.4 (Debian 12) ends at start where logind does not run (a container, a
    # chroot, no systemd): its Bluetooth monitor needs logind's seat, and nothing here plays
    # to Bluetooth. 0.5 goes on without logind, and warns of .lua files. Folders of our own
    # keep the user's WirePlumber settings and saved defaults out, and ours out of theirs
    # (where a run moved the stream to, which would be every later run's start).
    if [[ -d /usr/share/wireplumber/bluetooth.lua.d ]]; then
        mkdir -p "$services_dir/config/wireplumber/bluetooth.lua.d"
        echo "bluez_monitor.enabled = false" \
            >"$services_dir/config/wireplumber/bluetooth.lua.d/80-no-bluetooth.lua"
    fi
    XDG_CONFIG_HOME=$services_dir/config XDG_STATE_HOME=$services_dir/state \
        wireplumber >"$services_dir/wireplumber.log" 2>&1 &
    wireplumber_pid=$!
    pipewire-pulse >"$services_dir/pipewire-pulse.log" 2>&1 &
    pipewire_pulse_pid=$!
    for _ in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl load-module module-null-sink sink_name=metronome rate=48000 channels=1 \
        channel_map=mono >/dev/null || true
    # The default is WirePlumber's metadata, there once it has started.
    for _ in $(seq 50); do
        pactl set-default-sink metronome 2>/dev/null &&
            [[ $(pactl get-default-sink 2>/dev/null) == metronome ]] && break
        sleep 0.1
    done
    if ! kill -0 "$pipewire_pid" "$wireplumber_pid" "$pipewire_pulse_pid" 2>/dev/null ||
        [[ $(pactl get-default-sink 2>/dev/null) != metronome ]]; then
        echo "start_pipewire: no PipeWire with the sink metronome as its default;" \
            "its servers said:" >&2
        local server
        for server in pipewire wireplumber pipewire-pulse; do
            echo "--- $server" >&2
            cat "$services_dir/$server.log" >&2
        done
        return 1
    fi
}

stop_services() {
    local p
    for p in "${pipewire_pulse_pid:-}" "${wireplumber_pid:-}" "${pipewire_pid:-}" "${dbus_pid:-}"; do
        [[ -n $p ]] && kill "$p" 2>/dev/null || true
    done
    [[ -n "${keeper_pid:-}" ]] && kill "$keeper_pid" 2>/dev/null || true
    pactl exit >/dev/null 2>&1 || pkill -u "$(id -u)" -f "pulseaudio.*$services_dir" 2>/dev/null || true
    [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$services_dir" 2>/dev/null || true
}
trap stop_services EXIT
