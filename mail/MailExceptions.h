#pragma once
// The exceptions of the mail layer.

#include "basis/Exceptions.h"

MORVANE_EXCEPTION(IllegalMailAddressException, IllegalArgumentException);
MORVANE_EXCEPTION(MailTransportException, IOException);
