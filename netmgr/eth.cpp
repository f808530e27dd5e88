// Ethernet bring-up: the base MAC address from flash, the switch VLAN split
// into eth2.1 (LAN) and eth2.2 (WAN), the bridge br0, the WAN port mode and
// the kernel's copy of the LAN address.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/bstr.h"
#include "common/netutil.h"
#include "netmgr/flash_req.h"
#include "netmgr/netmgr.h"

namespace rc {

namespace {

constexpr uint32_t kFlashMacAddr = 0x40004;

void formatMac(char out[18], const unsigned char mac[6]) {
  snprintf(out, 18, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
           mac[5]);
}

}  // namespace

flash_req flash_read_req(uint32_t addr, void *dst, uint32_t len) {
  flash_req req = {};
  req.addr = addr;
  req.dst = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dst));
  req.len = len;
  return req;
}

int NetMgr::GetEthMac(char lanmac[18], char wanmac[18]) {
  Paths::Buf path;
  int fd = open(s_.paths.kernel("/dev/flash0", path), O_RDONLY);
  if (fd < 0) {
    puts("Open flash pseudo device failed");
    return 0;
  }
  unsigned char mac[6] = {0};
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // A flash image (tests, simulation): the bytes sit at their flash offset.
    ssize_t got = pread(fd, mac, sizeof mac, kFlashMacAddr);
    close(fd);
    if (got != static_cast<ssize_t>(sizeof mac)) {
      puts("OUT_OF_SCOPE");
      return 0;
    }
  } else {
    flash_req req = flash_read_req(kFlashMacAddr, mac, sizeof mac);
    if (ioctl(fd, kFlashRead, &req) < 0) {
      puts("FLASH_API: ioctl error");
      close(fd);
      return 0;
    }
    close(fd);
    if (req.status == kFlashOutOfScope) {
      puts("OUT_OF_SCOPE");
      return 0;
    }
  }
  formatMac(lanmac, mac);
  // The WAN address is the base plus one as a 48-bit number.
  for (int i = 5; i >= 0; --i)
    if (++mac[i] != 0) break;
  formatMac(wanmac, mac);
  return 1;
}

int NetMgr::Init_Eth() {
  char lanmac[18] = "00:00:00:00:00:01";
  char wanmac[18] = "00:00:00:00:00:02";
  char derivedLan[18], derivedWan[18];
  if (GetEthMac(derivedLan, derivedWan)) {
    bcopy_text(lanmac, derivedLan);
    bcopy_text(wanmac, derivedWan);
  }
  char wanMacAddr[32];
  settings_.get("wan_mac_addr", wanMacAddr);
  if (wanMacAddr[0] && strcmp(wanMacAddr, wanmac) != 0) {
    if (is_mac(wanMacAddr))
      bcopy_text(wanmac, wanMacAddr);
    else {
      char seen[kShownSize];
      printf("netmgr: wan_mac_addr \"%s\" is not a MAC address; using %s\n", shown(wanMacAddr, seen), wanmac);
    }
  }

  sh_.doSystemCmd("ifconfig eth2 hw ether %s up", lanmac);
  sh_.doSystemCmd("vconfig add eth2 1");
  sh_.doSystemCmd("vconfig add eth2 2");
  sh_.doSystemCmd("ifconfig eth2.1 hw ether %s up", lanmac);
  sh_.doSystemCmd("ifconfig eth2.2 hw ether %s up", wanmac);
  sh_.doSystemCmd("vconfig set_flag eth2.1 1 1");
  sh_.doSystemCmd("vconfig set_flag eth2.2 1 1");
  sh_.doSystemCmd("ifconfig eth2.1 0.0.0.0");
  sh_.doSystemCmd("ifconfig eth2.2 0.0.0.0");
  sh_.doSystemCmd("switch reg w 14 0x405555");
  sh_.doSystemCmd("switch reg w 98 0x7f3f");
  sh_.doSystemCmd("switch reg w e4 0x3f");
  sh_.doSystemCmd("switch reg w 40 0x1002");
  sh_.doSystemCmd("switch reg w 44 0x1001");
  sh_.doSystemCmd("switch reg w 48 0x1001");
  sh_.doSystemCmd("switch reg w 70 0xffff417e");
  sh_.doSystemCmd("ifconfig lo 127.0.0.1");
  sh_.doSystemCmd("brctl addbr br0");
  sh_.doSystemCmd("brctl setfd br0 1");
  sh_.doSystemCmd("brctl addif br0 eth2.1");
  return 1;
}

int NetMgr::setwanmodespeed(int first, int second) {
  unsigned word = 0x82002000u;
  if (first) word += 0x01000000u;
  if (second) word += 0x20000000u;
  sh_.vk_SystemEx("switch reg w c0 %x", word);
  return 1;
}

void NetMgr::write_kernel_lanip(const char *ip, const char *mask) {
  uint32_t rec[2] = {inet_addr(ip), inet_addr(mask)};
  Paths::Buf path;
  int fd = open(s_.paths.kernel("/proc/vkproc/lanip", path), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    puts("open /proc/vkproc/lanip failed");
    return;
  }
  if (write(fd, rec, sizeof rec) != static_cast<ssize_t>(sizeof rec))
    puts("write /proc/vkproc/lanip failed");
  close(fd);
}

}  // namespace rc
