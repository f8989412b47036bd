#pragma once

#include "alibabacloud/oss/OssError.h"
#include "alibabacloud/oss/Outcome.h"
#include "alibabacloud/oss/model/CompleteMultipartUploadResult.h"
#include "alibabacloud/oss/model/DeleteObjectsResult.h"
#include "alibabacloud/oss/model/GetObjectResult.h"
#include "alibabacloud/oss/model/InitiateMultipartUploadResult.h"
#include "alibabacloud/oss/model/ListObjectsResult.h"
#include "alibabacloud/oss/model/PutObjectResult.h"
#include "alibabacloud/oss/model/VoidResult.h"

namespace AlibabaCloud {
namespace OSS {

using ListObjectOutcome = Outcome<OssError, ListObjectsResult>;
using GetObjectOutcome = Outcome<OssError, GetObjectResult>;
using PutObjectOutcome = Outcome<OssError, PutObjectResult>;
using InitiateMultipartUploadOutcome = Outcome<OssError, InitiateMultipartUploadResult>;
using CompleteMultipartUploadOutcome = Outcome<OssError, CompleteMultipartUploadResult>;
using DeleteObjectsOutcome = Outcome<OssError, DeleteObjectsResult>;
using VoidOutcome = Outcome<OssError, VoidResult>;

} // namespace OSS
} // namespace AlibabaCloud
