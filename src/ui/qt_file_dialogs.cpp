// Stub: being written.
#include "ui/qt_file_dialogs.h"

namespace strandlink::ui {
namespace {
class NoDialogs : public settings::FileDialogs {
 public:
  QString run(const settings::FileDialogRequest&) override { return {}; }
};
}  // namespace
std::unique_ptr<settings::FileDialogs> makeQtFileDialogs(QWidget*) { return std::make_unique<NoDialogs>(); }
}  // namespace strandlink::ui
