# shellcheck shell=bash
# The WAN-up benches' configuration (bench/fwmgr_wanup.sh on the PC,
# bench/board.sh on the emulated board), sourced by both so that they time
# the same command lines: 32 forwards for TCP and UDP, the DMZ, QoS with 32
# records, DDNS, the DNS proxy (on by default) and UPnP. Sets the array
# WANUP_SETTINGS (KEY=VALUE words for sim_up or board_up).
fwd= qos=
for i in $(seq 0 31); do
  fwd+="${fwd:+,}1;$((2000 + i));80;0;192.168.0.$((100 + i));3"
  qos+="${qos:+~}192.168.0.$((100 + i))-192.168.0.$((100 + i));0-64;0-256;1;1"
done
WANUP_SETTINGS=("virtualser_list=$fwd" dmzen=1 dmzip=192.168.0.99 qos_enable=1 qos_num=32
  "qoslist0=$(echo "$qos" | cut -d'~' -f1-8)" "qoslist1=$(echo "$qos" | cut -d'~' -f9-16)"
  "qoslist2=$(echo "$qos" | cut -d'~' -f17-24)" "qoslist3=$(echo "$qos" | cut -d'~' -f25-32)"
  ddns_en=1 ddns_type=5 ddns_user=me ddns_pwd=pw ddns_domain=my.example.net upnpen=1)
unset fwd qos
