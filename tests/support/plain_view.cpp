#include "support/plain_view.h"

namespace strandlink::test {

PlainView::PlainView() {
  texts[TextControl::txtSend] = QStringLiteral("Type message here and hit Enter!");
  texts[TextControl::lblConnectStatus] = QStringLiteral("Not Connected");
}

}  // namespace strandlink::test
