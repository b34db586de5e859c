#include "main/InterfaceMark.h"

std::string trafficLine(const std::string& connectionName, const LinkCounters& bytes) {
  return "traffic connection @" + connectionName + ": " + std::to_string(bytes.rxBytes) + " bytes received, " +
         std::to_string(bytes.txBytes) + " bytes sent";
}

std::vector<std::string> InterfaceMark::closingLines(const std::string& connectionName) {
  return {trafficLine(connectionName, watch_.traffic())};
}
