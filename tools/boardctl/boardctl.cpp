// boardctl: drives and observes the virtual board through its control socket.
//
//   boardctl [-s socket] <line> <command> [arguments...]
//   boardctl [-s socket] board | tickstats [reset] | lockstep [off|line|step] | step [ticks]
//
// The socket is ORVOX_BOARD_SOCKET, or "/tmp/orvox_board.sock". Prints the board's answer and
// exits 0 when it begins "OK", 1 when the board refused the command, 2 when the board could not
// be reached or the command line is wrong.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage() {
  std::fprintf(stderr,
               "usage: boardctl [-s socket] <line> <command> [arguments...]\n"
               "       boardctl [-s socket] board | tickstats [reset] | lockstep [off|line|step] | step [ticks]\n"
               "commands: status, offhook, onhook, flash [ms] (10..5000, 200 unless given; the USA, TWN\n"
               "  and T57 profiles want 300 to 999), dial <digits> [on off],\n"
               "  pulse <digits> [break make interdigit], play silence|tone <hz> [hz2] [dBm0]|"
               "<file.wav>,\n"
               "  record <file.wav>|stop, ring [on off count], stopring, reverse on|off,\n"
               "  linetest <ret> [values...], hybrid <delay_ms> <erl_dB>|off\n"
               "lockstep (fast tick only): line keeps the tick on the line driver's hook sampling clock;\n"
               "  step runs a tick only when \"step\" grants it, answering once it has run\n");
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("ORVOX_BOARD_SOCKET");
  std::string path = env != nullptr && env[0] != '\0' ? env : "/tmp/orvox_board.sock";
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-s") == 0) {
    path = argv[2];
    first = 3;
  }
  if (first >= argc || std::strcmp(argv[first], "-h") == 0 ||
      std::strcmp(argv[first], "--help") == 0) {
    usage();
    return 2;
  }
  std::string command;
  for (int i = first; i < argc; ++i) {
    if (std::strchr(argv[i], '\n') != nullptr) {
      std::fprintf(stderr, "boardctl: arguments cannot contain a newline\n");
      return 2;
    }
    command += (i > first ? " " : "") + std::string(argv[i]);
  }
  command += "\n";

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "boardctl: socket path too long: %s\n", path.c_str());
    return 2;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::fprintf(stderr, "boardctl: cannot reach the virtual board at %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return 2;
  }
  size_t sent = 0;
  while (sent < command.size()) {
    const ssize_t n = send(fd, command.data() + sent, command.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      std::fprintf(stderr, "boardctl: lost the virtual board: %s\n", std::strerror(errno));
      close(fd);
      return 2;
    }
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof(buffer))) > 0) reply.append(buffer, static_cast<size_t>(n));
  close(fd);
  if (reply.empty()) {
    std::fprintf(stderr, "boardctl: the virtual board gave no answer\n");
    return 2;
  }
  std::fputs(reply.c_str(), reply.rfind("OK", 0) == 0 ? stdout : stderr);
  return reply.rfind("OK", 0) == 0 ? 0 : 1;
}
