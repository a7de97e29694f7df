// A link without a window: the start-up of the window-less run, the view that
// prints what a window would show, and the loop until SIGINT or SIGTERM.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <optional>

#include "session/field_view.h"
#include "session/message_boxes.h"

namespace strandlink {

namespace midi {
class MidiService;
}

// Changes of the connection status and received chat lines, one line each, on out.
class HeadlessView : public FieldView {
 public:
  explicit HeadlessView(std::FILE* out) : out_(out) {}
  void setText(TextControl c, const QString& text) override;
  void appendText(TextControl c, const QString& text) override;
  // Printed only when it changed, and at most once in kLinkLineMs.
  void setLinkQuality(const QString& text) override;

  static constexpr qint64 kLinkLineMs = 10000;

 private:
  std::FILE* out_;
  QString printedLink_;
  QElapsedTimer sinceLinkLine_;
};

// Every box as one line, "title: text", on err.
class StreamBoxes : public MessageBoxes {
 public:
  explicit StreamBoxes(std::FILE* err) : err_(err) {}
  int show(BoxIcon icon, const QString& title, const QString& text) override;

 private:
  std::FILE* err_;
};

// Runs the link until SIGINT or SIGTERM; SIGUSR1 releases held notes (panic). 0 after a clean stop, 1 when Start failed.
// An empty settingsFile means the default file (which is then written at exit).
// peerFilter, when given, is this run's choice and is remembered; otherwise the
// remembered one holds.
int runHeadless(midi::MidiService& midi, const QString& settingsFile,
                std::optional<bool> peerFilter = std::nullopt);

// The numbered input and output lists as the window fills them.
void printDeviceLists(midi::MidiService& midi, std::FILE* out);

}  // namespace strandlink
