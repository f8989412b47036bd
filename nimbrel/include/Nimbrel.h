#pragma once

// What a host includes to use libNimbrel.
#include "ConfigFileParser.h"
#include "Encryption/Aes.h"
#include "NimbrelExport.h"
#include "OssEntryPoints.h"
#include "OssFielConfig.h"
#include "OssFileDecryption.h"
#include "OssFileDownloader.h"
#include "OssFileEncryption.h"
#include "OssFileUploader.h"
#include "OssFileWork.h"
#include "OssServerStatus.h"
