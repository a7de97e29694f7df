#include "link/device_lists.h"

#include "link/reporter.h"
#include "midi/midi_service.h"

namespace strandlink::link {

namespace {

QString listed(const std::vector<std::string>& list, int position) {
  if (position < 0 || position >= static_cast<int>(list.size())) return QString();
  return QString::fromStdString(midi::listedPortName(list[static_cast<std::size_t>(position)]));
}

}  // namespace

QString DeviceLists::inputName(int position) const { return listed(inputs, position); }

QString DeviceLists::outputName(int position) const { return listed(outputs, position); }

bool thruWouldLoop(const DeviceLists& lists, int inputPosition, int outputPosition) {
  // With nothing selected on either side there is no pair of devices to join.
  if (inputPosition < 0 || outputPosition < 0) return false;
  return lists.inputName(inputPosition) == lists.outputName(outputPosition);
}

void reportInputError(Reporter& reporter, const DeviceLists& lists, int position, const QString& text) {
  reporter.report(BoxIcon::Exclamation, QStringLiteral("Device Error"),
                  QStringLiteral("Midi Input: ") + lists.inputName(position) + QStringLiteral(" :  ") + text);
}

void reportOutputError(Reporter& reporter, const DeviceLists& lists, int position, const QString& text) {
  reporter.report(BoxIcon::Exclamation, QStringLiteral("Device Error"),
                  QStringLiteral("Midi Output: ") + lists.outputName(position) + text);
}

}  // namespace strandlink::link
