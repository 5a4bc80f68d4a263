// clientmac: write the hardware address of the CGI client named in REMOTE_ADDR.
//
// A web server runs this once per request, so it asks the kernel about one client, in
// fixed buffers, and always answers with exactly one address: the client's, or the zero
// address when there is none to give. A portal grants access by that address, so every
// doubt ends in the zero address, never in another machine's. The route the reply to the
// client takes vouches for every answer: the kernel is asked for it through rtnetlink,
// from the server's own address when the server names it (SERVER_ADDR), and then for the
// client's entry on the interface the route leaves by; what that cannot answer is looked
// for in the kernel's tables, on the same interface: the ARP table under /proc for IPv4
// clients, the neighbour dump for IPv6 ones. Where rtnetlink is denied, an IPv4 client's
// route is read from /proc too. A route that cannot be learned is a doubt. A link-local
// client without a zone is on whichever link lists it: every link that does must agree.

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr std::string_view zeroaddress = "00:00:00:00:00:00";
constexpr char arptablepath[] = "/proc/net/arp";
constexpr char routetablepath[] = "/proc/net/route";

// The parent tells "no client was named" from every other outcome by this status alone.
constexpr int noclientstatus = 255;

// procfs reports a 1 KiB block, so stdio would read 1 KiB at a time, and the kernel walks
// its table from the start for every read. It hands out at most a page per read, so a
// page-sized buffer is the fewest reads there can be.
constexpr size_t tablebuffersize = 4096;

// The longest client text worth a look: no server writes an address so long.
constexpr size_t maxclient = 255;

// One read of the table: at most 255 characters of a line.
constexpr size_t linesize = 256;

// The longest hardware address that an entry may hold; a longer field is damage, never an
// address to hand out.
constexpr size_t maxhwaddress = 31;

// A link-layer address from rtnetlink as text: two digits and a colon per byte, held to
// the length the table's may have.
constexpr size_t maxlinkaddress = (maxhwaddress + 1) / 3;
constexpr size_t hwtextsize = 3 * maxlinkaddress;

// One datagram of the kernel's answers: a dump's first is at most 8 KiB, and later ones
// are no larger than the buffer that the reader offers.
constexpr size_t netlinkbuffersize = 8192;

// What a client address asks for.
enum class clientkind {
  ipv4,        // a dotted quad, an IPv6 address that maps one, or text that holds one
  ipv6,        // an IPv6 address, on any interface or on the one its zone names
  unknownzone, // an IPv6 address on an interface that does not exist
  noaddress,   // text that holds no single address: none, or a list
};

// A question to the kernel about one client, and its answer.
struct neighbourquery {
  unsigned char family;       // AF_INET or AF_INET6
  unsigned char address[16];  // the client's, in network byte order: 4 or 16 bytes
  unsigned char source[16];   // the server's, which the reply leaves from, when known
  bool hassource;             // whether source holds it
  unsigned zone;              // the interface the client's zone names; 0 for none
  unsigned interface;         // the interface to look on, once known; 0 for every link
  bool everylink;             // a link-local client without a zone: every link must agree
  char hwaddress[hwtextsize]; // the client's link-layer address, once found
};

// What a step of the lookup learned: of the route, of the client's entry, or of one
// datagram of the kernel's answer. Only "unknown" and "failed" let a later step try: the
// others are the kernel's own word.
enum class answer {
  found,   // the query holds what was asked: the route's interface, or the address
  none,    // there is none to give: a gateway stands between, or the entry has none
  unknown, // the kernel answered without a say: no route, no entry, an error
  failed,  // the question could not be put, or its answer not read
  more,    // nothing settled yet, and the answer goes on
};

// What separates the table's fields: what isspace() takes in the C locale.
constexpr char fieldspaces[] = " \t\n\v\f\r";

// Whether c can continue an address, so that a match beside it is only a piece of one.
[[nodiscard]] constexpr bool isaddresschar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.';
}

// Whether the size bytes at a and at b are the same. A loop of our own: the C library's
// memcmp would be one import more, which costs more than the loop on MIPS.
[[nodiscard]] bool same(const void *a, const void *b, size_t size) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  while (size > 0 && *x == *y) {
    ++x;
    ++y;
    --size;
  }
  return size == 0;
}

// Whether two texts are the same. string_view's == is a template that a PIE build would
// export as a dynamic symbol.
[[nodiscard]] bool sametext(std::string_view a, std::string_view b) {
  return a.size() == b.size() && same(a.data(), b.data(), a.size());
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
  // The rest of an over-long line is part of it, not an entry of its own: it is read in
  // pieces up to the newline that ends it.
  char rest[linesize];
  while (fgets(rest, sizeof rest, table) != nullptr) {
    cut |= rest[0] != '\n';
    // A piece that starts with a NUL byte has no length to end in a newline.
    const size_t length = strlen(rest);
    if (length > 0 && rest[length - 1] == '\n')
      break;
  }
  return true;
}

// The value of a hexadecimal digit; 16 for any other character.
[[nodiscard]] unsigned hexvalue(char c) {
  const unsigned digit = static_cast<unsigned>(c - '0');
  const unsigned letter = static_cast<unsigned>((c | 0x20) - 'a');
  return digit < 10 ? digit : letter < 6 ? letter + 10 : 16;
}

// Whether a flags field, as the kernel writes it ("0x2"), marks an entry that holds its
// neighbour's address. The kernel still lists the address an incomplete or failed entry
// last had; it is no one's now.
[[nodiscard]] bool iscomplete(std::string_view flags) {
  // The flag is a bit of the last digit.
  return flags.size() >= 3 && flags[0] == '0' && flags[1] == 'x' &&
         (hexvalue(flags.back()) & ATF_COM) != 0;
}

// Whether a field is a hardware address as the kernel writes one: hex pairs joined by
// colons. Anything else, the column titles among them, is no address to hand out.
[[nodiscard]] bool ishwaddress(std::string_view text) {
  if (text.size() > maxhwaddress)
    return false;
  // Where the character falls in its group of three: two digits, then the colon.
  size_t column = 0;
  for (const char c : text) {
    if (column == 2 ? c != ':' : hexvalue(c) > 15)
      return false;
    column = column == 2 ? 0 : column + 1;
  }
  return column == 2;
}

// Takes the hardware address from the rest of a table line, after its address; false when
// the rest holds no whole entry on device: fewer than five more fields, flags without the
// complete bit, a hardware address that is none, or another device.
[[nodiscard]] bool scanentry(const char *cursor, bool cut, std::string_view device,
                             std::string_view &hwaddress) {
  // The hardware type is not consulted, only passed over.
  if (nextfield(cursor).empty() || !iscomplete(nextfield(cursor)))
    return false;
  hwaddress = nextfield(cursor);
  // On a cut line a field that reaches the buffer's end may go on past it.
  if (!ishwaddress(hwaddress) || (cut && *cursor == '\0'))
    return false;
  // The mask is passed over.
  return !nextfield(cursor).empty() && sametext(nextfield(cursor), device) &&
         !(cut && *cursor == '\0');
}

// Scans an open table for the entry of the client, named by its dotted form as the table
// lists addresses, on device; returns its hardware address, which lives
// in line, or an empty view when the table lists no entry for the client. The rest of a
// line is scanned only when its address is the client's: most lines are not.
[[nodiscard]] std::string_view findclient(FILE *table, std::string_view client,
                                          std::string_view device, char (&line)[linesize]) {
  bool cut = false;
  while (readline(table, line, cut)) {
    const char *cursor = line;
    const std::string_view address = nextfield(cursor);
    if (!sametext(address, client))
      continue;
    std::string_view hwaddress;
    if (scanentry(cursor, cut, device, hwaddress))
      return hwaddress;
  }
  return {};
}

// What a CGI reply starts with: text, which no cache may keep, for it names one client.
constexpr std::string_view cgiheader =
    "Content-Type: text/plain\r\nCache-Control: no-store\r\n\r\n";

// The length of this run's CGI header: 0 unless the program was called by a CGI name.
size_t headerlength;

// Writes the one reply of this run: its header, if any, then bare text, no newline, in
// one system call, which a pipe takes whole: a server never sees the header without the
// address. writev takes the two parts where they lie, in less code than a copy of both
// into one buffer. A failed write has no one to tell, so it changes nothing.
void reply(std::string_view text) {
  const iovec parts[] = {{const_cast<char *>(cgiheader.data()), headerlength},
                         {const_cast<char *>(text.data()), text.size()}};
  [[maybe_unused]] const ssize_t written = writev(STDOUT_FILENO, parts, 2);
}

// Replies the hardware address that the kernel's ARP table lists for the client, on
// device: the interface the route to the client leaves by.
void arplookup(std::string_view client, std::string_view device) {
  FILE *table = fopen(arptablepath, "r");
  if (table == nullptr) {
    reply(zeroaddress);
    return;
  }
  char streambuffer[tablebuffersize];
  setvbuf(table, streambuffer, _IOFBF, sizeof streambuffer);
  char line[linesize];
  const std::string_view hwaddress = findclient(table, client, device, line);
  fclose(table);
  reply(hwaddress.empty() ? zeroaddress : hwaddress);
}

// Copies text into a NUL-terminated buffer of size bytes; false when it does not fit.
[[nodiscard]] bool copytext(std::string_view text, char *buffer, size_t size) {
  if (text.size() >= size)
    return false;
  memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return true;
}

// Returns the interface a zone names: an interface of that name, or else one of that
// number, as the C library's resolver reads zones; 0 when there is none.
[[nodiscard]] unsigned zoneindex(std::string_view zone) {
  char name[IF_NAMESIZE];
  if (zone.empty() || !copytext(zone, name, sizeof name))
    return 0;
  const unsigned index = if_nametoindex(name);
  if (index != 0 || zone.size() > 9)
    return index;
  unsigned number = 0;
  for (const char digit : zone) {
    if (digit < '0' || digit > '9')
      return 0;
    number = number * 10 + static_cast<unsigned>(digit - '0');
  }
  return number;
}

// Sets text to the client text without the whitespace around it, which some servers and
// scripts leave; false when what is left is a list ("a b", or a forwarded-for "a, b"),
// which names no single client.
[[nodiscard]] bool trimclient(const char *client, std::string_view &text) {
  client += strspn(client, fieldspaces);
  const size_t length = strcspn(client, " \t\n\v\f\r,");
  text = {client, length};
  client += length;
  return client[strspn(client, fieldspaces)] == '\0';
}

// Reads the one IPv4 address that stands in text as a whole address, with no digit, letter
// or dot beside it ("[192.0.2.1]:80", "192.0.2.1%lan0"), into the query; noaddress when
// text holds none, or more than one ("192.0.2.1;192.0.2.2"), which names no single client.
[[nodiscard]] clientkind findaddress(std::string_view text, neighbourquery &query) {
  unsigned found = 0;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && isaddresschar(text[at]))
      continue;
    // A word of address characters ends here: it may be a dotted quad.
    char word[INET_ADDRSTRLEN];
    unsigned char address[4];
    if (copytext({text.data() + start, at - start}, word, sizeof word) &&
        inet_pton(AF_INET, word, address) == 1) {
      memcpy(query.address, address, sizeof address);
      ++found;
    }
    start = at + 1;
  }
  query.family = AF_INET;
  return found == 1 ? clientkind::ipv4 : clientkind::noaddress;
}

// Whether the query's address is an IPv6 link-local one (fe80::/10), which names a
// client only together with its link.
[[nodiscard]] bool islinklocal(const neighbourquery &query) {
  return query.family == AF_INET6 && query.address[0] == 0xfe && (query.address[1] & 0xc0) == 0x80;
}

// Tells what the client text asks for. For an address, sets the query's family, address
// and the interface its zone names (0 for any), after setting aside "[...]" and "%zone"
// from an IPv6 one; an IPv4-mapped address stands for its IPv4 address. Text that is no
// address may still hold one IPv4 address, which then stands for the client.
[[nodiscard]] clientkind classify(std::string_view client, neighbourquery &query) {
  const std::string_view whole = client;
  if (client.size() >= 2 && client.front() == '[' && client.back() == ']') {
    client.remove_prefix(1);
    client.remove_suffix(1);
  }
  // A loop of our own: string_view's find would import memchr for this one search.
  size_t percent = 0;
  while (percent < client.size() && client[percent] != '%')
    ++percent;
  const bool haszone = percent < client.size();
  const std::string_view bare(client.data(), percent);
  char text[INET6_ADDRSTRLEN];
  in6_addr address;
  // A dotted quad is no IPv6 address: it is the one IPv4 address in its own text.
  if (!copytext(bare, text, sizeof text) || inet_pton(AF_INET6, text, &address) != 1)
    return findaddress(whole, query);
  if (IN6_IS_ADDR_V4MAPPED(&address)) {
    query.family = AF_INET;
    memcpy(query.address, address.s6_addr + 12, 4);
    return clientkind::ipv4;
  }
  query.family = AF_INET6;
  memcpy(query.address, &address, sizeof address);
  // A link-local address is on every link at once, and the route cannot tell which.
  query.everylink = !haszone && islinklocal(query);
  if (!haszone)
    return clientkind::ipv6;
  client.remove_prefix(percent + 1);
  query.zone = zoneindex(client);
  return query.zone == 0 ? clientkind::unknownzone : clientkind::ipv6;
}

// The length in bytes of an address of the query's family.
[[nodiscard]] size_t addresslength(const neighbourquery &query) {
  return query.family == AF_INET ? 4 : 16;
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

// Writes an IPv4 address in dotted-decimal form, as the ARP table lists it. The C
// library's inet_ntop would bring a whole printf with it into a static build.
void formatdotted(const unsigned char *bytes, char (&text)[INET_ADDRSTRLEN]) {
  char *out = text;
  for (size_t i = 0; i < 4; ++i) {
    // Digits by subtraction: MIPS16 divides in more code, with a check for zero.
    unsigned byte = bytes[i], hundreds = 0, tens = 0;
    for (; byte >= 100; byte -= 100)
      ++hundreds;
    for (; byte >= 10; byte -= 10)
      ++tens;
    if (hundreds > 0)
      *out++ = static_cast<char>('0' + hundreds);
    if (hundreds > 0 || tens > 0)
      *out++ = static_cast<char>('0' + tens);
    *out++ = static_cast<char>('0' + byte);
    *out++ = i < 3 ? '.' : '\0';
  }
}

// Calls visit(type, payload, length) for each attribute of a message body, from offset
// on; false when the attributes run past the body, which makes the message worthless.
template <typename Visit>
[[nodiscard]] bool eachattribute(const char *body, size_t length, size_t offset, Visit visit) {
  while (offset < length && length - offset >= sizeof(rtattr)) {
    rtattr attribute;
    memcpy(&attribute, body + offset, sizeof attribute);
    if (attribute.rta_len < RTA_LENGTH(0) || attribute.rta_len > length - offset)
      return false;
    visit(attribute.rta_type, body + offset + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0));
    offset += RTA_ALIGN(attribute.rta_len);
  }
  return true;
}

// Reads the route to the client: found when it leaves by an interface straight to the
// client, and sets the query's interface to it; none when a gateway stands between, since
// no neighbour entry then is the client's (any host on a link can plant one under its
// address), when the client is this host, which is no neighbour of its own, when the
// route leaves by another interface than the zone names, or when it has many paths, of
// which the route asked without a source names none; unknown for a route nowhere. The
// kernel's layout is read through copies, so that no field is read at an address it is
// not aligned for.
[[nodiscard]] answer matchroute(const char *body, size_t length, neighbourquery &query) {
  rtmsg route;
  if (length < NLMSG_ALIGN(sizeof route))
    return answer::unknown;
  memcpy(&route, body, sizeof route);
  unsigned interface = 0;
  bool gateway = false, multipath = false;
  const bool whole = eachattribute(body, length, NLMSG_ALIGN(sizeof route),
                                   [&](unsigned type, const char *payload, size_t size) {
                                     if (type == RTA_OIF && size == sizeof interface)
                                       memcpy(&interface, payload, sizeof interface);
                                     gateway |= type == RTA_GATEWAY || type == RTA_VIA;
                                     multipath |= type == RTA_MULTIPATH;
                                   });
  if (whole && (route.rtm_type == RTN_LOCAL || multipath))
    return answer::none;
  if (!whole || route.rtm_type != RTN_UNICAST || interface == 0)
    return answer::unknown;
  if (gateway || (query.zone != 0 && interface != query.zone))
    return answer::none;
  query.interface = interface;
  return answer::found;
}

// Reads a neighbour entry: found when it is the client's, on the query's interface (any
// when 0), with a link-layer address to give, which goes into the query's answer; none
// when the client's entry has no address to give; else unknown. For a client on every
// link, the first address is kept and the dump goes on: an entry on another link with no
// address, or with another, is none, for then no single client is named.
[[nodiscard]] answer matchneighbour(const char *body, size_t length, neighbourquery &query) {
  ndmsg entry;
  if (length < NLMSG_ALIGN(sizeof entry))
    return answer::unknown;
  memcpy(&entry, body, sizeof entry);
  if (entry.ndm_family != query.family ||
      (query.interface != 0 && entry.ndm_ifindex != static_cast<int>(query.interface)))
    return answer::unknown;
  bool isclient = false;
  const char *linkaddress = nullptr;
  size_t linkaddresslength = 0;
  // Incomplete and failed entries come without a link-layer address: they have none to give.
  const bool whole = eachattribute(body, length, NLMSG_ALIGN(sizeof entry),
                                   [&](unsigned type, const char *payload, size_t size) {
                                     if (type == NDA_DST)
                                       isclient = size == addresslength(query) &&
                                                  same(payload, query.address, size);
                                     if (type == NDA_LLADDR && size > 0 && size <= maxlinkaddress) {
                                       linkaddress = payload;
                                       linkaddresslength = size;
                                     }
                                   });
  if (!whole || !isclient)
    return answer::unknown;
  // On a link without ARP every neighbour carries this host's own device address.
  if (linkaddress == nullptr || entry.ndm_state == NUD_NOARP)
    return answer::none;
  char hwaddress[hwtextsize];
  formathwaddress(reinterpret_cast<const unsigned char *>(linkaddress), linkaddresslength,
                  hwaddress);
  // Only a client on every link can have an address already: the first one listed.
  if (query.hwaddress[0] != '\0' && !same(hwaddress, query.hwaddress, strlen(hwaddress) + 1))
    return answer::none;
  memcpy(query.hwaddress, hwaddress, sizeof hwaddress);
  return query.everylink ? answer::unknown : answer::found;
}

// Whether an error answers a neighbour get (always on a known interface) with "no such
// entry": the kernel's own table holds none, so neither do the tables it shows. Older
// kernels, and qemu-user, refuse the question instead (EOPNOTSUPP, EINVAL), and say
// nothing of the entry.
[[nodiscard]] bool isnoentry(const char *body, size_t length) {
  nlmsgerr error;
  if (length < sizeof error)
    return false;
  memcpy(&error, body, sizeof error);
  return error.error == -ENOENT && error.msg.nlmsg_type == RTM_GETNEIGH;
}

// Looks through one datagram of the kernel's answer to request number sequence for what
// settles the query: the route to the client, or the client's neighbour entry; more when
// it settles nothing and the answer goes on.
[[nodiscard]] answer scanmessages(const char *datagram, size_t length, unsigned sequence,
                                  neighbourquery &query) {
  size_t offset = 0;
  while (offset < length && length - offset >= sizeof(nlmsghdr)) {
    nlmsghdr header;
    memcpy(&header, datagram + offset, sizeof header);
    // A damaged datagram says nothing that can be trusted, and nothing more will follow.
    if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > length - offset)
      return answer::unknown;
    const char *body = datagram + offset + NLMSG_HDRLEN;
    const size_t bodylength = header.nlmsg_len - NLMSG_HDRLEN;
    offset += NLMSG_ALIGN(header.nlmsg_len);
    // A late answer to an earlier request, given up on, is no answer to this one.
    if (header.nlmsg_seq != sequence)
      continue;
    // The end of a dump settles a client on every link by the one address it listed.
    if (header.nlmsg_type == NLMSG_DONE)
      return query.hwaddress[0] != '\0' ? answer::found : answer::unknown;
    if (header.nlmsg_type == NLMSG_ERROR)
      return isnoentry(body, bodylength) ? answer::none : answer::unknown;
    const answer settled = header.nlmsg_type == RTM_NEWROUTE ? matchroute(body, bodylength, query)
                           : header.nlmsg_type == RTM_NEWNEIGH
                               ? matchneighbour(body, bodylength, query)
                               : answer::unknown;
    // A get is answered by this one message; only a dump goes on.
    if (settled != answer::unknown || (header.nlmsg_flags & NLM_F_MULTI) == 0)
      return settled;
  }
  return answer::more;
}

// Appends an attribute to the request that header starts, after what the header counts.
void addattribute(nlmsghdr &header, unsigned short type, const void *payload, size_t size) {
  char *end = reinterpret_cast<char *>(&header) + header.nlmsg_len;
  const rtattr attribute = {static_cast<unsigned short>(RTA_LENGTH(size)), type};
  memcpy(end, &attribute, sizeof attribute);
  memcpy(end + RTA_LENGTH(0), payload, size);
  header.nlmsg_len += RTA_SPACE(size);
}

// Asks the kernel one question about the client: the route to it (RTM_GETROUTE), from the
// server's address when it is known and by the interface a zone names when there is one,
// as the reply takes it; its neighbour entry on the query's interface (RTM_GETNEIGH); or,
// with NLM_F_DUMP, every IPv6 neighbour. Reads the answer until it settles the query or
// ends, and never waits for it, for a web server must never hang on us, whatever the
// kernel does: the kernel queues its answer to a request before sendto returns, and each
// next datagram of a dump as one is read, so an answer not there at once is none.
[[nodiscard]] answer ask(int sock, unsigned short type, unsigned short flags,
                         neighbourquery &query) {
  struct {
    nlmsghdr header;
    union {
      rtmsg route;
      ndmsg neighbour;
    };
    char attributes[2 * RTA_SPACE(16) + RTA_SPACE(sizeof query.zone)];
  } request = {};
  static_assert(sizeof(rtmsg) == sizeof(ndmsg), "both questions share one layout");
  static unsigned sequence;
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = static_cast<unsigned short>(NLM_F_REQUEST | flags);
  request.header.nlmsg_seq = ++sequence;
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.neighbour);
  if (type == RTM_GETROUTE) {
    request.route.rtm_family = query.family;
    request.route.rtm_dst_len = static_cast<unsigned char>(8 * addresslength(query));
    if (query.zone != 0)
      addattribute(request.header, RTA_OIF, &query.zone, sizeof query.zone);
    // The source picks one path of many as the reply's. Where the server names none, the
    // unspecified address stands for no source, and the kernel names the route itself, so
    // that many paths show as such (RTM_F_FIB_MATCH, which kernels before 4.13 pass over).
    request.route.rtm_src_len = request.route.rtm_dst_len;
    if (!query.hassource)
      request.route.rtm_flags = RTM_F_FIB_MATCH;
  } else {
    request.neighbour.ndm_family = query.family;
    request.neighbour.ndm_ifindex = static_cast<int>(query.interface);
  }
  // The client's address, and a route's source after it: RTA_DST of a route and NDA_DST
  // of a neighbour are one number.
  static_assert(static_cast<int>(RTA_DST) == static_cast<int>(NDA_DST) && RTA_SRC == RTA_DST + 1,
                "one destination attribute for both questions, the source next");
  const unsigned short last = type == RTM_GETROUTE ? RTA_SRC : RTA_DST;
  for (unsigned short attribute = RTA_DST; attribute <= last && (flags & NLM_F_DUMP) == 0;
       ++attribute)
    addattribute(request.header, attribute, attribute == RTA_DST ? query.address : query.source,
                 addresslength(query));
  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  if (sendto(sock, &request, request.header.nlmsg_len, 0,
             reinterpret_cast<const sockaddr *>(&kernel),
             sizeof kernel) != static_cast<ssize_t>(request.header.nlmsg_len))
    return answer::failed;
  char datagram[netlinkbuffersize];
  answer progress = answer::more;
  while (progress == answer::more) {
    sockaddr_nl sender = {};
    socklen_t senderlength = sizeof sender;
    // MSG_TRUNC makes a datagram too large for the buffer show as such, not as a short one.
    const ssize_t got = recvfrom(sock, datagram, sizeof datagram, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr *>(&sender), &senderlength);
    if (got <= 0 || got > static_cast<ssize_t>(sizeof datagram) || sender.nl_pid != 0)
      return answer::failed;
    progress = scanmessages(datagram, static_cast<size_t>(got), request.header.nlmsg_seq, query);
  }
  return progress;
}

// Finds the client's link-layer address in the kernel's neighbour table, into the query's
// answer, asking on sock. First the kernel's own lookup: the route the reply to the client
// takes, which names the interface, then the entry on it, which costs the same whatever
// the table's size and sees the entry as it is now. Then, for IPv6, the dump of every
// neighbour on that interface. Where the route cannot be learned, the tables could only
// guess between entries under the client's address, one of them perhaps planted: none.
// A link-local client without a zone is on whichever link lists it: the dump of every
// link names it, once the route has said that it is not this host.
[[nodiscard]] answer findneighbour(int sock, neighbourquery &query) {
  answer result = ask(sock, RTM_GETROUTE, 0, query);
  if (query.everylink) {
    // The route names some link, no more the client's than any other.
    query.interface = 0;
    if (result == answer::none || result == answer::failed)
      return answer::none;
    return ask(sock, RTM_GETNEIGH, NLM_F_DUMP, query);
  }
  // A zone alone names the link of a link-local address.
  if (result == answer::unknown && query.zone != 0 && islinklocal(query)) {
    query.interface = query.zone;
    result = answer::found;
  }
  if (result != answer::found)
    return answer::none;
  result = ask(sock, RTM_GETNEIGH, 0, query);
  if ((result == answer::unknown || result == answer::failed) && query.family == AF_INET6)
    result = ask(sock, RTM_GETNEIGH, NLM_F_DUMP, query);
  return result;
}

// Reads a field of hexadecimal digits, as /proc/net/route writes its numbers, into value,
// whose top digits a longer field pushes out; false for any other field. scanf's reader
// would bring a whole scanf into a static build.
[[nodiscard]] bool readhex(std::string_view field, unsigned &value) {
  value = 0;
  for (const char digit : field) {
    if (hexvalue(digit) > 15)
      return false;
    value = value << 4 | hexvalue(digit);
  }
  return !field.empty();
}

// Reads the route to an IPv4 client from an open copy of the kernel's main routing table
// as /proc shows it: the longest prefix that holds the client, and of equals the first
// listed, which the kernel lists by metric. found, with device set to the route's
// interface, when it leaves straight to the client; none when a gateway stands between,
// when no route holds the client, or when its interface's name is too long to be one. The
// table's numbers are in the kernel's byte order, and so is the client's address read as
// a number.
[[nodiscard]] answer findroute(FILE *table, const neighbourquery &query,
                               char (&device)[IF_NAMESIZE]) {
  unsigned client;
  memcpy(&client, query.address, sizeof client);
  bool routed = false, gateway = false;
  unsigned bestmask = 0;
  char line[linesize];
  bool cut = false;
  while (readline(table, line, cut)) {
    // Iface, then Destination, Gateway, Flags, RefCnt, Use, Metric and Mask: numbers in
    // hexadecimal, the counts among them in decimal, whose digits read as hexadecimal too.
    // The title line fails the numbers.
    const char *cursor = line;
    const std::string_view interface = nextfield(cursor);
    unsigned numbers[7];
    bool read = true;
    for (unsigned &number : numbers)
      read = read && readhex(nextfield(cursor), number);
    const unsigned destination = numbers[0], flags = numbers[2], mask = numbers[6];
    if (!read || (client & mask) != destination)
      continue;
    // A prefix is longer when its mask holds the other's: masks are contiguous.
    if (routed && (mask == bestmask || (mask & bestmask) != bestmask))
      continue;
    routed = true;
    bestmask = mask;
    gateway = (flags & RTF_GATEWAY) != 0;
    // A route that reaches no one (unreachable, prohibit, blackhole) has no interface:
    // "*", which no entry of the ARP table names.
    if (!copytext(interface, device, sizeof device))
      device[0] = '\0';
  }
  return routed && !gateway && device[0] != '\0' ? answer::found : answer::none;
}

// Reads the route to an IPv4 client from /proc, for where rtnetlink is denied, as
// findroute does; none when the table cannot be read, for then the route is unknown.
[[nodiscard]] answer readroute(const neighbourquery &query, char (&device)[IF_NAMESIZE]) {
  FILE *table = fopen(routetablepath, "r");
  if (table == nullptr)
    return answer::none;
  const answer route = findroute(table, query, device);
  fclose(table);
  return route;
}

// Reads the addresses that a CGI variable's text names into the query, as classify
// tells them; noaddress for no text, or text too long to be an address: no server writes
// one so, and a long text would only cost a scan of the whole table.
[[nodiscard]] clientkind readaddress(const char *variable, neighbourquery &query) {
  std::string_view text;
  if (variable == nullptr || strlen(variable) > maxclient || !trimclient(variable, text))
    return clientkind::noaddress;
  return classify(text, query);
}

// Takes the server's own address, which most servers name in SERVER_ADDR, as the query's
// source: the address the client reached, which the reply leaves from. Text that names no
// address of the client's family names no source: the route is then the one to the client
// from any address.
void takesource(clientkind kind, const neighbourquery &server, neighbourquery &query) {
  if (kind == clientkind::noaddress || server.family != query.family)
    return;
  memcpy(query.source, server.address, sizeof query.source);
  query.hassource = true;
}

// Replies the link-layer address of a client named by its address; an IPv4 client the
// kernel could not answer for is looked for in the ARP table, by its dotted form, on the
// route's interface.
void neighbourlookup(neighbourquery &query) {
  char device[IF_NAMESIZE] = "";
  const int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (sock >= 0) {
    const answer result = findneighbour(sock, query);
    close(sock);
    if (result == answer::found) {
      reply(query.hwaddress);
      return;
    }
    // Only a route's interface is left unanswered: none names no interface.
    if (result == answer::none || query.family != AF_INET ||
        if_indextoname(query.interface, device) == nullptr) {
      reply(zeroaddress);
      return;
    }
  } else if (query.family != AF_INET || readroute(query, device) != answer::found) {
    // A hardened server may deny netlink (seccomp, RestrictAddressFamilies): the route
    // then comes from /proc. IPv6 has no neighbour table there.
    reply(zeroaddress);
    return;
  }
  char dotted[INET_ADDRSTRLEN];
  formatdotted(query.address, dotted);
  arplookup(dotted, device);
}

// Whether the program was called by a CGI name: one that ends in ".cgi", as a link in a
// server's cgi-bin is named. A wrapper runs the program by its own name, which never
// does, so the wrapper's header is never written twice. With no name at all, there is no
// server to speak to.
[[nodiscard]] bool iscginame(const char *name) {
  constexpr char suffix[] = ".cgi";
  if (name == nullptr)
    return false;
  const size_t length = strlen(name);
  if (length < sizeof(uint32_t))
    return false;
  // Four bytes compared as one number: calls and loops take more code.
  uint32_t last, want;
  memcpy(&last, name + length - sizeof last, sizeof last);
  memcpy(&want, suffix, sizeof want);
  return last == want;
}

} // namespace

#ifndef CLIENTMAC_NO_MAIN
int main(int, char **argv) {
  // A client that hung up closes the pipe: the write fails quietly, the status stays.
  signal(SIGPIPE, SIG_IGN);
  // argv[0] is null when the program is started with no arguments at all (argc 0).
  if (iscginame(argv[0]))
    headerlength = cgiheader.size();
  const char *client = getenv("REMOTE_ADDR");
  // The client's address, then, when it is one, the server's: one call reads both, which
  // takes less code on MIPS than two.
  const char *const variables[] = {client, getenv("SERVER_ADDR")};
  neighbourquery queries[2] = {};
  clientkind kinds[2] = {clientkind::noaddress, clientkind::noaddress};
  bool isaddress = true;
  for (size_t i = 0; i < 2 && isaddress; ++i) {
    kinds[i] = readaddress(variables[i], queries[i]);
    isaddress = kinds[0] == clientkind::ipv4 || kinds[0] == clientkind::ipv6;
  }
  if (isaddress) {
    takesource(kinds[1], queries[1], queries[0]);
    neighbourlookup(queries[0]);
    return 0;
  }
  reply(zeroaddress);
  return client == nullptr ? noclientstatus : 0;
}
#endif
