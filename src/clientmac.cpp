// clientmac: write the hardware address of the CGI client named in REMOTE_ADDR.
//
// A web server runs this once per request, so it does one pass over the kernel's ARP
// table in fixed buffers and always answers with exactly one address: the client's, or
// the zero address when there is none to give.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view zeroaddress = "00:00:00:00:00:00";
constexpr char arptablepath[] = "/proc/net/arp";

// The parent tells "no client was named" from every other outcome by this status alone.
constexpr int noclientstatus = 255;

// procfs reports a 1 KiB block and the kernel walks its table from the start for every
// read, so fewer, larger reads make a large table much cheaper.
constexpr size_t tablebuffersize = 4096;

// One read of the table: at most 255 characters of a line.
constexpr size_t linesize = 256;

// The longest address and hardware address that an entry may hold; a longer field is
// damage, never an address to compare or to hand out.
constexpr size_t maxaddress = 31;
constexpr size_t maxhwaddress = 31;

// Whether c separates the table's fields, as isspace() does in the C locale.
[[nodiscard]] constexpr bool isfieldspace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether c can continue an address, so that a match beside it is only a piece of one.
[[nodiscard]] constexpr bool isaddresschar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.';
}

// Whether address stands within client as a whole address, as in "::ffff:10.0.0.1" or
// "[::ffff:10.0.0.1]", and not as a piece of another one, as in "10.0.0.12".
[[nodiscard]] bool containsaddress(std::string_view client, std::string_view address) {
  for (size_t at = client.find(address); at != std::string_view::npos;
       at = client.find(address, at + 1)) {
    const size_t end = at + address.size();
    const bool cleanstart = at == 0 || !isaddresschar(client[at - 1]);
    const bool cleanend = end == client.size() || !isaddresschar(client[end]);
    if (cleanstart && cleanend)
      return true;
  }
  return false;
}

// Returns the next field at or after cursor and moves cursor past it; empty at the end.
[[nodiscard]] std::string_view nextfield(const char *&cursor) {
  while (isfieldspace(*cursor))
    ++cursor;
  const char *start = cursor;
  while (*cursor != '\0' && !isfieldspace(*cursor))
    ++cursor;
  return {start, static_cast<size_t>(cursor - start)};
}

// Reads the next line of the table into line; false at the end or on a read error. A line
// too long for the buffer keeps its head, loses its rest, and sets cut.
[[nodiscard]] bool readline(FILE *table, char (&line)[linesize], bool &cut) {
  // fgets overwrites this sentinel only when it fills the whole buffer.
  line[linesize - 1] = '\1';
  if (fgets(line, linesize, table) == nullptr)
    return false;
  cut = false;
  if (line[linesize - 1] != '\0' || line[linesize - 2] == '\n')
    return true;
  // The rest of an over-long line is part of it, not an entry of its own.
  int c = getc(table);
  if (c == '\n' || c == EOF)
    return true;
  while (c != '\n' && c != EOF)
    c = getc(table);
  cut = true;
  return true;
}

// Takes the address and hardware address of one table line; false when the line holds no
// whole entry: fewer than four fields, or a field too long to be what it claims.
[[nodiscard]] bool scanentry(const char *line, bool cut, std::string_view &address,
                             std::string_view &hwaddress) {
  // Address, hardware type, flags, hardware address; the type and flags are not consulted.
  std::string_view fields[4];
  const char *cursor = line;
  for (std::string_view &field : fields)
    field = nextfield(cursor);
  address = fields[0];
  hwaddress = fields[3];
  if (hwaddress.empty())
    return false;
  // On a cut line a hardware address that reaches the buffer's end may go on past it.
  if (cut && *cursor == '\0')
    return false;
  return address.size() <= maxaddress && hwaddress.size() <= maxhwaddress;
}

// Scans an open table for the client's entry; returns its hardware address, which lives in
// line, or an empty view when the table lists no entry for the client.
[[nodiscard]] std::string_view findclient(FILE *table, std::string_view client,
                                          char (&line)[linesize]) {
  bool cut = false;
  while (readline(table, line, cut)) {
    std::string_view address;
    std::string_view hwaddress;
    if (scanentry(line, cut, address, hwaddress) && containsaddress(client, address))
      return hwaddress;
  }
  return {};
}

// Writes the one reply of this run: bare text, no newline. A failed write has no one to
// tell, so it changes nothing.
void reply(std::string_view text) {
  fwrite(text.data(), 1, text.size(), stdout);
}

// Replies the hardware address that the kernel's ARP table lists for the client.
void arplookup(const char *client) {
  FILE *table = fopen(arptablepath, "r");
  if (table == nullptr) {
    reply(zeroaddress);
    return;
  }
  char streambuffer[tablebuffersize];
  setvbuf(table, streambuffer, _IOFBF, sizeof streambuffer);
  char line[linesize];
  const std::string_view hwaddress = findclient(table, client, line);
  fclose(table);
  reply(hwaddress.empty() ? zeroaddress : hwaddress);
}

} // namespace

#ifndef CLIENTMAC_NO_MAIN
int main() {
  const char *client = getenv("REMOTE_ADDR");
  if (client == nullptr) {
    reply(zeroaddress);
    return noclientstatus;
  }
  arplookup(client);
  return 0;
}
#endif
