#!/bin/sh
# Demo connection for Morvane: shows a status window titled
# "Morvane Demo Connection" for a few seconds, then closes it, as a
# dial-up status window would when the line drops.
exec xmessage -title "Morvane Demo Connection" -timeout "${MORVANE_DEMO_SECONDS:-8}" \
  "Demo connection is open. It closes by itself."
