#pragma once

#include "NimbrelExport.h"

// Set-up and tear-down of the library, called by the host once each.
extern "C" {
NIMBREL_EXPORT bool OssInitialize(bool enableFileLog);
NIMBREL_EXPORT bool OssUninitialize();
}
