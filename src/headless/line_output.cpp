#include "headless/line_output.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "base/quiet_threads.h"

namespace strandlink::headless {

struct LineOutput::Shared {
  explicit Shared(int descriptor) : fd(descriptor) {}
  const int fd;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  std::size_t bytes = 0;
  std::uint64_t dropped = 0;
  bool writing = false;
  bool stop = false;
  bool broken = false;  // the output is gone (closed pipe, bad descriptor): nothing more is written
};

namespace {

// False when the output will take nothing any more.
bool writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

std::string droppedLine(std::uint64_t dropped) {
  return "(" + std::to_string(dropped) + (dropped == 1 ? " line" : " lines") +
         " dropped: the output was not being read)\n";
}

void runWriter(const std::shared_ptr<LineOutput::Shared>& s) {
  std::unique_lock lock(s->mutex);
  for (;;) {
    s->changed.wait(lock, [&] { return !s->lines.empty() || s->stop; });
    if (s->lines.empty()) return;
    std::string batch;
    for (const std::string& line : s->lines) batch += line;
    s->lines.clear();
    s->bytes = 0;
    s->writing = true;
    lock.unlock();
    const bool ok = writeAll(s->fd, batch);
    lock.lock();
    s->writing = false;
    if (!ok) s->broken = true;
    // The output takes lines again: say what it missed.
    if (s->lines.empty() && s->dropped > 0 && !s->broken) {
      s->lines.push_back(droppedLine(s->dropped));
      s->dropped = 0;
    }
    if (s->broken) s->lines.clear();
    s->changed.notify_all();
  }
}

}  // namespace

LineOutput::LineOutput(int fd) : shared_(std::make_shared<Shared>(fd)) {
  const QuietThreads quiet;
  writer_ = std::thread([s = shared_] { runWriter(s); });
}

LineOutput::~LineOutput() {
  const bool drained = !gaveUp_ && drain();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
  }
  shared_->changed.notify_all();
  if (drained) {
    writer_.join();
  } else {
    writer_.detach();  // blocked in write(): the end of the process ends it
  }
}

void LineOutput::write(const QString& line) {
  std::string text = line.toLocal8Bit().toStdString();
  text += '\n';
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->broken) return;
    if (shared_->lines.size() >= kMaxLines || shared_->bytes + text.size() > kMaxBytes) {
      ++shared_->dropped;
      return;
    }
    shared_->bytes += text.size();
    shared_->lines.push_back(std::move(text));
  }
  shared_->changed.notify_all();
}

bool LineOutput::drain(std::chrono::milliseconds deadline) {
  if (gaveUp_) return false;
  std::unique_lock lock(shared_->mutex);
  const bool done = shared_->changed.wait_for(
      lock, deadline, [&] { return (shared_->lines.empty() && !shared_->writing) || shared_->broken; });
  gaveUp_ = !done;
  return done;
}

}  // namespace strandlink::headless
