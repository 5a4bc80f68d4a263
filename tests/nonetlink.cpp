// Runs a command with netlink denied, as a hardened server's sandbox denies it (seccomp,
// systemd's RestrictAddressFamilies): socket(AF_NETLINK, ...) fails with EAFNOSUPPORT, so
// that the program reads the route and the neighbours from /proc alone. The tests' own
// helper, never installed. Usage: nonetlink COMMAND [ARGS...]

#include <cerrno>
#include <cstddef>
#include <cstdio>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fputs("usage: nonetlink COMMAND [ARGS...]\n", stderr);
    return 2;
  }
  // The family is the low word of the first argument, which comes first on the
  // little-endian machines the tests run on.
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAFNOSUPPORT),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]),
                              filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    perror("nonetlink: seccomp");
    return 99;
  }
  execvp(argv[1], argv + 1);
  perror(argv[1]);
  return 127;
}
