// neighbour: adds one entry to the kernel's ARP or IPv6 neighbour table through rtnetlink,
// for the router-in-a-box test, whose busybox can add neither kind in every state.
// Usage: neighbour ADDRESS LLADDR|- DEVICE permanent|stale|reachable|incomplete|failed|noarp

#include <cstdio>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct request {
  nlmsghdr header;
  ndmsg neighbour;
  char attributes[64];
};

// Appends one attribute to the request.
void addattribute(request &message, unsigned short type, const void *data, size_t length) {
  auto *attribute = reinterpret_cast<rtattr *>(reinterpret_cast<char *>(&message) +
                                               NLMSG_ALIGN(message.header.nlmsg_len));
  attribute->rta_type = type;
  attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
  memcpy(RTA_DATA(attribute), data, length);
  message.header.nlmsg_len = NLMSG_ALIGN(message.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

// Returns the kernel's state bit for a state's name; 0 for an unknown name.
[[nodiscard]] unsigned short state(std::string_view name) {
  constexpr struct {
    std::string_view name;
    unsigned short state;
  } states[] = {{"permanent", NUD_PERMANENT}, {"stale", NUD_STALE},
                {"reachable", NUD_REACHABLE}, {"incomplete", NUD_INCOMPLETE},
                {"failed", NUD_FAILED},       {"noarp", NUD_NOARP}};
  for (const auto &known : states)
    if (known.name == name)
      return known.state;
  return 0;
}

// Reads a link-layer address "xx:xx:..."; returns its length in bytes, 0 when malformed.
[[nodiscard]] size_t parselinkaddress(const char *text, unsigned char (&bytes)[32]) {
  size_t count = 0;
  for (;;) {
    unsigned value = 0;
    int used = 0;
    if (count == sizeof bytes || sscanf(text, "%2x%n", &value, &used) != 1 || used != 2)
      return 0;
    bytes[count++] = static_cast<unsigned char>(value);
    text += used;
    if (*text == '\0')
      return count;
    if (*text++ != ':')
      return 0;
  }
}

// Fails the run with a message.
int fail(const char *what) {
  fprintf(stderr, "neighbour: %s\n", what);
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5)
    return fail("usage: neighbour ADDRESS LLADDR|- DEVICE STATE");
  request message = {};
  message.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
  message.header.nlmsg_type = RTM_NEWNEIGH;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE;
  message.header.nlmsg_seq = 1;

  unsigned char address[16];
  if (inet_pton(AF_INET, argv[1], address) == 1) {
    message.neighbour.ndm_family = AF_INET;
    addattribute(message, NDA_DST, address, 4);
  } else if (inet_pton(AF_INET6, argv[1], address) == 1) {
    message.neighbour.ndm_family = AF_INET6;
    addattribute(message, NDA_DST, address, 16);
  } else {
    return fail("not an IPv4 or IPv6 address");
  }
  if (strcmp(argv[2], "-") != 0) {
    unsigned char linkaddress[32];
    const size_t length = parselinkaddress(argv[2], linkaddress);
    if (length == 0)
      return fail("malformed link-layer address");
    addattribute(message, NDA_LLADDR, linkaddress, length);
  }
  message.neighbour.ndm_ifindex = static_cast<int>(if_nametoindex(argv[3]));
  message.neighbour.ndm_state = state(argv[4]);
  if (message.neighbour.ndm_ifindex == 0 || message.neighbour.ndm_state == 0)
    return fail("unknown device or state");

  const int sock = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE);
  if (sock < 0 || send(sock, &message, message.header.nlmsg_len, 0) < 0)
    return fail("cannot talk to the kernel");
  alignas(nlmsghdr) char answer[1024];
  const ssize_t got = recv(sock, answer, sizeof answer, 0);
  close(sock);
  const auto *header = reinterpret_cast<const nlmsghdr *>(answer);
  if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) ||
      header->nlmsg_type != NLMSG_ERROR)
    return fail("no answer from the kernel");
  const int error = static_cast<const nlmsgerr *>(NLMSG_DATA(header))->error;
  if (error != 0)
    return fail(strerror(-error));
  return 0;
}
