/* The least that asking the kernel for one IPv4 neighbour can cost: a route get for the
 * interface, a neighbour get on it, the address written out; with the argument "rules",
 * the dump of the policy rules first, the least that clientmac's answer asks on a router
 * with no rules of its own. Raw system calls, no checks beyond what keeps it from reading
 * garbage: a yardstick, not a tool. */
#include <linux/fib_rules.h>
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

struct request {
  struct nlmsghdr header;
  union {
    struct rtmsg route;
    struct ndmsg neighbour;
  } body;
  struct rtattr destination;
  unsigned char address[4];
};

static char answer[8192];

/* Sends one get and returns the attributes of its one answer; NULL on an error. */
static struct rtattr *getanswer(int sock, struct request *request, size_t bodylength, int *left) {
  struct nlmsghdr *header = (struct nlmsghdr *)answer;
  request->header.nlmsg_len = sizeof *request;
  if (send(sock, request, sizeof *request, 0) < 0 || recv(sock, answer, sizeof answer, 0) <= 0 ||
      header->nlmsg_type == NLMSG_ERROR)
    return NULL;
  *left = (int)header->nlmsg_len - (int)NLMSG_LENGTH(bodylength);
  return (struct rtattr *)((char *)NLMSG_DATA(header) + NLMSG_ALIGN(bodylength));
}

/* Dumps the policy rules of IPv4 and reads them to the dump's end. */
static void dumprules(int sock) {
  struct {
    struct nlmsghdr header;
    struct fib_rule_hdr rule;
  } request;
  memset(&request, 0, sizeof request);
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETRULE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.rule.family = AF_INET;
  if (send(sock, &request, sizeof request, 0) < 0)
    return;
  for (;;) {
    const ssize_t got = recv(sock, answer, sizeof answer, 0);
    const struct nlmsghdr *header = (const struct nlmsghdr *)answer;
    int left = (int)got;
    if (got <= 0)
      return;
    for (; NLMSG_OK(header, left); header = NLMSG_NEXT(header, left))
      if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR)
        return;
  }
}

int main(int argc, char **argv) {
  static const char zero[] = "00:00:00:00:00:00";
  const char *client = getenv("REMOTE_ADDR");
  struct request request;
  int sock = socket(AF_NETLINK, SOCK_RAW, NETLINK_ROUTE), left, oif = 0;
  struct rtattr *attribute;
  memset(&request, 0, sizeof request);
  if (client == NULL || inet_pton(AF_INET, client, request.address) != 1 || sock < 0)
    return write(1, zero, 17) < 0;
  request.destination.rta_type = RTA_DST;
  request.destination.rta_len = RTA_LENGTH(4);
  if (argc > 1 && strcmp(argv[1], "rules") == 0)
    dumprules(sock);
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.body.route.rtm_family = AF_INET;
  for (attribute = getanswer(sock, &request, sizeof(struct rtmsg), &left);
       attribute && RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left))
    if (attribute->rta_type == RTA_OIF)
      memcpy(&oif, RTA_DATA(attribute), sizeof oif);
  memset(&request.body, 0, sizeof request.body);
  request.header.nlmsg_type = RTM_GETNEIGH;
  request.body.neighbour.ndm_family = AF_INET;
  request.body.neighbour.ndm_ifindex = oif;
  for (attribute = getanswer(sock, &request, sizeof(struct ndmsg), &left);
       attribute && RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
    if (attribute->rta_type == NDA_LLADDR && RTA_PAYLOAD(attribute) == 6) {
      static const char digits[] = "0123456789abcdef";
      const unsigned char *bytes = RTA_DATA(attribute);
      char text[18];
      for (int i = 0; i < 6; i++) {
        text[3 * i] = digits[bytes[i] >> 4];
        text[3 * i + 1] = digits[bytes[i] & 15];
        text[3 * i + 2] = ':';
      }
      return write(1, text, 17) < 0;
    }
  }
  return write(1, zero, 17) < 0;
}
