#pragma once

#include "alibabacloud/oss/OssError.h"
#include "alibabacloud/oss/model/CompleteMultipartUploadResult.h"
#include "alibabacloud/oss/model/DeleteObjectsResult.h"
#include "alibabacloud/oss/model/InitiateMultipartUploadResult.h"
#include "alibabacloud/oss/model/ListObjectsResult.h"
#include "alibabacloud/oss/model/Part.h"

#include <string>

namespace AlibabaCloud {
namespace OSS {

// The XML the service sends and receives. Parsers return false when the body
// is not the expected document; unknown elements are ignored.
namespace XmlBodies {

bool parseError(const std::string& xml, OssError& error);
// A further element of an error document (e.g. ServerTime); empty when absent.
std::string errorDetail(const std::string& xml, const char* name);
bool parseListObjects(const std::string& xml, ListObjectsResult& result);
bool parseInitiateMultipartUpload(const std::string& xml, InitiateMultipartUploadResult& result);
bool parseCompleteMultipartUpload(const std::string& xml, CompleteMultipartUploadResult& result);
// An empty body (quiet mode, all deleted) is a valid, empty result.
bool parseDeleteObjects(const std::string& xml, DeletedKeyList& keys);

std::string completeMultipartUpload(const PartList& parts);
std::string deleteObjects(const DeletedKeyList& keys, bool quiet);

} // namespace XmlBodies
} // namespace OSS
} // namespace AlibabaCloud
