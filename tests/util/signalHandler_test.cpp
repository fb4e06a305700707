// Crash reports: what a handler logs, and which signals keep their handler afterwards.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>

#include "signalHandler.h"
#include "stdoutCapture.h"

namespace {

void noteSignal(int, siginfo_t*, void*) {}

TEST(SignalReport, FaultReportCarriesTheInformationAndTheProcFiles) {
  siginfo_t info{};
  info.si_signo = SIGSEGV;
  info.si_code = SEGV_MAPERR;
  info.si_addr = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7f1234567890ull));
  StdoutCapture capture;
  signalPrintInfo(SIGSEGV, &info);
  std::string out = capture.finish();
  EXPECT_NE(out.find(std::string(60, '-')), std::string::npos);
  EXPECT_NE(out.find("    *** Received signal 11 on thread with PID " + std::to_string(getpid())),
            std::string::npos)
      << out;
  // The whole 64-bit fault address, not a truncated word.
  EXPECT_NE(out.find("    *** siginfo->si_addr    = 0x7f1234567890"), std::string::npos) << out;
  struct sigaction now {};
  sigaction(SIGSEGV, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(SignalReport, ShutdownSignalIsOnlyNoted) {
  StdoutCapture capture;
  signalPrintInfo(SIGUSR1, nullptr);
  std::string out = capture.finish();
  EXPECT_EQ(out.find("***"), std::string::npos);
}

TEST(SignalReport, RegisteredHandlerStaysForControlSignalsAfterAReport) {
  signalRegisterHandler(noteSignal);
  struct sigaction now {};
  sigaction(SIGUSR2, nullptr, &now);
  EXPECT_EQ(now.sa_sigaction, noteSignal);
  EXPECT_TRUE(now.sa_flags & SA_SIGINFO);
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  StdoutCapture capture;
  signalPrintInfo(SIGUSR2, nullptr);
  capture.finish();
  sigaction(SIGUSR2, nullptr, &now);
  EXPECT_EQ(now.sa_sigaction, noteSignal);
  signal(SIGUSR2, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGCONT, SIG_DFL);
  for (int sig : {SIGINT, SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGALRM, SIGCHLD,
                  SIGIO, SIGSYS})
    signal(sig, SIG_DFL);
}

TEST(SignalReport, MissingFileIsReported) {
  StdoutCapture capture;
  logFile("/nonexistent/orvox/file");
  std::string out = capture.finish();
  EXPECT_NE(out.find("Failed to open /nonexistent/orvox/file"), std::string::npos);
}

}  // namespace
