#include "ui/qt_file_dialogs.h"

#include <QFileDialog>

namespace strandlink::ui {

namespace {

class QtFileDialogs : public FileDialogs {
 public:
  explicit QtFileDialogs(QWidget* parent) : parent_(parent) {}

  QString run(const FileDialogRequest& request) override {
    QFileDialog dialog(parent_);
    configureFileDialog(dialog, request);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
  }

 private:
  QWidget* parent_;
};

}  // namespace

void configureFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
  dialog.setWindowTitle(request.title);
  dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  // Save takes any name in an existing directory; Open only a file that exists.
  dialog.setFileMode(request.open && request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  // Empty: a name without extension is taken as typed.
  dialog.setDefaultSuffix(request.defaultExtension);
  if (!request.initialDirectory.isEmpty()) dialog.setDirectory(request.initialDirectory);
  dialog.setNameFilters(request.filters);
  if (request.selectedFilter >= 0 && request.selectedFilter < request.filters.size()) {
    dialog.selectNameFilter(request.filters[request.selectedFilter]);
  }
  if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
}

std::unique_ptr<FileDialogs> makeQtFileDialogs(QWidget* parent) { return std::make_unique<QtFileDialogs>(parent); }

}  // namespace strandlink::ui
