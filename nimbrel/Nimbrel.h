#pragma once

// What a host includes to use libNimbrel.
#include "ConfigFileParser.h"
#include "Encryption/Aes.h"
#include "NimbrelExport.h"
#include "OssFileDecryption.h"
#include "OssFileEncryption.h"
