# Sourced by the scripts: point the system at loopback networks and refuse anything else.
# Tests, demos and benchmarks never reach beyond 127.0.0.0/8.
export KEST_WIRED_NET="${KEST_WIRED_NET:-127.0.42}"
export KEST_WIRELESS_NET="${KEST_WIRELESS_NET:-127.0.43}"
export KEST_PORT_BASE="${KEST_PORT_BASE:-23045}"
for net in "$KEST_WIRED_NET" "$KEST_WIRELESS_NET"; do
    case "$net" in
        127.*) ;;
        *) echo "refusing to run: $net is not a loopback network (127.x.y)" >&2; exit 1 ;;
    esac
done
