# poll SECONDS COMMAND...: runs COMMAND (output discarded) every 0.05 s until
# it succeeds; status 1 when the time is up. A guard against hangs only.
# Sourced (bash) by the shell test kit (tests/lib.sh) and by the simulation
# (sim/simnet.sh), which simulate.sh and bench/ source without the kit.
poll() {
  local tries=$(($1 * 20))
  shift
  until "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || return 1
    sleep 0.05
  done
}
