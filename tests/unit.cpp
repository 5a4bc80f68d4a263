// The lookup's rules, one case a line, on the program's own functions: the client text,
// the scan of the ARP and route tables, the questions put to the kernel and the parser of
// its answers, and the name the program was called by, on tables and datagrams made here.
// It needs nothing but the compiler: no privilege, no namespace, no kernel: the test
// stands in for the kernel's end of the netlink socket. A case gives what it hands the
// program as text, in fields named for what they hold (a client, a table's lines, a short
// script of the kernel's datagrams, which the test builds, a name), and what must come of
// it as text, so that it reads as one line of its table. Each failing case prints one
// line; the last line counts them all.

// The stand-in kernel below replaces recvfrom, which the C library's fortified headers
// would wrap in a definition of their own.
#undef _FORTIFY_SOURCE
#define CLIENTMAC_NO_MAIN
#include "../src/clientmac.cpp"

#include <cerrno>
#include <cstddef>

namespace {

int passed = 0;
int failed = 0;

// What came of a case, or what it wants, as text.
using text = char[256];

// The program's outcomes by name, in the order of their enumerations, and the words of
// the scripts and questions below.
struct named {
  const char *word;
  int value;
};
// clang-format off
const char *const kindnames[] = {"ipv4", "ipv6", "unknownzone", "noaddress"};
const char *const answernames[] = {"found", "none", "unknown", "failed", "more"};
const named routetypes[] = {{"route", RTN_UNICAST}, {"local", RTN_LOCAL},
                            {"unreachable", RTN_UNREACHABLE}, {"blackhole", RTN_BLACKHOLE}};
const named states[] = {{"reachable", NUD_REACHABLE}, {"stale", NUD_STALE}, {"probing", NUD_PROBE},
                        {"permanent", NUD_PERMANENT}, {"noarp", NUD_NOARP},
                        {"incomplete", NUD_INCOMPLETE}, {"failed", NUD_FAILED}};
const named codes[] = {{"0", 0}, {"-ENOENT", -ENOENT}, {"-EOPNOTSUPP", -EOPNOTSUPP},
                       {"-EINVAL", -EINVAL}, {"-ENETUNREACH", -ENETUNREACH}};
const named questiontypes[] = {{"route", RTM_GETROUTE}, {"neigh", RTM_GETNEIGH}};
const named questionflags[] = {{"get", NLM_F_REQUEST}, {"dump", NLM_F_REQUEST | NLM_F_DUMP}};
const named families[] = {{"inet", AF_INET}, {"inet6", AF_INET6}};
// clang-format on

template <size_t count>
const int *find(const named (&names)[count], const char *word) {
  for (const named &name : names)
    if (strcmp(name.word, word) == 0)
      return &name.value;
  return nullptr;
}

template <size_t count>
const char *nameof(const named (&names)[count], int value) {
  for (const named &name : names)
    if (name.value == value)
      return name.word;
  return "other";
}

// The first word of a case's script that the harness cannot read: the case fails with it,
// so that a slip in a script never passes for a case.
char badscript[64];

void bad(const char *word) {
  snprintf(badscript, sizeof badscript, "%s", word);
}

// Writes a case's text into out: "$" stands for "192.0.2.", "@" for "2001:db8::" and "&"
// for "02:00:00:00:00:", the cases' addresses and hardware addresses, and "{N}" pads the
// line with spaces up to column N, so that a line longer than one read is exact.
template <size_t size>
const char *expand(const char *in, char (&out)[size]) {
  size_t length = 0, line = 0; // where the line being written starts
  // Room is kept for the longest piece.
  for (char *next; *in != '\0' && length + 16 < size; ++in) {
    if (*in == '{') {
      const size_t column = line + strtoul(in + 1, &next, 10);
      while (length < column && length + 16 < size)
        out[length++] = ' ';
      in = next;
    } else if (*in == '$' || *in == '@' || *in == '&') {
      const char *piece = *in == '$' ? "192.0.2." : *in == '@' ? "2001:db8::" : "02:00:00:00:00:";
      length += static_cast<size_t>(snprintf(out + length, size - length, "%s", piece));
    } else if ((out[length++] = *in) == '\n') {
      line = length;
    }
  }
  out[length] = '\0';
  return out;
}

// Runs each case of a table through test, which writes what came of it, and judges that
// against the case's want: context is what the whole table shares. Each kind of case,
// declared with its test below, holds its name, what it hands the program in fields named
// for what they hold, and its want.
template <typename Case, size_t count>
void rules(const char *group, const Case (&cases)[count],
           void (*test)(const Case &, const char *, text &), const char *context = "") {
  for (const Case &c : cases) {
    text got = "", want;
    badscript[0] = '\0';
    test(c, context, got);
    if (badscript[0] != '\0')
      snprintf(got, sizeof got, "no such word in the script: '%s'", badscript);
    const bool held = strcmp(got, expand(c.want, want)) == 0;
    ++(held ? passed : failed);
    if (!held)
      printf("FAIL %s: %s: got '%s', want '%s'\n", group, c.name, got, want);
  }
}

// ---- The client text ----

// A client's text, as a server writes it in REMOTE_ADDR.
struct clientcase {
  const char *name, *client, *want;
};

void trimtest(const clientcase &c, const char *, text &got) {
  std::string_view client;
  if (!trimclient(c.client, client))
    client = "a list";
  snprintf(got, sizeof got, "%.*s", static_cast<int>(client.size()), client.data());
}

// Whitespace around the client is set aside; a list names no single client.
// clang-format off
const clientcase trimcases[] = {
  {"bare address", "192.0.2.10", "192.0.2.10"},
  {"spaces around", "  192.0.2.10  ", "192.0.2.10"},
  {"tab and newline around", "\t192.0.2.10\n", "192.0.2.10"},
  {"carriage return after", "2001:db8::22\r\n", "2001:db8::22"},
  {"vertical tab and form feed", "\v\f192.0.2.10", "192.0.2.10"},
  {"empty", "", ""},
  {"blanks only", "   ", ""},
  {"two addresses", "192.0.2.10 192.0.2.11", "a list"},
  {"forwarded-for list", "192.0.2.10, 203.0.113.200", "a list"},
  {"joined by a comma", "192.0.2.10,192.0.2.11", "a list"},
  {"trailing comma", "192.0.2.10,", "a list"},
  {"words after a newline", "192.0.2.10\nx", "a list"},
};
// clang-format on

// What a client text asks for; for an address, the address, "on N" for the interface its
// zone names, and "every link" when every link must agree. The address is written as the
// case writes it when it is the same number, so that every way of writing one is one.
void readclienttest(const clientcase &c, const char *, text &got) {
  neighbourquery query = {};
  const addresskind kind = readclient(c.client, query);
  const int family = query.family == AF_INET ? AF_INET : AF_INET6;
  const bool address = kind == addresskind::ipv4 || kind == addresskind::ipv6;
  char written[INET6_ADDRSTRLEN] = "", zone[16] = "";
  unsigned char wanted[16];
  if (sscanf(c.want, "%*s %45s", written) != 1 || inet_pton(family, written, wanted) != 1 ||
      memcmp(wanted, query.client, addresslength(query)) != 0)
    inet_ntop(family, query.client, written, sizeof written);
  if (query.zoneindex != 0)
    snprintf(zone, sizeof zone, " on %u", query.zoneindex);
  snprintf(got, sizeof got, "%s%s%s%s%s", kindnames[static_cast<int>(kind)], address ? " " : "",
           address ? written : "", address ? zone : "",
           address && query.everylink ? " every link" : "");
}

// clang-format off
// A dotted quad, and every form of an IPv4-mapped address, stand for an IPv4 client.
const clientcase mappedcases[] = {
  {"dotted quad", "192.0.2.10", "ipv4 192.0.2.10"},
  {"mapped", "::ffff:192.0.2.10", "ipv4 192.0.2.10"},
  {"mapped, bracketed", "[::ffff:192.0.2.10]", "ipv4 192.0.2.10"},
  {"mapped, upper case", "::FFFF:192.0.2.10", "ipv4 192.0.2.10"},
  {"mapped, in hex", "::ffff:c000:20a", "ipv4 192.0.2.10"},
  {"mapped, in hex, bracketed", "[::ffff:c000:20a]", "ipv4 192.0.2.10"},
  {"mapped, uncompressed", "0:0:0:0:0:ffff:c000:20a", "ipv4 192.0.2.10"},
  {"mapped, with a zone", "::ffff:192.0.2.10%lo", "ipv4 192.0.2.10"},
  {"compatible, not mapped", "::192.0.2.10", "ipv6 ::192.0.2.10"},
};

// IPv6: brackets and a zone are set aside, every way of writing an address is one; a
// link-local address without a zone is on every link.
const clientcase ipv6cases[] = {
  {"IPv6", "2001:db8::22", "ipv6 2001:db8::22"},
  {"bracketed", "[2001:db8::22]", "ipv6 2001:db8::22"},
  {"uncompressed, upper case", "2001:DB8:0:0:0:0:0:22", "ipv6 2001:db8::22"},
  {"link-local", "fe80::22", "ipv6 fe80::22 every link"},
  {"link-local, bracketed", "[fe80::22]", "ipv6 fe80::22 every link"},
  {"link-local, top of fe80::/10", "febf::22", "ipv6 febf::22 every link"},
  {"site-local is no link-local", "fec0::22", "ipv6 fec0::22"},
  {"global with a zone", "2001:db8::22%lo", "ipv6 2001:db8::22 on 1"},
  // An IPv6 address with a port names no client; one whose last 32 bits are written
  // dotted names the IPv6 client, or with a port no one, never the IPv4 client its dotted
  // quad spells.
  {"bracketed, with a port", "[2001:db8::22]:80", "noaddress"},
  {"dotted tail", "2001:db8::198.51.100.22", "ipv6 2001:db8::198.51.100.22"},
  {"dotted tail, bracketed", "[2001:db8::198.51.100.22]", "ipv6 2001:db8::198.51.100.22"},
  {"dotted tail, bracketed, with a port", "[2001:db8::198.51.100.22]:80", "noaddress"},
  {"dotted tail and a port, unbracketed", "2001:db8::198.51.100.22:80", "noaddress"},
};

// A zone names its interface by name, or else by number; a zone that names no interface
// names no client.
const clientcase zonecases[] = {
  {"by name", "fe80::22%lo", "ipv6 fe80::22 on 1"},
  {"by number", "fe80::22%1", "ipv6 fe80::22 on 1"},
  {"bracketed", "[fe80::22%lo]", "ipv6 fe80::22 on 1"},
  {"of no interface", "fe80::22%clientmac-none", "unknownzone"},
  {"empty", "fe80::22%", "unknownzone"},
  {"too long for a name", "fe80::22%0123456789abcdefgh", "unknownzone"},
  {"digits, then a letter", "fe80::22%1a", "unknownzone"},
};

// Text that is no address stands for the one IPv4 address within it as a whole address:
// the character before and the one after, where there are any, are neither a digit, a
// letter nor a dot. Text with none, or more than one, names no client.
const clientcase wholecases[] = {
  {"with a port", "192.0.2.10:8080", "ipv4 192.0.2.10"},
  {"bracketed", "[192.0.2.10]", "ipv4 192.0.2.10"},
  {"bracketed, with a port", "[192.0.2.10]:80", "ipv4 192.0.2.10"},
  {"mapped, with a port", "[::ffff:192.0.2.10]:80", "ipv4 192.0.2.10"},
  {"with a zone", "192.0.2.10%lan0", "ipv4 192.0.2.10"},
  {"with a prefix length", "192.0.2.10/32", "ipv4 192.0.2.10"},
  {"digit before", "1192.0.2.10", "noaddress"},
  {"letter before", "a192.0.2.10", "noaddress"},
  {"upper-case letter after", "192.0.2.10Z", "noaddress"},
  {"dot after", "192.0.2.10.5", "noaddress"},
  {"dot before", "5.192.0.2.10", "noaddress"},
  {"joined by ;", "198.51.100.99;192.0.2.50", "noaddress"},
  {"address and a port of two", "192.0.2.10:192.0.2.11", "noaddress"},
  {"one whole, one a piece", "192.0.2.10;a192.0.2.11", "ipv4 192.0.2.10"},
  {"three parts", "192.0.2", "noaddress"},
  {"octet too large", "192.0.2.256", "noaddress"},
  {"open bracket only", "[2001:db8::22", "noaddress"},
  {"nine groups", "2001:db8:0:0:0:0:0:22:0", "noaddress"},
  {"a word", "localhost", "noaddress"},
  {"an interface name", "br-lan", "noaddress"},
  {"empty", "", "noaddress"},
};
// clang-format on

// ---- The ARP table ----

// A table, as the program reads one: from a FILE *. uClibc-ng, as built for firmware here,
// has no fmemopen; a temporary file stands in there.
FILE *opentable(const char *table, text &got) {
#ifdef __UCLIBC__
  FILE *file = tmpfile();
  if (file != nullptr && (fputs(table, file) < 0 || fseek(file, 0, SEEK_SET) != 0)) {
    fclose(file);
    file = nullptr;
  }
#else
  FILE *file = fmemopen(const_cast<char *>(table), strlen(table), "r");
#endif
  if (file == nullptr)
    snprintf(got, sizeof got, "no FILE for the table");
  return file;
}

#define HEADER "IP address       HW type     Flags       HW address            Mask     Device\n"

// The client looked for, with the device the route names, and the lines of an ARP table
// after its column titles.
struct tablecase {
  const char *name, *client, *table, *want;
};

// The hardware address the scan gives ("" for none) for the client, on the device the
// case names after it, or on eth0.
void arptest(const tablecase &c, const char *, text &got) {
  char table[1024], buffer[1024], client[64] = "", device[16] = "eth0", line[linesize];
  sscanf(expand(c.client, buffer), "%63s %15s", client, device);
  snprintf(buffer, sizeof buffer, HEADER "%s", c.table);
  if (FILE *file = opentable(expand(buffer, table), got)) {
    const std::string_view found = findclient(file, client, device, line);
    snprintf(got, sizeof got, "%.*s", static_cast<int>(found.size()), found.data());
    fclose(file);
  }
}

// Each case: the client's dotted form, as the table lists addresses, and the device the
// route names (eth0 unless the case names another); the lines after the column titles;
// the hardware address.
// clang-format off
const tablecase tablecases[] = {
  // A complete entry's hardware address, exactly as listed.
  {"listed", "$20", "$20 0x1 0x2 &20 * eth0\n", "&20"},
  {"upper-case hex as listed", "$20", "$20 0x1 0x2 02:AB:CD:EF:00:20 * eth0\n",
   "02:AB:CD:EF:00:20"},
  {"not listed", "$20", "$21 0x1 0x2 &21 * eth0\n", ""},
  {"header only", "$20", "", ""},
  {"the titles are no entry", "IP", "", ""},
  {"a piece of the client", "$20", "$2 0x1 0x2 &02 * eth0\n", ""},
  {"the client a piece of it", "$20", "$200 0x1 0x2 &02 * eth0\n", ""},
  {"the client, then more", "$20", "$20.5 0x1 0x2 &02 * eth0\n", ""},
  {"the client after more", "$20", "::ffff:$20 0x1 0x2 &02 * eth0\n", ""},
  {"a piece at the client's end", "$20", "92.0.2.20 0x1 0x2 &02 * eth0\n", ""},
  // The first line that matches wins; later lines are not read.
  {"first of two", "$20", "$20 0x1 0x2 &01 * eth0\n$20 0x1 0x2 &02 * eth0\n", "&01"},
  {"past a piece of it", "$20", "$2 0x1 0x2 &02 * eth0\n$20 0x1 0x2 &20 * eth0\n", "&20"},
  // Flags: only an entry with the complete bit (0x2) holds its neighbour's address.
  {"flags 0x0, incomplete", "$20", "$20 0x1 0x0 &20 * eth0\n", ""},
  {"flags 0x4, permanent only", "$20", "$20 0x1 0x4 &20 * eth0\n", ""},
  {"flags 0xc", "$20", "$20 0x1 0xc &20 * eth0\n", ""},
  {"flags 0x6", "$20", "$20 0x1 0x6 &20 * eth0\n", "&20"},
  {"flags 0xA", "$20", "$20 0x1 0xA &20 * eth0\n", "&20"},
  {"flags 0x12", "$20", "$20 0x1 0x12 &20 * eth0\n", "&20"},
  {"flags not in hex", "$20", "$20 0x1 2 &20 * eth0\n", ""},
  {"flags 0x alone", "$20", "$20 0x1 0x &20 * eth0\n", ""},
  {"incomplete, then complete", "$20",
   "$20 0x1 0x0 00:00:00:00:00:00 * eth0\n$20 0x1 0x2 &20 * eth0\n", "&20"},
  // The device the route names: only its lines count, compared whole.
  {"on the route's device", "$20 eth0", "$20 0x1 0x2 &20 * eth0\n", "&20"},
  {"on another device", "$20 eth0", "$20 0x1 0x2 &20 * eth1\n", ""},
  {"the route's device second", "$20 eth0", "$20 0x1 0x2 &01 * eth1\n$20 0x1 0x2 &02 * eth0\n",
   "&02"},
  {"a longer device name", "$20 eth0", "$20 0x1 0x2 &20 * eth0.1\n", ""},
  {"a shorter device name", "$20 eth0", "$20 0x1 0x2 &20 * eth\n", ""},
  {"no device field", "$20 eth0", "$20 0x1 0x2 &20 *\n", ""},
  {"no mask and no device", "$20", "$20 0x1 0x2 &20\n", ""},
  // Fields: any whitespace between them; fewer than four make no entry.
  {"tabs and blanks", "$20 eth0", "  $20\t0x1 \t 0x2\t&20\t*\teth0\n", "&20"},
  {"CRLF line end", "$20 eth0", "$20 0x1 0x2 &20 * eth0\r\n", "&20"},
  {"no final newline", "$20 eth0", "$20 0x1 0x2 &20 * eth0", "&20"},
  {"three fields", "$20", "$20 0x1 0x2\n", ""},
  {"two fields", "$20", "$20 0x1\n", ""},
  {"address alone", "$20", "$20\n", ""},
  {"blank line", "$20", "\n\n$20 0x1 0x2 &20 * eth0\n", "&20"},
  {"a long first field", "$20",
   "$20000000000000000000000000000001 0x1 0x2 &99 * eth0\n$20 0x1 0x2 &20 * eth0\n", "&20"},
  {"long type and flags", "$20", "$20 0x10000000000000 0x20000000000002 &20 * eth0\n", "&20"},
  // Hardware addresses: hex pairs joined by colons, at most 31 characters.
  {"one pair", "$20", "$20 0x1 0x2 02 * eth0\n", "02"},
  {"ten pairs, 29 characters", "$20", "$20 0x1 0x2 &00:00:00:00:20 * eth0\n", "&00:00:00:00:20"},
  {"eleven pairs, 32 characters", "$20", "$20 0x1 0x2 &00:00:00:00:00:20 * eth0\n", ""},
  {"dashes", "$20", "$20 0x1 0x2 02-00-00-00-00-20 * eth0\n", ""},
  {"three digits in a byte", "$20", "$20 0x1 0x2 &020 * eth0\n", ""},
  {"one digit in a byte", "$20", "$20 0x1 0x2 &2 * eth0\n", ""},
  {"not a hex digit", "$20", "$20 0x1 0x2 &2g * eth0\n", ""},
  {"trailing colon", "$20", "$20 0x1 0x2 &20: * eth0\n", ""},
  {"a word", "$20", "$20 0x1 0x2 type * eth0\n", ""},
  // A line longer than one read (255 characters) is judged by its head; its rest
  // belongs to it and is never an entry of its own, and no field cut by the read is
  // an answer.
  {"head of a long line", "$70 eth0", "$70 0x1 0x2 &70 * eth0{255}$71 0x1 0x2 &99 * eth0\n", "&70"},
  {"tail of a long line", "$71",
   "$70 0x1 0x2 &70 * eth0{255}$71 0x1 0x2 &99 * eth0\n$71 0x1 0x2 &71 * eth0\n", "&71"},
  {"hw address past the read", "$72", "{222}$72 0x1 0x2 &98 * eth0\n$72 0x1 0x2 &72 * eth0\n",
   "&72"},
  {"hw address up to the read", "$73", "{219}$73 0x1 0x2 &97 * eth0\n$73 0x1 0x2 &73 * eth0\n",
   "&73"},
  {"device up to the read", "$74 eth0", "{212}$74 0x1 0x2 &96 * eth0x\n$74 0x1 0x2 &74 * eth0\n",
   "&74"},
  {"255 characters and newline", "$75", "{212}$75 0x1 0x2 &75 * eth0\n", "&75"},
  {"line after 255 characters", "$76", "{212}$75 0x1 0x2 &75 * eth0\n$76 0x1 0x2 &76 * eth0\n",
   "&76"},
  {"255 characters at the end", "$77", "{212}$77 0x1 0x2 &77 * eth0", "&77"},
};
// clang-format on

// ---- The routing table, where netlink is denied ----

#define ROUTEHEADER                                                                                \
  "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"

// The client whose route is looked for, and the routes a route table lists.
struct routetablecase {
  const char *name, *client, *routes, *want;
};

// What the reader makes of the client's route: the route's interface, when it leaves
// straight to the client, or else "none": no table is then read. The case lists the routes
// as "IFACE DESTINATION/PREFIX FLAGS [GATEWAY]", parted by commas, in the order the kernel
// lists them; /proc/net/route writes a title line, then each address and mask as the
// kernel's 32-bit number in hexadecimal, in this machine's byte order.
void routetest(const routetablecase &c, const char *, text &got) {
  char table[1024] = ROUTEHEADER, device[IF_NAMESIZE] = "", iface[32], destination[16];
  for (const char *route = c.routes; route != nullptr && *route != '\0';
       route = strchr(route, ',')) {
    char gateway[16] = "0.0.0.0";
    unsigned prefix, flags, net = 0, via = 0;
    if (sscanf(route += *route == ',', "%31s %15[0-9.]/%u %x %15[0-9.]", iface, destination,
               &prefix, &flags, gateway) < 4)
      return bad(route);
    inet_pton(AF_INET, destination, &net);
    inet_pton(AF_INET, gateway, &via);
    const size_t length = strlen(table);
    snprintf(table + length, sizeof table - length,
             "%s\t%08X\t%08X\t%04X\t0\t0\t0\t%08X\t0\t0\t0\n", iface, net, via, flags,
             prefix == 0 ? 0 : htonl(~0u << (32 - prefix)));
  }
  neighbourquery query = {};
  query.family = AF_INET;
  inet_pton(AF_INET, c.client, query.client);
  if (FILE *file = opentable(table, got)) {
    const answer result = findtableroute(file, query, device);
    snprintf(got, sizeof got, "%s",
             result == answer::found ? device : answernames[static_cast<int>(result)]);
    fclose(file);
  }
}

// The route's interface is the longest prefix's that holds the client, of equals the
// first listed (the kernel lists them by metric); a gateway stands between for certain, and
// so does a name too long for an interface's; no route, or the title line alone, says
// nothing of the client.
// clang-format off
const routetablecase routetablecases[] = {
  {"on the link", "198.51.100.20", "lan0 198.51.100.0/24 1", "lan0"},
  {"default through a gateway", "192.0.2.50", "wan0 0.0.0.0/0 3 203.0.113.254", "none"},
  {"the link before the default", "198.51.100.20",
   "wan0 0.0.0.0/0 3 203.0.113.254, lan0 198.51.100.0/24 1", "lan0"},
  {"host route listed after its net", "198.51.100.99",
   "lan0 198.51.100.0/24 1, wan0 198.51.100.99/32 5", "wan0"},
  {"host route listed before its net", "198.51.100.99",
   "wan0 198.51.100.99/32 5, lan0 198.51.100.0/24 1", "wan0"},
  {"a longer prefix beside, not holding", "198.51.100.20",
   "lan0 198.51.100.0/24 1, wan0 198.51.100.128/25 1", "lan0"},
  {"of equal prefixes the first", "198.51.100.20", "lan0 198.51.100.0/24 1, wan0 198.51.100.0/24 1",
   "lan0"},
  {"a gateway behind a longer prefix", "203.0.113.200",
   "lan0 203.0.113.0/24 1, lan0 203.0.113.128/25 3 198.51.100.254", "none"},
  {"the link before a gateway's shorter prefix", "203.0.113.200",
   "lan0 203.0.113.0/24 3 198.51.100.254, wan0 203.0.113.200/32 5", "wan0"},
  {"no route holds the client", "192.0.2.1", "lan0 198.51.100.0/24 1", "unknown"},
  {"unreachable: no interface", "192.0.2.1", "* 192.0.2.0/24 201", "*"},
  {"the title line alone", "198.51.100.20", "", "unknown"},
  {"a name of 15 characters", "198.51.100.20", "lan0-0123456789 198.51.100.0/24 1", "lan0-0123456789"},
  {"a name too long for one", "198.51.100.20", "lan0-0123456789a 198.51.100.0/24 1", "none"},
};
// clang-format on

// ---- The kernel's answers ----

// The request the answers are read for.
constexpr unsigned asked = 7;

// One datagram of answers, built message by message, in a buffer far longer than the
// datagram, so that a parser that reads past it reads zeros here and no other object;
// where its last message and that one's last attribute start, its sender (0 is the
// kernel's) and the length that recvfrom reports, when not 0.
struct datagram {
  alignas(nlmsghdr) char bytes[2 * netlinkbuffersize];
  size_t length, message, attribute, claim;
  unsigned port;
};

template <typename Field>
void set(datagram &d, size_t at, Field value) {
  memcpy(d.bytes + at, &value, sizeof value);
}

// Appends to the message being built, which counts what it holds.
void put(datagram &d, const void *data, size_t size) {
  memcpy(d.bytes + d.length, data, size);
  d.length += size;
  set(d, d.message + offsetof(nlmsghdr, nlmsg_len), static_cast<uint32_t>(d.length - d.message));
}

void begin(datagram &d, unsigned short type, unsigned short flags, unsigned sequence,
           const void *body, size_t size) {
  d.message = d.length = NLMSG_ALIGN(d.length);
  const nlmsghdr header = {0, type, flags, sequence, 0};
  put(d, &header, sizeof header);
  put(d, body, size);
}

void attribute(datagram &d, unsigned short type, const void *payload, size_t size) {
  d.attribute = d.length = RTA_ALIGN(d.length);
  const rtattr head = {static_cast<unsigned short>(RTA_LENGTH(size)), type};
  put(d, &head, sizeof head);
  put(d, payload, size);
}

// Appends a policy rule to a datagram, from its words: "inet6" for its family (else
// inet), then what it selects on: from (a source prefix), tos, and the attributes fwmark,
// fwmask, uidrange, ipproto, sport, dport, l3mdev, oif, iif, table, priority, protocol,
// tunid and "newer" (a selector newer than the program).
void ruleitem(datagram &d, const char *words, unsigned sequence) {
  // clang-format off
  const named attributes[] = {{"fwmark", FRA_FWMARK}, {"fwmask", FRA_FWMASK},
    {"uidrange", FRA_UID_RANGE}, {"ipproto", FRA_IP_PROTO}, {"sport", FRA_SPORT_RANGE},
    {"dport", FRA_DPORT_RANGE}, {"l3mdev", FRA_L3MDEV}, {"oif", FRA_OIFNAME},
    {"iif", FRA_IIFNAME}, {"table", FRA_TABLE}, {"priority", FRA_PRIORITY},
    {"protocol", FRA_PROTOCOL}, {"tunid", FRA_TUN_ID}, {"dscp", FRA_DPORT_RANGE + 1},
    {"flowlabel", FRA_DPORT_RANGE + 2}, {"sportmask", 28}, {"dportmask", 29}, {"newer", 31}};
  // clang-format on
  fib_rule_hdr rule = {};
  rule.family = AF_INET;
  char word[16];
  int used = 0;
  for (const char *at = words; sscanf(at, "%15s%n", word, &used) == 1; at += used)
    if (strcmp(word, "inet6") == 0)
      rule.family = AF_INET6;
    else if (strcmp(word, "from") == 0)
      rule.src_len = 24;
    else if (strcmp(word, "tos") == 0)
      rule.tos = 4;
  begin(d, RTM_NEWRULE, NLM_F_MULTI, sequence, &rule, sizeof rule);
  for (const char *at = words; sscanf(at, "%15s%n", word, &used) == 1; at += used) {
    const unsigned char payload[8] = {1};
    if (const int *type = find(attributes, word))
      attribute(d, static_cast<unsigned short>(*type), payload, sizeof payload);
    else if (strcmp(word, "inet6") != 0 && strcmp(word, "from") != 0 && strcmp(word, "tos") != 0)
      bad(word);
  }
}

// Appends an open TCP connection to a datagram, as socket diagnostics list one, from its
// words: CLIENT/PORT SERVER/PORT (the remote end, then the local one; an IPv4 pair on an
// IPv6 socket is written in its mapped form), then "if N", "uid N", "mark N", and
// "listening" or "timewait" for a socket in another state than established.
void socketitem(datagram &d, const char *words, unsigned sequence) {
  char remote[48] = "", local[48] = "", word[16];
  unsigned remoteport = 0, localport = 0, value = 0, mark = 0;
  int used = 0;
  if (sscanf(words, " %47[^/]/%u %47[^/]/%u%n", remote, &remoteport, local, &localport, &used) != 4)
    return bad(words);
  inet_diag_msg connection = {};
  connection.idiag_family = strchr(remote, ':') == nullptr ? AF_INET : AF_INET6;
  connection.idiag_state = 1; // TCP_ESTABLISHED
  if (inet_pton(connection.idiag_family, remote, connection.id.idiag_dst) != 1 ||
      inet_pton(connection.idiag_family, local, connection.id.idiag_src) != 1)
    return bad(remote);
  connection.id.idiag_dport = htons(static_cast<unsigned short>(remoteport));
  connection.id.idiag_sport = htons(static_cast<unsigned short>(localport));
  bool marked = false;
  for (const char *at = words + used; sscanf(at, "%15s%n", word, &used) == 1; at += used) {
    int more = 0;
    if (strcmp(word, "listening") == 0)
      connection.idiag_state = 10;
    else if (strcmp(word, "timewait") == 0)
      connection.idiag_state = 6;
    else if (sscanf(at + used, "%u%n", &value, &more) == 1 && strcmp(word, "if") == 0)
      connection.id.idiag_if = value;
    else if (more > 0 && strcmp(word, "uid") == 0)
      connection.idiag_uid = value;
    else if (more > 0 && strcmp(word, "mark") == 0)
      mark = value, marked = true;
    else
      return bad(word);
    used += more;
  }
  begin(d, TCPDIAG_GETSOCK, NLM_F_MULTI, sequence, &connection, sizeof connection);
  if (marked)
    attribute(d, INET_DIAG_MARK, &mark, sizeof mark);
}

// Builds one item of a datagram's script, for the question numbered number, or, after
// "earlier: " or "later: ", the one before or after it:
//   route|local|unreachable|blackhole N [gateway|via|multipath]
//                                     a route of that type to 192.0.2.10 by interface N
//                                     (none for 0), through a gateway, or of many paths
//   neigh|dump ADDRESS|- N [STATE] [MAC[/SIZE]]         an entry, or a dump's, on N, with a
//                                                       link-layer address of SIZE (6) bytes
//                                                       that ends in the hex byte MAC
//   error CODE [route|rules]   done                     an error to a neighbour get (or to a
//                                                       route get, or a rule dump)
//   rule WORDS   socket WORDS                           a policy rule, an open connection
// or damages the message built last:
//   msglen [+]N   attrlen N   body N   attrcut N   type newlink
// its length (or more than it is, with +), its last attribute's, its body cut to N bytes,
// the first N bytes of a further attribute's header, its type; or sets the datagram's:
//   cut N   port N   claim N
// the first N bytes of a further message's header (zeros), its sender, the length that
// recvfrom reports.
void item(datagram &d, const char *script, unsigned number) {
  int early = 0, late = 0;
  sscanf(script, " earlier: %n", &early);
  sscanf(script, " later: %n", &late);
  const unsigned sequence = early > 0 ? number - 1 : late > 0 ? number + 1 : number;
  char verb[16] = "", first[48] = "", second[16] = "", third[16] = "", fourth[16] = "";
  sscanf(script + early + late, "%15s %47s %15s %15s %15s", verb, first, second, third, fourth);
  int words = 0;
  sscanf(script + early + late, " %*s%n", &words);
  if (strcmp(verb, "rule") == 0)
    return ruleitem(d, script + early + late + words, sequence);
  if (strcmp(verb, "socket") == 0)
    return socketitem(d, script + early + late + words, sequence);
  const int n = atoi(first), *type = find(routetypes, verb), *state = find(states, third);
  const int *code = find(codes, first);
  const char *mac = state != nullptr ? fourth : third;
  const unsigned char family = strchr(first, ':') == nullptr ? AF_INET : AF_INET6;
  unsigned char link[40] = {0x02}, client[16] = {192, 0, 2, 10}, via[] = {AF_INET, 0, 192, 0, 2, 1};
  unsigned byte = 0;
  int size = *mac == '\0' ? -1 : 6;
  if (type != nullptr) {
    const rtmsg route = {AF_INET, 32, 0, 0, 0, 0, 0, static_cast<unsigned char>(*type), 0};
    begin(d, RTM_NEWROUTE, 0, sequence, &route, sizeof route);
    attribute(d, RTA_DST, client, 4);
    if (n != 0)
      attribute(d, RTA_OIF, &n, sizeof n);
    if (strcmp(second, "gateway") == 0)
      attribute(d, RTA_GATEWAY, via + 2, 4);
    else if (strcmp(second, "via") == 0)
      attribute(d, RTA_VIA, via, sizeof via);
    else if (strcmp(second, "multipath") == 0)
      attribute(d, RTA_MULTIPATH, via, 0);
    else if (*second != '\0')
      bad(second);
  } else if ((strcmp(verb, "neigh") == 0 || strcmp(verb, "dump") == 0) &&
             (state != nullptr || *fourth == '\0') &&
             (*mac == '\0' || (sscanf(mac, "%x/%d", &byte, &size) >= 1 && size <= 40))) {
    const unsigned short nud =
        static_cast<unsigned short>(state != nullptr ? *state : NUD_REACHABLE);
    const ndmsg entry = {family, 0, 0, atoi(second), nud, 0, 0};
    begin(d, RTM_NEWNEIGH, verb[0] == 'd' ? NLM_F_MULTI : 0, sequence, &entry, sizeof entry);
    if (strcmp(first, "-") != 0 && inet_pton(family, first, client) != 1)
      bad(first);
    if (strcmp(first, "-") != 0)
      attribute(d, NDA_DST, client, family == AF_INET ? 4 : 16);
    link[size > 0 ? size - 1 : 0] = static_cast<unsigned char>(byte);
    if (size >= 0)
      attribute(d, NDA_LLADDR, link, static_cast<size_t>(size));
  } else if (strcmp(verb, "error") == 0 && code != nullptr &&
             (*second == '\0' || !strcmp(second, "route") || !strcmp(second, "rules"))) {
    const unsigned short request = *second == '\0'                      ? RTM_GETNEIGH
                                   : *second == 'r' && second[1] == 'o' ? RTM_GETROUTE
                                                                        : RTM_GETRULE;
    const nlmsgerr error = {*code, {0, request, 0, sequence, 0}};
    begin(d, NLMSG_ERROR, 0, sequence, &error, sizeof error);
  } else if (strcmp(verb, "done") == 0) {
    begin(d, NLMSG_DONE, NLM_F_MULTI, sequence, "\0\0\0", 4);
  } else if (strcmp(verb, "msglen") == 0) { // the length leads the header, as the attribute's
    set(d, d.message, static_cast<uint32_t>(*first == '+' ? d.length - d.message + n : n));
  } else if (strcmp(verb, "attrlen") == 0) {
    set(d, d.attribute, static_cast<unsigned short>(n));
  } else if (strcmp(verb, "type") == 0 && strcmp(first, "newlink") == 0) {
    set(d, d.message + offsetof(nlmsghdr, nlmsg_type), static_cast<unsigned short>(RTM_NEWLINK));
  } else if (strcmp(verb, "body") == 0) {
    d.length = d.message + NLMSG_HDRLEN + static_cast<size_t>(n);
    put(d, "", 0);
  } else if (strcmp(verb, "attrcut") == 0) {
    put(d, "\x08\0\0\0", static_cast<size_t>(n));
  } else if (strcmp(verb, "cut") == 0) {
    d.length += static_cast<size_t>(n);
  } else if (strcmp(verb, "port") == 0) {
    d.port = static_cast<unsigned>(n);
  } else if (strcmp(verb, "claim") == 0) {
    d.claim = static_cast<size_t>(n);
  } else {
    bad(verb);
  }
}

// Builds datagram index (from 0) of a script, for the question numbered number: its
// datagrams are parted by "|", and their items by ","; false when it has no such datagram.
bool build(const char *script, size_t index, unsigned number, datagram &d) {
  char expanded[512], one[80];
  d = {};
  for (script = expand(script, expanded); index > 0 && script != nullptr; --index)
    script = strchr(script, '|') != nullptr ? strchr(script, '|') + 1 : nullptr;
  if (script == nullptr || *script == '\0')
    return false;
  for (int length; *script != '\0' && *script != '|'; script += length + (script[length] == ',')) {
    length = static_cast<int>(strcspn(script, ",|"));
    snprintf(one, sizeof one, "%.*s", length, script);
    item(d, one, number);
  }
  return true;
}

// A script of the kernel's datagrams, which the test builds as item() reads it; the client
// they answer for is the one the table's context names.
struct scriptcase {
  const char *name, *script, *want;
};

// What the scan makes of the case's datagrams, read as the answer to the question that
// context names (route, neigh, rules or sockets) about the client it names first, with the
// zone ("zone N"), the route's interface ("on N") or the client's port ("port N") it names
// after it, each next datagram scanned while the scan asks for more; then what the query
// holds: its interface, link-layer address, what the rules select on, and the connection.
void scantest(const scriptcase &c, const char *context, text &got) {
  const named questions[] = {{"route", RTM_GETROUTE},
                             {"neigh", RTM_GETNEIGH},
                             {"rules", RTM_GETRULE},
                             {"sockets", TCPDIAG_GETSOCK}};
  const char *const needwords[] = {"source", "flow", "owner", "mark", "domain", "unknown"};
  neighbourquery query = {};
  char client[INET6_ADDRSTRLEN] = "", question[8] = "", word[8] = "", on[16] = "", held[160] = "";
  unsigned number = 0;
  sscanf(context, "%45s %7s %7s %u", client, question, word, &number);
  // As the program reads the client: link-local, and no zone, is on every link.
  static_cast<void>(readclient(client, query));
  if (strcmp(word, "zone") == 0)
    query.zoneindex = number;
  else if (strcmp(word, "port") == 0)
    query.clientport = static_cast<unsigned short>(number);
  else
    query.linkindex = number;
  static datagram d;
  answer scan = answer::more;
  const unsigned short type = static_cast<unsigned short>(*find(questions, question));
  for (size_t next = 0; scan == answer::more && (build(c.script, next, asked, d) || next == 0);
       ++next)
    scan = scanmessages(d.bytes, d.length, asked, type, query);
  if (query.linkindex != 0 && strcmp(word, "port") != 0)
    snprintf(on, sizeof on, " on %u", query.linkindex);
  for (size_t bit = 0; bit < sizeof needwords / sizeof *needwords; ++bit)
    if ((query.needs & 1u << bit) != 0)
      snprintf(held + strlen(held), sizeof held - strlen(held), " %s", needwords[bit]);
  if (query.connections != 0) {
    char server[INET6_ADDRSTRLEN];
    const inet_diag_msg &socket = query.found;
    inet_ntop(socket.idiag_family, socket.id.idiag_src, server, sizeof server);
    snprintf(held + strlen(held), sizeof held - strlen(held), " %u from %s/%u if %u uid %u",
             query.connections, server, ntohs(socket.id.idiag_sport), socket.id.idiag_if,
             socket.idiag_uid);
  }
  snprintf(got, sizeof got, "%s%s%s%s%s%s", answernames[static_cast<int>(scan)], on,
           query.hwaddress[0] != '\0' ? " " : "", query.hwaddress,
           query.multipath ? " multipath" : "", held);
}

// clang-format off
// The route: a unicast one names the interface; a gateway stands between, for certain; of
// many paths, the flow picks one; anything else, or a damaged answer, says nothing.
const scriptcase routecases[] = {
  {"direct route", "route 3", "found on 3"},
  {"route through a gateway", "route 3 gateway", "none"},
  {"route by RTA_VIA", "route 3 via", "none"},
  {"route of many paths", "route 3 multipath", "found multipath"},
  {"to this host", "local 1", "none"},
  {"no interface", "route 0", "unknown"},
  {"unreachable", "unreachable 3", "unknown"},
  {"blackhole", "blackhole 3", "unknown"},
  {"short RTA_OIF", "route 3, attrlen 6", "unknown"},
  {"body shorter than rtmsg", "route 3, body 3", "unknown"},
};

// With a zone, the route must leave by the zone's interface: by another, no entry on the
// zone's link is the client's.
const scriptcase zoneroutecases[] = {
  {"by the zone's interface", "route 3", "found on 3"},
  {"by another interface", "route 4", "none"},
  {"through a gateway on it", "route 3 gateway", "none"},
};

// A late answer to an earlier request is no answer to this one, whatever it says.
const scriptcase sequencecases[] = {
  {"earlier request's route", "earlier: route 9", "more"},
  {"earlier request's gateway", "earlier: route 9 via", "more"},
  {"earlier route, then this one", "earlier: route 9, route 3", "found on 3"},
  {"earlier route, then a gateway", "earlier: route 9, route 3 gateway", "none"},
  {"earlier request's error, then the route", "earlier: error -ENOENT, route 3", "found on 3"},
  {"a later request's route", "later: route 9", "more"},
};

// The kernel's "no such entry" for a neighbour get is its word: there is none to give.
// Any other error, and NLMSG_DONE, end the answer without settling it.
const scriptcase errorcases[] = {
  {"no such entry", "error -ENOENT", "none"},
  {"no such route", "error -ENOENT route", "unknown"},
  {"not supported", "error -EOPNOTSUPP", "unknown"},
  {"invalid", "error -EINVAL", "unknown"},
  {"network unreachable", "error -ENETUNREACH route", "unknown"},
  {"acknowledgement", "error 0", "unknown"},
  {"error cut short", "error -ENOENT, body 4", "unknown"},
  {"done", "done", "unknown"},
  {"error, then a route", "error -EINVAL, route 3", "unknown"},
  {"an empty datagram", "", "more"},
};

// A damaged datagram or attribute makes the message worthless: nothing in it is read.
const scriptcase damagecases[] = {
  {"message longer than the datagram", "route 3, msglen +4", "unknown"},
  {"message ending past the datagram, in padding", "route 3, msglen +2", "unknown"},
  {"message shorter than its header", "route 3, msglen 15", "unknown"},
  {"datagram cut in a header", "earlier: route 9, cut 8", "more"},
  {"gateway past the body", "route 3 gateway, attrlen 64", "unknown"},
  {"interface past the body", "route 3, attrlen 64", "unknown"},
  {"attribute shorter than its header", "route 3, attrlen 3", "unknown"},
  {"attribute cut in its header", "route 3, attrcut 2", "found on 3"},
};

// The client's entry on the interface asked: its link-layer address, in a state other
// than NOARP; without one it has none to give; another entry says nothing.
const scriptcase neighbourcases[] = {
  {"reachable", "neigh $10 3 10", "found on 3 &10"},
  {"stale", "neigh $10 3 stale 10", "found on 3 &10"},
  {"permanent", "neigh $10 3 permanent 10", "found on 3 &10"},
  {"probing", "neigh $10 3 probing 10", "found on 3 &10"},
  {"NOARP, this host's own", "neigh $10 3 noarp 10", "none on 3"},
  {"incomplete, no address", "neigh $10 3 incomplete", "none on 3"},
  {"failed, no address", "neigh $10 3 failed", "none on 3"},
  {"empty link address", "neigh $10 3 00/0", "none on 3"},
  // At most 10 bytes, as the table's hardware addresses hold at most 31 characters.
  {"10-byte link address", "neigh $10 3 10/10", "found on 3 &00:00:00:00:10"},
  {"11-byte link address", "neigh $10 3 11/11", "none on 3"},
  {"20-byte link address", "neigh $10 3 20/20", "none on 3"},
  {"32-byte link address", "neigh $10 3 32/32", "none on 3"},
  {"33-byte link address", "neigh $10 3 33/33", "none on 3"},
  {"another client", "neigh $11 3 11", "unknown on 3"},
  {"another interface", "neigh $10 4 10", "unknown on 3"},
  {"another family", "neigh ::ffff:$10 3 10", "unknown on 3"},
  {"no destination", "neigh - 3 10", "unknown on 3"},
  {"another message type", "neigh $10 3 10, type newlink", "unknown on 3"},
  {"link address past the body", "neigh $10 3 10, attrlen 64", "unknown on 3"},
};

// The dump of every IPv6 neighbour, read for the route's interface: the client's entry
// there settles it; every other entry, on any link, is passed over, across datagrams,
// until NLMSG_DONE ends it.
const scriptcase dumpcases[] = {
  {"client listed second", "dump @11 3 11, dump @10 3 10", "found on 3 &10"},
  {"on another link first", "dump @10 2 02, dump @10 3 03", "found on 3 &03"},
  {"on another link only", "dump @10 2 02, done", "unknown on 3"},
  {"others, then done", "dump @11 3 11, done", "unknown on 3"},
  {"others, and more to come", "dump @11 3 11", "more on 3"},
  {"in the second datagram", "dump @11 3 11 | dump @12 3 12, dump @10 3 10", "found on 3 &10"},
  {"done in the second datagram", "dump @11 3 11 | done", "unknown on 3"},
  {"NOARP on the route's link", "dump @10 3 noarp 03", "none on 3"},
  {"no address on the route's link", "dump @10 3 failed", "none on 3"},
  {"NOARP on another link, passed over", "dump @10 2 noarp 02, dump @10 3 03", "found on 3 &03"},
  {"no address on another link, passed over", "dump @10 2 failed, dump @10 3 03",
   "found on 3 &03"},
  {"an earlier dump's entry", "earlier: dump @10 3 02, done", "unknown on 3"},
  {"a get's answer ends it", "neigh @11 3 11, dump @10 3 10", "unknown on 3"},
};

// A link-local client without a zone is on whichever link lists it: the dump of every
// link must list one address for it, the same on every link that lists it, and end; an
// entry with no address to give, on any link, is a disagreement too.
const scriptcase everylinkcases[] = {
  {"one link lists it", "dump fe80::11 2 11, dump fe80::10 3 10, done", "found &10"},
  {"the same address on two links", "dump fe80::10 2 10, dump fe80::10 3 10, done", "found &10"},
  {"two addresses on two links", "dump fe80::10 2 02, dump fe80::10 3 03, done", "none &02"},
  {"listed, and more to come", "dump fe80::10 2 10", "more &10"},
  {"listed, then done in the next datagram", "dump fe80::10 2 10 | done", "found &10"},
  {"another address in the next datagram", "dump fe80::10 2 02 | dump fe80::10 3 03, done",
   "none &02"},
  {"no link lists it", "dump fe80::11 2 11, done", "unknown"},
  {"NOARP on one link first", "dump fe80::10 2 noarp 02, dump fe80::10 3 03, done", "none"},
  {"NOARP on one link after", "dump fe80::10 2 02, dump fe80::10 3 noarp 03, done", "none &02"},
  {"no address on one link first", "dump fe80::10 2 failed, dump fe80::10 3 03, done", "none"},
  {"incomplete on one link after", "dump fe80::10 2 02 | dump fe80::10 3 incomplete, done",
   "none &02"},
  {"an earlier dump's address", "earlier: dump fe80::10 2 02, dump fe80::10 3 03, done",
   "found &03"},
};
// clang-format on

// The policy rules: what each selects the route by beyond its destination, which must be
// known of the reply before its route is; the input interface is every reply's (lo), the
// table and priority are no selectors. A selector the program does not know, or a damaged
// rule, is one it can never know. A kernel without policy routing refuses the dump: no
// rule selects on anything.
// clang-format off
const scriptcase rulecases[] = {
  {"the default rules", "rule table, rule table priority protocol, done", "found"},
  {"a source rule", "rule from table, done", "found source"},
  {"a mark", "rule fwmark table, done", "found mark"},
  {"a mark's mask", "rule fwmask table, done", "found mark"},
  {"an owner", "rule uidrange table, done", "found owner"},
  {"a protocol", "rule ipproto table, done", "found flow"},
  {"a source port", "rule sport table, done", "found flow"},
  {"a destination port", "rule dport table, done", "found flow"},
  {"a VRF's rule", "rule l3mdev, done", "found domain"},
  {"an output device", "rule oif table, done", "found domain"},
  {"an input device", "rule iif table, done", "found"},
  {"a tunnel id", "rule tunid table, done", "found"},
  {"a tos", "rule tos table, done", "found unknown"},
  {"a port range's mask", "rule sport sportmask, rule dport dportmask, done", "found flow"},
  {"a DSCP", "rule dscp table, done", "found unknown"},
  {"a flow label", "rule flowlabel table, done", "found unknown"},
  {"a selector newer than the program", "rule newer table, done", "found unknown"},
  {"several rules", "rule from table, rule fwmark, rule l3mdev, done", "found source mark domain"},
  {"another family's", "rule inet6 from fwmark, done", "found"},
  {"in two datagrams", "rule from | rule uidrange, done", "found source owner"},
  {"not done yet", "rule from", "more source"},
  {"a rule cut short", "rule from table, body 4, done", "found unknown"},
  {"an attribute past the rule", "rule fwmark, attrlen 64, done", "found unknown"},
  {"no policy routing", "error -EOPNOTSUPP rules", "found"},
  {"refused otherwise", "error -EINVAL rules", "unknown"},
};

// The server's open connection with the client (192.0.2.10, port 40000), as socket
// diagnostics list it: exactly one must fit, and then it names the reply's source and
// port, the device its socket is bound to and its owner. An IPv4 client stands in an IPv6 socket by its mapped address.
const scriptcase socketcases[] = {
  {"the connection", "socket $10/40000 $1/80 uid 33, done", "found 1 from $1/80 if 0 uid 33"},
  {"bound to a VRF, marked", "socket $10/40000 $1/80 if 7 mark 5, done",
   "found 1 from $1/80 if 7 uid 0"},
  {"on an IPv6 socket", "socket ::ffff:$10/40000 ::ffff:$1/8080, done",
   "found 1 from ::ffff:$1/8080 if 0 uid 0"},
  {"another port of the client", "socket $10/40001 $1/80, done", "unknown"},
  {"another client", "socket $11/40000 $1/80, done", "unknown"},
  {"an IPv6 client's", "socket @10/40000 @1/80, done", "unknown"},
  {"two fit", "socket $10/40000 $1/80, socket $10/40000 $2/80 if 7, done",
   "unknown 2 from $2/80 if 7 uid 0"},
  {"none listed", "done", "unknown"},
  {"in the second datagram", "socket $11/40000 $1/80 | socket $10/40000 $1/80, done",
   "found 1 from $1/80 if 0 uid 0"},
  {"refused", "error -ENOENT", "unknown"},
};
// clang-format on

// ---- The kernel's socket ----

// A kernel of the test's own, for ask(): the C library's socket, sendto and recvfrom are replaced
// in this executable by the three below, which the program's calls bind to. It keeps the
// last question, and each one's kind and sequence number, and answers with the datagrams
// of the case's script, one per read, numbered for the question asked; when they run
// out, the read times out.
struct {
  const char *replies;
  size_t next, requestlength;
  unsigned sequence;
  char questions[96];
  unsigned char request[128];
} kernel;

} // namespace

// The socket the program opens for its socket diagnostics, which qemu-user refuses: the
// stand-in kernel answers on it as on any other.
extern "C" int socket(int, int, int) {
  return 1000;
}

extern "C" ssize_t sendto(int, const void *buffer, size_t length, int, const sockaddr *,
                          socklen_t) {
  nlmsghdr header;
  kernel.requestlength = length < sizeof kernel.request ? length : sizeof kernel.request;
  memcpy(kernel.request, buffer, kernel.requestlength);
  memcpy(&header, kernel.request, sizeof header);
  kernel.sequence = header.nlmsg_seq;
  const bool dump = (header.nlmsg_flags & NLM_F_DUMP) != 0;
  const size_t used = strlen(kernel.questions);
  snprintf(kernel.questions + used, sizeof kernel.questions - used, "%s%s", used > 0 ? " " : "",
           header.nlmsg_type == RTM_GETROUTE      ? "route"
           : header.nlmsg_type == RTM_GETRULE     ? "rules"
           : header.nlmsg_type == TCPDIAG_GETSOCK ? "sockets"
           : dump                                 ? "dump"
                                                  : "neigh");
  return static_cast<ssize_t>(length);
}

extern "C" ssize_t recvfrom(int, void *buffer, size_t length, int, sockaddr *from,
                            socklen_t *fromlength) {
  static datagram d;
  if (kernel.replies == nullptr || !build(kernel.replies, kernel.next++, kernel.sequence, d)) {
    errno = EAGAIN;
    return -1;
  }
  const sockaddr_nl sender = {AF_NETLINK, 0, d.port, 0};
  memcpy(from, &sender, *fromlength < sizeof sender ? *fromlength : sizeof sender);
  *fromlength = sizeof sender;
  memcpy(buffer, d.bytes, d.length < length ? d.length : length);
  return static_cast<ssize_t>(d.claim != 0 ? d.claim : d.length);
}

namespace {

// Reads the client, and after it the server's address ("-" for none), the client's port
// and the server's port where the text names them, as the program reads its variables, and
// puts to the stand-in kernel, which answers with replies, the question named: the route,
// the dump, or the whole lookup.
bool pose(const char *client, const char *question, const char *replies, neighbourquery &query,
          answer &result) {
  text expanded;
  char address[64] = "", server[64] = "-", clientport[8] = "", serverport[8] = "";
  sscanf(expand(client, expanded), "%63s %63s %7s %7s", address, server, clientport, serverport);
  const addresskind kind = readclient(address, query);
  if (kind != addresskind::ipv4 && kind != addresskind::ipv6)
    return false;
  takeserver(strcmp(server, "-") != 0 ? server : nullptr, query);
  query.clientport = parseport(clientport);
  query.serverport = parseport(serverport);
  kernel = {};
  kernel.replies = replies;
  result = strcmp(question, "route") == 0  ? askroute(-1, true, query)
           : strcmp(question, "dump") == 0 ? askneighbour(-1, true, query)
                                           : findneighbour(-1, query); // no socket: ours answers
  kernel.replies = nullptr;
  return true;
}

// The client, with the server's variables after it, and the script of the kernel's
// replies to the questions put for it, one datagram for each read.
struct askcase {
  const char *name, *client, *replies, *want;
};

// The questions that were put for the one that context names, and the answer, with its
// link-layer address.
void asktest(const askcase &c, const char *question, text &got) {
  neighbourquery query = {};
  answer result;
  if (!pose(c.client, question, c.replies, query, result))
    snprintf(got, sizeof got, "no address");
  else
    snprintf(got, sizeof got, "%s: %s%s%s", kernel.questions, answernames[static_cast<int>(result)],
             query.hwaddress[0] != '\0' ? " " : "", query.hwaddress);
}

// clang-format off
// Only the kernel (port 0) answers: any process may send to a netlink socket, and what it
// sends, however well made, is no answer. Nor is a datagram cut short by the buffer, or
// no datagram at all: the question failed.
const askcase sendercases[] = {
  {"the kernel's answer", "$10", "route 3", "route: found"},
  {"another socket's answer", "$10", "port 4242, route 3", "route: failed"},
  {"another socket's, then the kernel's", "$10", "port 4242, route 3 | route 3", "route: failed"},
  {"larger than the buffer", "$10", "claim 8193, route 3", "route: failed"},
  {"no answer in time", "$10", "", "route: failed"},
  {"an earlier question's answer first", "$10", "earlier: route 9 | route 3", "route: found"},
};

// A dump is read datagram by datagram until it settles the client or ends.
const askcase dumpreadcases[] = {
  {"in the second datagram", "@10", "dump @11 2 11 | dump @10 3 10", "dump: found &10"},
  {"ended, not listed", "@10", "dump @11 2 11 | done", "dump: unknown"},
  {"another socket's second datagram", "@10", "dump @11 2 11 | port 4242, dump @10 3 10",
   "dump: failed"},
};

// The whole lookup of the kernel's tables: the route, then the entry on its interface,
// then, for IPv6, the dump there; each answer decides whether the next question is put. A
// route that cannot be learned ends it: no entry is the client's for certain.
const askcase lookupcases[] = {
  // IPv4.
  {"listed on the route's link", "$10", "done | route 3 | neigh $10 3 10", "rules route neigh: found &10"},
  {"behind a gateway", "$10", "done | route 3 gateway", "rules route: none"},
  {"of many paths", "$10", "done | route 3 multipath", "rules route sockets: none"},
  {"this host's own address", "$10", "done | local 1", "rules route: none"},
  {"no such entry", "$10", "done | route 3 | error -ENOENT", "rules route neigh: none"},
  {"the get refused", "$10", "done | route 3 | error -EOPNOTSUPP", "rules route neigh: unknown"},
  {"no route", "$10", "done | error -ENETUNREACH route", "rules route: none"},
  {"no route from the server's address", "$10 $1", "done | error -ENETUNREACH route", "rules route: none"},
  {"the route unanswered", "$10", "done", "rules route: none"},
  {"the route from another socket", "$10", "done | port 4242, route 3", "rules route: none"},
  {"incomplete on the route's link", "$10", "done | route 3 | neigh $10 3 incomplete", "rules route neigh: none"},
  // IPv6: the dump only where the get cannot say.
  {"IPv6 listed", "@10", "done | route 3 | neigh @10 3 10", "rules route neigh: found &10"},
  {"IPv6 no such entry, no dump", "@10", "done | route 3 | error -ENOENT", "rules route neigh: none"},
  {"IPv6 the get refused, the dump", "@10", "done | route 3 | error -EOPNOTSUPP | dump @10 5 05, dump @10 3 10, done", "rules route neigh dump: found &10"},
  {"IPv6 the get refused, listed elsewhere", "@10", "done | route 3 | error -EOPNOTSUPP | dump @10 5 05, done", "rules route neigh dump: unknown"},
  {"IPv6 no route, no dump", "@10", "done | error -ENETUNREACH route | dump @10 5 10", "rules route: none"},
  // Zones: the route is asked by the zone's interface, and must leave by it, unless the
  // address is link-local, which names its link alone.
  {"zone, routed by it", "@10%lo", "done | route 1 | neigh @10 1 10", "rules route neigh: found &10"},
  {"zone, routed by another interface", "@10%lo", "done | route 3", "rules route: none"},
  {"zone, no route", "@10%lo", "done | error -ENETUNREACH route", "rules route: none"},
  {"link-local zone, no route", "fe80::10%lo", "done | error -ENETUNREACH route | neigh fe80::10 1 10", "rules route neigh: found &10"},
  // A link-local client without a zone: the dump of every link, once the route has said
  // that the client is not this host, whatever link the route names.
  {"link-local on one link", "fe80::10", "done | route 5 | dump fe80::10 3 10, done", "rules route dump: found &10"},
  {"link-local, two addresses", "fe80::10", "done | route 5 | dump fe80::10 2 02, dump fe80::10 3 03", "rules route dump: none &02"},
  {"link-local, no route", "fe80::10", "done | error -ENETUNREACH route | dump fe80::10 3 10, done", "rules route dump: found &10"},
  {"link-local, this host's own", "fe80::10", "done | local 1", "rules route: none"},
  {"link-local, the route unanswered", "fe80::10", "done", "rules route: none"},
  // The rules say what the route depends on; the variables, and else the connection, must
  // tell it: the connection is asked only then, and without it, or with two, no route is
  // the reply's for certain. The client text names the server's address ("-" for none),
  // the client's port and the server's.
  {"no policy routing", "$10", "error -EOPNOTSUPP rules | route 3 | neigh $10 3 10",
   "rules route neigh: found &10"},
  {"the rules unanswered", "$10", "", "rules: none"},
  {"the rules refused", "$10", "error -EINVAL rules", "rules: none"},
  {"a source rule, the server's IPv4 address, no connection", "$10 $1 40000",
   "rule from, done | done | route 3 | neigh $10 3 10", "rules sockets route neigh: found &10"},
  {"a source rule, the server's address the connection's", "$10 $1 40000",
   "rule from, done | socket $10/40000 $1/80, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a source rule, the server's address not the connection's", "$10 $2 40000",
   "rule from, done | socket $10/40000 $1/80, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a source rule, no client port, the server's", "$10 - - 80",
   "rule from, done | socket $10/40000 $1/80, socket $10/40001 $1/443, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a source rule, no address, no port", "$10", "rule from, done", "rules sockets: none"},
  {"a source rule, the connection's address", "$10 - 40000",
   "rule from, done | socket $10/40000 $1/80, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a source rule, on an IPv6 socket", "$10 - 40000",
   "rule from, done | socket ::ffff:$10/40000 ::ffff:$1/80, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a source rule, an IPv6 server address", "@10 @1",
   "rule inet6 from, done | done", "rules sockets: none"},
  {"a source rule, two connections", "$10 - 40000",
   "rule from, done | socket $10/40000 $1/80, socket $10/40000 $2/80, done", "rules sockets: none"},
  {"a VRF, no connection", "$10 $1", "rule l3mdev, done | done", "rules sockets: none"},
  {"a VRF, the connection", "$10 $1 40000 80",
   "rule l3mdev, done | socket $10/40000 $1/80 if 7, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a port rule, the connection", "$10 $1 40000 80",
   "rule sport, done | socket $10/40000 $1/80, done | route 3 | neigh $10 3 10",
   "rules sockets route neigh: found &10"},
  {"a mark rule, the mark never read", "$10 $1 40000 80",
   "rule fwmark, done | socket $10/40000 $1/80, done", "rules sockets: none"},
  {"a tos rule", "$10 $1 40000 80", "rule tos, done | socket $10/40000 $1/80, done",
   "rules sockets: none"},
  // Of many paths, the whole flow picks the reply's: the connection tells it.
  {"many paths, the connection", "@10 @1 40000 80",
   "done | route 3 multipath | socket @10/40000 @1/80, done | route 4 | neigh @10 4 10",
   "rules route sockets route neigh: found &10"},
  {"many paths, no connection", "@10 @1", "done | route 3 multipath | done", "rules route sockets: none"},
  {"many paths, the path through a gateway", "@10 @1 40000 80",
   "done | route 3 multipath | socket @10/40000 @1/80, done | route 4 gateway",
   "rules route sockets route: none"},
};
// clang-format on

// The client, with the server's variables after it, and the question put for it: the
// route, or the dump.
struct questioncase {
  const char *name, *client, *question, *want;
};

// The question as put: its type and flags, the family and, for a route, the prefix length,
// "on" the interface asked (RTA_OIF of a route, ndm_ifindex of a neighbour), "dst" when it
// names the client (RTA_DST), "from" the source it names (RTA_SRC) and that prefix
// length, "fibmatch" when it asks for the route itself, and whether its length, or an
// attribute's, is wrong, or its number not new.
void questiontest(const questioncase &c, const char *, text &got) {
  static unsigned last = 0;
  neighbourquery query = {};
  answer result;
  nlmsghdr header;
  rtmsg route;
  const char *body = reinterpret_cast<const char *>(kernel.request) + NLMSG_HDRLEN;
  if (!pose(c.client, c.question, nullptr, query, result) ||
      kernel.requestlength < NLMSG_HDRLEN + sizeof route)
    return static_cast<void>(snprintf(got, sizeof got, "no question"));
  memcpy(&header, kernel.request, sizeof header);
  memcpy(&route, body, sizeof route);
  unsigned interface = 0;
  bool destination = false;
  char source[INET6_ADDRSTRLEN] = "", flow[96] = "";
  const auto visit = [&](unsigned type, const char *payload, size_t size) {
    if (type == RTA_OIF && size == sizeof interface)
      memcpy(&interface, payload, size);
    destination |=
        type == RTA_DST && size == addresslength(query) && memcmp(payload, query.client, size) == 0;
    if (type == RTA_SRC && size == addresslength(query))
      inet_ntop(query.family, payload, source, sizeof source);
    // A number of the attribute's own width, in this CPU's order (a port's is the network's).
    unsigned value = static_cast<unsigned char>(payload[0]);
    if (size == 2) {
      unsigned short half;
      memcpy(&half, payload, sizeof half);
      value = half;
    } else if (size == 4) {
      memcpy(&value, payload, sizeof value);
    }
    const size_t used = strlen(flow);
    if (type == RTA_IP_PROTO && size == 1)
      snprintf(flow + used, sizeof flow - used, " %s", value == IPPROTO_TCP ? "tcp" : "other");
    else if ((type == RTA_SPORT || type == RTA_DPORT) && size == 2)
      snprintf(flow + used, sizeof flow - used, " %s %u", type == RTA_SPORT ? "sport" : "dport",
               ntohs(static_cast<unsigned short>(value)));
    else if ((type == RTA_UID || type == RTA_MARK) && size == 4)
      snprintf(flow + used, sizeof flow - used, " %s %u", type == RTA_UID ? "uid" : "mark", value);
  };
  const bool whole =
      header.nlmsg_len == kernel.requestlength &&
      eachattribute(body, kernel.requestlength - NLMSG_HDRLEN, NLMSG_ALIGN(sizeof route), visit);
  char prefix[8] = "", from[64] = "";
  if (header.nlmsg_type == RTM_GETROUTE)
    snprintf(prefix, sizeof prefix, "/%u", route.rtm_dst_len);
  else
    memcpy(&interface, body + offsetof(ndmsg, ndm_ifindex), sizeof interface);
  if (*source != '\0')
    snprintf(from, sizeof from, " from %s/%u", source, route.rtm_src_len);
  const bool fibmatch =
      header.nlmsg_type == RTM_GETROUTE && (route.rtm_flags & RTM_F_FIB_MATCH) != 0;
  snprintf(got, sizeof got, "%s %s %s%s on %u%s%s%s%s%s%s",
           nameof(questiontypes, header.nlmsg_type), nameof(questionflags, header.nlmsg_flags),
           nameof(families, route.rtm_family), prefix, interface, destination ? " dst" : "", from,
           flow, fibmatch ? " fibmatch" : "", whole ? "" : ", damaged",
           header.nlmsg_seq > last ? "" : ", an old number");
  last = header.nlmsg_seq;
}

// The questions as put: for the client's address, numbered, with the zone's interface;
// from the address the server names, where it is one of the client's family, as the reply
// leaves; for the route itself, whose many paths, if it has them, then show.
// clang-format off
const questioncase questioncases[] = {
  {"route to an IPv4 client", "$10", "route", "route get inet/32 on 0 dst fibmatch"},
  {"route to an IPv6 client", "@10", "route", "route get inet6/128 on 0 dst fibmatch"},
  {"route by the zone's interface", "@10%lo", "route",
   "route get inet6/128 on 1 dst fibmatch"},
  {"dump of every link", "fe80::10", "dump", "neigh dump inet6 on 0"},
  {"from the server's address", "$10 $1", "route", "route get inet/32 on 0 dst from $1/32 fibmatch"},
  {"from a mapped server address", "$10 [::ffff:$1]:80", "route",
   "route get inet/32 on 0 dst from $1/32 fibmatch"},
  {"from an IPv6 server address", "@10 [@1]", "route", "route get inet6/128 on 0 dst from @1/128 fibmatch"},
  {"from a server address with a zone", "@10%lo @1%lo", "route",
   "route get inet6/128 on 1 dst from @1/128 fibmatch"},
  {"from a mapped server, an IPv6 client", "@10 ::ffff:$1", "route",
   "route get inet6/128 on 0 dst fibmatch"},
  {"from an IPv6 server, an IPv4 client", "$10 @1", "route",
   "route get inet/32 on 0 dst fibmatch"},
  {"from a list of servers", "$10 $1,$2", "route",
   "route get inet/32 on 0 dst fibmatch"},
  {"from a word", "$10 localhost", "route", "route get inet/32 on 0 dst fibmatch"},
  // No reply leaves from the unspecified address, nor from loopback, where a server behind
  // a local proxy is: no source. The server's zone names a link-local client's link.
  {"from 0.0.0.0", "$10 0.0.0.0", "route", "route get inet/32 on 0 dst fibmatch"},
  {"from ::ffff:0.0.0.0", "$10 ::ffff:0.0.0.0", "route", "route get inet/32 on 0 dst fibmatch"},
  {"from ::", "@10 ::", "route", "route get inet6/128 on 0 dst fibmatch"},
  {"from 127.0.0.1, a local proxy", "$10 127.0.0.1", "route", "route get inet/32 on 0 dst fibmatch"},
  {"from ::1, a local proxy", "@10 ::1", "route", "route get inet6/128 on 0 dst fibmatch"},
  {"link-local client, the server's zone", "fe80::10 fe80::1%lo", "route",
   "route get inet6/128 on 1 dst from fe80::1/128 fibmatch"},
  // The flow's protocol and ports, as the reply's: from the server's port to the client's.
  {"both ports", "$10 $1 40000 80", "route",
   "route get inet/32 on 0 dst from $1/32 tcp sport 80 dport 40000 fibmatch"},
  {"the client's port alone", "$10 $1 40000", "route", "route get inet/32 on 0 dst from $1/32 fibmatch"},
  {"a port past 65535", "$10 $1 70000 80", "route", "route get inet/32 on 0 dst from $1/32 fibmatch"},
  {"a port with a letter", "$10 $1 4000a 80", "route", "route get inet/32 on 0 dst from $1/32 fibmatch"},
  {"port 0", "$10 $1 0 80", "route", "route get inet/32 on 0 dst from $1/32 fibmatch"},
};
// clang-format on

// ---- The name it was called by ----

// The name the program was called by (argv[0]), null for none.
struct namecase {
  const char *name, *called, *want;
};

// What the program answers as, by the name it was called by: "cgi" (the header, then the
// address) or "bare" (the address alone).
void nametest(const namecase &c, const char *, text &got) {
  snprintf(got, sizeof got, "%s", iscginame(c.called) ? "cgi" : "bare");
}

// A name that ends in ".cgi" is a CGI program's; the program's own name, which a wrapper
// runs it by, and every other name, are not, nor is no name at all (argc 0).
// clang-format off
const namecase namecases[] = {
  {"link in a cgi-bin", "/www/cgi-bin/clientmac.cgi", "cgi"},
  {"name alone, as some servers pass it", "clientmac.cgi", "cgi"},
  {"another name", "mac.cgi", "cgi"},
  {"the suffix alone", ".cgi", "cgi"},
  {"own name, by a wrapper", "/usr/bin/clientmac", "bare"},
  {"own name alone", "clientmac", "bare"},
  {"a directory named .cgi", "/www/x.cgi/clientmac", "bare"},
  {"suffix in capitals", "/www/cgi-bin/clientmac.CGI", "bare"},
  {"suffix then more", "clientmac.cgi.old", "bare"},
  {"no dot", "clientmaccgi", "bare"},
  {"shorter than the suffix", "cgi", "bare"},
  {"empty name", "", "bare"},
  {"no name (argc 0)", nullptr, "bare"},
};
// clang-format on

} // namespace

int main() {
  rules("trim", trimcases, trimtest);
  rules("mapped", mappedcases, readclienttest);
  rules("IPv6", ipv6cases, readclienttest);
  rules("zone", zonecases, readclienttest);
  rules("one address", wholecases, readclienttest);
  rules("table", tablecases, arptest);
  rules("routing table", routetablecases, routetest);
  rules("route", routecases, scantest, "192.0.2.10 route");
  rules("route by a zone", zoneroutecases, scantest, "192.0.2.10 route zone 3");
  rules("sequence", sequencecases, scantest, "192.0.2.10 route");
  rules("error", errorcases, scantest, "192.0.2.10 neigh");
  rules("damage", damagecases, scantest, "192.0.2.10 route");
  rules("neighbour", neighbourcases, scantest, "192.0.2.10 neigh on 3");
  rules("dump", dumpcases, scantest, "2001:db8::10 neigh on 3");
  rules("every link", everylinkcases, scantest, "fe80::10 neigh");
  rules("rules", rulecases, scantest, "192.0.2.10 rules");
  rules("connection", socketcases, scantest, "192.0.2.10 sockets port 40000");
  rules("sender", sendercases, asktest, "route");
  rules("dump read", dumpreadcases, asktest, "dump");
  rules("lookup", lookupcases, asktest, "lookup");
  rules("question", questioncases, questiontest);
  rules("name", namecases, nametest);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
