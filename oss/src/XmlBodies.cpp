#include "XmlBodies.h"

#include "Url.h"

#include <tinyxml2.h>

#include <algorithm>
#include <cstdlib>

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLPrinter;

namespace AlibabaCloud {
namespace OSS {
namespace XmlBodies {

namespace {

std::string text(const XMLElement* parent, const char* name)
{
    const XMLElement* child = parent ? parent->FirstChildElement(name) : nullptr;
    const char* value = child ? child->GetText() : nullptr;
    return value ? value : "";
}

const XMLElement* root(XMLDocument& document, const std::string& xml, const char* name)
{
    if (document.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS)
        return nullptr;
    const XMLElement* element = document.RootElement();
    return element && std::string(element->Name()) == name ? element : nullptr;
}

void writeElement(XMLPrinter& printer, const char* name, const std::string& value)
{
    printer.OpenElement(name, true);
    printer.PushText(value.c_str());
    printer.CloseElement(true);
}

} // namespace

bool parseError(const std::string& xml, OssError& error)
{
    XMLDocument document;
    const XMLElement* e = root(document, xml, "Error");
    if (!e)
        return false;
    error.setCode(text(e, "Code"));
    error.setMessage(text(e, "Message"));
    error.setRequestId(text(e, "RequestId"));
    error.setHost(text(e, "HostId"));
    return !error.Code().empty();
}

std::string errorDetail(const std::string& xml, const char* name)
{
    XMLDocument document;
    return text(root(document, xml, "Error"), name);
}

bool parseListObjects(const std::string& xml, ListObjectsResult& result)
{
    XMLDocument document;
    const XMLElement* e = root(document, xml, "ListBucketResult");
    if (!e)
        return false;
    const bool encoded = text(e, "EncodingType") == "url";
    auto field = [encoded](const XMLElement* parent, const char* name) {
        const std::string value = text(parent, name);
        return encoded ? Url::decode(value) : value;
    };
    result.setName(text(e, "Name"));
    result.setPrefix(field(e, "Prefix"));
    result.setMarker(field(e, "Marker"));
    result.setDelimiter(field(e, "Delimiter"));
    result.setEncodingType(text(e, "EncodingType"));
    result.setMaxKeys(std::atoi(text(e, "MaxKeys").c_str()));
    const std::string truncated = text(e, "IsTruncated");
    if (truncated != "true" && truncated != "false")
        return false;
    result.setIsTruncated(truncated == "true");
    result.setNextMarker(field(e, "NextMarker"));
    for (const XMLElement* c = e->FirstChildElement("Contents"); c; c = c->NextSiblingElement("Contents")) {
        if (!c->FirstChildElement("Key"))
            return false;
        ObjectSummary summary;
        summary.setKey(field(c, "Key"));
        summary.setETag(text(c, "ETag"));
        summary.setSize(std::strtoll(text(c, "Size").c_str(), nullptr, 10));
        summary.setLastModified(text(c, "LastModified"));
        summary.setStorageClass(text(c, "StorageClass"));
        summary.setType(text(c, "Type"));
        const XMLElement* owner = c->FirstChildElement("Owner");
        summary.setOwner(Owner(text(owner, "ID"), text(owner, "DisplayName")));
        result.objectSummarys().push_back(summary);
    }
    for (const XMLElement* p = e->FirstChildElement("CommonPrefixes"); p; p = p->NextSiblingElement("CommonPrefixes"))
        result.commonPrefixes().push_back(field(p, "Prefix"));
    return true;
}

bool parseInitiateMultipartUpload(const std::string& xml, InitiateMultipartUploadResult& result)
{
    XMLDocument document;
    const XMLElement* e = root(document, xml, "InitiateMultipartUploadResult");
    if (!e || text(e, "UploadId").empty())
        return false;
    const bool encoded = text(e, "EncodingType") == "url";
    const std::string key = text(e, "Key");
    result = InitiateMultipartUploadResult(text(e, "Bucket"), encoded ? Url::decode(key) : key, text(e, "UploadId"),
                                           result.RequestId());
    return true;
}

bool parseCompleteMultipartUpload(const std::string& xml, CompleteMultipartUploadResult& result)
{
    XMLDocument document;
    const XMLElement* e = root(document, xml, "CompleteMultipartUploadResult");
    if (!e)
        return false;
    const bool encoded = text(e, "EncodingType") == "url";
    result.setLocation(text(e, "Location"));
    result.setBucket(text(e, "Bucket"));
    result.setKey(encoded ? Url::decode(text(e, "Key")) : text(e, "Key"));
    result.setETag(text(e, "ETag"));
    return true;
}

bool parseDeleteObjects(const std::string& xml, DeletedKeyList& keys)
{
    if (xml.find_first_not_of(" \t\r\n") == std::string::npos)
        return true;
    XMLDocument document;
    const XMLElement* e = root(document, xml, "DeleteResult");
    if (!e)
        return false;
    const bool encoded = text(e, "EncodingType") == "url";
    for (const XMLElement* d = e->FirstChildElement("Deleted"); d; d = d->NextSiblingElement("Deleted"))
        keys.push_back(encoded ? Url::decode(text(d, "Key")) : text(d, "Key"));
    return true;
}

std::string completeMultipartUpload(const PartList& parts)
{
    PartList sorted = parts;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Part& a, const Part& b) { return a.PartNumber() < b.PartNumber(); });
    XMLPrinter printer(nullptr, true);
    printer.PushDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
    printer.OpenElement("CompleteMultipartUpload", true);
    for (const Part& part : sorted) {
        printer.OpenElement("Part", true);
        writeElement(printer, "PartNumber", std::to_string(part.PartNumber()));
        writeElement(printer, "ETag", part.ETag());
        printer.CloseElement(true);
    }
    printer.CloseElement(true);
    return printer.CStr();
}

std::string deleteObjects(const DeletedKeyList& keys, bool quiet)
{
    XMLPrinter printer(nullptr, true);
    printer.PushDeclaration("xml version=\"1.0\" encoding=\"UTF-8\"");
    printer.OpenElement("Delete", true);
    writeElement(printer, "Quiet", quiet ? "true" : "false");
    for (const std::string& key : keys) {
        printer.OpenElement("Object", true);
        writeElement(printer, "Key", key);
        printer.CloseElement(true);
    }
    printer.CloseElement(true);
    return printer.CStr();
}

} // namespace XmlBodies
} // namespace OSS
} // namespace AlibabaCloud
