#!/usr/bin/env bash
# Starts or stops the one Wine server that the Windows suite shares, and
# makes the prefix ready on start.
#
#   wine_server.sh start WINESERVER WINE
#   wine_server.sh stop WINESERVER
#
# Left to itself, every Wine program starts a server when none runs, and the
# server quits a few seconds after its last client. A program that starts
# while the server is quitting loses its connection ("recvmsg: Connection
# reset by peer") and fails through no fault of the program under test. A
# server started persistent, before the first program and stopped after the
# last, leaves no such gap. WINEPREFIX names the prefix.
set -euo pipefail
action=$1 server=$2 wine=${3:-}

stop() {
	"$server" -k 2>/dev/null || true
	"$server" -w
}

# logged STEP COMMAND...: runs a Wine step with its output in the log,
# shown with the step's status when it fails.
logged() {
	local step=$1 status=0
	shift
	"$@" </dev/null >"$WINEPREFIX.log" 2>&1 || status=$?
	if [ "$status" -ne 0 ]; then
		cat "$WINEPREFIX.log"
		echo "FAIL: $step: status $status" >&2
		exit 1
	fi
}

case $action in
start)
	mkdir -p "$WINEPREFIX"
	# A server left over from an interrupted run would refuse a second one.
	stop
	# The server and the services that wineboot starts outlive this
	# script: they must not hold the caller's pipes open, so what they
	# say goes to a log, shown when a step fails.
	logged "wineserver -p" "$server" -p
	# The first start creates the prefix and takes several seconds.
	logged "wineboot --init" "$wine" wineboot --init
	;;
stop)
	stop
	;;
*)
	echo "usage: wine_server.sh start|stop WINESERVER [WINE]" >&2
	exit 2
	;;
esac
