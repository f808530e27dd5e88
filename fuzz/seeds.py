#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/corpus/ from the samples of the unit tests.

Run once after changing a sample; the files are kept in the repository.
The DHCP+ acks are written in the plain form that fuzz_dhcpplus_ack ciphers
itself (see dhcpplus_ack.cpp).
"""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def store(keys_values):
    """A NUL-separated value list in the order of the target's keys."""
    return b"\0".join(v.encode("latin-1") if isinstance(v, str) else v for v in keys_values)


# --- the store file ---
put("store_file", "plain", "lan_ip=192.168.0.1\nwan_connecttype=2\n# comment\n\nempty=\n")
put("store_file", "escapes", "back=a\\\\b\\\\\\\\c\nlines=one\\ntwo\\n\ncr=x\\ry\neq=a=b==c\ncrlf=yes\r\n")
put("store_file", "bad_lines", "no equals sign here\n=no key\ndup=first\ndup=second\na=1\0x\ntail=no newline")

# --- netmgr's start-up values (order of kKeys in netmgr_store.cpp) ---
netmgr_keys = ["wan_connecttype", "dhcps_en", "dhcpStaticnum", "dhcpStaticip", "lan_ip",
               "lan_mask", "wan_ip", "wan_mask", "wan_gateway", "wan_dns1", "wan_dns2",
               "staticMTU", "dynamicMTU", "wan_mac_addr", "dnsen", "wanparam", "ppoe_userid",
               "ppoe_pwd", "ppoe_sev", "ppoe_ac", "ppoe_mtu", "ppoe_conmode", "ppoe_idletime",
               "ppoe_h_s", "ppoe_m_s", "ppoe_h_e", "ppoe_m_e", "pptpIP", "pptpPUN", "pptpPPW",
               "pptpMTU", "pptpAddrMode", "pptpMPPE", "pptpWANIP", "pptpWANMASK", "pptpWANGW",
               "l2tpIP", "l2tpPUN", "l2tpPPW", "l2tpMTU", "l2tpAddrMode", "l2tpWANIP",
               "l2tpWANMASK", "l2tpWANGW", "DHCP_plus_Name", "DHCP_plus_Pwd", "DHCP_plus_mtu",
               "dhcps_start", "dhcps_end", "dhcps_dns1", "dhcps_dns2", "dns_dns1", "dns_dns2",
               "lease_time"]
base = {"dhcps_en": "1", "dhcpStaticnum": "2",
        "dhcpStaticip": "192.168.0.20;00:11:22:33:44:55;1 192.168.0.21;00:11:22:33:44:66;1",
        "lan_ip": "192.168.0.1", "lan_mask": "255.255.255.0", "wan_ip": "10.0.0.2",
        "wan_mask": "255.255.255.0", "wan_gateway": "10.0.0.1", "wan_dns1": "8.8.8.8",
        "wan_dns2": "8.8.4.4", "staticMTU": "1500", "dynamicMTU": "1492",
        "wan_mac_addr": "00:11:22:33:44:56", "dnsen": "1", "ppoe_userid": "user@isp",
        "ppoe_pwd": "pa'ss", "ppoe_sev": "svc", "ppoe_ac": "ac", "ppoe_mtu": "1492",
        "ppoe_conmode": "1", "ppoe_idletime": "5", "ppoe_h_s": "8", "ppoe_m_s": "0",
        "ppoe_h_e": "18", "ppoe_m_e": "30", "pptpIP": "vpn.isp.sim", "pptpPUN": "u",
        "pptpPPW": "p", "pptpMTU": "1400", "pptpAddrMode": "1", "pptpMPPE": "1",
        "pptpWANIP": "10.1.0.2", "pptpWANMASK": "255.255.0.0", "pptpWANGW": "10.1.0.1",
        "l2tpIP": "10.9.0.1", "l2tpPUN": "u", "l2tpPPW": "p", "l2tpMTU": "0",
        "l2tpAddrMode": "0", "l2tpWANIP": "", "l2tpWANMASK": "", "l2tpWANGW": "",
        "DHCP_plus_Name": "name", "DHCP_plus_Pwd": "pwd", "DHCP_plus_mtu": "1400",
        "dhcps_start": "192.168.0.100", "dhcps_end": "192.168.0.200",
        "dhcps_dns1": "192.168.0.1", "dhcps_dns2": "", "dns_dns1": "1.1.1.1",
        "dns_dns2": "", "lease_time": "86400"}
for wan in range(1, 7):
    v = dict(base, wan_connecttype=str(wan))
    put("netmgr_store", "wan%d" % wan, store(v.get(k, "") for k in netmgr_keys))

# --- /proc/vkproc/fwlog: 12-byte events, address first, kind last ---
def event(a, kind):
    return bytes(a) + b"\x7e" * 7 + bytes([kind])
put("netmgr_fwlog", "four", event((192, 168, 1, 100), 2) + event((10, 0, 0, 7), 1) +
    event((1, 2, 3, 4), 9) + event((172, 16, 0, 1), 3) + b"\x01\x02\x03")
put("netmgr_fwlog", "twelve", b"".join(event((10, 0, 0, i), 1) for i in range(12)))

# --- trafmon ---
put("trafmon_account", "pages", "".join("page=%d third=%d second=0\n" % (0x80001000 + 4096 * i, 12 + i)
                                        for i in range(8)))
put("trafmon_account", "odd", "page=-2147479552 third=300 second=1\npage=1 third=1\nx\n")
put("trafmon_currconn", "pairs", b"".join(struct.pack("<4sI", bytes((192, 168, 0, 10 + i)), i + 1)
                                          for i in range(5)) + b"\0" * 8)
put("trafmon_currconn", "no_end", struct.pack("<4sI", bytes((192, 168, 0, 10)), 3))
put("trafmon_arp", "table",
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.168.0.100    0x1         0x2         02:00:00:00:01:0a     *        br0\n"
    "192.168.0.101    0x1         0x0         00:00:00:00:00:00     *        br0\n"
    "10.250.0.1       0x1         0x2         02:aa:bb:cc:dd:ee     *        eth2.2\r\n"
    "192.168.0.102 0x1 0x2\n"
    "1.2.3.4:\n"
    "192.168.0.103:0x1\n"
    "192.168.0.2    0x1         0x2         02:00:00:00:01:0b     *        br0\n")
put("trafmon_dev", "table",
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
    "    lo:    1000      10    0    0    0     0          0         0     1000      10    0    0    0     0       0          0\n"
    "eth2.2: 5000000000 4000    0    0    0     0          0         0   300000    2000    0    0    0     0       0          0\n"
    "  ppp0:123456 77 0 0 0 0 0 0 654321 88 0 0 0 0 0 0\n"
    "eth2.2:1: 9 9 0 0 0 0 0 0 9 9 0 0 0 0 0 0\n"
    " short: 1 2 3\n")
put("trafmon_stat", "cpu", "cpu  100 0 100 800 0 0 0 0 0 0\ncpu0 100 0 100 800 0 0 0 0 0 0\n")
put("trafmon_stat", "short", "cpu 75 0 0\n")
free_head = "              total        used        free      shared  buff/cache   available\n"
put("trafmon_free", "procps", free_head + "Mem:          29000       12000       16384           0         600        9000\n")
put("trafmon_free", "busybox", free_head + "Mem: 29000 12000 16384 0 600\n")
put("trafmon_free", "big", free_head + "Mem: 8000000 12000 4000000 0 600\n")

# --- kinwatch: 132-byte records, address then the NUL-padded name ---
def record(a, name):
    return bytes(a) + name.encode().ljust(128, b"\0")[:128]
put("kinwatch_dnslog", "three", record((192, 168, 0, 10), "www.example.com") +
    record((192, 168, 0, 10), "img.example.com") + record((192, 168, 0, 11), "news.site.org"))
put("kinwatch_dnslog", "long_name", record((192, 168, 0, 12), "a" * 127 + "b") + b"\x01\x02")

# --- arpguard ---
put("arpguard_setting", "on", "1,0,1,5")
put("arpguard_setting", "on_then_off", b"1,0,1,5\x001,0,0,0")
put("arpguard_setting", "short", "1,2")

# --- logmail (order of kKeys in logmail_settings.cpp) ---
put("logmail_settings", "good", store(["router@isp.sim", "admin@isp.sim", "mail.isp.sim", "router",
                                       "mailpass", "1", "1", "10", "1", "20", "57"]))
put("logmail_settings", "control", store(["a\r\nRCPT TO:<x>", "b", "c", "d", "e", "1", "0", "0", "0",
                                          "0", "-1"]))

# --- SMTP replies: everything the server says in one session ---
put("smtp_reply", "good", "220 isp.sim ESMTP\r\n250-isp.sim\r\n250-PIPELINING\r\n250 AUTH LOGIN\r\n"
    "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 ok\r\n221 bye\r\n")
put("smtp_reply", "helo", "220 old\r\n502 5.5.2 unknown\r\n250 old\r\n250 ok\r\n250 ok\r\n354 go\r\n"
    "250 ok\r\n221 bye\r\n")
put("smtp_reply", "refused", "220 x\r\n250 x\r\n334 a\r\n334 b\r\n535 no\r\n")
put("smtp_reply", "long_line", "220 x\r\n250-" + "x" * 3000 + "\r\n250 AUTH LOGIN\r\n")

# --- DHCP+ acks (see dhcpplus_ack.cpp): kind | 4, code, plain payload ---
HANGUP, REQUEST, USER, PASSWORD = 0, 1, 2, 3
acks = {
    "hangup": (HANGUP, 10, []),
    "request_one": (REQUEST, 2, [4, 4, 127, 0, 0, 1]),
    "request_three": (REQUEST, 2, [4, 12, 10, 0, 0, 9, 10, 0, 0, 2, 10, 0, 0, 3]),
    "request_after_other": (REQUEST, 2, [1, 4, 0, 0, 0, 0, 4, 4, 9, 9, 9, 9]),
    "request_cut": (REQUEST, 2, [4, 12]),
    "user_ok": (USER, 4, [10, 1, 0x80]),
    "user_after_name": (USER, 4, [8, 3, ord("a"), ord("b"), ord("c"), 10, 1, 0x80]),
    "password_ok": (PASSWORD, 4, [10, 1, 1]),
    "password_long_option": (PASSWORD, 4, [7, 200, 10, 1, 1]),
}
for name, (kind, code, payload) in acks.items():
    put("dhcpplus_ack", name, bytes([kind | 4, code] + payload))
put("dhcpplus_ack", "raw_short", bytes([1, 5, 2, 0, 12, 1, 0, 7, 15]))

# --- fwmgr (keys in the order of each fwmgr_<name>.cpp) ---
put("fwmgr_portmap", "two", store(["1;8080;80;0;192.168.0.10;1~1;21;21;2;192.168.0.11;3~0;1;1;1;192.168.0.12;1",
                                  "192.168.0.20", "01111"]))
put("fwmgr_portmap", "short", store(["1;8080;80;0;", "192.168.0.20 -j ACCEPT", "0"]))
put("fwmgr_filters", "all", store([
    "2", "1;192.168.0.100-192.168.0.120;6881-6889;2;8:05-17:30;0;1;0;1;0;1;1;ignored",
    "0;192.168.0.100-192.168.0.120;80-80;0;8:0-17:30;0;1;1;1;1;1;0;",
    "1", "0;192.168.0.2-192.168.0.3;a,b,c;8:0-17:30;1;1;1;1;1;1;1;", "",
    "1", "0;00:11:22:33:44:55;0:0-0:0;1;1;1;1;1;1;1;", ""]))
put("fwmgr_qos", "two", store(["2", "192.168.0.10-192.168.0.20;0-32;0-128;1;1",
                              "192.168.0.2-192.168.0.3;0-64"]))
put("fwmgr_ipmac", "mixed", store(["2", "1", "192.168.0.10;00:11:22:33:44:55;",
                                  "10.0.0.1;00:11:22:33:44:55 x;~10.0.0.300;00:11:22:33:44:55;~10.0.0.2;"]))
put("fwmgr_natlimit", "two", store(["1;192.168.0.2;192.168.0.9;100,1;192.168.0.10;192.168.0.20;50", "1"]))
put("fwmgr_routes", "three", store(["10.20.0.0;255.255.0.0;192.168.0.254", "10.30.0.0;255.255.0.0",
                                   "10.0.0.0;255.0.0.0;", "short"]))
put("fwmgr_services", "all", store(["1,20,0,0,0,0,0,0,1,0", "192.168.0.2,192.168.0.3,", "192.168.0.4,",
                                   "192.168.0.5", "8080", "10.0.0.9", "8080", "1", "me", "pw",
                                   "my.example.net", "8.8.8.8", ""]))

# --- the status CGI (first byte: 0 lease file, 1 url.log, 2 route, 3 resolv.conf, 4 segments) ---
put("status_cgi", "leases", b"\0" + struct.pack(">q", 900) +
    struct.pack(">I", 3600) + bytes([192, 168, 0, 100]) + bytes([2, 0, 0, 0, 1, 10]) + b"lanhost".ljust(22, b"\0") +
    struct.pack(">I", 5) + bytes([192, 168, 0, 101]) + bytes(6) + b"x" * 20 + b"\0\0" + b"partial")
put("status_cgi", "urllog", b"\1" + b"003\n2026-12-09 01:00:00;192.168.0.100;www.example.com\n"
    b"2026-12-09 01:00:01;192.168.0.100;<b>\x01\xff\n\n;;\nno newline")
put("status_cgi", "route", b"\2" + b"Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
    b"eth2.2\t00000000\t0100FA0A\t0003\t0\t0\t0\t00000000\nppp0\t0\t0\t1\nx\n")
put("status_cgi", "resolv", b"\3" + b"nameserver 10.250.0.1\nnameserver " + b"9" * 70 + b"\nnameserver\n")
put("status_cgi", "segments", b"\4" + struct.pack("<ii", 300, 7) + b"2026-12-09 00:00:00 \xcf\xb5\xcd\xb3\n".ljust(128, b"\0") * 3)
put("status_cgi", "leases_before_epoch", b"\0" + struct.pack(">q", -(2 ** 63) + 926) +
    struct.pack(">I", 3600) + bytes([192, 168, 0, 100]) + bytes(28))
