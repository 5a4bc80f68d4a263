// Feeds arbitrary tables and client texts to the table scan and the address match.
// Input: the client text up to the first newline, then the table's bytes.

#define CLIENTMAC_NO_MAIN
#include "../../src/clientmac.cpp"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  const std::string_view input(bytes, size);
  const size_t newline = input.find('\n');
  if (newline == std::string_view::npos)
    return 0;
  // The environment holds NUL-terminated text, so the client does too.
  char client[512];
  if (newline >= sizeof client)
    return 0;
  memcpy(client, bytes, newline);
  client[newline] = '\0';

  // The table is read for IPv4 clients, by their dotted form, when the kernel cannot
  // answer for them; text that holds one IPv4 address stands for it.
  neighbourquery query = {};
  const addresskind kind = readclient(client, query);
  if (kind != addresskind::ipv4)
    return 0;
  char dotted[INET_ADDRSTRLEN];
  formatdotted(query.client, dotted);

  const std::string_view tablebytes = input.substr(newline + 1);
  FILE *table = fmemopen(const_cast<char *>(tablebytes.data()), tablebytes.size(), "r");
  if (table == nullptr)
    return 0;
  char line[linesize];
  // The route's interface binds the scan: here, every other input names br-lan.
  const std::string_view device = size % 2 == 0 ? "eth0" : "br-lan";
  const std::string_view hwaddress = findclient(table, dotted, device, line);
  fclose(table);

  // A reply is a whole field of the table, never cut short, and a hardware address.
  if (!hwaddress.empty() &&
      (!ishwaddress(hwaddress) || tablebytes.find(hwaddress) == std::string_view::npos))
    __builtin_trap();
  return 0;
}
