#include "main/InterfaceMark.h"

#include "basis/ConnectionLogLine.h"

std::string trafficLine(const std::string& connectionName, const LinkCounters& bytes) {
  return trafficConnectionLine(connectionName, bytes.rxBytes, bytes.txBytes);
}

std::vector<std::string> InterfaceMark::closingLines(const std::string& connectionName) {
  return {trafficLine(connectionName, watch_.traffic())};
}
