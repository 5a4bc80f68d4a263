/* The least that any lookup through /proc/net/arp can cost: one large read(2) buffer, a
 * plain scan for the client's line, one write(2). It is a yardstick, not a tool: it
 * trusts the table to be the kernel's and knows nothing of mapped or bracketed clients. */
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char table[1 << 20];

int main(void) {
  const char *client = getenv("REMOTE_ADDR");
  size_t clientlen = client ? strlen(client) : 0;
  int fd = open("/proc/net/arp", O_RDONLY);
  size_t used = 0;
  ssize_t got;
  while (fd >= 0 && used < sizeof table - 1 &&
         (got = read(fd, table + used, sizeof table - 1 - used)) > 0)
    used += (size_t)got;
  table[used] = '\0';
  for (char *line = table; client && *line; line = strchr(line, '\n') + 1) {
    if (strncmp(line, client, clientlen) == 0 && line[clientlen] == ' ') {
      char *hw = line + 41; /* the kernel prints fixed-width columns */
      write(1, hw, 17);
      return 0;
    }
    if (!strchr(line, '\n'))
      break;
  }
  write(1, "00:00:00:00:00:00", 17);
  return 0;
}
