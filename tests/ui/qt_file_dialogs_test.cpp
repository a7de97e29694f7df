// The Qt dialog as a request sets it up (never shown): what the user may pick.
#include "ui/qt_file_dialogs.h"

#include <QFileDialog>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace strandlink::ui {
namespace {

TEST(QtFileDialogs, OpenAndSaveAreSetUpFromTheRequest) {
  QTemporaryDir dir;
  FileDialogRequest r{true, "Strandlink", {}, {"All Files (*)", "Strandlink Files (*.stn)"}, 1, dir.path(), {}, true};
  QFileDialog d;
  configureFileDialog(d, r);
  EXPECT_EQ(d.windowTitle(), "Strandlink");
  EXPECT_TRUE(d.acceptMode() == QFileDialog::AcceptOpen && d.fileMode() == QFileDialog::ExistingFile);
  EXPECT_EQ(d.directory().absolutePath(), QDir(dir.path()).absolutePath());
  EXPECT_EQ(d.nameFilters(), r.filters);
  EXPECT_EQ(d.selectedNameFilter(), "Strandlink Files (*.stn)");

  // The same dialog reused for Save keeps nothing of the Open.
  r.open = r.fileMustExist = false;
  r.confirmOverwrite = true;
  r.defaultExtension = "stn";
  configureFileDialog(d, r);
  EXPECT_TRUE(d.acceptMode() == QFileDialog::AcceptSave && d.fileMode() == QFileDialog::AnyFile);
  EXPECT_FALSE(d.testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(d.defaultSuffix(), "stn");  // before the overwrite question
}

}  // namespace
}  // namespace strandlink::ui
