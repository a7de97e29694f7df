// The real program, ended with the test program should that stop half way; and a
// copy of it in RTP mode, window-less, on the test's JACK server (its ports
// "<name>:in" and "<name>:out"), its standard output gathered.
#pragma once

#include <signal.h>
#include <sys/prctl.h>

#include <QProcess>

namespace strandlink::test {

struct Program : QProcess {
  Program() { setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }); }
};

struct Copy : Program {
  Copy(const QString& program, const QString& name, int local, int remote, const QString& timing,
       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    setProcessEnvironment(environment);
    start(program, {"--headless", "--protocol", "rtp", "--local", QStringLiteral("127.0.0.1:%1").arg(local), "--remote",
                    QStringLiteral("127.0.0.1:%1").arg(remote), "--input", "0", "--output", "0", "--timing", timing,
                    "--name", name});
  }
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
