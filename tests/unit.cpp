// The lookup's rules, one case a line, on the program's own functions: the client text,
// the scan of the ARP table, and the parser of the kernel's answers, on tables and
// datagrams made here. It needs nothing but the compiler: no privilege, no namespace, no
// kernel: the test stands in for the kernel's end of the netlink socket. Each failing case
// prints one line; the last line counts them all.

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

// Records one case of group: held, or failed with what came and what was wanted.
void judge(const char *group, const char *name, bool held, std::string_view got,
           std::string_view want) {
  if (held) {
    ++passed;
    return;
  }
  ++failed;
  printf("FAIL %s: %s: got '%.*s', want '%.*s'\n", group, name, static_cast<int>(got.size()),
         got.data(), static_cast<int>(want.size()), want.data());
}

// ---- The client text ----

// Whitespace around the client is set aside; a list names no single client.
struct trimcase {
  const char *name, *client;
  bool single;
  const char *text;
} const trimcases[] = {
    {"bare address", "192.0.2.10", true, "192.0.2.10"},
    {"spaces around", "  192.0.2.10  ", true, "192.0.2.10"},
    {"tab and newline around", "\t192.0.2.10\n", true, "192.0.2.10"},
    {"carriage return after", "2001:db8::22\r\n", true, "2001:db8::22"},
    {"vertical tab and form feed", "\v\f192.0.2.10", true, "192.0.2.10"},
    {"empty", "", true, ""},
    {"blanks only", "   ", true, ""},
    {"two addresses", "192.0.2.10 192.0.2.11", false, ""},
    {"forwarded-for list", "192.0.2.10, 203.0.113.200", false, ""},
    {"joined by a comma", "192.0.2.10,192.0.2.11", false, ""},
    {"trailing comma", "192.0.2.10,", false, ""},
    {"words after a newline", "192.0.2.10\nx", false, ""},
};

void trimrules() {
  for (const trimcase &c : trimcases) {
    std::string_view text;
    const bool single = trimclient(c.client, text);
    judge("trim", c.name, single == c.single && (!single || text == c.text),
          single ? text : "a list", c.single ? c.text : "a list");
  }
}

constexpr std::string_view kindname(clientkind kind) {
  return kind == clientkind::ipv4        ? "ipv4"
         : kind == clientkind::ipv6      ? "ipv6"
         : kind == clientkind::noaddress ? "noaddress"
                                         : "unknownzone";
}

// Each case: a client text, what it asks for, and for an address, the address (as
// inet_pton reads it), the interface its zone names, and whether every link must agree.
struct classifycase {
  const char *name, *client;
  clientkind kind;
  const char *address;
  unsigned ifindex;
  bool everylink;
};

// A dotted quad, and every form of an IPv4-mapped address, stand for an IPv4 client.
const classifycase mappedcases[] = {
    {"dotted quad", "192.0.2.10", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped", "::ffff:192.0.2.10", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, bracketed", "[::ffff:192.0.2.10]", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, upper case", "::FFFF:192.0.2.10", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, in hex", "::ffff:c000:20a", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, in hex, bracketed", "[::ffff:c000:20a]", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, uncompressed", "0:0:0:0:0:ffff:c000:20a", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, with a zone", "::ffff:192.0.2.10%lo", clientkind::ipv4, "192.0.2.10", 0, false},
    {"compatible, not mapped", "::192.0.2.10", clientkind::ipv6, "::192.0.2.10", 0, false},
};

// IPv6: brackets and a zone are set aside, every way of writing an address is one; a
// link-local address without a zone is on every link.
const classifycase ipv6cases[] = {
    {"IPv6", "2001:db8::22", clientkind::ipv6, "2001:db8::22", 0, false},
    {"bracketed", "[2001:db8::22]", clientkind::ipv6, "2001:db8::22", 0, false},
    {"uncompressed, upper case", "2001:DB8:0:0:0:0:0:22", clientkind::ipv6, "2001:db8::22", 0,
     false},
    {"link-local", "fe80::22", clientkind::ipv6, "fe80::22", 0, true},
    {"link-local, bracketed", "[fe80::22]", clientkind::ipv6, "fe80::22", 0, true},
    {"link-local, top of fe80::/10", "febf::22", clientkind::ipv6, "febf::22", 0, true},
    {"site-local is no link-local", "fec0::22", clientkind::ipv6, "fec0::22", 0, false},
    {"global with a zone", "2001:db8::22%lo", clientkind::ipv6, "2001:db8::22", 1, false},
};

// A zone names its interface by name, or else by number; a zone that names no interface
// names no client.
const classifycase zonecases[] = {
    {"by name", "fe80::22%lo", clientkind::ipv6, "fe80::22", 1, false},
    {"by number", "fe80::22%1", clientkind::ipv6, "fe80::22", 1, false},
    {"bracketed", "[fe80::22%lo]", clientkind::ipv6, "fe80::22", 1, false},
    {"of no interface", "fe80::22%clientmac-none", clientkind::unknownzone, nullptr, 0, false},
    {"empty", "fe80::22%", clientkind::unknownzone, nullptr, 0, false},
    {"too long for a name", "fe80::22%0123456789abcdefgh", clientkind::unknownzone, nullptr, 0,
     false},
    {"digits, then a letter", "fe80::22%1a", clientkind::unknownzone, nullptr, 0, false},
};

// Text that is no address stands for the one IPv4 address within it as a whole address:
// the character before and the one after, where there are any, are neither a digit, a
// letter nor a dot. Text with none, or more than one, names no client.
const classifycase wholecases[] = {
    {"with a port", "192.0.2.10:8080", clientkind::ipv4, "192.0.2.10", 0, false},
    {"bracketed", "[192.0.2.10]", clientkind::ipv4, "192.0.2.10", 0, false},
    {"bracketed, with a port", "[192.0.2.10]:80", clientkind::ipv4, "192.0.2.10", 0, false},
    {"mapped, with a port", "[::ffff:192.0.2.10]:80", clientkind::ipv4, "192.0.2.10", 0, false},
    {"with a zone", "192.0.2.10%lan0", clientkind::ipv4, "192.0.2.10", 0, false},
    {"with a prefix length", "192.0.2.10/32", clientkind::ipv4, "192.0.2.10", 0, false},
    {"digit before", "1192.0.2.10", clientkind::noaddress, nullptr, 0, false},
    {"letter before", "a192.0.2.10", clientkind::noaddress, nullptr, 0, false},
    {"upper-case letter after", "192.0.2.10Z", clientkind::noaddress, nullptr, 0, false},
    {"dot after", "192.0.2.10.5", clientkind::noaddress, nullptr, 0, false},
    {"dot before", "5.192.0.2.10", clientkind::noaddress, nullptr, 0, false},
    {"joined by ;", "198.51.100.99;192.0.2.50", clientkind::noaddress, nullptr, 0, false},
    {"address and a port of two", "192.0.2.10:192.0.2.11", clientkind::noaddress, nullptr, 0,
     false},
    {"one whole, one a piece", "192.0.2.10;a192.0.2.11", clientkind::ipv4, "192.0.2.10", 0, false},
    {"three parts", "192.0.2", clientkind::noaddress, nullptr, 0, false},
    {"octet too large", "192.0.2.256", clientkind::noaddress, nullptr, 0, false},
    {"open bracket only", "[2001:db8::22", clientkind::noaddress, nullptr, 0, false},
    {"nine groups", "2001:db8:0:0:0:0:0:22:0", clientkind::noaddress, nullptr, 0, false},
    {"a word", "localhost", clientkind::noaddress, nullptr, 0, false},
    {"an interface name", "br-lan", clientkind::noaddress, nullptr, 0, false},
    {"empty", "", clientkind::noaddress, nullptr, 0, false},
};

template <size_t count>
void classifyrules(const char *group, const classifycase (&cases)[count]) {
  for (const classifycase &c : cases) {
    neighbourquery query = {};
    const clientkind kind = classify(c.client, query);
    bool held = kind == c.kind;
    if (held && c.address != nullptr) {
      const int family = c.kind == clientkind::ipv4 ? AF_INET : AF_INET6;
      unsigned char want[16] = {};
      held = inet_pton(family, c.address, want) == 1 && query.family == family &&
             memcmp(query.address, want, family == AF_INET ? 4 : 16) == 0 &&
             query.ifindex == c.ifindex && query.everylink == c.everylink;
    }
    char got[128];
    char address[INET6_ADDRSTRLEN] = "";
    inet_ntop(query.family == AF_INET ? AF_INET : AF_INET6, query.address, address, sizeof address);
    snprintf(got, sizeof got, "%s %s, interface %u%s", kindname(kind).data(), address,
             query.ifindex, query.everylink ? ", every link" : "");
    char want[128];
    snprintf(want, sizeof want, "%s %s, interface %u%s", kindname(c.kind).data(),
             c.address != nullptr ? c.address : "", c.ifindex, c.everylink ? ", every link" : "");
    judge(group, c.name, held, got, want);
  }
}

// ---- The ARP table ----

// A table holds a column number between two "\1" where spaces pad its line up to that
// column, so that a line longer than one read is exact.
#define COLUMN(n) "\1" #n "\1"

// The table as the program reads one: from a FILE *. uClibc-ng, as built for firmware
// here, has no fmemopen; a temporary file stands in there.
FILE *opentable(const char *text, char (&buffer)[1024]) {
  size_t length = 0, column = 0;
  for (const char *in = text; *in != '\0' && length < sizeof buffer - 1;) {
    if (*in == '\1') {
      char *next;
      const unsigned long to = strtoul(in + 1, &next, 10);
      in = next + 1;
      for (; column < to && length < sizeof buffer - 1; ++column)
        buffer[length++] = ' ';
      continue;
    }
    column = *in == '\n' ? 0 : column + 1;
    buffer[length++] = *in++;
  }
  buffer[length] = '\0';
#ifdef __UCLIBC__
  FILE *table = tmpfile();
  if (table != nullptr && (fputs(buffer, table) < 0 || fseek(table, 0, SEEK_SET) != 0)) {
    fclose(table);
    table = nullptr;
  }
  return table;
#else
  return fmemopen(buffer, length, "r");
#endif
}

#define HEADER "IP address       HW type     Flags       HW address            Mask     Device\n"

// Each case: a table, the client's dotted form, as the table lists addresses, the device
// the route names ("" when none is known), and the hardware address the scan gives ("" for
// none).
struct tablecase {
  const char *name, *table, *client, *device, *hwaddress;
} const tablecases[] = {
    // A complete entry's hardware address, exactly as listed.
    {"listed", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     "02:00:00:00:00:20"},
    {"upper-case hex as listed", HEADER "192.0.2.20 0x1 0x2 02:AB:CD:EF:00:20 * eth0\n",
     "192.0.2.20", "", "02:AB:CD:EF:00:20"},
    {"not listed", HEADER "192.0.2.21 0x1 0x2 02:00:00:00:00:21 * eth0\n", "192.0.2.20", "", ""},
    {"header only", HEADER, "192.0.2.20", "", ""},
    {"the titles are no entry", HEADER, "IP", "", ""},
    {"a piece of the client", HEADER "192.0.2.2 0x1 0x2 02:00:00:00:00:02 * eth0\n", "192.0.2.20",
     "", ""},
    {"the client a piece of it", HEADER "192.0.2.200 0x1 0x2 02:00:00:00:00:02 * eth0\n",
     "192.0.2.20", "", ""},
    {"the client, then more", HEADER "192.0.2.20.5 0x1 0x2 02:00:00:00:00:02 * eth0\n",
     "192.0.2.20", "", ""},
    {"the client after more", HEADER "::ffff:192.0.2.20 0x1 0x2 02:00:00:00:00:02 * eth0\n",
     "192.0.2.20", "", ""},
    // The first line that matches wins; later lines are not read.
    {"first of two",
     HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:01 * eth0\n"
            "192.0.2.20 0x1 0x2 02:00:00:00:00:02 * eth1\n",
     "192.0.2.20", "", "02:00:00:00:00:01"},
    {"past a piece of it",
     HEADER "192.0.2.2 0x1 0x2 02:00:00:00:00:02 * eth0\n"
            "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n",
     "192.0.2.20", "", "02:00:00:00:00:20"},
    // Flags: only an entry with the complete bit (0x2) holds its neighbour's address.
    {"flags 0x0, incomplete", HEADER "192.0.2.20 0x1 0x0 02:00:00:00:00:20 * eth0\n", "192.0.2.20",
     "", ""},
    {"flags 0x4, permanent only", HEADER "192.0.2.20 0x1 0x4 02:00:00:00:00:20 * eth0\n",
     "192.0.2.20", "", ""},
    {"flags 0xc", HEADER "192.0.2.20 0x1 0xc 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "", ""},
    {"flags 0x6", HEADER "192.0.2.20 0x1 0x6 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     "02:00:00:00:00:20"},
    {"flags 0xA", HEADER "192.0.2.20 0x1 0xA 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     "02:00:00:00:00:20"},
    {"flags 0x12", HEADER "192.0.2.20 0x1 0x12 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     "02:00:00:00:00:20"},
    {"flags not in hex", HEADER "192.0.2.20 0x1 2 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     ""},
    {"flags 0x alone", HEADER "192.0.2.20 0x1 0x 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "", ""},
    {"incomplete, then complete",
     HEADER "192.0.2.20 0x1 0x0 00:00:00:00:00:00 * eth0\n"
            "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n",
     "192.0.2.20", "", "02:00:00:00:00:20"},
    // The device: once the route names one, only its lines count, compared whole.
    {"on the route's device", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n", "192.0.2.20",
     "eth0", "02:00:00:00:00:20"},
    {"on another device", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth1\n", "192.0.2.20",
     "eth0", ""},
    {"the route's device second",
     HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:01 * eth1\n"
            "192.0.2.20 0x1 0x2 02:00:00:00:00:02 * eth0\n",
     "192.0.2.20", "eth0", "02:00:00:00:00:02"},
    {"a longer device name", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0.1\n", "192.0.2.20",
     "eth0", ""},
    {"a shorter device name", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth\n", "192.0.2.20",
     "eth0", ""},
    {"no device field", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 *\n", "192.0.2.20", "eth0",
     ""},
    {"no device field, none asked", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20\n", "192.0.2.20",
     "", "02:00:00:00:00:20"},
    // Fields: any whitespace between them; fewer than four make no entry.
    {"tabs and blanks", HEADER "  192.0.2.20\t0x1 \t 0x2\t02:00:00:00:00:20\t*\teth0\n",
     "192.0.2.20", "eth0", "02:00:00:00:00:20"},
    {"CRLF line end", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\r\n", "192.0.2.20",
     "eth0", "02:00:00:00:00:20"},
    {"no final newline", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0", "192.0.2.20", "eth0",
     "02:00:00:00:00:20"},
    {"three fields", HEADER "192.0.2.20 0x1 0x2\n", "192.0.2.20", "", ""},
    {"two fields", HEADER "192.0.2.20 0x1\n", "192.0.2.20", "", ""},
    {"address alone", HEADER "192.0.2.20\n", "192.0.2.20", "", ""},
    {"blank line", HEADER "\n\n192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n", "192.0.2.20", "",
     "02:00:00:00:00:20"},
    {"a long first field",
     HEADER "192.0.2.20000000000000000000000000000001 0x1 0x2 "
            "02:00:00:00:00:99 * eth0\n"
            "192.0.2.20 0x1 0x2 02:00:00:00:00:20 * eth0\n",
     "192.0.2.20", "", "02:00:00:00:00:20"},
    // Hardware addresses: hex pairs joined by colons, at most 31 characters.
    {"one pair", HEADER "192.0.2.20 0x1 0x2 02 * eth0\n", "192.0.2.20", "", "02"},
    {"ten pairs, 29 characters", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:00:00:00:00:20 * eth0\n",
     "192.0.2.20", "", "02:00:00:00:00:00:00:00:00:20"},
    {"eleven pairs, 32 characters",
     HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:00:00:00:00:00:20 * eth0\n", "192.0.2.20", "", ""},
    {"dashes", HEADER "192.0.2.20 0x1 0x2 02-00-00-00-00-20 * eth0\n", "192.0.2.20", "", ""},
    {"three digits in a byte", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:020 * eth0\n",
     "192.0.2.20", "", ""},
    {"one digit in a byte", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:2 * eth0\n", "192.0.2.20", "",
     ""},
    {"not a hex digit", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:2g * eth0\n", "192.0.2.20", "",
     ""},
    {"trailing colon", HEADER "192.0.2.20 0x1 0x2 02:00:00:00:00:20: * eth0\n", "192.0.2.20", "",
     ""},
    {"a word", HEADER "192.0.2.20 0x1 0x2 type * eth0\n", "192.0.2.20", "", ""},
    // A line longer than one read (255 characters) is judged by its head; its rest
    // belongs to it and is never an entry of its own, and no field cut by the read is
    // an answer.
    {"head of a long line",
     HEADER "192.0.2.70 0x1 0x2 02:00:00:00:00:70 * eth0" COLUMN(
         255) "192.0.2.71 0x1 0x2 02:00:00:00:00:99 * eth0\n",
     "192.0.2.70", "eth0", "02:00:00:00:00:70"},
    {"tail of a long line",
     HEADER "192.0.2.70 0x1 0x2 02:00:00:00:00:70 * eth0" COLUMN(
         255) "192.0.2.71 0x1 0x2 02:00:00:00:00:99 * eth0\n"
              "192.0.2.71 0x1 0x2 02:00:00:00:00:71 * eth0\n",
     "192.0.2.71", "", "02:00:00:00:00:71"},
    {"hw address past the read",
     HEADER COLUMN(222) "192.0.2.72 0x1 0x2 02:00:00:00:00:98 * eth0\n"
                        "192.0.2.72 0x1 0x2 02:00:00:00:00:72 * eth0\n",
     "192.0.2.72", "", "02:00:00:00:00:72"},
    {"hw address up to the read",
     HEADER COLUMN(219) "192.0.2.73 0x1 0x2 02:00:00:00:00:97 * eth0\n"
                        "192.0.2.73 0x1 0x2 02:00:00:00:00:73 * eth0\n",
     "192.0.2.73", "", "02:00:00:00:00:73"},
    {"device up to the read",
     HEADER COLUMN(212) "192.0.2.74 0x1 0x2 02:00:00:00:00:96 * eth0"
                        "x\n"
                        "192.0.2.74 0x1 0x2 02:00:00:00:00:74 * eth0\n",
     "192.0.2.74", "eth0", "02:00:00:00:00:74"},
    {"255 characters and newline", HEADER COLUMN(219) "192.0.2.75 0x1 0x2 02:00:00:00:00:75\n",
     "192.0.2.75", "", "02:00:00:00:00:75"},
    {"line after 255 characters",
     HEADER COLUMN(219) "192.0.2.75 0x1 0x2 02:00:00:00:00:75\n"
                        "192.0.2.76 0x1 0x2 02:00:00:00:00:76\n",
     "192.0.2.76", "", "02:00:00:00:00:76"},
    {"255 characters at the end", HEADER COLUMN(219) "192.0.2.77 0x1 0x2 02:00:00:00:00:77",
     "192.0.2.77", "", "02:00:00:00:00:77"},
};

void tablerules() {
  for (const tablecase &c : tablecases) {
    char buffer[1024];
    FILE *table = opentable(c.table, buffer);
    if (table == nullptr) {
      judge("table", c.name, false, "no FILE for the table", c.hwaddress);
      continue;
    }
    char line[linesize];
    const std::string_view hwaddress = findclient(table, c.client, c.device, line);
    judge("table", c.name, hwaddress == c.hwaddress, hwaddress, c.hwaddress);
    fclose(table);
  }
}

// ---- The routing table, where netlink is denied ----

// Each case: the routes, one a line as "IFACE DESTINATION/PREFIX GATEWAY FLAGS", in the
// order the kernel lists them, the client, and what the reader makes of it: "none" (the
// interface then unread), or "unknown" and the route's interface ("" for no route).
struct routecase {
  const char *name, *routes, *client, *result, *device;
};

// The routes as /proc/net/route writes them: a title line, then each address and mask as
// the kernel's 32-bit number in hexadecimal, in this machine's byte order.
void routetable(const char *routes, char (&buffer)[1024]) {
  int length = snprintf(buffer, sizeof buffer,
                        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
                        "\tWindow\tIRTT\n");
  char iface[16], destination[16], gateway[16];
  unsigned prefix, flags;
  for (const char *line = routes; *line != '\0'; line = strchr(line, '\n') + 1) {
    if (sscanf(line, "%15s %15[0-9.]/%u %15s %x", iface, destination, &prefix, gateway, &flags) !=
        5)
      break;
    unsigned net = 0, via = 0;
    const unsigned bits = prefix == 0 ? 0 : htonl(~0u << (32 - prefix));
    inet_pton(AF_INET, destination, &net);
    inet_pton(AF_INET, gateway, &via);
    length +=
        snprintf(buffer + length, sizeof buffer - length,
                 "%s\t%08X\t%08X\t%04X\t0\t0\t0\t%08X\t0\t0\t0\n", iface, net, via, flags, bits);
    if (strchr(line, '\n') == nullptr)
      break;
  }
}

// The route's interface is the longest prefix's that holds the client, of equals the
// first listed (the kernel lists them by metric); a gateway stands between for certain; no
// route, or the title line alone, leaves the interface unknown.
const routecase routetablecases[] = {
    {"on the link", "lan0 198.51.100.0/24 0.0.0.0 1", "198.51.100.20", "unknown", "lan0"},
    {"default through a gateway", "wan0 0.0.0.0/0 203.0.113.254 3", "192.0.2.50", "none", ""},
    {"the link before the default",
     "wan0 0.0.0.0/0 203.0.113.254 3\nlan0 198.51.100.0/24 0.0.0.0 1", "198.51.100.20", "unknown",
     "lan0"},
    {"host route listed after its net",
     "lan0 198.51.100.0/24 0.0.0.0 1\nwan0 198.51.100.99/32 0.0.0.0 5", "198.51.100.99", "unknown",
     "wan0"},
    {"host route listed before its net",
     "wan0 198.51.100.99/32 0.0.0.0 5\nlan0 198.51.100.0/24 0.0.0.0 1", "198.51.100.99", "unknown",
     "wan0"},
    {"a longer prefix beside, not holding",
     "lan0 198.51.100.0/24 0.0.0.0 1\nwan0 198.51.100.128/25 0.0.0.0 1", "198.51.100.20", "unknown",
     "lan0"},
    {"of equal prefixes the first",
     "lan0 198.51.100.0/24 0.0.0.0 1\nwan0 198.51.100.0/24 0.0.0.0 1", "198.51.100.20", "unknown",
     "lan0"},
    {"a gateway behind a longer prefix",
     "lan0 203.0.113.0/24 0.0.0.0 1\nlan0 203.0.113.128/25 198.51.100.254 3", "203.0.113.200",
     "none", ""},
    {"the link before a gateway's shorter prefix",
     "lan0 203.0.113.0/24 198.51.100.254 3\nwan0 203.0.113.200/32 0.0.0.0 5", "203.0.113.200",
     "unknown", "wan0"},
    {"no route holds the client", "lan0 198.51.100.0/24 0.0.0.0 1", "192.0.2.1", "unknown", ""},
    {"unreachable: no interface", "* 192.0.2.0/24 0.0.0.0 201", "192.0.2.1", "unknown", "*"},
    {"the title line alone", "", "198.51.100.20", "unknown", ""},
};

void routetablerules() {
  for (const routecase &c : routetablecases) {
    char text[1024], buffer[1024];
    routetable(c.routes, text);
    FILE *table = opentable(text, buffer);
    if (table == nullptr) {
      judge("routing table", c.name, false, "no FILE for the table", c.device);
      continue;
    }
    neighbourquery query = {};
    query.family = AF_INET;
    inet_pton(AF_INET, c.client, query.address);
    char device[IF_NAMESIZE] = "";
    const answer result = findroute(table, query, device);
    fclose(table);
    char got[64], want[64];
    // Through a gateway no entry is looked for, on any interface.
    if (result == answer::none)
      snprintf(got, sizeof got, "none");
    else
      snprintf(got, sizeof got, "unknown '%s'", device);
    if (strcmp(c.result, "none") == 0)
      snprintf(want, sizeof want, "none");
    else
      snprintf(want, sizeof want, "%s '%s'", c.result, c.device);
    judge("routing table", c.name, strcmp(got, want) == 0, got, want);
  }
}

// ---- The kernel's answers ----

// The request the answers are read for, and an earlier one, whose answer came too late.
constexpr unsigned asked = 7;
constexpr unsigned earlier = asked - 1;

// One datagram of answers, built message by message, in a buffer far longer than the
// datagram, so that a parser that reads past it reads zeros here and no other object.
struct datagram {
  alignas(nlmsghdr) char bytes[2 * netlinkbuffersize];
  size_t length;
  size_t message;   // where the message being built starts
  size_t attribute; // where its last attribute starts
};

void put(datagram &d, const void *data, size_t size) {
  memcpy(d.bytes + d.length, data, size);
  d.length += size;
}

void begin(datagram &d, unsigned short type, unsigned short flags, unsigned sequence) {
  d.length = NLMSG_ALIGN(d.length);
  d.message = d.length;
  nlmsghdr header = {};
  header.nlmsg_type = type;
  header.nlmsg_flags = flags;
  header.nlmsg_seq = sequence;
  put(d, &header, sizeof header);
}

void attribute(datagram &d, unsigned short type, const void *payload, size_t size) {
  d.length = RTA_ALIGN(d.length);
  d.attribute = d.length;
  rtattr head = {};
  head.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
  head.rta_type = type;
  put(d, &head, sizeof head);
  put(d, payload, size);
}

void end(datagram &d) {
  const unsigned length = static_cast<unsigned>(d.length - d.message);
  memcpy(d.bytes + d.message + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
}

// Damage: the last attribute claims size bytes; the last message claims size bytes.
void attributelength(datagram &d, unsigned short size) {
  memcpy(d.bytes + d.attribute + offsetof(rtattr, rta_len), &size, sizeof size);
}

void messagelength(datagram &d, unsigned size) {
  memcpy(d.bytes + d.message + offsetof(nlmsghdr, nlmsg_len), &size, sizeof size);
}

// A route to the IPv4 client: its type, its interface (0 for no RTA_OIF) and, when hop
// is RTA_GATEWAY or RTA_VIA, a gateway.
void route(datagram &d, unsigned sequence, unsigned char type, unsigned interface,
           unsigned short hop = 0) {
  begin(d, RTM_NEWROUTE, 0, sequence);
  rtmsg message = {};
  message.rtm_family = AF_INET;
  message.rtm_dst_len = 32;
  message.rtm_type = type;
  put(d, &message, sizeof message);
  const unsigned char client[4] = {192, 0, 2, 10};
  attribute(d, RTA_DST, client, sizeof client);
  if (interface != 0)
    attribute(d, RTA_OIF, &interface, sizeof interface);
  const unsigned char gateway[4] = {192, 0, 2, 1};
  if (hop == RTA_GATEWAY)
    attribute(d, RTA_GATEWAY, gateway, sizeof gateway);
  if (hop == RTA_VIA) {
    const unsigned char via[2 + 4] = {AF_INET, 0, 192, 0, 2, 1};
    attribute(d, RTA_VIA, via, sizeof via);
  }
  end(d);
}

// A neighbour entry for address on interface, in state, with a link-layer address of
// size bytes (none for 0) that ends in the byte mac; flags NLM_F_MULTI for a dump's.
void neighbour(datagram &d, unsigned sequence, const char *address, int interface,
               unsigned short state, unsigned char mac, size_t size = 6, unsigned short flags = 0) {
  begin(d, RTM_NEWNEIGH, flags, sequence);
  ndmsg message = {};
  const bool ipv4 = strchr(address, ':') == nullptr;
  message.ndm_family = ipv4 ? AF_INET : AF_INET6;
  message.ndm_ifindex = interface;
  message.ndm_state = state;
  put(d, &message, sizeof message);
  unsigned char destination[16];
  inet_pton(message.ndm_family, address, destination);
  attribute(d, NDA_DST, destination, ipv4 ? 4 : 16);
  unsigned char link[40] = {0x02};
  link[size > 0 ? size - 1 : 0] = mac;
  if (size > 0)
    attribute(d, NDA_LLADDR, link, size);
  end(d);
}

void dumped(datagram &d, const char *address, int interface, unsigned char mac) {
  neighbour(d, asked, address, interface, NUD_REACHABLE, mac, 6, NLM_F_MULTI);
}

// An error in answer to a request of type request (a neighbour get unless said).
void error(datagram &d, unsigned sequence, int code, unsigned short request = RTM_GETNEIGH) {
  begin(d, NLMSG_ERROR, 0, sequence);
  nlmsgerr message = {};
  message.error = code;
  message.msg.nlmsg_type = request;
  message.msg.nlmsg_seq = sequence;
  put(d, &message, sizeof message);
  end(d);
}

void done(datagram &d, unsigned sequence) {
  begin(d, NLMSG_DONE, NLM_F_MULTI, sequence);
  const int status = 0;
  put(d, &status, sizeof status);
  end(d);
}

constexpr std::string_view scanname(netlinkscan scan) {
  return scan == netlinkscan::found  ? "found"
         : scan == netlinkscan::none ? "none"
         : scan == netlinkscan::more ? "more"
                                     : "ended";
}

// Each case: the datagram, what the scan makes of it, then the query's interface and
// link-layer address. With a second datagram (then), the first must ask for more and
// the second settles the case.
struct netlinkcase {
  const char *name;
  void (*answer)(datagram &);
  netlinkscan scan;
  unsigned ifindex;
  const char *hwaddress;
  void (*then)(datagram &) = nullptr;
};

// Runs cases for the client at address, asked on interface (0 for any).
template <size_t count>
void netlinkrules(const char *group, const netlinkcase (&cases)[count], const char *address,
                  unsigned interface) {
  for (const netlinkcase &c : cases) {
    neighbourquery query = {};
    query.family = strchr(address, ':') == nullptr ? AF_INET : AF_INET6;
    inet_pton(query.family, address, query.address);
    query.ifindex = interface;
    // As classify marks one: link-local, and no zone.
    query.everylink = interface == 0 && islinklocal(query);
    static datagram d;
    d = {};
    c.answer(d);
    netlinkscan scan = scanmessages(d.bytes, d.length, asked, query);
    if (c.then != nullptr && scan == netlinkscan::more) {
      d = {};
      c.then(d);
      scan = scanmessages(d.bytes, d.length, asked, query);
    }
    char got[64 + hwtextsize];
    snprintf(got, sizeof got, "%.*s, interface %u, '%s'", static_cast<int>(scanname(scan).size()),
             scanname(scan).data(), query.ifindex, query.hwaddress);
    char want[64 + hwtextsize];
    snprintf(want, sizeof want, "%.*s, interface %u, '%s'",
             static_cast<int>(scanname(c.scan).size()), scanname(c.scan).data(), c.ifindex,
             c.hwaddress);
    judge(group, c.name, strcmp(got, want) == 0, got, want);
  }
}

// The route: a unicast one names the interface; a gateway stands between, for certain;
// anything else, or a damaged answer, says nothing.
const netlinkcase routecases[] = {
    {"direct route", [](datagram &d) { route(d, asked, RTN_UNICAST, 3); }, netlinkscan::found, 3,
     ""},
    {"route through a gateway", [](datagram &d) { route(d, asked, RTN_UNICAST, 3, RTA_GATEWAY); },
     netlinkscan::none, 0, ""},
    {"route by RTA_VIA", [](datagram &d) { route(d, asked, RTN_UNICAST, 3, RTA_VIA); },
     netlinkscan::none, 0, ""},
    {"to this host", [](datagram &d) { route(d, asked, RTN_LOCAL, 1); }, netlinkscan::none, 0, ""},
    {"no interface", [](datagram &d) { route(d, asked, RTN_UNICAST, 0); }, netlinkscan::ended, 0,
     ""},
    {"unreachable", [](datagram &d) { route(d, asked, RTN_UNREACHABLE, 3); }, netlinkscan::ended, 0,
     ""},
    {"blackhole", [](datagram &d) { route(d, asked, RTN_BLACKHOLE, 3); }, netlinkscan::ended, 0,
     ""},
    {"short RTA_OIF",
     [](datagram &d) {
       begin(d, RTM_NEWROUTE, 0, asked);
       rtmsg message = {};
       message.rtm_type = RTN_UNICAST;
       put(d, &message, sizeof message);
       attribute(d, RTA_OIF, "\3\0", 2);
       end(d);
     },
     netlinkscan::ended, 0, ""},
    {"body shorter than rtmsg",
     [](datagram &d) {
       begin(d, RTM_NEWROUTE, 0, asked);
       put(d, "\2\0\0", 3);
       end(d);
     },
     netlinkscan::ended, 0, ""},
};

// With a zone, the route must leave by the zone's interface: by another, no entry on the
// zone's link is the client's.
const netlinkcase zoneroutecases[] = {
    {"by the zone's interface", [](datagram &d) { route(d, asked, RTN_UNICAST, 3); },
     netlinkscan::found, 3, ""},
    {"by another interface", [](datagram &d) { route(d, asked, RTN_UNICAST, 4); },
     netlinkscan::none, 3, ""},
    {"through a gateway on it", [](datagram &d) { route(d, asked, RTN_UNICAST, 3, RTA_GATEWAY); },
     netlinkscan::none, 3, ""},
};

// A late answer to an earlier request is no answer to this one, whatever it says.
const netlinkcase sequencecases[] = {
    {"earlier request's route", [](datagram &d) { route(d, earlier, RTN_UNICAST, 9); },
     netlinkscan::more, 0, ""},
    {"earlier request's gateway", [](datagram &d) { route(d, earlier, RTN_UNICAST, 9, RTA_VIA); },
     netlinkscan::more, 0, ""},
    {"earlier route, then this one",
     [](datagram &d) {
       route(d, earlier, RTN_UNICAST, 9);
       route(d, asked, RTN_UNICAST, 3);
     },
     netlinkscan::found, 3, ""},
    {"earlier route, then a gateway",
     [](datagram &d) {
       route(d, earlier, RTN_UNICAST, 9);
       route(d, asked, RTN_UNICAST, 3, RTA_GATEWAY);
     },
     netlinkscan::none, 0, ""},
    {"earlier request's error, then the route",
     [](datagram &d) {
       error(d, earlier, -ENOENT);
       route(d, asked, RTN_UNICAST, 3);
     },
     netlinkscan::found, 3, ""},
    {"a later request's route", [](datagram &d) { route(d, asked + 1, RTN_UNICAST, 9); },
     netlinkscan::more, 0, ""},
};

// The kernel's "no such entry" for a neighbour get is its word: there is none to give.
// Any other error, and NLMSG_DONE, end the answer without settling it.
const netlinkcase errorcases[] = {
    {"no such entry", [](datagram &d) { error(d, asked, -ENOENT); }, netlinkscan::none, 0, ""},
    {"no such route", [](datagram &d) { error(d, asked, -ENOENT, RTM_GETROUTE); },
     netlinkscan::ended, 0, ""},
    {"not supported", [](datagram &d) { error(d, asked, -EOPNOTSUPP); }, netlinkscan::ended, 0, ""},
    {"invalid", [](datagram &d) { error(d, asked, -EINVAL); }, netlinkscan::ended, 0, ""},
    {"network unreachable", [](datagram &d) { error(d, asked, -ENETUNREACH, RTM_GETROUTE); },
     netlinkscan::ended, 0, ""},
    {"acknowledgement", [](datagram &d) { error(d, asked, 0); }, netlinkscan::ended, 0, ""},
    {"error cut short",
     [](datagram &d) {
       begin(d, NLMSG_ERROR, 0, asked);
       const int code = -ENOENT;
       put(d, &code, sizeof code);
       end(d);
     },
     netlinkscan::ended, 0, ""},
    {"done", [](datagram &d) { done(d, asked); }, netlinkscan::ended, 0, ""},
    {"error, then a route",
     [](datagram &d) {
       error(d, asked, -EINVAL);
       route(d, asked, RTN_UNICAST, 3);
     },
     netlinkscan::ended, 0, ""},
    {"an empty datagram", [](datagram &) {}, netlinkscan::more, 0, ""},
};

// A damaged datagram or attribute makes the message worthless: nothing in it is read.
const netlinkcase damagecases[] = {
    {"message longer than the datagram",
     [](datagram &d) {
       route(d, asked, RTN_UNICAST, 3);
       messagelength(d, static_cast<unsigned>(d.length + 4));
     },
     netlinkscan::ended, 0, ""},
    {"message shorter than its header",
     [](datagram &d) {
       route(d, asked, RTN_UNICAST, 3);
       messagelength(d, NLMSG_HDRLEN - 1);
     },
     netlinkscan::ended, 0, ""},
    {"datagram cut in a header",
     [](datagram &d) {
       route(d, earlier, RTN_UNICAST, 9);
       d.length += 8;
     },
     netlinkscan::more, 0, ""},
    {"gateway past the body",
     [](datagram &d) {
       route(d, asked, RTN_UNICAST, 3, RTA_GATEWAY);
       attributelength(d, 64);
     },
     netlinkscan::ended, 0, ""},
    {"interface past the body",
     [](datagram &d) {
       route(d, asked, RTN_UNICAST, 3);
       attributelength(d, 64);
     },
     netlinkscan::ended, 0, ""},
    {"attribute shorter than its header",
     [](datagram &d) {
       route(d, asked, RTN_UNICAST, 3);
       attributelength(d, 3);
     },
     netlinkscan::ended, 0, ""},
    {"attribute cut in its header",
     [](datagram &d) {
       begin(d, RTM_NEWROUTE, 0, asked);
       rtmsg message = {};
       message.rtm_type = RTN_UNICAST;
       put(d, &message, sizeof message);
       const unsigned interface = 3;
       attribute(d, RTA_OIF, &interface, sizeof interface);
       put(d, "\x08\0", 2);
       end(d);
     },
     netlinkscan::found, 3, ""},
};

// The client's entry on the interface asked: its link-layer address, in a state other
// than NOARP; without one it has none to give; another entry says nothing.
const netlinkcase neighbourcases[] = {
    {"reachable", [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x10); },
     netlinkscan::found, 3, "02:00:00:00:00:10"},
    {"stale", [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_STALE, 0x10); },
     netlinkscan::found, 3, "02:00:00:00:00:10"},
    {"permanent", [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_PERMANENT, 0x10); },
     netlinkscan::found, 3, "02:00:00:00:00:10"},
    {"probing", [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_PROBE, 0x10); },
     netlinkscan::found, 3, "02:00:00:00:00:10"},
    {"NOARP, this host's own",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_NOARP, 0x10); }, netlinkscan::none,
     3, ""},
    {"incomplete, no address",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_INCOMPLETE, 0, 0); },
     netlinkscan::none, 3, ""},
    {"failed, no address",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_FAILED, 0, 0); }, netlinkscan::none,
     3, ""},
    {"empty link address",
     [](datagram &d) {
       neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0, 0);
       attribute(d, NDA_LLADDR, "", 0);
       end(d);
     },
     netlinkscan::none, 3, ""},
    {"20-byte link address",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x20, 20); },
     netlinkscan::found, 3, "02:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:20"},
    {"32-byte link address",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x32, 32); },
     netlinkscan::found, 3,
     "02:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:00:"
     "00:32"},
    {"33-byte link address",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x33, 33); },
     netlinkscan::none, 3, ""},
    {"another client",
     [](datagram &d) { neighbour(d, asked, "192.0.2.11", 3, NUD_REACHABLE, 0x11); },
     netlinkscan::ended, 3, ""},
    {"another interface",
     [](datagram &d) { neighbour(d, asked, "192.0.2.10", 4, NUD_REACHABLE, 0x10); },
     netlinkscan::ended, 3, ""},
    {"another family",
     [](datagram &d) { neighbour(d, asked, "::ffff:192.0.2.10", 3, NUD_REACHABLE, 0x10); },
     netlinkscan::ended, 3, ""},
    {"no destination",
     [](datagram &d) {
       begin(d, RTM_NEWNEIGH, 0, asked);
       ndmsg message = {};
       message.ndm_family = AF_INET;
       message.ndm_ifindex = 3;
       message.ndm_state = NUD_REACHABLE;
       put(d, &message, sizeof message);
       attribute(d, NDA_LLADDR, "\2\0\0\0\0\x10", 6);
       end(d);
     },
     netlinkscan::ended, 3, ""},
    {"another message type",
     [](datagram &d) {
       neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x10);
       const unsigned short type = RTM_NEWLINK;
       memcpy(d.bytes + offsetof(nlmsghdr, nlmsg_type), &type, sizeof type);
     },
     netlinkscan::ended, 3, ""},
    {"link address past the body",
     [](datagram &d) {
       neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x10);
       attributelength(d, 64);
     },
     netlinkscan::ended, 3, ""},
};

// The dump of every IPv6 neighbour: the first entry listed for the client wins; the
// others are passed over, across datagrams, until NLMSG_DONE ends it.
const netlinkcase dumpcases[] = {
    {"client listed second",
     [](datagram &d) {
       dumped(d, "2001:db8::11", 2, 0x11);
       dumped(d, "2001:db8::10", 3, 0x10);
     },
     netlinkscan::found, 0, "02:00:00:00:00:10"},
    {"first of two links",
     [](datagram &d) {
       dumped(d, "2001:db8::10", 2, 0x02);
       dumped(d, "2001:db8::10", 3, 0x03);
     },
     netlinkscan::found, 0, "02:00:00:00:00:02"},
    {"others, then done",
     [](datagram &d) {
       dumped(d, "2001:db8::11", 2, 0x11);
       done(d, asked);
     },
     netlinkscan::ended, 0, ""},
    {"others, and more to come", [](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); },
     netlinkscan::more, 0, ""},
    {"in the second datagram", [](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); },
     netlinkscan::found, 0, "02:00:00:00:00:10",
     [](datagram &d) {
       dumped(d, "2001:db8::12", 2, 0x12);
       dumped(d, "2001:db8::10", 3, 0x10);
     }},
    {"done in the second datagram", [](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); },
     netlinkscan::ended, 0, "", [](datagram &d) { done(d, asked); }},
    {"NOARP, on any link, passed over",
     [](datagram &d) {
       neighbour(d, asked, "2001:db8::10", 2, NUD_NOARP, 0x02, 6, NLM_F_MULTI);
       dumped(d, "2001:db8::10", 3, 0x03);
     },
     netlinkscan::found, 0, "02:00:00:00:00:03"},
    {"no address, on any link, passed over",
     [](datagram &d) {
       neighbour(d, asked, "2001:db8::10", 2, NUD_FAILED, 0, 0, NLM_F_MULTI);
       dumped(d, "2001:db8::10", 3, 0x03);
     },
     netlinkscan::found, 0, "02:00:00:00:00:03"},
    {"an earlier dump's entry",
     [](datagram &d) {
       neighbour(d, earlier, "2001:db8::10", 2, NUD_REACHABLE, 0x02, 6, NLM_F_MULTI);
       done(d, asked);
     },
     netlinkscan::ended, 0, ""},
    {"a get's answer ends it",
     [](datagram &d) {
       neighbour(d, asked, "2001:db8::11", 2, NUD_REACHABLE, 0x11);
       dumped(d, "2001:db8::10", 3, 0x10);
     },
     netlinkscan::ended, 0, ""},
};

// A link-local client without a zone is on whichever link lists it: the dump of every
// link must list one address for it, the same on every link that lists it, and end.
const netlinkcase everylinkcases[] = {
    {"one link lists it",
     [](datagram &d) {
       dumped(d, "fe80::11", 2, 0x11);
       dumped(d, "fe80::10", 3, 0x10);
       done(d, asked);
     },
     netlinkscan::found, 0, "02:00:00:00:00:10"},
    {"the same address on two links",
     [](datagram &d) {
       dumped(d, "fe80::10", 2, 0x10);
       dumped(d, "fe80::10", 3, 0x10);
       done(d, asked);
     },
     netlinkscan::found, 0, "02:00:00:00:00:10"},
    {"two addresses on two links",
     [](datagram &d) {
       dumped(d, "fe80::10", 2, 0x02);
       dumped(d, "fe80::10", 3, 0x03);
       done(d, asked);
     },
     netlinkscan::none, 0, "02:00:00:00:00:02"},
    {"listed, and more to come", [](datagram &d) { dumped(d, "fe80::10", 2, 0x10); },
     netlinkscan::more, 0, "02:00:00:00:00:10"},
    {"listed, then done in the next datagram", [](datagram &d) { dumped(d, "fe80::10", 2, 0x10); },
     netlinkscan::found, 0, "02:00:00:00:00:10", [](datagram &d) { done(d, asked); }},
    {"another address in the next datagram", [](datagram &d) { dumped(d, "fe80::10", 2, 0x02); },
     netlinkscan::none, 0, "02:00:00:00:00:02",
     [](datagram &d) {
       dumped(d, "fe80::10", 3, 0x03);
       done(d, asked);
     }},
    {"no link lists it",
     [](datagram &d) {
       dumped(d, "fe80::11", 2, 0x11);
       done(d, asked);
     },
     netlinkscan::ended, 0, ""},
    {"NOARP on one link, passed over",
     [](datagram &d) {
       neighbour(d, asked, "fe80::10", 2, NUD_NOARP, 0x02, 6, NLM_F_MULTI);
       dumped(d, "fe80::10", 3, 0x03);
       done(d, asked);
     },
     netlinkscan::found, 0, "02:00:00:00:00:03"},
    {"no address on one link, passed over",
     [](datagram &d) {
       neighbour(d, asked, "fe80::10", 2, NUD_FAILED, 0, 0, NLM_F_MULTI);
       dumped(d, "fe80::10", 3, 0x03);
       done(d, asked);
     },
     netlinkscan::found, 0, "02:00:00:00:00:03"},
    {"an earlier dump's address",
     [](datagram &d) {
       neighbour(d, earlier, "fe80::10", 2, NUD_REACHABLE, 0x02, 6, NLM_F_MULTI);
       dumped(d, "fe80::10", 3, 0x03);
       done(d, asked);
     },
     netlinkscan::found, 0, "02:00:00:00:00:03"},
};

// ---- The kernel's socket ----

// One datagram the stand-in kernel answers with: made by answer, as the tables above make
// theirs, sent from port (0 is the kernel's), and reported as claim bytes long when not 0
// (with MSG_TRUNC, a datagram larger than the reader's buffer shows so).
struct kernelreply {
  void (*answer)(datagram &);
  unsigned port;
  size_t claim;
};

// The most replies a case scripts.
constexpr size_t maxreplies = 4;

// A kernel of the test's own, for ask(): the C library's sendto and recvfrom are replaced
// in this executable by the two below, which the program's calls bind to. It keeps each
// question's kind and sequence number, and answers with the replies of the case, one per
// read, numbered for the question asked; when they run out, the read times out.
struct {
  const kernelreply *replies;
  size_t next;
  unsigned sequence;
  char questions[64];
  unsigned char request[128];
  size_t requestlength;
} kernel;

void script(const kernelreply *replies) {
  kernel = {};
  kernel.replies = replies;
}

} // namespace

extern "C" ssize_t sendto(int, const void *buffer, size_t length, int, const sockaddr *,
                          socklen_t) {
  nlmsghdr header;
  if (length < sizeof header || length > sizeof kernel.request) {
    errno = EMSGSIZE;
    return -1;
  }
  memcpy(kernel.request, buffer, length);
  kernel.requestlength = length;
  memcpy(&header, buffer, sizeof header);
  kernel.sequence = header.nlmsg_seq;
  const char *kind = header.nlmsg_type == RTM_GETROUTE        ? "route"
                     : (header.nlmsg_flags & NLM_F_DUMP) != 0 ? "dump"
                                                              : "neighbour";
  const size_t used = strlen(kernel.questions);
  snprintf(kernel.questions + used, sizeof kernel.questions - used, "%s%s", used > 0 ? " " : "",
           kind);
  return static_cast<ssize_t>(length);
}

extern "C" ssize_t recvfrom(int, void *buffer, size_t length, int, sockaddr *from,
                            socklen_t *fromlength) {
  const kernelreply *next = kernel.replies == nullptr ? nullptr : &kernel.replies[kernel.next];
  if (next == nullptr || kernel.next >= maxreplies || next->answer == nullptr) {
    errno = EAGAIN;
    return -1;
  }
  ++kernel.next;
  static datagram d;
  d = {};
  next->answer(d);
  // The tables' numbers, for this question: asked is its own, earlier the one before.
  for (size_t at = 0; at + sizeof(nlmsghdr) <= d.length;) {
    nlmsghdr header;
    memcpy(&header, d.bytes + at, sizeof header);
    if (header.nlmsg_seq == asked || header.nlmsg_seq == earlier)
      header.nlmsg_seq = kernel.sequence - (asked - header.nlmsg_seq);
    memcpy(d.bytes + at, &header, sizeof header);
    if (header.nlmsg_len < NLMSG_HDRLEN)
      break;
    at += NLMSG_ALIGN(header.nlmsg_len);
  }
  sockaddr_nl sender = {};
  sender.nl_family = AF_NETLINK;
  sender.nl_pid = next->port;
  memcpy(from, &sender, *fromlength < sizeof sender ? *fromlength : sizeof sender);
  *fromlength = sizeof sender;
  memcpy(buffer, d.bytes, d.length < length ? d.length : length);
  return static_cast<ssize_t>(next->claim != 0 ? next->claim : d.length);
}

namespace {

constexpr std::string_view answername(answer result) {
  return result == answer::found     ? "found"
         : result == answer::none    ? "none"
         : result == answer::unknown ? "unknown"
                                     : "failed";
}

// Each case: the client, as classify reads it, the kernel's replies, then the answer, its
// link-layer address and the questions that were put.
struct askcase {
  const char *name, *client;
  kernelreply replies[maxreplies];
  answer result;
  const char *hwaddress, *questions;
};

// Runs each case through run (a question, or the whole lookup) on the stand-in kernel.
template <size_t count>
void askrules(const char *group, const askcase (&cases)[count], answer (*run)(neighbourquery &)) {
  for (const askcase &c : cases) {
    neighbourquery query = {};
    if (classify(c.client, query) != clientkind::ipv4 && query.family != AF_INET6) {
      judge(group, c.name, false, "no address", c.client);
      continue;
    }
    script(c.replies);
    const answer result = run(query);
    char got[sizeof query.hwaddress + sizeof kernel.questions + 32];
    snprintf(got, sizeof got, "%s '%s' after: %s", answername(result).data(), query.hwaddress,
             kernel.questions);
    char want[sizeof got];
    snprintf(want, sizeof want, "%s '%s' after: %s", answername(c.result).data(), c.hwaddress,
             c.questions);
    judge(group, c.name, strcmp(got, want) == 0, got, want);
  }
  script(nullptr);
}

void direct3(datagram &d) {
  route(d, asked, RTN_UNICAST, 3);
}

void listed(datagram &d) {
  neighbour(d, asked, "192.0.2.10", 3, NUD_REACHABLE, 0x10);
}

void listed6(datagram &d) {
  neighbour(d, asked, "2001:db8::10", 3, NUD_REACHABLE, 0x10);
}

void noentry(datagram &d) {
  error(d, asked, -ENOENT);
}

void refused(datagram &d) {
  error(d, asked, -EOPNOTSUPP);
}

answer askroute(neighbourquery &query) {
  return ask(-1, RTM_GETROUTE, 0, true, query);
}

answer asknothing(neighbourquery &query) {
  return ask(-1, RTM_GETNEIGH, NLM_F_DUMP, true, query);
}

// Only the kernel (port 0) answers: any process may send to a netlink socket, and what it
// sends, however well made, is no answer. Nor is a datagram cut short by the buffer, or
// no datagram at all: the question failed.
const askcase sendercases[] = {
    {"the kernel's answer", "192.0.2.10", {{direct3, 0, 0}}, answer::found, "", "route"},
    {"another socket's answer", "192.0.2.10", {{direct3, 4242, 0}}, answer::failed, "", "route"},
    {"another socket's, then the kernel's",
     "192.0.2.10",
     {{direct3, 4242, 0}, {direct3, 0, 0}},
     answer::failed,
     "",
     "route"},
    {"larger than the buffer",
     "192.0.2.10",
     {{direct3, 0, netlinkbuffersize + 1}},
     answer::failed,
     "",
     "route"},
    {"no answer in time", "192.0.2.10", {}, answer::failed, "", "route"},
    {"an earlier question's answer first",
     "192.0.2.10",
     {{[](datagram &d) { route(d, earlier, RTN_UNICAST, 9); }, 0, 0}, {direct3, 0, 0}},
     answer::found,
     "",
     "route"},
};

// A dump is read datagram by datagram until it settles the client or ends.
const askcase dumpreadcases[] = {
    {"in the second datagram",
     "2001:db8::10",
     {{[](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); }, 0, 0},
      {[](datagram &d) { dumped(d, "2001:db8::10", 3, 0x10); }, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "dump"},
    {"ended, not listed",
     "2001:db8::10",
     {{[](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); }, 0, 0},
      {[](datagram &d) { done(d, asked); }, 0, 0}},
     answer::unknown,
     "",
     "dump"},
    {"another socket's second datagram",
     "2001:db8::10",
     {{[](datagram &d) { dumped(d, "2001:db8::11", 2, 0x11); }, 0, 0},
      {[](datagram &d) { dumped(d, "2001:db8::10", 3, 0x10); }, 4242, 0}},
     answer::failed,
     "",
     "dump"},
};

// The whole lookup of the kernel's tables: the route, then the entry on its interface,
// then, for IPv6, the dump; each answer decides whether the next question is put.
const askcase lookupcases[] = {
    // IPv4.
    {"listed on the route's link",
     "192.0.2.10",
     {{direct3, 0, 0}, {listed, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route neighbour"},
    {"behind a gateway",
     "192.0.2.10",
     {{[](datagram &d) { route(d, asked, RTN_UNICAST, 3, RTA_GATEWAY); }, 0, 0}},
     answer::none,
     "",
     "route"},
    {"this host's own address",
     "192.0.2.10",
     {{[](datagram &d) { route(d, asked, RTN_LOCAL, 1); }, 0, 0}},
     answer::none,
     "",
     "route"},
    {"no such entry",
     "192.0.2.10",
     {{direct3, 0, 0}, {noentry, 0, 0}},
     answer::none,
     "",
     "route neighbour"},
    {"the get refused",
     "192.0.2.10",
     {{direct3, 0, 0}, {refused, 0, 0}},
     answer::unknown,
     "",
     "route neighbour"},
    {"no route",
     "192.0.2.10",
     {{[](datagram &d) { error(d, asked, -ENETUNREACH, RTM_GETROUTE); }, 0, 0}},
     answer::unknown,
     "",
     "route"},
    {"the route unanswered", "192.0.2.10", {}, answer::none, "", "route"},
    {"the route from another socket",
     "192.0.2.10",
     {{direct3, 4242, 0}},
     answer::none,
     "",
     "route"},
    {"incomplete on the route's link",
     "192.0.2.10",
     {{direct3, 0, 0},
      {[](datagram &d) { neighbour(d, asked, "192.0.2.10", 3, NUD_INCOMPLETE, 0, 0); }, 0, 0}},
     answer::none,
     "",
     "route neighbour"},
    // IPv6: the dump only where the get cannot say.
    {"IPv6 listed",
     "2001:db8::10",
     {{direct3, 0, 0}, {listed6, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route neighbour"},
    {"IPv6 no such entry, no dump",
     "2001:db8::10",
     {{direct3, 0, 0}, {noentry, 0, 0}},
     answer::none,
     "",
     "route neighbour"},
    {"IPv6 the get refused, the dump",
     "2001:db8::10",
     {{direct3, 0, 0},
      {refused, 0, 0},
      {[](datagram &d) {
         dumped(d, "2001:db8::10", 3, 0x10);
         done(d, asked);
       },
       0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route neighbour dump"},
    {"IPv6 no route, the dump",
     "2001:db8::10",
     {{[](datagram &d) { error(d, asked, -ENETUNREACH, RTM_GETROUTE); }, 0, 0},
      {[](datagram &d) { dumped(d, "2001:db8::10", 5, 0x10); }, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route dump"},
    // Zones: the route is asked by the zone's interface, and must leave by it, unless the
    // address is link-local, which names its link alone.
    {"zone, routed by it",
     "2001:db8::10%lo",
     {{[](datagram &d) { route(d, asked, RTN_UNICAST, 1); }, 0, 0},
      {[](datagram &d) { neighbour(d, asked, "2001:db8::10", 1, NUD_REACHABLE, 0x10); }, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route neighbour"},
    {"zone, routed by another interface",
     "2001:db8::10%lo",
     {{direct3, 0, 0}},
     answer::none,
     "",
     "route"},
    {"zone, no route",
     "2001:db8::10%lo",
     {{[](datagram &d) { error(d, asked, -ENETUNREACH, RTM_GETROUTE); }, 0, 0}},
     answer::none,
     "",
     "route"},
    {"link-local zone, no route",
     "fe80::10%lo",
     {{[](datagram &d) { error(d, asked, -ENETUNREACH, RTM_GETROUTE); }, 0, 0},
      {[](datagram &d) { neighbour(d, asked, "fe80::10", 1, NUD_REACHABLE, 0x10); }, 0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "route neighbour"},
    // A link-local client without a zone: the dump of every link, and nothing else.
    {"link-local on one link",
     "fe80::10",
     {{[](datagram &d) {
         dumped(d, "fe80::10", 3, 0x10);
         done(d, asked);
       },
       0, 0}},
     answer::found,
     "02:00:00:00:00:10",
     "dump"},
    {"link-local, two addresses",
     "fe80::10",
     {{[](datagram &d) {
         dumped(d, "fe80::10", 2, 0x02);
         dumped(d, "fe80::10", 3, 0x03);
       },
       0, 0}},
     answer::none,
     "02:00:00:00:00:02",
     "dump"},
};

// The questions as put: for the client's address, numbered, with the zone's interface.
struct questioncase {
  const char *name, *client;
  bool dump;
  unsigned short type, flags;
  unsigned char family, prefix;
  unsigned ifindex; // RTA_OIF of a route question, ndm_ifindex of a neighbour one
  bool destination; // whether the question names the client (RTA_DST)
};

const questioncase questioncases[] = {
    {"route to an IPv4 client", "192.0.2.10", false, RTM_GETROUTE, NLM_F_REQUEST, AF_INET, 32, 0,
     true},
    {"route to an IPv6 client", "2001:db8::10", false, RTM_GETROUTE, NLM_F_REQUEST, AF_INET6, 128,
     0, true},
    {"route by the zone's interface", "2001:db8::10%lo", false, RTM_GETROUTE, NLM_F_REQUEST,
     AF_INET6, 128, 1, true},
    {"dump of every link", "fe80::10", true, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, AF_INET6, 0,
     0, false},
};

void questionrules() {
  unsigned last = 0;
  for (const questioncase &c : questioncases) {
    neighbourquery query = {};
    if (classify(c.client, query) == clientkind::unknownzone) {
      judge("question", c.name, false, "no interface for the zone", c.client);
      continue;
    }
    script(nullptr);
    static_cast<void>(c.dump ? asknothing(query) : askroute(query));
    nlmsghdr header;
    memcpy(&header, kernel.request, sizeof header);
    rtmsg route;
    memcpy(&route, kernel.request + NLMSG_HDRLEN, sizeof route);
    // What the question names, attribute by attribute.
    unsigned interface = 0;
    bool destination = false;
    const char *body = reinterpret_cast<const char *>(kernel.request) + NLMSG_HDRLEN;
    const size_t length = kernel.requestlength - NLMSG_HDRLEN;
    const bool whole = header.nlmsg_len == kernel.requestlength &&
                       eachattribute(body, length, NLMSG_ALIGN(sizeof route),
                                     [&](unsigned type, const char *payload, size_t size) {
                                       if (type == RTA_OIF && size == sizeof interface)
                                         memcpy(&interface, payload, size);
                                       if (type == RTA_DST)
                                         destination = size == addresslength(query) &&
                                                       memcmp(payload, query.address, size) == 0;
                                     });
    if (c.type == RTM_GETNEIGH) {
      ndmsg neighbour;
      memcpy(&neighbour, body, sizeof neighbour);
      interface = static_cast<unsigned>(neighbour.ndm_ifindex);
    }
    const bool held =
        whole && header.nlmsg_type == c.type && header.nlmsg_flags == c.flags &&
        route.rtm_family == c.family && (c.type != RTM_GETROUTE || route.rtm_dst_len == c.prefix) &&
        interface == c.ifindex && destination == c.destination && header.nlmsg_seq > last;
    last = header.nlmsg_seq;
    char got[96];
    snprintf(got, sizeof got, "type %u, flags %#x, interface %u, %s", header.nlmsg_type,
             header.nlmsg_flags, interface, destination ? "the client" : "no client");
    char want[96];
    snprintf(want, sizeof want, "type %u, flags %#x, interface %u, %s", c.type, c.flags, c.ifindex,
             c.destination ? "the client" : "no client");
    judge("question", c.name, held, got, want);
  }
}

answer lookup(neighbourquery &query) {
  // No socket: the stand-in kernel answers every question.
  return findneighbour(-1, query);
}

} // namespace

int main() {
  trimrules();
  classifyrules("mapped", mappedcases);
  classifyrules("IPv6", ipv6cases);
  classifyrules("zone", zonecases);
  classifyrules("one address", wholecases);
  tablerules();
  routetablerules();
  netlinkrules("route", routecases, "192.0.2.10", 0);
  netlinkrules("route by a zone", zoneroutecases, "192.0.2.10", 3);
  netlinkrules("sequence", sequencecases, "192.0.2.10", 0);
  netlinkrules("error", errorcases, "192.0.2.10", 0);
  netlinkrules("damage", damagecases, "192.0.2.10", 0);
  netlinkrules("neighbour", neighbourcases, "192.0.2.10", 3);
  netlinkrules("dump", dumpcases, "2001:db8::10", 0);
  netlinkrules("every link", everylinkcases, "fe80::10", 0);
  askrules("sender", sendercases, askroute);
  askrules("dump read", dumpreadcases, asknothing);
  askrules("lookup", lookupcases, lookup);
  questionrules();
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
