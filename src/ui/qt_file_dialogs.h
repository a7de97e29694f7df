// File dialogs of File > Open and File > Save, shown with Qt.
#pragma once

#include <memory>

#include "settings/file_dialog.h"

class QWidget;

namespace strandlink::ui {

std::unique_ptr<settings::FileDialogs> makeQtFileDialogs(QWidget* parent);

}  // namespace strandlink::ui
