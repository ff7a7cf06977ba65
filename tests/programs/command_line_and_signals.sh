#!/usr/bin/env bash
# The real programs: their command lines (help, version, unknown options), and veldra
# ending with the desktop session: SIGTERM, SIGINT and SIGHUP run the window's end, also
# with a FIFO in the place of veldra.ini.
#   command_line_and_signals.sh BIN_DIR     (inside a session bus of its own)
set -uo pipefail
bin=$1
source "$(dirname "$0")/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export QT_QPA_PLATFORM=offscreen

# --help and --version: standard output, status 0; an unknown option: usage on standard
# error, status 2.  Nothing is made in the current folder.
for program in veldra veldra-demo veldra-screenshots bench-monitor bench-closed-loop; do
    [[ -x $bin/$program ]] || { fail "$program not built"; continue; }
    out=$("$bin/$program" --help 2>/dev/null); status=$?
    [[ $status -eq 0 && $out == *"Usage: $program"* && $out == *--version* ]] ||
        fail "$program --help: status $status"
    out=$("$bin/$program" --version 2>/dev/null); status=$?
    [[ $status -eq 0 && $out =~ ^$program\ [0-9]+\.[0-9]+\.[0-9]+$ ]] ||
        fail "$program --version: status $status, '$out'"
    err=$("$bin/$program" --no-such-option 2>&1 >/dev/null); status=$?
    [[ $status -eq 2 && $err == *"Unknown option 'no-such-option'"* && $err == *Usage:* ]] ||
        fail "$program --no-such-option: status $status"
done
[[ -z $(ls -A) ]] || fail "the command-line runs left files: $(ls -A)"
"$bin/veldra" --config-dir 2>/dev/null; [[ $? -eq 2 ]] || fail "veldra --config-dir without a folder"
"$bin/bench-closed-loop" 1 2>/dev/null; [[ $? -eq 2 ]] || fail "bench-closed-loop 1 frame"
"$bin/veldra-demo" 2>/dev/null; [[ $? -eq 2 ]] || fail "veldra-demo without a folder"
"$bin/veldra" --guider metaguide 2>/dev/null; [[ $? -eq 2 ]] || fail "veldra --guider metaguide"
"$bin/veldra-demo" --guider metaguide demo 2>/dev/null; [[ $? -eq 2 ]] || fail "veldra-demo --guider metaguide"

# Each signal ends veldra like closing its window: the settings are written whole (the
# file below has one line; the end writes every key) and the log's last line says so.
for signal in TERM INT HUP; do
    config="$work/config-$signal"
    mkdir -p "$config"
    printf 'DEBOUNCE_TIME,7\r\n' >"$config/veldra.ini"
    "$bin/veldra" --config-dir "$config" >"$work/out-$signal" 2>&1 &
    pid=$!
    if ! wait_for 60 log_has "$config/debug.txt" " : Hdrlib version "; then
        fail "SIG$signal: veldra did not start"; kill -KILL $pid; wait $pid; continue
    fi
    kill -s "$signal" "$pid"
    if ! end_within 60 "$pid"; then fail "SIG$signal: veldra did not end"; continue; fi
    [[ $ended_status -eq 0 ]] || fail "SIG$signal: status $ended_status: $(cat "$work/out-$signal")"
    [[ $(last_event "$config/debug.txt") == " : Ending Veldra" ]] ||
        fail "SIG$signal: last log line '$(last_event "$config/debug.txt")'"
    grep -q $'^NIGHT_MODE,False\r$' "$config/veldra.ini" || fail "SIG$signal: settings not saved"
    grep -q $'^DEBOUNCE_TIME,7\r$' "$config/veldra.ini" || fail "SIG$signal: settings changed"
done

# A FIFO as veldra.ini never holds veldra up (nobody writes into it here): the window
# comes up, SIGTERM ends it within moments, and the FIFO is left as it was.
config="$work/config-fifo"
mkdir -p "$config"
mkfifo "$config/veldra.ini"
"$bin/veldra" --config-dir "$config" >"$work/out-fifo" 2>&1 &
pid=$!
if wait_for 60 log_has "$config/debug.txt" " : Hdrlib version "; then
    kill -s TERM "$pid"
    if end_within 3 "$pid"; then
        [[ $(last_event "$config/debug.txt") == " : Ending Veldra" ]] ||
            fail "FIFO veldra.ini: last log line '$(last_event "$config/debug.txt")'"
    else
        fail "FIFO veldra.ini: veldra did not end"
    fi
    [[ -p $config/veldra.ini ]] || fail "FIFO veldra.ini: replaced"
    grep -q "veldra.ini: it is a FIFO, not a regular file" "$work/out-fifo" ||
        fail "FIFO veldra.ini: no reason given: $(cat "$work/out-fifo")"
else
    fail "FIFO veldra.ini: veldra did not start"
    kill -KILL "$pid"
    wait "$pid"
fi
finish
