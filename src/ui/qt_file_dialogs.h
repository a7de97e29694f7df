// File dialogs of File > Open and File > Save, shown with Qt.
#pragma once

#include <memory>

#include "ui/settings_dialogs.h"

class QFileDialog;
class QWidget;

namespace strandlink::ui {

std::unique_ptr<FileDialogs> makeQtFileDialogs(QWidget* parent);

// Sets a dialog up from a request without showing it: title, directory, filters and
// the preselected one, Open or Save, an existing file for Open, the overwrite
// question for Save, and no suffix of its own.
void configureFileDialog(QFileDialog& dialog, const FileDialogRequest& request);

}  // namespace strandlink::ui
