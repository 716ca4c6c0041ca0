#!/bin/sh
# Runs a command with a private loopback network, so the app's fixed ports never meet another program's.
# Other programs on a developer machine or CI host may hold 127.0.0.1:3001 or :6061 at any moment;
# in a fresh network namespace these ports belong to the test alone. Where namespaces are not
# allowed the command runs on the machine's own network, and the tests check the ports themselves.
if unshare --net -- true 2>/dev/null && command -v ip >/dev/null 2>&1; then
  exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' isolate "$@"
fi
echo "isolate.sh: no private network namespace available; sharing the machine's ports" >&2
exec "$@"
