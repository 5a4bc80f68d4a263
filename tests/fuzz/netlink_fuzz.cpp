// Feeds arbitrary datagrams to the parser of the kernel's IPv6 neighbour dump.
// Input: a 16-byte client address, a 4-byte zone, then one datagram.

#define CLIENTMAC_NO_MAIN
#include "../../src/clientmac.cpp"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  in6_addr address;
  uint32_t zone;
  if (size < sizeof address + sizeof zone)
    return 0;
  memcpy(&address, data, sizeof address);
  memcpy(&zone, data + sizeof address, sizeof zone);
  const size_t offset = sizeof address + sizeof zone;

  // A copy of exactly the datagram's length, so that any read past it is caught.
  char *datagram = new char[size - offset + 1];
  memcpy(datagram, data + offset, size - offset);
  char hwaddress[hwtextsize];
  const dumpscan result = scanneighbours(datagram, size - offset, address, zone, hwaddress);
  delete[] datagram;

  // A found address is whole hex bytes joined by colons.
  if (result == dumpscan::found) {
    const size_t length = strlen(hwaddress);
    if (length % 3 != 2 || length >= hwtextsize)
      __builtin_trap();
  }
  return 0;
}
