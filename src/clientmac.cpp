// clientmac: write the hardware address of the CGI client named in REMOTE_ADDR.
//
// A web server runs this once per request, so it makes one pass over the kernel's
// neighbour table in fixed buffers and always answers with exactly one address: the
// client's, or the zero address when there is none to give. IPv4 clients are looked up
// in the ARP table under /proc; IPv6 clients through rtnetlink, which is the only place
// the kernel lists its IPv6 neighbours.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr std::string_view zeroaddress = "00:00:00:00:00:00";
constexpr char arptablepath[] = "/proc/net/arp";

// The parent tells "no client was named" from every other outcome by this status alone.
constexpr int noclientstatus = 255;

// procfs reports a 1 KiB block, so stdio would read 1 KiB at a time, and the kernel walks
// its table from the start for every read. It hands out at most a page per read, so a
// page-sized buffer is the fewest reads there can be.
constexpr size_t tablebuffersize = 4096;

// One read of the table: at most 255 characters of a line.
constexpr size_t linesize = 256;

// The longest address and hardware address that an entry may hold; a longer field is
// damage, never an address to compare or to hand out.
constexpr size_t maxaddress = 31;
constexpr size_t maxhwaddress = 31;

// A link-layer address from rtnetlink as text: two digits and a colon per byte.
constexpr size_t maxlinkaddress = 32;
constexpr size_t hwtextsize = 3 * maxlinkaddress;

// One datagram of the kernel's neighbour dump: the first is at most 8 KiB, and later
// ones are no larger than the buffer that the reader offers.
constexpr size_t netlinkbuffersize = 8192;

// A web server must never hang on us, whatever the kernel does.
constexpr timeval netlinktimeout = {1, 0};

// What a client address asks for.
enum class clientkind {
  arp,         // IPv4, IPv4-mapped, or anything that is no IPv6 address
  ipv6,        // an IPv6 address, on any interface or on the one its zone names
  unknownzone, // an IPv6 address on an interface that does not exist
};

// How far one datagram of the neighbour dump took the search.
enum class dumpscan {
  more,  // no match yet, and the dump goes on
  found, // the client's link-layer address is in the reply buffer
  ended, // the dump ended, or failed, without a match
};

// What separates the table's fields: what isspace() takes in the C locale.
constexpr char fieldspaces[] = " \t\n\v\f\r";

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
// The C library's span functions outrun a loop of ours on every line of a long table.
[[nodiscard]] std::string_view nextfield(const char *&cursor) {
  cursor += strspn(cursor, fieldspaces);
  const char *start = cursor;
  cursor += strcspn(cursor, fieldspaces);
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

// Takes the hardware address from the rest of a table line, after its address; false when
// the rest holds no whole entry: fewer than three more fields, or a hardware address too
// long to be one.
[[nodiscard]] bool scanhwaddress(const char *cursor, bool cut, std::string_view &hwaddress) {
  // The hardware type and the flags are not consulted, only passed over.
  if (nextfield(cursor).empty() || nextfield(cursor).empty())
    return false;
  hwaddress = nextfield(cursor);
  // On a cut line a hardware address that reaches the buffer's end may go on past it.
  if (hwaddress.empty() || (cut && *cursor == '\0'))
    return false;
  return hwaddress.size() <= maxhwaddress;
}

// Scans an open table for the client's entry; returns its hardware address, which lives in
// line, or an empty view when the table lists no entry for the client. The rest of a line
// is scanned only when its address is the client's: most lines are not.
[[nodiscard]] std::string_view findclient(FILE *table, std::string_view client,
                                          char (&line)[linesize]) {
  bool cut = false;
  while (readline(table, line, cut)) {
    const char *cursor = line;
    const std::string_view address = nextfield(cursor);
    if (address.empty() || address.size() > maxaddress || !containsaddress(client, address))
      continue;
    std::string_view hwaddress;
    if (scanhwaddress(cursor, cut, hwaddress))
      return hwaddress;
  }
  return {};
}

// Writes the one reply of this run: bare text, no newline, flushed when the process
// exits. A failed write has no one to tell, so it changes nothing.
void reply(std::string_view text) {
  // A buffer of our own spares stdio a look at standard output and a heap block for it.
  static char replybuffer[hwtextsize];
  setvbuf(stdout, replybuffer, _IOFBF, sizeof replybuffer);
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

// Returns the interface a zone names, by number or by name; 0 when there is none.
[[nodiscard]] unsigned zoneindex(std::string_view zone) {
  if (zone.empty())
    return 0;
  if (zone.size() <= 9 && zone.find_first_not_of("0123456789") == std::string_view::npos) {
    unsigned index = 0;
    for (const char digit : zone)
      index = index * 10 + static_cast<unsigned>(digit - '0');
    return index;
  }
  char name[IF_NAMESIZE];
  if (zone.size() >= sizeof name)
    return 0;
  memcpy(name, zone.data(), zone.size());
  name[zone.size()] = '\0';
  return if_nametoindex(name);
}

// Tells what the client text asks for; for an IPv6 client, sets its address and the
// interface its zone names (0 for any), after setting aside "[...]" and "%zone".
[[nodiscard]] clientkind classify(std::string_view client, in6_addr &address, unsigned &zone) {
  if (client.size() >= 2 && client.front() == '[' && client.back() == ']') {
    client.remove_prefix(1);
    client.remove_suffix(1);
  }
  const size_t percent = client.find('%');
  const bool haszone = percent != std::string_view::npos;
  const std::string_view bare(client.data(), haszone ? percent : client.size());
  char text[INET6_ADDRSTRLEN];
  if (bare.size() >= sizeof text)
    return clientkind::arp;
  memcpy(text, bare.data(), bare.size());
  text[bare.size()] = '\0';
  if (inet_pton(AF_INET6, text, &address) != 1 || IN6_IS_ADDR_V4MAPPED(&address))
    return clientkind::arp;
  if (!haszone)
    return clientkind::ipv6;
  client.remove_prefix(percent + 1);
  zone = zoneindex(client);
  return zone == 0 ? clientkind::unknownzone : clientkind::ipv6;
}

// Writes a link-layer address as the ARP table does: lower-case hex bytes joined by colons.
void formathwaddress(const unsigned char *bytes, size_t count, char (&text)[hwtextsize]) {
  constexpr char digits[] = "0123456789abcdef";
  char *out = text;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0)
      *out++ = ':';
    *out++ = digits[bytes[i] >> 4];
    *out++ = digits[bytes[i] & 0xf];
  }
  *out = '\0';
}

// Whether one neighbour entry of a dump is the client's, on interface zone (any when 0),
// with a link-layer address; formats that address into hwaddress. The kernel's layout is
// read through copies, so no field is read at an address it is not aligned for.
[[nodiscard]] bool matchneighbour(const char *message, size_t length, const in6_addr &address,
                                  unsigned zone, char (&hwaddress)[hwtextsize]) {
  ndmsg entry;
  if (length < NLMSG_ALIGN(sizeof entry))
    return false;
  memcpy(&entry, message, sizeof entry);
  if (entry.ndm_family != AF_INET6 || (zone != 0 && entry.ndm_ifindex != static_cast<int>(zone)))
    return false;
  bool isclient = false;
  const char *linkaddress = nullptr;
  size_t linkaddresslength = 0;
  size_t offset = NLMSG_ALIGN(sizeof entry);
  while (offset < length && length - offset >= sizeof(rtattr)) {
    rtattr attribute;
    memcpy(&attribute, message + offset, sizeof attribute);
    if (attribute.rta_len < RTA_LENGTH(0) || attribute.rta_len > length - offset)
      return false;
    const char *payload = message + offset + RTA_LENGTH(0);
    const size_t payloadlength = attribute.rta_len - RTA_LENGTH(0);
    if (attribute.rta_type == NDA_DST)
      isclient = payloadlength == sizeof address && memcmp(payload, &address, sizeof address) == 0;
    // Incomplete and failed entries come without one: they have no address to give.
    if (attribute.rta_type == NDA_LLADDR && payloadlength > 0 && payloadlength <= maxlinkaddress) {
      linkaddress = payload;
      linkaddresslength = payloadlength;
    }
    offset += RTA_ALIGN(attribute.rta_len);
  }
  if (!isclient || linkaddress == nullptr)
    return false;
  formathwaddress(reinterpret_cast<const unsigned char *>(linkaddress), linkaddresslength,
                  hwaddress);
  return true;
}

// Looks through one datagram of the kernel's IPv6 neighbour dump for the client's entry.
[[nodiscard]] dumpscan scanneighbours(const char *datagram, size_t length, const in6_addr &address,
                                      unsigned zone, char (&hwaddress)[hwtextsize]) {
  size_t offset = 0;
  while (offset < length && length - offset >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    memcpy(&header, datagram + offset, sizeof header);
    // A damaged datagram says nothing that can be trusted, and nothing more will follow.
    if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > length - offset)
      return dumpscan::ended;
    if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR)
      return dumpscan::ended;
    if (header.nlmsg_type == RTM_NEWNEIGH &&
        matchneighbour(datagram + offset + NLMSG_HDRLEN, header.nlmsg_len - NLMSG_HDRLEN, address,
                       zone, hwaddress))
      return dumpscan::found;
    offset += NLMSG_ALIGN(header.nlmsg_len);
  }
  return dumpscan::more;
}

// Asks the kernel for its IPv6 neighbours and finds the client among them; false when it
// is not there or the kernel could not be asked.
[[nodiscard]] bool findneighbour(const in6_addr &address, unsigned zone,
                                 char (&hwaddress)[hwtextsize]) {
  const int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (sock < 0)
    return false;
  struct {
    nlmsghdr header;
    ndmsg neighbour;
  } request = {};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETNEIGH;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.neighbour.ndm_family = AF_INET6;
  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  dumpscan progress = dumpscan::ended;
  if (setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &netlinktimeout, sizeof netlinktimeout) == 0 &&
      sendto(sock, &request, sizeof request, 0, reinterpret_cast<const sockaddr *>(&kernel),
             sizeof kernel) == static_cast<ssize_t>(sizeof request))
    progress = dumpscan::more;
  char datagram[netlinkbuffersize];
  while (progress == dumpscan::more) {
    sockaddr_nl sender = {};
    socklen_t senderlength = sizeof sender;
    // MSG_TRUNC makes a datagram too large for the buffer show as such, not as a short one.
    const ssize_t got = recvfrom(sock, datagram, sizeof datagram, MSG_TRUNC,
                                 reinterpret_cast<sockaddr *>(&sender), &senderlength);
    if (got <= 0 || got > static_cast<ssize_t>(sizeof datagram) || sender.nl_pid != 0)
      break;
    progress = scanneighbours(datagram, static_cast<size_t>(got), address, zone, hwaddress);
  }
  close(sock);
  return progress == dumpscan::found;
}

// Replies the link-layer address that the kernel lists for an IPv6 client.
void neighbourlookup(const in6_addr &address, unsigned zone) {
  char hwaddress[hwtextsize];
  reply(findneighbour(address, zone, hwaddress) ? std::string_view(hwaddress) : zeroaddress);
}

} // namespace

#ifndef CLIENTMAC_NO_MAIN
int main() {
  const char *client = getenv("REMOTE_ADDR");
  if (client == nullptr) {
    reply(zeroaddress);
    return noclientstatus;
  }
  in6_addr address;
  unsigned zone = 0;
  switch (classify(client, address, zone)) {
  case clientkind::arp:
    arplookup(client);
    break;
  case clientkind::ipv6:
    neighbourlookup(address, zone);
    break;
  case clientkind::unknownzone:
    reply(zeroaddress);
    break;
  }
  return 0;
}
#endif
