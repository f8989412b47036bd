#include "OssClientImpl.h"

#include "Crypto.h"
#include "HttpDate.h"
#include "MimeType.h"
#include "XmlBodies.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <sstream>

namespace AlibabaCloud {
namespace OSS {

namespace {

const char* const kValidateError = "ValidateError";
const char* const kCrcCheckError = "CrcCheckError";
const char* const kParseXmlError = "ParseXMLError";
const char* const kResponseError = "ResponseError";

bool isValidBucketName(const std::string& bucket)
{
    if (bucket.size() < 3 || bucket.size() > 63)
        return false;
    for (unsigned char c : bucket) {
        if (!std::islower(c) && !std::isdigit(c) && c != '-')
            return false;
    }
    return bucket.front() != '-' && bucket.back() != '-';
}

bool isValidObjectKey(const std::string& key)
{
    return !key.empty() && key.size() <= 1023 && key[0] != '/' && key[0] != '\\';
}

// HTTP's field grammar: a name is a token; a value holds visible characters,
// bytes above 0x7F, blanks and tabs. Anything else, CR and LF above all,
// would end the header line early and let the rest pass as headers of its own.
bool isFieldName(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
               || (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
    });
}

bool isFieldValue(const std::string& value)
{
    return std::all_of(value.begin(), value.end(),
                       [](unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7F); });
}

OssError headerError(const HeaderCollection& headers)
{
    for (const auto& [name, value] : headers) {
        if (!isFieldName(name))
            return OssError(kValidateError, "A request header name holds a character that HTTP does not allow.");
        if (!isFieldValue(value))
            return OssError(kValidateError, "The value of the request header \"" + name
                                                + "\" holds a character that HTTP does not allow.");
    }
    return OssError();
}

OssError withRequestId(OssError error, const HttpResponse& response)
{
    error.setRequestId(response.header("x-oss-request-id"));
    return error;
}

OssError invalidKeyError(const std::string& key)
{
    return OssError(kValidateError, "The object key is invalid: \"" + key + "\".");
}

uint64_t crc64Header(const HttpResponse& response)
{
    return std::strtoull(response.header("x-oss-hash-crc64ecma").c_str(), nullptr, 10);
}

PutObjectResult putResultOf(const HttpResponse& response)
{
    return PutObjectResult(response.header("ETag"), crc64Header(response), response.header("x-oss-request-id"));
}

void setXmlBody(HttpRequest& http, const std::string& text)
{
    http.bodyText = text;
    http.bodyLength = static_cast<int64_t>(http.bodyText.size());
    http.hasBody = true;
    http.headers["Content-Type"] = "application/xml";
}

} // namespace

OssClientImpl::OssClientImpl(const std::string& endpoint,
                             const std::shared_ptr<CredentialsProvider>& credentialsProvider,
                             const ClientConfiguration& configuration)
    : endpoint_(Url::parseEndpoint(endpoint, configuration.scheme))
    , credentialsProvider_(credentialsProvider)
    , configuration_(configuration)
    , transport_(configuration)
{
}

std::string OssClientImpl::url(const std::string& bucket, const std::string& key,
                               const ParameterCollection& parameters) const
{
    std::string authority;
    std::string path;
    const std::string encodedKey = Url::encode(key, true);
    if (configuration_.isCname) {
        authority = endpoint_.authority("");
        path = "/" + encodedKey;
    } else if (endpoint_.isIp) {
        // bucket.<ip> is no host name: address the bucket in the path.
        authority = endpoint_.authority("");
        path = "/" + bucket + "/" + encodedKey;
    } else {
        authority = endpoint_.authority(bucket);
        path = "/" + encodedKey;
    }
    std::string query;
    for (const auto& [name, value] : parameters) {
        query += query.empty() ? "?" : "&";
        query += Url::encode(name, false);
        if (!value.empty())
            query += "=" + Url::encode(value, false);
    }
    return endpoint_.scheme + "://" + authority + path + query;
}

OssClientImpl::ResponseOutcome OssClientImpl::send(HttpRequest& request, const std::string& bucket,
                                                   const std::string& key, const ParameterCollection& parameters)
{
    if (!isValidBucketName(bucket))
        return ResponseOutcome(OssError(kValidateError, "The bucket name is invalid: \"" + bucket + "\"."));
    if (!key.empty() && !isValidObjectKey(key))
        return ResponseOutcome(invalidKeyError(key));
    if (disabled_)
        return ResponseOutcome(OssError("ClientError:" + std::to_string(200000 + CURLE_ABORTED_BY_CALLBACK),
                                        std::string(curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK))
                                            + ".The client's requests are disabled"));
    if (!credentialsProvider_)
        return ResponseOutcome(OssError(kValidateError, "No credentials provider was given."));

    const Credentials credentials = credentialsProvider_->getCredentials();
    request.url = url(bucket, key, parameters);
    if (!credentials.SessionToken().empty())
        request.headers["x-oss-security-token"] = credentials.SessionToken();
    request.headers["Date"] = HttpDate::format(std::time(nullptr) + static_cast<std::time_t>(clockOffsetSeconds_));
    const std::string toSign =
        Signer::stringToSign(request.method, request.headers, Signer::canonicalizedResource(bucket, key, parameters));
    request.headers["Authorization"] =
        "OSS " + credentials.AccessKeyId() + ":" + Signer::signature(credentials.AccessKeySecret(), toSign);
    const OssError invalidHeader = headerError(request.headers);
    if (!invalidHeader.Code().empty())
        return ResponseOutcome(invalidHeader);

    HttpResponse response = transport_.perform(request, disabled_);
    if (!response.localErrorCode.empty())
        return ResponseOutcome(OssError(response.localErrorCode, response.localErrorMessage));
    if (response.curlCode != CURLE_OK)
        return ResponseOutcome(
            OssError("ClientError:" + std::to_string(200000 + response.curlCode), response.curlMessage));
    if (response.status / 100 != 2)
        return ResponseOutcome(serviceError(response));
    return ResponseOutcome(std::move(response));
}

OssError OssClientImpl::serviceError(const HttpResponse& response)
{
    OssError error;
    if (!XmlBodies::parseError(response.body, error)) {
        const std::string status = std::to_string(response.status);
        error = OssError(
            "ServerError:" + status,
            "The service answered HTTP " + status
                + (response.body.empty() ? " without an error document." : " with a body that is no error document."));
    }
    if (error.RequestId().empty())
        error.setRequestId(response.header("x-oss-request-id"));
    if (error.Code() == "RequestTimeTooSkewed" && configuration_.enableDateSkewAdjustment) {
        const std::time_t serverTime = HttpDate::parseIso8601(XmlBodies::errorDetail(response.body, "ServerTime"));
        if (serverTime > 0)
            clockOffsetSeconds_ = static_cast<long long>(serverTime - std::time(nullptr));
    }
    return error;
}

OssError OssClientImpl::checkUploadCrc(const HttpResponse& response) const
{
    const std::string header = response.header("x-oss-hash-crc64ecma");
    if (!configuration_.enableCrc64 || header.empty())
        return OssError();
    const uint64_t expected = std::strtoull(header.c_str(), nullptr, 10);
    if (expected == response.sentCrc64)
        return OssError();
    return withRequestId(OssError(kCrcCheckError, "Crc64 validation failed. Expected hash:" + header
                                                      + " calculated hash:" + std::to_string(response.sentCrc64)),
                         response);
}

bool OssClientImpl::setStreamBody(HttpRequest& request, const std::shared_ptr<std::iostream>& content, bool hasLength,
                                  int64_t length, OssError& error)
{
    if (!content || !*content) {
        error = OssError(kValidateError, "The request body stream is missing or not readable.");
        return false;
    }
    const std::streampos start = content->tellg();
    content->seekg(0, std::ios::end);
    const std::streampos end = content->tellg();
    content->seekg(start);
    const bool measured = start >= 0 && end >= 0 && *content;
    content->clear();
    if (!hasLength) {
        if (!measured) {
            error = OssError(kValidateError, "The length of the request body stream cannot be determined.");
            return false;
        }
        length = static_cast<int64_t>(end - start);
    } else if (measured && static_cast<int64_t>(end - start) < length) {
        // Refuse before sending rather than abort a request halfway.
        error = OssError(kValidateError, "The request body stream holds " + std::to_string(end - start)
                                             + " bytes, fewer than the " + std::to_string(length) + " to send.");
        return false;
    }
    if (length < 0) {
        error = OssError(kValidateError, "The request body length is negative.");
        return false;
    }
    request.bodyStream = content;
    request.bodyLength = length;
    request.hasBody = true;
    return true;
}

void OssClientImpl::addMetaData(HttpRequest& request, const ObjectMetaData& metaData, const std::string& key)
{
    for (const auto& [name, value] : metaData.HttpMetaData()) {
        if (strcasecmp(name.c_str(), "Content-Length") != 0)
            request.headers[name] = value;
    }
    for (const auto& [name, value] : metaData.UserMetaData())
        request.headers["x-oss-meta-" + name] = value;
    if (request.headers.find("Content-Type") == request.headers.end())
        request.headers["Content-Type"] = mimeTypeForKey(key);
}

ListObjectOutcome OssClientImpl::listObjects(const ListObjectsRequest& request)
{
    ParameterCollection parameters;
    if (!request.Prefix().empty())
        parameters["prefix"] = request.Prefix();
    if (!request.Marker().empty())
        parameters["marker"] = request.Marker();
    if (!request.Delimiter().empty())
        parameters["delimiter"] = request.Delimiter();
    if (request.MaxKeys() > 0)
        parameters["max-keys"] = std::to_string(request.MaxKeys());
    if (!request.EncodingType().empty())
        parameters["encoding-type"] = request.EncodingType();

    HttpRequest http;
    http.method = "GET";
    http.progress = request.transferProgress();
    ResponseOutcome outcome = send(http, request.Bucket(), "", parameters);
    if (!outcome.isSuccess())
        return ListObjectOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    ListObjectsResult result;
    if (!XmlBodies::parseListObjects(response.body, result))
        return ListObjectOutcome(
            withRequestId(OssError(kParseXmlError, "The listing response is no valid ListBucketResult."), response));
    result.setRequestId(response.header("x-oss-request-id"));
    return ListObjectOutcome(result);
}

GetObjectOutcome OssClientImpl::getObject(const GetObjectRequest& request)
{
    if (!isValidObjectKey(request.Key()))
        return GetObjectOutcome(invalidKeyError(request.Key()));
    HttpRequest http;
    http.method = "GET";
    http.progress = request.transferProgress();
    if (request.hasRange()) {
        http.headers["Range"] = "bytes=" + std::to_string(request.RangeStart()) + "-"
                                + (request.RangeEnd() >= 0 ? std::to_string(request.RangeEnd()) : std::string());
    }
    http.responseStreamFactory = request.ResponseStreamFactory();
    if (!http.responseStreamFactory) {
        http.responseStreamFactory = [] {
            return std::make_shared<std::stringstream>(std::ios::in | std::ios::out | std::ios::binary);
        };
    }
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), {});
    if (!outcome.isSuccess())
        return GetObjectOutcome(outcome.error());
    HttpResponse& response = outcome.result();
    if (!response.stream)
        return GetObjectOutcome(
            withRequestId(OssError(kResponseError, "The service sent no response body."), response));
    ObjectMetaData metaData(response.headers);
    if (metaData.ContentLength() >= 0 && metaData.ContentLength() != response.bytesReceived) {
        return GetObjectOutcome(
            withRequestId(OssError(kResponseError, "Received " + std::to_string(response.bytesReceived)
                                                       + " bytes of a body whose Content-Length is "
                                                       + std::to_string(metaData.ContentLength()) + "."),
                          response));
    }
    // A chunked body declares no length: it is as long as what came.
    if (metaData.ContentLength() < 0)
        metaData.setContentLength(response.bytesReceived);
    const std::string crcHeader = response.header("x-oss-hash-crc64ecma");
    // The service's CRC is that of the whole object; a 206 carries only a range.
    if (configuration_.enableCrc64 && response.status == 200 && !crcHeader.empty()
        && metaData.CRC64() != response.receivedCrc64) {
        return GetObjectOutcome(
            withRequestId(OssError(kCrcCheckError, "Crc64 validation failed. Expected hash:" + crcHeader
                                                       + " calculated hash:" + std::to_string(response.receivedCrc64)),
                          response));
    }
    if (!CurlTransport::releaseHeldBack(response))
        return GetObjectOutcome(withRequestId(OssError(response.localErrorCode, response.localErrorMessage), response));
    return GetObjectOutcome(GetObjectResult(request.Bucket(), request.Key(), response.stream, metaData,
                                            response.header("x-oss-request-id")));
}

PutObjectOutcome OssClientImpl::putObject(const PutObjectRequest& request)
{
    HttpRequest http;
    http.method = "PUT";
    http.progress = request.transferProgress();
    const int64_t declared = request.MetaData().ContentLength();
    OssError error;
    if (!setStreamBody(http, request.Body(), declared >= 0, declared, error))
        return PutObjectOutcome(error);
    addMetaData(http, request.MetaData(), request.Key());
    if (!isValidObjectKey(request.Key()))
        return PutObjectOutcome(invalidKeyError(request.Key()));
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), {});
    if (!outcome.isSuccess())
        return PutObjectOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    const OssError crcError = checkUploadCrc(response);
    if (!crcError.Code().empty())
        return PutObjectOutcome(crcError);
    return PutObjectOutcome(putResultOf(response));
}

InitiateMultipartUploadOutcome OssClientImpl::initiateMultipartUpload(const InitiateMultipartUploadRequest& request)
{
    if (!isValidObjectKey(request.Key()))
        return InitiateMultipartUploadOutcome(invalidKeyError(request.Key()));
    HttpRequest http;
    http.method = "POST";
    http.hasBody = true;
    http.progress = request.transferProgress();
    addMetaData(http, request.MetaData(), request.Key());
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), {{"uploads", ""}});
    if (!outcome.isSuccess())
        return InitiateMultipartUploadOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    InitiateMultipartUploadResult result("", "", "", response.header("x-oss-request-id"));
    if (!XmlBodies::parseInitiateMultipartUpload(response.body, result))
        return InitiateMultipartUploadOutcome(withRequestId(
            OssError(kParseXmlError, "The response is no valid InitiateMultipartUploadResult."), response));
    return InitiateMultipartUploadOutcome(result);
}

PutObjectOutcome OssClientImpl::uploadPart(const UploadPartRequest& request)
{
    if (!isValidObjectKey(request.Key()))
        return PutObjectOutcome(invalidKeyError(request.Key()));
    HttpRequest http;
    http.method = "PUT";
    http.progress = request.transferProgress();
    OssError error;
    if (!setStreamBody(http, request.Body(), request.hasContentLength(), request.ContentLength(), error))
        return PutObjectOutcome(error);
    http.headers["Content-Type"] = "application/octet-stream";
    const ParameterCollection parameters = {{"partNumber", std::to_string(request.PartNumber())},
                                            {"uploadId", request.UploadId()}};
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), parameters);
    if (!outcome.isSuccess())
        return PutObjectOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    const OssError crcError = checkUploadCrc(response);
    if (!crcError.Code().empty())
        return PutObjectOutcome(crcError);
    // Without its ETag the part cannot be listed in the completion.
    if (response.header("ETag").empty())
        return PutObjectOutcome(
            withRequestId(OssError(kResponseError, "The service sent no ETag for the part."), response));
    return PutObjectOutcome(putResultOf(response));
}

CompleteMultipartUploadOutcome OssClientImpl::completeMultipartUpload(const CompleteMultipartUploadRequest& request)
{
    if (!isValidObjectKey(request.Key()))
        return CompleteMultipartUploadOutcome(invalidKeyError(request.Key()));
    HttpRequest http;
    http.method = "POST";
    http.progress = request.transferProgress();
    setXmlBody(http, XmlBodies::completeMultipartUpload(request.PartLists()));
    ParameterCollection parameters = {{"uploadId", request.UploadId()}};
    if (!request.EncodingType().empty())
        parameters["encoding-type"] = request.EncodingType();
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), parameters);
    if (!outcome.isSuccess())
        return CompleteMultipartUploadOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    CompleteMultipartUploadResult result;
    if (!XmlBodies::parseCompleteMultipartUpload(response.body, result))
        return CompleteMultipartUploadOutcome(withRequestId(
            OssError(kParseXmlError, "The response is no valid CompleteMultipartUploadResult."), response));
    result.setCRC64(crc64Header(response));
    result.setRequestId(response.header("x-oss-request-id"));
    return CompleteMultipartUploadOutcome(result);
}

VoidOutcome OssClientImpl::abortMultipartUpload(const AbortMultipartUploadRequest& request)
{
    if (!isValidObjectKey(request.Key()))
        return VoidOutcome(invalidKeyError(request.Key()));
    HttpRequest http;
    http.method = "DELETE";
    http.progress = request.transferProgress();
    ResponseOutcome outcome = send(http, request.Bucket(), request.Key(), {{"uploadId", request.UploadId()}});
    if (!outcome.isSuccess())
        return VoidOutcome(outcome.error());
    return VoidOutcome(VoidResult(outcome.result().header("x-oss-request-id")));
}

DeleteObjectsOutcome OssClientImpl::deleteObjects(const DeleteObjectsRequest& request)
{
    HttpRequest http;
    http.method = "POST";
    http.progress = request.transferProgress();
    setXmlBody(http, XmlBodies::deleteObjects(request.KeyList(), request.Quiet()));
    http.headers["Content-MD5"] = Crypto::base64(Crypto::md5(http.bodyText));
    ParameterCollection parameters = {{"delete", ""}};
    if (!request.EncodingType().empty())
        parameters["encoding-type"] = request.EncodingType();
    ResponseOutcome outcome = send(http, request.Bucket(), "", parameters);
    if (!outcome.isSuccess())
        return DeleteObjectsOutcome(outcome.error());
    const HttpResponse& response = outcome.result();
    DeletedKeyList keys;
    if (!XmlBodies::parseDeleteObjects(response.body, keys))
        return DeleteObjectsOutcome(
            withRequestId(OssError(kParseXmlError, "The response is no valid DeleteResult."), response));
    return DeleteObjectsOutcome(DeleteObjectsResult(request.Quiet(), keys, response.header("x-oss-request-id")));
}

} // namespace OSS
} // namespace AlibabaCloud
