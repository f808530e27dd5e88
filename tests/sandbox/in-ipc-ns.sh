#!/bin/sh
# Runs a test program in a private System V IPC namespace, so the queues,
# semaphores and segments it makes vanish with it. Needs root.
if ! unshare --ipc true 2>/dev/null; then
  echo "SKIPPED: $1 needs root for a private IPC namespace (unshare --ipc)" >&2
  exit 77
fi
exec unshare --ipc "$@"
