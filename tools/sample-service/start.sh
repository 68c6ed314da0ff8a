# Sourced (bash) by the scripts that run the sample product service beside what they test.
#
# start_sample_service FOLDER [OPTION...]
#   Starts sample_service.py on a free loopback port with the given options; its address file
#   (service.out) and log (service.log) go into FOLDER. Sets $service to its process id and $base
#   to its address. If it gives no address within 10 s, it is stopped, its log goes to stderr
#   and the function returns 1. The caller stops the service (kill "$service") when done.
start_sample_service() {
    local folder=$1
    shift
    # The address of an earlier run, left in the file, could be read before the new service
    # empties it.
    rm -f "$folder/service.out"
    python3 "$(dirname "${BASH_SOURCE[0]}")/sample_service.py" --port 0 "$@" \
        >"$folder/service.out" 2>"$folder/service.log" &
    service=$!
    for _ in $(seq 100); do
        [ -s "$folder/service.out" ] && break
        kill -0 "$service" 2>/dev/null || break
        sleep 0.1
    done
    base=$(head -n1 "$folder/service.out" 2>/dev/null || true)
    if [ -z "$base" ]; then
        kill "$service" 2>/dev/null || true
        echo "the sample service did not start:" >&2
        cat "$folder/service.log" >&2
        return 1
    fi
}
