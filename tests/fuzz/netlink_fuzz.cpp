// Feeds arbitrary datagrams to the parser of the kernel's answers: routes, neighbour
// entries and the neighbour dump. Input: a 16-byte client address, a 4-byte interface
// whose top bit asks for an IPv4 client (the address's first 4 bytes) and whose next bit
// makes it the client's zone rather than the route's, then one datagram, read as the
// answer to request 1.

#define CLIENTMAC_NO_MAIN
#include "../../src/clientmac.cpp"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  neighbourquery query = {};
  uint32_t interface;
  if (size < sizeof query.address + sizeof interface)
    return 0;
  memcpy(query.address, data, sizeof query.address);
  memcpy(&interface, data + sizeof query.address, sizeof interface);
  query.family = (interface & 0x80000000u) != 0 ? AF_INET : AF_INET6;
  if ((interface & 0x40000000u) != 0)
    query.zone = interface & 0x3fffffffu;
  else
    query.interface = interface & 0x3fffffffu;
  const size_t offset = sizeof query.address + sizeof interface;

  // A copy of exactly the datagram's length, so that any read past it is caught.
  char *datagram = new char[size - offset + 1];
  memcpy(datagram, data + offset, size - offset);
  const answer result = scanmessages(datagram, size - offset, 1, query);
  delete[] datagram;

  // What settles a query is a route's interface, or whole hex bytes joined by colons.
  if (result == answer::found) {
    const size_t length = strlen(query.hwaddress);
    if (length == 0 ? query.interface == 0 : length % 3 != 2 || length >= hwtextsize)
      __builtin_trap();
  }
  return 0;
}
