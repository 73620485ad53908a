#!/usr/bin/env bash
# Gives the keyboard focus to the window of process PID on KWin, as a click would: KWin keeps a new window
# from taking the focus after input went elsewhere, and only a KWin script may hand it over.
#
#   focus-kde.sh PID
set -eu
pid=$1
script=$(mktemp "${XDG_RUNTIME_DIR:-/tmp}/focus.XXXXXX.js")
trap 'rm -f "$script"' EXIT
cat >"$script" <<JS
const clients = workspace.clientList();
for (let i = 0; i < clients.length; ++i) {
    if (clients[i].pid === $pid)
        workspace.activeClient = clients[i];
}
JS
name=tellwind-focus-$$
qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript "$script" "$name" >/dev/null
# Loaded scripts run at the next start.
qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.start >/dev/null
qdbus org.kde.KWin /Scripting org.kde.kwin.Scripting.unloadScript "$name" >/dev/null
