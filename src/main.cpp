// orvoxd start-up, the main loop and shutdown.
//
// The loop thread owns ubus, UCI, the request timers and the pipes' readers. The endpoint
// library's threads reach it only through the event pipe: a record appended to event_list and
// one byte 'E' written to the pipe; a trapped signal becomes the byte 'Q'.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio_rx.h"
#include "envFlag.h"
#include "orvoxd.h"

int tinyBase = -1;

namespace {

const char event_str[] = "/tmp/endpt_event";
const char audio_tx_str[] = "/tmp/endpt_audio_tx";
const char audio_rx_str[] = "/tmp/endpt_audio_rx";

tl_list_t* event_list;
int event_fd;
int audio_tx_fd;
int audio_rx_fd;
tl_stream_t* event_stream;
tl_stream_t* audio_rx_stream;
tl_bus_t* audio_rx_bus;
tl_bus_t* audio_tx_bus;

constexpr char EVENT_LINE = 'E';
constexpr char EVENT_QUIT = 'Q';

// Only an async-signal-safe write: the list and its lock are never touched in signal context.
void signal_handler(int, siginfo_t*, void*) {
  int fd = event_fd;
  if (fd == 0) return;
  const char quit = EVENT_QUIT;
  ssize_t ignored = write(fd, &quit, 1);
  (void)ignored;
}

int signals_init() {
  struct sigaction action {};
  action.sa_sigaction = signal_handler;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  const int trapped[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPWR};
  for (int sig : trapped) sigaddset(&action.sa_mask, sig);
  for (int sig : trapped) {
    if (sigaction(sig, &action, nullptr) != 0) {
      perror("Error trapping signals");
      return -1;
    }
  }
  return 0;
}

// The pipes carry the calls' audio and the daemon's own wake-ups: only the daemon's user and its
// group (the PBX) may open them, whatever the umask the daemon was started with.
constexpr mode_t FIFO_MODE = 0660;

// Why the file at a pipe path is not the daemon's own pipe, or null when it is.
const char* foreignFifo(const struct stat& st) {
  if (!S_ISFIFO(st.st_mode)) return "not a named pipe";
  if (st.st_uid != geteuid()) return "owned by another user";
  return nullptr;
}

void refuseFifo(const char* path, const char* why, const char* error) {
  printf("Refusing %s: %s\n", path, why);
  exit_failure(error);
}

// Why the directory of the pipes lets another user replace them, or null when it does not: where
// others may write and the sticky bit does not keep them to their own entries, anyone can rename
// the daemon's pipes away after the start-up checks and put their own in place. The daemon's own
// group (the PBX's) is trusted as it is with the pipes themselves.
const char* openPipeDir(const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  if (st.st_uid != geteuid() && st.st_uid != 0) return "owned by another user";
  if (st.st_mode & S_ISVTX) return nullptr;
  if (st.st_mode & S_IWOTH) return "writable by others without the sticky bit";
  if ((st.st_mode & S_IWGRP) && st.st_gid != getegid())
    return "writable by another group without the sticky bit";
  return nullptr;
}

// The directory above `dir` ("/" stays "/"), or empty when `dir` names no parent of its own.
std::string parentDir(const std::string& dir) {
  const size_t end = dir.find_last_not_of('/');
  if (end == std::string::npos) return dir.empty() ? std::string() : "/";
  const size_t slash = dir.rfind('/', end);
  if (slash == std::string::npos) return std::string();
  const size_t keep = dir.find_last_not_of('/', slash);
  return keep == std::string::npos ? "/" : dir.substr(0, keep + 1);
}

// Every directory from `dir` up to the root is held to the pipe directory's rule: whoever may
// rename any of them may move the whole tree of the pipes away and put another in its place.
void checkDirChain(std::string dir, const char* error) {
  for (; !dir.empty(); dir = dir == "/" ? std::string() : parentDir(dir)) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) exit_failure(error);
    if (const char* why = openPipeDir(st)) refuseFifo(dir.c_str(), why, error);
  }
}

// The directory of a pipe path, as written.
std::string pipeDirOf(const char* path) {
  std::string dir(path);
  const size_t slash = dir.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
}

// The pipe directory as written (through any link in it) and as it resolves.
void checkPipeDir(const char* path, const char* error) {
  const std::string dir = pipeDirOf(path);
  char resolved[PATH_MAX];
  if (realpath(dir.c_str(), resolved) == nullptr) exit_failure(error);
  if (dir[0] == '/') checkDirChain(dir, error);
  checkDirChain(resolved, error);
}

// The group a pipe made now in the directory of `path` gets: the directory's own when it passes
// its group on (set-group-ID, as the service script makes it), else the daemon's.
gid_t newFifoGroup(const char* path, const char* error) {
  struct stat st {};
  if (stat(pipeDirOf(path).c_str(), &st) != 0) exit_failure(error);
  return (st.st_mode & S_ISGID) ? st.st_gid : getegid();
}

// Creates the pipe or reuses one the daemon's user made before; anything else at the path (a
// link, a file, another user's pipe) ends the start-up. A reused pipe gets the mode and the group
// a new one would get, so that a PBX of a group changed since the last start is let in, and one
// of the old group is not.
int open_fifo(const char* path, int extraFlags, const char* createError, const char* openError) {
  checkPipeDir(path, createError);
  const gid_t group = newFifoGroup(path, createError);
  if (mkfifo(path, FIFO_MODE) != 0 && errno != EEXIST) exit_failure(createError);
  struct stat before {};
  if (lstat(path, &before) != 0) exit_failure(openError);
  if (const char* why = foreignFifo(before)) refuseFifo(path, why, openError);
  int fd = open(path, O_RDWR | O_NONBLOCK | O_NOFOLLOW | extraFlags);
  if (fd == -1) exit_failure(openError);
  // What was opened is what was checked: nothing was put in its place meanwhile.
  struct stat opened {};
  if (fstat(fd, &opened) != 0) exit_failure(openError);
  const char* why = foreignFifo(opened);
  if (!why && (opened.st_dev != before.st_dev || opened.st_ino != before.st_ino))
    why = "replaced while it was opened";
  if (why) refuseFifo(path, why, openError);
  if (opened.st_gid != group && fchown(fd, static_cast<uid_t>(-1), group) != 0)
    refuseFifo(path, "cannot be given the group of the pipe directory", openError);
  if (fchmod(fd, FIFO_MODE) != 0) exit_failure(openError);
  return fd;
}

void fifos_init() {
  event_fd = open_fifo(pipePath(event_str), 0, "Failed to create event pipe",
                       "Failed to open event pipe");
  audio_tx_fd = open_fifo(pipePath(audio_tx_str), O_LARGEFILE, "Failed to create tx pipe",
                          "Failed to open tx pipe");
  audio_rx_fd = open_fifo(pipePath(audio_rx_str), O_LARGEFILE, "Failed to create rx pipe",
                          "Failed to open rx pipe");
}

void shutdown_all() {
  ubus_answer_waiting();
  ubus_disable_receive();
  connectionClose();
  lineClose();
  ubus_close();
}

void event_stream_handler(tl_stream_t*, tl_event_t* event) {
  if (!event || !event->in || event->count <= 0) return;
  switch (event->in[0]) {
    case EVENT_LINE: {
      auto* ev = static_cast<line_event_t*>(tl_list_get(event_list));
      if (!ev) return;
      logLineEvent("Main event handler line %d event %s", ev->line, ev->name);
      // The call takes the record over when it starts; otherwise it is released here, after a
      // DECT-manager request waiting for this acknowledgement has been answered, so that one
      // missing PBX cannot hold every later DECT request.
      bool handedOver = ubus_call_asterisk(ev) == 0;
      ubus_broadcast_event(ev);
      if (!handedOver) {
        pbxAnswered(ev, UBUS_STATUS_TIMEOUT);
        notifyCordhubWhilePending();
        free(ev);
      }
      break;
    }
    case EVENT_QUIT:
      printf("Shutting down on quit event\n");
      shutdown_all();
      exit_succes("orvoxd exits");
    default:
      break;
  }
}

constexpr size_t AUDIO_RX_READ_SIZE = 4096;

void audio_rx_stream_handler(tl_stream_t*, tl_event_t* event) {
  audioRxFeed(audio_rx_bus, event, AUDIO_RX_READ_SIZE);
}

void streams_and_buses_init() {
  event_stream = tl_stream_new(event_fd);
  tl_stream_add_handler(event_stream, 1, event_stream_handler);
  tl_base_add_stream(tinyBase, event_stream);

  audio_rx_stream = tl_stream_new(audio_rx_fd);
  tl_stream_add_handler(audio_rx_stream, AUDIO_RX_READ_SIZE, audio_rx_stream_handler);
  tl_base_add_stream(tinyBase, audio_rx_stream);

  audio_rx_bus = tl_bus_new(audio_rx_fd);
  if (!audio_rx_bus) exit_failure("Failed to create audio_rx bus");
  tl_bus_add_handler(audio_rx_bus, lineAudioTx);

  audio_tx_bus = tl_bus_new(audio_tx_fd);
  if (!audio_tx_bus) exit_failure("Failed to create audio_tx bus");
}

// Whether the process may lock more memory than RLIMIT_MEMLOCK: CAP_IPC_LOCK in its effective set.
bool mayLockBeyondLimit() {
  FILE* status = fopen("/proc/self/status", "re");
  if (!status) return false;
  char line[256];
  unsigned long long effective = 0;
  while (fgets(line, sizeof line, status)) {
    if (sscanf(line, "CapEff: %llx", &effective) == 1) break;
  }
  fclose(status);
  constexpr int CAP_IPC_LOCK_BIT = 14;
  return (effective >> CAP_IPC_LOCK_BIT) & 1;
}

// On the real-time tick a page of the daemon's that the kernel dropped (code or data under memory
// pressure) would be read back inside a 5 ms tick. Every page the daemon has touched or touches
// from here on stays resident; pages are locked as they are first touched, so that the threads'
// stacks and the heap cost no more memory than they use. Without the privilege to lock beyond
// the limit, locking future mappings could make a later allocation fail: then nothing is locked.
// Tests and the soak (ORVOX_NO_RT=1) run unlocked, like the rest of their non-real-time set-up.
void lockMemory() {
  if (envFlagOn("ORVOX_NO_RT")) return;
  struct rlimit limit {};
  const bool unlimited = getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
  if (!unlimited && !mayLockBeyondLimit()) {
    printf("Memory not locked: no privilege to lock it\n");
    return;
  }
  if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) != 0)
    printf("Memory not locked: %s\n", strerror(errno));
}

int orderly_exit() {
  shutdown_all();
  return 1;
}

}  // namespace

// Without the broker the daemon can neither serve "endpt" nor report events: it shuts down in
// order and exits non-zero so that the service manager starts it again once the broker is back.
void ubus_connection_lost(struct ubus_context*) {
  printf("Lost the connection to ubus: exiting\n");
  shutdown_all();
  exit_failure("orvoxd exits: no ubus");
}

const char* pipePath(const char* defaultPath) {
  static thread_local std::string path;
  const char* dir = getenv("ORVOX_PIPE_DIR");
  if (!dir || !*dir) return defaultPath;
  const char* base = strrchr(defaultPath, '/');
  path = std::string(dir) + (base ? base : defaultPath);
  return path.c_str();
}

int send_event_main(line_event_t* ev, char x) {
  if (!event_list || event_fd == 0) return -1;
  if (x != EVENT_QUIT) tl_list_add(event_list, ev);
  ssize_t ignored = write(event_fd, &x, 1);
  (void)ignored;
  return 0;
}

int send_audio_asterisk(const uint8_t* buf, int size) {
  if (audio_tx_bus) tl_bus_send(audio_tx_bus, buf, static_cast<size_t>(size));
  return 0;
}

int orvoxdMain() {
  // Unbuffered on a terminal; line by line into a pipe or log, so that a line is never held back.
  if (isatty(1)) setbuf(stdout, nullptr);
  else setvbuf(stdout, nullptr, _IOLBF, 0);

  // Before the library starts its threads, so that their stacks are locked too.
  lockMemory();
  if (lineEarlyInit() != 0) return orderly_exit();
  if (signals_init() != 0) return orderly_exit();
  tinyBase = tl_base_new();
  if (tinyBase < 0) return orderly_exit();
  event_list = tl_list_new();
  if (!event_list) exit_failure("tl_list_new\n");
  fifos_init();
  streams_and_buses_init();

  if (ubus_init() != 0) return orderly_exit();
  if (getLineCounts(&epInfo) != 0 || config_init() != 0 || lineInit() != 0 ||
      connectionInit() != 0 || perhaps_erase_unuseds_lines() != 0 ||
      ubus_enable_receive() != 0)
    return orderly_exit();

  printf("Startup ready!\n");
  tl_base_dispatch(tinyBase);
  return orderly_exit();
}
