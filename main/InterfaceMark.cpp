#include "main/InterfaceMark.h"

#include "basis/ConnectionLogLine.h"

std::vector<std::string> InterfaceMark::closingLines(const std::string& connectionName) {
  const LinkCounters bytes = watch_.traffic();
  return {trafficConnectionLine(connectionName, bytes.rxBytes, bytes.txBytes)};
}
