# Shared by the stand-in tools. The test names a control folder in VANTREL_FAKE_DIR; for a tool
# named T it may hold:
#   T.exit    exit status (default 0)       T.stdout / T.stderr  text printed on that stream
#   T.kill    end by that signal (e.g. TERM) after printing
#   T.hold    wait until the file T.release appears (at most 10 s) before finishing
#   T.deaf    ignore SIGTERM while doing so
# Each run appends one line to T.argv: its arguments joined by the unit separator (0x1F).

fake_dir="${VANTREL_FAKE_DIR:?VANTREL_FAKE_DIR is not set}"

fake_record() {
    local IFS=$'\x1f'
    printf '%s\n' "$*" >> "$fake_dir/$fake_tool.argv"
}

fake_finish() {
    [ -e "$fake_dir/$fake_tool.deaf" ] && trap '' TERM
    if [ -e "$fake_dir/$fake_tool.hold" ]; then
        local i
        for i in $(seq 1 200); do
            [ -e "$fake_dir/$fake_tool.release" ] && break
            sleep 0.05
        done
    fi
    [ -f "$fake_dir/$fake_tool.stdout" ] && cat "$fake_dir/$fake_tool.stdout"
    [ -f "$fake_dir/$fake_tool.stderr" ] && cat "$fake_dir/$fake_tool.stderr" >&2
    if [ -f "$fake_dir/$fake_tool.kill" ]; then
        kill -s "$(cat "$fake_dir/$fake_tool.kill")" $$
    fi
    if [ -f "$fake_dir/$fake_tool.exit" ]; then
        exit "$(cat "$fake_dir/$fake_tool.exit")"
    fi
    exit 0
}
