// Strandlink: the window, its MIDI service and the event loop.
#include <QApplication>

#include "midi/midi_service.h"
#include "ui/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Strandlink"));
  QApplication::setApplicationVersion(QStringLiteral(STRANDLINK_VERSION));

  const std::unique_ptr<strandlink::midi::MidiService> midi = strandlink::midi::makeMidiService();
  strandlink::ui::Form1 form(*midi);
  form.Form_Load();
  return QApplication::exec();
}
