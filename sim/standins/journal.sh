# The one journal writer, sourced by the simulation's stand-ins and by the
# process tests' (tests/standins/standin): journal_line appends the tool's
# name and its arguments to the journal ($JOURNAL_FILE, else $SIM_JOURNAL,
# default /sim/journal), each argument preceded by one space, under an flock
# so parallel calls never interleave. A newline inside an argument is written
# as the two characters \n.
journal_line() {
  local line=${0##*/} arg
  for arg in "$@"; do
    line+=" ${arg//$'\n'/\\n}"
  done
  {
    flock 9
    printf '%s\n' "$line" >&9
  } 9>>"${JOURNAL_FILE:-${SIM_JOURNAL:-/sim/journal}}"
}
