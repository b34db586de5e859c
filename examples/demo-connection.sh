#!/bin/sh
# Demo connection for Morvane: shows a status window titled
# "Morvane Demo Connection" for a few seconds, then closes it, as a
# dial-up status window would when the line drops. In a Wayland session the
# window comes from morvane-demo-window: native where the compositor lets
# Morvane see native windows, an XWayland window elsewhere.
title="Morvane Demo Connection"
seconds="${MORVANE_DEMO_SECONDS:-8}"
window="$(dirname "$0")/morvane-demo-window"
if [ -n "$WAYLAND_DISPLAY" ] && [ -x "$window" ]; then
  exec "$window" "$title" "$seconds"
fi
exec xmessage -title "$title" -timeout "$seconds" \
  "Demo connection is open. It closes by itself."
