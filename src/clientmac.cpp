// clientmac: write the hardware address of the CGI client named in REMOTE_ADDR.
//
// A web server runs this once per request, so it asks the kernel about one client, in
// fixed buffers, and always answers with exactly one address: the client's, or the zero
// address when there is none to give. A portal grants access by that address, so every
// doubt ends in the zero address, never in another machine's.
//
// The reply to the client vouches for every answer: the kernel is asked, through
// rtnetlink, for the route the reply takes, as the reply asks for it, and then for the
// client's entry on the interface that route leaves by. The reply's route is chosen by the
// server socket's whole flow: its source address and port, the client's port, the
// protocol, the device the socket is bound to (a VRF), its mark and its owner. The policy
// rules say which of those matter here; what the server's CGI variables leave out of what
// matters is learned from the connection itself, through socket diagnostics; what cannot
// be learned is a doubt. Where the kernel's neighbour get cannot answer, the kernel's
// tables are read on the same interface: the ARP table under /proc for IPv4 clients, the
// neighbour dump for IPv6 ones. Where rtnetlink is denied, an IPv4 client's route is read
// from /proc too. A link-local client without a zone is on whichever link lists it: every
// link that does must agree.

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <linux/fib_rules.h>
#include <linux/inet_diag.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <net/route.h>
#include <netinet/in.h>
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

// The longest variable worth a look: no server writes an address so long.
constexpr size_t maxvariable = 255;

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

// The connections whose reply is still to be sent: the client may have closed its side.
constexpr unsigned openstates = 1u << 1 | 1u << 8; // TCP_ESTABLISHED, TCP_CLOSE_WAIT

// What a variable's text names.
enum class addresskind {
  ipv4,        // a dotted quad, an IPv6 address that maps one, or text that holds one
  ipv6,        // an IPv6 address, on any interface or on the one its zone names
  unknownzone, // an IPv6 address on an interface that does not exist
  noaddress,   // text that holds no single address: none, or a list
};

// The masks of a rule's port ranges (Linux 6.15), part of its port selector; the
// attributes before them in number and after FRA_DPORT_RANGE select on the DSCP and the
// flow label, which this program never learns.
constexpr unsigned short rulesportmask = 28;
constexpr unsigned short ruledportmask = 29;

// What a policy rule can select the reply's route by, beyond its destination, as bits:
// what the rules of this host select on must be known of the reply before its route is.
enum need : unsigned {
  needsource = 1,  // the source address (from)
  needflow = 2,    // the protocol and ports (ipproto, sport, dport)
  needowner = 4,   // the socket's owner (uidrange)
  needmark = 8,    // the socket's mark (fwmark), which this program does not read
  needdomain = 16, // the device the socket is bound to: its VRF (l3mdev, oif)
  needunknown = 32 // what this program never learns (tos, and selectors newer than it)
};

// One lookup: what is known of the reply to the client, the flow its route is chosen by,
// and what the kernel has answered of it. Addresses are in network byte order, 4 or 16
// bytes by family; ports in host order, 0 where unknown; interfaces are indexes.
struct neighbourquery {
  unsigned char family;       // AF_INET or AF_INET6
  unsigned char client[16];   // the reply's destination
  unsigned char server[16];   // the reply's source, once known
  bool knowsserver;           // whether server holds it
  unsigned short clientport;  // the reply's destination port
  unsigned short serverport;  // the reply's source port
  bool searched;              // whether the connection was looked for
  unsigned connections;       // how many open connections fit the flow, once asked
  inet_diag_msg found;        // the last of them: the server's connection when only one fits
  unsigned boundindex;        // the device the connection's socket is bound to: its domain
  unsigned owner;             // the uid of the connection's socket
  unsigned needs;             // what the rules select on (need), once asked
  unsigned zoneindex;         // the interface the client's zone names; 0 for none
  unsigned linkindex;         // the interface to look on, once the route names it
  bool everylink;             // a link-local client without a zone: every link must agree
  bool multipath;             // the route has many paths, of which the flow picks one
  char hwaddress[hwtextsize]; // the client's link-layer address, once found
};

// What a step of the lookup learned: of the rules, of the connection, of the route, of
// the client's entry, or of one datagram of the kernel's answer. Only "unknown" and
// "failed" let a later step try: "found" and "none" settle the lookup.
enum class answer {
  found,   // the query holds what was asked: the rules, the connection, the route's
           // interface, or the address
  none,    // there is none to give, and no later step may look on: the kernel's word (a
           // gateway, this host, no such entry), or a doubt about the reply's route
  unknown, // the kernel answered without a say: no route, no entry, an error
  failed,  // the question could not be put, or its answer not read
  more,    // one datagram settled nothing, and the answer goes on
};

// What separates the table's fields: what isspace() takes in the C locale.
constexpr char fieldspaces[] = " \t\n\v\f\r";

// Whether c can continue an address, so that a match beside it is only a piece of one.
[[nodiscard]] constexpr bool isaddresschar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.';
}

// A port in network byte order as a number, and a number as a port in network byte
// order: either way its bytes, most significant first, read as a number.
[[nodiscard]] unsigned short swapport(unsigned short port) {
  unsigned char bytes[2];
  memcpy(bytes, &port, sizeof bytes);
  return static_cast<unsigned short>(bytes[0] << 8 | bytes[1]);
}

// Whether two texts are the same. string_view's == is a template that a PIE build would
// export as a dynamic symbol.
[[nodiscard]] bool sametext(std::string_view a, std::string_view b) {
  return a.size() == b.size() && memcmp(a.data(), b.data(), a.size()) == 0;
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
// lists addresses, on device; returns its hardware address, which lives in line, or an
// empty view when the table lists no entry for the client. The rest of a line is scanned
// only when its address is the client's: most lines are not.
[[nodiscard]] std::string_view findclient(FILE *table, std::string_view dotted,
                                          std::string_view device, char (&line)[linesize]) {
  bool cut = false;
  while (readline(table, line, cut)) {
    const char *cursor = line;
    const std::string_view address = nextfield(cursor);
    if (!sametext(address, dotted))
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
// address. A failed write has no one to tell, so it changes nothing.
void reply(std::string_view text) {
  const iovec parts[] = {{const_cast<char *>(cgiheader.data()), headerlength},
                         {const_cast<char *>(text.data()), text.size()}};
  [[maybe_unused]] const ssize_t written = writev(STDOUT_FILENO, parts, 2);
}

// Replies the hardware address that the kernel's ARP table lists for the client, named by
// its dotted form, on device: the interface the route to the client leaves by.
void arplookup(std::string_view dotted, std::string_view device) {
  FILE *table = fopen(arptablepath, "r");
  if (table == nullptr) {
    reply(zeroaddress);
    return;
  }
  char streambuffer[tablebuffersize];
  setvbuf(table, streambuffer, _IOFBF, sizeof streambuffer);
  char line[linesize];
  const std::string_view hwaddress = findclient(table, dotted, device, line);
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

// Reads text of at most digits decimal digits as a number; 0 for any other text.
[[nodiscard]] unsigned parsenumber(std::string_view text, size_t digits) {
  if (text.size() > digits)
    return 0;
  unsigned number = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9')
      return 0;
    number = number * 10 + static_cast<unsigned>(digit - '0');
  }
  return number;
}

// Returns the interface a zone names: an interface of that name, or else one of that
// number, as the C library's resolver reads zones; 0 when there is none.
[[nodiscard]] unsigned zoneindex(std::string_view zone) {
  char name[IF_NAMESIZE];
  if (zone.empty() || !copytext(zone, name, sizeof name))
    return 0;
  const unsigned index = if_nametoindex(name);
  return index != 0 ? index : parsenumber(zone, 9);
}

// Sets text to a variable's text without the whitespace around it, which some servers and
// scripts leave; false when what is left is a list ("a b", or a forwarded-for "a, b"),
// which names no single address.
[[nodiscard]] bool trimclient(const char *variable, std::string_view &text) {
  variable += strspn(variable, fieldspaces);
  const size_t length = strcspn(variable, " \t\n\v\f\r,");
  text = {variable, length};
  variable += length;
  return variable[strspn(variable, fieldspaces)] == '\0';
}

// Whether the dotted quad at start follows the group of an IPv4-mapped address, "ffff:"
// in either case.
[[nodiscard]] bool ismappedprefix(std::string_view text, size_t start) {
  unsigned fs = 0;
  for (size_t at = start >= 5 ? start - 5 : start; at + 1 < start; ++at)
    fs += (text[at] | 0x20) == 'f';
  return fs == 4;
}

// Reads the one IPv4 address that stands in text as a whole address, with no digit,
// letter or dot beside it ("[192.0.2.1]:80", "192.0.2.1%lan0"), into address;
// noaddress when text holds none, or more than one ("192.0.2.1;192.0.2.2"), which names no
// single client. A dotted quad after a colon ends an IPv6 address ("2001:db8::"): it is a
// piece of that address, never one of its own, unless the address maps it ("::ffff:").
[[nodiscard]] addresskind findaddress(std::string_view text, unsigned char (&address)[16]) {
  unsigned found = 0;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && isaddresschar(text[at]))
      continue;
    // A word of address characters ends here: it may be a dotted quad.
    char word[INET_ADDRSTRLEN];
    unsigned char quad[4];
    // After a colon, only an IPv4-mapped address's prefix ("::ffff:") lets it stand.
    const bool aftercolon = start > 0 && text[start - 1] == ':' && !ismappedprefix(text, start);
    if (copytext({text.data() + start, at - start}, word, sizeof word) &&
        inet_pton(AF_INET, word, quad) == 1) {
      memcpy(address, quad, sizeof quad);
      found += aftercolon ? 2 : 1;
    }
    start = at + 1;
  }
  return found == 1 ? addresskind::ipv4 : addresskind::noaddress;
}

// Whether an address of the query's family is an IPv6 link-local one (fe80::/10), which
// names a host only together with its link.
[[nodiscard]] bool islinklocal(unsigned char family, const unsigned char *address) {
  return family == AF_INET6 && address[0] == 0xfe && (address[1] & 0xc0) == 0x80;
}

// The length in bytes of an address of the query's family.
[[nodiscard]] size_t addresslength(const neighbourquery &query) {
  return query.family == AF_INET ? 4 : 16;
}

// The place of the first c in text; text's size when there is none. string_view's own
// find and substr are templates whose range checks throw, which would bring libstdc++ in.
[[nodiscard]] size_t findchar(std::string_view text, char c) {
  size_t at = 0;
  while (at < text.size() && text[at] != c)
    ++at;
  return at;
}

// Tells what a variable's text names. For an address, sets address (4 bytes for ipv4, 16
// for ipv6) and zone to the interface its zone names (0 for none), after setting aside
// "[...]" and "%zone" from an IPv6 one; an IPv4-mapped address stands for its IPv4
// address. Text that is no address may still hold one IPv4 address, which then is the
// address it names.
[[nodiscard]] addresskind parseaddress(std::string_view text, unsigned char (&address)[16],
                                       unsigned &zone) {
  zone = 0;
  const std::string_view whole = text;
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
    text = {text.data() + 1, text.size() - 2};
  const size_t percent = findchar(text, '%');
  const std::string_view bare(text.data(), percent);
  char written[INET6_ADDRSTRLEN];
  in6_addr parsed;
  // A dotted quad is no IPv6 address: it is the one IPv4 address in its own text.
  if (!copytext(bare, written, sizeof written) || inet_pton(AF_INET6, written, &parsed) != 1)
    return findaddress(whole, address);
  if (IN6_IS_ADDR_V4MAPPED(&parsed)) {
    memcpy(address, parsed.s6_addr + 12, 4);
    return addresskind::ipv4;
  }
  memcpy(address, &parsed, sizeof parsed);
  if (percent == text.size())
    return addresskind::ipv6;
  zone = zoneindex({text.data() + percent + 1, text.size() - percent - 1});
  return zone == 0 ? addresskind::unknownzone : addresskind::ipv6;
}

// Reads the address that a CGI variable's text names, as parseaddress tells it; noaddress
// for no text, a list, or text too long to be an address: no server writes one so, and a
// long text would only cost a scan of the whole table.
[[nodiscard]] addresskind readaddress(const char *variable, unsigned char (&address)[16],
                                      unsigned &zone) {
  std::string_view text;
  if (variable == nullptr || strlen(variable) > maxvariable || !trimclient(variable, text))
    return addresskind::noaddress;
  return parseaddress(text, address, zone);
}

// Reads the client that REMOTE_ADDR's text names into the query's family, client, zone
// and whether it is on every link, as readaddress tells it.
[[nodiscard]] addresskind readclient(const char *variable, neighbourquery &query) {
  const addresskind kind = readaddress(variable, query.client, query.zoneindex);
  query.family = kind == addresskind::ipv4 ? AF_INET : AF_INET6;
  // A link-local address without a zone is on every link at once, and the route cannot
  // tell which.
  query.everylink =
      kind == addresskind::ipv6 && query.zoneindex == 0 && islinklocal(query.family, query.client);
  return kind;
}

// Reads a port from a CGI variable's text: 1 to 65535 in decimal; 0 for anything else,
// which names no port.
[[nodiscard]] unsigned short parseport(const char *variable) {
  const unsigned port = variable != nullptr ? parsenumber(variable, 5) : 0;
  return port <= 65535 ? static_cast<unsigned short>(port) : 0;
}

// Whether an address names no host the reply could leave from: the unspecified address,
// or a loopback one, which a server behind a local proxy names (its reply goes back
// through the proxy, not to the client).
[[nodiscard]] bool isnosource(unsigned char family, const unsigned char *address) {
  if (family == AF_INET)
    return address[0] == 0 || address[0] == 127;
  // :: and ::1: fifteen zero bytes, then 0 or 1.
  unsigned char high = 0;
  for (size_t i = 0; i < 15; ++i)
    high |= address[i];
  return high == 0 && address[15] <= 1;
}

// Reads the server's own address from SERVER_ADDR's text into address, which holds an
// address of family, and the interface its zone names into zone (0 for none); false when
// the text names no address of family, a zone of no interface, or an address no reply
// leaves from.
[[nodiscard]] bool readserver(const char *variable, unsigned char family,
                              unsigned char (&address)[16], unsigned &zone) {
  const addresskind wanted = family == AF_INET ? addresskind::ipv4 : addresskind::ipv6;
  return readaddress(variable, address, zone) == wanted && !isnosource(family, address);
}

// Takes the server's own address, which most servers name in SERVER_ADDR, as the reply's
// source: the address the client reached. Where readserver reads none, the source stays
// unknown, for the connection to tell. A zone on the server's address names the link of a
// link-local client without one.
void takeserver(const char *variable, neighbourquery &query) {
  unsigned zone;
  if (!readserver(variable, query.family, query.server, zone))
    return;
  query.knowsserver = true;
  if (query.everylink && zone != 0) {
    query.zoneindex = zone;
    query.everylink = false;
  }
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
    // The hundreds and tens counted off, no division needed.
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

// Reads a policy rule of the query's family into the query's needs: what it selects the
// route by, beyond the destination. A rule that selects on what this program does not know
// of (tos, and any selector newer than it) can never be matched as the reply is. Always
// unknown: the dump goes on to its end.
[[nodiscard]] answer matchrule(const char *body, size_t length, neighbourquery &query) {
  fib_rule_hdr rule;
  if (length < NLMSG_ALIGN(sizeof rule)) {
    query.needs |= needunknown;
    return answer::unknown;
  }
  memcpy(&rule, body, sizeof rule);
  if (rule.family != query.family)
    return answer::unknown;
  unsigned needs = rule.src_len != 0 ? static_cast<unsigned>(needsource) : 0u;
  if (rule.tos != 0)
    needs |= needunknown;
  const bool whole = eachattribute(
      body, length, NLMSG_ALIGN(sizeof rule), [&](unsigned type, const char *, size_t) {
        if (type == FRA_FWMARK || type == FRA_FWMASK)
          needs |= needmark;
        else if (type == FRA_UID_RANGE)
          needs |= needowner;
        else if (type == FRA_IP_PROTO || type == FRA_SPORT_RANGE || type == FRA_DPORT_RANGE ||
                 type == rulesportmask || type == ruledportmask)
          needs |= needflow;
        else if (type == FRA_L3MDEV || type == FRA_OIFNAME)
          needs |= needdomain;
        else if (type > FRA_DPORT_RANGE)
          needs |= needunknown;
      });
  query.needs |= whole ? needs : needunknown;
  return answer::unknown;
}

// Whether an address from the kernel's socket diagnostics, of family, is the query's
// address: an IPv4 one stands in an IPv6 socket as its mapped form.
[[nodiscard]] bool isqueryaddress(unsigned char family, const __be32 *socketaddress,
                                  const unsigned char *address, const neighbourquery &query) {
  unsigned char bytes[16];
  memcpy(bytes, socketaddress, sizeof bytes);
  if (family == query.family)
    return memcmp(bytes, address, addresslength(query)) == 0;
  static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return family == AF_INET6 && query.family == AF_INET && memcmp(bytes, mapped, 12) == 0 &&
         memcmp(bytes + 12, address, 4) == 0;
}

// Reads one open TCP connection from the kernel's socket diagnostics: when it is the
// server's connection with the client, as far as the query knows the ports, counts it and
// keeps what the kernel says of it. Always unknown: the dump goes on to its end, so that
// two connections that fit show as such.
[[nodiscard]] answer matchsocket(const char *body, size_t length, neighbourquery &query) {
  inet_diag_msg socket;
  if (length < NLMSG_ALIGN(sizeof socket))
    return answer::unknown;
  memcpy(&socket, body, sizeof socket);
  // The kernel lists only the open states asked for.
  if (!isqueryaddress(socket.idiag_family, socket.id.idiag_dst, query.client, query) ||
      (query.clientport != 0 && swapport(socket.id.idiag_dport) != query.clientport) ||
      (query.serverport != 0 && swapport(socket.id.idiag_sport) != query.serverport))
    return answer::unknown;
  ++query.connections;
  query.found = socket;
  return answer::unknown;
}

// Reads the route to the client: found when it leaves by an interface straight to the
// client, and sets the query's link to it; none when a gateway stands between, since no
// neighbour entry then is the client's (any host on a link can plant one under its
// address), when the client is this host, which is no neighbour of its own, or when the
// route leaves by another interface than the zone names; unknown for a route nowhere. A
// route of many paths is found, and marked as such: the flow picks its path. The kernel's
// layout is read through copies, so that no field is read at an address it is not aligned
// for.
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
  if (!whole)
    return answer::unknown;
  if (route.rtm_type == RTN_LOCAL)
    return answer::none;
  if (route.rtm_type == RTN_UNICAST && multipath) {
    query.multipath = true;
    return answer::found;
  }
  if (route.rtm_type != RTN_UNICAST || interface == 0)
    return answer::unknown;
  if (gateway || (query.zoneindex != 0 && interface != query.zoneindex))
    return answer::none;
  query.linkindex = interface;
  return answer::found;
}

// Reads a neighbour entry: found when it is the client's, on the query's link (any when
// 0), with a link-layer address to give, which goes into the query's answer; none when the
// client's entry has no address to give; else unknown. For a client on every link, the
// first address is kept and the dump goes on: an entry on another link with no address,
// or with another, is none, for then no single client is named.
[[nodiscard]] answer matchneighbour(const char *body, size_t length, neighbourquery &query) {
  ndmsg entry;
  if (length < NLMSG_ALIGN(sizeof entry))
    return answer::unknown;
  memcpy(&entry, body, sizeof entry);
  if (entry.ndm_family != query.family ||
      (query.linkindex != 0 && entry.ndm_ifindex != static_cast<int>(query.linkindex)))
    return answer::unknown;
  bool isclient = false;
  const char *linkaddress = nullptr;
  size_t linkaddresslength = 0;
  // Incomplete and failed entries come without a link-layer address: they have none to give.
  const bool whole = eachattribute(body, length, NLMSG_ALIGN(sizeof entry),
                                   [&](unsigned type, const char *payload, size_t size) {
                                     if (type == NDA_DST)
                                       isclient = size == addresslength(query) &&
                                                  memcmp(payload, query.client, size) == 0;
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
  if (query.hwaddress[0] != '\0' && memcmp(hwaddress, query.hwaddress, strlen(hwaddress) + 1) != 0)
    return answer::none;
  memcpy(query.hwaddress, hwaddress, sizeof hwaddress);
  return query.everylink ? answer::unknown : answer::found;
}

// Reads an error that answers a question of type asked. A neighbour get (always on a
// known interface) answered "no such entry" is the kernel's word: its own table holds
// none, so neither do the tables it shows. Older kernels, and qemu-user, refuse that
// question instead (EOPNOTSUPP, EINVAL), and say nothing of the entry. A rule dump refused
// as not supported is a kernel without policy routing: no rule selects on anything.
[[nodiscard]] answer matcherror(const char *body, size_t length, unsigned short asked) {
  nlmsgerr error;
  if (length < sizeof error)
    return answer::unknown;
  memcpy(&error, body, sizeof error);
  if (asked == RTM_GETNEIGH && error.error == -ENOENT && error.msg.nlmsg_type == RTM_GETNEIGH)
    return answer::none;
  if (asked == RTM_GETRULE && error.error == -EOPNOTSUPP && error.msg.nlmsg_type == RTM_GETRULE)
    return answer::found;
  return answer::unknown;
}

// What the end of a dump of type asked settles: the rules are all read; a client on every
// link is named by the one address it listed; the connection is the one that fit, and
// none fit or two did is no connection to go by.
[[nodiscard]] answer matchdone(unsigned short asked, const neighbourquery &query) {
  if (asked == RTM_GETRULE)
    return answer::found;
  if (asked == TCPDIAG_GETSOCK)
    return query.connections == 1 ? answer::found : answer::unknown;
  return query.hwaddress[0] != '\0' ? answer::found : answer::unknown;
}

// Looks through one datagram of the kernel's answer to request number sequence, a
// question of type asked, for what settles the query; more when it settles nothing and
// the answer goes on.
[[nodiscard]] answer scanmessages(const char *datagram, size_t length, unsigned sequence,
                                  unsigned short asked, neighbourquery &query) {
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
    if (header.nlmsg_type == NLMSG_DONE)
      return matchdone(asked, query);
    if (header.nlmsg_type == NLMSG_ERROR)
      return matcherror(body, bodylength, asked);
    answer settled = answer::unknown;
    if (asked == RTM_GETROUTE && header.nlmsg_type == RTM_NEWROUTE)
      settled = matchroute(body, bodylength, query);
    else if (asked == RTM_GETNEIGH && header.nlmsg_type == RTM_NEWNEIGH)
      settled = matchneighbour(body, bodylength, query);
    else if (asked == RTM_GETRULE && header.nlmsg_type == RTM_NEWRULE)
      settled = matchrule(body, bodylength, query);
    else if (asked == TCPDIAG_GETSOCK && header.nlmsg_type == TCPDIAG_GETSOCK)
      settled = matchsocket(body, bodylength, query);
    // A get is answered by this one message; only a dump goes on.
    if (settled != answer::unknown || (header.nlmsg_flags & NLM_F_MULTI) == 0)
      return settled;
  }
  return answer::more;
}

// A question to the kernel, built in place: its header, its fixed body and attributes.
struct question {
  alignas(nlmsghdr) char bytes[256];
};

// Starts a question of type with flags and a fixed body of size bytes, numbered anew.
[[nodiscard]] nlmsghdr &startquestion(question &q, unsigned short type, unsigned short flags,
                                      const void *body, size_t size) {
  static unsigned sequence;
  nlmsghdr header = {};
  header.nlmsg_len = static_cast<unsigned>(NLMSG_LENGTH(size));
  header.nlmsg_type = type;
  header.nlmsg_flags = static_cast<unsigned short>(NLM_F_REQUEST | flags);
  header.nlmsg_seq = ++sequence;
  memcpy(q.bytes, &header, sizeof header);
  memcpy(q.bytes + NLMSG_HDRLEN, body, size);
  return *reinterpret_cast<nlmsghdr *>(q.bytes);
}

// Appends an attribute to a question, after what its header counts.
void addattribute(nlmsghdr &header, unsigned short type, const void *payload, size_t size) {
  char *end = reinterpret_cast<char *>(&header) + header.nlmsg_len;
  const rtattr attribute = {static_cast<unsigned short>(RTA_LENGTH(size)), type};
  memcpy(end, &attribute, sizeof attribute);
  memcpy(end + RTA_LENGTH(0), payload, size);
  header.nlmsg_len += RTA_SPACE(size);
}

// Puts a question to the kernel on sock; false when it could not be put whole.
[[nodiscard]] bool putquestion(int sock, const nlmsghdr &header) {
  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  return sendto(sock, &header, header.nlmsg_len, 0, reinterpret_cast<const sockaddr *>(&kernel),
                sizeof kernel) == static_cast<ssize_t>(header.nlmsg_len);
}

// Reads the answer to question sequence, of type asked, until it settles the query or ends.
// Never waits, for a web server must never hang on us, whatever the kernel does: the
// kernel queues its answer to a request before sendto returns, and each next datagram of
// a dump as one is read, so an answer not there at once is none.
[[nodiscard]] answer readanswer(int sock, unsigned sequence, unsigned short asked,
                                neighbourquery &query) {
  char datagram[netlinkbuffersize];
  answer progress = answer::more;
  while (progress == answer::more) {
    sockaddr_nl sender = {};
    socklen_t senderlength = sizeof sender;
    // MSG_TRUNC makes a datagram too large for the buffer show as such, not as a short one.
    const ssize_t got = recvfrom(sock, datagram, sizeof datagram, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr *>(&sender), &senderlength);
    // Only the kernel (port 0) answers: any process may send to a netlink socket.
    if (got <= 0 || got > static_cast<ssize_t>(sizeof datagram) || sender.nl_pid != 0)
      return answer::failed;
    progress = scanmessages(datagram, static_cast<size_t>(got), sequence, asked, query);
  }
  return progress;
}

// Puts a question to the kernel on sock and reads its answer into the query.
[[nodiscard]] answer ask(int sock, const nlmsghdr &header, neighbourquery &query) {
  if (!putquestion(sock, header))
    return answer::failed;
  return readanswer(sock, header.nlmsg_seq, header.nlmsg_type, query);
}

// Asks for every policy rule of the client's family, into the query's needs.
[[nodiscard]] answer askrules(int sock, neighbourquery &query) {
  fib_rule_hdr rule = {};
  rule.family = query.family;
  question q;
  return ask(sock, startquestion(q, RTM_GETRULE, NLM_F_DUMP, &rule, sizeof rule), query);
}

// Asks for the route to the client as the reply asks for it, with every field of its flow
// that the query knows: the source, the protocol and ports, the socket's owner,
// and the device its socket is bound to (the routing domain), or else the interface the
// client's zone names. Of a route of many paths, the route itself (RTM_F_FIB_MATCH, which
// kernels before 4.13 pass over and answer as the path) or the path the flow takes.
[[nodiscard]] answer askroute(int sock, bool whole, neighbourquery &query) {
  rtmsg route = {};
  route.rtm_family = query.family;
  route.rtm_dst_len = static_cast<unsigned char>(8 * addresslength(query));
  route.rtm_flags = whole ? RTM_F_FIB_MATCH : 0;
  if (query.knowsserver)
    route.rtm_src_len = route.rtm_dst_len;
  question q;
  nlmsghdr &header = startquestion(q, RTM_GETROUTE, 0, &route, sizeof route);
  addattribute(header, RTA_DST, query.client, addresslength(query));
  if (query.knowsserver)
    addattribute(header, RTA_SRC, query.server, addresslength(query));
  const unsigned domain = query.boundindex != 0 ? query.boundindex : query.zoneindex;
  if (domain != 0)
    addattribute(header, RTA_OIF, &domain, sizeof domain);
  // The protocol and ports: Linux 4.17 and later; the owner: 4.10. Older kernels pass
  // over them, and have no rule that selects on them.
  if (query.clientport != 0 && query.serverport != 0) {
    const unsigned char protocol = IPPROTO_TCP;
    const unsigned short serverport = swapport(query.serverport),
                         clientport = swapport(query.clientport);
    addattribute(header, RTA_IP_PROTO, &protocol, sizeof protocol);
    addattribute(header, RTA_SPORT, &serverport, sizeof serverport);
    addattribute(header, RTA_DPORT, &clientport, sizeof clientport);
  }
  if (query.connections == 1)
    addattribute(header, RTA_UID, &query.owner, sizeof query.owner);
  return ask(sock, header, query);
}

// Asks for the client's neighbour entry on the query's link, or, as a dump, for every
// neighbour of the client's family.
[[nodiscard]] answer askneighbour(int sock, bool dump, neighbourquery &query) {
  ndmsg entry = {};
  entry.ndm_family = query.family;
  entry.ndm_ifindex = static_cast<int>(query.linkindex);
  question q;
  nlmsghdr &header = startquestion(q, RTM_GETNEIGH, dump ? NLM_F_DUMP : 0, &entry, sizeof entry);
  if (!dump)
    addattribute(header, NDA_DST, query.client, addresslength(query));
  return ask(sock, header, query);
}

// Asks the kernel's socket diagnostics for the open TCP connections of the client's
// address, and port where known, in sockets of both families at once: the older form of
// the question (TCPDIAG_GETSOCK) dumps both, and an IPv4 client stands in an IPv6 socket
// by its mapped address, which the kernel's address test takes as the client's. The
// kernel filters them itself, so that a busy host's other connections cost nothing here;
// matchsocket holds each to the rest of what the query knows of the flow.
[[nodiscard]] answer askconnections(int sock, neighbourquery &query) {
  inet_diag_req request = {};
  request.idiag_states = openstates;
  question q;
  nlmsghdr &header = startquestion(q, TCPDIAG_GETSOCK, NLM_F_DUMP, &request, sizeof request);
  // One test: the client's end is at this address and port. A socket that fails it jumps
  // past the filter's end, which rejects it. The layout is the kernel's inet_diag_bc_op
  // and inet_diag_hostcond, the address after them.
  struct {
    inet_diag_bc_op test;
    unsigned char family, prefixlength;
    int port;
    unsigned char address[16];
  } filter = {};
  static_assert(sizeof filter == sizeof(inet_diag_bc_op) + sizeof(inet_diag_hostcond) + 16,
                "the kernel's layout");
  const size_t size = sizeof filter - sizeof filter.address + addresslength(query);
  filter.test = {INET_DIAG_BC_D_COND, static_cast<unsigned char>(size),
                 static_cast<unsigned short>(size + 4)};
  filter.family = query.family;
  filter.prefixlength = static_cast<unsigned char>(8 * addresslength(query));
  filter.port = query.clientport != 0 ? query.clientport : -1;
  memcpy(filter.address, query.client, addresslength(query));
  addattribute(header, INET_DIAG_REQ_BYTECODE, &filter, size);
  return ask(sock, header, query);
}

// Finds the server's connection with the client, whose socket the reply leaves by,
// through the kernel's socket diagnostics, which need no privilege: by the client's address
// and port, or, where the server names no client port, by its address and the server's
// port, or its address alone, which a client holding two connections leaves in doubt. An
// IPv4 client may be on an IPv6 socket, by its mapped address. When exactly one connection
// fits, the query holds what the kernel says of it.
void findconnection(neighbourquery &query) {
  // A kernel without socket diagnostics has none to show: none is found.
  query.searched = true;
  query.connections = 0;
  const int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (sock < 0)
    return;
  const answer result = askconnections(sock, query);
  close(sock);
  if (result != answer::found)
    return;
  // The connection's own address, which an IPv4 client's on an IPv6 socket maps.
  const inet_diag_msg &socket = query.found;
  unsigned char local[16];
  memcpy(local, socket.id.idiag_src, sizeof local);
  const unsigned char *server = socket.idiag_family == query.family ? local : local + 12;
  // The kernel's word on the connection stands over the variables'.
  memcpy(query.server, server, addresslength(query));
  query.knowsserver = true;
  query.serverport = swapport(socket.id.idiag_sport);
  query.clientport = swapport(socket.id.idiag_dport);
  query.boundindex = socket.id.idiag_if;
  query.owner = socket.idiag_uid;
}

// What the rules select on that the query does not know: the source is known from the
// connection, or, where none was found, from the server's IPv4 address, which the kernel
// refuses as a source unless this host holds it; the flow, the owner and the domain only
// from the connection; the mark never: reading a socket's mark takes CAP_NET_ADMIN, and
// the firmware's budget has no room for it.
[[nodiscard]] unsigned unknownneeds(const neighbourquery &query) {
  unsigned known = query.connections == 1 ? needsource | needflow | needowner | needdomain : 0;
  // The connection vouches for the source: an address of this host that the server names
  // may still be another of its addresses than the client reached.
  if (query.knowsserver && query.family == AF_INET && query.searched && query.connections == 0)
    known |= needsource;
  return query.needs & ~known;
}

// Learns the route the reply to the client takes, into the query's link: the rules say
// what the route depends on, the connection tells what the variables leave out of it, and
// of many paths the whole flow picks one. none when any of that cannot be learned.
[[nodiscard]] answer findroute(int sock, neighbourquery &query) {
  if (askrules(sock, query) != answer::found)
    return answer::none;
  if (unknownneeds(query) != 0)
    findconnection(query);
  if (unknownneeds(query) != 0)
    return answer::none;
  const answer route = askroute(sock, true, query);
  if (route != answer::found || !query.multipath)
    return route;
  // The path is the flow's, which only the connection names whole: the kernel may hash its
  // ports and protocol too (fib_multipath_hash_policy), and IPv6 always hashes the protocol.
  if (!query.searched)
    findconnection(query);
  if (query.connections != 1)
    return answer::none;
  query.multipath = false;
  const answer path = askroute(sock, false, query);
  return query.multipath ? answer::none : path;
}

// Finds the client's link-layer address in the kernel's neighbour table, into the query's
// answer, asking on sock. First the route the reply to the client takes, which names the
// interface, then the entry on it, which costs the same whatever the table's size and sees
// the entry as it is now. Then, for IPv6, the dump of every neighbour on that interface.
// Where the route cannot be learned, the tables could only guess between entries under
// the client's address, one of them perhaps planted: none. A link-local client without a
// zone is on whichever link lists it: the dump of every link names it, once the route has
// said that it is not this host.
[[nodiscard]] answer findneighbour(int sock, neighbourquery &query) {
  answer result = findroute(sock, query);
  if (query.everylink) {
    // The route names some link, no more the client's than any other.
    query.linkindex = 0;
    if (result == answer::none || result == answer::failed)
      return answer::none;
    return askneighbour(sock, true, query);
  }
  // A zone alone names the link of a link-local address.
  if (result == answer::unknown && query.zoneindex != 0 &&
      islinklocal(query.family, query.client)) {
    query.linkindex = query.zoneindex;
    result = answer::found;
  }
  if (result != answer::found)
    return answer::none;
  result = askneighbour(sock, false, query);
  if ((result == answer::unknown || result == answer::failed) && query.family == AF_INET6)
    result = askneighbour(sock, true, query);
  return result;
}

// Reads a field of hexadecimal digits, as /proc/net/route writes its numbers, into value,
// whose top digits a longer field pushes out; false for any other field. scanf's reader
// would bring a whole scanf into a static build.
[[nodiscard]] bool parsehex(std::string_view field, unsigned &value) {
  value = 0;
  for (const char digit : field) {
    if (hexvalue(digit) > 15)
      return false;
    value = value << 4 | hexvalue(digit);
  }
  return !field.empty();
}

// Finds the route to an IPv4 client in an open copy of the kernel's main routing table as
// /proc shows it: the longest prefix that holds the client, and of equals the first
// listed, which the kernel lists by metric. found, with device set to the route's
// interface's name, when it leaves straight to the client; none when a gateway stands
// between, or when the route reaches no one or its interface's name is too long to be
// one; unknown when no route holds the client. The table's numbers are in the kernel's
// byte order, and so is the client's address read as a number.
[[nodiscard]] answer findtableroute(FILE *table, const neighbourquery &query,
                                    char (&device)[IF_NAMESIZE]) {
  unsigned client;
  memcpy(&client, query.client, sizeof client);
  bool routed = false, gateway = false;
  unsigned bestmask = 0;
  char line[linesize];
  bool cut = false;
  while (readline(table, line, cut)) {
    // Iface, then Destination, Gateway, Flags, RefCnt, Use, Metric and Mask: numbers in
    // hexadecimal, the counts among them in decimal, whose digits read as hexadecimal too.
    // The title line fails the numbers.
    const char *cursor = line;
    const std::string_view name = nextfield(cursor);
    unsigned numbers[7];
    bool parsed = true;
    for (unsigned &number : numbers)
      parsed = parsed && parsehex(nextfield(cursor), number);
    const unsigned destination = numbers[0], flags = numbers[2], mask = numbers[6];
    if (!parsed || (client & mask) != destination)
      continue;
    // A prefix is longer when its mask holds the other's: masks are contiguous.
    if (routed && (mask == bestmask || (mask & bestmask) != bestmask))
      continue;
    routed = true;
    bestmask = mask;
    gateway = (flags & RTF_GATEWAY) != 0;
    // A route that reaches no one (unreachable, prohibit, blackhole) has no interface:
    // "*", which no entry of the ARP table names.
    if (!copytext(name, device, sizeof device))
      device[0] = '\0';
  }
  if (!routed)
    return answer::unknown;
  return !gateway && device[0] != '\0' ? answer::found : answer::none;
}

// Reads the route to an IPv4 client from /proc, for where rtnetlink is denied, as
// findtableroute does; failed when the table cannot be read.
[[nodiscard]] answer readtableroute(const neighbourquery &query, char (&device)[IF_NAMESIZE]) {
  FILE *table = fopen(routetablepath, "r");
  if (table == nullptr)
    return answer::failed;
  const answer route = findtableroute(table, query, device);
  fclose(table);
  return route;
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
        if_indextoname(query.linkindex, device) == nullptr) {
      reply(zeroaddress);
      return;
    }
  } else if (query.family != AF_INET || readtableroute(query, device) != answer::found) {
    // A hardened server may deny netlink (seccomp, RestrictAddressFamilies): the route
    // then comes from /proc, the main table's, for no rule can be read. IPv6 has no
    // neighbour table there.
    reply(zeroaddress);
    return;
  }
  char dotted[INET_ADDRSTRLEN];
  formatdotted(query.client, dotted);
  arplookup(dotted, device);
}

// Whether the program was called by a CGI name: one that ends in ".cgi", as a link in a
// server's cgi-bin is named. A wrapper runs the program by its own name, which never
// does, so the wrapper's header is never written twice. With no name at all, there is no
// server to speak to.
[[nodiscard]] bool iscginame(const char *name) {
  constexpr std::string_view suffix = ".cgi";
  if (name == nullptr)
    return false;
  const size_t length = strlen(name);
  return length >= suffix.size() &&
         sametext({name + length - suffix.size(), suffix.size()}, suffix);
}

} // namespace

#ifndef CLIENTMAC_NO_MAIN
int main(int, char **argv) {
  // A client that hung up closes the pipe: the write fails quietly, the status stays.
  signal(SIGPIPE, SIG_IGN);
  // argv[0] is null when the program is started with no arguments at all (argc 0).
  if (iscginame(argv[0]))
    headerlength = cgiheader.size();
  const char *remoteaddr = getenv("REMOTE_ADDR");
  neighbourquery query = {};
  const addresskind kind = readclient(remoteaddr, query);
  if (kind != addresskind::ipv4 && kind != addresskind::ipv6) {
    reply(zeroaddress);
    return remoteaddr == nullptr ? noclientstatus : 0;
  }
  takeserver(getenv("SERVER_ADDR"), query);
  query.clientport = parseport(getenv("REMOTE_PORT"));
  query.serverport = parseport(getenv("SERVER_PORT"));
  neighbourlookup(query);
  return 0;
}
#endif
