// Each protocol's row is whole, so that every list built from the rows offers it.
#include <gtest/gtest.h>

#include "protocol/admission.h"
#include "protocol/protocol_registry.h"
#include "support/rtp_end.h"

using namespace strandlink;

// Found again by its name (so no two share one), and chatting as the protocol it makes does.
TEST(ProtocolRegistry, EveryRowIsNamedTitledAndMakesItsProtocol) {
  test::RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  test::RecordingPeerSink sink{reporter};
  protocol::PeerFilter filter;
  protocol::Admission admission;
  for (const protocol::ProtocolRow& row : protocol::protocols()) {
    SCOPED_TRACE(row.name.data());
    EXPECT_TRUE(!row.name.isEmpty() && !row.title.isEmpty() && !row.label.isEmpty());
    EXPECT_EQ(protocol::protocolFromName(row.name), row.value);
    const auto made = row.make({sink, filter, admission});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->chat() != nullptr, row.chat);
  }
}
