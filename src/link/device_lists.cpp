#include "link/device_lists.h"

#include "midi/midi_service.h"
#include "report/reporter.h"

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

int followRememberedName(const std::vector<std::string>& names, int position,
                         const settings::RememberedPort& remembered) {
  if (position <= 0 || position != remembered.position || position >= int(names.size())) return position;
  const std::string wanted = remembered.name.toStdString();
  if (names[std::size_t(position)] == wanted) return position;
  for (std::size_t k = 1; k < names.size(); ++k)
    if (names[k] == wanted) return int(k);
  return position;
}

QString deviceMoveText(const DeviceLists& lists, const DeviceMove& move) {
  const QString from = move.input ? lists.inputName(move.from) : lists.outputName(move.from);
  const QString to = move.input ? lists.inputName(move.to) : lists.outputName(move.to);
  return QStringLiteral(
             "%1%2, chosen at the last Start, is at position %3 of the list now; opened it there "
             "instead of position %4 (%5).")
      .arg(move.input ? QStringLiteral("Midi Input: ") : QStringLiteral("Midi Output: "), to)
      .arg(move.to)
      .arg(move.from)
      .arg(from);
}

void reportInputError(report::Reporter& reporter, const DeviceLists& lists, int position, const QString& text) {
  reporter.report(report::BoxIcon::Exclamation, QStringLiteral("Device Error"),
                  QStringLiteral("Midi Input: ") + lists.inputName(position) + QStringLiteral(" :  ") + text);
}

void reportOutputError(report::Reporter& reporter, const DeviceLists& lists, int position, const QString& text) {
  reporter.report(report::BoxIcon::Exclamation, QStringLiteral("Device Error"),
                  QStringLiteral("Midi Output: ") + lists.outputName(position) + text);
}

void reportMissingService(report::Reporter& reporter, const QString& text) {
  reporter.report(report::BoxIcon::Exclamation, QStringLiteral("Device Error"), text);
}

}  // namespace strandlink::link
