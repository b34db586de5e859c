#include "main/InterfaceMark.h"

std::vector<std::string> InterfaceMark::closingLines(const std::string& connectionName) {
  const LinkCounters bytes = watch_.traffic();
  return {"traffic connection @" + connectionName + ": " + std::to_string(bytes.rxBytes) + " bytes received, " +
          std::to_string(bytes.txBytes) + " bytes sent"};
}
