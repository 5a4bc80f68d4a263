// Feeds arbitrary datagrams to the parser of the kernel's answers: the rule dump, routes,
// neighbour entries, the neighbour dump and the socket dump. Input: a 16-byte client
// address, a 4-byte word whose top bit asks for an IPv4 client (the address's first 4
// bytes), whose next bit makes the low bits the client's zone rather than the route's
// interface, and whose next two bits name the question answered (the route, the neighbour,
// the rules, the connections), then one datagram, read as the answer to request 1.

#define CLIENTMAC_NO_MAIN
#include "../../src/clientmac.cpp"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  neighbourquery query = {};
  uint32_t word;
  if (size < sizeof query.client + sizeof word)
    return 0;
  memcpy(query.client, data, sizeof query.client);
  memcpy(&word, data + sizeof query.client, sizeof word);
  query.family = (word & 0x80000000u) != 0 ? AF_INET : AF_INET6;
  if ((word & 0x40000000u) != 0)
    query.zoneindex = word & 0x0fffffffu;
  else
    query.linkindex = word & 0x0fffffffu;
  static const unsigned short questions[] = {RTM_GETROUTE, RTM_GETNEIGH, RTM_GETRULE,
                                             TCPDIAG_GETSOCK};
  const unsigned short asked = questions[(word >> 28) & 3];
  const size_t offset = sizeof query.client + sizeof word;

  // A copy of exactly the datagram's length, so that any read past it is caught.
  char *datagram = new char[size - offset + 1];
  memcpy(datagram, data + offset, size - offset);
  const answer result = scanmessages(datagram, size - offset, 1, asked, query);
  delete[] datagram;

  // What settles a neighbour is whole hex bytes joined by colons; a route, its interface
  // or its many paths; the connections, exactly one.
  if (result == answer::found) {
    const size_t length = strlen(query.hwaddress);
    const bool held = asked == RTM_GETRULE       ? true
                      : asked == TCPDIAG_GETSOCK ? query.connections == 1
                      : asked == RTM_GETROUTE && length == 0
                          ? query.linkindex != 0 || query.multipath
                          : length % 3 == 2 && length < hwtextsize;
    if (!held)
      __builtin_trap();
  }
  return 0;
}
