// Crash reports: a handler that a voice application installs for fatal and control signals
// logs the signal, its information and the process's /proc files.
#pragma once

#include <csignal>

typedef void (*SIGNAL_HANDLER_FUNC)(int sig, siginfo_t* info, void* context);

// Installs `handler` for the fatal and control signals and ignores SIGPIPE and SIGCONT.
void signalRegisterHandler(SIGNAL_HANDLER_FUNC handler);
// The body of such a handler: logs the report and restores the default action of fatal signals.
void signalPrintInfo(int sig, const siginfo_t* info);
// Logs a text file line by line.
void logFile(const char* path);
