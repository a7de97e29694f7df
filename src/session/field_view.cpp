#include "session/field_view.h"

namespace strandlink {

FieldView::FieldView() {
  texts[TextControl::txtSend] = QStringLiteral("Type message here and hit Enter!");
  texts[TextControl::lblConnectStatus] = QStringLiteral("Not Connected");
}

void FieldView::enterIdle() {
  running = false;
  setText(TextControl::lblConnectStatus, QStringLiteral("Not Connected"));
}

}  // namespace strandlink
