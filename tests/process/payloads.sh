# Injection payloads for the store sweep (sourced). payload N sets P to the
# N-th payload (N = 0, 1, ...; 40 shapes of attack times 5 carriers give 200
# different ones before they repeat). Each one, if a shell ever ran it as
# code, creates $CANARY (default /tmp/canary); none holds a NUL byte (the
# store cannot).
CANARY=${CANARY:-/tmp/canary}

_tab=$'\t' _nl=$'\n' _cr=$'\r'
_c="touch $CANARY"
_attacks=(
  "\$($_c)" "\`$_c\`" ";$_c" "|$_c" "&$_c" "&&$_c" "||$_c" ">$CANARY" ">>$CANARY"
  "'\$($_c)'" "\"\$($_c)\"" "';$_c;'" "\";$_c;\"" "'\";$_c;#" "\"';$_c;#"
  "$_nl$_c$_nl" "$_cr$_nl$_c" "$_cr$_c" "$_tab;$_c" "\\;$_c" "\\'\$($_c)"
  "'\\''\$($_c)'\\''" "\$(IFS=_;x=touch_$CANARY;\$x)" "\${IFS}\$($_c)" "\$((\$($_c)))"
  "<($_c)" ">($_c)" "\`$_c\`\`$_c\`" "' \"\` \$( $_c ) \`\" '" "%s%n%x\$($_c)"
  "$(printf '\xc3\xa9\xff\xfe')\$($_c)" "$(printf '\x80\x81')\`$_c\`" "$(printf '\x1b')[0m;$_c"
  " ;$_c #" "*;$_c" "?;$_c" "~;$_c" "{a,b};$_c" "#\$($_c)" "!;$_c"
)
_carriers=("" "192.168.0.1" "1500" "user" "LONG")

payload() {
  local n=$1 a=${_attacks[$(( ($1 / 5) % ${#_attacks[@]} ))]} c=${_carriers[$(( $1 % 5 ))]}
  if [ "$c" = LONG ]; then
    # A very long value: far beyond every buffer of the programs.
    printf -v c "%0$(( 2000 + (n * 997) % 30000 ))d" 0
  fi
  P="$c$a$c"
}
