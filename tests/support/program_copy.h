// The real program, ended with the test program should that stop half way; and a
// copy of it in RTP mode, window-less, on the test's JACK server (its ports
// "<name>:in" and "<name>:out"), its standard output gathered. Also what the
// kernel tells of a running process.
#pragma once

#include <signal.h>
#include <sys/prctl.h>

#include <QFile>
#include <QProcess>

namespace strandlink::test {

struct Program : QProcess {
  Program() { setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); }
};

// Whether the signal ends the process within ms, normally and with exit status 0.
inline bool endsCleanlyOn(QProcess& process, int sig, int ms = 3000) {
  ::kill(pid_t(process.processId()), sig);
  return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The value of a line of /proc/<pid>/status ("VmRSS:", "SigCgt:"), empty without one.
inline QByteArray statusField(qint64 pid, const char* key) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return {};
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(qstrlen(key)).trimmed();
  return {};
}

// Whether the process catches sig (or, with ignoredToo, ignores it): before that,
// the signal's default would end it.
inline bool takesSignal(qint64 pid, int sig, bool ignoredToo = false) {
  quint64 mask = statusField(pid, "SigCgt:").toULongLong(nullptr, 16);
  if (ignoredToo) mask |= statusField(pid, "SigIgn:").toULongLong(nullptr, 16);
  return (mask >> (sig - 1)) & 1;
}

struct Copy : Program {
  Copy(const QString& program, const QString& name, int local, int remote, const QString& timing,
       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    setProcessEnvironment(environment);
    start(program, {"--headless", "--protocol", "rtp", "--local", QStringLiteral("127.0.0.1:%1").arg(local), "--remote",
                    QStringLiteral("127.0.0.1:%1").arg(remote), "--input", "0", "--output", "0", "--timing", timing,
                    "--name", name});
  }
  // Any other window-less run of the program, from its arguments.
  Copy(const QString& program, const QStringList& arguments) { start(program, arguments); }
  ~Copy() override {
    // Never kill(0): that would be the test's own process group.
    if (state() != QProcess::NotRunning && processId() > 0) ::kill(pid_t(processId()), SIGTERM);
    if (!waitForFinished(5000)) kill();
  }
  const QString& out() {
    text += QString::fromLocal8Bit(readAllStandardOutput());
    return text;
  }
  bool says(const QString& line) { return out().split(u'\n').contains(line); }
  QString text;
};

}  // namespace strandlink::test
