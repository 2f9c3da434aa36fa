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

case $action in
start)
	mkdir -p "$WINEPREFIX"
	# A server left over from an interrupted run would refuse a second one.
	stop
	# The server and the services that wineboot starts outlive this
	# script: they must not hold the caller's pipes open, so what they
	# say goes to a log, shown when a step fails.
	log=$WINEPREFIX.log
	if ! "$server" -p </dev/null >"$log" 2>&1; then
		status=$?
		cat "$log"
		echo "FAIL: wineserver -p: status $status" >&2
		exit 1
	fi
	# The first start creates the prefix and takes several seconds.
	if ! "$wine" wineboot --init </dev/null >"$log" 2>&1; then
		status=$?
		cat "$log"
		echo "FAIL: wineboot --init: status $status" >&2
		exit 1
	fi
	;;
stop)
	stop
	;;
*)
	echo "usage: wine_server.sh start|stop WINESERVER [WINE]" >&2
	exit 2
	;;
esac
