#include "signalHandler.h"

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "voiceLog.h"

namespace {

constexpr int trappedSignals[] = {SIGINT,  SIGILL,  SIGTRAP, SIGBUS, SIGFPE,  SIGUSR1,
                                  SIGSEGV, SIGUSR2, SIGALRM, SIGCHLD, SIGIO, SIGSYS};
// Signals whose default action comes back after a report: a repeated fault then ends the process.
constexpr int defaultAfterReport[] = {SIGILL,  SIGABRT, SIGFPE,  SIGSEGV, SIGINT, SIGBUS,
                                      SIGKILL, SIGPIPE, SIGSTOP, SIGXCPU, SIGXFSZ};

void logProcFile(const char* name) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(getpid()), name);
  voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_INFO, "/proc/%d/%s : ",
           static_cast<int>(getpid()), name);
  logFile(path);
  voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_INFO, "%s", "");
}

}  // namespace

void signalRegisterHandler(SIGNAL_HANDLER_FUNC handler) {
  struct sigaction action {};
  action.sa_sigaction = handler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (int sig : trappedSignals) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGCONT, SIG_IGN);
}

void logFile(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_ERROR, "Failed to open %s", path);
    return;
  }
  char line[1024];
  while (fgets(line, sizeof line, f)) voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_INFO, "%s", line);
  fclose(f);
}

void signalPrintInfo(int sig, const siginfo_t* info) {
  if (sig == SIGUSR1) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_NOTICE,
             "VOICE received signal %d specifically used for shutting down voice...", sig);
    return;
  }
  char dashes[61];
  memset(dashes, '-', 60);
  dashes[60] = '\0';
  auto crit = [](const char* fmt, auto... args) {
    voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_CRIT, fmt, args...);
  };
  crit("%s", dashes);
  crit("    *** Received signal %d on thread with PID %d", sig, static_cast<int>(getpid()));
  if (info) {
    crit("    *** siginfo->si_signo   = %d", info->si_signo);
    crit("    *** siginfo->si_errno   = %d", info->si_errno);
    crit("    *** siginfo->si_code    = %d", info->si_code);
    crit("    *** siginfo->si_pid     = %d", info->si_pid);
    // The real fault address, at the host's pointer width.
    crit("    *** siginfo->si_addr    = %p", info->si_addr);
    crit("    *** siginfo->si_status  = 0x%08x", static_cast<unsigned>(info->si_status));
  }
  crit("%s", dashes);
  logProcFile("stat");
  logProcFile("status");
  logProcFile("maps");
  for (int s : defaultAfterReport)
    if (s == sig && s != SIGKILL && s != SIGSTOP) signal(sig, SIG_DFL);
}
