// The shell: hands a document or a web address to the desktop, which opens it
// with whatever program is associated with it. The answer says only whether
// something took the request; a browser that starts and then fails is not seen.
#pragma once

#include <QString>

#include <memory>
#include <vector>

class QWidget;

namespace strandlink::ui {

// One request to open something.
struct ShellRequest {
  QWidget* owner = nullptr;  // the window whose handler asked
  QString file;              // a path or an address
  QString directory;         // the program's directory
};

class Shell {
 public:
  virtual ~Shell() = default;
  // False when nothing could take the request (no launcher, no such file).
  virtual bool execute(const ShellRequest& request) = 0;
};

// Asks the desktop (QDesktopServices) to open the file; the working directory
// resolves a relative path. A local file that does not exist is not handed on,
// so the desktop cannot answer with an error of its own.
std::unique_ptr<Shell> makeDesktopShell();

// Keeps every request and opens nothing: for tests.
class RecordingShell : public Shell {
 public:
  bool execute(const ShellRequest& request) override {
    requests.push_back(request);
    return answer;
  }
  std::vector<ShellRequest> requests;
  bool answer = true;
};

// Opens a file or address on behalf of owner, the way every help command does:
// relative to the program's directory. The shell's answer.
bool ShellOpen(Shell& shell, QWidget* owner, const QString& file);

// What a request's file means to the desktop: an address with a scheme stays as it
// is; anything else is a path, relative ones taken from directory. Empty when the
// request names nothing that could be opened.
QString shellTarget(const QString& file, const QString& directory);

}  // namespace strandlink::ui
